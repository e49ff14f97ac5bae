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
/// then the single-precision offset taken away. Symmetric about zero. The offsets are named
/// values so that the sign test becomes a lane mask and loops over it vectorise.
inline float signed_halfoffset(double v) {
  const bool negative = v < 0.0;
  const double h = negative ? -0.5 : 0.5;
  const float hf = negative ? -0.5f : 0.5f;
  const float t = static_cast<float>(v + h);
  return t - hf;
}

/// The same operation on a single-precision value, in single precision throughout. Same bits as
/// the double steps for every float: v and +-0.5 are floats, and their sum rounded to double and
/// then to single equals their single-precision sum (53 >= 2 * 24 + 2 bits, so the double
/// rounding is innocuous). Saves the widening and narrowing in every lane of hot loops.
inline float signed_halfoffset(float v) {
  const float h = v < 0.0f ? -0.5f : 0.5f;
  const float t = v + h;
  return t - h;
}

/// v + 0.5 in double, rounded to single, then 0.5f taken away in single, whatever the sign.
inline float double_halfoffset(double v) {
  const float t = static_cast<float>(v + 0.5);
  return t - 0.5f;
}

}  // namespace raster
