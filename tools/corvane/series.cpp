// The per-year series, year-outer: for each year y, year y of every parameter in command-line
// order is added to one year of sums, and band y of ofile3, ofile4, ofile7 and ofile8 is
// written at once. Each element's terms arrive in the same order as in a parameter-outer pass,
// so the bits are the same, and memory holds one year of sums and one year of one parameter.
//
// The threads take contiguous pixel blocks and read their own part of every band (pread on the
// file's descriptor), so reading and arithmetic both run on every core.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "corvane.h"
#include "rules.h"

namespace corvane {

namespace {

void zero_sums(SeriesWork& wk, int64_t p0, int64_t p1) {
  raster::Buffer<double>* all[] = {&wk.nom_ts,      &wk.absa_ts,      &wk.absb_ts,
                                   &wk.nom_ts_glob, &wk.absa_ts_glob, &wk.absb_ts_glob};
  for (raster::Buffer<double>* b : all) {
    for (int64_t p = p0; p < p1; ++p) (*b)[p] = 0.0;
  }
}

// One year at pixels [p0, p1) by thread `member`: every parameter in order, then the bands.
void year_block(const Run& run, const std::vector<SeriesParam>& params, SeriesWork& wk, int member,
                int64_t y, int64_t p0, int64_t p1, double nan) {
  const int64_t npixel = run.npixel;
  zero_sums(wk, p0, p1);
  const kernels::YearSums sums = wk.sums();
  for (std::size_t i = 0; i < params.size(); ++i) {
    const SeriesParam& sp = params[i];
    ReadStatus st = ReadStatus::whole;
    if (sp.unreadable) {
      for (int64_t b = 0; b < sp.nbands; ++b) fill_missing(&wk.rbuf[b * npixel + p0], p1 - p0);
    } else {
      st = read_year_part(fileno(run.ifiles_ref[i].get()), y, sp.nbands, npixel, p0, p1,
                          wk.rbuf.data());
    }
    wk.status[static_cast<std::size_t>(member) * params.size() + i] = st;
    kernels::add_series_year(wk.rbuf.data(), npixel, p0, p1, sp.nbands, sp, sums);
  }
  kernels::series_bands(sums, p0, p1, nan, wk.band[0].data(), wk.band[1].data(), wk.band[2].data(),
                        wk.band[3].data());
}

// Short reads that the sizes did not foretell (a file that changed, a device that failed):
// reported after their year, so here alone the order of messages may differ.
void report_unforeseen(const std::vector<SeriesParam>& params, const SeriesWork& wk, int nmembers,
                       int64_t y) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (params[i].unreadable || y >= params[i].first_short_year) continue;
    int code = -1;
    for (int k = 0; k < nmembers; ++k) {
      const ReadStatus st = wk.status[static_cast<std::size_t>(k) * params.size() + i];
      if (st == ReadStatus::error) code = 1;
      if (st == ReadStatus::short_at_end && code < 0) code = 0;
    }
    if (code >= 0) {
      std::fprintf(stderr, "Error reading from file ifiles_ref[%d],error code %d,year %d\n",
                   static_cast<int>(i), code, static_cast<int>(y));
    }
  }
}

// Whether the outputs are regular files, no two of them the same.
template <std::size_t N>
bool distinct_regular_files(const Run& run, const Output (&outputs)[N]) {
  struct stat st[N];
  for (std::size_t j = 0; j < N; ++j) {
    if (!run.ofile[outputs[j]].is_regular() ||
        fstat(fileno(run.ofile[outputs[j]].get()), &st[j]) != 0) {
      return false;
    }
    for (std::size_t i = 0; i < j; ++i) {
      if (st[i].st_dev == st[j].st_dev && st[i].st_ino == st[j].st_ino) return false;
    }
  }
  return true;
}

}  // namespace

SeriesWork::SeriesWork(int64_t npixel, int64_t max_nbands, int nthreads, int npar)
    : nom_ts(npixel),
      absa_ts(npixel),
      absb_ts(npixel),
      nom_ts_glob(npixel),
      absa_ts_glob(npixel),
      absb_ts_glob(npixel),
      rbuf(raster::alloc_count({npixel, max_nbands}, 4)),
      status(static_cast<std::size_t>(nthreads) * static_cast<std::size_t>(npar)) {
  for (auto& b : band) b.resize(npixel);
}

void write_series(Run& run, const Context& ctx, const std::vector<SeriesParam>& params,
                  SeriesWork& wk) {
  const int64_t npixel = run.npixel;
  const int nmembers = ctx.team.size();
  const double nan = rules::sqrt_of_minus_one();
  constexpr std::size_t kSeries = 4;
  const Output outputs[kSeries] = {kAngleSeries, kMagnitudeSeries, kAngleSeriesGlobal,
                                   kMagnitudeSeriesGlobal};
  // Four different regular files take each thread's pixels of every band by position, each
  // thread starting with another file so that their writes do not queue on one; anything else
  // (a device, one file named twice) is written through its stream, a band at a time.
  const bool direct = distinct_regular_files(run, outputs);
  std::vector<std::array<int, kSeries>> werr(static_cast<std::size_t>(nmembers));
  for (int64_t y = 0; y < run.nyear_ref; ++y) {
    ctx.team.run([&](int k) {
      const int64_t p0 = raster::block_begin(npixel, nmembers, k, kAlign);
      const int64_t p1 = raster::block_begin(npixel, nmembers, k + 1, kAlign);
      year_block(run, params, wk, k, y, p0, p1, nan);
      if (!direct) return;
      for (std::size_t i = 0; i < kSeries; ++i) {
        const std::size_t j = (i + static_cast<std::size_t>(k)) % kSeries;
        werr[static_cast<std::size_t>(k)][j] = run.ofile[outputs[j]].write_at(
            wk.band[j].data() + p0, (p1 - p0) * 4, (y * npixel + p0) * 4);
      }
    });
    for (std::size_t j = 0; j < kSeries; ++j) {
      if (!direct) run.ofile[outputs[j]].write_floats(wk.band[j].data(), npixel);
      for (const auto& e : werr) {
        if (e[j] != 0) run.ofile[outputs[j]].fail_write(e[j]);
      }
    }
    report_unforeseen(params, wk, nmembers, y);
  }
  for (raster::OutFile& out : run.ofile) out.close();
}

}  // namespace corvane
