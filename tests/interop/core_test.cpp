// Unit tests of interop_core: placement of grid records on the full grid, resolution and
// convention inference, sidecar text and paths, band ranges.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "e2e.h"
#include "grid.h"
#include "sidecar.h"
#include "timeaxis.h"
#include "tool.h"

namespace {

using interop::Convention;
using interop::GridPoint;

// Names each parameterised case after its `name` field, for --gtest_filter.
struct CaseName {
  template <class T>
  std::string operator()(const testing::TestParamInfo<T>& p) const {
    return p.param.name;
  }
};

// ---- pixel -> cell -------------------------------------------------------------------------

struct PlaceCase {
  const char* name;
  double res;
  Convention conv;
  int16_t lon100, lat100;
  bool on_globe;
  int64_t row, col;  // worked by hand from the cell edges
};

class Placement : public testing::TestWithParam<PlaceCase> {};

TEST_P(Placement, CellOfRecord) {
  const PlaceCase& c = GetParam();
  const interop::GlobalGrid g(c.res);
  int64_t row = -7;
  int64_t col = -7;
  EXPECT_EQ(interop::cell_of(g, c.conv, GridPoint{c.lon100, c.lat100}, &row, &col), c.on_globe);
  if (c.on_globe) {
    EXPECT_EQ(row, c.row);
    EXPECT_EQ(col, c.col);
  }
}

constexpr Convention C = Convention::centre;
constexpr Convention N = Convention::northedge;
const PlaceCase kPlaceCases[] = {
    {"half_centre_northwest", 0.5, C, -17975, 8975, true, 0, 0},
    {"half_centre_southeast", 0.5, C, 17975, -8975, true, 359, 719},
    {"half_centre_just_off_equator", 0.5, C, 25, 25, true, 179, 360},
    {"half_centre_southmost_land", 0.5, C, -6725, -5525, true, 290, 225},
    {"half_edge_northwest", 0.5, N, -17975, 9000, true, 0, 0},
    {"half_edge_southmost_row", 0.5, N, 17975, -8950, true, 359, 719},
    {"half_edge_83_5", 0.5, N, 1025, 8350, true, 13, 380},
    {"half_edge_south_pole_is_off", 0.5, N, 25, -9000, false, 0, 0},
    {"half_lon_180_25_wraps_to_the_first_column", 0.5, C, 18025, 25, true, 179, 0},
    {"half_lon_minus_180_25_wraps_to_the_last_column", 0.5, C, -18025, 25, true, 179, 719},
    {"two_centre_83", 2.0, C, -17900, 8300, true, 3, 0},
    {"two_edge_84", 2.0, N, -17900, 8400, true, 3, 0},
    {"two_centre_minus_53", 2.0, C, 17900, -5300, true, 71, 179},
    {"two_edge_minus_52", 2.0, N, 17900, -5200, true, 71, 179},
    {"twelfth_centre_corner", 1.0 / 12.0, C, -17996, 8996, true, 0, 0},
    {"twelfth_centre_rounded_record", 1.0 / 12.0, C, 4, -4, true, 1080, 2160},
    {"one_centre_north_pole_row", 1.0, C, 50, 8950, true, 0, 180},
};

INSTANTIATE_TEST_SUITE_P(Cases, Placement, testing::ValuesIn(kPlaceCases), CaseName{});

// ---- inference on the bundled grids and on small record lists --------------------------------

struct BundledCase {
  const char* file;
  double res;
  Convention conv;
  int64_t npixel;
};

class BundledGrid : public testing::TestWithParam<BundledCase> {};

TEST_P(BundledGrid, InfersResolutionAndConventionAndPlacesEveryPixel) {
  const BundledCase& c = GetParam();
  const std::string path = e2e::data_path(c.file);
  const interop::PlacedGrid pg = interop::place_grid(path, std::nullopt, std::nullopt);
  EXPECT_EQ(pg.global.res, c.res);
  EXPECT_EQ(pg.convention, c.conv);
  EXPECT_EQ(static_cast<int64_t>(pg.cells.size()), c.npixel);
  // Pixel order of the bundled grids is rows north to south, west to east: strictly rising.
  for (size_t i = 1; i < pg.cells.size(); ++i) ASSERT_LT(pg.cells[i - 1], pg.cells[i]) << i;
}

const BundledCase kBundled[] = {
    {"grid_0.5deg_centre.bin", 0.5, C, 61534},
    {"grid_0.5deg_northedge.bin", 0.5, N, 61534},
    {"grid_2deg_centre.bin", 2.0, C, 3862},
    {"grid_2deg_northedge.bin", 2.0, N, 3862},
};

INSTANTIATE_TEST_SUITE_P(Files, BundledGrid, testing::ValuesIn(kBundled),
                         [](const testing::TestParamInfo<BundledCase>& p) {
                           std::string n = p.param.file;
                           for (char& ch : n)
                             if (ch == '.') ch = '_';
                           return n;
                         });

TEST(BundledGrid, CentreAndNorthedgeFilesGiveTheSameCells) {
  const auto a = interop::place_grid(e2e::data_path("grid_2deg_centre.bin"), {}, {});
  const auto b = interop::place_grid(e2e::data_path("grid_2deg_northedge.bin"), {}, {});
  EXPECT_EQ(a.cells, b.cells);
}

struct InferCase {
  const char* name;
  std::vector<GridPoint> points;
  std::optional<double> res;
  std::optional<Convention> conv;  // at res (when res is set)
  int64_t misfit;
};

class Inference : public testing::TestWithParam<InferCase> {};

TEST_P(Inference, ResolutionAndConvention) {
  const InferCase& c = GetParam();
  EXPECT_EQ(interop::infer_resolution(c.points), c.res);
  if (!c.res) return;
  const interop::ConventionFit fit = interop::fit_convention(c.points, *c.res);
  EXPECT_EQ(fit.convention, c.conv);
  EXPECT_EQ(fit.misfit, c.misfit);
}

const InferCase kInfer[] = {
    {"two_degree_centre", {{-17900, 8300}, {100, -100}}, 2.0, C, -1},
    {"one_degree_edge", {{-17950, 8000}, {50, 0}}, 1.0, N, -1},
    {"half_mixed_conventions", {{-17975, 8975}, {-17925, 8950}}, 0.5, std::nullopt, 1},
    {"half_latitude_off_lattice", {{25, 25}, {75, 10}}, 0.5, std::nullopt, 1},
    {"quarter", {{-17988, 8988}, {13, -13}}, 0.25, C, -1},
    {"sixth", {{-17992, 8983}, {8, 17}}, 1.0 / 6.0, N, -1},
    {"twelfth", {{-17996, 8996}, {4, -4}}, 1.0 / 12.0, C, -1},
    {"no_resolution_fits", {{-17901, 8300}}, std::nullopt, std::nullopt, -1},
};

INSTANTIATE_TEST_SUITE_P(Cases, Inference, testing::ValuesIn(kInfer), CaseName{});

TEST(Inference, ConventionErrorNamesFileAndPixel) {
  const std::vector<GridPoint> pts = {{25, 25}, {75, 10}};
  try {
    interop::infer_convention(pts, 0.5, "g.bin");
    FAIL() << "no error";
  } catch (const interop::ToolError& e) {
    EXPECT_STREQ(e.what(),
                 "grid file g.bin: the latitude of pixel 1 (lon 0.75, lat 0.10) lies neither on a "
                 "cell centre nor on a cell edge of a 0.5 degree grid; give --convention");
  }
}

TEST(Placement, SharedCellsAndOffGlobeAreCounted) {
  const interop::GlobalGrid g(2.0);
  const std::vector<GridPoint> pts = {{-17900, 8300}, {-17900, 8300}, {-17900, -9100}, {100, 100}};
  const auto cells = interop::place_pixels(g, C, pts);
  const interop::PlacementCheck chk = interop::check_placement(g, cells);
  EXPECT_EQ(chk.off_globe, 1);
  EXPECT_EQ(chk.first_off_globe, 2);
  EXPECT_EQ(chk.duplicates, 1);
  EXPECT_EQ(chk.first_duplicate, 1);
  EXPECT_EQ(chk.first_duplicate_of, 0);
}

TEST(Inference, LatitudeOffTheGlobeIsSaidSo) {
  const std::vector<GridPoint> pts = {{25, 9500}};
  try {
    interop::infer_convention(pts, 0.5, "g.bin");
    FAIL() << "no error";
  } catch (const interop::ToolError& e) {
    EXPECT_STREQ(e.what(), "grid file g.bin: pixel 0 (lon 0.25, lat 95.00) lies off the globe");
  }
}

// ---- lattices: degrees as fractions, origins, exact coordinates ----------------------------

struct DegreeCase {
  const char* name;
  double x;
  const char* text;  // format_degrees
};

class Degrees : public testing::TestWithParam<DegreeCase> {};

TEST_P(Degrees, WrittenExactlyAndReadBack) {
  const DegreeCase& c = GetParam();
  EXPECT_EQ(interop::format_degrees(c.x), c.text);
  EXPECT_EQ(interop::parse_degrees(c.text), c.x);
}

const DegreeCase kDegrees[] = {
    {"half", 0.5, "0.5"},
    {"two_thirds", 2.0 / 3.0, "2/3"},
    {"twelfth", 1.0 / 12.0, "1/12"},
    {"arc_second", 1.0 / 3600.0, "1/3600"},
    {"tenth", 0.1, "0.1"},
    {"ninety", 90.0, "90"},
    {"west_of_r360x180", -180.5, "-180.5"},
    {"west_a_third_cell_on", -180 - 1.0 / 3.0, "-541/3"},
    {"no_small_fraction", 0.7071067811865476, "0.7071067811865476"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Degrees, testing::ValuesIn(kDegrees), CaseName{});

TEST(Degrees, RefusedTextAndSnappedSpacings) {
  for (const char* bad : {"", "x", "1/0", "2/", " 1", "1e999", "nan"})
    EXPECT_FALSE(interop::parse_degrees(bad).has_value()) << bad;
  EXPECT_EQ(interop::snap_resolution(0.6666667, 1e-5), 2.0 / 3.0);    // float coordinates
  EXPECT_EQ(interop::snap_resolution(0.08333333, 1e-5), 1.0 / 12.0);  // printed with 7 digits
  EXPECT_EQ(interop::snap_resolution(0.70710678, 1e-9), 0.70710678);  // none that close
}

struct LatticeCase {
  const char* name;
  double res;
  interop::Origin given;
  double west, north;  // brought into (-180 - res, -180] and [90, 90 + res / 2)
  int64_t nlon, nlat;
  double last_lon, last_lat;  // centres of the last column and row, worked by hand
};

class Lattices : public testing::TestWithParam<LatticeCase> {};

TEST_P(Lattices, OriginSizeAndExactCentres) {
  const LatticeCase& c = GetParam();
  const interop::GlobalGrid g(c.res, c.given);
  EXPECT_EQ(g.west, c.west);
  EXPECT_EQ(g.north, c.north);
  EXPECT_EQ(g.nlon, c.nlon);
  EXPECT_EQ(g.nlat, c.nlat);
  EXPECT_EQ(g.lon_centre(g.nlon - 1), c.last_lon);
  EXPECT_EQ(g.lat_centre(g.nlat - 1), c.last_lat);
  EXPECT_EQ(g.lon_edge(g.nlon), c.west + 360);
}

const LatticeCase kLattices[] = {
    {"default_half", 0.5, {}, -180, 90, 720, 360, 179.75, -89.75},
    {"r360x180_from_0", 1, {-0.5, 90}, -180.5, 90, 360, 180, 179, -89.5},
    {"r360x180_given_far_east", 1, {359.5, 92}, -180.5, 90, 360, 180, 179, -89.5},
    // 179 + 2/3 and -90 + 1/3 rounded once: (2 * 539 + 1 - 540) / 3 and (1 - 270) / 3.
    {"two_thirds", 2.0 / 3.0, {}, -180, 90, 540, 270, 539.0 / 3, -269.0 / 3},
    // Rows from 90.25: centres 90 - 0.25 ... down to the last inside (-90, 90).
    {"rows_shifted_a_quarter", 1, {-180, 90.25}, -180, 90.25, 360, 180, 179.5, -89.25},
};

INSTANTIATE_TEST_SUITE_P(Cases, Lattices, testing::ValuesIn(kLattices), CaseName{});

TEST(Lattices, CentresOnAPoleAreRefused) {
  EXPECT_THROW(interop::GlobalGrid(1, {-180, 90.5}), interop::ToolError);
  EXPECT_THROW(interop::GlobalGrid(2, {-180, 91.5}), interop::ToolError);
}

TEST(Lattices, FitFromRecords) {
  // Whole-degree centres fit no candidate on the default origin: CDO's r360x180 then.
  const std::vector<GridPoint> whole = {{0, 8950}, {100, 8950}, {-18000, -8950}};
  const auto g = interop::fit_lattice(whole, std::nullopt, std::nullopt);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->res, 1.0);
  EXPECT_EQ(g->origin(), (interop::Origin{-180.5, 90}));
  int64_t row = -1, col = -1;
  ASSERT_TRUE(interop::cell_of(*g, C, whole[2], &row, &col));
  EXPECT_EQ(col, 0);
  EXPECT_EQ(row, 179);
  // A resolution given must fit on the default origin: odd whole degrees are a 2 degree grid.
  const std::vector<GridPoint> odd = {{-17900, 8900}, {100, 8900}};
  EXPECT_FALSE(interop::fit_lattice(odd, 1.0, std::nullopt).has_value());
  EXPECT_EQ(interop::fit_lattice(odd, std::nullopt, std::nullopt)->res, 2.0);
  // The record of a cell of the lattice from -180.5 wraps into [-180, 180).
  EXPECT_EQ(interop::point_of_cell(*g, C, 0, 0).lon100, -18000);
  EXPECT_EQ(interop::point_of_cell(*g, N, 0, 359).lon100, 17900);
  EXPECT_EQ(interop::point_of_cell(*g, N, 0, 359).lat100, 9000);
}

// ---- sidecar ---------------------------------------------------------------------------------

interop::Sidecar full_sidecar() {
  interop::Sidecar s;
  s.samples = 61534;
  s.bands = 360;
  s.grid_file = "grid.bin";
  s.resolution = 0.5;
  s.convention = N;
  s.bands_per_year = 12;
  s.first_year = 1971;
  s.variable = "tas";
  s.units = "K";
  s.long_name = "Near-Surface Air Temperature";
  return s;
}

TEST(Sidecar, WritesTheSuiteLayoutExactly) {
  EXPECT_EQ(interop::format_sidecar(full_sidecar()),
            "ENVI\n"
            "description = {rastertools raster file}\n"
            "samples = 61534\n"
            "lines = 1\n"
            "bands = 360\n"
            "header offset = 0\n"
            "file type = ENVI Standard\n"
            "data type = 4\n"
            "interleave = bsq\n"
            "byte order = 0\n"
            "rastertools grid file = grid.bin\n"
            "rastertools resolution = 0.5\n"
            "rastertools grid convention = northedge\n"
            "rastertools bands per year = 12\n"
            "rastertools first year = 1971\n"
            "rastertools variable = tas\n"
            "rastertools units = K\n"
            "rastertools long name = Near-Surface Air Temperature\n");
}

struct RoundTripCase {
  const char* name;
  interop::Sidecar s;
};

class SidecarRoundTrip : public testing::TestWithParam<RoundTripCase> {};

void expect_same(const interop::Sidecar& a, const interop::Sidecar& b) {
  EXPECT_EQ(a.samples, b.samples);
  EXPECT_EQ(a.bands, b.bands);
  EXPECT_EQ(a.description, b.description);
  EXPECT_EQ(a.grid_file, b.grid_file);
  EXPECT_EQ(a.resolution, b.resolution);
  EXPECT_EQ(a.convention, b.convention);
  EXPECT_EQ(a.bands_per_year, b.bands_per_year);
  EXPECT_EQ(a.first_year, b.first_year);
  EXPECT_EQ(a.variable, b.variable);
  EXPECT_EQ(a.units, b.units);
  EXPECT_EQ(a.long_name, b.long_name);
  EXPECT_EQ(a.origin, b.origin);
  EXPECT_EQ(a.calendar, b.calendar);
}

TEST_P(SidecarRoundTrip, ThroughAFile) {
  e2e::TempDir dir;
  const std::string raw = dir.file("x.bin");
  interop::write_sidecar(raw, GetParam().s);
  EXPECT_TRUE(e2e::exists(dir.file("x.hdr")));
  const auto back = interop::read_sidecar(raw);
  ASSERT_TRUE(back.has_value());
  expect_same(*back, GetParam().s);
}

RoundTripCase lattice_case() {
  interop::Sidecar s;
  s.samples = 3;
  s.bands = 12;
  s.resolution = 2.0 / 3.0;
  s.origin = interop::Origin{-180 - 1.0 / 3.0, 90};
  s.calendar.emplace("365_day");
  return {"two_thirds_shifted_noleap", s};
}

RoundTripCase twelfth_case() {
  interop::Sidecar s;
  s.samples = 7;
  s.bands = 1;
  s.resolution = 1.0 / 12.0;
  s.convention = C;
  return {"twelfth_degree_centre", s};
}

const RoundTripCase kRoundTrips[] = {
    {"full", full_sidecar()},
    {"plain", interop::Sidecar{}},
    twelfth_case(),
    lattice_case(),
};

INSTANTIATE_TEST_SUITE_P(Cases, SidecarRoundTrip, testing::ValuesIn(kRoundTrips), CaseName{});

TEST(Sidecar, LatticeKeysAreWrittenExactly) {
  const std::string text = interop::format_sidecar(lattice_case().s);
  EXPECT_NE(text.find("rastertools resolution = 2/3\nrastertools lattice origin = -541/3 90\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("rastertools calendar = 365_day\n"), std::string::npos) << text;
  interop::Sidecar plain = lattice_case().s;
  plain.origin = interop::Origin{};  // the default origin is not written
  EXPECT_EQ(interop::format_sidecar(plain).find("lattice origin"), std::string::npos);
}

TEST(Sidecar, ReadsForeignSpellingAndIgnoresUnknownKeys) {
  const interop::Sidecar s = interop::parse_sidecar(
      "ENVI\r\nDescription = {two\n lines}\nSAMPLES = 5\nbands   = 3\nwavelength units = nm\n"
      "map info = {Geographic Lat/Lon, 1, 1,\n -180, 90, 0.5, 0.5}\n"
      "RastertoolS  Grid File = ../g.bin\nrastertools resolution = 1/12\n",
      "h.hdr");
  EXPECT_EQ(s.description, "two\n lines");
  EXPECT_EQ(s.samples, 5);
  EXPECT_EQ(s.bands, 3);
  EXPECT_EQ(s.grid_file, "../g.bin");
  EXPECT_EQ(s.resolution, 1.0 / 12.0);
  EXPECT_FALSE(s.first_year.has_value());
}

struct BadSidecar {
  const char* name;
  const char* text;
  const char* message;
};

class SidecarErrors : public testing::TestWithParam<BadSidecar> {};

TEST_P(SidecarErrors, NameTheFile) {
  try {
    interop::parse_sidecar(GetParam().text, "h.hdr");
    FAIL() << "no error";
  } catch (const interop::ToolError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
}

const BadSidecar kBadSidecars[] = {
    {"not_envi", "samples = 3\n",
     "sidecar h.hdr is not an ENVI header (its first line is not 'ENVI')"},
    {"no_equals", "ENVI\nsamples 3\n", "sidecar h.hdr: line 'samples 3' is not 'key = value'"},
    {"bad_number", "ENVI\nsamples = 3x\n", "sidecar h.hdr: 'samples' is not a whole number: '3x'"},
    {"unclosed", "ENVI\ndescription = {abc\n",
     "sidecar h.hdr: the value of 'description' has no closing '}'"},
    {"double_data", "ENVI\ndata type = 5\n",
     "sidecar h.hdr describes a layout other than the suite's (float32 little-endian, one line, no "
     "header offset)"},
    {"bil", "ENVI\ninterleave = bil\n", "sidecar h.hdr: interleave is not bsq"},
    {"bad_convention", "ENVI\nrastertools grid convention = south\n",
     "sidecar h.hdr: unknown grid convention 'south'"},
    {"bad_origin", "ENVI\nrastertools lattice origin = -180.5\n",
     "sidecar h.hdr: 'rastertools lattice origin' is not two numbers W N (degrees): '-180.5'"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SidecarErrors, testing::ValuesIn(kBadSidecars), CaseName{});

struct PathCase {
  const char* name;
  const char* raw;
  const char* hdr;
};

class SidecarPath : public testing::TestWithParam<PathCase> {};

TEST_P(SidecarPath, ReplacesTheLastExtension) {
  EXPECT_EQ(interop::sidecar_path(GetParam().raw), GetParam().hdr);
}

const PathCase kPaths[] = {
    {"bin", "out/tas.bin", "out/tas.hdr"},
    {"no_extension", "out/tas", "out/tas.hdr"},
    {"two_extensions", "tas.1971.bin", "tas.1971.hdr"},
    {"dotted_folder", "run.v2/tas", "run.v2/tas.hdr"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SidecarPath, testing::ValuesIn(kPaths), CaseName{});

TEST(SidecarPath, GridFileIsRelativeToTheHeaderFolder) {
  EXPECT_EQ(interop::sidecar_grid_path("out/tas.bin", "grid.bin"), "out/grid.bin");
  EXPECT_EQ(interop::sidecar_grid_path("out/tas.bin", "../g/grid.bin"), "g/grid.bin");
  EXPECT_EQ(interop::sidecar_grid_path("tas.bin", "grid.bin"), "grid.bin");
  EXPECT_EQ(interop::sidecar_grid_path("out/tas.bin", "/abs/grid.bin"), "/abs/grid.bin");
  EXPECT_EQ(interop::grid_file_for_sidecar("out/tas.bin", "out/grid.bin"), "grid.bin");
  EXPECT_EQ(interop::grid_file_for_sidecar("out/tas.bin", "data/grid.bin"), "../data/grid.bin");
  EXPECT_EQ(interop::grid_file_for_sidecar("tas.bin", "grid.bin"), "grid.bin");
}

// ---- band ranges ---------------------------------------------------------------------------

struct RangeCase {
  const char* name;
  const char* text;
  bool ok;
  int64_t first, last;
};

class BandRanges : public testing::TestWithParam<RangeCase> {};

TEST_P(BandRanges, Parse) {
  const RangeCase& c = GetParam();
  if (!c.ok) {
    EXPECT_THROW(interop::parse_band_range(c.text), interop::ToolError);
    return;
  }
  const interop::BandRange r = interop::parse_band_range(c.text);
  EXPECT_EQ(r.first, c.first);
  EXPECT_EQ(r.last, c.last);
}

const RangeCase kRanges[] = {
    {"pair", "3-7", true, 3, 7},      {"single", "5", true, 5, 5},
    {"zero", "0-0", true, 0, 0},      {"reversed", "7-3", false, 0, 0},
    {"negative", "-1", false, 0, 0},  {"open_end", "3-", false, 0, 0},
    {"words", "a-b", false, 0, 0},    {"empty", "", false, 0, 0},
    {"spaces", "1 - 2", false, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, BandRanges, testing::ValuesIn(kRanges), CaseName{});

TEST(BandRanges, PastTheLastBandNamesTheFile) {
  const interop::BandRange r{2, 5};
  try {
    interop::check_band_range(&r, 4, "x.bin");
    FAIL() << "no error";
  } catch (const interop::ToolError& e) {
    EXPECT_STREQ(e.what(),
                 "band range 2-5 reaches past the last band of x.bin (it holds bands 0-3)");
    EXPECT_EQ(e.status(), 2);
  }
}

// ---- defaults: command line, then sidecar, then the grid's size ------------------------------

TEST(Defaults, CommandLineWinsSidecarFillsGridGivesNpixel) {
  e2e::TempDir dir;
  e2e::write_bytes(dir.file("grid.bin"), std::string(40, '\0'));  // 10 pixels
  interop::Sidecar s;
  s.grid_file = "grid.bin";
  s.bands_per_year = 12;
  s.first_year = 1971;
  s.variable = "tas";
  interop::RasterOptions given;
  given.first_year = 2001;
  const auto r = interop::resolve_defaults(dir.file("x.bin"), given, s);
  EXPECT_EQ(r.grid, dir.file("grid.bin"));
  EXPECT_EQ(r.npixel, 10);
  EXPECT_EQ(r.first_year, 2001);
  EXPECT_EQ(r.bands_per_year, 12);
  EXPECT_EQ(r.variable, "tas");
  EXPECT_FALSE(r.units.has_value());
}

TEST(Defaults, SidecarSamplesThatAreNotTheGridsAreRefused) {
  e2e::TempDir dir;
  e2e::write_bytes(dir.file("grid.bin"), std::string(40, '\0'));
  interop::Sidecar s;
  s.samples = 11;
  s.grid_file = "grid.bin";
  try {
    interop::resolve_defaults(dir.file("x.bin"), {}, s);
    FAIL() << "no error";
  } catch (const interop::ToolError& e) {
    EXPECT_EQ(std::string(e.what()), "npixel 11 does not match grid file " + dir.file("grid.bin") +
                                         " (40 bytes, 10 pixels)");
  }
}

TEST(Defaults, NothingGivenLeavesEverythingUnset) {
  const auto r = interop::resolve_defaults("x.bin", {}, std::nullopt);
  EXPECT_FALSE(r.npixel.has_value());
  EXPECT_FALSE(r.grid.has_value());
}

// ---- the time axis ----------------------------------------------------------------------------

struct LabelCase {
  const char* name;
  int64_t first_year, bands_per_year, band;
  const char* label;
};

class BandLabels : public testing::TestWithParam<LabelCase> {};

TEST_P(BandLabels, NameTheBandsPeriod) {
  const LabelCase& c = GetParam();
  EXPECT_EQ(interop::band_label(c.first_year, c.bands_per_year, c.band), c.label);
}

const LabelCase kLabels[] = {
    {"first_month", 1971, 12, 0, "1971-01"},
    {"december_of_the_second_year", 1971, 12, 23, "1972-12"},
    {"annual", 1850, 1, 249, "2099"},
    {"quarters", 2001, 4, 6, "2002 band 2"},
};

INSTANTIATE_TEST_SUITE_P(Cases, BandLabels, testing::ValuesIn(kLabels), CaseName{});

struct MonthCase {
  const char* name;
  const char* calendar;
  int64_t year;
  int month;
  int64_t days;
};

class MonthLengths : public testing::TestWithParam<MonthCase> {};

TEST_P(MonthLengths, OfEachCalendar) {
  const MonthCase& c = GetParam();
  EXPECT_EQ(interop::days_in_month(interop::parse_calendar(c.calendar).kind, c.year, c.month),
            c.days);
}

const MonthCase kMonths[] = {
    {"february_1900_gregorian", "proleptic_gregorian", 1900, 1, 28},
    {"february_2000_gregorian", "standard", 2000, 1, 29},
    {"february_2004_noleap", "noleap", 2004, 1, 28},
    {"february_2001_all_leap", "ALL_LEAP", 2001, 1, 29},
    {"january_360_day", "360_day", 2001, 0, 30},
    {"december_gregorian", "gregorian", 2001, 11, 31},
};

INSTANTIATE_TEST_SUITE_P(Cases, MonthLengths, testing::ValuesIn(kMonths), CaseName{});

struct ResCase {
  const char* name;
  const char* text;
  double res;  // 0 for a refused text
};

class Resolutions : public testing::TestWithParam<ResCase> {};

TEST_P(Resolutions, ParseDegreesAndFractions) {
  const ResCase& c = GetParam();
  if (c.res == 0) {
    EXPECT_THROW(interop::parse_resolution(c.text), interop::ToolError);
    return;
  }
  EXPECT_EQ(interop::parse_resolution(c.text), c.res);
}

const ResCase kResolutions[] = {
    {"half", "0.5", 0.5},
    {"two", "2", 2.0},
    {"twelfth", "1/12", 1.0 / 12.0},
    {"sixth", "1/6", 1.0 / 6.0},
    {"zero", "0", 0},
    {"negative", "-1", 0},
    {"word", "fine", 0},
    {"over_180", "360", 0},
    {"empty_denominator", "1/", 0},
    {"division_by_zero", "1/0", 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, Resolutions, testing::ValuesIn(kResolutions), CaseName{});

}  // namespace
