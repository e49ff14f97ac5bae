// The loops that touch every value of every year. They are compiled twice, for the baseline
// instruction set and for AVX2, and the better one is picked when the program starts. Both
// give the same bits: each pixel's sums see the same IEEE operations in the same order (the
// vectors run across pixels), and contraction into fused multiply-adds stays off.
#include <algorithm>

#include "corvane.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__)
#define CORVANE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define CORVANE_CLONES
#endif

namespace corvane::kernels {

namespace {
// Pixels per block: the block's sums stay in the first-level cache while all bands pass.
constexpr int64_t kBlock = 256;
}  // namespace

CORVANE_CLONES
void add_slice_mean(const float* data, int64_t npixel, int64_t nbands, double n, double* mean_) {
  double* __restrict mean = mean_;
  for (int64_t b = 0; b < nbands; ++b) {
    const float* band = data + b * npixel;
    for (int64_t p = 0; p < npixel; ++p) mean[p] += static_cast<double>(band[p]) / n;
  }
}

namespace {

// One band over one block of pixels; every array is offset to the block's first pixel.
inline void add_series_band(const float* __restrict band, int64_t n, double w, double g,
                            const double* __restrict r, const double* __restrict rdiv,
                            const double* __restrict rglob, double* __restrict nom_ts,
                            double* __restrict absa_ts, double* __restrict absb_ts,
                            double* __restrict nom_ts_glob, double* __restrict absa_ts_glob,
                            double* __restrict absb_ts_glob) {
  for (int64_t j = 0; j < n; ++j) {
    const double v = static_cast<double>(band[j]);
    const double vw = v * w;
    const double t = vw / g;
    nom_ts_glob[j] += (r[j] * t) / g;
    absa_ts_glob[j] += (v * t) / g;
    absb_ts_glob[j] += rglob[j];
    nom_ts[j] += vw / rdiv[j];
    absa_ts[j] += ((vw * v) / rdiv[j]) / rdiv[j];
    absb_ts[j] += w;
  }
}

}  // namespace

CORVANE_CLONES
void add_series_year(const float* data, int64_t npixel, int64_t nbands, const SeriesParam& sp,
                     double* nom_ts, double* absa_ts, double* absb_ts, double* nom_ts_glob,
                     double* absa_ts_glob, double* absb_ts_glob) {
  for (int64_t p0 = 0; p0 < npixel; p0 += kBlock) {
    const int64_t n = std::min(kBlock, npixel - p0);
    // Bands in order within each pixel, as the sums require.
    for (int64_t b = 0; b < nbands; ++b) {
      add_series_band(data + b * npixel + p0, n, sp.w, sp.g, sp.r + p0, sp.rdiv + p0, sp.rglob + p0,
                      nom_ts + p0, absa_ts + p0, absb_ts + p0, nom_ts_glob + p0, absa_ts_glob + p0,
                      absb_ts_glob + p0);
    }
  }
}

}  // namespace corvane::kernels
