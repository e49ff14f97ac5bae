// Per-parameter accumulation of the change metric.
//
// The reference file is read in two passes over whole years. The first gathers the yearly
// global statistics and, in its slice years, the reference-slice mean (the mean adds its terms
// in year, band, pixel order, so year-by-year reading gives the same bits as one slice read).
// The second builds the series, which need the finished slice mean. The future file is read
// once, over its slice. Messages appear as if the slices were read in one piece before the
// year passes: reference slice, future slice, then one per short year of each pass.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "corvane.h"

namespace corvane {

Sums::Sums(int64_t npixel, int64_t nyear) {
  const int64_t n = raster::alloc_count({npixel, nyear}, 8);
  raster::Buffer<double>* series[] = {&nom_ts,       &absa_ts,      &nom_ts_glob,
                                      &absa_ts_glob, &absb_ts_glob, &absb_ts};
  // Every allocation is made before any is filled, so a run too large for memory fails at
  // once instead of after touching gigabytes.
  for (raster::Buffer<double>* b : series) b->resize(n);
  raster::Buffer<double>* slice[] = {&nom,      &diffsq,      &absa,      &absb,
                                     &nom_glob, &diffsq_glob, &absa_glob, &absb_glob};
  for (raster::Buffer<double>* b : slice) b->resize(npixel);
  for (raster::Buffer<double>* b : series) b->fill(0.0);
  for (raster::Buffer<double>* b : slice) b->fill(0.0);
}

namespace {

constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();

// Reads n values; what did not arrive is NaN rather than whatever the buffer held before.
// Returns whether all n arrived.
bool read_or_nan(raster::InFile& in, float* dst, int64_t n) {
  const int64_t got = in.read_floats(dst, n);
  for (int64_t j = got < 0 ? 0 : got; j < n; ++j) dst[j] = kMissing;
  return got >= n;
}

void fill_missing(float* dst, int64_t n) {
  for (int64_t j = 0; j < n; ++j) dst[j] = kMissing;
}

// Slice sums of one parameter at every pixel, both normalisations.
void add_slice_sums(int64_t npixel, const double* mean_ref, const double* mean_fut, double w,
                    double g, Sums& s) {
  for (int64_t p = 0; p < npixel; ++p) {
    const double r = mean_ref[p];
    const double f = mean_fut[p];
    s.absb[p] += w;
    if (std::fabs(r) > 0.001) {
      s.diffsq[p] += ((((f - r) * w) / r) * (f - r)) / r;
      s.nom[p] += (f * w) / r;
      s.absa[p] += (((f * w) * f) / r) / r;
    } else if (std::fabs(f) > 0.001) {
      // Reference near zero: the future value enters unscaled.
      s.diffsq[p] += (f - r) * ((f - r) * w);
      s.nom[p] += f * w;
      s.absa[p] += f * (f * w);
    } else {
      // Both near zero: a reference and a future component of 1 each.
      s.nom[p] += w;
      s.absa[p] += w;
    }
    s.diffsq_glob[p] += ((f - r) * (((f - r) * w) / g)) / g;
    s.nom_glob[p] += (f * ((r * w) / g)) / g;
    s.absa_glob[p] += (f * ((f * w) / g)) / g;
    s.absb_glob[p] += (r * ((r * w) / g)) / g;
  }
}

void add_parameter(Run& run, int i, const raster::AreaWeightedGrid& grid, const float* natvegfrac,
                   Work& work, Sums& sums) {
  const auto idx = static_cast<std::size_t>(i);
  raster::InFile& ref = run.ifiles_ref[idx];
  raster::InFile& fut = run.ifiles_fut[idx];
  const int64_t npixel = run.npixel;

  const int nb_ref = static_cast<int>(ref.size() / npixel / 4 / run.nyear_ref);
  const int nb_fut = static_cast<int>(fut.size() / npixel / 4 / run.nyear_fut);
  if (nb_ref != nb_fut) fail_plain("File1 and File2 have different sizes! Exit.\n");
  const int64_t nb = nb_ref;
  run.nbands_year = nb_ref;
  const int64_t nyear = run.nyear_ref;
  const int64_t year_values = raster::alloc_count({npixel, nb}, 4);
  const int64_t nslot = work.rbuf_years;
  work.rbuf.resize(raster::alloc_count({year_values, nslot}, 4));
  float* rbuf = work.rbuf.data();
  const double w = run.weight[idx];
  const double n_slice = static_cast<double>(static_cast<int64_t>(run.nyear_avg) * nb);
  const int64_t slice_first = run.startyear_ref;
  const int64_t slice_end = slice_first + run.nyear_avg;
  auto in_slice = [&](int64_t y) { return y >= slice_first && y < slice_end; };

  double* mean_ref = work.mean_ref.data();
  double* mean_fut = work.mean_fut.data();
  work.mean_ref.fill(0.0);
  work.mean_fut.fill(0.0);
  work.global_mean.fill(0.0);
  work.global_std.fill(0.0);

  // Pass 1 over the reference file, a few years at a time: yearly global statistics and the
  // reference-slice mean.
  bool ref_slice_short = false;
  int64_t short_years = 0;
  ref.seek(0);
  for (int64_t y0 = 0; y0 < nyear; y0 += nslot) {
    const int nk = static_cast<int>(std::min(nslot, nyear - y0));
    const float* years[raster::AreaWeightedGrid::kSideBySide];
    for (int k = 0; k < nk; ++k) {
      float* slot = rbuf + k * year_values;
      years[k] = slot;
      if (!read_or_nan(ref, slot, year_values)) {
        ++short_years;
        if (in_slice(y0 + k)) ref_slice_short = true;
      }
    }
    grid.stats_groups(years, nk, npixel, nb, &work.global_mean[y0], &work.global_std[y0],
                      natvegfrac);
    for (int k = 0; k < nk; ++k) {
      if (in_slice(y0 + k)) kernels::add_slice_mean(years[k], npixel, nb, n_slice, mean_ref);
    }
  }
  if (ref_slice_short) std::fprintf(stderr, "Error reading from file ifiles_ref[%d]\n", i);

  // The future slice, year by year; after the first shortfall nothing more is read, as one
  // read of the whole slice would have stopped there.
  bool fut_short = false;
  int64_t offset = 0;
  if (__builtin_mul_overflow(static_cast<int64_t>(run.startyear_fut), year_values * 4, &offset)) {
    fut_short = true;  // further out than any file can reach
  } else {
    fut.seek(offset);
  }
  for (int64_t y = 0; y < run.nyear_avg; ++y) {
    if (fut_short) {
      fill_missing(rbuf, year_values);
    } else if (!read_or_nan(fut, rbuf, year_values)) {
      fut_short = true;
    }
    kernels::add_slice_mean(rbuf, npixel, nb, n_slice, mean_fut);
  }
  if (fut_short) std::fprintf(stderr, "Error reading from file ifiles_fut[%d]\n", i);
  for (int64_t y = 0; y < short_years; ++y) {
    std::fprintf(stderr, "Error reading from file ifiles_ref[%d]\n", i);
  }

  double global_mean_ref = 0.0;
  double global_std_ref = 0.0;
  for (int64_t y = slice_first; y < slice_end; ++y) {
    global_mean_ref += work.global_mean[y] / static_cast<double>(run.nyear_avg);
  }
  for (int64_t y = slice_first; y < slice_end; ++y) {
    global_std_ref += work.global_std[y] / static_cast<double>(run.nyear_avg);
  }
  double g = global_mean_ref;
  if (run.is_range_spec != 0) {
    std::printf("supplied global_mean_ref %lf global_std_ref %lf\n", run.mean_par[idx],
                run.std_par[idx]);
    g = run.mean_par[idx];
  } else {
    std::printf("global_mean_ref %lf global_std_ref %lf\n", global_mean_ref, global_std_ref);
  }

  add_slice_sums(npixel, mean_ref, mean_fut, w, g, sums);

  // Pass 2 over the reference file: every year against the reference-slice mean.
  for (int64_t p = 0; p < npixel; ++p) {
    const double r = mean_ref[p];
    // x / 1.0 is x exactly, so one formula serves both cases of the per-pixel normalisation.
    work.rdiv[p] = std::fabs(r) > 0.001 ? r : 1.0;
    work.rglob[p] = (r * ((r * w) / g)) / g;
  }
  const kernels::SeriesParam sp{mean_ref, work.rdiv.data(), work.rglob.data(), w, g};
  ref.seek(0);
  for (int64_t y = 0; y < nyear; ++y) {
    if (!read_or_nan(ref, rbuf, year_values)) {
      std::fprintf(stderr, "Error reading from file ifiles_ref[%d],error code %d,year %d\n", i,
                   ref.error(), static_cast<int>(y));
    }
    const int64_t e = y * npixel;
    kernels::add_series_year(rbuf, npixel, nb, sp, &sums.nom_ts[e], &sums.absa_ts[e],
                             &sums.absb_ts[e], &sums.nom_ts_glob[e], &sums.absa_ts_glob[e],
                             &sums.absb_ts_glob[e]);
  }
}

}  // namespace

Work::Work(int64_t npixel, int64_t nbands_year, int64_t nyear, int64_t nyear_avg)
    : rbuf_years(std::min<int64_t>(raster::AreaWeightedGrid::kSideBySide, nyear_avg)),
      mean_ref(npixel),
      mean_fut(npixel),
      rdiv(npixel),
      rglob(npixel),
      global_mean(nyear),
      global_std(nyear) {
  // Several years side by side, but never more than the slice that one read could hold.
  rbuf.resize(raster::alloc_count({npixel, nbands_year, rbuf_years}, 4));
}

void accumulate(Run& run, const raster::AreaWeightedGrid& grid, const float* natvegfrac, Work& work,
                Sums& sums) {
  for (int i = 0; i < run.npar; ++i) add_parameter(run, i, grid, natvegfrac, work, sums);
}

}  // namespace corvane
