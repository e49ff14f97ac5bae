// Finer land grids for the scale benchmarks: every cell of a grid file split into k x k cells.
//   gridsplit IN OUT RES K
// IN holds cell centres of a RES-degree grid; OUT holds the centres of the RES/K-degree cells in
// their place, rows from north to south and west to east within each parent cell, in
// hundredths of a degree as grid files store them.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "report.h"

namespace {

[[noreturn]] void die(const char* msg) { raster::fail_status(1, "gridsplit: %s\n", msg); }

int16_t hundredths(double deg) { return static_cast<int16_t>(std::lround(deg * 100.0)); }

int split_grid(int argc, char** argv) {
  if (argc != 5) die("use: gridsplit IN OUT RES K");
  const double res = std::atof(argv[3]);
  const int k = std::atoi(argv[4]);
  if (!(res > 0) || k < 1) die("RES must be positive and K at least 1");
  FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) die("cannot open the input grid");
  std::vector<int16_t> rec;
  int16_t pair[2];
  while (std::fread(pair, 2, 2, in) == 2) rec.insert(rec.end(), pair, pair + 2);
  std::fclose(in);
  FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) die("cannot create the output grid");
  const double sub = res / k;
  for (std::size_t p = 0; p + 1 < rec.size(); p += 2) {
    const double west = rec[p] / 100.0 - res / 2;
    const double north = rec[p + 1] / 100.0 + res / 2;
    for (int r = 0; r < k; ++r) {
      for (int c = 0; c < k; ++c) {
        const int16_t cell[2] = {hundredths(west + (c + 0.5) * sub),
                                 hundredths(north - (r + 0.5) * sub)};
        if (std::fwrite(cell, 2, 2, out) != 2) die("write failed");
      }
    }
  }
  if (std::fclose(out) != 0) die("write failed");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return raster::run_program([&] { return split_grid(argc, argv); });
}
