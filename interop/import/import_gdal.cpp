// Raster input through GDAL (GeoTIFF and the other formats it reads): a north-up
// longitude/latitude raster, one band per step. A file made from NetCDF by GDAL keeps the time
// axis in its metadata (NETCDF_DIM_EXTRA, <dim>#units, <dim>#calendar, NETCDF_DIM_<dim> per
// band); it is used when present.
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <cstdlib>

#include "import_source.h"
#include "tool.h"

namespace interop::importer {

namespace {

// An open GDAL dataset, closed when it goes.
class GdalDataset {
 public:
  explicit GdalDataset(GDALDatasetH h) : h_(h) {}
  ~GdalDataset() {
    if (h_) GDALClose(h_);
  }
  GdalDataset(const GdalDataset&) = delete;
  GdalDataset& operator=(const GdalDataset&) = delete;
  GDALDatasetH get() const { return h_; }

 private:
  GDALDatasetH h_;
};

std::string meta(GDALMajorObjectH obj, const std::string& key) {
  const char* v = GDALGetMetadataItem(obj, key.c_str(), nullptr);
  return v ? v : "";
}

// The one extra dimension a NetCDF-born raster names in "{time}", or "".
std::string extra_dim(GDALDatasetH ds) {
  std::string s = meta(ds, "NETCDF_DIM_EXTRA");
  if (s.size() < 3 || s.front() != '{' || s.back() != '}') return "";
  s = s.substr(1, s.size() - 2);
  return s.find(',') == std::string::npos ? s : "";
}

class GdalSource : public Source {
 public:
  GdalSource(GDALDatasetH h, const std::string& path, const std::string& var) : ds_(h) {
    info_.path = path;
    info_.format = GDALGetDriverShortName(GDALGetDatasetDriver(h));
    info_.nsteps = GDALGetRasterCount(h);
    if (info_.nsteps < 1) throw ToolError("'" + path + "' holds no raster band");
    describe_grid();
    describe_variable();
    if (!var.empty() && var != info_.variable)
      throw ToolError(
          "'" + path + "' holds " +
          (info_.variable.empty() ? "an unnamed variable" : "variable '" + info_.variable + "'") +
          ", not '" + var + "' (a " + info_.format + " file holds one variable)");
    describe_time();
  }

  void read_step(int64_t t, std::vector<float>& out) override {
    const int nx = static_cast<int>(info_.lon.size()), ny = static_cast<int>(info_.lat.size());
    const std::string step = "a band of '" + info_.path + "'";
    const uint64_t n = cells_of(info_.lat.size(), info_.lon.size(), step);
    size_for(out, n, step);
    GDALRasterBandH band = GDALGetRasterBand(ds_.get(), static_cast<int>(t + 1));
    const Unpacking u = unpacking_of(band);
    const std::string what = "band " + std::to_string(t + 1) + " of '" + info_.path + "'";
    const bool direct = GDALGetRasterDataType(band) == GDT_Float32 && !u.packed;
    // GDAL's own report of a failed read goes into the error message, not to stderr as well.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    const struct Pop {
      ~Pop() { CPLPopErrorHandler(); }
    } pop;
    if (direct) {
      check(GDALRasterIO(band, GF_Read, 0, 0, nx, ny, out.data(), nx, ny, GDT_Float32, 0, 0), what);
      u.apply(out.data(), n);
      return;
    }
    size_for(stored_, n, step);
    check(GDALRasterIO(band, GF_Read, 0, 0, nx, ny, stored_.data(), nx, ny, GDT_Float64, 0, 0),
          what);
    u.apply(stored_.data(), out.data(), n);
  }

 private:
  static void check(CPLErr e, const std::string& what) {
    if (e != CE_None) throw ToolError("cannot read " + what + ": " + CPLGetLastErrorMsg());
  }

  static Unpacking unpacking_of(GDALRasterBandH band) {
    Unpacking u;
    int has = 0;
    const double nodata = GDALGetRasterNoDataValue(band, &has);
    if (has) u.missing.push_back(nodata);
    int has_scale = 0, has_offset = 0;
    const double scale = GDALGetRasterScale(band, &has_scale);
    const double offset = GDALGetRasterOffset(band, &has_offset);
    u.packed = (has_scale && scale != 1.0) || (has_offset && offset != 0.0);
    if (u.packed) u.scale = scale, u.offset = offset;
    return u;
  }

  // Cell centres of the columns and rows from the geotransform of a north-up raster.
  void describe_grid() {
    double gt[6] = {};
    if (GDALGetGeoTransform(ds_.get(), gt) != CE_None)
      throw ToolError("'" + info_.path + "' has no georeferencing (geotransform)");
    if (gt[2] != 0.0 || gt[4] != 0.0)
      throw ToolError("'" + info_.path + "' is a rotated raster; import reads north-up ones");
    OGRSpatialReferenceH srs = GDALGetSpatialRef(ds_.get());
    if (srs && !OSRIsGeographic(srs))
      throw ToolError("'" + info_.path +
                      "' is not on a longitude/latitude grid (its coordinate system is "
                      "projected); reproject it first, e.g. gdalwarp -t_srs EPSG:4326");
    const int nx = GDALGetRasterXSize(ds_.get()), ny = GDALGetRasterYSize(ds_.get());
    for (int j = 0; j < nx; ++j) info_.lon.push_back(gt[0] + (j + 0.5) * gt[1]);
    for (int i = 0; i < ny; ++i) info_.lat.push_back(gt[3] + (i + 0.5) * gt[5]);
  }

  void describe_variable() {
    GDALRasterBandH b1 = GDALGetRasterBand(ds_.get(), 1);
    info_.variable = meta(b1, "NETCDF_VARNAME");
    info_.units = GDALGetRasterUnitType(b1);
    info_.long_name = meta(b1, "long_name");
  }

  void describe_time() {
    const std::string dim = extra_dim(ds_.get());
    if (dim.empty()) {
      if (info_.nsteps > 1) info_.time_problem = "its bands carry no time coordinate";
      return;
    }
    info_.time_units = meta(ds_.get(), dim + "#units");
    info_.calendar = meta(ds_.get(), dim + "#calendar");
    if (info_.calendar.empty()) info_.calendar = "standard";
    for (int64_t b = 1; b <= info_.nsteps; ++b) {
      const std::string v =
          meta(GDALGetRasterBand(ds_.get(), static_cast<int>(b)), "NETCDF_DIM_" + dim);
      char* end = nullptr;
      const double t = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0') {
        info_.time.clear();
        info_.time_problem = "band " + std::to_string(b) + " has no time value";
        return;
      }
      info_.time.push_back(t);
    }
  }

  GdalDataset ds_;
  std::vector<double> stored_;
};

}  // namespace

std::unique_ptr<Source> open_gdal(const std::string& path, const std::string& var,
                                  const std::optional<LevelChoice>& level) {
  GDALAllRegister();
  CPLPushErrorHandler(CPLQuietErrorHandler);
  GDALDatasetH h =
      GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  CPLPopErrorHandler();
  if (!h) throw ToolError("'" + path + "' is neither a NetCDF file nor a raster file GDAL reads");
  auto src = std::make_unique<GdalSource>(h, path, var);
  if (level)
    throw ToolError("--level " + level->text + ": '" + path + "' is a " + src->info().format +
                    " file, whose bands have no level axis (--level chooses a level of a NetCDF "
                    "variable)");
  return src;
}

}  // namespace interop::importer
