// The loops that touch every value. They are compiled for the baseline instruction set, AVX2 and
// AVX-512, and the best one the processor has is picked when the program starts. All give the
// same bits: the vectors run across pixels, every pixel sees the same IEEE operations in the
// same order (addition, subtraction, multiplication, division and square root are correctly
// rounded at any width), and contraction into fused multiply-adds stays off.
#include <algorithm>
#include <cmath>

#include "mean_tool.h"
#include "utilfunc.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__)
#define MEAN_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define MEAN_CLONES
#endif

namespace meantool {

namespace {

/// acc + term, where both being NaN keeps the term's NaN: the rule of the x86 instructions
/// when the term is their first operand, stated here so that no choice of operand order by the
/// compiler, in any variant, can change which NaN a sum carries. A NaN term is added to itself
/// (which gives that NaN); the addition is always taken, so the loops vectorise with a blend.
inline float accumulate(float acc, float term) { return (term != term ? term : acc) + term; }

// Pixels per block of the multi-year loops: the block's sums stay in the first-level cache while
// the years pass over it.
constexpr int64_t kBlock = 1024;
}  // namespace

MEAN_CLONES
void add_values(float* sum_, const float* v_, int64_t vstride, int64_t nv, int64_t n) {
  float* __restrict sum = sum_;
  for (int64_t q = 0; q < n; q += kBlock) {
    const int64_t m = std::min(kBlock, n - q);
    for (int64_t j = 0; j < nv; ++j) {
      const float* __restrict v = v_ + j * vstride + q;
      for (int64_t p = 0; p < m; ++p)
        sum[q + p] = accumulate(sum[q + p], raster::signed_halfoffset(v[p]));
    }
  }
}

MEAN_CLONES
void finish_means(float* sum, int64_t n, int64_t nyear) {
  const double div = static_cast<double>(nyear);
  for (int64_t p = 0; p < n; ++p) {
    sum[p] = raster::signed_halfoffset(static_cast<double>(sum[p]) / div);
  }
}

MEAN_CLONES
void add_annual(float* annual_, const float* mean_, int64_t n, float nbandsyear) {
  float* __restrict annual = annual_;
  const float* __restrict mean = mean_;
  for (int64_t p = 0; p < n; ++p) {
    const float q = mean[p] / nbandsyear;
    annual[p] = accumulate(annual[p], raster::signed_halfoffset(q));
  }
}

MEAN_CLONES
void add_squared_deviations(float* sq_, const float* v_, int64_t vstride, int64_t nv,
                            const float* mean_, int64_t n) {
  float* __restrict sq = sq_;
  const float* __restrict mean = mean_;
  for (int64_t q = 0; q < n; q += kBlock) {
    const int64_t m = std::min(kBlock, n - q);
    for (int64_t j = 0; j < nv; ++j) {
      const float* __restrict v = v_ + j * vstride + q;
      for (int64_t p = 0; p < m; ++p) {
        const float d = v[p] - mean[q + p];
        sq[q + p] = accumulate(sq[q + p], raster::float_halfoffset(d * d));
      }
    }
  }
}

MEAN_CLONES
void finish_sds(float* sq, int64_t n, int64_t nyear) {
  const double div = static_cast<double>(nyear);
  for (int64_t p = 0; p < n; ++p) {
    sq[p] = raster::signed_halfoffset(std::sqrt(static_cast<double>(sq[p]) / div));
  }
}

}  // namespace meantool
