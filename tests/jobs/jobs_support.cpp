#include "jobs_support.h"

#include <netcdf.h>

#include <cmath>
#include <stdexcept>
#include <vector>

namespace jobs_test {

namespace {

void ok(int status) {
  if (status != NC_NOERR) throw std::runtime_error(nc_strerror(status));
}

}  // namespace

void write_nc(const std::string& path, const NcSpec& s) {
  const auto nlat = static_cast<size_t>(std::lround(180 / s.res));
  const auto nlon = static_cast<size_t>(std::lround(360 / s.res));
  const auto nt = static_cast<size_t>(s.nyears * s.bpy);
  int id = 0, dt = 0, dy = 0, dx = 0, vt = 0, vy = 0, vx = 0, v = 0;
  ok(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &id));
  ok(nc_def_dim(id, "time", NC_UNLIMITED, &dt));
  ok(nc_def_dim(id, "lat", nlat, &dy));
  ok(nc_def_dim(id, "lon", nlon, &dx));
  ok(nc_def_var(id, "time", NC_DOUBLE, 1, &dt, &vt));
  const std::string units = "days since " + std::to_string(s.first_year) + "-01-01";
  ok(nc_put_att_text(id, vt, "units", units.size(), units.c_str()));
  ok(nc_put_att_text(id, vt, "calendar", 6, "noleap"));
  ok(nc_def_var(id, "lat", NC_DOUBLE, 1, &dy, &vy));
  ok(nc_put_att_text(id, vy, "units", 13, "degrees_north"));
  ok(nc_def_var(id, "lon", NC_DOUBLE, 1, &dx, &vx));
  ok(nc_put_att_text(id, vx, "units", 12, "degrees_east"));
  const int dims[3] = {dt, dy, dx};
  ok(nc_def_var(id, s.var.c_str(), NC_FLOAT, 3, dims, &v));
  ok(nc_def_var_deflate(id, v, 1, 1, 1));
  const float fill = 1e20f;
  ok(nc_def_var_fill(id, v, 0, &fill));
  ok(nc_put_att_text(id, v, "units", 1, "K"));
  ok(nc_enddef(id));
  std::vector<double> c(nlat);
  for (size_t i = 0; i < nlat; ++i) c[i] = 90 - s.res / 2 - static_cast<double>(i) * s.res;
  ok(nc_put_var_double(id, vy, c.data()));
  c.resize(nlon);
  for (size_t i = 0; i < nlon; ++i) c[i] = -180 + s.res / 2 + static_cast<double>(i) * s.res;
  ok(nc_put_var_double(id, vx, c.data()));
  std::vector<float> step(nlat * nlon);
  for (size_t t = 0; t < nt; ++t) {
    const double mid = (static_cast<double>(t) + 0.5) * 365.0 / static_cast<double>(s.bpy);
    ok(nc_put_var1_double(id, vt, &t, &mid));
    for (size_t r = 0; r < nlat; ++r)
      for (size_t k = 0; k < nlon; ++k) {
        const size_t cell = r * nlon + k;
        const auto month = static_cast<double>(t % static_cast<size_t>(s.bpy));
        const auto year = static_cast<double>(t / static_cast<size_t>(s.bpy));
        const double wave =
            std::sin(static_cast<double>(cell) * 0.37 + static_cast<double>(t) * 0.11 + s.seed);
        step[cell] = (7 * r + 3 * k + static_cast<size_t>(s.mask)) % 5 == 0 ? fill
                     : s.exact ? static_cast<float>(10 * month + year)
                               : static_cast<float>(280 + 5 * wave + s.seed * year * 0.1);
      }
    const size_t start[3] = {t, 0, 0}, count[3] = {1, nlat, nlon};
    ok(nc_put_vara_float(id, v, start, count, step.data()));
  }
  ok(nc_close(id));
}

}  // namespace jobs_test
