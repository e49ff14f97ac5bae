#include "timeaxis.h"

#include <strings.h>

#include <cstdio>

#include "tool.h"

namespace interop {

namespace {

bool gregorian_leap(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

constexpr int64_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Days from FIRST-01-01 to YEAR-01-01 (year >= first).
int64_t days_before_year(CalendarKind k, int64_t first, int64_t year) {
  int64_t d = 0;
  for (int64_t y = first; y < year; ++y) d += days_in_year(k, y);
  return d;
}

}  // namespace

Calendar parse_calendar(const std::string& text) {
  struct Name {
    const char* name;
    CalendarKind kind;
  };
  static constexpr Name kNames[] = {
      {"proleptic_gregorian", CalendarKind::gregorian},
      {"standard", CalendarKind::gregorian},
      {"gregorian", CalendarKind::gregorian},
      {"julian", CalendarKind::julian},
      {"noleap", CalendarKind::noleap},
      {"365_day", CalendarKind::noleap},
      {"all_leap", CalendarKind::all_leap},
      {"366_day", CalendarKind::all_leap},
      {"360_day", CalendarKind::day360},
  };
  for (const Name& n : kNames)
    if (strcasecmp(text.c_str(), n.name) == 0) return Calendar{n.kind, n.name};
  throw usage_error("unknown calendar '" + text +
                    "': give proleptic_gregorian, standard, julian, noleap, 365_day, all_leap, "
                    "366_day or 360_day");
}

int64_t days_in_year(CalendarKind k, int64_t year) {
  switch (k) {
    case CalendarKind::gregorian:
      return gregorian_leap(year) ? 366 : 365;
    case CalendarKind::julian:
      return year % 4 == 0 ? 366 : 365;
    case CalendarKind::noleap:
      return 365;
    case CalendarKind::all_leap:
      return 366;
    case CalendarKind::day360:
      return 360;
  }
  return 365;
}

int64_t days_in_month(CalendarKind k, int64_t year, int month) {
  if (k == CalendarKind::day360) return 30;
  if (month == 1 && days_in_year(k, year) == 366) return 29;
  return kMonthDays[month];
}

BandTime band_time(CalendarKind k, int64_t first_year, int64_t bands_per_year, int64_t band) {
  const int64_t year = first_year + band / bands_per_year;
  const int64_t slot = band % bands_per_year;
  const double y0 = static_cast<double>(days_before_year(k, first_year, year));
  BandTime t;
  if (bands_per_year == 12) {
    int64_t before = 0;
    for (int m = 0; m < slot; ++m) before += days_in_month(k, year, m);
    t.start = y0 + static_cast<double>(before);
    t.end = t.start + static_cast<double>(days_in_month(k, year, static_cast<int>(slot)));
  } else {
    const double len = static_cast<double>(days_in_year(k, year));
    const double n = static_cast<double>(bands_per_year);
    t.start = y0 + len * static_cast<double>(slot) / n;
    t.end = y0 + len * static_cast<double>(slot + 1) / n;
  }
  t.mid = (t.start + t.end) / 2;
  return t;
}

std::string band_label(int64_t first_year, int64_t bands_per_year, int64_t band) {
  const long long year = first_year + band / bands_per_year;
  const long long slot = band % bands_per_year;
  char buf[64];
  if (bands_per_year == 12)
    std::snprintf(buf, sizeof buf, "%lld-%02lld", year, slot + 1);
  else if (bands_per_year == 1)
    std::snprintf(buf, sizeof buf, "%lld", year);
  else
    std::snprintf(buf, sizeof buf, "%lld band %lld", year, slot);
  return buf;
}

std::string time_units(int64_t first_year) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "days since %04lld-01-01", static_cast<long long>(first_year));
  return buf;
}

}  // namespace interop
