// Writes and decodes the NetCDF file of bench/ncread.sh.
//
//   ncread_bench write OUT.nc GRIDFILE     30 years of monthly 0.5-degree "tas" (360 x 720 x
//                                           360 steps, float, deflate 5 + shuffle, chunks of one
//                                           step), land cells from GRIDFILE, ocean _FillValue
//   ncread_bench read FILE VAR netcdf      every step through nc_get_vara_float, one by one
//   ncread_bench read FILE VAR reader N    every step through StepReader on N threads, a year
//                                           (12 steps) per read
//
// `read` prints the number of values and a checksum of their bits: both ways must agree.
#include <netcdf.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "parallel.h"
#include "splitmix.h"
#include "step_reader.h"
#include "tool.h"

namespace {

constexpr int64_t kRows = 360, kCols = 720, kYears = 30, kSteps = 12 * kYears;
constexpr float kFill = 1e20f;

void nc(int status, const char* what) {
  if (status != NC_NOERR) throw std::runtime_error(std::string(what) + ": " + nc_strerror(status));
}

// Land cells of a grid file (int16 lon*100, lat*100 per pixel, cell centres on 0.25 + k/2).
std::vector<bool> land_mask(const char* grid) {
  FILE* f = std::fopen(grid, "rb");
  if (!f) throw std::runtime_error(std::string("cannot open ") + grid);
  std::vector<bool> land(static_cast<size_t>(kRows * kCols), false);
  int16_t rec[2];
  while (std::fread(rec, sizeof rec, 1, f) == 1) {
    const long row = std::lround((8975 - rec[1]) / 50.0),
               col = std::lround((rec[0] + 17975) / 50.0);
    if (row >= 0 && row < kRows && col >= 0 && col < kCols)
      land[static_cast<size_t>(row * kCols + col)] = true;
  }
  std::fclose(f);
  return land;
}

int days_in_month(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return days[month] + (month == 1 && leap ? 1 : 0);
}

int def_dim_var(int id, const char* name, size_t len, const char* units, int* var) {
  int dim = -1;
  nc(nc_def_dim(id, name, len, &dim), name);
  nc(nc_def_var(id, name, NC_DOUBLE, 1, &dim, var), name);
  nc(nc_put_att_text(id, *var, "units", std::strlen(units), units), name);
  return dim;
}

// Temperature-like: a latitude gradient, a seasonal cycle opposite in the two hemispheres, a
// small trend and noise (so that deflate meets realistic low-order bits).
void write_file(const char* path, const char* grid) {
  const std::vector<bool> land = land_mask(grid);
  int id = -1, tvar = -1, yvar = -1, xvar = -1, var = -1;
  nc(nc_create(path, NC_CLOBBER | NC_NETCDF4, &id), path);
  const int t = def_dim_var(id, "time", NC_UNLIMITED, "days since 1971-01-01 00:00:00", &tvar);
  nc(nc_put_att_text(id, tvar, "calendar", 8, "standard"), "calendar");
  const int y = def_dim_var(id, "lat", kRows, "degrees_north", &yvar);
  const int x = def_dim_var(id, "lon", kCols, "degrees_east", &xvar);
  const int dims[3] = {t, y, x};
  nc(nc_def_var(id, "tas", NC_FLOAT, 3, dims, &var), "tas");
  const size_t chunk[3] = {1, kRows, kCols};
  nc(nc_def_var_chunking(id, var, NC_CHUNKED, chunk), "chunking");
  nc(nc_def_var_deflate(id, var, 1, 1, 5), "deflate");
  nc(nc_def_var_fill(id, var, 0, &kFill), "fill");
  nc(nc_put_att_float(id, var, "missing_value", NC_FLOAT, 1, &kFill), "missing_value");
  nc(nc_put_att_text(id, var, "units", 1, "K"), "units");
  nc(nc_enddef(id), "enddef");
  std::vector<double> lat(kRows), lon(kCols);
  for (int64_t r = 0; r < kRows; ++r)
    lat[static_cast<size_t>(r)] = 89.75 - 0.5 * static_cast<double>(r);
  for (int64_t c = 0; c < kCols; ++c)
    lon[static_cast<size_t>(c)] = -179.75 + 0.5 * static_cast<double>(c);
  nc(nc_put_var_double(id, yvar, lat.data()), "lat");
  nc(nc_put_var_double(id, xvar, lon.data()), "lon");
  Rng rng{7};
  std::vector<float> v(static_cast<size_t>(kRows * kCols));
  double day = 0;
  for (int64_t s = 0; s < kSteps; ++s) {
    const int year = 1971 + static_cast<int>(s / 12), month = static_cast<int>(s % 12);
    const double mid = day + 14.0;
    const size_t ts = static_cast<size_t>(s), one = 1;
    nc(nc_put_vara_double(id, tvar, &ts, &one, &mid), "time");
    day += days_in_month(year, month);
    const double season = std::cos(2 * std::numbers::pi * (month - 6.5) / 12);
    for (int64_t r = 0; r < kRows; ++r) {
      const double phi = lat[static_cast<size_t>(r)] * std::numbers::pi / 180;
      const double base = 258 + 42 * std::cos(phi) + 0.02 * static_cast<double>(s) / 12;
      for (int64_t c = 0; c < kCols; ++c) {
        const auto i = static_cast<size_t>(r * kCols + c);
        v[i] = land[i] ? static_cast<float>(base + 14 * std::sin(phi) * season + 0.8 * rng.normal())
                       : kFill;
      }
    }
    const size_t start[3] = {ts, 0, 0}, count[3] = {1, kRows, kCols};
    nc(nc_put_vara_float(id, var, start, count, v.data()), "tas");
  }
  nc(nc_close(id), path);
}

struct Sum {
  uint64_t n = 0, bits = 0;
  void add(const float* v, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      uint32_t b;
      std::memcpy(&b, v + i, 4);
      bits = bits * 31 + b;
    }
    n += count;
  }
};

