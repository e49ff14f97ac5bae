// The fused quotient of exactdiv.h against the processor's division, bit for bit: random pairs
// over the whole exponent range, every special value and threshold against each other, and
// quotients a hair from a midpoint between two doubles or from a double. A pair counts as wrong
// when the quotient claims to be exact and differs, and as missed when it does not claim it
// although the true quotient lies well inside the documented range or the dividend is special.
#include "exactdiv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "parallel.h"

namespace {

namespace xd = raster::exactdiv;

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// The loops below are built as the FMA variants of the tools are.
#define FMA_TARGET [[gnu::target("arch=x86-64-v3")]]
bool has_fma() { return __builtin_cpu_supports("x86-64-v3"); }
#else
#define FMA_TARGET
bool has_fma() { return true; }  // std::fma of the C library: slow, but the same results
#endif

#ifdef __SANITIZE_ADDRESS__
constexpr uint64_t kRandomPairs = uint64_t{1} << 26;  // the sanitizer build is far slower
#else
constexpr uint64_t kRandomPairs = 1'000'000'000;
#endif

struct Tally {
  uint64_t pairs = 0, exact = 0, wrong = 0, missed = 0;
  void add(const Tally& t) {
    pairs += t.pairs;
    exact += t.exact;
    wrong += t.wrong;
    missed += t.missed;
  }
};

__extension__ using u128 = unsigned __int128;

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

// Checks pairs (a[i], b[i]) of usable divisors, each with its own reciprocal.
FMA_TARGET Tally check(const double* a, const double* b, int64_t n) {
  uint64_t exact = 0, wrong = 0, missed = 0;
  for (int64_t i = 0; i < n; ++i) {
    const xd::Quotient q = xd::quotient(a[i], b[i], xd::reciprocal(b[i]));
    const double e = a[i] / b[i];
    const double m = std::fabs(e);
    const double ma = std::fabs(a[i]);
    // Twice inside the documented quotient range, or a zero, infinite or NaN dividend.
    const bool must = ((m >= 0x1p-899) & (m <= 0x1p1019)) | (ma == 0.0) | !(ma <= DBL_MAX);
    exact += q.exact;
    wrong += q.exact & static_cast<uint64_t>(bits(q.value) != bits(e));
    missed += static_cast<uint64_t>(must) & (q.exact ^ 1);
  }
  return {static_cast<uint64_t>(n), exact, wrong, missed};
}

uint64_t splitmix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// A significand of 52 bits: random, all ones, all zeros or only its top 6 bits.
uint64_t significand(uint64_t r) {
  const uint64_t s = r & 0xfffffffffffffULL;
  const uint64_t kind = r >> 60;
  return kind == 0 ? 0xfffffffffffffULL : kind == 1 ? 0 : kind == 2 ? s & (0x3fULL << 46) : s;
}

// Divisor i of a stream: any sign, a usable exponent, a significand as above.
double random_divisor(uint64_t r) {
  const uint64_t e = 1023 - 60 + (((r >> 20) & 0xffffffffULL) * 1061 >> 32);
  return std::bit_cast<double>((r << 63) | (e << 52) | significand(splitmix(r)));
}

// A dividend whose exponent lies within 1100 of the divisor's: every quotient from overflow to
// underflow, with subnormal, zero, infinite and NaN dividends where the exponent runs off the
// ends.
double random_dividend(uint64_t r, double b) {
  const int64_t eb = static_cast<int64_t>((bits(b) >> 52) & 0x7ff);
  const auto d = static_cast<int64_t>(((r >> 20) & 0xffffffffULL) * 2201 >> 32) - 1100;
  const int64_t e = std::clamp<int64_t>(eb + d, 0, 2047);
  const uint64_t s = significand(splitmix(r));
  return std::bit_cast<double>((r << 63) | (static_cast<uint64_t>(e) << 52) | s);
}

FMA_TARGET Tally random_pairs(uint64_t first, uint64_t n) {
  constexpr int64_t kBatch = 4096;
  std::vector<double> a(kBatch), b(kBatch);
  Tally t;
  for (uint64_t k = 0; k < n; k += kBatch) {
    const int64_t m = static_cast<int64_t>(std::min<uint64_t>(kBatch, n - k));
    for (int64_t i = 0; i < m; ++i) {
      const uint64_t r = splitmix(2 * (first + k + static_cast<uint64_t>(i)));
      b[i] = random_divisor(r);
      a[i] = random_dividend(splitmix(r + 1), b[i]);
    }
    t.add(check(a.data(), b.data(), m));
  }
  return t;
}

// Every value of interest against every other: specials, the ends of the normal and subnormal
// ranges, the divisor bounds, all-ones and all-zero significands.
std::vector<double> thresholds() {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> v = {0.0,
                           inf,
                           std::numeric_limits<double>::quiet_NaN(),
                           std::bit_cast<double>(0x7ff4000000000123ULL),  // signalling, payload
                           std::bit_cast<double>(0x7ff8000000000456ULL),
                           DBL_MIN,
                           std::nextafter(DBL_MIN, 0.0),  // largest subnormal
                           std::numeric_limits<double>::denorm_min(),
                           0x1p-1050,
                           DBL_MAX,
                           0x1p1023,
                           0x1p-1022,
                           0x1p1022,
                           1.0,
                           3.0,
                           0.1,
                           std::nextafter(1.0, 0.0),
                           std::nextafter(1.0, 2.0),
                           std::nextafter(2.0, 0.0),  // all-ones significand
                           xd::kMinDivisor,
                           xd::kMaxDivisor,
                           std::nextafter(xd::kMinDivisor, 0.0),
                           std::nextafter(xd::kMaxDivisor, inf),
                           xd::kMinQuotient,
                           xd::kMaxQuotient,
                           0x1p-961,
                           0x1p-962 * 3};
  const std::size_t n = v.size();
  for (std::size_t i = 0; i < n; ++i) {
    v.push_back(-v[i]);
    v.push_back(std::nextafter(v[i], 0.0));
    v.push_back(std::nextafter(v[i], inf));
  }
  return v;
}

// Odd b = B (53 bits), a = A < B with A * 2^k = B * M + t: a / b is M * 2^-k plus t / (B 2^k),
// a midpoint between two doubles for k = 54 (M odd) or a double for k = 53, to within a few
// 2^-53 of an ulp. A is t / 2^k modulo B, found by halving modulo B.
bool near_case(uint64_t B, int64_t t, int k, uint64_t& A) {
  uint64_t x = 1;
  for (int i = 0; i < k; ++i) x = (x & 1) ? (x + B) / 2 : x / 2;
  const auto tm = static_cast<u128>((t % static_cast<int64_t>(B) + static_cast<int64_t>(B)) %
                                    static_cast<int64_t>(B));
  A = static_cast<uint64_t>(tm * x % B);
  return A >= (uint64_t{1} << 52);
}

}  // namespace

