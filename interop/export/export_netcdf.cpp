// NetCDF-4 / CF-1.8 output through libnetcdf's C API.
#include <netcdf.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "export_job.h"

namespace interop {

namespace {

// Owns a netCDF id; the destructor closes without a check (a failing run), close() checks.
class NcFile {
 public:
  // Creates `path`; messages name `shown` (the final name of a temporary file).
  NcFile(const std::string& path, const std::string& shown) : path_(shown) {
    check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &id_), "create");
    open_ = true;
  }
  ~NcFile() {
    if (open_) nc_close(id_);
  }
  NcFile(const NcFile&) = delete;
  NcFile& operator=(const NcFile&) = delete;

  int id() const { return id_; }
  void check(int status, const char* what) const {
    if (status != NC_NOERR)
      throw ToolError("cannot write NetCDF file " + path_ + " (" + what +
                      "): " + nc_strerror(status));
  }
  void close() {
    open_ = false;
    check(nc_close(id_), "close");
  }
  void text(int var, const char* name, const std::string& value) const {
    check(nc_put_att_text(id_, var, name, value.size(), value.c_str()), name);
  }
  int dim(const char* name, size_t len) const {
    int d = -1;
    check(nc_def_dim(id_, name, len, &d), name);
    return d;
  }
  int var(const char* name, nc_type type, std::vector<int> dims) const {
    int v = -1;
    check(nc_def_var(id_, name, type, static_cast<int>(dims.size()), dims.data(), &v), name);
    return v;
  }

 private:
  std::string path_;
  int id_ = -1;
  bool open_ = false;
};

struct Ids {
  int time_dim = -1, lat_dim = -1, lon_dim = -1, bnds_dim = -1;
  int time = -1, time_bnds = -1, lat = -1, lat_bnds = -1, lon = -1, lon_bnds = -1, data = -1;
  std::vector<int> companions;
};

// time (or band), lat, lon, bnds: the order ncdump and the CF examples show.
void define_dims(const NcFile& nc, const ExportJob& job, Ids& ids) {
  const GlobalGrid& g = job.grid->global;
  ids.time_dim = nc.dim(job.first_year ? "time" : "band", NC_UNLIMITED);
  ids.lat_dim = nc.dim("lat", static_cast<size_t>(g.nlat));
  ids.lon_dim = nc.dim("lon", static_cast<size_t>(g.nlon));
  ids.bnds_dim = nc.dim("bnds", 2);
}

void define_space(const NcFile& nc, Ids& ids) {
  ids.lat = nc.var("lat", NC_DOUBLE, {ids.lat_dim});
  nc.text(ids.lat, "standard_name", "latitude");
  nc.text(ids.lat, "long_name", "latitude");
  nc.text(ids.lat, "units", "degrees_north");
  nc.text(ids.lat, "axis", "Y");
  nc.text(ids.lat, "bounds", "lat_bnds");
  ids.lat_bnds = nc.var("lat_bnds", NC_DOUBLE, {ids.lat_dim, ids.bnds_dim});
  ids.lon = nc.var("lon", NC_DOUBLE, {ids.lon_dim});
  nc.text(ids.lon, "standard_name", "longitude");
  nc.text(ids.lon, "long_name", "longitude");
  nc.text(ids.lon, "units", "degrees_east");
  nc.text(ids.lon, "axis", "X");
  nc.text(ids.lon, "bounds", "lon_bnds");
  ids.lon_bnds = nc.var("lon_bnds", NC_DOUBLE, {ids.lon_dim, ids.bnds_dim});
}

void define_time(const NcFile& nc, const ExportJob& job, Ids& ids) {
  if (!job.first_year) {
    // No dates: the bands keep their numbers in the raw file.
    ids.time = nc.var("band", NC_INT, {ids.time_dim});
    nc.text(ids.time, "long_name", "band number in the raw file (0-based)");
    return;
  }
  ids.time = nc.var("time", NC_DOUBLE, {ids.time_dim});
  nc.text(ids.time, "standard_name", "time");
  nc.text(ids.time, "long_name", "time");
  nc.text(ids.time, "units", time_units(*job.first_year));
  nc.text(ids.time, "calendar", job.calendar.name);
  nc.text(ids.time, "axis", "T");
  const char* bounds = job.climatology ? "climatology_bnds" : "time_bnds";
  nc.text(ids.time, job.climatology ? "climatology" : "bounds", bounds);
  ids.time_bnds = nc.var(bounds, NC_DOUBLE, {ids.time_dim, ids.bnds_dim});
}

int define_variable(const NcFile& nc, const ExportJob& job, const Ids& ids) {
  const GlobalGrid& g = job.grid->global;
  std::vector<int> dims{ids.time_dim, ids.lat_dim, ids.lon_dim};
  std::vector<size_t> chunk{1, static_cast<size_t>(g.nlat), static_cast<size_t>(g.nlon)};
  if (job.timeless) {
    dims.erase(dims.begin());
    chunk.erase(chunk.begin());
  }
  const int v = nc.var(job.variable.c_str(), NC_FLOAT, dims);
  nc.check(nc_def_var_chunking(nc.id(), v, NC_CHUNKED, chunk.data()), "chunking");
  nc.check(nc_def_var_deflate(nc.id(), v, 1, 1, 4), "deflate");
  nc.check(nc_def_var_fill(nc.id(), v, 0, &kFillValue), "_FillValue");
  nc.check(nc_put_att_float(nc.id(), v, "missing_value", NC_FLOAT, 1, &kFillValue),
           "missing_value");
  if (job.long_name) nc.text(v, "long_name", *job.long_name);
  if (job.units) nc.text(v, "units", *job.units);
  if (job.cell_methods) nc.text(v, "cell_methods", *job.cell_methods);
  return v;
}

