// rastertools info on files that are not raw: NetCDF through libnetcdf and TIFF through GDAL,
// described in a few lines (variables, grid, time axis), as `cdo sinfon` or `gdalinfo` would,
// with the command that imports them; a PNG's size.
#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <netcdf.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "import_time.h"
#include "info.h"
#include "report.h"
#include "tool.h"

namespace interop {

namespace {

// Coordinates longer than this are not read to describe them (a header may declare anything).
constexpr size_t kMaxCoordinates = 100'000'000;

std::string number(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.10g", v);
  return b;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ---- NetCDF ----

class NcRead {
 public:
  explicit NcRead(const std::string& path) : path_(path) {
    const int st = nc_open(path.c_str(), NC_NOWRITE, &id_);
    if (st != NC_NOERR)
      throw ToolError("cannot read " + path + " with libnetcdf: " + nc_strerror(st));
  }
  ~NcRead() { nc_close(id_); }
  NcRead(const NcRead&) = delete;
  NcRead& operator=(const NcRead&) = delete;

  void check(int st, const std::string& what) const {
    if (st != NC_NOERR)
      throw ToolError("cannot read " + what + " of " + path_ + ": " + nc_strerror(st));
  }
  int id() const { return id_; }
  std::string dim_name(int d) const {
    char n[NC_MAX_NAME + 1] = {};
    check(nc_inq_dimname(id_, d, n), "a dimension name");
    return n;
  }
  size_t dim_len(int d) const {
    size_t n = 0;
    check(nc_inq_dimlen(id_, d, &n), "a dimension length");
    return n;
  }
  std::string var_name(int v) const {
    char n[NC_MAX_NAME + 1] = {};
    check(nc_inq_varname(id_, v, n), "a variable name");
    return n;
  }
  std::vector<int> var_dims(int v) const {
    int n = 0;
    check(nc_inq_varndims(id_, v, &n), "the dimensions of " + var_name(v));
    std::vector<int> d(static_cast<size_t>(n));
    if (n > 0) check(nc_inq_vardimid(id_, v, d.data()), "the dimensions of " + var_name(v));
    return d;
  }
  std::string text_att(int v, const char* name) const {
    nc_type t = NC_NAT;
    size_t len = 0;
    if (nc_inq_att(id_, v, name, &t, &len) != NC_NOERR) return "";
    if (t == NC_CHAR) {
      std::string s(len, '\0');
      check(nc_get_att_text(id_, v, name, s.data()), std::string("attribute ") + name);
      return std::string(s.c_str());
    }
    if (t == NC_STRING && len >= 1) {
      std::vector<char*> p(len, nullptr);
      check(nc_get_att_string(id_, v, name, p.data()), std::string("attribute ") + name);
      std::string s = p[0] ? p[0] : "";
      nc_free_string(len, p.data());
      return s;
    }
    return "";
  }
  // A one-value numeric attribute as text, in the fewest digits that give back its value in
  // its own type (1e+20 for a float 1e20, not 1.00000002e+20).
  std::optional<std::string> num_att(int v, const char* name) const {
    nc_type t = NC_NAT;
    size_t len = 0;
    if (nc_inq_att(id_, v, name, &t, &len) != NC_NOERR || t == NC_CHAR || t == NC_STRING ||
        len != 1)
      return std::nullopt;
    double x = 0;
    check(nc_get_att_double(id_, v, name, &x), std::string("attribute ") + name);
    char b[32];
    for (int prec = 1; prec <= 17; ++prec) {
      std::snprintf(b, sizeof b, "%.*g", prec, x);
      const double back = std::strtod(b, nullptr);
      if (t == NC_FLOAT ? static_cast<float>(back) == static_cast<float>(x) : back == x) break;
    }
    return std::string(b);
  }
  std::vector<double> values(int v, size_t n) const {
    std::vector<double> x(n);
    if (n > 0) check(nc_get_var_double(id_, v, x.data()), "the values of " + var_name(v));
    return x;
  }

 private:
  std::string path_;
  int id_ = -1;
};

const char* nc_format_text(int fmt) {
  switch (fmt) {
    case NC_FORMAT_CLASSIC:
      return "NetCDF classic";
    case NC_FORMAT_64BIT_OFFSET:
      return "NetCDF 64-bit offset";
    case NC_FORMAT_CDF5:
      return "NetCDF CDF5 (64-bit data)";
    case NC_FORMAT_NETCDF4:
      return "NetCDF-4 (HDF5)";
    case NC_FORMAT_NETCDF4_CLASSIC:
      return "NetCDF-4 classic model (HDF5)";
    default:
      return "NetCDF";
  }
}

const char* nc_type_text(nc_type t) {
  switch (t) {
    case NC_BYTE:
      return "byte";
    case NC_UBYTE:
      return "ubyte";
    case NC_CHAR:
      return "char";
    case NC_SHORT:
      return "short";
    case NC_USHORT:
      return "ushort";
    case NC_INT:
      return "int";
    case NC_UINT:
      return "uint";
    case NC_INT64:
      return "int64";
    case NC_UINT64:
      return "uint64";
    case NC_FLOAT:
      return "float";
    case NC_DOUBLE:
      return "double";
    case NC_STRING:
      return "string";
    default:
      return "other";
  }
}

enum class Axis { none, lon, lat, time };

// What a one-dimensional coordinate variable stands for, by its attributes or name.
Axis axis_of(const NcRead& nc, int v) {
  const std::string name = lower(nc.var_name(v));
  const std::string units = lower(nc.text_att(v, "units"));
  const std::string standard = lower(nc.text_att(v, "standard_name"));
  const std::string axis = lower(nc.text_att(v, "axis"));
  const auto one_of = [](const std::string& x, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return x == n; });
  };
  if (standard == "longitude" || name == "lon" || name == "longitude" ||
      one_of(units, {"degrees_east", "degree_east", "degree_e", "degrees_e"}))
    return Axis::lon;
  if (standard == "latitude" || name == "lat" || name == "latitude" ||
      one_of(units, {"degrees_north", "degree_north", "degree_n", "degrees_n"}))
    return Axis::lat;
  if (standard == "time" || axis == "t" || units.find(" since ") != std::string::npos ||
      name == "time")
    return Axis::time;
  return Axis::none;
}

struct Coordinates {
  int lon = -1, lat = -1, time = -1;  // variable ids
  std::vector<int> coordinate_vars;   // coordinate variables and their bounds
};

Coordinates find_coordinates(const NcRead& nc, int nvars) {
  Coordinates c;
  for (int v = 0; v < nvars; ++v) {
    const std::vector<int> dims = nc.var_dims(v);
    if (dims.size() != 1 || nc.dim_name(dims[0]) != nc.var_name(v)) continue;
    c.coordinate_vars.push_back(v);
    const Axis a = axis_of(nc, v);
    int& slot = a == Axis::lon ? c.lon : a == Axis::lat ? c.lat : c.time;
    if (a != Axis::none && slot < 0) slot = v;
    const std::string bounds = nc.text_att(v, "bounds");
    int b = -1;
    if (!bounds.empty() && nc_inq_varid(nc.id(), bounds.c_str(), &b) == NC_NOERR)
      c.coordinate_vars.push_back(b);
  }
  return c;
}

std::string variable_line(const NcRead& nc, int v) {
  std::string dims;
  for (const int d : nc.var_dims(v)) dims += (dims.empty() ? "" : ", ") + nc.dim_name(d);
  nc_type t = NC_NAT;
  nc.check(nc_inq_vartype(nc.id(), v, &t), "the type of " + nc.var_name(v));
  std::string s = "  " + nc.var_name(v) + "(" + dims + "): " + nc_type_text(t);
  const std::string units = nc.text_att(v, "units");
  if (!units.empty()) s += ", units " + units;
  const std::string long_name = nc.text_att(v, "long_name");
  if (!long_name.empty()) s += ", \"" + long_name + "\"";
  for (const char* att : {"_FillValue", "missing_value", "scale_factor", "add_offset"})
    if (const auto value = nc.num_att(v, att)) s += std::string(", ") + att + " " + *value;
  return s;
}

size_t coord_len(const NcRead& nc, int v) { return nc.dim_len(nc.var_dims(v)[0]); }

// "720 x 0.5 degrees, -179.75 .. 179.75" for one axis.
std::string axis_text(const NcRead& nc, int v) {
  const size_t n = coord_len(nc, v);
  if (n == 0) return "0 points";
  if (n > kMaxCoordinates) return std::to_string(n) + " points (too many to read)";
  const std::vector<double> x = nc.values(v, n);
  std::string s = std::to_string(n) + " points";
  if (n > 1) {
    double lo = std::fabs(x[1] - x[0]);
    double hi = lo;
    for (size_t i = 2; i < n; ++i) {
      lo = std::min(lo, std::fabs(x[i] - x[i - 1]));
      hi = std::max(hi, std::fabs(x[i] - x[i - 1]));
    }
    s += hi - lo <= 1e-6 * hi ? " every " + number(hi) + " degrees"
                              : " spaced " + number(lo) + " to " + number(hi) + " degrees";
  }
  return s + ", " + number(x.front()) + " .. " + number(x.back());
}

std::string date_text(double value, const importer::TimeAxis& axis) {
  if (!std::isfinite(value) || std::fabs(value) > 1e15) return number(value);
  const importer::Date d = importer::date_of(value, axis);
  char b[48];
  std::snprintf(b, sizeof b, "%04lld-%02d-%02d", static_cast<long long>(d.year), d.month, d.day);
  return b;
}

std::string time_text(const NcRead& nc, int v) {
  const size_t n = coord_len(nc, v);
  const std::string units = nc.text_att(v, "units");
  const std::string calendar = nc.text_att(v, "calendar");
  std::string s = std::to_string(n) + " step(s)";
  const std::string cal = calendar.empty() ? "standard (no calendar attribute)" : calendar;
  if (n == 0 || n > kMaxCoordinates) return s + ", units " + units + ", calendar " + cal;
  const std::vector<double> t = nc.values(v, n);
  try {
    const importer::TimeAxis axis = importer::parse_time_axis(units, calendar);
    s += ", " + date_text(t.front(), axis) + " .. " + date_text(t.back(), axis);
  } catch (const ToolError& e) {
    s += " (" + std::string(e.what()) + ")";
  }
  return s + ", calendar " + cal + ", units " + units;
}

int describe_netcdf(const std::string& path, int64_t size) {
  const NcRead nc(path);
  int ndims = 0, nvars = 0, natts = 0, unlim = -1, fmt = 0;
  nc.check(nc_inq(nc.id(), &ndims, &nvars, &natts, &unlim), "the header");
  nc.check(nc_inq_format(nc.id(), &fmt), "the format");
  std::printf("File:      %s: %s, %lld bytes\n", path.c_str(), nc_format_text(fmt),
              static_cast<long long>(size));
  std::string dims;
  for (int d = 0; d < ndims; ++d)
    dims += (d ? ", " : "") + nc.dim_name(d) + " = " + std::to_string(nc.dim_len(d)) +
            (d == unlim ? " (unlimited)" : "");
  std::printf("Dimensions: %s\n", dims.empty() ? "none" : dims.c_str());
  const Coordinates c = find_coordinates(nc, nvars);
  std::vector<int> data;
  for (int v = 0; v < nvars; ++v)
    if (std::find(c.coordinate_vars.begin(), c.coordinate_vars.end(), v) == c.coordinate_vars.end())
      data.push_back(v);
  std::printf("Variables: %zu (besides coordinates)\n", data.size());
  for (const int v : data) std::printf("%s\n", variable_line(nc, v).c_str());
  if (c.lon >= 0 && c.lat >= 0)
    std::printf("Grid:      lon %s; lat %s\n", axis_text(nc, c.lon).c_str(),
                axis_text(nc, c.lat).c_str());
  else
    std::printf("Grid:      no longitude and latitude coordinates found\n");
  if (c.time >= 0) std::printf("Time:      %s\n", time_text(nc, c.time).c_str());
  std::string cmd = import_command(path);
  if (data.size() > 1) cmd += " --var NAME";
  if (data.size() == 1) cmd += " --var " + nc.var_name(data[0]);
  std::printf("Import:    %s\n", cmd.c_str());
  return raster::status::ok;
}

// ---- TIFF / GeoTIFF through GDAL ----

class GdalRead {
 public:
  explicit GdalRead(const std::string& path) {
    GDALAllRegister();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    h_ = GDALOpen(path.c_str(), GA_ReadOnly);
    if (h_ == nullptr) {
      const std::string msg = CPLGetLastErrorMsg();
      CPLPopErrorHandler();
      throw ToolError("cannot read " + path + " with GDAL" + (msg.empty() ? "" : ": " + msg));
    }
  }
  ~GdalRead() {
    GDALClose(h_);
    CPLPopErrorHandler();
  }
  GdalRead(const GdalRead&) = delete;
  GdalRead& operator=(const GdalRead&) = delete;
  GDALDatasetH get() const { return h_; }

