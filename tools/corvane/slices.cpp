// The slices of every parameter: the reference and future slice means, the yearly global
// statistics of the reference slice, the slice sums and the constants of the series.
//
// Only the reference-slice years' global statistics enter the results, so only those years
// are read here; the series read every year later, year by year over all parameters. The
// messages still come as if every year had been read in this stage, parameter by parameter:
// reference slice, future slice, one per short year of the reference file, then one per short
// year of the series. Which years are short follows from the file's size (a read past its end)
// or from a read error in the slice, after which the stream counts as unreadable.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "corvane.h"

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

// First year of `nyear` that a file of `size` bytes does not hold whole.
int64_t first_short_year(int64_t size, int64_t year_values, int64_t nyear) {
  if (year_values == 0) return nyear;  // a read of nothing is never short
  return std::min(nyear, size / (year_values * 4));
}

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

// What one parameter's slice reads met.
struct SliceReport {
  bool ref_short = false;
  bool ref_error = false;  ///< a reference read failed other than at the end of the file
  bool fut_short = false;
  int64_t ref_short_years = 0;  ///< in the slice, as read
};

void add_mean_of_year(const Context& ctx, const float* year, int64_t npixel, int64_t nb, double n,
                      double* mean) {
  ctx.team.for_blocks(npixel, kAlign, [&](int64_t p0, int64_t p1) {
    kernels::add_slice_mean(year + p0, npixel, p1 - p0, nb, n, mean + p0);
  });
}

// Global statistics of `nk` years held side by side, the years split among the threads (each
// year's sums are one ordered chain of their own).
void global_stats(const Context& ctx, const float* const* years, int64_t nk, int64_t npixel,
                  int64_t nb, double* gmean, double* gstd) {
  const int parts = std::min<int>(ctx.team.size(), static_cast<int>(nk));
  ctx.team.run([&](int k) {
    if (k >= parts) return;
    const int64_t a = raster::block_begin(nk, parts, k, 1);
    const int64_t b = raster::block_begin(nk, parts, k + 1, 1);
    ctx.grid.stats_groups(years + a, npixel, b - a, nb, gmean + a, gstd + a, ctx.natvegfrac);
  });
}

void read_reference_slice(const Run& run, const raster::InFile& ref, const Context& ctx, int64_t nb,
                          SliceWork& work, double* mean_ref, SliceReport& rep) {
  const int64_t npixel = run.npixel;
  const int64_t year_values = npixel * nb;
  const double n_slice = static_cast<double>(static_cast<int64_t>(run.nyear_avg) * nb);
  for (int64_t y0 = 0; y0 < run.nyear_avg; y0 += work.nslot) {
    const int64_t nk = std::min(work.nslot, run.nyear_avg - y0);
    std::vector<const float*> years(static_cast<std::size_t>(nk));
    for (int64_t k = 0; k < nk; ++k) {
      float* slot = work.rbuf.data() + k * year_values;
      years[static_cast<std::size_t>(k)] = slot;
      const int64_t y = run.startyear_ref + y0 + k;
      const ReadStatus st = read_year(ctx, fileno(ref.get()), y, nb, npixel, slot);
      if (st != ReadStatus::whole) {
        rep.ref_short = true;
        ++rep.ref_short_years;
      }
      if (st == ReadStatus::error) rep.ref_error = true;
    }
    global_stats(ctx, years.data(), nk, npixel, nb, &work.global_mean[y0], &work.global_std[y0]);
    for (const float* year : years) add_mean_of_year(ctx, year, npixel, nb, n_slice, mean_ref);
  }
}

// The future slice, year by year; after the first shortfall nothing more is read, as one read
// of the whole slice would have stopped there.
void read_future_slice(const Run& run, const raster::InFile& fut, const Context& ctx, int64_t nb,
                       SliceWork& work, SliceReport& rep) {
  const int64_t npixel = run.npixel;
  const int64_t year_values = npixel * nb;
  const double n_slice = static_cast<double>(static_cast<int64_t>(run.nyear_avg) * nb);
  float* rbuf = work.rbuf.data();
  work.mean_fut.fill(0.0);
  for (int64_t y = 0; y < run.nyear_avg; ++y) {
    if (rep.fut_short) {
      fill_missing(rbuf, year_values);
    } else if (read_year(ctx, fileno(fut.get()), run.startyear_fut + y, nb, npixel, rbuf) !=
               ReadStatus::whole) {
      rep.fut_short = true;
    }
    add_mean_of_year(ctx, rbuf, npixel, nb, n_slice, work.mean_fut.data());
  }
}

