// Time coordinates of imported files: CF units "<unit> since <date>", the calendars of climate
// model output, and the choice of whole years of steps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace interop::importer {

enum class Calendar { standard, proleptic_gregorian, julian, noleap, all_leap, day360 };

/// The calendar named by a CF `calendar` attribute (case-insensitive; empty means standard).
/// Throws ToolError naming the value and the calendars known when it is none of them.
Calendar parse_calendar(const std::string& name);

/// The calendar's CF name, as messages show it.
const char* calendar_name(Calendar c);

/// True for the calendars whose years differ in length.
bool has_leap_days(Calendar c);

struct Date {
  int64_t year = 0;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
};

/// `ymd`: CDO's absolute time axis "day as %Y%m%d.%f" (values such as 19710116.5).
enum class TimeUnit { seconds, minutes, hours, days, months, years, ymd };

/// A CF time coordinate's meaning: `count unit since reference` on a calendar.
struct TimeAxis {
  TimeUnit unit = TimeUnit::days;
  Date reference;
  int64_t reference_seconds = 0;  // time of day of the reference, in seconds
  Calendar calendar = Calendar::standard;
};

/// Parses units such as "days since 1661-01-01 00:00:00", "months since 1971-1-1" or
/// "day as %Y%m%d.%f".
/// Throws ToolError when they are not "<unit> since <date>".
TimeAxis parse_time_axis(const std::string& units, const std::string& calendar);

/// The calendar date of a time value (to the nearest second for the units of a day or less;
/// whole months and years, rounded down, for months and years).
Date date_of(double value, const TimeAxis& axis);

/// Whole years of time steps: steps [first_step, first_step + nyears * steps_per_year).
struct YearSpan {
  int64_t first_step = 0;
  int64_t steps_per_year = 0;
  int64_t first_year = 0;
  int64_t nyears = 0;
};

/// Years asked for with --years Y1-Y2 (both included).
struct YearRange {
  int64_t first = 0;
  int64_t last = 0;
};

/// Parses "Y1-Y2" or "Y" (years may be negative: "-100--50"). Throws ToolError (usage).
YearRange parse_year_range(const std::string& text);

/// Chooses whole years from the years of the steps (in time order): all of them, or `range`.
/// Every chosen year must hold the same number of steps; `what` names the file in messages.
YearSpan plan_years(const std::vector<int64_t>& step_years, const std::optional<YearRange>& range,
                    Calendar calendar, const std::string& what);

}  // namespace interop::importer
