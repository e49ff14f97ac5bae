// The messages of reads that come up short. Only the reference-slice years' global statistics
// enter the results, so the slices read only those years, and the series read every year
// later, year by year over all parameters. The messages still come as if every year had been
// read parameter by parameter, in the slices' stage: reference slice, future slice, one per
// short year of the reference file, then one per short year of the series. Which years are
// short follows from the file's size (a read past its end) or from a read error in the slice,
// after which the stream counts as unreadable.
#include "messages.h"

#include <algorithm>

#include "report.h"

namespace corvane {

namespace {

// Years of the reference file outside its slice that a pass over all years would find short.
int64_t short_years_outside_slice(const Settings& s, const SeriesParam& sp) {
  const int64_t nyear = s.nyear_ref;
  const int64_t outside = nyear - s.nyear_avg;
  if (sp.unreadable) return outside;
  const int64_t first = sp.first_short_year;
  const int64_t slice_first = s.startyear_ref;
  const int64_t slice_end = slice_first + s.nyear_avg;
  const int64_t in_slice = std::max<int64_t>(0, slice_end - std::max(first, slice_first));
  return (nyear - first) - in_slice;
}

void report_series_year(int i, int error_code, int64_t y) {
  raster::report("Error reading from file ifiles_ref[%d],error code %d,year %d\n", i, error_code,
                 static_cast<int>(y));
}

}  // namespace

int64_t first_short_year(int64_t size, int64_t year_values, int64_t nyear) {
  if (year_values == 0) return nyear;  // a read of nothing is never short
  return std::min(nyear, size / (year_values * 4));
}

void report_parameter_reads(const Settings& s, int i, const SliceReads& reads,
                            const SeriesParam& sp) {
  // The stream's error indicator as a series read would have found it.
  const int error_code = sp.unreadable ? 1 : 0;
  if (reads.ref_short) raster::report("Error reading from file ifiles_ref[%d]\n", i);
  if (reads.fut_short) raster::report("Error reading from file ifiles_fut[%d]\n", i);
  const int64_t short_years = reads.ref_short_years + short_years_outside_slice(s, sp);
  for (int64_t y = 0; y < short_years; ++y) {
    raster::report("Error reading from file ifiles_ref[%d]\n", i);
  }
  const int64_t first = sp.unreadable ? 0 : sp.first_short_year;
  for (int64_t y = first; y < s.nyear_ref; ++y) report_series_year(i, error_code, y);
}

void report_unforeseen(const std::vector<SeriesParam>& params,
                       const std::vector<raster::PreadEnd>& status, int members, int64_t y) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (params[i].unreadable || y >= params[i].first_short_year) continue;
    int code = -1;
    for (int k = 0; k < members; ++k) {
      const raster::PreadEnd st = status[static_cast<std::size_t>(k) * params.size() + i];
      if (st == raster::PreadEnd::error) code = 1;
      if (st == raster::PreadEnd::at_end && code < 0) code = 0;
    }
    if (code >= 0) report_series_year(static_cast<int>(i), code, y);
  }
}

}  // namespace corvane
