// The longitude/latitude frame of a map: which multiples of a degree step get a tick, a label
// and, on request, a graticule line, and how the labels read.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace maps {

enum class Axis { lon, lat };

/// The label of a longitude or latitude: whole or decimal degrees (as many decimals as `step`
/// needs) with E/W or N/S; 0 and 180 without a letter. Longitudes are read modulo 360.
std::string geo_label(double degrees, double step, Axis axis);

/// The steps a frame may use, largest first: 180, 90, 60, 30, 20, 10, 5, 2, 1, 0.5 ... 0.01.
std::span<const double> geo_steps();

/// At most this many steps across an axis: 60 for the 360 degrees of the globe, 30 for 140.
inline constexpr double max_geo_intervals = 6;

/// The smallest step of geo_steps() with at most max_geo_intervals steps across `span` degrees
/// and ticks at least min_px(step) pixels apart (at px_per_degree); the largest step when no
/// step is far enough apart.
double geo_step(double span, double px_per_degree, const std::function<double(double)>& min_px);

/// The multiples of `step` from lo to hi (ends included, within a millionth of a step).
std::vector<double> geo_ticks(double lo, double hi, double step);

}  // namespace maps
