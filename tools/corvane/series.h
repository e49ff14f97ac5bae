// The per-year series: year by year over all parameters, each year's four bands written as soon
// as the year is complete.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "buffer.h"
#include "cmdline.h"
#include "kernels.h"
#include "outputs.h"
#include "parallel.h"
#include "pixelblocks.h"

namespace corvane {

/// Storage of the series: one year of sums, one year of one parameter, one band per output.
struct SeriesWork {
  SeriesWork(int64_t npixel, int64_t max_nbands, int nthreads, int npar);
  kernels::YearSums sums() {
    return {nom_ts.data(),      absa_ts.data(),      absb_ts.data(),
            nom_ts_glob.data(), absa_ts_glob.data(), absb_ts_glob.data()};
  }

  raster::Buffer<double> nom_ts, absa_ts, absb_ts, nom_ts_glob, absa_ts_glob, absb_ts_glob;
  raster::Buffer<float> rbuf;  ///< one year of one parameter; each thread fills its own pixels
  std::array<raster::Buffer<float>, kSeries> band;  ///< band y of the series outputs
  std::vector<raster::PreadEnd> status;  ///< per thread and parameter, of the current year
};

/// Builds the series of every reference year from the parameters' reference files and their
/// series constants, and writes band y of ofile3, ofile4, ofile7 and ofile8 as soon as year y
/// is complete.
void write_series(const Settings& s, const std::vector<ParameterFiles>& files,
                  const std::vector<SeriesParam>& params, raster::ThreadTeam& team,
                  SeriesWork& work, OutputSet& outputs);

}  // namespace corvane
