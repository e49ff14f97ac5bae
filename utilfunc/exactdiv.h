// Division by a value that stays the same over many dividends, with the bits of the true
// division: the divisor's correctly rounded reciprocal, taken once with a true division, then one
// multiplication and four fused multiply-adds per dividend. Only for loops compiled for
// processors with FMA: the explicit std::fma calls are the algorithm (elsewhere they would be
// calls into the C library), and the build's -ffp-contract=off keeps the compiler from fusing
// anything else.
//
// Why the result is a / b (binary64, round to nearest even, u = 2^-53, no underflow or overflow:
// see the ranges below). y = RN(1/b) = (1/b)(1 + e1) with |e1| < u, so q0 = RN(a*y) is within
// (2u + u^2)|a/b| of a/b: up to 1.5 ulp, more than the theorem below allows a single correction
// (one sufficed in every test, but without a proof). The remainder a - b*q0, rounded once by the
// FMA to r0 = (a - b*q0)(1 + e3) with |e3| <= u, gives
//   q0 + r0*y = a/b + (a/b - q0)(e1 + e3 + e1*e3),
// within (2u + u^2)^2 |a/b| < 2^-50 ulp(a/b) of a/b, so q1 = RN(q0 + r0*y) is within one ulp of
// a/b. Markstein's theorem (P. Markstein, IBM J. Res. Dev. 34(1), 1990; J.-M. Muller et al.,
// Handbook of Floating-Point Arithmetic, the section on Newton-Raphson-based division with an
// FMA): if y is within half an ulp of 1/b and q within one ulp of a/b, then r = a - b*q is exact
// and RN(q + r*y) = RN(a/b). So r1 = fma(-q1, b, a) and q2 = fma(r1, y, q1) are a / b.
//
// Ranges. With 2^-60 <= |b| <= 2^1000 (usable_divisor), y is normal. With
// 2^-900 <= |q0| <= 2^1020, every q lies in [2^-902, 2^1022] (normal, finite), |a| > 2^-962,
// the rounding of r0 errs by at most 2^-1075 |y| < 2^-60 ulp(a/b) where r0 is subnormal, and
// a - b*q1 is a multiple of ulp(b) ulp(q1) >= 2^-1066, so r1 is exact. Outside that quotient range
// nothing is claimed (`exact` is false and the caller divides). A dividend that is zero, infinite
// or NaN gives q0 = a*y, which is a / b bit for bit for every finite nonzero y; it counts as exact.
#pragma once

#include <cmath>
#include <cstdint>

namespace raster::exactdiv {

inline constexpr double kMinDivisor = 0x1p-60;
inline constexpr double kMaxDivisor = 0x1p1000;
inline constexpr double kMinQuotient = 0x1p-900;
inline constexpr double kMaxQuotient = 0x1p1020;

/// Whether b may divide through its reciprocal: 2^-60 <= |b| <= 2^1000 (never NaN).
inline bool usable_divisor(double b) {
  const double m = std::fabs(b);
  return (m >= kMinDivisor) & (m <= kMaxDivisor);
}

/// Whether every float dividend (widened) gives an exact quotient with the usable divisor b:
/// its nonzero finite values, 2^-149 to 2^128 in magnitude, keep q0 within the quotient range.
inline bool exact_for_floats(double b) {
  const double m = std::fabs(b);
  return (m >= kMinDivisor) & (m <= 0x1p750);
}

/// The reciprocal that quotient() takes, RN(1 / b), by a true division.
inline double reciprocal(double b) { return 1.0 / b; }

struct Quotient {
  double value;
  /// 1 where value is a / b bit for bit, 0 where the caller is to divide (a 64-bit flag, as
  /// wide as the value, so that loops gathering it still vectorise)
  uint64_t exact;
};

/// a / b for a usable divisor b and its reciprocal y, by one multiplication and four fused
/// multiply-adds; branch-free, so loops of it vectorise.
[[gnu::always_inline]] inline Quotient quotient(double a, double b, double y) {
  const double q0 = a * y;
  const double r0 = std::fma(-q0, b, a);
  const double q1 = std::fma(r0, y, q0);
  const double r1 = std::fma(-q1, b, a);
  const double q2 = std::fma(r1, y, q1);
  const double m = std::fabs(q0);
  const bool in_range = (m >= kMinQuotient) & (m <= kMaxQuotient);
  const double ma = std::fabs(a);
  const bool special = (ma == 0.0) | !(ma <= 0x1.fffffffffffffp1023);  // zero, infinite, NaN
  return {in_range ? q2 : q0, static_cast<uint64_t>(in_range | special)};
}

}  // namespace raster::exactdiv
