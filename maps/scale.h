// The value range of a map and the ticks of its colour bar.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace maps {

struct Range {
  double lo = 0;
  double hi = 1;
};

/// Percentile p (0-100) of sorted values, interpolated between neighbours (R's quantile type 7).
double percentile(std::span<const float> sorted, double p);

/// The finite values of `values`, sorted.
std::vector<float> sorted_finite(std::span<const float> values);

/// The range from percentiles plo and phi of the finite values. No finite value: 0..1; one
/// value only: that value +- 1 (a bar needs a width).
Range robust_range(std::span<const float> sorted, double plo, double phi);

/// The range widened to be symmetric about `center`, which then sits in the middle of the bar.
Range centred(Range r, double center);

/// Ticks of the colour bar: multiples of 1, 2, 2.5 or 5 x 10^k, 3 to 7 of them inside the range.
struct Ticks {
  double step = 1;
  std::vector<double> values;
  std::vector<std::string> labels;
};
Ticks nice_ticks(Range r);

/// A value written with as many decimals as the tick step needs ("-0" written "0").
std::string tick_label(double v, double step);

/// Values below and above the range (infinities included), and NaN values.
struct Counts {
  int64_t below = 0;
  int64_t above = 0;
  int64_t nan = 0;
};
Counts count_outside(std::span<const float> values, Range r);

}  // namespace maps
