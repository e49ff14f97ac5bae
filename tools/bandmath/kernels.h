// The pixel rules of the band arithmetic tools, one loop per rule.
#pragma once

#include "engine.h"

namespace bandmath {

/// The signed half-offset of a single-precision value, all in single precision. For a float v
/// the double sum v +/- 0.5 is either exact or far from any midpoint between single-precision
/// numbers, so one rounding in single precision gives the bits of raster::signed_halfoffset
/// (checked over every float bit pattern); unlike the double route it vectorises four wide.
inline float signed_halfoffset_single(float v) {
  const float h = 0.5f - static_cast<float>(v < 0.0f);  // -0.5f for v < 0; +0.5f for 0, -0, NaN
  const float t = v + h;
  return t - h;
}

void sum_values(const Params& p, const Chunk& c, Tally& t);
void mult_values(const Params& p, const Chunk& c, Tally& t);
void div_values(const Params& p, const Chunk& c, Tally& t);
void add_values(const Params& p, const Chunk& c, Tally& t);
void scale_values(const Params& p, const Chunk& c, Tally& t);
void limit_values(const Params& p, const Chunk& c, Tally& t);
void logistic_values(const Params& p, const Chunk& c, Tally& t);

}  // namespace bandmath
