#include "scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
  Range r{percentile(sorted, plo), percentile(sorted, phi)};
  if (r.lo == r.hi) return {r.lo - 1, r.hi + 1};
  return r;
}

Range centred(Range r, double center) {
  const double d = std::max(std::abs(r.lo - center), std::abs(r.hi - center));
  if (d == 0) return {center - 1, center + 1};
  return {center - d, center + d};
}

Ticks nice_ticks(Range r) {
  Ticks t;
  const double span = r.hi - r.lo;
  const double raw = span / 5;
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

}  // namespace maps