 private:
  GDALDatasetH h_ = nullptr;
};

std::string crs_text(GDALDatasetH ds) {
  OGRSpatialReferenceH srs = GDALGetSpatialRef(ds);
  if (srs == nullptr) return "no coordinate reference system";
  std::string s = OSRGetName(srs) ? OSRGetName(srs) : "unnamed";
  const char* auth = OSRGetAuthorityName(srs, nullptr);
  const char* code = OSRGetAuthorityCode(srs, nullptr);
  if (auth && code) s = std::string(auth) + ":" + code + " (" + s + ")";
  return s + (OSRIsGeographic(srs) ? ", geographic" : ", projected");
}

std::string band_names(GDALDatasetH ds, int n) {
  std::string s;
  for (int k = 1; k <= n; ++k) {
    if (n > 6 && k == 4) {
      s += ", ...";
      k = n - 1;
      continue;
    }
    const char* d = GDALGetDescription(GDALGetRasterBand(ds, k));
    s += (k == 1 ? "" : ", ") + std::to_string(k) + (d && *d ? " \"" + std::string(d) + "\"" : "");
  }
  return s;
}

int describe_tiff(const std::string& path, int64_t size) {
  const GdalRead ds(path);
  const int nx = GDALGetRasterXSize(ds.get());
  const int ny = GDALGetRasterYSize(ds.get());
  const int nb = GDALGetRasterCount(ds.get());
  GDALDriverH drv = GDALGetDatasetDriver(ds.get());
  const char* type =
      nb > 0 ? GDALGetDataTypeName(GDALGetRasterDataType(GDALGetRasterBand(ds.get(), 1))) : "-";
  std::printf("File:      %s: %s, %d x %d pixels, %d band(s) of %s, %lld bytes\n", path.c_str(),
              drv ? GDALGetDriverLongName(drv) : "raster", nx, ny, nb, type,
              static_cast<long long>(size));
  double gt[6] = {};
  if (GDALGetGeoTransform(ds.get(), gt) == CE_None && gt[2] == 0 && gt[4] == 0)
    std::printf("Grid:      cells of %s x %s, x %s .. %s, y %s .. %s (cell edges), %s\n",
                number(gt[1]).c_str(), number(std::fabs(gt[5])).c_str(), number(gt[0]).c_str(),
                number(gt[0] + nx * gt[1]).c_str(), number(gt[3] + ny * gt[5]).c_str(),
                number(gt[3]).c_str(), crs_text(ds.get()).c_str());
  else
    std::printf("Grid:      no north-up georeferencing (%s)\n", crs_text(ds.get()).c_str());
  if (nb > 0) {
    int has = 0;
    const double nodata = GDALGetRasterNoDataValue(GDALGetRasterBand(ds.get(), 1), &has);
    std::printf("Bands:     %s%s\n", has ? ("nodata " + number(nodata) + "; ").c_str() : "",
                band_names(ds.get(), nb).c_str());
  }
  std::printf("Import:    %s\n", import_command(path).c_str());
  return raster::status::ok;
}

// ---- PNG ----

int describe_png(const std::string& path, int64_t size) {
  unsigned char b[24] = {};
  FILE* f = std::fopen(path.c_str(), "rb");
  const bool whole = f != nullptr && std::fread(b, 1, sizeof b, f) == sizeof b;
  if (f != nullptr) std::fclose(f);
  const auto be32 = [&](int at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
           uint32_t{b[at + 3]};
  };
  std::printf("File:      %s: PNG image", path.c_str());
  if (whole) std::printf(", %u x %u pixels", be32(16), be32(20));
  std::printf(", %lld bytes: a picture, which holds no values to read\n",
              static_cast<long long>(size));
  return raster::status::ok;
}

}  // namespace

int describe_other_format(const std::string& path, FileFormat f) {
  const auto size = static_cast<int64_t>(std::filesystem::file_size(path));
  switch (f) {
    case FileFormat::netcdf_classic:
    case FileFormat::hdf5:
      return describe_netcdf(path, size);
    case FileFormat::tiff:
      return describe_tiff(path, size);
    case FileFormat::png:
      return describe_png(path, size);
    case FileFormat::raw:
      break;
  }
  throw ToolError(path + " is a raw raster file");
}

}  // namespace interop
