// The same bytes whichever variants of the C library's mathematics the processor selects: the
// outputs of runs at several resolutions do not change when glibc's FMA variants are switched
// off. The row weights behind the global means are correctly rounded, so they cannot.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "corvane_case.h"

using cvtest::Case;
using cvtest::Param;

namespace {

constexpr const char* kNoFma = "glibc.cpu.hwcaps=-AVX2,-FMA,-AVX2_Usable,-FMA_Usable";

// Grid records of a data/ grid file, or one pixel per row of an nlat-row grid at 0 E.
std::vector<int16_t> grid_records(const std::string& data_file, int nlat) {
  std::vector<int16_t> rec;
  if (!data_file.empty()) {
    const std::string bytes = e2e::read_bytes(e2e::data_path(data_file));
    rec.resize(bytes.size() / 2);
    std::memcpy(rec.data(), bytes.data(), rec.size() * 2);
    return rec;
  }
  for (int r = 0; r < nlat; ++r) {
    rec.push_back(0);
    rec.push_back(static_cast<int16_t>(9000 - (r + 1) * 18000 / nlat));  // the row's north edge
  }
  return rec;
}

std::string run_bytes(Case& c, bool no_fma) {
  const e2e::ScopedEnv env("GLIBC_TUNABLES", no_fma ? kNoFma : std::getenv("GLIBC_TUNABLES"));
  const auto r = e2e::run_process("corvane", c.args());  // the tunables act at start-up
  EXPECT_EQ(r.status, 0) << r.err;
  std::string all = r.out + r.err;
  for (int n = 1; n <= 8; ++n) all += e2e::read_bytes(c.out(n));
  return all;
}

}  // namespace

TEST(Processor, OutputsDoNotDependOnTheMathVariants) {
  const struct {
    const char* grid;
    int nlat;
    const char* res;
  } rows[] = {{"grid_0.5deg_northedge.bin", 0, "0.5"},
              {"grid_2deg_centre.bin", 0, "2"},
              {"", 1800, "0.1"},
              {"", 2160, "0.0833333333"},
              {"", 720, "0.25"}};
  std::mt19937 rng(15);
  std::uniform_real_distribution<float> value(-5.0f, 40.0f);
  for (const auto& row : rows) {
    Case c;
    c.grid = grid_records(row.grid, row.nlat);
    c.npixel = static_cast<int>(c.grid.size() / 2);
    c.res = row.res;
    c.nyear_ref = c.nyear_fut = 2;
    const std::size_t n = static_cast<std::size_t>(2 * 3 * c.npixel);  // 2 years of 3 bands
    for (int i = 0; i < 2; ++i) {
      Param p;
      for (std::size_t j = 0; j < n; ++j) p.ref.push_back(value(rng));
      for (std::size_t j = 0; j < n; ++j) p.fut.push_back(value(rng));
      c.params.push_back(p);
    }
    const std::string with_fma = run_bytes(c, false);
    EXPECT_TRUE(with_fma == run_bytes(c, true)) << row.res << " " << row.grid;
  }
}
