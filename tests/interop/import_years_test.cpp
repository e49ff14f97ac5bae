// rastertools import of time series written by cdo on the calendars of climate model output:
// whole years chosen through the time coordinate; and --grid, which takes a grid file's pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "e2e.h"
#include "import_support.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// 4 x 3 cells of 2 degrees: longitudes 175..181 (0..360), latitudes 3, 1, -1 (north first).
const char* const kGridDes =
    "gridtype = lonlat\nxsize = 4\nysize = 3\nxfirst = 175\nxinc = 2\nyfirst = 3\nyinc = -2\n";

// The value cdo's expression below gives a cell at step s (1-based).
float cell_value(int lon, int lat, int step) {
  return static_cast<float>(lon + 1000 * lat) + 0.25f * static_cast<float>(step);
}

// Steps first..last (1-based) in the suite's pixel order: rows north to south, then 181 (179W)
// before 175..179 (east).
std::vector<float> expected_steps(int first, int last) {
  std::vector<float> v;
  for (int s = first; s <= last; ++s)
    for (const int lat : {3, 1, -1})
      for (const int lon : {181, 175, 177, 179}) v.push_back(cell_value(lon, lat, s));
  return v;
}

// Makes in.nc with cdo: `ops` (the time axis and calendar), then n steps of the expression.
// cdo runs the rightmost operator first: -setcalendar stands right of -settaxis so that the
// axis is laid out on the calendar.
void make_series(const e2e::TempDir& dir, const std::vector<std::string>& ops, int n) {
  e2e::write_bytes(dir.file("grid.txt"), kGridDes);
  std::vector<std::string> args{"-s", "-f", "nc4"};
  args.insert(args.end(), ops.begin(), ops.end());
  for (const std::string& a : {std::string("-expr,tas=clon(tas)+1000*clat(tas)+0.25*ctimestep()"),
                               std::string("-setname,tas"), "-duplicate," + std::to_string(n),
                               std::string("-const,1,grid.txt"), std::string("in.nc")})
    args.push_back(a);
  imptest::run_peer("cdo", args, dir.path());
}

struct YearCase {
  const char* name;
  std::vector<std::string> cdo_ops;
  int nsteps;
  std::vector<std::string> args;  // after in.nc -o out.bin
  const char* summary;
  int first_step, last_step;  // 1-based steps expected in the output
};

class ImportYears : public testing::TestWithParam<YearCase> {};

