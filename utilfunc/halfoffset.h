// The three half-offset roundings applied to values before they are stored.
//
// None of them converts to an integer: adding and removing one half rounds a value to the
// grid of single-precision numbers near |v| + 0.5. Which one applies, and in which precision
// each step runs, is part of every tool's output bytes, so the steps here are fixed exactly.
#pragma once

namespace raster {

/// (v + 0.5f) - 0.5f, both steps in single precision.
inline float float_halfoffset(float v) {
  const float t = v + 0.5f;
  return t - 0.5f;
}

/// Offset of the value's sign (+0.5 for 0, -0 and NaN): the sum in double, rounded to single,
/// then the single-precision offset taken away. Symmetric about zero. A float argument widens
/// exactly, so one overload serves single and double inputs.
inline float signed_halfoffset(double v) {
  const bool negative = v < 0.0;
  const float t = static_cast<float>(v + (negative ? -0.5 : 0.5));
  return t - (negative ? -0.5f : 0.5f);
}

/// v + 0.5 in double, rounded to single, then 0.5f taken away in single, whatever the sign.
inline float double_halfoffset(double v) {
  const float t = static_cast<float>(v + 0.5);
  return t - 0.5f;
}

}  // namespace raster
