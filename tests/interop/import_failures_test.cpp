// rastertools import on inputs and command lines it must refuse: each message, status, and
// that nothing is left behind (no output, the input unchanged).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e.h"
#include "import_support.h"

namespace {

// Two data variables on a 2 degree grid, three monthly years (2001..2003) on noleap.
const char* const kTwoVars = R"(netcdf in {
dimensions:
  time = 36 ; lat = 2 ; lon = 2 ; bnds = 2 ;
variables:
  double time(time) ; time:units = "months since 2001-01-01" ; time:calendar = "noleap" ;
  double lat(lat) ; lat:units = "degrees_north" ; lat:bounds = "lat_bnds" ;
  double lat_bnds(lat, bnds) ;
  double lon(lon) ; lon:units = "degrees_east" ;
  float tas(time, lat, lon) ;
  float pr(time, lat, lon) ;
data:
  time = 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
         24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35 ;
  lat = 1, 3 ; lat_bnds = 0, 2, 2, 4 ; lon = 1, 3 ;
})";

const char* const k2d = R"(netcdf in {
dimensions:
  lat = 2 ; lon = 2 ;
variables:
  double lat(lat) ; double lon(lon) ;
  float tas(lat, lon) ; tas:_FillValue = -9999.f ;
data:
  lat = 1, 3 ; lon = 1, 3 ;
  tas = 1, 2, 3, 4 ;
})";

struct FailCase {
  const char* name;
  const char* cdl;                // empty: in.nc is the text "not NetCDF"
  std::vector<std::string> args;  // the whole command line after the program
  int status;
  std::string err;  // the whole stderr; "..." at its end: only its start is given
};

class ImportFailures : public testing::TestWithParam<FailCase> {};

TEST_P(ImportFailures, MessageStatusNothingWritten) {
  const FailCase& c = GetParam();
  e2e::TempDir dir;
  if (*c.cdl)
    imptest::ncgen(dir, "in", c.cdl);
  else
    e2e::write_bytes(dir.file("in.nc"), "not NetCDF\n");
  const std::string before = e2e::read_bytes(dir.file("in.nc"));
  const e2e::Result r = imptest::import(dir, c.args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, "");
  const std::string prefix = "rastertools-import: error: ";
  if (c.err.ends_with("..."))
    EXPECT_EQ(r.err.substr(0, prefix.size() + c.err.size() - 3),
              prefix + c.err.substr(0, c.err.size() - 3));
  else
    EXPECT_EQ(r.err, prefix + c.err);
  EXPECT_EQ(e2e::read_bytes(dir.file("in.nc")), before);
  for (const char* out : {"out.bin", "out.hdr", "out.grid.bin"})
    EXPECT_FALSE(e2e::exists(dir.file(out))) << out;
}

const std::string kUsageTail = "run 'rastertools-import --help' for usage\n";
const std::string kLeap = R"(netcdf in {
dimensions:
  time = UNLIMITED ; lat = 1 ; lon = 1 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ; time:calendar = "proleptic_gregorian" ;
  double lat(lat) ; double lon(lon) ;
  float tas(time, lat, lon) ;
data:
  lat = 1 ; lon = 1 ;
  time = )";

// 731 daily steps from 2000-01-01: 366 in 2000, 365 in 2001.
std::string daily_leap_cdl() {
  std::string t, v;
  for (int d = 0; d < 731; ++d) {
    if (d > 0) {
      t.append(", ");
      v.append(", ");
    }
    t.append(std::to_string(d)).append(".5");
    v.append(std::to_string(d));
  }
  std::string cdl = kLeap;
  cdl.append(t).append(" ;\n  tas = ").append(v).append(" ;\n}\n");
  return cdl;
}
const std::string kDailyLeap = daily_leap_cdl();

