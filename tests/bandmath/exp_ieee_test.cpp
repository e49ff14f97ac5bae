// exp_ieee: special arguments, the overflow and underflow thresholds, subnormal results, random
// arguments against MPFR's correctly rounded exp, its table, and bits that must not change.
#include "exp_ieee.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using bandmath::exp_ieee;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kMinSub = std::numeric_limits<double>::denorm_min();

uint64_t bits(double v) { return std::bit_cast<uint64_t>(v); }
std::string hex(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%a", v);
  return buf;
}

// exp(x) correctly rounded to double by MPFR, subnormals rounded on their own grid.
double rounded_exp(double x) {
  mpfr_t a, r;
  mpfr_init2(a, 53);
  mpfr_init2(r, 53);
  mpfr_set_d(a, x, MPFR_RNDN);
  const mpfr_exp_t emin = mpfr_get_emin();
  const mpfr_exp_t emax = mpfr_get_emax();
  mpfr_set_emin(-1073);
  mpfr_set_emax(1024);
  const int t = mpfr_exp(r, a, MPFR_RNDN);
  mpfr_subnormalize(r, t, MPFR_RNDN);
  const double rounded = mpfr_get_d(r, MPFR_RNDN);
  mpfr_set_emin(emin);
  mpfr_set_emax(emax);
  mpfr_clear(a);
  mpfr_clear(r);
  return rounded;
}

// |y - exp(x)| / ulp(exp(x)), from a 200-bit exp; exp(x) must be below 2^1024.
double ulp_error(double x, double y) {
  mpfr_t a, e, d;
  mpfr_init2(a, 53);
  mpfr_init2(e, 200);
  mpfr_init2(d, 400);
  mpfr_set_d(a, x, MPFR_RNDN);
  mpfr_exp(e, a, MPFR_RNDN);
  const mpfr_exp_t ulp = std::max<mpfr_exp_t>(mpfr_get_exp(e) - 53, -1074);
  mpfr_set_d(d, y, MPFR_RNDN);
  mpfr_sub(d, d, e, MPFR_RNDN);
  mpfr_mul_2si(d, d, -ulp, MPFR_RNDN);
  const double err = std::fabs(mpfr_get_d(d, MPFR_RNDN));
  mpfr_clears(a, e, d, static_cast<mpfr_ptr>(nullptr));
  return err;
}

double nan_with(uint64_t payload, bool negative, bool quiet) {
  uint64_t b = 0x7ff0000000000000ULL | payload;
  if (quiet) b |= uint64_t{1} << 51;
  if (negative) b |= uint64_t{1} << 63;
  return std::bit_cast<double>(b);
}

struct Case {
  const char* name;
  double x;
  double want;  // compared bit for bit
};

TEST(ExpIeee, SpecialArgumentsAndThresholds) {
  const Case cases[] = {
      {"+0", 0.0, 1.0},
      {"-0", -0.0, 1.0},
      {"+inf", kInf, kInf},
      {"-inf", -kInf, 0.0},
      {"largest double", kMax, kInf},
      {"most negative double", -kMax, 0.0},
      {"smallest subnormal argument", kMinSub, 1.0},
      {"2^-60", 0x1p-60, 1.0},
      {"-2^-60", -0x1p-60, 1.0},
      // e^(2^-52) = 1 + 2^-52 + 2^-105.
      {"2^-52", 0x1p-52, 1.0 + 0x1p-52},
      // e^(-2^-53) = 1 - 2^-53 + 2^-107: nearest is the double below 1.
      {"-2^-53", -0x1p-53, 1.0 - 0x1p-53},
      // e^(-2^-54) = 1 - 2^-54 + 2^-109: above the midpoint below 1, rounds to 1.
      {"-2^-54", -0x1p-54, 1.0},
      {"1", 1.0, 0x1.5bf0a8b145769p+1},
      {"-1", -1.0, 0x1.78b56362cef38p-2},
      // Overflow: the last argument whose exp rounds below 2^1024, and the next one.
      {"last finite", 0x1.62e42fefa39efp+9, 0x1.fffffffffff2ap+1023},
      {"first overflowing", 0x1.62e42fefa39f0p+9, kInf},
      {"710", 710.0, kInf},
      {"800 (the clamp)", 800.0, kInf},
      {"1e300", 1e300, kInf},
      // Underflow: the last argument that rounds to 2^-1074, and the first that gives 0.
      {"last nonzero", -0x1.74910d52d3051p+9, kMinSub},
      {"first zero", -0x1.74910d52d3052p+9, 0.0},
      {"-746", -746.0, 0.0},
      {"-800 (the clamp)", -800.0, 0.0},
      {"-1e300", -1e300, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": x = " + hex(c.x));
    const double got = exp_ieee(c.x);
    EXPECT_EQ(bits(got), bits(c.want)) << hex(got) << " instead of " << hex(c.want);
    // The expectations themselves are the correctly rounded values.
    EXPECT_EQ(bits(rounded_exp(c.x)), bits(c.want));
  }
  // e^(2^-53) = 1 + 2^-53 + 2^-107 lies 2^-107 above the midpoint of 1 and the next double:
  // 1 is off by 0.5 + 2^-55 ulp (the C library's exp gives 1 too).
  EXPECT_EQ(bits(exp_ieee(0x1p-53)), bits(1.0));
  EXPECT_EQ(bits(rounded_exp(0x1p-53)), bits(1.0 + 0x1p-52));
  EXPECT_LT(ulp_error(0x1p-53, 1.0), 0.51);
}

