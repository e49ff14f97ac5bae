// The loops that touch every value of every year. They are compiled for the baseline
// instruction set, AVX2 and AVX-512, and the best one the processor has is picked when the
// program starts. All give the same bits: each pixel's sums see the same IEEE operations in the
// same order (the vectors run across pixels; division and multiplication are correctly rounded
// at any width), and contraction into fused multiply-adds stays off.
#include "kernels.h"

#include <algorithm>
#include <cmath>

#include "rules.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__)
#define CORVANE_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define CORVANE_CLONES
#endif

namespace corvane::kernels {

namespace {
// Pixels per block: the block's sums stay in the first-level cache while all bands pass.
constexpr int64_t kBlock = 256;
}  // namespace

CORVANE_CLONES
void add_slice_mean(const float* data, int64_t stride, int64_t n_pixels, int64_t nbands, double n,
                    double* mean_) {
  double* __restrict mean = mean_;
  for (int64_t b = 0; b < nbands; ++b) {
    const float* band = data + b * stride;
    for (int64_t p = 0; p < n_pixels; ++p) mean[p] += static_cast<double>(band[p]) / n;
  }
}

namespace {

// One band over one block of pixels; every array is offset to the block's first pixel.
// Where |R| is not above 0.001 the per-pixel terms divide by 1.0, which is exact, so one
// formula serves both cases of the per-pixel normalisation.
inline void add_series_band(const float* __restrict band, int64_t n, double w, double g,
                            const double* __restrict r, const double* __restrict rglob,
                            double* __restrict nom_ts, double* __restrict absa_ts,
                            double* __restrict absb_ts, double* __restrict nom_ts_glob,
                            double* __restrict absa_ts_glob, double* __restrict absb_ts_glob) {
  for (int64_t j = 0; j < n; ++j) {
    const double v = static_cast<double>(band[j]);
    const double rdiv = std::fabs(r[j]) > 0.001 ? r[j] : 1.0;
    const double vw = v * w;
    const double t = vw / g;
    nom_ts_glob[j] += (r[j] * t) / g;
    absa_ts_glob[j] += (v * t) / g;
    absb_ts_glob[j] += rglob[j];
    nom_ts[j] += vw / rdiv;
    absa_ts[j] += ((vw * v) / rdiv) / rdiv;
    absb_ts[j] += w;
  }
}

}  // namespace

CORVANE_CLONES
void add_series_year(const float* data, int64_t stride, int64_t p0, int64_t p1, int64_t nbands,
                     const SeriesParam& sp, const YearSums& s) {
  const double* r = sp.r.data();
  const double* rglob = sp.rglob.data();
  for (int64_t q = p0; q < p1; q += kBlock) {
    const int64_t n = std::min(kBlock, p1 - q);
    // Bands in order within each pixel, as the sums require.
    for (int64_t b = 0; b < nbands; ++b) {
      add_series_band(data + b * stride + q, n, sp.w, sp.g, r + q, rglob + q, s.nom_ts + q,
                      s.absa_ts + q, s.absb_ts + q, s.nom_ts_glob + q, s.absa_ts_glob + q,
                      s.absb_ts_glob + q);
    }
  }
}

CORVANE_CLONES
void series_bands(const YearSums& s, int64_t p0, int64_t p1, double nan, float* __restrict angle,
                  float* __restrict magnitude, float* __restrict angle_glob,
                  float* __restrict magnitude_glob) {
  using rules::cosine_by_value;
  for (int64_t p = p0; p < p1; ++p) {
    angle[p] = static_cast<float>(cosine_by_value(s.nom_ts[p], s.absa_ts[p], s.absb_ts[p]));
    const double a = s.absa_ts[p];
    const double root = std::sqrt(a);
    magnitude[p] = static_cast<float>(rules::select(a >= 0, root, nan));
    angle_glob[p] =
        static_cast<float>(cosine_by_value(s.nom_ts_glob[p], s.absa_ts_glob[p], s.absb_ts_glob[p]));
    magnitude_glob[p] = static_cast<float>(std::sqrt(s.absa_ts_glob[p]));
  }
}

}  // namespace corvane::kernels
