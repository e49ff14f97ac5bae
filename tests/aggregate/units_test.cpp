// The computation of yearly and fldstat in-process: which input bands make each output band,
// the per-pixel statistic with its NaN rules and rounding, the zone statistic, latitude bands.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "fldstat.h"
#include "yearly.h"
#include "zones.h"

namespace {

using aggregate::MonthWindow;
using aggregate::Stat;

const float nan = std::numeric_limits<float>::quiet_NaN();

uint32_t bits(float v) {
  uint32_t b = 0;
  std::memcpy(&b, &v, 4);
  return b;
}

// "year:first+count" of each span, dropped ones after a '|'.
std::string plan_text(const aggregate::YearPlan& p) {
  std::ostringstream s;
  for (const auto* list : {&p.spans, &p.dropped}) {
    if (list == &p.dropped) s << "|";
    for (const aggregate::YearSpan& y : *list)
      s << " " << y.year << ":" << y.first_band << "+" << y.count;
  }
  s << " unused " << p.unused_bands;
  return s.str();
}

TEST(YearPlan, WindowsAcrossTheYearsEnd) {
  struct Case {
    int64_t nbands, per_year;
    std::optional<MonthWindow> w;
    bool keep;
    const char* want;
  };
  const Case cases[] = {
      {36, 12, {}, false, " 0:0+12 1:12+12 2:24+12| unused 0"},
      {36, 12, MonthWindow{12, 2}, false, " 1:11+3 2:23+3| 0:0+2 3:35+1 unused 0"},
      {36, 12, MonthWindow{12, 2}, true, " 0:0+2 1:11+3 2:23+3 3:35+1| unused 0"},
      {38, 12, MonthWindow{6, 8}, false, " 0:5+3 1:17+3 2:29+3| unused 2"},
      {24, 12, MonthWindow{11, 3}, false, " 1:10+5| 0:0+3 2:22+2 unused 0"},
      {24, 12, MonthWindow{1, 12}, false, " 0:0+12 1:12+12| unused 0"},
      {10, 4, {}, false, " 0:0+4 1:4+4| unused 2"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(plan_text(aggregate::plan_years(c.nbands, c.per_year, c.w, c.keep)), c.want)
        << c.nbands << " " << c.want;
  EXPECT_THROW(aggregate::plan_years(24, 4, MonthWindow{1, 2}, false), std::exception);
  EXPECT_EQ(aggregate::window_text(aggregate::parse_season("djf")), "DJF");
  EXPECT_EQ(aggregate::window_text(aggregate::parse_months("11-3")), "months 11-3");
  EXPECT_EQ(aggregate::parse_months("11-3").length(), 5);
  for (const char* bad : {"0-3", "3", "3-13", "a-b", "3-"})
    EXPECT_THROW(aggregate::parse_months(bad), std::exception) << bad;
}

// Three bands of six pixels: pixel 0 adds up only in double (2^24 + 1 + 1), pixel 1 holds a
// NaN, pixel 2 is -0 throughout, pixel 3 NaN throughout, pixel 4 infinities, pixel 5 mixed signs.
const std::vector<float> kBands = {16777216.0f, nan,  -0.0f, nan, INFINITY,  3.0f,   //
                                   1.0f,        2.0f, -0.0f, nan, 1.0f,      -1.5f,  //
                                   1.0f,        4.0f, -0.0f, nan, -INFINITY, 0.5f};

TEST(AggregateBands, StatisticsNanRulesAndOneRounding) {
  struct Case {
    Stat stat;
    int64_t min_count;
    std::vector<float> want;
    int64_t nan_results, skipped, too_few;
  };
  const Case cases[] = {
      {Stat::sum, 0, {16777218.0f, nan, -0.0f, nan, nan, 2.0f}, 2, 0, 0},
      {Stat::sum, 2, {16777218.0f, 6.0f, -0.0f, nan, nan, 2.0f}, 0, 4, 1},
      {Stat::sum, 3, {16777218.0f, nan, -0.0f, nan, nan, 2.0f}, 0, 4, 2},
      {Stat::mean,
       0,
       {static_cast<float>(16777218.0 / 3), nan, -0.0f, nan, nan, static_cast<float>(2.0 / 3)},
       2,
       0,
       0},
      {Stat::mean,
       1,
       {static_cast<float>(16777218.0 / 3), 3.0f, -0.0f, nan, nan, static_cast<float>(2.0 / 3)},
       0,
       4,
       1},
      {Stat::min, 0, {1.0f, nan, -0.0f, nan, -INFINITY, -1.5f}, 2, 0, 0},
      {Stat::min, 1, {1.0f, 2.0f, -0.0f, nan, -INFINITY, -1.5f}, 0, 4, 1},
      {Stat::max, 0, {16777216.0f, nan, -0.0f, nan, INFINITY, 3.0f}, 2, 0, 0},
      {Stat::max, 2, {16777216.0f, 4.0f, -0.0f, nan, INFINITY, 3.0f}, 0, 4, 1},
  };
  for (const Case& c : cases) {
    std::vector<float> out(6);
    aggregate::NanCounts n;
    aggregate::aggregate_bands(kBands.data(), 3, 6, c.stat, c.min_count, out.data(), &n);
    for (size_t p = 0; p < 6; ++p) {
      if (std::isnan(c.want[p]))
        EXPECT_TRUE(std::isnan(out[p])) << aggregate::stat_name(c.stat) << c.min_count << " " << p;
      else
        EXPECT_EQ(bits(out[p]), bits(c.want[p]))
            << aggregate::stat_name(c.stat) << c.min_count << " pixel " << p << ": " << out[p];
    }
    EXPECT_EQ(n.nan_results, c.nan_results) << aggregate::stat_name(c.stat) << c.min_count;
    EXPECT_EQ(n.skipped, c.skipped) << aggregate::stat_name(c.stat) << c.min_count;
    EXPECT_EQ(n.too_few, c.too_few) << aggregate::stat_name(c.stat) << c.min_count;
  }
}

TEST(ZoneStats, WeightedSumsMeansAndExtremes) {
  const std::vector<float> band = {1.0f, nan, 3.0f, 5.0f};
  const std::vector<double> w = {1, 2, 3, 4};
  aggregate::Zones z;
  z.zones = {{"all", {0, 1, 2, 3}}, {"west", {0, 1}}, {"nan", {1}}};
  struct Case {
    Stat stat;
    double all, west;
  };
  for (const Case c : {Case{Stat::sum, 30, 1}, Case{Stat::mean, 3.75, 1}, Case{Stat::min, 1, 1},
                       Case{Stat::max, 5, 1}}) {
    aggregate::ZoneValue v[3];
    aggregate::zone_stats(band.data(), w, z, c.stat, v);
    EXPECT_EQ(v[0].value, c.all) << aggregate::stat_name(c.stat);
    EXPECT_EQ(v[1].value, c.west) << aggregate::stat_name(c.stat);
    EXPECT_TRUE(std::isnan(v[2].value)) << aggregate::stat_name(c.stat);
    EXPECT_EQ(v[0].weight, 8);
    EXPECT_EQ(v[0].used, 3);
    EXPECT_EQ(v[0].skipped, 1);
    EXPECT_EQ(v[2].used, 0);
    EXPECT_EQ(v[2].skipped, 1);
  }
}

TEST(LatitudeZones, BandsByCellCentreNamedByTheirEdges) {
  interop::PlacedGrid g;
  g.global = interop::GlobalGrid(0.5);
  // Rows 0 (89.75N), 59 (60.25N), 60 (59.75N), 180 (0.25S), 359 (89.75S); columns do not matter.
  for (const int64_t row : {0, 59, 60, 180, 359}) g.cells.push_back(row * 720 + 3);
  struct Case {
    double deg;
    std::vector<std::string> names;
    std::vector<std::vector<int64_t>> pixels;
  };
  const Case cases[] = {
      {30, {"60N-90N", "30N-60N", "30S-0", "90S-60S"}, {{0, 1}, {2}, {3}, {4}}},
      {7, {"83N-90N", "55N-62N", "1S-6N", "90S-85S"}, {{0}, {1, 2}, {3}, {4}}},
      {180, {"90S-90N"}, {{0, 1, 2, 3, 4}}},
  };
  for (const Case& c : cases) {
    const aggregate::Zones z = aggregate::latitude_zones(g, c.deg);
    ASSERT_EQ(z.zones.size(), c.names.size()) << c.deg;
    for (size_t i = 0; i < z.zones.size(); ++i) {
      EXPECT_EQ(z.zones[i].name, c.names[i]) << c.deg;
      EXPECT_EQ(z.zones[i].pixels, c.pixels[i]) << c.deg;
    }
  }
  EXPECT_EQ(aggregate::latitude_zones(g, 0.5).zones[1].name, "60.0N-60.5N");
  EXPECT_EQ(aggregate::parse_zones("lat:1/2"), 0.5);
  for (const char* bad : {"lon:5", "lat:0", "lat:-5", "lat:200", "lat:x"})
    EXPECT_THROW(aggregate::parse_zones(bad), std::exception) << bad;
}

}  // namespace