// Years of the reference file outside its slice that a pass over all years would find short.
int64_t short_years_outside_slice(const Run& run, const SeriesParam& sp) {
  const int64_t nyear = run.nyear_ref;
  const int64_t outside = nyear - run.nyear_avg;
  if (sp.unreadable) return outside;
  const int64_t first = sp.first_short_year;
  const int64_t slice_first = run.startyear_ref;
  const int64_t slice_end = slice_first + run.nyear_avg;
  const int64_t in_slice = std::max<int64_t>(0, slice_end - std::max(first, slice_first));
  return (nyear - first) - in_slice;
}

void report_reads(const Run& run, int i, const SliceReport& rep, const SeriesParam& sp) {
  // The stream's error indicator as a series read would have found it.
  const int error_code = sp.unreadable ? 1 : 0;
  if (rep.ref_short) std::fprintf(stderr, "Error reading from file ifiles_ref[%d]\n", i);
  if (rep.fut_short) std::fprintf(stderr, "Error reading from file ifiles_fut[%d]\n", i);
  const int64_t short_years = rep.ref_short_years + short_years_outside_slice(run, sp);
  for (int64_t y = 0; y < short_years; ++y) {
    std::fprintf(stderr, "Error reading from file ifiles_ref[%d]\n", i);
  }
  const int64_t first = sp.unreadable ? 0 : sp.first_short_year;
  for (int64_t y = first; y < run.nyear_ref; ++y) {
    std::fprintf(stderr, "Error reading from file ifiles_ref[%d],error code %d,year %d\n", i,
                 error_code, static_cast<int>(y));
  }
}

// Averages of the slice years' global statistics, in year order; prints the parameter's line
// and returns gnorm.
double choose_gnorm(const Run& run, int i, const SliceWork& work) {
  const auto idx = static_cast<std::size_t>(i);
  const double n = static_cast<double>(run.nyear_avg);
  double global_mean_ref = 0.0;
  double global_std_ref = 0.0;
  for (int64_t y = 0; y < run.nyear_avg; ++y) global_mean_ref += work.global_mean[y] / n;
  for (int64_t y = 0; y < run.nyear_avg; ++y) global_std_ref += work.global_std[y] / n;
  if (run.is_range_spec != 0) {
    std::printf("supplied global_mean_ref %lf global_std_ref %lf\n", run.mean_par[idx],
                run.std_par[idx]);
    return run.mean_par[idx];
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

// Bands per year of parameter i's two files; a mismatch ends the run.
int64_t band_count(const Run& run, int i) {
  const int nb_ref = reference_bands(run, i);
  const int nb_fut = raster::bands_per_year(run.ifiles_fut[static_cast<std::size_t>(i)].size(),
                                            run.npixel, run.nyear_fut);
  if (nb_ref != nb_fut) raster::fail_exact("File1 and File2 have different sizes! Exit.\n");
  return nb_ref;
}

void add_parameter(Run& run, int i, const Context& ctx, SliceWork& work, SliceSums& sums,
                   SeriesParam& sp) {
  const auto idx = static_cast<std::size_t>(i);
  raster::InFile& ref = run.ifiles_ref[idx];
  const int64_t npixel = run.npixel;
  const int64_t nb = band_count(run, i);
  const int64_t year_values = raster::alloc_count({npixel, nb}, 4);
  work.hold_years(year_values, run.nyear_avg, ctx.team.size());
  sp.nbands = nb;
  sp.w = run.weight[idx];
  sp.r.fill(0.0);

  SliceReport rep;
  read_reference_slice(run, ref, ctx, nb, work, sp.r.data(), rep);
  read_future_slice(run, run.ifiles_fut[idx], ctx, nb, work, rep);
  sp.unreadable = rep.ref_error;
  sp.first_short_year = first_short_year(ref.size(), year_values, run.nyear_ref);
  report_reads(run, i, rep, sp);

  sp.g = choose_gnorm(run, i, work);
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

void add_slices(Run& run, const Context& ctx, SliceSums& sums, std::vector<SeriesParam>& params) {
  SliceWork work(run.npixel, run.nyear_avg);
  for (int i = 0; i < run.npar; ++i) {
    add_parameter(run, i, ctx, work, sums, params[static_cast<std::size_t>(i)]);
  }
}

}  // namespace corvane
