// corvane's series and slice-mean loops built with CORVANE_FUSED_QUOTIENTS (this test compiles
// tools/corvane/kernels.cpp so, whatever the tool's build says), which on a processor with FMA
// take the quotients through reciprocals, against the documented formulas with divisions, bit
// for bit: ordinary values and every special one, reference means at and around the 0.001
// threshold, infinite and tiny ones, weights and G from ordinary to unusable, blocks that must
// be redone with divisions, pixel ranges that do not start or end on a block.
#include "kernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using corvane::SeriesParam;
using corvane::kernels::YearSums;

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Picks from `special` one time in `every`, else a value in [lo, hi).
template <class T>
T draw(uint64_t& s, const std::vector<T>& special, int every, double lo, double hi) {
  const uint64_t r = mix(s++);
  if (r % static_cast<uint64_t>(every) == 0) return special[(r >> 32) % special.size()];
  return static_cast<T>(lo + (hi - lo) * static_cast<double>(r >> 11) * 0x1p-53);
}

// Special values of one kind of NaN each, as the NaN a sum carries when two different NaNs meet
// depends on the operand order the compiler picks, in either path: with infinities, the NaN
// they make (the processor's default NaN); without, one NaN with a payload, in values and means.
struct Specials {
  std::vector<float> values;
  std::vector<double> means;
  double nan;
};

Specials specials(bool with_infinities) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::bit_cast<float>(with_infinities ? 0xffc00000u : 0x7fc01234u);
  Specials s;
  s.nan = static_cast<double>(nan);
  s.values = {0.0f,     -0.0f,  nan,    std::numeric_limits<float>::denorm_min(), FLT_MIN, FLT_MAX,
              -FLT_MAX, 0.001f, -0.001f};
  s.means = {0.0,    0.001, -0.001, std::nextafter(0.001, 1.0), -3.0, 1e-30,
             1e-300, 1e300, 3e38,   static_cast<double>(nan)};
  if (with_infinities) {
    s.values.insert(s.values.end(), {inf, -inf});
    s.means.insert(s.means.end(), {static_cast<double>(inf), static_cast<double>(-inf), 1e308});
  }
  return s;
}

struct Sums {
  explicit Sums(std::size_t n) : v(6, std::vector<double>(n)) {}
  YearSums view() {
    return {v[0].data(), v[1].data(), v[2].data(), v[3].data(), v[4].data(), v[5].data()};
  }
  std::vector<std::vector<double>> v;
};

// The documented series terms of one band, with divisions.
void add_band_model(const float* band, int64_t p0, int64_t p1, const SeriesParam& sp, Sums& s) {
  for (int64_t p = p0; p < p1; ++p) {
    const auto i = static_cast<std::size_t>(p);
    const double v = static_cast<double>(band[p]);
    const double r = sp.r[p];
    const double w = sp.w;
    const double g = sp.g;
    s.v[3][i] += (r * ((v * w) / g)) / g;
    s.v[4][i] += (v * ((v * w) / g)) / g;
    s.v[5][i] += sp.rglob[p];
    if (std::fabs(r) > 0.001) {
      s.v[0][i] += (v * w) / r;
      s.v[1][i] += (((v * w) * v) / r) / r;
    } else {
      s.v[0][i] += v * w;
      s.v[1][i] += v * (v * w);
    }
    s.v[2][i] += w;
  }
}

int64_t mismatches(const Sums& a, const Sums& b) {
  int64_t n = 0;
  for (std::size_t k = 0; k < 6; ++k) {
    for (std::size_t i = 0; i < a.v[k].size(); ++i) {
      n += std::bit_cast<uint64_t>(a.v[k][i]) != std::bit_cast<uint64_t>(b.v[k][i]);
    }
  }
  return n;
}

}  // namespace

TEST(FusedKernels, SeriesYearAsDocumented) {
  const double tiny = 1e-300;
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double w, g;
    int special_every;  // one value and one mean in this many is special
    bool overflows;     // the terms can be infinite: only the default NaN, then
  } rows[] = {{1.0 / 3, 12.3, 1000000, false},
              {0.25, -0.7, 7, false},
              {1.0, 87.13, 3, false},
              {tiny, 68.25, 5, false},
              {0.0, 2.0, 5, false},
              {-0.5, 3.0, 5, false},
              {0.5, std::nan(""), 5, false},
              {0.5, tiny, 5, true},
              {1e250, 1e-40, 5, true},
              {0.5, 0.0, 5, true},
              {0.5, inf, 5, true},
              {0.5, 1e-310, 5, true}};
  const int64_t npixel = 1000;
  uint64_t seed = 1;
  for (const auto& row : rows) {
    for (const int64_t nbands : {1, 12}) {
      const Specials sp_values = specials(row.overflows || nbands == 12);
      SeriesParam sp(npixel);
      sp.nbands = nbands;
      sp.w = row.w;
      sp.g = std::isnan(row.g) ? sp_values.nan : row.g;  // a NaN G of the case's kind
      for (int64_t p = 0; p < npixel; ++p) {
        sp.r[p] = draw(seed, sp_values.means, row.special_every, -50, 50);
        sp.rglob[p] = draw(seed, sp_values.means, row.special_every, -2, 2);
      }
      std::vector<float> data(static_cast<std::size_t>(npixel * nbands));
      for (float& v : data) v = draw(seed, sp_values.values, row.special_every, -10, 100);
      Sums fused(static_cast<std::size_t>(npixel));
      for (auto& sum : fused.v) {
        for (double& x : sum) x = draw(seed, std::vector<double>{0.0}, 10, -5, 5);
      }
      Sums model = fused;
      const int64_t p0 = 3, p1 = npixel - 5;  // neither on a block boundary
      corvane::kernels::add_series_year(data.data(), npixel, p0, p1, nbands, sp, fused.view());
      for (int64_t b = 0; b < nbands; ++b) add_band_model(&data[b * npixel], p0, p1, sp, model);
      EXPECT_EQ(mismatches(fused, model), 0)
          << "w " << row.w << " g " << row.g << " bands " << nbands;
    }
  }
}

TEST(FusedKernels, SliceMeanAsDocumented) {
  uint64_t seed = 7;
  const int64_t npixel = 777;
  const int64_t nbands = 12;
  std::vector<float> data(static_cast<std::size_t>(npixel * nbands));
  for (const double n : {360.0, 1.0, 3.0, 0.0, 1e300, 0x1p800}) {
    for (float& v : data) v = draw(seed, specials(n != 3.0).values, 5, -1000, 1000);
    std::vector<double> fused(static_cast<std::size_t>(npixel));
    for (double& x : fused) x = draw(seed, std::vector<double>{0.0}, 10, -5, 5);
    std::vector<double> model = fused;
    corvane::kernels::add_slice_mean(data.data(), npixel, npixel, nbands, n, fused.data());
    for (int64_t b = 0; b < nbands; ++b) {
      for (int64_t p = 0; p < npixel; ++p) {
        model[static_cast<std::size_t>(p)] += static_cast<double>(data[b * npixel + p]) / n;
      }
    }
    int64_t wrong = 0;
    for (std::size_t i = 0; i < fused.size(); ++i) {
      wrong += std::bit_cast<uint64_t>(fused[i]) != std::bit_cast<uint64_t>(model[i]);
    }
    EXPECT_EQ(wrong, 0) << "n " << n;
  }
}
