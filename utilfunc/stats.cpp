#include "stats.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "buffer.h"
#include "exactmath.h"

namespace raster {

void timeseries_mean_bsq_float(const float* data, int64_t npixel, int64_t nyear, int64_t nbands,
                               double* mean, double* std) {
  for (int64_t p = 0; p < npixel; ++p) {
    mean[p] = 0.0;
    if (std != nullptr) std[p] = 0.0;
  }
  const double n = static_cast<double>(nyear * nbands);
  const int64_t nb = nyear * nbands;
  for (int64_t b = 0; b < nb; ++b) {
    const float* band = data + b * npixel;
    for (int64_t p = 0; p < npixel; ++p) mean[p] += static_cast<double>(band[p]) / n;
  }
  if (std == nullptr) return;
  for (int64_t b = 0; b < nb; ++b) {
    const float* band = data + b * npixel;
    for (int64_t p = 0; p < npixel; ++p) {
      const double d = static_cast<double>(band[p]) - mean[p];
      std[p] += d * d / n;
    }
  }
  for (int64_t p = 0; p < npixel; ++p) std[p] = std::sqrt(std[p]);
}

GridGeometry::GridGeometry(int64_t nlat_, int64_t nlon_)
    : nlat(nlat_),
      nlon(nlon_),
      res(static_cast<float>(180.0 / static_cast<double>(nlat_))),
      lat0(res / 2 - 90) {}

bool GridGeometry::cell_of(int16_t lon100, int16_t lat100, int64_t* row, int64_t* col) const {
  const double lon = lon100 / 100.0;
  const double lat = lat100 / 100.0;
  const double r = static_cast<double>(res);
  const int64_t c =
      lon < 0 ? static_cast<int64_t>(0.01 + (lon + 360) / r) : static_cast<int64_t>(0.01 + lon / r);
  const int64_t k = static_cast<int64_t>(0.01 + (lat + 90) / r);
  // Single precision on purpose: for some resolutions 180/res falls just below nlat.
  const int64_t rr = static_cast<int64_t>(180.0f / res - static_cast<float>(k));
  *row = rr;
  *col = c;
  return rr >= 0 && rr < nlat && c >= 0 && c < nlon;
}

double GridGeometry::row_weight(int64_t r) const {
  constexpr double pi = 3.141592653589793;
  const float x = static_cast<float>(r) * res + lat0;
  return cos_rounded(static_cast<double>(x) / 180 * pi);
}

GridRecords read_grid_records(FILE* gridfile, int64_t npixel) {
  GridRecords rec;
  std::fseek(gridfile, 0, SEEK_SET);
  if (npixel <= 0) return rec;
  rec.values.resize(alloc_count({npixel, 2}, 2));
  rec.count = static_cast<int64_t>(
      std::fread(rec.values.data(), 4, static_cast<std::size_t>(npixel), gridfile));
  return rec;
}

namespace {

// Cell map of one grid: entry r * nlon + c holds the last pixel that landed there, or -1.
Buffer<int64_t> build_cell_map(const GridGeometry& geo, const GridRecords& rec) {
  Buffer<int64_t> map(alloc_count({geo.nlat, geo.nlon}, 8));
  map.fill(-1);
  for (int64_t i = 0; i < rec.count; ++i) {
    int64_t r = 0;
    int64_t c = 0;
    if (geo.cell_of(rec.values[2 * i], rec.values[2 * i + 1], &r, &c)) map[r * geo.nlon + c] = i;
  }
  return map;
}

}  // namespace

void global_mean_areaweighted_float(FILE* gridfile, const float* data, int64_t npixel, int64_t nlat,
                                    int64_t nlon, int64_t ngroups, int64_t nbands, double* gmean,
                                    double* gstd, const float* natvegfrac) {
  const GridGeometry geo(nlat, nlon);
  Buffer<double> w(nlat);
  const Buffer<int64_t> map = build_cell_map(geo, read_grid_records(gridfile, npixel));
  for (int64_t r = 0; r < nlat; ++r) w[r] = geo.row_weight(r);

  // Every mapped pixel of group g's bands, in the routine's order: band, row, column.
  const auto visit = [&](int64_t g, auto&& add) {
    for (int64_t j = 0; j < nbands; ++j) {
      const float* band = data + (g * nbands + j) * npixel;
      for (int64_t r = 0; r < nlat; ++r) {
        for (int64_t c = 0; c < nlon; ++c) {
          const int64_t p = map[r * nlon + c];
          if (p >= 0) add(static_cast<double>(band[p]), w[r], static_cast<double>(natvegfrac[p]));
        }
      }
    }
  };
  for (int64_t g = 0; g < ngroups; ++g) {
    double wsum = 0.0;
    double tsum = 0.0;
    visit(g, [&](double v, double wr, double f) {
      wsum = wsum + wr * f;
      tsum = tsum + (v * wr) * f;
    });
    const double m = tsum / wsum;
    gmean[g] = m;
    double ssum = 0.0;
    visit(g, [&](double v, double wr, double f) { ssum = ssum + ((v - m) * (v - m) * wr) * f; });
    gstd[g] = std::sqrt(ssum / wsum);
  }
}

AreaWeightedGrid::AreaWeightedGrid(const InFile& gridfile, int64_t npixel, int64_t nlat,
                                   int64_t nlon) {
  const GridGeometry geo(nlat, nlon);
  const Buffer<int64_t> map = build_cell_map(geo, read_grid_records(gridfile.get(), npixel));
  const int64_t ncell = nlat * nlon;
  for (int64_t i = 0; i < ncell; ++i) n_ += map[i] >= 0 ? 1 : 0;
  pixel_.resize(n_);
  weight_.resize(n_);
  int64_t k = 0;
  for (int64_t r = 0; r < nlat; ++r) {
    const double w = geo.row_weight(r);
    for (int64_t c = 0; c < nlon; ++c) {
      const int64_t p = map[r * nlon + c];
      if (p < 0) continue;
      pixel_[k] = p;
      weight_[k] = w;
      ++k;
    }
  }
}

namespace {

// K groups side by side. The total weight does not depend on the data, so one running sum
// serves every group; it is taken in the same order as the per-call routine takes it.
template <int K>
void groups_side_by_side(const float* const* groups, int64_t npixel, int64_t nbands,
                         const int64_t* pixel, const double* weight, int64_t n,
                         const float* natvegfrac, double* gmean, double* gstd) {
  double wsum = 0.0;
  double t[K];
  for (int k = 0; k < K; ++k) t[k] = 0.0;
  for (int64_t j = 0; j < nbands; ++j) {
    const float* band[K];
    for (int k = 0; k < K; ++k) band[k] = groups[k] + j * npixel;
    for (int64_t i = 0; i < n; ++i) {
      const int64_t p = pixel[i];
      const double w = weight[i];
      const double f = static_cast<double>(natvegfrac[p]);
      wsum = wsum + w * f;
      for (int k = 0; k < K; ++k) t[k] = t[k] + (static_cast<double>(band[k][p]) * w) * f;
    }
  }
  double m[K];
  double s[K];
  for (int k = 0; k < K; ++k) {
    m[k] = t[k] / wsum;
    s[k] = 0.0;
  }
  for (int64_t j = 0; j < nbands; ++j) {
    const float* band[K];
    for (int k = 0; k < K; ++k) band[k] = groups[k] + j * npixel;
    for (int64_t i = 0; i < n; ++i) {
      const int64_t p = pixel[i];
      const double w = weight[i];
      const double f = static_cast<double>(natvegfrac[p]);
      for (int k = 0; k < K; ++k) {
        const double v = static_cast<double>(band[k][p]);
        s[k] = s[k] + ((v - m[k]) * (v - m[k]) * w) * f;
      }
    }
  }
  for (int k = 0; k < K; ++k) {
    gmean[k] = m[k];
    gstd[k] = std::sqrt(s[k] / wsum);
  }
}

}  // namespace

void AreaWeightedGrid::stats_groups(const float* const* groups, int64_t npixel, int64_t ngroups,
                                    int64_t nbands, double* gmean, double* gstd,
                                    const float* natvegfrac) const {
  using Sweep = void (*)(const float* const*, int64_t, int64_t, const int64_t*, const double*,
                         int64_t, const float*, double*, double*);
  static constexpr Sweep sweep[] = {groups_side_by_side<1>, groups_side_by_side<2>,
                                    groups_side_by_side<3>, groups_side_by_side<4>};
  static_assert(std::size(sweep) == kSideBySide);
  for (int64_t g = 0; g < ngroups; g += kSideBySide) {
    const int64_t k = std::min(kSideBySide, ngroups - g);
    sweep[k - 1](groups + g, npixel, nbands, pixel_.data(), weight_.data(), n_, natvegfrac,
                 gmean + g, gstd + g);
  }
}

void AreaWeightedGrid::stats(const float* data, int64_t npixel, int64_t ngroups, int64_t nbands,
                             double* gmean, double* gstd, const float* natvegfrac) const {
  const float* groups[kSideBySide];
  for (int64_t g = 0; g < ngroups; g += kSideBySide) {
    const int64_t k = std::min(kSideBySide, ngroups - g);
    for (int64_t i = 0; i < k; ++i) groups[i] = data + (g + i) * nbands * npixel;
    stats_groups(groups, npixel, k, nbands, gmean + g, gstd + g, natvegfrac);
  }
}

}  // namespace raster
