#include "yearly.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "tool.h"

namespace aggregate {

namespace {

struct Season {
  const char* name;
  MonthWindow window;
};
constexpr Season kSeasons[] = {
    {"DJF", {12, 2}}, {"MAM", {3, 5}}, {"JJA", {6, 8}}, {"SON", {9, 11}}};

bool parse_month(const std::string& s, int* m) {
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), *m);
  return !s.empty() && ec == std::errc() && ptr == s.data() + s.size() && *m >= 1 && *m <= 12;
}

// Sum or mean: the values (all, or those not NaN) added in band order. -0.0 is the sum's
// identity, so that one value comes back unchanged and a sum of -0 stays -0.
void sum_bands(const float* bands, int64_t count, int64_t n, bool skip_nan, double* acc,
               int64_t* used) {
  std::fill_n(acc, n, -0.0);
  std::fill_n(used, n, skip_nan ? 0 : count);
  for (int64_t b = 0; b < count; ++b) {
    const float* v = bands + b * n;
    if (!skip_nan) {
      for (int64_t p = 0; p < n; ++p) acc[p] += static_cast<double>(v[p]);
      continue;
    }
    for (int64_t p = 0; p < n; ++p) {
      if (std::isnan(v[p])) continue;
      acc[p] += static_cast<double>(v[p]);
      ++used[p];
    }
  }
}

// Min or max: the first of equal values kept (so -0 and 0 keep their order); without skip_nan
// a NaN wins over every value.
void extreme_bands(const float* bands, int64_t count, int64_t n, bool skip_nan, bool want_min,
                   float* out, int64_t* used) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::fill_n(used, n, skip_nan ? 0 : count);
  for (int64_t p = 0; p < n; ++p) out[p] = skip_nan ? nan : bands[p];
  for (int64_t b = skip_nan ? 0 : 1; b < count; ++b) {
    const float* v = bands + b * n;
    for (int64_t p = 0; p < n; ++p) {
      const float x = v[p];
      if (std::isnan(x)) {
        if (!skip_nan) out[p] = x;
        continue;
      }
      if (skip_nan) ++used[p];
      const bool better = want_min ? x < out[p] : x > out[p];
      // With skip_nan, a NaN out[p] means no value yet; without, NaN stays.
      if (better || (skip_nan && std::isnan(out[p]))) out[p] = x;
    }
  }
}

}  // namespace

MonthWindow parse_season(const std::string& text) {
  for (const Season& s : kSeasons)
    if (strcasecmp(text.c_str(), s.name) == 0) return s.window;
  throw interop::usage_error("--season " + text + ": give DJF, MAM, JJA or SON");
}

MonthWindow parse_months(const std::string& text) {
  const size_t dash = text.find('-');
  MonthWindow w;
  if (dash == std::string::npos || !parse_month(text.substr(0, dash), &w.first) ||
      !parse_month(text.substr(dash + 1), &w.last))
    throw interop::usage_error("--months " + text +
                               ": give FIRST-LAST, months 1 to 12 (e.g. 6-8, or 11-3 across the "
                               "year's end)");
  return w;
}

std::string window_text(const MonthWindow& w) {
  for (const Season& s : kSeasons)
    if (s.window.first == w.first && s.window.last == w.last) return s.name;
  return "months " + std::to_string(w.first) + "-" + std::to_string(w.last);
}

YearPlan plan_years(int64_t nbands, int64_t bands_per_year, const std::optional<MonthWindow>& w,
                    bool keep_incomplete) {
  YearPlan plan;
  const int64_t nyears = nbands / bands_per_year;
  const int64_t whole = nyears * bands_per_year;
  plan.unused_bands = nbands - whole;
  if (!w) {
    plan.window = bands_per_year;
    for (int64_t y = 0; y < nyears; ++y)
      plan.spans.push_back({y, y * bands_per_year, bands_per_year, true});
    return plan;
  }
  if (bands_per_year != 12)
    throw interop::usage_error("a window of months needs 12 bands a year, not " +
                               std::to_string(bands_per_year));
  plan.window = w->length();
  const int64_t shift = w->wraps() ? 12 : 0;
  for (int64_t y = 0; y < nyears + (w->wraps() ? 1 : 0); ++y) {
    const int64_t start = y * 12 + (w->first - 1) - shift;
    const int64_t end = start + plan.window;
    const int64_t s = std::max<int64_t>(start, 0);
    const int64_t e = std::min(end, whole);
    if (s >= e) continue;
    const YearSpan span{y, s, e - s, s == start && e == end};
    (span.complete || keep_incomplete ? plan.spans : plan.dropped).push_back(span);
  }
  return plan;
}

void aggregate_bands(const float* bands, int64_t count, int64_t n, Stat stat, int64_t min_count,
                     float* out, NanCounts* counts) {
  const bool skip_nan = min_count > 0;
  std::vector<int64_t> used(static_cast<size_t>(n));
  if (stat == Stat::sum || stat == Stat::mean) {
    std::vector<double> acc(static_cast<size_t>(n));
    sum_bands(bands, count, n, skip_nan, acc.data(), used.data());
    for (int64_t p = 0; p < n; ++p) {
      const double v = stat == Stat::mean ? acc[p] / static_cast<double>(used[p]) : acc[p];
      out[p] = static_cast<float>(v);
    }
  } else {
    extreme_bands(bands, count, n, skip_nan, stat == Stat::min, out, used.data());
  }
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int64_t p = 0; p < n; ++p) {
    if (skip_nan) {
      counts->skipped += count - used[p];
      if (used[p] < min_count) {
        out[p] = nan;
        ++counts->too_few;
      }
      continue;
    }
    if (!std::isnan(out[p])) continue;
    for (int64_t b = 0; b < count; ++b) {
      if (std::isnan(bands[b * n + p])) {
        ++counts->nan_results;
        break;
      }
    }
  }
}

}  // namespace aggregate
