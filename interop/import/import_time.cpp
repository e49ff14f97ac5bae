#include "import_time.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <string_view>

#include "tool.h"

namespace interop::importer {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil-days algorithm).
int64_t gregorian_days(const Date& d) {
  const int64_t y = d.year - (d.month <= 2);
  const int64_t era = floor_div(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (d.month > 2 ? d.month - 3 : d.month + 9) + 2) / 5 + d.day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// A March-based year of the day of era (both calendars): month and day from the day of year.
Date from_march_day(int64_t year_of_march, int64_t doy) {
  const int64_t mp = (5 * doy + 2) / 153;
  Date d;
  d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  d.year = year_of_march + (d.month <= 2);
  return d;
}

Date gregorian_date(int64_t days) {
  const int64_t z = days + 719468;
  const int64_t era = floor_div(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  return from_march_day(yoe + era * 400, doe - (365 * yoe + yoe / 4 - yoe / 100));
}

// Days of a Julian-calendar date on the same count as gregorian_days (1970-01-01 is day 0).
// 1582-10-04 Julian is the day before 1582-10-15 Gregorian.
int64_t julian_raw(const Date& d) {
  const int64_t y = d.year - (d.month <= 2);
  const int64_t era = floor_div(y, 4);
  const int64_t yoe = y - era * 4;
  const int64_t doy = (153 * (d.month > 2 ? d.month - 3 : d.month + 9) + 2) / 5 + d.day - 1;
  return era * 1461 + yoe * 365 + doy;
}

int64_t julian_shift() { return gregorian_days({1582, 10, 15}) - 1 - julian_raw({1582, 10, 4}); }

int64_t julian_days(const Date& d) { return julian_raw(d) + julian_shift(); }

Date julian_date(int64_t days) {
  const int64_t z = days - julian_shift();
  const int64_t era = floor_div(z, 1461);
  const int64_t doe = z - era * 1461;
  const int64_t yoe = (doe - doe / 1460) / 365;
  return from_march_day(yoe + era * 4, doe - 365 * yoe);
}

constexpr int kNoLeapStart[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int kAllLeapStart[12] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};

// Days of a calendar whose years all have the same length, months starting at `start`.
int64_t fixed_year_days(const Date& d, int year_length, const int* start) {
  return d.year * year_length + start[d.month - 1] + d.day - 1;
}

Date fixed_year_date(int64_t days, int year_length, const int* start) {
  Date d;
  d.year = floor_div(days, year_length);
  const int doy = static_cast<int>(days - d.year * year_length);
  int m = 11;
  while (start[m] > doy) --m;
  d.month = m + 1;
  d.day = doy - start[m] + 1;
  return d;
}

bool before_gregorian_reform(const Date& d) {
  return d.year < 1582 || (d.year == 1582 && (d.month < 10 || (d.month == 10 && d.day < 15)));
}

int64_t day_number(const Date& d, Calendar c) {
  static const int kDay360Start[12] = {0, 30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330};
  switch (c) {
    case Calendar::standard:
      return before_gregorian_reform(d) ? julian_days(d) : gregorian_days(d);
    case Calendar::proleptic_gregorian:
      return gregorian_days(d);
    case Calendar::julian:
      return julian_days(d);
    case Calendar::noleap:
      return fixed_year_days(d, 365, kNoLeapStart);
    case Calendar::all_leap:
      return fixed_year_days(d, 366, kAllLeapStart);
    case Calendar::day360:
      return fixed_year_days(d, 360, kDay360Start);
  }
  return 0;
}

Date date_of_day(int64_t days, Calendar c) {
  static const int kDay360Start[12] = {0, 30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330};
  switch (c) {
    case Calendar::standard:
      return days < gregorian_days({1582, 10, 15}) ? julian_date(days) : gregorian_date(days);
    case Calendar::proleptic_gregorian:
      return gregorian_date(days);
    case Calendar::julian:
      return julian_date(days);
    case Calendar::noleap:
      return fixed_year_date(days, 365, kNoLeapStart);
    case Calendar::all_leap:
      return fixed_year_date(days, 366, kAllLeapStart);
    case Calendar::day360:
      return fixed_year_date(days, 360, kDay360Start);
  }
  return {};
}

// Reads a (possibly signed) integer at the front of `s` and drops it; false when none is there.
bool take_int(std::string_view& s, int64_t& v) {
  const char* b = s.data();
  if (!s.empty() && s.front() == '+') ++b;
  const auto [p, ec] = std::from_chars(b, s.data() + s.size(), v);
  if (ec != std::errc()) return false;
  s.remove_prefix(static_cast<size_t>(p - s.data()));
  return true;
}

bool take_char(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

// A time zone after the reference time: only UTC is accepted (model output uses no other).
bool utc_zone(std::string_view z) {
  const std::string s = lower(trim(z));
  if (s.empty() || s == "z" || s == "utc" || s == "gmt") return true;
  if (s[0] != '+' && s[0] != '-') return false;
  return s.find_first_not_of("0:", 1) == std::string::npos;
}

// "YYYY-MM-DD[( |T)hh:mm[:ss[.fff]]][zone]"; false when it is not a date of that form.
bool parse_reference(std::string_view s, Date& date, int64_t& seconds) {
  int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0;
  if (!take_int(s, y) || !take_char(s, '-') || !take_int(s, mo) || !take_char(s, '-') ||
      !take_int(s, d))
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31) return false;
  date = {y, static_cast<int>(mo), static_cast<int>(d)};
  seconds = 0;
  if (take_char(s, 't') || take_char(s, ' ')) {  // units are lower-cased
    while (take_char(s, ' ')) {
    }
    if (!s.empty() && std::isdigit(static_cast<unsigned char>(s.front()))) {
      if (!take_int(s, h) || !take_char(s, ':') || !take_int(s, mi)) return false;
      double sec = 0;
      if (take_char(s, ':')) {
        const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), sec);
        if (ec != std::errc()) return false;
        s.remove_prefix(static_cast<size_t>(p - s.data()));
      }
      if (h < 0 || h > 24 || mi < 0 || mi > 59 || sec < 0 || sec >= 61) return false;
      seconds = h * 3600 + mi * 60 + static_cast<int64_t>(std::llround(sec));
    }
  }
  return utc_zone(s);
}

