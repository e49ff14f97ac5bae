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
/// lo .. hi, or lo - 1 .. hi + 1 when they meet.
Range widened(double lo, double hi);

/// The range widened to be symmetric about `center`, which then sits in the middle of the bar.
Range centred(Range r, double center);

/// Where the finite values lie against a centre: on both sides (or all on it), or all on one.
enum class Side { both, above, below };
Side side_of(double min, double max, double center);

/// Exact percentiles (as percentile() on the sorted finite values) of more values than memory
/// may hold: a first pass over all values counts them by the high 16 bits of an order-keeping
/// key, a second pass over the same values counts, by the low 16 bits, only those in the few
/// bins that hold the wanted ranks.
class PercentileCounter {
 public:
  explicit PercentileCounter(std::vector<double> percents);
  void first_pass(std::span<const float> values);
  void second_pass(std::span<const float> values);
  int64_t finite() const { return n_; }
  double min() const { return min_; }
  double max() const { return max_; }
  /// Percentile `i` of the constructor's list; after both passes, with finite() > 0.
  double value(size_t i) const;

 private:
  void find_bins();
  double at_rank(int64_t rank) const;
  std::vector<double> percents_;
  std::vector<int64_t> high_;  // values per high 16 bits of the key
  int64_t n_ = 0;
  double min_ = 0, max_ = 0;
  bool bins_found_ = false;
  std::vector<uint32_t> bins_;             // the high bins that hold wanted ranks
  std::vector<int64_t> before_;            // per wanted bin: values in lower bins
  std::vector<std::vector<int64_t>> low_;  // per wanted bin: values per low 16 bits
};

/// Ticks of the colour bar: multiples of 1, 2, 2.5 or 5 x 10^k inside the range; the step is
/// the first of these at least a `target`-th of the range (target 5: 3 to 7 ticks).
struct Ticks {
  double step = 1;
  std::vector<double> values;
  std::vector<std::string> labels;
};
Ticks nice_ticks(Range r, int target = 5);

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