std::vector<FailCase> fail_cases() {
  const std::string grid2 = e2e::data_path("grid_2deg_northedge.bin");
  return {
      {"missing_variable",
       kTwoVars,
       {"in.nc", "-o", "out.bin", "--var", "huss"},
       1,
       "'in.nc' has no variable 'huss'; its data variables: tas, pr\n"},
      {"ambiguous_variable",
       kTwoVars,
       {"in.nc", "-o", "out.bin"},
       1,
       "'in.nc' holds several data variables (tas, pr): choose one with --var\n"},
      {"not_a_data_variable",
       kTwoVars,
       {"in.nc", "-o", "out.bin", "--var", "lat_bnds"},
       1,
       "variable 'lat_bnds' of 'in.nc' is not on a latitude/longitude grid; its data "
       "variables: tas, pr\n"},
      {"years_outside",
       kTwoVars,
       {"in.nc", "-o", "out.bin", "--var", "tas", "--years", "1995-2002"},
       1,
       "--years 1995-2002 is outside the years of 'in.nc' (2001-2003)\n"},
      {"years_after",
       kTwoVars,
       {"in.nc", "-o", "out.bin", "--var", "pr", "--years", "2004"},
       1,
       "--years 2004-2004 is outside the years of 'in.nc' (2001-2003)\n"},
      {"daily_leap_days",
       kDailyLeap.c_str(),
       {"in.nc", "-o", "out.bin"},
       1,
       "'in.nc': the number of time steps per year is not fixed (366 in 2000, 365 in 2001): "
       "daily steps on the proleptic_gregorian calendar, whose leap years have one day more; "
       "import takes a fixed number of steps per year (monthly or annual data, or daily data "
       "on a noleap or 360_day calendar, e.g. after 'cdo del29feb')\n"},
      {"grid_of_other_resolution",
       kTwoVars,
       {"in.nc", "-o", "out.bin", "--var", "tas", "--grid",
        e2e::data_path("grid_0.5deg_northedge.bin")},
       1,
       "grid file '" + e2e::data_path("grid_0.5deg_northedge.bin") +
           "' is a 0.5 degree grid but 'in.nc' has 2 degree cells (give --res if the grid's "
           "resolution is another)\n"},
      {"res_not_the_files",
       k2d,
       {"in.nc", "-o", "out.bin", "--res", "0.5"},
       1,
       "--res 0.5 does not match the 2 degree cells of 'in.nc'\n"},
      {"years_without_time",
       k2d,
       {"in.nc", "-o", "out.bin", "--years", "2001"},
       1,
       "'in.nc' has no usable time axis: --years cannot choose years\n"},
      {"bad_year_text",
       k2d,
       {"in.nc", "-o", "out.bin", "--years", "2001-x"},
       2,
       "--years '2001-x' is not a year or a range Y1-Y2\n" + kUsageTail},
      {"reversed_years",
       k2d,
       {"in.nc", "-o", "out.bin", "--years", "2003-2001"},
       2,
       "--years 2003-2001 ends before it starts\n" + kUsageTail},
      {"output_is_input",
       k2d,
       {"in.nc", "-o", "in.nc"},
       2,
       "output in.nc is the input in.nc; refusing to overwrite it\n" + kUsageTail},
      {"grid_out_is_input",
       k2d,
       {"in.nc", "-o", "out.bin", "--grid-out", "./in.nc"},
       2,
       "output ./in.nc is the input in.nc; refusing to overwrite it\n" + kUsageTail},
      {"raw_is_its_sidecar",
       k2d,
       {"in.nc", "-o", "out.hdr"},
       2,
       "outputs out.hdr and out.hdr are the same file (the raw file, its sidecar .hdr and the "
       "grid file need three names)\n" +
           kUsageTail},
      {"grid_and_grid_out",
       k2d,
       {"in.nc", "-o", "out.bin", "--grid", grid2, "--grid-out", "g.bin"},
       2,
       "--grid excludes --grid-out\n" + kUsageTail},
      {"bad_convention", k2d, {"in.nc", "-o", "out.bin", "--convention", "middle"}, 2, "..."},
      {"no_output", k2d, {"in.nc"}, 2, "--output is required\n" + kUsageTail},
      {"not_netcdf",
       "",
       {"in.nc", "-o", "out.bin"},
       1,
       "'in.nc' is neither a NetCDF file nor a raster file GDAL reads\n"},
      {"missing_input",
       k2d,
       {"nope.nc", "-o", "out.bin"},
       1,
       "cannot read 'nope.nc': No such file or directory\n"},
      {"no_output_folder",
       k2d,
       {"in.nc", "-o", "nodir/out.bin"},
       1,
       "cannot write nodir/out.bin: folder nodir does not exist\n"},
      {"no_value_in_first_step",
       R"(netcdf in {
dimensions: lat = 1 ; lon = 2 ;
variables: double lat(lat) ; double lon(lon) ; float tas(lat, lon) ; tas:_FillValue = -1.f ;
data: lat = 1 ; lon = 1, 3 ; tas = -1, -1 ;
})",
       {"in.nc", "-o", "out.bin"},
       1,
       "'in.nc': no cell of tas holds a value in any step imported\n"},
      {"latitude_off_centre",
       R"(netcdf in {
dimensions: lat = 3 ; lon = 2 ;
variables: double lat(lat) ; double lon(lon) ; float tas(lat, lon) ;
data: lat = 1, 3, 6 ; lon = 1, 3 ; tas = 1, 2, 3, 4, 5, 6 ;
})",
       {"in.nc", "-o", "out.bin"},
       1,
       "latitude 6 of 'in.nc' is not the centre of a cell of the 2 degree grid (90 - 1 + k * "
       "2)\n"},
      {"lon_lat_order",
       R"(netcdf in {
dimensions: lat = 2 ; lon = 2 ;
variables: double lat(lat) ; double lon(lon) ; float tas(lon, lat) ;
data: lat = 1, 3 ; lon = 1, 3 ; tas = 1, 2, 3, 4 ;
})",
       {"in.nc", "-o", "out.bin"},
       1,
       "variable 'tas' of 'in.nc' has dimensions (lon, lat): import reads (time, lat, lon) or "
       "(lat, lon), and one level (--level) of (time, level, lat, lon) or (level, lat, lon)\n"},
      {"no_grid_variable",
       R"(netcdf in {
dimensions: time = 2 ;
variables: double time(time) ; float series(time) ;
data: time = 0, 1 ; series = 1, 2 ;
})",
       {"in.nc", "-o", "out.bin"},
       1,
       "'in.nc' holds no variable on a latitude/longitude grid (its variables: time, series)\n"},
      {"unknown_calendar_with_years",
       R"(netcdf in {
dimensions: time = 1 ; lat = 1 ; lon = 2 ;
variables: double time(time) ; time:units = "days since 2000-01-01" ; time:calendar = "lunar" ;
  double lat(lat) ; double lon(lon) ; float tas(time, lat, lon) ;
data: time = 0 ; lat = 1 ; lon = 1, 3 ; tas = 1, 2 ;
})",
       {"in.nc", "-o", "out.bin", "--years", "2000"},
       1,
       "'in.nc' has no usable time axis (calendar 'lunar' is not one of standard, gregorian, "
       "proleptic_gregorian, julian, noleap, 365_day, all_leap, 366_day, 360_day): --years "
       "cannot choose years\n"},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, ImportFailures, testing::ValuesIn(fail_cases()),
                         imptest::CaseName{});

