// GeoTIFF and Cloud-Optimised GeoTIFF output through GDAL's C API.
#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <cstdio>
#include <string>
#include <vector>

#include "export_job.h"

namespace interop {

namespace {

// GDAL's own messages are collected, not printed; a failure quotes the last one.
class QuietGdal {
 public:
  QuietGdal() {
    GDALAllRegister();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
  }
  ~QuietGdal() { CPLPopErrorHandler(); }
  QuietGdal(const QuietGdal&) = delete;
  QuietGdal& operator=(const QuietGdal&) = delete;
};

[[noreturn]] void fail(const std::string& path, const char* what) {
  const std::string msg = CPLGetLastErrorMsg();
  throw ToolError("cannot write " + path + " (" + what + ")" + (msg.empty() ? "" : ": " + msg));
}

// Owns a GDAL dataset; the destructor closes without a check (a failing run), close() checks.
class Dataset {
 public:
  Dataset(GDALDatasetH h, const std::string& path) : h_(h), path_(path) {
    if (h_ == nullptr) fail(path_, "create");
  }
  ~Dataset() {
    if (h_ != nullptr) GDALClose(h_);
  }
  Dataset(const Dataset&) = delete;
  Dataset& operator=(const Dataset&) = delete;
  GDALDatasetH get() const { return h_; }
  void close() {
    CPLErrorReset();
    GDALClose(h_);
    h_ = nullptr;
    if (CPLGetLastErrorType() >= CE_Failure) fail(path_, "close");
  }

 private:
  GDALDatasetH h_;
  std::string path_;
};

// A CSL option list that frees itself.
class Options {
 public:
  explicit Options(std::initializer_list<const char*> items) {
    for (const char* s : items) list_ = CSLAddString(list_, s);
  }
  ~Options() { CSLDestroy(list_); }
  Options(const Options&) = delete;
  Options& operator=(const Options&) = delete;
  char** get() const { return list_; }

 private:
  char** list_ = nullptr;
};

void set_georeference(GDALDatasetH ds, const GlobalGrid& g, const std::string& path) {
  double gt[6] = {g.west, g.res, 0.0, g.north, 0.0, -g.res};
  if (GDALSetGeoTransform(ds, gt) != CE_None) fail(path, "geotransform");
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  const bool ok =
      OSRImportFromEPSG(srs, 4326) == OGRERR_NONE && GDALSetSpatialRef(ds, srs) == CE_None;
  OSRDestroySpatialReference(srs);
  if (!ok) fail(path, "EPSG:4326");
}

int64_t write_bands(GDALDatasetH ds, const ExportJob& job, const std::string& path) {
  const GlobalGrid& g = job.grid->global;
  std::vector<float> full;
  std::vector<float> pixels;
  int64_t fills = 0;
  for (int64_t b = job.bands.first; b <= job.bands.last; ++b) {
    const int k = static_cast<int>(b - job.bands.first) + 1;
    GDALRasterBandH band = GDALGetRasterBand(ds, k);
    fills += scatter_band(job, b, full, pixels);
    if (GDALSetRasterNoDataValue(band, static_cast<double>(kFillValue)) != CE_None)
      fail(path, "nodata");
    GDALSetDescription(band, (job.variable + " " + export_band_label(job, b)).c_str());
    if (job.units && GDALSetRasterUnitType(band, job.units->c_str()) != CE_None)
      fail(path, "units");
    if (GDALRasterIO(band, GF_Write, 0, 0, static_cast<int>(g.nlon), static_cast<int>(g.nlat),
                     full.data(), static_cast<int>(g.nlon), static_cast<int>(g.nlat), GDT_Float32,
                     0, 0) != CE_None)
      fail(path, "band data");
  }
  return fills;
}

// A plain tiled, deflated GeoTIFF with the bands of the job at `path`.
int64_t write_plain(const ExportJob& job, const std::string& file) {
  const std::string& path = job.shown;
  const GlobalGrid& g = job.grid->global;
  GDALDriverH drv = GDALGetDriverByName("GTiff");
  if (drv == nullptr) throw ToolError("GDAL has no GTiff driver");
  const Options opts({"COMPRESS=DEFLATE", "TILED=YES", "INTERLEAVE=BAND", "BIGTIFF=IF_SAFER"});
  Dataset ds(GDALCreate(drv, file.c_str(), static_cast<int>(g.nlon), static_cast<int>(g.nlat),
                        static_cast<int>(job.bands.count()), GDT_Float32, opts.get()),
             path);
  set_georeference(ds.get(), g, path);
  GDALSetMetadataItem(ds.get(), "TIFFTAG_SOFTWARE", version_text(), nullptr);
  const int64_t fills = write_bands(ds.get(), job, path);
  ds.close();
  return fills;
}

}  // namespace

int64_t write_gtiff(const ExportJob& job, ExportFormat format) {
  const QuietGdal quiet;
  if (format == ExportFormat::gtiff) {
    return write_plain(job, job.output);
  }
  // The COG driver only copies: a plain GeoTIFF beside the output first, removed afterwards.
  const TempOutput plain(job.output + ".plain");
  const int64_t fills = write_plain(job, plain.path());
  GDALDriverH cog = GDALGetDriverByName("COG");
  if (cog == nullptr) throw ToolError("GDAL has no COG driver");
  Dataset src(GDALOpen(plain.path().c_str(), GA_ReadOnly), job.shown);
  const Options opts({"COMPRESS=DEFLATE"});
  Dataset dst(
      GDALCreateCopy(cog, job.output.c_str(), src.get(), FALSE, opts.get(), nullptr, nullptr),
      job.output);
  dst.close();
  return fills;
}

}  // namespace interop