TEST(ExactDiv, UsableDivisorsAreThoseOfTheDocumentedRange) {
  const double inf = std::numeric_limits<double>::infinity();
  for (const double b : {0x1p-60, -0x1p-60, 0x1p1000, 1.0, -3.0, 0.001, 3.4e38}) {
    EXPECT_TRUE(xd::usable_divisor(b)) << b;
  }
  for (const double b :
       {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(), DBL_MIN, 0x1p-1074,
        std::nextafter(0x1p-60, 0.0), std::nextafter(0x1p1000, inf), DBL_MAX}) {
    EXPECT_FALSE(xd::usable_divisor(b)) << b;
  }
}

TEST(ExactDiv, ThresholdsAgainstEachOther) {
  if (!has_fma()) GTEST_SKIP() << "no FMA on this processor: the fused path is not used here";
  std::vector<double> a, b;
  for (const double x : thresholds()) {
    for (const double y : thresholds()) {
      if (!xd::usable_divisor(y)) continue;
      a.push_back(x);
      b.push_back(y);
      // Dividends at the ends of the quotient range for this divisor.
      for (const double q : {xd::kMinQuotient, xd::kMaxQuotient, 0x1p-899, 0x1p1019}) {
        for (const double f : {1.0, std::nextafter(1.0, 0.0), std::nextafter(1.0, 2.0)}) {
          a.push_back(q * y * f);
          b.push_back(y);
        }
      }
    }
  }
  const Tally t = check(a.data(), b.data(), static_cast<int64_t>(a.size()));
  EXPECT_EQ(t.wrong, 0u);
  EXPECT_EQ(t.missed, 0u);
  EXPECT_GT(t.exact, t.pairs / 2);
}