void define_data(const NcFile& nc, const ExportJob& job, Ids& ids) {
  ids.data = define_variable(nc, job, ids);
  for (const ExportJob& c : job.companions) ids.companions.push_back(define_variable(nc, c, ids));
}

void define_globals(const NcFile& nc, const ExportJob& job) {
  nc.text(NC_GLOBAL, "Conventions", "CF-1.8");
  nc.text(NC_GLOBAL, "title", job.long_name ? *job.long_name : job.variable);
  nc.text(NC_GLOBAL, "source", version_text());
  nc.text(NC_GLOBAL, "history", job.history);
}

// Centres and bounds of the lattice, exact (GlobalGrid); bounds end at the poles.
void write_space(const NcFile& nc, const GlobalGrid& g, const Ids& ids) {
  const auto clip = [](double lat) { return std::clamp(lat, -90.0, 90.0); };
  std::vector<double> v(static_cast<size_t>(g.nlat));
  std::vector<double> b(static_cast<size_t>(2 * g.nlat));
  for (int64_t r = 0; r < g.nlat; ++r) {
    const size_t i = static_cast<size_t>(r);
    v[i] = g.lat_centre(r);
    b[2 * i] = clip(g.lat_edge(r));
    b[2 * i + 1] = clip(g.lat_edge(r + 1));
  }
  nc.check(nc_put_var_double(nc.id(), ids.lat, v.data()), "lat");
  nc.check(nc_put_var_double(nc.id(), ids.lat_bnds, b.data()), "lat_bnds");
  v.resize(static_cast<size_t>(g.nlon));
  b.resize(static_cast<size_t>(2 * g.nlon));
  for (int64_t c = 0; c < g.nlon; ++c) {
    const size_t i = static_cast<size_t>(c);
    v[i] = g.lon_centre(c);
    b[2 * i] = g.lon_edge(c);
    b[2 * i + 1] = g.lon_edge(c + 1);
  }
  nc.check(nc_put_var_double(nc.id(), ids.lon, v.data()), "lon");
  nc.check(nc_put_var_double(nc.id(), ids.lon_bnds, b.data()), "lon_bnds");
}

void write_time(const NcFile& nc, const ExportJob& job, const Ids& ids, size_t k, int64_t band) {
  if (!job.first_year) {
    const int b = static_cast<int>(band);
    nc.check(nc_put_var1_int(nc.id(), ids.time, &k, &b), "band");
    return;
  }
  const BandTime t = job.times.empty() ? band_time(job.calendar.kind, *job.first_year,
                                                   job.bands_per_year, time_band(job, band))
                                       : job.times[k];
  const double bounds[2] = {t.start, t.end};
  const size_t start[2] = {k, 0};
  const size_t count[2] = {1, 2};
  nc.check(nc_put_var1_double(nc.id(), ids.time, &k, &t.mid), "time");
  nc.check(nc_put_vara_double(nc.id(), ids.time_bnds, start, count, bounds), "time_bnds");
}

}  // namespace

int64_t write_netcdf(const ExportJob& job) {
  const GlobalGrid& g = job.grid->global;
  NcFile nc(job.output, job.shown);
  Ids ids;
  define_dims(nc, job, ids);
  define_time(nc, job, ids);
  define_space(nc, ids);
  define_data(nc, job, ids);
  define_globals(nc, job);
  nc.check(nc_enddef(nc.id()), "enddef");
  write_space(nc, g, ids);

  if (!job.times.empty() && static_cast<int64_t>(job.times.size()) != job.bands.count())
    throw ToolError("cannot write NetCDF file " + job.shown + ": " +
                    std::to_string(job.times.size()) + " times for " +
                    std::to_string(job.bands.count()) + " steps");
  std::vector<float> full;
  std::vector<float> pixels;
  int64_t fills = 0;
  const size_t count[3] = {1, static_cast<size_t>(g.nlat), static_cast<size_t>(g.nlon)};
  // Step k of a variable: its raw band first + k * band_step (timeless: its one band).
  const auto put = [&](const ExportJob& v, int id, size_t k) {
    fills += scatter_band(v, v.bands.first + static_cast<int64_t>(k) * v.band_step, full, pixels);
    const size_t start[3] = {k, 0, 0};
    nc.check(nc_put_vara_float(nc.id(), id, v.timeless ? start + 1 : start,
                               v.timeless ? count + 1 : count, full.data()),
             v.variable.c_str());
  };
  for (size_t k = 0; k < static_cast<size_t>(job.bands.count()); ++k) {
    write_time(nc, job, ids, k, job.bands.first + static_cast<int64_t>(k) * job.band_step);
    put(job, ids.data, k);
    for (size_t i = 0; i < job.companions.size(); ++i)
      if (!job.companions[i].timeless) put(job.companions[i], ids.companions[i], k);
  }
  for (size_t i = 0; i < job.companions.size(); ++i)
    if (job.companions[i].timeless) put(job.companions[i], ids.companions[i], 0);
  nc.close();
  return fills;
}

}  // namespace interop
