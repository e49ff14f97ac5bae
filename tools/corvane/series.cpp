// The per-year series, year-outer: for each year y, year y of every parameter in command-line
// order is added to one year of sums, and band y of ofile3, ofile4, ofile7 and ofile8 is
// written at once. Each element's terms arrive in the same order as in a parameter-outer pass,
// so the bits are the same, and memory holds one year of sums and one year of one parameter.
//
// The threads take contiguous pixel blocks, read their own part of every band by position and
// write their own part of every band by position (the pixel-block schedule), so reading,
// arithmetic and writing all run on every core.
#include "series.h"

#include "messages.h"
#include "reading.h"
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
void year_block(const std::vector<raster::BandReader>& refs, const std::vector<SeriesParam>& params,
                int64_t npixel, SeriesWork& wk, int member, int64_t y, int64_t p0, int64_t p1,
                double nan) {
  zero_sums(wk, p0, p1);
  const kernels::YearSums sums = wk.sums();
  for (std::size_t i = 0; i < params.size(); ++i) {
    const SeriesParam& sp = params[i];
    raster::PreadEnd st = raster::PreadEnd::whole;
    if (sp.unreadable) {
      for (int64_t b = 0; b < sp.nbands; ++b) fill_missing(&wk.rbuf[b * npixel + p0], p1 - p0);
    } else {
      st = read_year_part(refs[i], y, sp.nbands, npixel, p0, p1, wk.rbuf.data());
    }
    wk.status[static_cast<std::size_t>(member) * params.size() + i] = st;
    kernels::add_series_year(wk.rbuf.data(), npixel, p0, p1, sp.nbands, sp, sums);
  }
  kernels::series_bands(sums, p0, p1, nan, wk.band[0].data(), wk.band[1].data(), wk.band[2].data(),
                        wk.band[3].data());
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

void write_series(const Settings& s, const std::vector<ParameterFiles>& files,
                  const std::vector<SeriesParam>& params, raster::ThreadTeam& team,
                  SeriesWork& work, OutputSet& outputs) {
  const int64_t npixel = s.npixel;
  const double nan = rules::sqrt_of_minus_one();
  std::vector<raster::BandReader> refs;
  for (const ParameterFiles& f : files) refs.emplace_back(f.ref, npixel);
  const std::array<const float*, kSeries> bands = {work.band[0].data(), work.band[1].data(),
                                                   work.band[2].data(), work.band[3].data()};
  outputs.start_series(team.size());
  for (int64_t y = 0; y < s.nyear_ref; ++y) {
    team.run([&](int k) {
      const int64_t p0 = raster::block_begin(npixel, team.size(), k, kAlign);
      const int64_t p1 = raster::block_begin(npixel, team.size(), k + 1, kAlign);
      year_block(refs, params, npixel, work, k, y, p0, p1, nan);
      outputs.write_series_block(k, y, bands, p0, p1);
    });
    outputs.finish_series_band(bands);
    report_unforeseen(params, work.status, team.size(), y);
  }
}

}  // namespace corvane