Sum read_netcdf(const char* path, const char* name) {
  int id = -1, var = -1;
  nc(nc_open(path, NC_NOWRITE, &id), path);
  nc(nc_inq_varid(id, name, &var), name);
  int dims[3];
  size_t len[3];
  nc(nc_inq_vardimid(id, var, dims), "dims");
  for (int k = 0; k < 3; ++k) nc(nc_inq_dimlen(id, dims[k], &len[k]), "dims");
  std::vector<float> v(len[1] * len[2]);
  Sum sum;
  for (size_t t = 0; t < len[0]; ++t) {
    const size_t start[3] = {t, 0, 0}, count[3] = {1, len[1], len[2]};
    nc(nc_get_vara_float(id, var, start, count, v.data()), "read");
    sum.add(v.data(), v.size());
  }
  nc_close(id);
  return sum;
}

Sum read_reader(const char* path, const char* name, int threads) {
  interop::StepReader reader(path, name);
  raster::ThreadTeam team(threads);
  const interop::StepVariable& var = reader.variable();
  if (!var.parallel)
    std::fprintf(stderr, "note: read by libnetcdf: %s\n", var.serial_reason.c_str());
  const int64_t block = 12;
  std::vector<float> v(static_cast<size_t>(block * var.step_size()));
  Sum sum;
  for (int64_t t = 0; t < var.nsteps; t += block) {
    const int64_t n = std::min(block, var.nsteps - t);
    reader.read(t, n, v.data(), team);
    sum.add(v.data(), static_cast<size_t>(n * var.step_size()));
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "write" && argc == 4) {
      write_file(argv[2], argv[3]);
      return 0;
    }
    if (cmd == "read" && argc >= 5) {
      const std::string mode = argv[4];
      Sum s;
      if (mode == "netcdf" && argc == 5) {
        s = read_netcdf(argv[2], argv[3]);
      } else if (mode == "reader" && argc == 6) {
        s = read_reader(argv[2], argv[3], std::atoi(argv[5]));
      } else {
        throw std::runtime_error("unknown read mode");
      }
      std::printf("%llu values, checksum %016llx\n", static_cast<unsigned long long>(s.n),
                  static_cast<unsigned long long>(s.bits));
      return 0;
    }
    std::fprintf(stderr,
                 "use: ncread_bench write OUT.nc GRIDFILE | read FILE VAR netcdf | "
                 "read FILE VAR reader THREADS\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ncread_bench: %s\n", e.what());
    return 1;
  }
}
