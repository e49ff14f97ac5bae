// The slices of every parameter: the reference and future slice means, the yearly global
// statistics of the reference slice, the slice sums and the constants of the series. Only the
// reference-slice years are read here; their messages and those the series will meet are
// given at the end of each parameter (messages.cpp).
#include "slices.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "messages.h"
#include "reading.h"
#include "report.h"

namespace corvane {

SliceSums::SliceSums(int64_t npixel)
    : nom(npixel),
      diffsq(npixel),
      absa(npixel),
      absb(npixel),
      nom_glob(npixel),
      diffsq_glob(npixel),
      absa_glob(npixel),
      absb_glob(npixel) {
  raster::Buffer<double>* all[] = {&nom,      &diffsq,      &absa,      &absb,
                                   &nom_glob, &diffsq_glob, &absa_glob, &absb_glob};
  for (raster::Buffer<double>* b : all) b->fill(0.0);
}

namespace {

// Bytes of slice years held at once for the global statistics.
constexpr int64_t kSliceBudgetBytes = int64_t{256} << 20;

// Working storage of the slices, reused by every parameter.
struct SliceWork {
  SliceWork(int64_t npixel, int64_t nyear_avg)
      : mean_fut(npixel), global_mean(nyear_avg), global_std(nyear_avg) {}
  /// Sets the years held at once for years of `year_values` values and sizes the buffer.
  void hold_years(int64_t year_values, int64_t nyear_avg, int nthreads) {
    // Side by side for every thread's global statistics, never more than the slice, and
    // within a fixed memory budget on fine grids.
    const int64_t year_bytes = std::max<int64_t>(1, raster::alloc_count({year_values}, 4) * 4);
    const int64_t budget = std::max<int64_t>(1, kSliceBudgetBytes / year_bytes);
    nslot = std::min({raster::AreaWeightedGrid::kSideBySide * nthreads, nyear_avg, budget});
    rbuf.resize(raster::alloc_count({year_values, nslot}, 4));
  }
  int64_t nslot = 1;
  raster::Buffer<float> rbuf;
  raster::Buffer<double> mean_fut;
  raster::Buffer<double> global_mean, global_std;  ///< per year of the reference slice
};

void add_mean_of_year(const SliceContext& ctx, const float* year, int64_t npixel, int64_t nb,
                      double n, double* mean) {
  ctx.team.for_blocks(npixel, kAlign, [&](int64_t p0, int64_t p1) {
    kernels::add_slice_mean(year + p0, npixel, p1 - p0, nb, n, mean + p0);
  });
}

// Global statistics of `nk` years held side by side, the years split among the threads (each
// year's sums are one ordered chain of their own).
void global_stats(const SliceContext& ctx, const float* const* years, int64_t nk, int64_t npixel,
                  int64_t nb, double* gmean, double* gstd) {
  const int parts = std::min<int>(ctx.team.size(), static_cast<int>(nk));
  ctx.team.run([&](int k) {
    if (k >= parts) return;
    const int64_t a = raster::block_begin(nk, parts, k, 1);
    const int64_t b = raster::block_begin(nk, parts, k + 1, 1);
    ctx.grid.stats_groups(years + a, npixel, b - a, nb, gmean + a, gstd + a, ctx.natvegfrac);
  });
}

void read_reference_slice(const Settings& s, const raster::BandReader& ref, const SliceContext& ctx,
                          int64_t nb, SliceWork& work, double* mean_ref, SliceReads& reads) {
  const int64_t npixel = s.npixel;
  const int64_t year_values = npixel * nb;
  const double n_slice = static_cast<double>(static_cast<int64_t>(s.nyear_avg) * nb);
  for (int64_t y0 = 0; y0 < s.nyear_avg; y0 += work.nslot) {
    const int64_t nk = std::min(work.nslot, s.nyear_avg - y0);
    std::vector<const float*> years(static_cast<std::size_t>(nk));
    for (int64_t k = 0; k < nk; ++k) {
      float* slot = work.rbuf.data() + k * year_values;
      years[static_cast<std::size_t>(k)] = slot;
      const int64_t y = s.startyear_ref + y0 + k;
      const raster::PreadEnd st = read_year(ctx.team, ref, y, nb, npixel, slot);
      if (st != raster::PreadEnd::whole) {
        reads.ref_short = true;
        ++reads.ref_short_years;
      }
      if (st == raster::PreadEnd::error) reads.ref_error = true;
    }
    global_stats(ctx, years.data(), nk, npixel, nb, &work.global_mean[y0], &work.global_std[y0]);
    for (const float* year : years) add_mean_of_year(ctx, year, npixel, nb, n_slice, mean_ref);
  }
}

// The future slice, year by year; after the first shortfall nothing more is read, as one read
// of the whole slice would have stopped there.
void read_future_slice(const Settings& s, const raster::BandReader& fut, const SliceContext& ctx,
                       int64_t nb, SliceWork& work, SliceReads& reads) {
  const int64_t npixel = s.npixel;
  const int64_t year_values = npixel * nb;
  const double n_slice = static_cast<double>(static_cast<int64_t>(s.nyear_avg) * nb);
  float* rbuf = work.rbuf.data();
  work.mean_fut.fill(0.0);
  for (int64_t y = 0; y < s.nyear_avg; ++y) {
    if (reads.fut_short) {
      fill_missing(rbuf, year_values);
    } else if (read_year(ctx.team, fut, s.startyear_fut + y, nb, npixel, rbuf) !=
               raster::PreadEnd::whole) {
      reads.fut_short = true;
    }
    add_mean_of_year(ctx, rbuf, npixel, nb, n_slice, work.mean_fut.data());
  }
}

// Averages of the slice years' global statistics, in year order; prints the parameter's line
// and returns gnorm.
double choose_gnorm(const Settings& s, int i, const SliceWork& work) {
  const auto idx = static_cast<std::size_t>(i);
  const double n = static_cast<double>(s.nyear_avg);
  double global_mean_ref = 0.0;
  double global_std_ref = 0.0;
  for (int64_t y = 0; y < s.nyear_avg; ++y) global_mean_ref += work.global_mean[y] / n;
  for (int64_t y = 0; y < s.nyear_avg; ++y) global_std_ref += work.global_std[y] / n;
  if (s.is_range_spec != 0) {
    std::printf("supplied global_mean_ref %lf global_std_ref %lf\n", s.mean_par[idx],
                s.std_par[idx]);
    return s.mean_par[idx];
  }
  std::printf("global_mean_ref %lf global_std_ref %lf\n", global_mean_ref, global_std_ref);
  return global_mean_ref;
}

// Slice sums of one parameter at pixels [p0, p1), both normalisations.
void add_slice_sums(int64_t p0, int64_t p1, const double* mean_ref, const double* mean_fut,
                    double w, double g, SliceSums& s) {
  for (int64_t p = p0; p < p1; ++p) {
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

// Bands per year of a parameter's two files; a mismatch ends the run.
int64_t band_count(const Settings& s, const ParameterFiles& files) {
  const int nb_ref = reference_bands(s, files);
  const int nb_fut = raster::bands_per_year(files.fut.size(), s.npixel, s.nyear_fut);
  if (nb_ref != nb_fut) raster::fail_exact("File1 and File2 have different sizes! Exit.\n");
  return nb_ref;
}

void add_parameter(const Settings& s, int i, const ParameterFiles& files, const SliceContext& ctx,
                   SliceWork& work, SliceSums& sums, SeriesParam& sp) {
  const int64_t npixel = s.npixel;
  const int64_t nb = band_count(s, files);
  const int64_t year_values = raster::alloc_count({npixel, nb}, 4);
  work.hold_years(year_values, s.nyear_avg, ctx.team.size());
  sp.nbands = nb;
  sp.w = s.weight[static_cast<std::size_t>(i)];
  sp.r.fill(0.0);

  SliceReads reads;
  read_reference_slice(s, raster::BandReader(files.ref, npixel), ctx, nb, work, sp.r.data(), reads);
  read_future_slice(s, raster::BandReader(files.fut, npixel), ctx, nb, work, reads);
  sp.unreadable = reads.ref_error;
  sp.first_short_year = first_short_year(files.ref.size(), year_values, s.nyear_ref);
  report_parameter_reads(s, i, reads, sp);

  sp.g = choose_gnorm(s, i, work);
  const double w = sp.w;
  const double g = sp.g;
  const double* r = sp.r.data();
  double* rglob = sp.rglob.data();
  const double* mean_fut = work.mean_fut.data();
  ctx.team.for_blocks(npixel, kAlign, [&](int64_t p0, int64_t p1) {
    add_slice_sums(p0, p1, r, mean_fut, w, g, sums);
    for (int64_t p = p0; p < p1; ++p) rglob[p] = (r[p] * ((r[p] * w) / g)) / g;
  });
}

}  // namespace

Slices add_slices(const Settings& s, const std::vector<ParameterFiles>& files,
                  const SliceContext& ctx, SliceSums sums, std::vector<SeriesParam> params) {
  SliceWork work(s.npixel, s.nyear_avg);
  for (int i = 0; i < s.npar; ++i) {
    const auto idx = static_cast<std::size_t>(i);
    add_parameter(s, i, files[idx], ctx, work, sums, params[idx]);
  }
  return Slices{std::move(sums), std::move(params)};
}

}  // namespace corvane
