// The pixel rules of the band arithmetic tools, one loop per rule.
#pragma once

#include "engine.h"

namespace bandmath {

/// The signed half-offset with the offset's sign taken as a number (v < 0 counts 1) rather
/// than chosen by a select: the same steps, precisions and bits as raster::signed_halfoffset,
/// in a form the compiler keeps branch-free inside the value loops.
inline float signed_halfoffset_flat(double v) {
  const float h = 0.5f - static_cast<float>(v < 0.0);  // -0.5f for v < 0; +0.5f for 0, -0, NaN
  const float t = static_cast<float>(v + static_cast<double>(h));
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
