// The per-value rules that turn sums into output values, shared by the slice products and the
// series.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace corvane::rules {

/// The NaN that the square root of -1 gives on this machine; taken at run time so that the
/// compiler cannot substitute a NaN of its own.
inline double sqrt_of_minus_one() {
  volatile double minus_one = -1.0;
  return std::sqrt(minus_one);
}

/// A sum rounded to single precision and widened back, as the cosine and ratio rules use it.
inline double as_single(double v) { return static_cast<double>(static_cast<float>(v)); }

/// Cosine of the angle from a dot product and two squared norms. `by_magnitude` selects the
/// fallback of the per-pixel slice rule, which compares magnitudes rather than values.
inline double cosine(double nom, double absa, double absb, bool by_magnitude) {
  if (absa > 0.001 && absb > 0.001) return (as_single(nom) / std::sqrt(absa)) / std::sqrt(absb);
  const double a = by_magnitude ? std::fabs(absa) : absa;
  const double b = by_magnitude ? std::fabs(absb) : absb;
  return a <= 0.001 && b <= 0.001 ? 1.0 : 0.0;
}

/// `when ? a : b` by bits, so that both operands are computed and the loop has no branch.
inline double select(bool when, double a, double b) {
  const uint64_t mask = 0 - static_cast<uint64_t>(when);
  return std::bit_cast<double>((std::bit_cast<uint64_t>(a) & mask) |
                               (std::bit_cast<uint64_t>(b) & ~mask));
}

/// cosine(nom, absa, absb, false) with both branches computed and one selected, which
/// vectorises; a root of a negative sum is computed but never selected.
inline double cosine_by_value(double nom, double absa, double absb) {
  const double computed = (as_single(nom) / std::sqrt(absa)) / std::sqrt(absb);
  const double fallback = select((absa <= 0.001) & (absb <= 0.001), 1.0, 0.0);
  return select((absa > 0.001) & (absb > 0.001), computed, fallback);
}

/// Square root where the sum is not negative; elsewhere (NaN included) `nan`, the NaN of
/// sqrt(-1).
inline double guarded_root(double sum, double nan) { return sum >= 0 ? std::sqrt(sum) : nan; }

}  // namespace corvane::rules