TEST(ExpIeee, NaNComesBackQuietWithSignAndPayload) {
  const Case cases[] = {
      {"default quiet NaN", std::numeric_limits<double>::quiet_NaN(), 0},
      {"quiet NaN with payload", nan_with(0x12345, false, true), 0},
      {"negative quiet NaN", nan_with(0xabcdef, true, true), 0},
      {"signalling NaN", nan_with(0x1, false, false), 0},
      {"negative signalling NaN", nan_with(0x7ffffffffffff, true, false), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const double got = exp_ieee(c.x);
    EXPECT_TRUE(std::isnan(got));
    EXPECT_EQ(bits(got), bits(c.x) | (uint64_t{1} << 51)) << hex(got);
  }
}

TEST(ExpIeee, SubnormalResultsAreRoundedOnce) {
  // Below ln(2^-1022) = -708.396... results are subnormal; each must be within 1 ulp (2^-1074)
  // of exp(x) and, on these arguments, equal to the correctly rounded value.
  const Case cases[] = {
      {"last normal", -0x1.6232bdd7abcd2p+9, 0},
      {"first subnormal", -0x1.6232bdd7abcd3p+9, 0},
      {"-708.5", -708.5, 0},
      {"-720", -720.0, 0},
      {"-740", -740.0, 0},
      {"-745", -745.0, 0},
      {"-745.13", -745.13, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": x = " + hex(c.x));
    const double got = exp_ieee(c.x);
    const double want = rounded_exp(c.x);
    EXPECT_EQ(bits(got), bits(want)) << hex(got) << " instead of " << hex(want);
    EXPECT_LT(ulp_error(c.x, got), 1.0);
    const bool want_subnormal = c.x < -0x1.6232bdd7abcd2p+9;
    EXPECT_EQ(std::fpclassify(got) == FP_SUBNORMAL, want_subnormal);
  }
  // A random sweep of the subnormal range: errors in units of 2^-1074.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-745.1332191019411, -708.39641853226420);
  double worst = 0;
  for (int i = 0; i < 2000; ++i) {
    const double x = u(rng);
    const double got = exp_ieee(x);
    const double err = ulp_error(x, got);
    ASSERT_LT(err, 1.0) << "x = " << hex(x) << " gives " << hex(got);
    worst = std::max(worst, err);
  }
  EXPECT_LE(worst, 0.51);
}

struct Range {
  const char* name;
  double lo, hi;
  bool log_uniform;  // |x| log-uniform in [lo, hi], either sign
};

TEST(ExpIeee, RandomArgumentsWithinHalfAnUlpAndABit) {
  const Range ranges[] = {
      {"every normal result", -708.39, 709.78, false},
      {"logistic arguments", -40.0, 40.0, false},
      {"|x| < 1", -1.0, 1.0, false},
      {"tiny |x|", 0x1p-60, 0x1p-1, true},
      {"near overflow", 700.0, 709.78271289338397, false},
  };
  std::mt19937_64 rng(20240611);
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.name);
    std::uniform_real_distribution<double> u(r.log_uniform ? std::log2(r.lo) : r.lo,
                                             r.log_uniform ? std::log2(r.hi) : r.hi);
    int not_rounded = 0;
    double worst = 0;
    constexpr int n = 1000;
    for (int i = 0; i < n; ++i) {
      double x = u(rng);
      if (r.log_uniform) x = std::exp2(x) * ((rng() & 1) != 0 ? 1.0 : -1.0);
      const double got = exp_ieee(x);
      const double err = ulp_error(x, got);
      ASSERT_LT(err, 1.0) << "x = " << hex(x) << " gives " << hex(got);
      worst = std::max(worst, err);
      not_rounded += bits(got) != bits(rounded_exp(x));
    }
    // The bound of the method is 0.51 ulp; about 1 in 1000 results is not correctly rounded.
    EXPECT_LE(worst, 0.51);
    EXPECT_LE(not_rounded, n / 100);
  }
}

