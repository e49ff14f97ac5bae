#include "scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace maps {

std::vector<float> sorted_finite(std::span<const float> values) {
  std::vector<float> v;
  v.reserve(values.size());
  for (float x : values) {
    if (std::isfinite(x)) v.push_back(x);
  }
  std::sort(v.begin(), v.end());
  return v;
}

double percentile(std::span<const float> sorted, double p) {
  const double h = static_cast<double>(sorted.size() - 1) * p / 100.0;
  const auto k = static_cast<size_t>(std::floor(h));
  const double a = sorted[k];
  if (k + 1 >= sorted.size()) return a;
  return a + (h - static_cast<double>(k)) * (static_cast<double>(sorted[k + 1]) - a);
}

Range robust_range(std::span<const float> sorted, double plo, double phi) {
  if (sorted.empty()) return {0, 1};
  return widened(percentile(sorted, plo), percentile(sorted, phi));
}

Range widened(double lo, double hi) {
  if (lo == hi) return {lo - 1, hi + 1};
  return {lo, hi};
}

Range centred(Range r, double center) {
  const double d = std::max(std::abs(r.lo - center), std::abs(r.hi - center));
  if (d == 0) return {center - 1, center + 1};
  return {center - d, center + d};
}

Side side_of(double min, double max, double center) {
  if (min >= center && max > center) return Side::above;
  if (max <= center && min < center) return Side::below;
  return Side::both;
}

Ticks nice_ticks(Range r, int target) {
  Ticks t;
  const double span = r.hi - r.lo;
  const double raw = span / target;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * mag;
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
    if (m * mag >= raw * (1 - 1e-9)) {
      step = m * mag;
      break;
    }
  }
  t.step = step;
  // Ticks as whole multiples of the step, so labels carry no accumulated rounding.
  const double tol = span * 1e-9;
  const auto first = static_cast<int64_t>(std::ceil((r.lo - tol) / step));
  const auto last = static_cast<int64_t>(std::floor((r.hi + tol) / step));
  for (int64_t k = first; k <= last; ++k) {
    const double v = static_cast<double>(k) * step;
    t.values.push_back(v);
    t.labels.push_back(tick_label(v, step));
  }
  return t;
}

std::string tick_label(double v, double step) {
  char buf[64];
  const double a = std::max(std::abs(v), step);
  if (a >= 1e6 || step < 1e-4) {
    std::snprintf(buf, sizeof buf, "%.6g", v);
  } else {
    int decimals = 0;
    while (decimals < 6) {
      const double scaled = step * std::pow(10.0, decimals);
      if (std::abs(scaled - std::round(scaled)) < 1e-6 * scaled) break;
      ++decimals;
    }
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  }
  std::string s = buf;
  if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);
  return s;
}

Counts count_outside(std::span<const float> values, Range r) {
  Counts c;
  for (float x : values) {
    if (std::isnan(x)) {
      ++c.nan;
    } else if (static_cast<double>(x) < r.lo) {
      ++c.below;
    } else if (static_cast<double>(x) > r.hi) {
      ++c.above;
    }
  }
  return c;
}

namespace {

constexpr int bins = 1 << 16;

// The float's bits as an unsigned key in the order of the values (-0 just below +0).
uint32_t key_of(float v) {
  uint32_t u = 0;
  std::memcpy(&u, &v, sizeof u);
  return (u >> 31) != 0 ? ~u : u | 0x80000000u;
}

float value_of(uint32_t key) {
  const uint32_t u = (key >> 31) != 0 ? key & 0x7fffffffu : ~key;
  float v = 0;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

// The ranks (0-based, in the sorted finite values) that percentile() reads for p.
std::pair<int64_t, int64_t> ranks_of(int64_t n, double p) {
  const double h = static_cast<double>(n - 1) * p / 100.0;
  const auto k = static_cast<int64_t>(std::floor(h));
  return {k, std::min(k + 1, n - 1)};
}

}  // namespace

PercentileCounter::PercentileCounter(std::vector<double> percents)
    : percents_(std::move(percents)), high_(bins, 0) {}

void PercentileCounter::first_pass(std::span<const float> values) {
  for (float x : values) {
    if (!std::isfinite(x)) continue;
    ++high_[key_of(x) >> 16];
    const double v = x;
    if (n_ == 0 || v < min_) min_ = v;
    if (n_ == 0 || v > max_) max_ = v;
    ++n_;
  }
}

// The high bins of the wanted ranks, and how many values lie below each.
void PercentileCounter::find_bins() {
  bins_found_ = true;
  if (n_ == 0) return;
  std::vector<int64_t> ranks;
  for (double p : percents_) {
    const auto [a, b] = ranks_of(n_, p);
    ranks.push_back(a);
    ranks.push_back(b);
  }
  int64_t below = 0;
  for (uint32_t bin = 0; bin < bins; ++bin) {
    const int64_t in = high_[bin];
    const bool wanted = std::any_of(ranks.begin(), ranks.end(),
                                    [&](int64_t r) { return r >= below && r < below + in; });
    if (wanted) {
      bins_.push_back(bin);
      before_.push_back(below);
      low_.emplace_back(bins, 0);
    }
    below += in;
  }
}

void PercentileCounter::second_pass(std::span<const float> values) {
  if (!bins_found_) find_bins();
  for (float x : values) {
    if (!std::isfinite(x)) continue;
    const uint32_t key = key_of(x);
    const auto it = std::find(bins_.begin(), bins_.end(), key >> 16);
    if (it != bins_.end()) ++low_[static_cast<size_t>(it - bins_.begin())][key & 0xffffu];
  }
}

double PercentileCounter::at_rank(int64_t rank) const {
  for (size_t i = 0; i < bins_.size(); ++i) {
    int64_t below = before_[i];
    if (rank < below || rank >= below + high_[bins_[i]]) continue;
    for (uint32_t low = 0; low < bins; ++low) {
      below += low_[i][low];
      if (rank < below) return value_of((bins_[i] << 16) | low);
    }
  }
  return std::nan("");  // not reached after both passes over the same values
}

double PercentileCounter::value(size_t i) const {
  const double p = percents_[i];
  const double h = static_cast<double>(n_ - 1) * p / 100.0;
  const auto [k, k1] = ranks_of(n_, p);
  const double a = at_rank(k);
  if (k1 == k) return a;
  return a + (h - static_cast<double>(k)) * (at_rank(k1) - a);
}

}  // namespace maps