TEST_P(ImportYears, ChosenStepsAndSummary) {
  const YearCase& c = GetParam();
  e2e::TempDir dir;
  make_series(dir, c.cdo_ops, c.nsteps);
  std::vector<std::string> args{"in.nc", "-o", "out.bin"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = imptest::import(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(imptest::last_line(r.out), c.summary);
  EXPECT_EQ(e2e::bits(e2e::read_floats(dir.file("out.bin"))),
            e2e::bits(expected_steps(c.first_step, c.last_step)));
}

const YearCase kYearCases[] = {
    {"day360_days_since_1850",
     {"-setreftime,1850-01-01,00:00:00,days", "-settaxis,2001-01-16,00:00:00,1mon",
      "-setcalendar,360_day"},
     36,
     {"--years", "2002-2002"},
     "npixel 12 nbandsyear 12 nyears 1 firstyear 2002",
     13,
     24},
    {"noleap_monthly_two_years",
     {"-setreftime,1850-01-01,00:00:00,days", "-settaxis,2001-01-16,12:00:00,1mon",
      "-setcalendar,365_day"},
     48,
     {"--years", "2002-2003"},
     "npixel 12 nbandsyear 12 nyears 2 firstyear 2002",
     13,
     36},
    {"months_since_all_years",
     {"-settaxis,2001-01-16,00:00:00,1mon", "-setcalendar,360_day"},
     24,
     {},
     "npixel 12 nbandsyear 12 nyears 2 firstyear 2001",
     1,
     24},
    {"proleptic_annual_hours",
     {"-setreftime,1901-01-01,00:00:00,hours", "-settaxis,1991-07-01,00:00:00,1year",
      "-setcalendar,proleptic_gregorian"},
     5,
     {"--years", "1992-1994"},
     "npixel 12 nbandsyear 1 nyears 3 firstyear 1992",
     2,
     4},
    {"all_leap_daily",
     {"-setreftime,2000-01-01,00:00:00,days", "-settaxis,2000-01-01,12:00:00,1day",
      "-setcalendar,366_day"},
     732,
     {"--years", "2001"},
     "npixel 12 nbandsyear 366 nyears 1 firstyear 2001",
     367,
     732},
    {"noleap_daily",
     {"-setreftime,1850-01-01,00:00:00,days", "-settaxis,2000-01-01,12:00:00,1day",
      "-setcalendar,365_day"},
     730,
     {},
     "npixel 12 nbandsyear 365 nyears 2 firstyear 2000",
     1,
     730},
    {"standard_daily_one_year",
     {"-setreftime,1850-01-01,00:00:00,days", "-settaxis,2000-01-01,12:00:00,1day",
      "-setcalendar,standard"},
     731,
     {"--years", "2001-2001"},
     "npixel 12 nbandsyear 365 nyears 1 firstyear 2001",
     367,
     731},
};

INSTANTIATE_TEST_SUITE_P(Cases, ImportYears, testing::ValuesIn(kYearCases), imptest::CaseName{});

// A file chunked along time (nccopy -c) gives the same bands as the file it was copied from.
TEST(ImportYearsChunks, ChunkedAlongTime) {
  e2e::TempDir dir;
  make_series(dir,
              {"-setreftime,1850-01-01,00:00:00,days", "-settaxis,2001-01-16,00:00:00,1mon",
               "-setcalendar,365_day"},
              36);
  imptest::run_peer("nccopy", {"-c", "time/36,lat/2,lon/3", "in.nc", "chunked.nc"}, dir.path());
  const e2e::Result r =
      imptest::import(dir, {"chunked.nc", "-o", "out.bin", "--years", "2002-2003"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(imptest::last_line(r.out), "npixel 12 nbandsyear 12 nyears 2 firstyear 2002");
  EXPECT_EQ(e2e::bits(e2e::read_floats(dir.file("out.bin"))), e2e::bits(expected_steps(13, 36)));
}

// Annual values stamped at the end of their year: the middle of the bounds says which year.
TEST(ImportYearsBounds, TimeBoundsDecideTheYear) {
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", R"(netcdf in {
dimensions:
  time = 2 ; bnds = 2 ; lat = 1 ; lon = 1 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ; time:bounds = "time_bnds" ;
  double time_bnds(time, bnds) ;
  double lat(lat) ; double lon(lon) ;
  float v(time, lat, lon) ;
data:
  time = 366, 731 ;
  time_bnds = 0, 366, 366, 731 ;
  lat = 0.25 ; lon = 0.25 ;
  v = 1, 2 ;
})");
  const e2e::Result r =
      imptest::import(dir, {"in.nc", "-o", "out.bin", "--years", "2000", "--res", "1/2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(imptest::last_line(r.out), "npixel 1 nbandsyear 1 nyears 1 firstyear 2000");
  EXPECT_EQ(e2e::read_floats(dir.file("out.bin")), std::vector<float>{1});
}

// --grid: the grid file's pixels in its order; cells outside the file are NaN and counted, a
// cell without a value in the first step takes what later steps hold.
TEST(ImportGrid, PixelsOfAGridFileWithMissingCells) {
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", R"(netcdf in {
dimensions:
  time = 2 ; lat = 2 ; lon = 3 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ;
  float lat(lat) ; float lon(lon) ;
  float tas(time, lat, lon) ; tas:_FillValue = 1.e20f ;
data:
  time = 15.5, 45 ;
  lat = -1, 1 ;
  lon = -179, -177, -175 ;
  tas = 1, 2, 1.e20f, 4, 5, 6,
        7, -0.f, 9, 10, NaNf, 1.4e-45f ;
})");
  // lon*100, lat*100 (northern edges): (-177, 1), (-175, -1) fill in step 1 only, (179, 1)
  // outside the file, (-179, -1).
  const std::vector<int16_t> g{-17700, 200, -17500, 0, 17900, 200, -17900, 0};
  e2e::write_bytes(dir.file("g.bin"), std::string(reinterpret_cast<const char*>(g.data()), 16));
  const e2e::Result r = imptest::import(dir, {"in.nc", "-o", "out.bin", "--grid", "g.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "rastertools-import: warning: 1 of 4 pixels of grid file 'g.bin' have no value in "
            "'in.nc' (their cells lie outside its grid): they are NaN\n");
  EXPECT_EQ(r.out,
            "imported tas of in.nc: 4 pixels, 2 bands (1 year of 2 from 2000) into out.bin; grid "
            "g.bin (2 degree, northedge), sidecar out.hdr\n"
            "npixel 4 nbandsyear 2 nyears 1 firstyear 2000\n");
  EXPECT_EQ(e2e::bits(e2e::read_floats(dir.file("out.bin"))),
            e2e::bits(std::vector<float>{5, kNaN, kNaN, 1, kNaN, 9, kNaN, 7}));
  EXPECT_FALSE(e2e::exists(dir.file("out.grid.bin")));
  const std::string hdr = e2e::read_bytes(dir.file("out.hdr"));
  EXPECT_NE(hdr.find("rastertools grid file = g.bin\nrastertools resolution = 2\n"
                     "rastertools grid convention = northedge\n"),
            std::string::npos)
      << hdr;
}

// The bundled 0.5 degree grids on a global file made by cdo: each pixel gets its own cell, in
// either convention; without --grid every cell is a pixel.
class ImportBundledGrid : public testing::TestWithParam<const char*> {};

TEST_P(ImportBundledGrid, EveryPixelItsCell) {
  e2e::TempDir dir;
  e2e::write_bytes(dir.file("global.txt"),
                   "gridtype = lonlat\nxsize = 720\nysize = 360\nxfirst = -179.75\nxinc = 0.5\n"
                   "yfirst = -89.75\nyinc = 0.5\n");
  imptest::run_peer("cdo",
                    {"-s", "-f", "nc4", "-setname,v", "-expr,v=clon(v)+1000*clat(v)", "-setname,v",
                     "-const,1,global.txt", "in.nc"},
                    dir.path());
  const std::string grid = e2e::data_path(std::string("grid_0.5deg_") + GetParam() + ".bin");
  const e2e::Result r = imptest::import(dir, {"in.nc", "-o", "out.bin", "--grid", grid});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(imptest::last_line(r.out), "npixel 61534 nbandsyear 1 nyears 1 firstyear NA");
  const imptest::Records rec = imptest::read_grid(grid);
  const std::vector<float> got = e2e::read_floats(dir.file("out.bin"));
  ASSERT_EQ(got.size(), rec.size());
  const double shift = std::string(GetParam()) == "northedge" ? 0.25 : 0.0;
  size_t bad = 0;
  for (size_t p = 0; p < rec.size(); ++p) {
    const double lon = rec[p].first / 100.0, lat = rec[p].second / 100.0 - shift;
    if (got[p] != static_cast<float>(lon + 1000 * lat)) ++bad;
  }
  EXPECT_EQ(bad, 0u);

  const e2e::Result all = imptest::import(dir, {"in.nc", "-o", "all.bin"});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(imptest::last_line(all.out), "npixel 259200 nbandsyear 1 nyears 1 firstyear NA");
  const imptest::Records cells = imptest::read_grid(dir.file("all.grid.bin"));
  ASSERT_EQ(cells.size(), 259200u);
  EXPECT_EQ(cells.front(), std::make_pair(-17975, 9000));
  EXPECT_EQ(cells[720], std::make_pair(-17975, 8950));
  EXPECT_EQ(cells.back(), std::make_pair(17975, -8950));
}

INSTANTIATE_TEST_SUITE_P(Conventions, ImportBundledGrid, testing::Values("centre", "northedge"));

}  // namespace
