// The three half-offset roundings written out step by step as they are defined, for tests to
// compute expected values with; independent of the module's own (vectorisation-minded) code.
#pragma once

namespace reference {

/// (v + 0.5f) - 0.5f, both in single precision.
inline float float_halfoffset(float v) {
  const float t = v + 0.5f;
  return t - 0.5f;
}

/// h by the sign test v < 0; the sum in double, rounded to single; h taken away in single.
inline float signed_halfoffset(double v) {
  const double h = v < 0 ? -0.5 : 0.5;
  const float t = static_cast<float>(v + h);
  return t - static_cast<float>(h);
}
/// A single-precision value is widened to double exactly first.
inline float signed_halfoffset(float v) { return signed_halfoffset(static_cast<double>(v)); }

/// v + 0.5 in double, rounded to single, then 0.5f taken away in single.
inline float double_halfoffset(double v) {
  const float t = static_cast<float>(v + 0.5);
  return t - 0.5f;
}

}  // namespace reference
