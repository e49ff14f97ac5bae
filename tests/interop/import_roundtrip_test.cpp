// Round trips through the field's formats on the bundled grids: raw -> export (NetCDF, GeoTIFF)
// -> import gives the same bytes (NaNs with payloads and sign, -0, denormals, infinities), with
// --grid and with the grid taken from the file; and a GeoTIFF made by gdal_translate from a
// NetCDF file imports as the NetCDF file does.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "e2e.h"
#include "import_support.h"

namespace {

// Bit patterns that must survive (none is export's fill value 1e20).
const uint32_t kSpecial[] = {
    0x7fc00000u,  // NaN
    0xffc00000u,  // NaN with the sign bit
    0x7fc12345u,  // NaN with a payload
    0x80000000u,  // -0
    0x00000001u,  // smallest denormal
    0x807fffffu,  // largest negative denormal
    0x7f800000u,  // infinity
    0xff800000u,  // -infinity
    0x7f7fffffu,  // largest float
    0x00800000u,  // smallest normal
};

float from_bits(uint32_t b) {
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

// Band 0 holds values everywhere (the grid from the file is every pixel); later bands start with
// the special patterns, then a field that changes with pixel and band.
std::vector<float> sample(int64_t npixel, int64_t nbands) {
  std::vector<float> v(static_cast<size_t>(npixel * nbands));
  for (int64_t b = 0; b < nbands; ++b)
    for (int64_t p = 0; p < npixel; ++p)
      v[static_cast<size_t>(b * npixel + p)] =
          static_cast<float>(p % 977) * 0.37f - static_cast<float>(b) * 11.5f + 0.001f;
  for (int64_t b = 1; b < nbands; ++b)
    for (size_t i = 0; i < std::size(kSpecial); ++i)
      v[static_cast<size_t>(b * npixel + b + static_cast<int64_t>(i))] = from_bits(kSpecial[i]);
  v[5] = -0.0f;
  v[6] = from_bits(0x00000001u);
  return v;
}

struct TripCase {
  const char* name;
  const char* grid;  // in data/
  const char* ext;   // nc or tif
  const char* convention;
  int64_t npixel;
};

class RoundTrip : public testing::TestWithParam<TripCase> {};

TEST_P(RoundTrip, SameBytes) {
  const TripCase& c = GetParam();
  e2e::TempDir dir;
  const std::string grid = e2e::data_path(c.grid);
  const int64_t nbands = 24;
  const std::vector<float> raw = sample(c.npixel, nbands);
  e2e::write_floats(dir.file("raw.bin"), raw);
  const std::string out = std::string("x.") + c.ext;
  const e2e::Result ex =
      e2e::run("rastertools-export",
               {"raw.bin", "-o", out, "--grid", grid, "--bands-per-year", "12", "--first-year",
                "1971", "--var", "tas", "--units", "K", "--keep-nan"},
               "", dir.path());
  ASSERT_EQ(ex.status, 0) << ex.err;
  const bool nc = std::string(c.ext) == "nc";
  const std::string summary =
      std::string("npixel ") + std::to_string(c.npixel) +
      (nc ? " nbandsyear 12 nyears 2 firstyear 1971" : " nbandsyear 24 nyears 1 firstyear NA");
  // GeoTIFF bands carry no time: the import says so.
  const std::string warning =
      nc ? ""
         : "rastertools-import: warning: 'x.tif' has no usable time axis (its bands carry "
           "no time coordinate): its 24 bands are imported as one year of 24 bands\n";

  const e2e::Result with_grid = imptest::import(dir, {out, "-o", "back.bin", "--grid", grid});
  ASSERT_EQ(with_grid.status, 0) << with_grid.err;
  EXPECT_EQ(with_grid.err, warning);
  EXPECT_EQ(imptest::last_line(with_grid.out), summary);
  EXPECT_EQ(e2e::read_bytes(dir.file("back.bin")), e2e::read_bytes(dir.file("raw.bin")));

  const e2e::Result own_grid =
      imptest::import(dir, {out, "-o", "own.bin", "--convention", c.convention});
  ASSERT_EQ(own_grid.status, 0) << own_grid.err;
  EXPECT_EQ(imptest::last_line(own_grid.out), summary);
  EXPECT_EQ(e2e::read_bytes(dir.file("own.bin")), e2e::read_bytes(dir.file("raw.bin")));
  EXPECT_EQ(e2e::read_bytes(dir.file("own.grid.bin")), e2e::read_bytes(grid));
}

const TripCase kTrips[] = {
    {"netcdf_half_northedge", "grid_0.5deg_northedge.bin", "nc", "northedge", 61534},
    {"netcdf_half_centre", "grid_0.5deg_centre.bin", "nc", "centre", 61534},
    {"netcdf_two_northedge", "grid_2deg_northedge.bin", "nc", "northedge", 3862},
    {"netcdf_two_centre", "grid_2deg_centre.bin", "nc", "centre", 3862},
    {"gtiff_half_northedge", "grid_0.5deg_northedge.bin", "tif", "northedge", 61534},
    {"gtiff_half_centre", "grid_0.5deg_centre.bin", "tif", "centre", 61534},
    {"gtiff_two_northedge", "grid_2deg_northedge.bin", "tif", "northedge", 3862},
    {"gtiff_two_centre", "grid_2deg_centre.bin", "tif", "centre", 3862},
};

INSTANTIATE_TEST_SUITE_P(Bundled, RoundTrip, testing::ValuesIn(kTrips), imptest::CaseName{});

// A GeoTIFF written by gdal_translate from a NetCDF file keeps the values, fill, packing and
// time axis (in its metadata): importing either gives the same raw file and grid.
struct TranslateCase {
  const char* name;
  const char* cdl;
  const char* summary;
};

class GdalTranslated : public testing::TestWithParam<TranslateCase> {};

TEST_P(GdalTranslated, SameAsTheNetcdfFile) {
  const TranslateCase& c = GetParam();
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", c.cdl);
  imptest::run_peer("gdal_translate", {"-q", "-of", "GTiff", "in.nc", "in.tif"}, dir.path());
  const e2e::Result a = imptest::import(dir, {"in.nc", "-o", "a.bin"});
  const e2e::Result b = imptest::import(dir, {"in.tif", "-o", "b.bin"});
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(b.err, "");
  EXPECT_EQ(imptest::last_line(a.out), c.summary);
  EXPECT_EQ(imptest::last_line(b.out), c.summary);
  EXPECT_EQ(e2e::bits(e2e::read_floats(dir.file("b.bin"))),
            e2e::bits(e2e::read_floats(dir.file("a.bin"))));
  EXPECT_EQ(e2e::read_bytes(dir.file("b.grid.bin")), e2e::read_bytes(dir.file("a.grid.bin")));
  const std::string hdr = e2e::read_bytes(dir.file("b.hdr"));
  EXPECT_NE(hdr.find("rastertools variable = tas\nrastertools units = K\n"), std::string::npos)
      << hdr;
}

const TranslateCase kTranslated[] = {
    {"float_fill_ascending_lat", R"(netcdf in {
dimensions:
  time = 2 ; lat = 2 ; lon = 3 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ; time:calendar = "noleap" ;
  double lat(lat) ; lat:units = "degrees_north" ;
  double lon(lon) ; lon:units = "degrees_east" ;
  float tas(time, lat, lon) ; tas:_FillValue = 1.e20f ; tas:units = "K" ;
data:
  time = 15.5, 380 ;
  lat = -1, 1 ; lon = -179, -177, -175 ;
  tas = 1, 2, 1.e20f, 4, 5, 6, 7, -0.f, 9, 10, NaNf, 1.4e-45f ;
})",
     "npixel 6 nbandsyear 1 nyears 2 firstyear 2000"},
    {"packed_short_0_360", R"(netcdf in {
dimensions:
  time = 2 ; lat = 2 ; lon = 3 ;
variables:
  double time(time) ; time:units = "months since 1990-01-01" ; time:calendar = "360_day" ;
  double lat(lat) ; lat:units = "degrees_north" ;
  double lon(lon) ; lon:units = "degrees_east" ;
  short tas(time, lat, lon) ; tas:scale_factor = 0.01 ; tas:add_offset = 273.15 ;
    tas:_FillValue = -32767s ; tas:units = "K" ;
data:
  time = 0.5, 1.5 ;
  lat = 10.5, 9.5 ; lon = 178.5, 179.5, 180.5 ;
  tas = 0, -32767, 1234, -1234, 32767, -32766, 5, 6, 7, 8, 9, -32767 ;
})",
     "npixel 6 nbandsyear 2 nyears 1 firstyear 1990"},
};

INSTANTIATE_TEST_SUITE_P(Cases, GdalTranslated, testing::ValuesIn(kTranslated),
                         imptest::CaseName{});

}  // namespace
