// Random small runs against the literal algorithm (tests/corvane/corvane_case.cpp): several
// parameters of different band counts, supplied or computed ranges, fractions with negative
// and missing entries, grids with shared cells, cells off the map and missing records, values
// around the 0.001 thresholds, negative weights, future slices past the end of their file.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "corvane_case.h"

using cvtest::Case;
using cvtest::Param;

namespace {

class Draw {
 public:
  explicit Draw(uint32_t seed) : rng_(seed) {}
  int in(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  float value() {
    switch (in(0, 9)) {
      case 0:
        return 0.0f;
      case 1:
        return static_cast<float>(in(-15, 15)) * 0.0001f;  // around the thresholds
      case 2:
        return chance(0.3) ? std::numeric_limits<float>::quiet_NaN() : -0.0f;
      default:
        return static_cast<float>(std::uniform_real_distribution<double>(-10, 30)(rng_));
    }
  }
  std::vector<float> values(int n) {
    std::vector<float> v;
    for (int i = 0; i < n; ++i) v.push_back(value());
    return v;
  }

 private:
  std::mt19937 rng_;
};

}  // namespace

TEST(LiteralAlgorithm, RandomRunsGiveTheSameBytesAndLines) {
  Draw d(20261208);
  for (int iter = 0; iter < 60; ++iter) {
    Case c;
    c.npixel = d.in(1, 6);
    c.nyear_ref = d.in(1, 4);
    c.nyear_avg = d.in(1, c.nyear_ref);
    c.startyear_ref = d.in(0, c.nyear_ref - c.nyear_avg);
    c.nyear_fut = d.in(1, 4);
    c.startyear_fut = d.in(0, c.nyear_fut);
    c.range = d.in(0, 1);
    c.res =
        std::vector<std::string>{"0.5", "2", "0.333333", "1"}[static_cast<std::size_t>(d.in(0, 3))];
    c.natveg = d.chance(0.5);
    for (int p = 0; p < c.npixel; ++p) {
      c.natvegfrac.push_back(d.chance(0.2) ? -0.3f : static_cast<float>(d.in(0, 10)) / 10);
    }
    const int nrec = d.chance(0.2) ? d.in(0, c.npixel) : c.npixel;
    for (int p = 0; p < nrec; ++p) {
      c.grid.push_back(static_cast<int16_t>(d.in(-1800, 1800) * 10));
      c.grid.push_back(static_cast<int16_t>(d.in(-900, 900) * 10));
    }
    if (nrec == 0) c.grid = {};
    const int npar = d.in(1, 3);
    double wsum = 0;
    for (int i = 0; i < npar; ++i) {
      Param p;
      const int nb = d.chance(0.05) ? 0 : d.in(1, 3);  // 0: files shorter than a year
      p.ref = d.values(c.nyear_ref * nb * c.npixel + d.in(0, c.npixel - 1));
      p.fut = d.values(c.nyear_fut * nb * c.npixel + d.in(0, c.npixel - 1));
      p.fut_tail = std::string(static_cast<std::size_t>(d.in(0, 3)), '\x7f');
      p.weight =
          std::vector<std::string>{"1", "2.5", "-1", "0.3"}[static_cast<std::size_t>(d.in(0, 3))];
      wsum += std::atof(p.weight.c_str());
      p.mean = std::to_string(d.in(-5, 20));
      p.std = std::to_string(d.in(0, 9));
      c.params.push_back(p);
    }
    if (wsum == 0) c.params[0].weight = "7";
    const auto r = c.run();
    if (nrec == 0) c.grid = {};  // keep the written (empty) grid for the model
    const auto x = cvtest::model(c);
    ASSERT_EQ(r.status, 0) << iter << r.err;
    EXPECT_EQ(r.out, x.out) << iter;
    EXPECT_EQ(r.err, x.err) << iter;
    for (int n = 1; n <= 8; ++n) {
      EXPECT_EQ(e2e::bits(c.output(n)), e2e::bits(x.files[static_cast<std::size_t>(n - 1)]))
          << "run " << iter << " ofile" << n;
    }
  }
}
