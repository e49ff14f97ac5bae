// rastertools import on NetCDF files written by ncgen from CDL text: pixel order, grid records,
// values bit for bit (fill, packing, NaN, -0, denormals), the closing line and the sidecar.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "e2e.h"
#include "import_support.h"

namespace {

using imptest::Records;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kDenormal = 1.4e-45f;  // the smallest positive float

struct ValueCase {
  const char* name;
  const char* cdl;
  std::vector<std::string> args;  // after IN.nc -o out.bin
  const char* summary;            // last line of stdout
  std::vector<float> values;      // the raw file, band after band
  Records grid;                   // out.grid.bin
  const char* sidecar_lines;      // lines the sidecar must hold (after its fixed part)
};

class ImportValues : public testing::TestWithParam<ValueCase> {};

TEST_P(ImportValues, RawGridSidecarAndSummary) {
  const ValueCase& c = GetParam();
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", c.cdl);
  std::vector<std::string> args{"in.nc", "-o", "out.bin"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = imptest::import(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(imptest::last_line(r.out), c.summary);
  EXPECT_EQ(e2e::bits(e2e::read_floats(dir.file("out.bin"))), e2e::bits(c.values));
  EXPECT_EQ(imptest::read_grid(dir.file("out.grid.bin")), c.grid);
  const std::string hdr = e2e::read_bytes(dir.file("out.hdr"));
  const size_t npix = c.grid.size();
  EXPECT_NE(hdr.find("samples = " + std::to_string(npix) +
                     "\nlines = 1\nbands = " + std::to_string(c.values.size() / npix) + "\n"),
            std::string::npos)
      << hdr;
  EXPECT_NE(hdr.find(c.sidecar_lines), std::string::npos) << hdr;
  EXPECT_FALSE(e2e::exists(dir.file(".out.bin.tmp")));
}

// Two steps of 2 x 3 cells at 2 degrees; the same cells in both latitude orders: the pixels are
// the cells with a value in any step (179W 1S only in step 2), north row first, west to east.
const char* const kAscending = R"(netcdf in {
dimensions:
  time = UNLIMITED ; lat = 2 ; lon = 3 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ; time:calendar = "standard" ;
  float lat(lat) ; lat:units = "degrees_north" ;
  float lon(lon) ; lon:units = "degrees_east" ;
  float tas(time, lat, lon) ; tas:_FillValue = 1.e20f ; tas:units = "K" ;
    tas:long_name = "Near-Surface Air Temperature" ;
data:
  time = 15.5, 45 ;
  lat = -1, 1 ;
  lon = -179, -177, -175 ;
  tas = 1, 2, 1.e20f, 4, 5, 6,
        7, -0.f, 9, 10, NaNf, 1.4e-45f ;
})";

const char* const kDescending = R"(netcdf in {
dimensions:
  time = UNLIMITED ; latitude = 2 ; longitude = 3 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ; time:calendar = "gregorian" ;
  double latitude(latitude) ;
  double longitude(longitude) ;
  float tas(time, latitude, longitude) ; tas:_FillValue = 1.e20f ; tas:units = "K" ;
data:
  time = 15.5, 45 ;
  latitude = 1, -1 ;
  longitude = -179, -177, -175 ;
  tas = 4, 5, 6, 1, 2, 1.e20f,
        10, NaNf, 1.4e-45f, 7, -0.f, 9 ;
})";

// Longitudes 0..360: 181 and 183 are 179W and 177W, west of 179E.
const char* const kLon360 = R"(netcdf in {
dimensions:
  y = 1 ; x = 3 ;
variables:
  double y(y) ; double x(x) ;
  float pr(y, x) ; pr:units = "kg m-2 s-1" ;
data:
  y = 1 ; x = 179, 181, 183 ;
  pr = 10, 20, 30 ;
})";

// Packed shorts: stored * 0.1 + 100 in double; _FillValue and missing_value are NaN, the
// second year's first cell is the fill value. Annual steps in hours on the standard calendar
// (2000 is a leap year: 8784 hours).
const char* const kPackedShort = R"(netcdf in {
dimensions:
  time = 2 ; lat = 1 ; lon = 5 ;
variables:
  int time(time) ; time:units = "hours since 2000-01-01 00:00:00" ;
  float lat(lat) ; lat:standard_name = "latitude" ;
  float lon(lon) ; lon:standard_name = "longitude" ;
  short npp(time, lat, lon) ; npp:scale_factor = 0.1 ; npp:add_offset = 100. ;
    npp:_FillValue = -32767s ; npp:missing_value = -1s ;
data:
  time = 0, 8784 ;
  lat = 0.25 ;
  lon = 0.25, 0.75, 1.25, 1.75, 2.25 ;
  npp = 0, 3, -32767, -1, -32766,
        -32767, 7, 1, 2, 32767 ;
})";

// Bytes: no default fill for bytes, so -127 is a value; the fill is -128.
const char* const kPackedByte = R"(netcdf in {
dimensions:
  lat = 1 ; lon = 3 ;