TEST(ExactDiv, FloatDividendsAreAlwaysExactWithSliceLengths) {
  if (!has_fma()) GTEST_SKIP() << "no FMA on this processor: the fused path is not used here";
  std::vector<float> f = {0.0f,
                          -0.0f,
                          std::numeric_limits<float>::denorm_min(),
                          FLT_MIN,
                          FLT_MAX,
                          std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(),
                          1.0f,
                          0.001f,
                          123.456f};
  for (uint64_t i = 0; i < 100000; ++i)
    f.push_back(std::bit_cast<float>(static_cast<uint32_t>(splitmix(i))));
  std::vector<double> a, b;
  for (const double n : {1.0, 3.0, 12.0, 360.0, 1200.0, 0x1p62, 0x1p750, xd::kMinDivisor}) {
    ASSERT_TRUE(xd::exact_for_floats(n));
    for (const float x : f) {
      a.push_back(static_cast<double>(x));
      b.push_back(n);
    }
  }
  const Tally t = check(a.data(), b.data(), static_cast<int64_t>(a.size()));
  EXPECT_EQ(t.wrong, 0u);
  EXPECT_EQ(t.exact, t.pairs);
}

TEST(ExactDiv, QuotientsAHairFromAMidpointOrADouble) {
  if (!has_fma()) GTEST_SKIP() << "no FMA on this processor: the fused path is not used here";
  std::vector<double> a, b;
  uint64_t constructed = 0;
  for (uint64_t i = 0; a.size() < (1u << 20); ++i) {
    const uint64_t r = splitmix(i);
    const uint64_t B = (uint64_t{1} << 52) | (r & 0xfffffffffffffULL) | 1;
    const int64_t t = static_cast<int64_t>(r >> 60) * 2 - 15;  // odd, -15 to 15
    const int k = (r >> 59 & 1) ? 54 : 53;
    uint64_t A = 0;
    if (!near_case(B, t, k, A)) continue;
    const auto prod = (static_cast<u128>(A) << k) - static_cast<u128>(t);
    ASSERT_EQ(prod % B, 0u);  // A * 2^k = B * M + t
    ++constructed;
    // Scaled over the divisor range and quotients from 2^-1074 to 2^1024.
    const int eb = static_cast<int>((r >> 20) % 1060) - 1060 + 1000;
    const int eq = static_cast<int>((r >> 32) % 2100) - 1076;
    const double bb = std::ldexp(static_cast<double>(B), eb - 52);
    a.push_back(std::ldexp(static_cast<double>(A), eb + eq - 52));
    b.push_back((r >> 58 & 1) ? -bb : bb);
  }
  const Tally t = check(a.data(), b.data(), static_cast<int64_t>(a.size()));
  EXPECT_EQ(constructed, a.size());
  EXPECT_EQ(t.wrong, 0u);
  EXPECT_EQ(t.missed, 0u);
  EXPECT_GT(t.exact, t.pairs * 3 / 4);
}

TEST(ExactDiv, RandomPairsOverTheExponentRange) {
  if (!has_fma()) GTEST_SKIP() << "no FMA on this processor: the fused path is not used here";
  raster::ThreadTeam team(raster::default_thread_count());
  std::vector<Tally> parts(static_cast<std::size_t>(team.size()));
  team.run([&](int k) {
    const uint64_t first = kRandomPairs / parts.size() * static_cast<uint64_t>(k);
    const uint64_t end = k + 1 == team.size()
                             ? kRandomPairs
                             : kRandomPairs / parts.size() * static_cast<uint64_t>(k + 1);
    parts[static_cast<std::size_t>(k)] = random_pairs(first, end - first);
  });
  Tally t;
  for (const Tally& p : parts) t.add(p);
  EXPECT_EQ(t.pairs, kRandomPairs);
  EXPECT_EQ(t.wrong, 0u);
  EXPECT_EQ(t.missed, 0u);
  EXPECT_GT(t.exact, t.pairs / 2);
  std::printf("%llu pairs, %llu through the fused path\n", static_cast<unsigned long long>(t.pairs),
              static_cast<unsigned long long>(t.exact));
}
