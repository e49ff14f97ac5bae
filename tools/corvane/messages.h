// The messages of reads that come up short, all here and in their order.
#pragma once

#include <cstdint>
#include <vector>

#include "cmdline.h"
#include "kernels.h"
#include "pixelblocks.h"

namespace corvane {

/// What one parameter's slice reads met.
struct SliceReads {
  bool ref_short = false;
  bool ref_error = false;  ///< a reference read failed other than at the end of the file
  bool fut_short = false;
  int64_t ref_short_years = 0;  ///< in the slice, as read
};

/// First year of `nyear` that a file of `size` bytes does not hold whole (`year_values`
/// values a year).
int64_t first_short_year(int64_t size, int64_t year_values, int64_t nyear);

/// Every read message of parameter i, as a pass over all years in the documented order gives
/// them: reference slice, future slice, one per short year of the reference file, then one per
/// short year of the series, known from the file size (sp.first_short_year) or from a read
/// error in the slice (sp.unreadable).
void report_parameter_reads(const Settings& s, int i, const SliceReads& reads,
                            const SeriesParam& sp);

/// The series reads of year y that came up short where the sizes did not foretell it (a file
/// that changed, a device that failed), from each member's status per parameter (`status`,
/// member-major): reported after their year, so here alone the order of messages may differ.
void report_unforeseen(const std::vector<SeriesParam>& params,
                       const std::vector<raster::PreadEnd>& status, int members, int64_t y);

}  // namespace corvane
