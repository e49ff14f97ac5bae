// Pixel rules. Each loop is branch-free per value (both sides of a rule are computed and one is
// selected) so that the compiler can vectorise it; logistic's exponential is our own, of plain
// IEEE operations, so its bits do not depend on the processor as the C library's do. The
// precision of every step is spelled out because the outputs are compared bit for bit.
#include "kernels.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "exp_ieee.h"
#include "halfoffset.h"
#include "report.h"

// Each rule is built for the baseline instruction set, AVX2 and AVX-512, and the best one the
// processor has is picked when the program starts; all give the same bits (the vectors run
// across values, every operation is correctly rounded at any width, no contraction).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__)
#define BANDMATH_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define BANDMATH_CLONES
#endif

namespace bandmath {

using raster::double_halfoffset;
using raster::float_halfoffset;
using raster::signed_halfoffset;

namespace {

// |divisor| in single precision against the double constant; NaN is not zero.
inline bool counts_as_zero(float divisor) { return static_cast<double>(std::fabs(divisor)) < 1e-5; }

// For a float x and a double bound b, double(x) < b holds exactly when x is below the smallest
// float not below b, and double(x) > b exactly when x is above the largest float not above b
// (NaN bounds stay NaN and compare false). So the clamping tests can run in single precision,
// where they vectorise, with the outcome of the double comparisons.
float smallest_float_not_below(double b) {
  float f = static_cast<float>(b);
  if (static_cast<double>(f) < b) f = std::nextafter(f, std::numeric_limits<float>::infinity());
  return f;
}
float largest_float_not_above(double b) {
  float f = static_cast<float>(b);
  if (static_cast<double>(f) > b) f = std::nextafter(f, -std::numeric_limits<float>::infinity());
  return f;
}

}  // namespace

BANDMATH_CLONES
void sum_values(const Params&, const Chunk& c, Tally&) {
  const float* __restrict a = c.in1;
  const float* __restrict b = c.in2;
  float* __restrict out = c.out;
  for (int64_t i = 0; i < c.n; ++i) out[i] = float_halfoffset(a[i] + b[i]);
}

BANDMATH_CLONES
void mult_values(const Params&, const Chunk& c, Tally&) {
  const float* __restrict a = c.in1;
  const float* __restrict b = c.in2;
  float* __restrict out = c.out;
  // The product in single precision, then the offset of its sign.
  for (int64_t i = 0; i < c.n; ++i) out[i] = signed_halfoffset(a[i] * b[i]);
}

BANDMATH_CLONES
void div_values(const Params& p, const Chunk& c, Tally&) {
  const float* __restrict a = c.in1;
  const float* __restrict b = c.in2;
  float* __restrict out = c.out;
  const bool take_dividend = std::fabs(p.nan + 1.0) < 1e-5;
  const float nan_value = static_cast<float>(p.nan);
  for (int64_t i = 0; i < c.n; ++i) {
    const bool zero = counts_as_zero(b[i]);
    const float q = double_halfoffset(static_cast<double>(a[i]) / static_cast<double>(b[i]));
    const float z = take_dividend ? float_halfoffset(a[i]) : nan_value;
    out[i] = zero ? z : q;
  }
}

// Quotients above the cap are rare: found in one vectorised pass, then reported and capped in
// pixel order.
BANDMATH_CLONES
void div_report_capped(const Params&, const Chunk& c) {
  const float* __restrict b = c.in2;
  float* __restrict out = c.out;
  int over = 0;
  for (int64_t i = 0; i < c.n; ++i)
    over |= static_cast<int>(!counts_as_zero(b[i]) & (out[i] > 1000.0f));
  if (over == 0) return;
  for (int64_t i = 0; i < c.n; ++i) {
    if (counts_as_zero(b[i]) || !(out[i] > 1000.0f)) continue;
    const int64_t v = c.first_value + i;
    raster::report("rbuf1/rbuf2 = %.2f; value is set to 1000; band %lld pixel %lld\n",
                   static_cast<double>(out[i]), static_cast<long long>(v / c.npixel),
                   static_cast<long long>(v % c.npixel));
    out[i] = 1000.0f;
  }
}

BANDMATH_CLONES
void add_values(const Params& p, const Chunk& c, Tally&) {
  const float* __restrict x = c.in1;
  float* __restrict out = c.out;
  const double k = p.constant;
  for (int64_t i = 0; i < c.n; ++i) out[i] = double_halfoffset(static_cast<double>(x[i]) + k);
}

BANDMATH_CLONES
void scale_values(const Params& p, const Chunk& c, Tally&) {
  const float* __restrict x = c.in1;
  float* __restrict out = c.out;
  const double k = p.constant;
  for (int64_t i = 0; i < c.n; ++i) out[i] = double_halfoffset(static_cast<double>(x[i]) * k);
}

BANDMATH_CLONES
void limit_values(const Params& p, const Chunk& c, Tally& t) {
  const float below_lower = smallest_float_not_below(p.lower);  // x < this: lower > x
  const float above_upper = largest_float_not_above(p.upper);   // x > this: x > upper
  const auto lout = std::bit_cast<uint32_t>(signed_halfoffset(p.lower));
  const auto uout = std::bit_cast<uint32_t>(signed_halfoffset(p.upper));
  // Counted in 32 bits over blocks that cannot overflow them, which keeps the lanes narrow.
  constexpr int64_t kBlock = int64_t{1} << 30;
  for (int64_t base = 0; base < c.n; base += kBlock) {
    const float* __restrict x = c.in1 + base;
    float* __restrict out = c.out + base;
    const int64_t n = std::min(kBlock, c.n - base);
    uint32_t corrected = 0;
    for (int64_t i = 0; i < n; ++i) {
      const float v = x[i];
      // All-ones masks; the lower bound is tested last so that it wins when the bounds cross.
      // NaN is neither below nor above: it keeps its value and is not counted.
      const uint32_t below = 0U - static_cast<uint32_t>(v < below_lower);
      const uint32_t above = 0U - static_cast<uint32_t>(v > above_upper);
      uint32_t r = std::bit_cast<uint32_t>(signed_halfoffset(v));
      r = (r & ~above) | (uout & above);
      r = (r & ~below) | (lout & below);
      out[i] = std::bit_cast<float>(r);
      corrected += (below | above) & 1U;
    }
    t.corrected += corrected;
  }
}

BANDMATH_CLONES
void logistic_values(const Params& p, const Chunk& c, Tally&) {
  const float* __restrict x = c.in1;
  float* __restrict out = c.out;
  const double d = p.a2 - p.a1;
  const double g = p.g;
  const double m = p.m;
  const double a1 = p.a1;
  for (int64_t i = 0; i < c.n; ++i) {
    const double e = exp_ieee(-g * (static_cast<double>(x[i]) - m));
    const double y = d / (1.0 + e) + a1;
    out[i] = signed_halfoffset(y);
  }
}

}  // namespace bandmath