bool parse_unit(const std::string& word, TimeUnit& unit) {
  static const std::map<std::string, TimeUnit> kUnits = {
      {"second", TimeUnit::seconds},  {"seconds", TimeUnit::seconds}, {"sec", TimeUnit::seconds},
      {"secs", TimeUnit::seconds},    {"s", TimeUnit::seconds},       {"minute", TimeUnit::minutes},
      {"minutes", TimeUnit::minutes}, {"min", TimeUnit::minutes},     {"mins", TimeUnit::minutes},
      {"hour", TimeUnit::hours},      {"hours", TimeUnit::hours},     {"hr", TimeUnit::hours},
      {"hrs", TimeUnit::hours},       {"h", TimeUnit::hours},         {"day", TimeUnit::days},
      {"days", TimeUnit::days},       {"d", TimeUnit::days},          {"month", TimeUnit::months},
      {"months", TimeUnit::months},   {"year", TimeUnit::years},      {"years", TimeUnit::years}};
  const auto it = kUnits.find(word);
  if (it == kUnits.end()) return false;
  unit = it->second;
  return true;
}

int64_t seconds_per(TimeUnit u) {
  switch (u) {
    case TimeUnit::seconds:
      return 1;
    case TimeUnit::minutes:
      return 60;
    case TimeUnit::hours:
      return 3600;
    default:
      return 86400;
  }
}

std::string year_text(const YearRange& r) {
  return std::to_string(r.first) + "-" + std::to_string(r.last);
}

}  // namespace

Calendar parse_calendar(const std::string& name) {
  static const std::map<std::string, Calendar> kCalendars = {
      {"", Calendar::standard},          {"standard", Calendar::standard},
      {"gregorian", Calendar::standard}, {"proleptic_gregorian", Calendar::proleptic_gregorian},
      {"julian", Calendar::julian},      {"noleap", Calendar::noleap},
      {"365_day", Calendar::noleap},     {"all_leap", Calendar::all_leap},
      {"366_day", Calendar::all_leap},   {"360_day", Calendar::day360}};
  const auto it = kCalendars.find(lower(trim(name)));
  if (it == kCalendars.end())
    throw ToolError("calendar '" + name +
                    "' is not one of standard, gregorian, proleptic_gregorian, julian, "
                    "noleap, 365_day, all_leap, 366_day, 360_day");
  return it->second;
}

const char* calendar_name(Calendar c) {
  switch (c) {
    case Calendar::standard:
      return "standard";
    case Calendar::proleptic_gregorian:
      return "proleptic_gregorian";
    case Calendar::julian:
      return "julian";
    case Calendar::noleap:
      return "noleap";
    case Calendar::all_leap:
      return "all_leap";
    case Calendar::day360:
      return "360_day";
  }
  return "";
}

bool has_leap_days(Calendar c) {
  return c == Calendar::standard || c == Calendar::proleptic_gregorian || c == Calendar::julian;
}

