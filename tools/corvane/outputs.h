// The eight outputs of a run: opened, written and closed here and nowhere else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "pixelblocks.h"
#include "rasterfile.h"

namespace corvane {

/// The eight outputs, in command-line order.
enum Output : int {
  kAngle,                  ///< ofile1: cosine of the slice angle, per-pixel normalisation
  kMagnitude,              ///< ofile2: 4 bands of slice magnitudes
  kAngleSeries,            ///< ofile3: cosine per reference year
  kMagnitudeSeries,        ///< ofile4: length per reference year
  kAngleGlobal,            ///< ofile5: as ofile1, global normalisation
  kMagnitudeGlobal,        ///< ofile6: as ofile2, global normalisation
  kAngleSeriesGlobal,      ///< ofile7: as ofile3, global normalisation
  kMagnitudeSeriesGlobal,  ///< ofile8: as ofile4, global normalisation
  kNumOutputs
};

/// The four series outputs, in the order the series make their bands.
inline constexpr std::size_t kSeries = 4;
inline constexpr Output kSeriesOutputs[kSeries] = {kAngleSeries, kMagnitudeSeries,
                                                   kAngleSeriesGlobal, kMagnitudeSeriesGlobal};

class OutputSet {
 public:
  /// Creates the outputs in command-line order, once none of them names an input (opening it
  /// would truncate the input before it is read). Bands have `npixel` values.
  OutputSet(std::span<const char* const> paths, std::span<const char* const> inputs,
            int64_t npixel);

  /// Appends one band to output o through its stream.
  void write_band(Output o, const float* band);

  /// Readies the series outputs for a team of `members`: four different regular files take
  /// each member's pixels of every band by position; anything else (a device, one file named
  /// twice) takes whole bands through its stream.
  void start_series(int members);
  /// Member k: its pixels [p0, p1) of band y of series output j (kSeriesOutputs[j]), from the
  /// band's values; each member starts with another file, so that their writes do not queue
  /// on one.
  void write_series_block(int k, int64_t y, const std::array<const float*, kSeries>& bands,
                          int64_t p0, int64_t p1);
  /// After the team has made band y of every series output: the bands through the streams
  /// where they are not written by position, and the first failed write of each output, in
  /// output order, ends the run.
  void finish_series_band(const std::array<const float*, kSeries>& bands);

  /// Closes every output, checked, in order.
  void close();

 private:
  bool series_are_distinct_files() const;

  int64_t npixel_;
  std::array<raster::OutFile, kNumOutputs> files_;
  std::vector<raster::BlockWriter> series_;
};

}  // namespace corvane