TEST(ExpIeee, TableHoldsTwoToTheJOver128AsHiPlusLo) {
  namespace d = bandmath::exp_detail;
  mpfr_t t, hi, rest;
  mpfr_inits2(200, t, rest, static_cast<mpfr_ptr>(nullptr));
  mpfr_init2(hi, 53);
  for (uint64_t j = 0; j < d::kTableSize; ++j) {
    SCOPED_TRACE("j = " + std::to_string(j));
    mpfr_set_ui(t, static_cast<unsigned long>(j), MPFR_RNDN);
    mpfr_div_ui(t, t, 128, MPFR_RNDN);
    mpfr_exp2(t, t, MPFR_RNDN);
    mpfr_set(hi, t, MPFR_RNDN);
    mpfr_sub(rest, t, hi, MPFR_RNDN);
    EXPECT_EQ(d::kTable[2 * j], mpfr_get_d(hi, MPFR_RNDN));
    EXPECT_EQ(d::kTable[2 * j + 1], mpfr_get_d(rest, MPFR_RNDN));
  }
  mpfr_clears(t, hi, rest, static_cast<mpfr_ptr>(nullptr));
}

// Bits of this implementation that a build contracting a * b + c into fused multiply-adds
// changes (found by comparing such a build with the project's): they pin the plain IEEE steps.
TEST(ExpIeee, SameBitsAsThePlainIeeeSteps) {
  const Case cases[] = {
      {"a", 0x1.9c05016d926c4p+3, 0x1.7d82c578792a4p+18},
      {"b", 0x1.20fb32cc3517ep+4, 0x1.0a508cac02512p+26},
      {"c", 0x1.1558acd6bc578p+2, 0x1.30da858f29d79p+6},
      {"d", -0x1.d12c6c85fd6dp+7, 0x1.5d46da63f12b1p-336},
      {"e", -0x1.2874d5516a158p+2, 0x1.3ef6a9ec9f944p-7},
      {"f", -0x1.4d11dea6da8cep+9, 0x1.f34680b633b74p-962},
      {"g", 0x1.3d42efba39698p+9, 0x1.573f0a8a5c6c8p+915},
      {"h", 0x1.1a935581ed31p+1, 0x1.230286c35d711p+3},
      {"i", -0x1.ed438549d22p+1, 0x1.5b62e58d139e5p-6},
      {"j", 0x1.50a616784400ep+9, 0x1.4940b77d7e905p+971},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": x = " + hex(c.x));
    EXPECT_EQ(bits(exp_ieee(c.x)), bits(c.want)) << hex(exp_ieee(c.x));
    EXPECT_LT(ulp_error(c.x, c.want), 1.0);
  }
}

// A loop the compiler vectorises gives the bits of one call at a time.
TEST(ExpIeee, LoopGivesTheBitsOfSingleCalls) {
  std::vector<double> x;
  for (int i = 0; i < 1001; ++i) x.push_back(-760.0 + 1.47 * i + 1e-3 * (i % 7));
  x.insert(x.end(), {0.0, -0.0, kInf, -kInf, std::numeric_limits<double>::quiet_NaN(), 1e-300});
  std::vector<double> y(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) y[i] = exp_ieee(x[i]);
  double (*volatile one)(double) = [](double v) { return exp_ieee(v); };
  for (std::size_t i = 0; i < x.size(); ++i) {
    SCOPED_TRACE("x = " + hex(x[i]));
    EXPECT_EQ(bits(y[i]), bits(one(x[i])));
  }
}

}  // namespace