variables:
  float lat(lat) ; float lon(lon) ;
  byte frac(lat, lon) ; frac:scale_factor = 0.5f ; frac:add_offset = -1.f ;
    frac:_FillValue = -128b ;
data:
  lat = 89.5 ; lon = 179.5, -179.5, -178.5 ;
  frac = -127b, -128b, 127b ;
})";

// A double variable without _FillValue: the library's default fill is no value.
const char* const kDouble = R"(netcdf in {
dimensions:
  lat = 1 ; lon = 3 ;
variables:
  float lat(lat) ; float lon(lon) ;
  double d(lat, lon) ;
data:
  lat = -55.25 ; lon = -0.25, 0.25, 0.75 ;
  d = 0.1, 9.969209968386869e+36, -2.5 ;
})";

Records two_deg_six() {
  return {{-17900, 200}, {-17700, 200}, {-17500, 200}, {-17900, 0}, {-17700, 0}, {-17500, 0}};
}

std::vector<ValueCase> value_cases() {
  const std::vector<float> asc{4, 5, 6, 1, 2, kNaN, 10, kNaN, kDenormal, 7, -0.0f, 9};
  return {
      {"ascending_lat_float_fill_nan_zero_denormal",
       kAscending,
       {},
       "npixel 6 nbandsyear 2 nyears 1 firstyear 2000",
       asc,
       two_deg_six(),
       "rastertools grid file = out.grid.bin\nrastertools resolution = 2\nrastertools grid "
       "convention = northedge\nrastertools bands per year = 2\nrastertools first year = "
       "2000\nrastertools calendar = standard\nrastertools variable = tas\nrastertools units = "
       "K\nrastertools long name = Near-Surface Air Temperature\n"},
      {"descending_lat_centre",
       kDescending,
       {"--convention", "centre"},
       "npixel 6 nbandsyear 2 nyears 1 firstyear 2000",
       asc,
       {{-17900, 100},
        {-17700, 100},
        {-17500, 100},
        {-17900, -100},
        {-17700, -100},
        {-17500, -100}},
       "rastertools grid convention = centre\n"},
      {"lon_0_360",
       kLon360,
       {},
       "npixel 3 nbandsyear 1 nyears 1 firstyear NA",
       {20, 30, 10},
       {{-17900, 200}, {-17700, 200}, {17900, 200}},
       "rastertools resolution = 2\nrastertools grid convention = northedge\nrastertools "
       "variable = pr\nrastertools units = kg m-2 s-1\n"},
      {"packed_short_fill_missing",
       kPackedShort,
       {},
       "npixel 5 nbandsyear 1 nyears 2 firstyear 2000",
       {static_cast<float>(0 * 0.1 + 100.0), static_cast<float>(3 * 0.1 + 100.0), kNaN, kNaN,
        static_cast<float>(-32766 * 0.1 + 100.0), kNaN, static_cast<float>(7 * 0.1 + 100.0),
        static_cast<float>(1 * 0.1 + 100.0), static_cast<float>(2 * 0.1 + 100.0),
        static_cast<float>(32767 * 0.1 + 100.0)},
       {{25, 50}, {75, 50}, {125, 50}, {175, 50}, {225, 50}},
       "rastertools bands per year = 1\nrastertools first year = 2000\n"},
      {"packed_byte",
       kPackedByte,
       {"--convention", "centre"},
       "npixel 2 nbandsyear 1 nyears 1 firstyear NA",
       {62.5f, -64.5f},
       {{-17850, 8950}, {17950, 8950}},
       "rastertools resolution = 1\n"},
      {"double_default_fill",
       kDouble,
       {},
       "npixel 2 nbandsyear 1 nyears 1 firstyear NA",
       {static_cast<float>(0.1), -2.5f},
       {{-25, -5500}, {75, -5500}},
       "rastertools resolution = 0.5\n"},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, ImportValues, testing::ValuesIn(value_cases()),
                         imptest::CaseName{});

}  // namespace

namespace {

// --grid-out in another folder: the sidecar names the grid relative to its own folder.
TEST(ImportGridOut, SidecarNamesTheGridFromItsFolder) {
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", kLon360);
  std::filesystem::create_directory(dir.file("sub"));
  std::filesystem::create_directory(dir.file("grids"));
  const e2e::Result r =
      imptest::import(dir, {"in.nc", "-o", "sub/pr.bin", "--grid-out", "grids/pr_grid.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(imptest::read_grid(dir.file("grids/pr_grid.bin")),
            (Records{{-17900, 200}, {-17700, 200}, {17900, 200}}));
  EXPECT_FALSE(e2e::exists(dir.file("sub/pr.grid.bin")));
  const std::string hdr = e2e::read_bytes(dir.file("sub/pr.hdr"));
  EXPECT_NE(hdr.find("rastertools grid file = ../grids/pr_grid.bin\n"), std::string::npos) << hdr;
}

}  // namespace