// GeoTIFF inputs (made by gdal_translate) that cannot be imported.
struct GdalFailCase {
  const char* name;
  std::vector<std::string> translate;  // gdal_translate options before in.nc in.tif
  std::vector<std::string> args;       // after in.tif -o out.bin
  std::string err;
};

class ImportGdalFailures : public testing::TestWithParam<GdalFailCase> {};

TEST_P(ImportGdalFailures, MessageAndStatus) {
  const GdalFailCase& c = GetParam();
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", k2d);
  std::vector<std::string> tr{"-q", "-of", "GTiff"};
  tr.insert(tr.end(), c.translate.begin(), c.translate.end());
  tr.insert(tr.end(), {"in.nc", "in.tif"});
  imptest::run_peer("gdal_translate", tr, dir.path());
  std::vector<std::string> args{"in.tif", "-o", "out.bin"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = imptest::import(dir, args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "rastertools-import: error: " + c.err);
  EXPECT_FALSE(e2e::exists(dir.file("out.bin")));
}

const GdalFailCase kGdalFailCases[] = {
    {"projected",
     {"-a_srs", "EPSG:3857"},
     {},
     "'in.tif' is not on a longitude/latitude grid (its coordinate system is projected); "
     "reproject it first, e.g. gdalwarp -t_srs EPSG:4326\n"},
    {"other_variable",
     {},
     {"--var", "pr"},
     "'in.tif' holds variable 'tas', not 'pr' (a GTiff file holds one variable)\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ImportGdalFailures, testing::ValuesIn(kGdalFailCases),
                         imptest::CaseName{});

// Without --years, a time axis the tool cannot read is a warning: the bands form one year.
TEST(ImportWarnings, UnreadableTimeUnits) {
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", R"(netcdf in {
dimensions: time = 2 ; lat = 1 ; lon = 1 ;
variables: double time(time) ; time:units = "days after 2000-01-01" ;
  double lat(lat) ; double lon(lon) ; float tas(time, lat, lon) ;
data: time = 0, 1 ; lat = 1 ; lon = 1 ; tas = 1, 2 ;
})",
                 true);
  const e2e::Result r = imptest::import(dir, {"in.nc", "-o", "out.bin", "--res", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "rastertools-import: warning: 'in.nc' has no usable time axis (time units 'days "
            "after 2000-01-01' are not '<days|hours|minutes|seconds|months|years> since "
            "YYYY-MM-DD'): its 2 bands are imported as one year of 2 bands\n");
  EXPECT_EQ(imptest::last_line(r.out), "npixel 1 nbandsyear 2 nyears 1 firstyear NA");
  EXPECT_EQ(e2e::read_floats(dir.file("out.bin")), (std::vector<float>{1, 2}));
  EXPECT_EQ(e2e::read_bytes(dir.file("out.hdr")).find("bands per year"), std::string::npos);
}

// A single cell does not tell the resolution: --res is needed.
TEST(ImportWarnings, SingleCellNeedsRes) {
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", R"(netcdf in {
dimensions: lat = 1 ; lon = 1 ;
variables: double lat(lat) ; double lon(lon) ; float tas(lat, lon) ;
data: lat = 1 ; lon = 1 ; tas = 7 ;
})");
  const e2e::Result r = imptest::import(dir, {"in.nc", "-o", "out.bin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "rastertools-import: error: 'in.nc' has a single cell, which does not tell its "
            "resolution: give --res\n");
}

TEST(ImportHelp, HelpAndVersion) {
  e2e::TempDir dir;
  const e2e::Result h = imptest::import(dir, {"--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("npixel N nbandsyear K nyears Y firstyear F"), std::string::npos);
  EXPECT_NE(h.out.find("Example:\n  rastertools import "), std::string::npos);
  const e2e::Result v = imptest::import(dir, {"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("rastertools ", 0), 0u);
}

}  // namespace
