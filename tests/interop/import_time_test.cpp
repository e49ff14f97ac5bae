// Unit tests of import's time axis: dates of CF time values on every calendar (worked by hand
// from the calendars' rules), units that are refused, and the choice of whole years.
#include "import_time.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "import_support.h"

namespace {

using interop::importer::Calendar;
using interop::importer::Date;

struct DateCase {
  const char* name;
  const char* units;
  const char* calendar;
  double value;
  int64_t year;
  int month, day;
};

class Dates : public testing::TestWithParam<DateCase> {};

TEST_P(Dates, OfValue) {
  const DateCase& c = GetParam();
  const auto axis = interop::importer::parse_time_axis(c.units, c.calendar);
  const Date d = interop::importer::date_of(c.value, axis);
  EXPECT_EQ(d.year, c.year);
  EXPECT_EQ(d.month, c.month);
  EXPECT_EQ(d.day, c.day);
}

const DateCase kDates[] = {
    // 1970..1999 hold 7 leap years: 10957 days to 2000-01-01, 59 more to 29 February.
    {"proleptic_leap_day_2000", "days since 1970-01-01", "proleptic_gregorian", 11016, 2000, 2, 29},
    {"proleptic_1900_not_leap", "days since 1900-02-28", "proleptic_gregorian", 1, 1900, 3, 1},
    {"standard_reform_gap", "days since 1582-10-04", "standard", 1, 1582, 10, 15},
    {"gregorian_is_standard", "days since 1582-10-15 00:00:00", "gregorian", -1, 1582, 10, 4},
    {"julian_1900_is_leap", "days since 1900-02-28", "julian", 1, 1900, 2, 29},
    {"standard_before_reform_julian", "days since 1500-02-28", "standard", 1, 1500, 2, 29},
    {"noleap_no_feb_29", "days since 2000-02-28", "noleap", 1, 2000, 3, 1},
    {"day365_year_end", "days since 2000-01-01", "365_day", 365, 2001, 1, 1},
    {"all_leap_feb_29", "days since 2001-02-28", "all_leap", 1, 2001, 2, 29},
    {"day366_year_end", "days since 2001-01-01", "366_day", 365, 2001, 12, 31},
    {"day360_month_30", "days since 2000-02-01", "360_day", 29.5, 2000, 2, 30},
    {"day360_year", "days since 1850-01-01", "360_day", 151 * 360 + 15, 2001, 1, 16},
    {"hours_from_noon", "hours since 2000-01-01 12:00:00", "standard", 12, 2000, 1, 2},
    {"hours_before_midnight", "hours since 2000-01-01 12:00", "standard", 11.5, 2000, 1, 1},
    {"seconds_iso_z", "seconds since 1970-01-01T00:00:00Z", "standard", 86399, 1970, 1, 1},
    {"minutes", "minutes since 1999-12-31 23:00:00", "standard", 60, 2000, 1, 1},
    {"negative_days", "days since 2000-01-01", "standard", -1, 1999, 12, 31},
    {"float_below_year", "days since 2000-01-01", "noleap", 364.9999999999, 2001, 1, 1},
    {"months_since", "months since 1971-1-1", "360_day", 12.5, 1972, 1, 1},
    {"months_back", "months since 1971-01-01", "standard", -1, 1970, 12, 1},
    {"years_since", "years since 1850-01-01", "noleap", 150.5, 2000, 1, 1},
    {"absolute_ymd", "day as %Y%m%d.%f", "proleptic_gregorian", 19710116.5, 1971, 1, 16},
    {"empty_calendar_standard", "days since 1970-01-01", "", 0, 1970, 1, 1},
};

INSTANTIATE_TEST_SUITE_P(Cases, Dates, testing::ValuesIn(kDates), imptest::CaseName{});

struct BadUnits {
  const char* name;
  const char* units;
  const char* calendar;
};

class RefusedUnits : public testing::TestWithParam<BadUnits> {};

TEST_P(RefusedUnits, Throw) {
  const BadUnits& c = GetParam();
  EXPECT_THROW(interop::importer::parse_time_axis(c.units, c.calendar), std::runtime_error);
}

const BadUnits kBadUnits[] = {
    {"no_since", "days", "standard"},
    {"unknown_unit", "fortnights since 2000-01-01", "standard"},
    {"bad_month", "days since 2000-13-01", "standard"},
    {"not_a_date", "days since yesterday", "standard"},
    {"time_zone", "hours since 2000-01-01 00:00:00 +01:00", "standard"},
    {"unknown_calendar", "days since 2000-01-01", "lunar"},
};

INSTANTIATE_TEST_SUITE_P(Cases, RefusedUnits, testing::ValuesIn(kBadUnits), imptest::CaseName{});

// ---- whole years ----------------------------------------------------------------------------

std::vector<int64_t> years_of(std::initializer_list<std::pair<int64_t, int>> counts) {
  std::vector<int64_t> v;
  for (const auto& [year, n] : counts) v.insert(v.end(), static_cast<size_t>(n), year);
  return v;
}

TEST(PlanYears, AllYears) {
  const auto s = interop::importer::plan_years(years_of({{1971, 12}, {1972, 12}, {1973, 12}}),
                                               std::nullopt, Calendar::standard, "f");
  EXPECT_EQ(s.first_step, 0);
  EXPECT_EQ(s.steps_per_year, 12);
  EXPECT_EQ(s.first_year, 1971);
  EXPECT_EQ(s.nyears, 3);
}

TEST(PlanYears, ChosenYearsOfAPartialSeries) {
  const auto s = interop::importer::plan_years(
      years_of({{1970, 3}, {1971, 12}, {1972, 12}, {1973, 5}}),
      interop::importer::YearRange{1971, 1972}, Calendar::standard, "f");
  EXPECT_EQ(s.first_step, 3);
  EXPECT_EQ(s.steps_per_year, 12);
  EXPECT_EQ(s.nyears, 2);
}

std::string plan_error(const std::vector<int64_t>& years,
                       std::optional<interop::importer::YearRange> r, Calendar c) {
  try {
    interop::importer::plan_years(years, r, c, "'f.nc'");
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(PlanYears, LeapDaysRefused) {
  EXPECT_EQ(plan_error(years_of({{2000, 366}, {2001, 365}}), std::nullopt, Calendar::standard),
            "'f.nc': the number of time steps per year is not fixed (366 in 2000, 365 in 2001): "
            "daily steps on the standard calendar, whose leap years have one day more; import "
            "takes a fixed number of steps per year (monthly or annual data, or daily data on a "
            "noleap or 360_day calendar, e.g. after 'cdo del29feb')");
}

TEST(PlanYears, PartialLastYear) {
  EXPECT_EQ(plan_error(years_of({{1971, 12}, {1972, 7}}), std::nullopt, Calendar::noleap),
            "'f.nc': the number of time steps per year is not fixed (12 in 1971, 7 in 1972); "
            "choose whole years with --years");
}

TEST(PlanYears, GapInTheYears) {
  EXPECT_EQ(plan_error(years_of({{1971, 1}, {1973, 1}}), std::nullopt, Calendar::noleap),
            "'f.nc': the number of time steps per year is not fixed (1 in 1971, 0 in 1972); "
            "choose whole years with --years");
}

TEST(PlanYears, RangeOutside) {
  EXPECT_EQ(plan_error(years_of({{1971, 12}, {1972, 12}}), interop::importer::YearRange{1960, 1971},
                       Calendar::standard),
            "--years 1960-1971 is outside the years of 'f.nc' (1971-1972)");
}

TEST(PlanYears, TimeOrder) {
  EXPECT_EQ(plan_error({1972, 1971}, std::nullopt, Calendar::standard),
            "'f.nc': the time steps are not in time order (step 2 is in 1971, after 1972)");
}

struct RangeCase {
  const char* name;
  const char* text;
  bool ok;
  int64_t first, last;
};

class YearRanges : public testing::TestWithParam<RangeCase> {};

TEST_P(YearRanges, Parse) {
  const RangeCase& c = GetParam();
  if (!c.ok) {
    EXPECT_THROW(interop::importer::parse_year_range(c.text), std::runtime_error);
    return;
  }
  const auto r = interop::importer::parse_year_range(c.text);
  EXPECT_EQ(r.first, c.first);
  EXPECT_EQ(r.last, c.last);
}

const RangeCase kRanges[] = {
    {"range", "1971-2000", true, 1971, 2000},
    {"one_year", "1990", true, 1990, 1990},
    {"negative", "-100--50", true, -100, -50},
    {"reversed", "2000-1971", false, 0, 0},
    {"text", "19x1-2000", false, 0, 0},
    {"open", "1971-", false, 0, 0},
    {"empty", "", false, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, YearRanges, testing::ValuesIn(kRanges), imptest::CaseName{});

}  // namespace
