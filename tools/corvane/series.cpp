// The per-year series, year-outer: for each year y, year y of every parameter in command-line
// order is added to one year of sums, and band y of ofile3, ofile4, ofile7 and ofile8 is
// written at once. Each element's terms arrive in the same order as in a parameter-outer pass,
// so the bits are the same, and memory holds one year of sums and one year of one parameter.
//
// The threads take contiguous pixel blocks and read their own part of every band (pread on the
// file's descriptor), so reading and arithmetic both run on every core.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "corvane.h"
#include "rules.h"

namespace corvane {

namespace {

struct SeriesWork {
  SeriesWork(int64_t npixel, int64_t max_nbands, int nmembers, int npar)
      : nom_ts(npixel),
        absa_ts(npixel),
        absb_ts(npixel),
        nom_ts_glob(npixel),
        absa_ts_glob(npixel),
        absb_ts_glob(npixel),
        rbuf(raster::alloc_count({npixel, max_nbands}, 4)),
        status(static_cast<std::size_t>(nmembers) * static_cast<std::size_t>(npar)) {
    for (auto& b : band) b.resize(npixel);
  }
  kernels::YearSums sums() {
    return {nom_ts.data(),      absa_ts.data(),      absb_ts.data(),
            nom_ts_glob.data(), absa_ts_glob.data(), absb_ts_glob.data()};
  }

  raster::Buffer<double> nom_ts, absa_ts, absb_ts, nom_ts_glob, absa_ts_glob, absb_ts_glob;
  raster::Buffer<float> rbuf;  ///< one year of one parameter; each thread fills its own pixels
  std::array<raster::Buffer<float>, 4> band;  ///< band y of ofile3, ofile4, ofile7, ofile8
  std::vector<ReadStatus> status;             ///< per thread and parameter, of the current year
};

// Band y of the four series outputs at pixels [p0, p1), from the finished sums of year y.
void series_bands(SeriesWork& wk, int64_t p0, int64_t p1, double nan) {
  using rules::cosine;
  float* angle = wk.band[0].data();
  float* magnitude = wk.band[1].data();
  float* angle_glob = wk.band[2].data();
  float* magnitude_glob = wk.band[3].data();
  for (int64_t p = p0; p < p1; ++p) {
    angle[p] = static_cast<float>(cosine(wk.nom_ts[p], wk.absa_ts[p], wk.absb_ts[p], false));
    magnitude[p] = static_cast<float>(rules::guarded_root(wk.absa_ts[p], nan));
    angle_glob[p] = static_cast<float>(
        cosine(wk.nom_ts_glob[p], wk.absa_ts_glob[p], wk.absb_ts_glob[p], false));
    magnitude_glob[p] = static_cast<float>(std::sqrt(wk.absa_ts_glob[p]));
  }
}

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
  series_bands(wk, p0, p1, nan);
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

}  // namespace

void write_series(Run& run, const Context& ctx, const std::vector<SeriesParam>& params) {
  const int64_t npixel = run.npixel;
  int64_t max_nb = 0;
  for (const SeriesParam& sp : params) max_nb = std::max(max_nb, sp.nbands);
  const int nmembers = ctx.team.size();
  SeriesWork wk(npixel, max_nb, nmembers, run.npar);
  const double nan = rules::sqrt_of_minus_one();
  const Output outputs[] = {kAngleSeries, kMagnitudeSeries, kAngleSeriesGlobal,
                            kMagnitudeSeriesGlobal};
  for (int64_t y = 0; y < run.nyear_ref; ++y) {
    ctx.team.run([&](int k) {
      const int64_t p0 = raster::block_begin(npixel, nmembers, k, kAlign);
      const int64_t p1 = raster::block_begin(npixel, nmembers, k + 1, kAlign);
      year_block(run, params, wk, k, y, p0, p1, nan);
    });
    for (std::size_t j = 0; j < std::size(outputs); ++j) {
      run.ofile[outputs[j]].write_floats(wk.band[j].data(), npixel);
    }
    report_unforeseen(params, wk, nmembers, y);
  }
  for (raster::OutFile& out : run.ofile) out.close();
}

}  // namespace corvane
