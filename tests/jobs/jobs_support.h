// Small synthetic NetCDF inputs for the job tests, written through the netCDF C API.
#pragma once

#include <cstdint>
#include <string>

namespace jobs_test {

struct NcSpec {
  std::string var = "tas";
  int64_t first_year = 1971;
  int64_t nyears = 4;
  int64_t bpy = 12;    ///< steps per year
  double res = 10;     ///< a 36 x 18 grid
  int seed = 1;        ///< shifts the values
  int mask = 0;        ///< which cells hold no value: (7 row + 3 col + mask) % 5 == 0
  bool exact = false;  ///< values 10 * month + year index (exact means and deviations)
};

/// Writes `s` as a deflated NetCDF-4 file (time, lat, lon), noleap calendar, _FillValue 1e20.
void write_nc(const std::string& path, const NcSpec& s);

}  // namespace jobs_test
