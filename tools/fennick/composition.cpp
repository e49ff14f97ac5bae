#include "composition.h"

#include <cmath>

namespace fennick {

float similarity(const float* c1, const float* c2) {
  float s = 0.0f;
  for (int g = 0; g < kGroups; ++g) {
    // Sums run over all 10 slots (slots outside the group count times 0), so a NaN cover
    // anywhere reaches the result instead of being skipped.
    float a = 0.0f;
    float b = 0.0f;
    for (int k = 0; k < kSlots; ++k) {
      a = a + c1[k] * kGroup[k][g];
      b = b + c2[k] * kGroup[k][g];
    }
    float d = 0.0f;
    for (int t = 0; t < kGroupTraits[g]; ++t) {
      float u = 0.0f;
      float v = 0.0f;
      for (int k = 0; k < kSlots; ++k) {
        u = u + (kTrait[k][t] * c1[k]) * kGroup[k][g];
        v = v + (kTrait[k][t] * c2[k]) * kGroup[k][g];
      }
      const float diff = std::fabs(u - v);
      d = static_cast<float>(static_cast<double>(d) +
                             static_cast<double>(diff) * static_cast<double>(kWeight[g][t]));
    }
    const float overlap = b > a ? a : b;
    s = static_cast<float>(static_cast<double>(s) +
                           (1.0 - static_cast<double>(d)) * static_cast<double>(overlap));
  }
  return s;
}

float uncovered(const float* c) {
  float sum = 0.0f;
  for (int k = 1; k < kSlots; ++k) sum = sum + c[k];
  return 1.0f - sum;
}

}  // namespace fennick
