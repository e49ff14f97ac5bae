// Shared pieces of the interop end-to-end tests: grid records read on their own, the cell of
// each record worked out in integer hundredths of a degree, raw files with the values that
// matter for bit-exact storage, and peer programs (ncdump, cdo, gdalinfo, Rscript) run through
// the shell.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fixtures {

struct GridCase {
  const char* file;  ///< in data/
  int res100;        ///< resolution in hundredths of a degree
  bool northedge;
  int64_t npixel;
};

/// The four bundled grids.
const std::vector<GridCase>& bundled_grids();

/// lon*100, lat*100 of each record of a grid file.
std::vector<std::pair<int, int>> grid_records(const std::string& path);

/// Cell index row * nlon + col of each record: integer arithmetic on hundredths, rows from the
/// north, the latitude a centre or a northern edge.
std::vector<int64_t> expected_cells(const GridCase& g);

/// nlat, nlon of the full grid.
int64_t nlat(const GridCase& g);
int64_t nlon(const GridCase& g);

/// Bit patterns that must survive: NaNs with payloads and sign, -0, the smallest and largest
/// denormals, infinities, the largest float, 1.5.
const std::vector<uint32_t>& special_bits();

/// `nbands` bands of `npixel` values: special_bits() at the first pixels of every band, then a
/// smooth field whose value changes with pixel and band.
std::vector<float> sample_bands(int64_t npixel, int64_t nbands);

/// A peer program run through the shell: exit status, stdout and stderr.
struct PeerResult {
  int status = -1;
  std::string out;
  std::string err;
};
PeerResult peer(const std::string& command);

/// Names each parameterised case after its `name` field, for --gtest_filter.
struct CaseName {
  template <class T>
  std::string operator()(const testing::TestParamInfo<T>& p) const {
    return p.param.name;
  }
};

/// Single-quoted for the shell.
std::string quoted(const std::string& s);

}  // namespace fixtures
