// The loops that touch every value of every year. They are compiled for the baseline
// instruction set, AVX2 and AVX-512, and the best one the processor has is picked when the
// program starts. All give the same bits: each pixel's sums see the same IEEE operations in the
// same order (the vectors run across pixels; division and multiplication are correctly rounded
// at any width), and contraction into fused multiply-adds stays off.
//
// The series and the slice means divide many values by the same divisor: G per parameter, the
// pixel's divisor across all years, the slice length. Built with CORVANE_FUSED_QUOTIENTS, the
// variants with FMA take those quotients through the divisor's reciprocal and fused corrections
// (utilfunc/exactdiv.h), which give the bits of the division, and redo with divisions a block
// whose quotients they cannot vouch for. It is off by default: where the divider keeps pace with
// the rest of the loop (AMD Zen 3: the series took 2.3 times as long) it does not pay.
#include "kernels.h"

#include <algorithm>
#include <cmath>

#include "exactdiv.h"
#include "rules.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__)
#define CORVANE_VARIANTS 1
#define CORVANE_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define CORVANE_CLONES
#endif

namespace corvane::kernels {

namespace {

namespace xd = raster::exactdiv;

// Pixels per block: the block's sums stay in the first-level cache while all bands pass.
constexpr int64_t kBlock = 256;

// The six series sums of one block, offset to its first pixel.
struct BlockSums {
  double* __restrict nom;
  double* __restrict absa;
  double* __restrict absb;
  double* __restrict nom_glob;
  double* __restrict absa_glob;
  double* __restrict absb_glob;
};

BlockSums block_sums(const YearSums& s, int64_t q) {
  return {s.nom_ts + q,      s.absa_ts + q,      s.absb_ts + q,
          s.nom_ts_glob + q, s.absa_ts_glob + q, s.absb_ts_glob + q};
}

// The per-pixel divisor: R where |R| is above 0.001, else 1.0 (dividing by it is exact), so one
// formula serves both cases of the per-pixel normalisation.
inline double pixel_divisor(double r) { return rules::select(std::fabs(r) > 0.001, r, 1.0); }

// One band over one block of pixels, by division.
[[gnu::always_inline]] inline void add_band_divided(const float* __restrict band, int64_t n,
                                                    double w, double g, const double* __restrict r,
                                                    const double* __restrict rglob, BlockSums s) {
  for (int64_t j = 0; j < n; ++j) {
    const double v = static_cast<double>(band[j]);
    const double rdiv = pixel_divisor(r[j]);
    const double vw = v * w;
    const double t = vw / g;
    s.nom_glob[j] += (r[j] * t) / g;
    s.absa_glob[j] += (v * t) / g;
    s.absb_glob[j] += rglob[j];
    s.nom[j] += vw / rdiv;
    s.absa[j] += ((vw * v) / rdiv) / rdiv;
    s.absb[j] += w;
  }
}

// The same terms through the reciprocals yg of G and yr of the pixel divisors rdiv. False when a
// quotient is not known exact; the sums are then not to be used.
[[gnu::always_inline]] inline bool add_band_fused(const float* __restrict band, int64_t n, double w,
                                                  double g, double yg, const double* __restrict r,
                                                  const double* __restrict rdiv,
                                                  const double* __restrict yr,
                                                  const double* __restrict rglob, BlockSums s) {
  uint64_t exact = 1;
  for (int64_t j = 0; j < n; ++j) {
    const double v = static_cast<double>(band[j]);
    const double vw = v * w;
    const xd::Quotient t = xd::quotient(vw, g, yg);
    const xd::Quotient nom_glob = xd::quotient(r[j] * t.value, g, yg);
    const xd::Quotient absa_glob = xd::quotient(v * t.value, g, yg);
    const xd::Quotient nom = xd::quotient(vw, rdiv[j], yr[j]);
    const xd::Quotient absa1 = xd::quotient(vw * v, rdiv[j], yr[j]);
    const xd::Quotient absa = xd::quotient(absa1.value, rdiv[j], yr[j]);
    s.nom_glob[j] += nom_glob.value;
    s.absa_glob[j] += absa_glob.value;
    s.absb_glob[j] += rglob[j];
    s.nom[j] += nom.value;
    s.absa[j] += absa.value;
    s.absb[j] += w;
    exact &= t.exact & nom_glob.exact & absa_glob.exact & nom.exact & absa1.exact & absa.exact;
  }
  return exact != 0;
}

// One year of one parameter over pixels [p0, p1): bands in order within each pixel, as the sums
// require.
[[gnu::always_inline]] inline void series_year_divided(const float* data, int64_t stride,
                                                       int64_t p0, int64_t p1, int64_t nbands,
                                                       const SeriesParam& sp, const YearSums& s) {
  for (int64_t q = p0; q < p1; q += kBlock) {
    const int64_t n = std::min(kBlock, p1 - q);
    for (int64_t b = 0; b < nbands; ++b) {
      add_band_divided(data + b * stride + q, n, sp.w, sp.g, sp.r.data() + q, sp.rglob.data() + q,
                       block_sums(s, q));
    }
  }
}

// One block through the reciprocals; false, with the sums as they were, where a pixel divisor
// is not usable or a quotient not known exact.
[[gnu::always_inline]] inline bool series_block_fused(const float* data, int64_t stride, int64_t q,
                                                      int64_t n, int64_t nbands, double yg,
                                                      const SeriesParam& sp, BlockSums s) {
  const double* r = sp.r.data() + q;
  double rdiv[kBlock];
  double yr[kBlock];
  uint64_t usable = 1;
  for (int64_t j = 0; j < n; ++j) {
    rdiv[j] = pixel_divisor(r[j]);
    yr[j] = xd::reciprocal(rdiv[j]);
    usable &= static_cast<uint64_t>(xd::usable_divisor(rdiv[j]));
  }
  if (usable == 0) return false;
  double kept[6][kBlock];
  double* const sums[6] = {s.nom, s.absa, s.absb, s.nom_glob, s.absa_glob, s.absb_glob};
  for (int k = 0; k < 6; ++k) std::copy(sums[k], sums[k] + n, kept[k]);
  bool exact = true;
  for (int64_t b = 0; b < nbands; ++b) {
    exact &= add_band_fused(data + b * stride + q, n, sp.w, sp.g, yg, r, rdiv, yr,
                            sp.rglob.data() + q, s);
  }
  if (exact) return true;
  for (int k = 0; k < 6; ++k) std::copy(kept[k], kept[k] + n, sums[k]);
  return false;
}

[[gnu::always_inline]] inline void series_year_fused(const float* data, int64_t stride, int64_t p0,
                                                     int64_t p1, int64_t nbands,
                                                     const SeriesParam& sp, const YearSums& s) {
  if (!xd::usable_divisor(sp.g)) {
    series_year_divided(data, stride, p0, p1, nbands, sp, s);
    return;
  }
  const double yg = xd::reciprocal(sp.g);
  for (int64_t q = p0; q < p1; q += kBlock) {
    const int64_t n = std::min(kBlock, p1 - q);
    if (series_block_fused(data, stride, q, n, nbands, yg, sp, block_sums(s, q))) continue;
    series_year_divided(data, stride, q, q + n, nbands, sp, s);
  }
}

[[gnu::always_inline]] inline void slice_mean_divided(const float* data, int64_t stride,
                                                      int64_t n_pixels, int64_t nbands, double n,
                                                      double* __restrict mean) {
  for (int64_t b = 0; b < nbands; ++b) {
    const float* band = data + b * stride;
    for (int64_t p = 0; p < n_pixels; ++p) mean[p] += static_cast<double>(band[p]) / n;
  }
}

// Every quotient of a float by a slice length is exact (exact_for_floats), so no block is redone.
[[gnu::always_inline]] inline void slice_mean_fused(const float* data, int64_t stride,
                                                    int64_t n_pixels, int64_t nbands, double n,
                                                    double* __restrict mean) {
  if (!xd::exact_for_floats(n)) {
    slice_mean_divided(data, stride, n_pixels, nbands, n, mean);
    return;
  }
  const double y = xd::reciprocal(n);
  for (int64_t b = 0; b < nbands; ++b) {
    const float* band = data + b * stride;
    for (int64_t p = 0; p < n_pixels; ++p) {
      mean[p] += xd::quotient(static_cast<double>(band[p]), n, y).value;
    }
  }
}

#ifdef CORVANE_VARIANTS
// One version per instruction set, the best picked at start. The baseline and AVX2 (which does
// not imply FMA) divide, and never call the C library's fma.
#define CORVANE_KERNEL_VERSION(isa, series_body, mean_body)                                        \
  [[gnu::target(isa)]] void series_year(const float* data, int64_t stride, int64_t p0, int64_t p1, \
                                        int64_t nbands, const SeriesParam& sp,                     \
                                        const YearSums& s) {                                       \
    series_body(data, stride, p0, p1, nbands, sp, s);                                              \
  }                                                                                                \
  [[gnu::target(isa)]] void slice_mean(const float* data, int64_t stride, int64_t n_pixels,        \
                                       int64_t nbands, double n, double* mean) {                   \
    mean_body(data, stride, n_pixels, nbands, n, mean);                                            \
  }
CORVANE_KERNEL_VERSION("default", series_year_divided, slice_mean_divided)
CORVANE_KERNEL_VERSION("avx2", series_year_divided, slice_mean_divided)
#ifdef CORVANE_FUSED_QUOTIENTS
CORVANE_KERNEL_VERSION("arch=x86-64-v3", series_year_fused, slice_mean_fused)
CORVANE_KERNEL_VERSION("avx512f", series_year_fused, slice_mean_fused)
#else
CORVANE_KERNEL_VERSION("avx512f", series_year_divided, slice_mean_divided)
#endif
#undef CORVANE_KERNEL_VERSION
#else
void series_year(const float* data, int64_t stride, int64_t p0, int64_t p1, int64_t nbands,
                 const SeriesParam& sp, const YearSums& s) {
  series_year_divided(data, stride, p0, p1, nbands, sp, s);
}
void slice_mean(const float* data, int64_t stride, int64_t n_pixels, int64_t nbands, double n,
                double* mean) {
  slice_mean_divided(data, stride, n_pixels, nbands, n, mean);
}
#endif

}  // namespace

void add_slice_mean(const float* data, int64_t stride, int64_t n_pixels, int64_t nbands, double n,
                    double* mean) {
  slice_mean(data, stride, n_pixels, nbands, n, mean);
}

void add_series_year(const float* data, int64_t stride, int64_t p0, int64_t p1, int64_t nbands,
                     const SeriesParam& sp, const YearSums& s) {
  series_year(data, stride, p0, p1, nbands, sp, s);
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
