// rastertools yearly: one band per year (or per season, or per window of months) from an input
// of N bands a year. The plan of which input bands make each output band, and the per-pixel
// statistic over them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stat.h"

namespace aggregate {

/// Months first..last (1-based) of each year; first > last wraps over the year's end, and the
/// window then belongs to the year in which it ends (DJF of 1972: December 1971, January and
/// February 1972).
struct MonthWindow {
  int first = 1;
  int last = 12;
  int length() const { return first <= last ? last - first + 1 : 12 - first + 1 + last; }
  bool wraps() const { return first > last; }
};

/// DJF, MAM, JJA or SON (case-insensitive); a usage ToolError otherwise.
MonthWindow parse_season(const std::string& text);
/// "A-B" with months 1 to 12, e.g. 6-8 or 11-3; a usage ToolError otherwise.
MonthWindow parse_months(const std::string& text);
/// "DJF" for a season's window, else "months 11-3".
std::string window_text(const MonthWindow& w);

/// The input bands of one output band.
struct YearSpan {
  int64_t year = 0;        ///< 0 for the input's first year
  int64_t first_band = 0;  ///< input band of the window's first month present
  int64_t count = 0;       ///< input bands in it (fewer than the window's for an incomplete one)
  bool complete = true;
};

/// Which input bands make each output band.
struct YearPlan {
  std::vector<YearSpan> spans;    ///< in time order
  std::vector<YearSpan> dropped;  ///< incomplete windows left out
  int64_t window = 0;             ///< bands in a complete window
  int64_t unused_bands = 0;       ///< bands after the last whole year, left out
};

/// The plan for `nbands` bands of `bands_per_year` a year: every year whole, or the window of
/// months (bands_per_year must be 12) of each year. A wrapping window's first year lacks the
/// months before the input starts and the last months of the input make a window of the year
/// after it: both are incomplete, kept only with `keep_incomplete`.
YearPlan plan_years(int64_t nbands, int64_t bands_per_year, const std::optional<MonthWindow>& w,
                    bool keep_incomplete);

/// What became of NaN values.
struct NanCounts {
  int64_t nan_results = 0;  ///< results NaN because a value in their window is NaN
  int64_t skipped = 0;      ///< NaN values left out (min_count > 0)
  int64_t too_few = 0;      ///< results NaN because fewer than min_count values are not NaN
  NanCounts& operator+=(const NanCounts& o) {
    nan_results += o.nan_results;
    skipped += o.skipped;
    too_few += o.too_few;
    return *this;
  }
};

/// The statistic of `count` bands of `n` pixels each (bands[b * n + p]) per pixel into out[p].
/// In double, the bands in their order; the result rounded once to float. min_count 0: a NaN
/// value makes the result NaN; else NaN values are left out and at least min_count others are
/// needed (else the result is NaN). mean is the sum divided by the values summed.
void aggregate_bands(const float* bands, int64_t count, int64_t n, Stat stat, int64_t min_count,
                     float* out, NanCounts* counts);

/// The whole command; returns the exit status.
int run_yearly(int argc, char** argv);

}  // namespace aggregate
