// Area-weighted global statistics of whole years against a grid file read once.
//
// The running sums of each year are taken strictly in the order of the per-call routine (bands,
// then cells row by row), so the bits are the same; what changes is that up to four years run
// side by side, which keeps the adder busy instead of waiting on one chain of additions.
#include <cmath>

#include "corvane.h"

namespace corvane {

GlobalStats::GlobalStats(FILE* gridfile, int64_t npixel, int64_t nlat, int64_t nlon,
                         const float* natvegfrac) {
  const raster::GridGeometry geo(nlat, nlon);
  const std::vector<int16_t> rec = raster::read_grid_records(gridfile, npixel);
  // Cell map: a later pixel in the same cell replaces an earlier one.
  raster::Buffer<int64_t> map(raster::alloc_count({nlat, nlon}, 8));
  map.fill(-1);
  const auto nrec = static_cast<int64_t>(rec.size() / 2);
  for (int64_t i = 0; i < nrec; ++i) {
    int64_t r = 0;
    int64_t c = 0;
    if (geo.cell_of(rec[static_cast<std::size_t>(2 * i)], rec[static_cast<std::size_t>(2 * i + 1)],
                    &r, &c)) {
      map[r * nlon + c] = i;
    }
  }
  for (int64_t r = 0; r < nlat; ++r) {
    const double w = geo.row_weight(r);
    for (int64_t c = 0; c < nlon; ++c) {
      const int64_t p = map[r * nlon + c];
      if (p < 0) continue;
      pixel_.push_back(p);
      weight_.push_back(w);
      frac_.push_back(static_cast<double>(natvegfrac[p]));
    }
  }
}

double GlobalStats::total_weight(int64_t nbands) const {
  double wsum = 0.0;
  for (int64_t j = 0; j < nbands; ++j) {
    for (std::size_t i = 0; i < pixel_.size(); ++i) wsum = wsum + weight_[i] * frac_[i];
  }
  return wsum;
}

namespace {

template <int K>
void years_k(const float* const* years, int64_t npixel, int64_t nbands, const int64_t* pixel,
             const double* weight, const double* frac, std::size_t ncell, double wsum,
             double* gmean, double* gstd) {
  double t[K];
  for (int k = 0; k < K; ++k) t[k] = 0.0;
  for (int64_t j = 0; j < nbands; ++j) {
    const float* band[K];
    for (int k = 0; k < K; ++k) band[k] = years[k] + j * npixel;
    for (std::size_t i = 0; i < ncell; ++i) {
      const int64_t p = pixel[i];
      const double w = weight[i];
      const double f = frac[i];
      for (int k = 0; k < K; ++k) t[k] = t[k] + (static_cast<double>(band[k][p]) * w) * f;
    }
  }
  double m[K];
  for (int k = 0; k < K; ++k) {
    m[k] = t[k] / wsum;
    gmean[k] = m[k];
  }
  double s[K];
  for (int k = 0; k < K; ++k) s[k] = 0.0;
  for (int64_t j = 0; j < nbands; ++j) {
    const float* band[K];
    for (int k = 0; k < K; ++k) band[k] = years[k] + j * npixel;
    for (std::size_t i = 0; i < ncell; ++i) {
      const int64_t p = pixel[i];
      const double w = weight[i];
      const double f = frac[i];
      for (int k = 0; k < K; ++k) {
        const double v = static_cast<double>(band[k][p]);
        s[k] = s[k] + ((v - m[k]) * (v - m[k]) * w) * f;
      }
    }
  }
  for (int k = 0; k < K; ++k) gstd[k] = std::sqrt(s[k] / wsum);
}

}  // namespace

void GlobalStats::years(const float* const* years, int nyears, int64_t npixel, int64_t nbands,
                        double wsum, double* gmean, double* gstd) const {
  static_assert(kMaxYears == 4);
  const std::size_t n = pixel_.size();
  switch (nyears) {
    case 1:
      return years_k<1>(years, npixel, nbands, pixel_.data(), weight_.data(), frac_.data(), n, wsum,
                        gmean, gstd);
    case 2:
      return years_k<2>(years, npixel, nbands, pixel_.data(), weight_.data(), frac_.data(), n, wsum,
                        gmean, gstd);
    case 3:
      return years_k<3>(years, npixel, nbands, pixel_.data(), weight_.data(), frac_.data(), n, wsum,
                        gmean, gstd);
    default:
      return years_k<4>(years, npixel, nbands, pixel_.data(), weight_.data(), frac_.data(), n, wsum,
                        gmean, gstd);
  }
}

}  // namespace corvane
