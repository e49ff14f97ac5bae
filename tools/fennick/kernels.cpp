// Every variant gives the same bits: each pixel sees the same IEEE operations in the same order
// as composition.cpp's similarity() (the vectors run across pixels, conversions between single
// and double are exact or correctly rounded at any width) and contraction into fused
// multiply-adds stays off. Only the bits of a NaN depend on the operand order the compiler
// picks for each addition, so pixels whose value is NaN are taken from similarity() itself.
#include "kernels.h"

#include <algorithm>
#include <cmath>

#include "composition.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__)
#define FENNICK_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define FENNICK_CLONES
#endif

namespace fennick::kernels {

namespace {
// Pixels compared together; their partial sums stay in the first-level cache.
constexpr int64_t kSub = 64;
}  // namespace

FENNICK_CLONES
void add_band(const float* x_, int64_t n, float years, float* m_) {
  const float* __restrict x = x_;
  float* __restrict m = m_;
  for (int64_t i = 0; i < n; ++i) {
    const float t = x[i] / years;
    const float sum = m[i] + t;
    m[i] = t != t ? t : sum;
  }
}

FENNICK_CLONES
void values(float* m1, float* m2, int64_t stride, const float* test, int64_t n, bool sim,
            float* out_) {
  float* __restrict out = out_;
  for (int64_t q = 0; q < n; q += kSub) {
    const int64_t nb = std::min(kSub, n - q);
    // Slot 0: 1 minus the covers of slots 1 to 9, added in order.
    for (float* m : {m1, m2}) {
      float sum[kSub];
      for (int64_t i = 0; i < nb; ++i) sum[i] = 0.0f;
      for (int k = 1; k < kSlots; ++k) {
        const float* __restrict c = m + k * stride + q;
        for (int64_t i = 0; i < nb; ++i) sum[i] = sum[i] + c[i];
      }
      float* __restrict c0 = m + q;
      for (int64_t i = 0; i < nb; ++i) c0[i] = 1.0f - sum[i];
    }
    float s[kSub];
    for (int64_t i = 0; i < nb; ++i) s[i] = 0.0f;
    for (int g = 0; g < kGroups; ++g) {
      float a[kSub];
      float b[kSub];
      for (int64_t i = 0; i < nb; ++i) a[i] = b[i] = 0.0f;
      for (int k = 0; k < kSlots; ++k) {
        const float w = kGroup[k][g];
        const float* __restrict c1 = m1 + k * stride + q;
        const float* __restrict c2 = m2 + k * stride + q;
        for (int64_t i = 0; i < nb; ++i) {
          a[i] = a[i] + c1[i] * w;
          b[i] = b[i] + c2[i] * w;
        }
      }
      float d[kSub];
      for (int64_t i = 0; i < nb; ++i) d[i] = 0.0f;
      for (int t = 0; t < kGroupTraits[g]; ++t) {
        float u[kSub];
        float v[kSub];
        for (int64_t i = 0; i < nb; ++i) u[i] = v[i] = 0.0f;
        for (int k = 0; k < kSlots; ++k) {
          const float trait = kTrait[k][t];
          const float w = kGroup[k][g];
          const float* __restrict c1 = m1 + k * stride + q;
          const float* __restrict c2 = m2 + k * stride + q;
          for (int64_t i = 0; i < nb; ++i) {
            u[i] = u[i] + (trait * c1[i]) * w;
            v[i] = v[i] + (trait * c2[i]) * w;
          }
        }
        const double weight = static_cast<double>(kWeight[g][t]);
        for (int64_t i = 0; i < nb; ++i) {
          const float diff = std::fabs(u[i] - v[i]);
          d[i] = static_cast<float>(static_cast<double>(d[i]) + static_cast<double>(diff) * weight);
        }
      }
      for (int64_t i = 0; i < nb; ++i) {
        const float overlap = b[i] > a[i] ? a[i] : b[i];
        s[i] = static_cast<float>(static_cast<double>(s[i]) +
                                  (1.0 - static_cast<double>(d[i])) * static_cast<double>(overlap));
      }
    }
    for (int64_t i = 0; i < nb; ++i) {
      // Band 0 of the last year of period 1 gates the pixel; NaN does not pass.
      const float v = static_cast<double>(test[q + i]) > 0.001 ? s[i] : 1.0f;
      out[q + i] = sim ? v : 1.0f - v;
    }
  }
  // A NaN value again, one pixel at a time, so that its bits are the ones similarity() gives.
  for (int64_t i = 0; i < n; ++i) {
    if (!std::isnan(out[i])) continue;
    float c1[kSlots];
    float c2[kSlots];
    for (int k = 1; k < kSlots; ++k) {
      c1[k] = m1[k * stride + i];
      c2[k] = m2[k * stride + i];
    }
    c1[0] = uncovered(c1);
    c2[0] = uncovered(c2);
    const float s = similarity(c1, c2);
    out[i] = sim ? s : 1.0f - s;
  }
}

}  // namespace fennick::kernels
