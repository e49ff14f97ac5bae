#include "frame.h"

#include <cmath>
#include <cstdint>

#include "scale.h"

namespace maps {

namespace {
constexpr double steps[] = {180, 90, 60, 30, 20, 10, 5, 2, 1, 0.5, 0.2, 0.1, 0.05, 0.02, 0.01};
}

std::span<const double> geo_steps() { return steps; }

std::string geo_label(double degrees, double step, Axis axis) {
  double v = degrees;
  if (axis == Axis::lon) {
    v = std::fmod(v, 360.0);
    if (v > 180) v -= 360;
    if (v <= -180) v += 360;
  }
  const double tol = step * 1e-6;
  if (std::abs(v) < tol) return tick_label(0, step) + "\u00b0";
  if (axis == Axis::lon && std::abs(std::abs(v) - 180) < tol)
    return tick_label(180, step) + "\u00b0";
  const char* letter = axis == Axis::lon ? (v > 0 ? "E" : "W") : (v > 0 ? "N" : "S");
  return tick_label(std::abs(v), step) + "\u00b0" + letter;
}

double geo_step(double span, double px_per_degree, const std::function<double(double)>& min_px) {
  for (auto it = std::rbegin(steps); it != std::rend(steps); ++it) {
    const double step = *it;
    if (span / step <= max_geo_intervals * (1 + 1e-9) && step * px_per_degree >= min_px(step))
      return step;
  }
  return steps[0];
}

std::vector<double> geo_ticks(double lo, double hi, double step) {
  std::vector<double> t;
  const auto first = static_cast<int64_t>(std::ceil(lo / step - 1e-6));
  const auto last = static_cast<int64_t>(std::floor(hi / step + 1e-6));
  // Whole multiples of the step: labels without accumulated rounding.
  for (int64_t k = first; k <= last; ++k) t.push_back(static_cast<double>(k) * step);
  return t;
}

}  // namespace maps