TimeAxis parse_time_axis(const std::string& units, const std::string& calendar) {
  const std::string u = lower(trim(units));
  const size_t since = u.find(" since ");
  TimeAxis axis;
  axis.calendar = parse_calendar(calendar);
  if (u.rfind("day as %y%m%d", 0) == 0) {
    axis.unit = TimeUnit::ymd;
    return axis;
  }
  if (since == std::string::npos || !parse_unit(trim(u.substr(0, since)), axis.unit) ||
      !parse_reference(trim(u.substr(since + 7)), axis.reference, axis.reference_seconds))
    throw ToolError("time units '" + units +
                    "' are not '<days|hours|minutes|seconds|months|years> since YYYY-MM-DD'");
  return axis;
}

Date date_of(double value, const TimeAxis& axis) {
  // Values a hair below a whole month or year (stored in float) count as that month or year.
  const double slack = 1e-6;
  if (axis.unit == TimeUnit::ymd) {
    const auto ymd = static_cast<int64_t>(std::floor(value + slack));
    return {floor_div(ymd, 10000), static_cast<int>(ymd / 100 % 100), static_cast<int>(ymd % 100)};
  }
  if (axis.unit == TimeUnit::months || axis.unit == TimeUnit::years) {
    const auto n = static_cast<int64_t>(std::floor(value + slack));
    Date d = axis.reference;
    if (axis.unit == TimeUnit::years) {
      d.year += n;
    } else {
      const int64_t m = (axis.reference.month - 1) + n;
      d.year += floor_div(m, 12);
      d.month = static_cast<int>(m - floor_div(m, 12) * 12) + 1;
    }
    return d;
  }
  const int64_t secs =
      std::llround(value * static_cast<double>(seconds_per(axis.unit))) + axis.reference_seconds;
  return date_of_day(day_number(axis.reference, axis.calendar) + floor_div(secs, 86400),
                     axis.calendar);
}

YearRange parse_year_range(const std::string& text) {
  std::string_view s = text;
  YearRange r;
  bool ok = take_int(s, r.first);
  r.last = r.first;
  if (ok && !s.empty()) ok = take_char(s, '-') && take_int(s, r.last) && s.empty();
  if (!ok) throw usage_error("--years '" + text + "' is not a year or a range Y1-Y2");
  if (r.last < r.first) throw usage_error("--years " + text + " ends before it starts");
  return r;
}

YearSpan plan_years(const std::vector<int64_t>& step_years, const std::optional<YearRange>& range,
                    Calendar calendar, const std::string& what) {
  if (step_years.empty()) throw ToolError(what + " has no time steps");
  for (size_t i = 1; i < step_years.size(); ++i)
    if (step_years[i] < step_years[i - 1])
      throw ToolError(what + ": the time steps are not in time order (step " +
                      std::to_string(i + 1) + " is in " + std::to_string(step_years[i]) +
                      ", after " + std::to_string(step_years[i - 1]) + ")");
  const YearRange have{step_years.front(), step_years.back()};
  const YearRange want = range.value_or(have);
  if (want.first < have.first || want.last > have.last)
    throw ToolError("--years " + year_text(want) + " is outside the years of " + what + " (" +
                    year_text(have) + ")");
  const auto first = std::lower_bound(step_years.begin(), step_years.end(), want.first);
  YearSpan span;
  span.first_step = first - step_years.begin();
  span.first_year = want.first;
  span.nyears = want.last - want.first + 1;
  const auto count = [&](int64_t y) {
    return std::upper_bound(step_years.begin(), step_years.end(), y) -
           std::lower_bound(step_years.begin(), step_years.end(), y);
  };
  span.steps_per_year = count(want.first);
  for (int64_t y = want.first; y <= want.last; ++y) {
    const int64_t n = count(y);
    if (n == span.steps_per_year) continue;
    std::string msg = what + ": the number of time steps per year is not fixed (" +
                      std::to_string(span.steps_per_year) + " in " + std::to_string(want.first) +
                      ", " + std::to_string(n) + " in " + std::to_string(y) + ")";
    if (has_leap_days(calendar) && std::max(n, span.steps_per_year) > 12)
      msg += ": daily steps on the " + std::string(calendar_name(calendar)) +
             " calendar, whose leap years have one day more; import takes a fixed number of "
             "steps per year (monthly or annual data, or daily data on a noleap or 360_day "
             "calendar, e.g. after 'cdo del29feb')";
    else if (y == want.last || n == 0 || y == want.first + 1)
      msg += "; choose whole years with --years";
    throw ToolError(msg);
  }
  return span;
}

}  // namespace interop::importer
