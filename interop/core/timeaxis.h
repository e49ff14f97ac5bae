// The time axis of exported bands: CF calendars, "days since FIRST_YEAR-01-01" values at the
// middle of each band's period (mid-month for 12 bands a year, mid-year for 1, evenly spaced
// slots for any other count), their bounds, and a short label per band.
#pragma once

#include <cstdint>
#include <string>

namespace interop {

enum class CalendarKind { gregorian, julian, noleap, all_leap, day360 };

struct Calendar {
  CalendarKind kind = CalendarKind::gregorian;
  std::string name = "proleptic_gregorian";  ///< as written into the calendar attribute
};

/// A CF calendar name: proleptic_gregorian, standard, gregorian, julian, noleap, 365_day,
/// all_leap, 366_day, 360_day (case-insensitive); a usage ToolError otherwise.
Calendar parse_calendar(const std::string& text);

/// Days of `year` in the calendar.
int64_t days_in_year(CalendarKind k, int64_t year);
/// Days of month `month` (0 = January) of `year`.
int64_t days_in_month(CalendarKind k, int64_t year, int month);

/// Where band `band` (0-based, counted from the first year's first band) lies in time.
struct BandTime {
  double start = 0;  ///< days since FIRST_YEAR-01-01
  double mid = 0;
  double end = 0;
};
BandTime band_time(CalendarKind k, int64_t first_year, int64_t bands_per_year, int64_t band);

/// "1971-03" for monthly bands, "1971" for annual ones, "1971 band 3" (0-based band of the
/// year) otherwise.
std::string band_label(int64_t first_year, int64_t bands_per_year, int64_t band);

/// "days since 1971-01-01".
std::string time_units(int64_t first_year);

}  // namespace interop
