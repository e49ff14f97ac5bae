// Random small runs against the literal algorithm (tests/corvane/corvane_case.cpp): several
// parameters of different band counts, supplied or computed ranges, fractions with negative
// and missing entries, grids with shared cells, cells off the map and missing records, values
// around the 0.001 thresholds, negative weights, future slices past the end of their file.
#include <gtest/gtest.h>

#include <cstdlib>
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

// A random case: up to 3 parameters of up to 3 bands, slices anywhere, future files cut short.
void draw_case(Draw& d, Case& c, int min_npixel, int max_npixel) {
  c.npixel = d.in(min_npixel, max_npixel);
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
}

// Runs the case and compares status, both streams and all eight outputs with the model.
void expect_model(Case& c, const std::string& what) {
  const bool no_grid = c.grid.empty();
  const auto r = c.run();
  if (no_grid) c.grid = {};  // keep the written (empty) grid for the model
  const auto x = cvtest::model(c);
  ASSERT_EQ(r.status, 0) << what << r.err;
  EXPECT_EQ(r.out, x.out) << what;
  EXPECT_EQ(r.err, x.err) << what;
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(e2e::bits(c.output(n)), e2e::bits(x.files[static_cast<std::size_t>(n - 1)]))
        << what << " ofile" << n;
  }
}

}  // namespace

TEST(LiteralAlgorithm, RandomRunsGiveTheSameBytesAndLines) {
  Draw d(20261208);
  for (int iter = 0; iter < 60; ++iter) {
    Case c;
    draw_case(d, c, 1, 6);
    expect_model(c, "run " + std::to_string(iter));
  }
}

// Pixel counts that give every thread a block of its own: 1, 2 and 3 threads (and the default)
// must all give the model's bytes and lines, with short and cut-off future files, NaN, values
// around the thresholds and several parameters of different band counts.
TEST(Threads, EveryThreadCountGivesTheModelsBytesAndLines) {
  Draw d(7);
  for (int iter = 0; iter < 20; ++iter) {
    for (int threads : {1, 2, 3}) {
      Case c;
      Draw same = d;  // the same case for every thread count
      draw_case(same, c, 17, 70);
      const e2e::ScopedEnv tc("OMP_NUM_THREADS", threads);
      expect_model(c, "run " + std::to_string(iter) + ", " + std::to_string(threads) + " threads");
      if (threads == 3) d = same;
    }
  }
}

// A reference that cannot be read at all, beside a readable one, under several threads: the
// messages keep their order and the bytes do not change with the thread count.
TEST(Threads, UnreadableReferenceGivesTheSameRunForEveryThreadCount) {
  std::vector<std::string> outs;
  for (int threads : {1, 2, 3}) {
    Case c;
    c.npixel = 40;
    c.nyear_ref = c.nyear_fut = 3;
    c.nyear_avg = 2;
    c.startyear_ref = 1;
    int64_t size = 0;
    const std::string folder = cvtest::unreadable_input(c, &size);
    if (size < 3 * 40 * 4) GTEST_SKIP() << "folders here have no size to derive bands from";
    Param good;
    good.ref = cvtest::filled(3 * 40, 2.0f);
    good.fut = cvtest::filled(3 * 40, 3.0f);
    Param bad;
    bad.ref_path = bad.fut_path = folder;
    c.params = {good, bad, good};
    const e2e::ScopedEnv tc("OMP_NUM_THREADS", threads);
    const auto r = c.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "Error reading from file ifiles_ref[1]\n"
              "Error reading from file ifiles_fut[1]\n"
              "Error reading from file ifiles_ref[1]\n"
              "Error reading from file ifiles_ref[1]\n"
              "Error reading from file ifiles_ref[1]\n"
              "Error reading from file ifiles_ref[1],error code 1,year 0\n"
              "Error reading from file ifiles_ref[1],error code 1,year 1\n"
              "Error reading from file ifiles_ref[1],error code 1,year 2\n");
    std::string all = r.out;
    for (int n = 1; n <= 8; ++n) all += e2e::read_bytes(c.out(n));
    outs.push_back(all);
  }
  EXPECT_EQ(outs[0], outs[1]);
  EXPECT_EQ(outs[0], outs[2]);
}
