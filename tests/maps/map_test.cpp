// End-to-end tests of rastertools map: the PNG it writes, decoded with libpng, cell by cell;
// the colour bar's range, ticks and clipping; the title; several bands; the errors.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "frame.h"
#include "map_tool.h"
#include "render.h"
#include "scale.h"

namespace {

const char* const tool = "rastertools-map";

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// A colour given as fractions (as matplotlib and ColorBrewer publish them) in 8 bits.
Rgb frac(double r, double g, double b) {
  return {static_cast<int>(std::lround(r * 255)), static_cast<int>(std::lround(g * 255)),
          static_cast<int>(std::lround(b * 255))};
}
Rgb hex(uint32_t v) {
  return {static_cast<int>(v >> 16), static_cast<int>((v >> 8) & 0xff), static_cast<int>(v & 0xff)};
}

// Published end and middle colours of the tables.
const Rgb viridis_0 = frac(0.267004, 0.004874, 0.329415);
const Rgb viridis_64 = frac(0.229739, 0.322361, 0.545706);
const Rgb viridis_128 = frac(0.127568, 0.566949, 0.550556);
const Rgb viridis_255 = frac(0.993248, 0.906157, 0.143936);
const Rgb cividis_0 = frac(0.0, 0.135112, 0.304751);
const Rgb magma_255 = frac(0.987053, 0.991438, 0.749504);
const Rgb plasma_0 = frac(0.050383, 0.029803, 0.527975);
const Rgb inferno_255 = frac(0.988362, 0.998364, 0.644924);
const Rgb rdbu_blue = hex(0x053061), rdbu_white = hex(0xf7f7f7), rdbu_red = hex(0x67001f);
const Rgb puor_orange = hex(0x7f3b08), puor_purple = hex(0x2d004b);
const Rgb black{0, 0, 0}, cyan{0, 229, 255}, white{255, 255, 255};
const Rgb no_pixel{224, 224, 224};

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  Rgb at(int x, int y) const {
    const size_t i =
        (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

Image read_png(const std::string& path) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  Image out;
  if (!png_image_begin_read_from_file(&img, path.c_str())) {
    ADD_FAILURE() << "cannot decode " << path << ": " << img.message;
    return out;
  }
  img.format = PNG_FORMAT_RGB;
  out.width = static_cast<int>(img.width);
  out.height = static_cast<int>(img.height);
  out.rgb.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, out.rgb.data(), 0, nullptr)) {
    ADD_FAILURE() << "cannot decode " << path << ": " << img.message;
  }
  return out;
}

// A grid file from lon/lat in degrees (stored as hundredths).
void write_grid(const std::string& path, const std::vector<std::pair<double, double>>& pts) {
  std::string bytes;
  for (auto [lon, lat] : pts) {
    for (double v : {lon, lat}) {
      const auto h = static_cast<int16_t>(std::lround(v * 100));
      bytes += static_cast<char>(h & 0xff);
      bytes += static_cast<char>((h >> 8) & 0xff);
    }
  }
  e2e::write_bytes(path, bytes);
}

// The test grid: 2 degree cells, northern-edge latitudes. Pixel 0 in row 10, column 100;
// pixel 1 (NaN in the tests) in row 20, column 50; pixel 2 in row 44, column 0.
const std::vector<std::pair<double, double>> pts{{21, 70}, {-79, 50}, {-179, 2}};
struct Cell {
  int row, col;
};
const Cell cell0{10, 100}, cell1{20, 50}, cell2{44, 0}, empty_cell{60, 120};

// The whole globe, not the default (the rows and columns that hold pixels).
const std::vector<std::string> globe{"--extent", "-180", "180", "-90", "90"};

// The image's layout for a map of 2 degree cells from `west` and `north` at `scale`, from the
// library the program uses (the legend left out: it does not move the rest).
maps::Layout layout_of(int nrow, int ncol, double west, double north, int scale,
                       const std::string& title = "", const std::string& units = "") {
  maps::CellField f;
  f.nrow = nrow;
  f.ncol = ncol;
  f.west = west;
  f.north = north;
  f.res = 2;
  maps::MapStyle s;
  s.scale = scale;
  s.title = title;
  s.units = units;
  return maps::layout(f, s);
}
maps::Layout global_layout(int scale) { return layout_of(90, 180, -180, 90, scale); }

// The colour in the middle of a cell's block.
Rgb cell_colour(const Image& img, const maps::Layout& l, int scale, Cell c) {
  return img.at(l.map_x + c.col * scale + scale / 2, l.map_y + c.row * scale + scale / 2);
}

// The tick labels of the report line.
std::string ticks_of(const std::string& out) {
  const size_t at = out.find(", ticks ");
  const size_t end = out.find(',', at + 1);
  if (at == std::string::npos || end == std::string::npos) return "(no ticks in: " + out + ")";
  return out.substr(at + 8, end - at - 8);
}

class MapFiles : public ::testing::Test {
 protected:
  void SetUp() override { write_grid(grid, pts); }
  e2e::TempDir dir;
  std::string grid = dir.file("grid.bin");
  std::string raw = dir.file("v.bin");
  std::string png = dir.file("m.png");
};

// --- a cell's value on the colour map, NaN and empty cells ------------------------------------

struct ColourCase {
  const char* name;
  std::vector<std::string> args;
  float value;
  Rgb expected;
  Rgb nan;
};

void PrintTo(const ColourCase& c, std::ostream* os) { *os << c.name; }

class MapColour : public MapFiles, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(MapColour, CellHasTheColourOfItsValue) {
  const ColourCase& c = GetParam();
  e2e::write_floats(raw, {c.value, NAN, 0.0f});
  std::vector<std::string> args{raw, "--grid", grid, "-o", png, "--scale", "3"};
  args.insert(args.end(), globe.begin(), globe.end());
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = e2e::run(tool, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const Image img = read_png(png);
  const maps::Layout l = global_layout(3);
  ASSERT_EQ(img.width, l.width);
  ASSERT_EQ(img.height, l.height);
  EXPECT_EQ(l.map_w, 540);
  EXPECT_EQ(l.map_h, 270);
  EXPECT_EQ(cell_colour(img, l, 3, cell0), c.expected);
  EXPECT_EQ(cell_colour(img, l, 3, cell1), c.nan);
  EXPECT_EQ(cell_colour(img, l, 3, empty_cell), no_pixel);
  // every pixel of the cell's block, and the neighbours' first pixels are not of it
  for (int dy = 0; dy < 3; ++dy) {
    for (int dx = 0; dx < 3; ++dx) {
      EXPECT_EQ(img.at(l.map_x + cell0.col * 3 + dx, l.map_y + cell0.row * 3 + dy), c.expected);
    }
  }
  EXPECT_EQ(img.at(l.map_x + cell0.col * 3 + 3, l.map_y + cell0.row * 3), no_pixel);
  EXPECT_EQ(img.at(l.map_x + cell0.col * 3, l.map_y + cell0.row * 3 - 1), no_pixel);
  EXPECT_NE(r.out.find(", 1 NaN,"), std::string::npos) << r.out;
}

const ColourCase colour_cases[] = {
    {"viridis_low", {"--range", "0", "255"}, 0.0f, viridis_0, black},
    {"viridis_64", {"--range", "0", "255"}, 64.0f, viridis_64, black},
    {"viridis_128", {"--range", "0", "255"}, 128.0f, viridis_128, black},
    {"viridis_high", {"--range", "0", "255"}, 255.0f, viridis_255, black},
    {"viridis_range_scaled", {"--range", "-10", "500"}, 500.0f, viridis_255, black},
    {"viridis_clipped_below", {"--range", "0", "255"}, -1e30f, viridis_0, black},
    {"viridis_clipped_above", {"--range", "0", "255"}, 256.0f, viridis_255, black},
    {"viridis_infinity", {"--range", "0", "255"}, INFINITY, viridis_255, black},
    {"viridis_minus_infinity", {"--range", "0", "255"}, -INFINITY, viridis_0, black},
    {"cividis_low", {"--cmap", "cividis", "--range", "1", "2"}, 1.0f, cividis_0, black},
    {"magma_high_nan_cyan", {"--cmap", "magma", "--range", "1", "2"}, 2.0f, magma_255, cyan},
    {"inferno_high", {"--cmap", "inferno", "--range", "1", "2"}, 3.0f, inferno_255, cyan},
    {"plasma_low", {"--cmap", "plasma", "--range", "1", "2"}, 1.0f, plasma_0, black},
    {"center_is_white", {"--center", "0", "--range", "-1", "1"}, 0.0f, rdbu_white, black},
    {"center_low_blue", {"--center", "0", "--range", "-1", "1"}, -1.0f, rdbu_blue, black},
    {"center_high_red", {"--center", "0", "--range", "-1", "1"}, 1.0f, rdbu_red, black},
    // the range widens to 10 +- 5 around the centre: 10 is the middle
    {"center_widens_range", {"--center", "10", "--range", "5", "12"}, 10.0f, rdbu_white, black},
    {"center_widened_top", {"--center", "10", "--range", "5", "12"}, 15.0f, rdbu_red, black},
    {"puor_low",
     {"--cmap", "puor", "--center", "0", "--range", "-1", "1"},
     -1.0f,
     puor_orange,
     black},
    {"puor_high", {"--cmap", "puor", "--range", "-1", "1"}, 1.0f, puor_purple, black},
    // negative zero is zero: the middle of a diverging bar
    {"negative_zero", {"--center", "0", "--range", "-1", "1"}, -0.0f, rdbu_white, black},
};

INSTANTIATE_TEST_SUITE_P(Colours, MapColour, ::testing::ValuesIn(colour_cases),
                         [](const auto& p) { return std::string(p.param.name); });

// --- the colour bar: range, ticks, drawn labels, clipping triangles ---------------------------

struct TickCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<float> values;  // pixels 0, 1, 2
  std::string range;          // as reported
  std::string ticks;
  bool clipped_low, clipped_high;
};

void PrintTo(const TickCase& c, std::ostream* os) { *os << c.name; }

class MapTicks : public MapFiles, public ::testing::WithParamInterface<TickCase> {};

TEST_P(MapTicks, BarShowsTheRange) {
  const TickCase& c = GetParam();
  e2e::write_floats(raw, c.values);
  std::vector<std::string> args{raw, "--grid", grid, "-o", png, "--scale", "2"};
  args.insert(args.end(), globe.begin(), globe.end());
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = e2e::run(tool, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("range " + c.range + " ("), std::string::npos) << r.out;
  EXPECT_EQ(ticks_of(r.out), c.ticks);

  const Image img = read_png(png);
  const maps::Layout l = global_layout(2);
  ASSERT_EQ(img.width, l.width);
  // each tick label is drawn: dark text pixels under the tick's place on the bar
  std::istringstream ts(c.ticks);
  double lo = 0, hi = 0;
  std::sscanf(c.range.c_str(), "%lf .. %lf", &lo, &hi);
  int nlabels = 0;
  for (std::string t; ts >> t; ++nlabels) {
    const int x = static_cast<int>(maps::bar_position(l, {lo, hi}, std::stod(t)));
    int dark = 0;  // pixels of text (antialiased: any that is not white)
    for (int y = l.label_y - 10; y <= l.label_y; ++y) {
      for (int dx = -3; dx <= 3; ++dx) {
        dark += !(img.at(x + dx, y) == white);
      }
    }
    EXPECT_GT(dark, 2) << "no text under tick " << t;
  }
  EXPECT_GE(nlabels, 2);
  // and none halfway between the first two labels
  std::istringstream first_two(c.ticks);
  std::string t0, t1;
  first_two >> t0 >> t1;
  const int mid = static_cast<int>((maps::bar_position(l, {lo, hi}, std::stod(t0)) +
                                    maps::bar_position(l, {lo, hi}, std::stod(t1))) /
                                   2);
  for (int y = l.label_y - 10; y <= l.label_y; ++y) EXPECT_EQ(img.at(mid, y), white) << y;
  // a triangle in the end colour beyond a clipped end of the bar, white otherwise
  const int ym = l.bar_y + l.bar_h / 2;
  const Rgb left = img.at(l.bar_x - 3, ym), right = img.at(l.bar_x + l.bar_w + 2, ym);
  EXPECT_EQ(left == white, !c.clipped_low) << left;
  EXPECT_EQ(right == white, !c.clipped_high) << right;
}

const TickCase tick_cases[] = {
    {"zero_to_hundred",
     {"--range", "0", "100"},
     {0, 50, 100},
     "0 .. 100",
     "0 20 40 60 80 100",
     false,
     false},
    {"minus_one_to_one",
     {"--range", "-1", "1"},
     {-1, 0, 1},
     "-1 .. 1",
     "-1.0 -0.5 0.0 0.5 1.0",
     false,
     false},
    {"tenths",
     {"--range", "0", "1"},
     {0.5f, 0.5f, 0.5f},
     "0 .. 1",
     "0.0 0.2 0.4 0.6 0.8 1.0",
     false,
     false},
    {"kelvin", {"--range", "250", "310"}, {240, 300, 320}, "250 .. 310", "260 280 300", true, true},
    {"quarter_steps",
     {"--range", "0", "1.1"},
     {0, 1, 1.2f},
     "0 .. 1.1",
     "0.00 0.25 0.50 0.75 1.00",
     false,
     true},
    {"small",
     {"--range", "0.001", "0.002"},
     {0.0015f, 0, 0.0015f},
     "0.001 .. 0.002",
     "0.0010 0.0012 0.0014 0.0016 0.0018 0.0020",
     true,
     false},
    {"centred",
     {"--center", "0", "--range", "-2", "5"},
     {-5, 0, 5},
     "-5 .. 5",
     "-4 -2 0 2 4",
     false,
     false},
    // no --range: the 2nd and 98th percentiles of the finite values (NaN and inf left out)
    // of 3 values 0, 10, 20: 0 + 2 * 0.02 * 10 = 0.4 and 20 - 0.4 = 19.6
    {"percentiles", {}, {0, 10, 20}, "0.4 .. 19.6", "5 10 15", true, true},
    {"percentiles_given",
     {"--percentiles", "0", "100"},
     {0, 10, 20},
     "0 .. 20",
     "0 5 10 15 20",
     false,
     false},
    {"percentiles_skip_nan_inf",
     {"--percentiles", "0", "100"},
     {NAN, INFINITY, 3},
     "2 .. 4",
     "2.0 2.5 3.0 3.5 4.0",
     false,
     true},
    {"one_value_widened", {}, {7, 7, 7}, "6 .. 8", "6.0 6.5 7.0 7.5 8.0", false, false},
    {"no_finite_value", {}, {NAN, NAN, NAN}, "0 .. 1", "0.0 0.2 0.4 0.6 0.8 1.0", false, false},
};

INSTANTIATE_TEST_SUITE_P(Bar, MapTicks, ::testing::ValuesIn(tick_cases),
                         [](const auto& p) { return std::string(p.param.name); });

// --- several bands, the title from the sidecar, the extent --------------------------------------

TEST_F(MapFiles, BandsMakeOneMapEach) {
  e2e::write_floats(raw, {0, NAN, 0, 128, NAN, 0, 255, NAN, 0});
  const e2e::Result r = e2e::run(
      tool, {raw, "--grid", grid, "--bands", "0-2", "--out", dir.file("b_%03d.png"), "--range", "0",
             "255", "--scale", "1", "--extent", "-180", "180", "-90", "90"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Rgb want[] = {viridis_0, viridis_128, viridis_255};
  const maps::Layout l = global_layout(1);
  for (int b = 0; b < 3; ++b) {
    const std::string name = dir.file("b_00" + std::to_string(b) + ".png");
    EXPECT_NE(r.out.find(name + ": band " + std::to_string(b)), std::string::npos) << r.out;
    const Image img = read_png(name);
    EXPECT_EQ(cell_colour(img, l, 1, cell0), want[b]) << name;
    EXPECT_EQ(cell_colour(img, l, 1, cell1), black) << name;
  }
  EXPECT_FALSE(e2e::exists(dir.file("b_003.png")));
}

TEST_F(MapFiles, BandsOfOneBandStillUseThePattern) {
  e2e::write_floats(raw, {0, NAN, 0, 0, NAN, 0, 255, NAN, 0});
  const e2e::Result r =
      e2e::run(tool, {raw, "--grid", grid, "--bands", "2-2", "--out", dir.file("b_%d%%.png"),
                      "--range", "0", "255", "--extent", "-180", "180", "-90", "90"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Image img = read_png(dir.file("b_2%.png"));
  EXPECT_EQ(cell_colour(img, global_layout(4), 4, cell0), viridis_255);
}

TEST_F(MapFiles, OneBandOfSeveral) {
  e2e::write_floats(raw, {0, NAN, 0, 128, NAN, 0});
  const e2e::Result r = e2e::run(tool, {raw, "--grid", grid, "--band", "1", "-o", png, "--range",
                                        "0", "255", "--extent", "-180", "180", "-90", "90"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Image img = read_png(png);
  const maps::Layout l = global_layout(4);  // 720 / 180 columns
  EXPECT_EQ(img.width, l.width);
  EXPECT_EQ(cell_colour(img, l, 4, cell0), viridis_128);
  EXPECT_EQ(cell_colour(img, l, 4, cell2), viridis_0);
}

TEST_F(MapFiles, SidecarGivesGridTitleAndUnits) {
  e2e::write_floats(raw, std::vector<float>(3 * 24, 1.0f));
  e2e::write_bytes(dir.file("v.hdr"),
                   "ENVI\nsamples = 3\nlines = 1\nbands = 24\nheader offset = 0\n"
                   "file type = ENVI Standard\ndata type = 4\ninterleave = bsq\nbyte order = 0\n"
                   "rastertools grid file = grid.bin\nrastertools resolution = 2\n"
                   "rastertools grid convention = northedge\nrastertools bands per year = 12\n"
                   "rastertools first year = 1971\nrastertools variable = tas\n"
                   "rastertools units = K\n");
  const e2e::Result r = e2e::run(tool, {raw, "--band", "17", "-o", png});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": band 17 \"tas, band 17 (1972, 6 of 12)\", range 0 .. 2"),
            std::string::npos)
      << r.out;
  const e2e::Result t = e2e::run(tool, {raw, "-o", png, "--title", "my title"});
  EXPECT_NE(t.out.find(": band 0 \"my title\""), std::string::npos) << t.out;
}

TEST_F(MapFiles, TitleWithoutSidecarIsTheFileName) {
  e2e::write_floats(raw, {1, 2, 3});
  const e2e::Result r = e2e::run(tool, {raw, "--grid", grid, "-o", png});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": band 0 \"v.bin, band 0\""), std::string::npos) << r.out;
}

TEST_F(MapFiles, ExtentShowsOnlyItsCells) {
  // 20E-30E, 60N-74N: columns 100-104, rows 8-14; pixel 0 sits in row 10, column 100
  e2e::write_floats(raw, {255, NAN, 0});
  const e2e::Result r = e2e::run(tool, {raw, "--grid", grid, "-o", png, "--extent", "20", "30",
                                        "60", "74", "--range", "0", "255", "--scale", "10"});
  ASSERT_EQ(r.status, 0) << r.err;
  const maps::Layout l = layout_of(7, 5, 20, 74, 10);
  const Image img = read_png(png);
  EXPECT_EQ(img.width, l.width);
  EXPECT_EQ(img.height, l.height);
  EXPECT_EQ(l.map_w, 50);
  EXPECT_EQ(l.map_h, 70);
  EXPECT_EQ(cell_colour(img, l, 10, {2, 0}), viridis_255);
  EXPECT_EQ(cell_colour(img, l, 10, {0, 0}), no_pixel);
  EXPECT_EQ(cell_colour(img, l, 10, {6, 4}), no_pixel);
  // pixels outside the extent count for nothing: no NaN shown, no value clipped
  EXPECT_NE(r.out.find(", 0 NaN, 0 below, 0 above, extent 20 30 60 74\n"), std::string::npos)
      << r.out;
}

TEST_F(MapFiles, CentreConventionPlacesLatitudesOnCentres) {
  // the same cells with centre latitudes (1 degree south of the northern edges)
  write_grid(grid, {{21, 69}, {-79, 49}, {-179, 1}});
  e2e::write_floats(raw, {255, NAN, 0});
  const e2e::Result r = e2e::run(tool, {raw, "--grid", grid, "-o", png, "--range", "0", "255",
                                        "--scale", "2", "--extent", "-180", "180", "-90", "90"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Image img = read_png(png);
  const maps::Layout l = global_layout(2);
  EXPECT_EQ(cell_colour(img, l, 2, cell0), viridis_255);
  EXPECT_EQ(cell_colour(img, l, 2, cell1), black);
  EXPECT_EQ(cell_colour(img, l, 2, cell2), viridis_0);
}

// --- furniture: the frame's ticks and labels, texts that fit, the default extent ---------------

// Ink: a pixel that is not white, in the box x0..x1, y0..y1 (inclusive).
bool ink(const Image& img, int x0, int y0, int x1, int y1) {
  for (int y = std::max(y0, 0); y <= std::min(y1, img.height - 1); ++y) {
    for (int x = std::max(x0, 0); x <= std::min(x1, img.width - 1); ++x) {
      if (!(img.at(x, y) == white)) return true;
    }
  }
  return false;
}

std::string joined(const std::vector<maps::FrameTick>& ticks) {
  std::string s;
  for (const maps::FrameTick& t : ticks) s += (s.empty() ? "" : " ") + t.label;
  return s;
}

// A map of the test grid (2 degree cells) over an extent whose edges are cell edges.
struct FurnitureCase {
  const char* name;
  double west, east, south, north;
  int scale;
  std::string title, units;
  std::string lon, lat;  // the frame's labels, west to east and south to north
};

void PrintTo(const FurnitureCase& c, std::ostream* os) { *os << c.name; }

class MapFurniture : public MapFiles, public ::testing::WithParamInterface<FurnitureCase> {};

TEST_P(MapFurniture, LabelsInsideTheImage) {
  const FurnitureCase& c = GetParam();
  e2e::write_floats(raw, {1, 2, 3});
  std::vector<std::string> args{
      raw,       "--grid", grid, "-o", png, "--title", c.title, "--scale", std::to_string(c.scale),
      "--extent"};
  std::string extent;
  for (double v : {c.west, c.east, c.south, c.north}) {
    args.push_back(maps::tick_label(v, 1));
    extent += " " + args.back();
  }
  if (!c.units.empty()) args.insert(args.end(), {"--units", c.units});
  const e2e::Result r = e2e::run(tool, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("extent" + extent + "\n"), std::string::npos) << r.out;
  const maps::Layout l =
      layout_of(static_cast<int>(c.north - c.south) / 2, static_cast<int>(c.east - c.west) / 2,
                c.west, c.north, c.scale, c.title, c.units);
  EXPECT_EQ(joined(l.lon_ticks), c.lon);
  EXPECT_EQ(joined(l.lat_ticks), c.lat);
  const Image img = read_png(png);
  ASSERT_EQ(img.width, l.width);
  ASSERT_EQ(img.height, l.height);
  // nothing reaches the image's edge, so nothing is cut
  EXPECT_FALSE(ink(img, 0, 0, img.width - 1, 1));
  EXPECT_FALSE(ink(img, 0, img.height - 2, img.width - 1, img.height - 1));
  EXPECT_FALSE(ink(img, 0, 0, 1, img.height - 1));
  EXPECT_FALSE(ink(img, img.width - 2, 0, img.width - 1, img.height - 1));
  // the frame, every label, the title and the units are drawn where the layout puts them
  EXPECT_FALSE(img.at(l.map_x - 1, l.map_y + l.map_h / 2) == white);
  const int below = l.map_y + l.map_h + 1;
  for (const maps::FrameTick& t : l.lon_ticks) {
    const int x = static_cast<int>(t.pos);
    EXPECT_TRUE(ink(img, x - 4, below + 5, x + 4, l.lon_label_y)) << t.label;
  }
  for (const maps::FrameTick& t : l.lat_ticks) {
    const int y = static_cast<int>(t.pos);
    EXPECT_TRUE(ink(img, l.map_x - 14, y - 3, l.map_x - 8, y + 3)) << t.label;
  }
  EXPECT_TRUE(ink(img, 0, 0, img.width - 1, l.map_y - 6));
  const int units_x = l.bar_x + l.bar_w + l.bar_h + 2;
  EXPECT_EQ(ink(img, units_x, l.bar_y, img.width - 1, l.bar_y + l.bar_h), !c.units.empty());
}

const std::string long_title =
    "Cosine of the angle between the change vectors of two periods of a long simulation, over "
    "a narrow strip of Africa and Europe, band 0 (1971, 1 of 12)";
// wider than the image at the units' usual size
const std::string long_units =
    "kilograms of carbon per square metre of land and second over the growing season before";

const FurnitureCase furniture_cases[] = {
    {"globe", -180, 180, -90, 90, 4, "globe", "K", "180° 120°W 60°W 0° 60°E 120°E 180°",
     "90°S 60°S 30°S 0° 30°N 60°N 90°N"},
    // 180 by 90 pixels: ticks 90 and 60 degrees apart leave room for the labels
    {"globe_small", -180, 180, -90, 90, 1, "small", "", "180° 90°W 0° 90°E 180°", "60°S 0° 60°N"},
    {"europe", -16, 44, 30, 72, 12, "Europe", "mm", "10°W 0° 10°E 20°E 30°E 40°E",
     "30°N 40°N 50°N 60°N 70°N"},
    {"narrow_strip", 10, 20, -40, 70, 8, long_title, long_units, "10°E 20°E",
     "40°S 20°S 0° 20°N 40°N 60°N"},
    {"one_word_title", 10, 20, -40, 70, 8, std::string(120, 'x'), "%", "10°E 20°E",
     "40°S 20°S 0° 20°N 40°N 60°N"},
    {"large_cells", 0, 40, 40, 60, 10, "large", "degrees Celsius", "0° 10°E 20°E 30°E 40°E",
     "40°N 45°N 50°N 55°N 60°N"},
};

INSTANTIATE_TEST_SUITE_P(Frame, MapFurniture, ::testing::ValuesIn(furniture_cases),
                         [](const auto& p) { return std::string(p.param.name); });

// The step: the smallest with at most 6 steps across and room for the labels (here min_px).
TEST(GeoStep, SmallestThatFits) {
  struct {
    const char* name;
    double span, px_per_degree, min_px, step;
  } const cases[] = {
      {"globe_lon", 360, 2, 40, 60},
      {"globe_lat", 180, 2, 16, 30},
      {"trimmed_lat", 140, 2, 16, 30},
      {"europe_lon", 60, 6, 40, 10},
      {"europe_lat", 42, 6, 16, 10},
      {"exactly_six", 120, 4, 40, 20},
      {"labels_need_room", 360, 0.5, 40, 90},  // 60 degrees are 30 pixels only
      {"no_room_at_all", 360, 0.1, 40, 180},   // even 180 degrees are 18 pixels
      {"region", 2, 100, 40, 0.5},
      {"tiny", 0.05, 4000, 40, 0.01},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(maps::geo_step(c.span, c.px_per_degree, [&](double) { return c.min_px; }), c.step)
        << c.name;
  }
}

struct GeoLabelCase {
  double degrees, step;
  maps::Axis axis;
  std::string label;
};

TEST(GeoLabel, LettersAndDecimals) {
  using maps::Axis;
  const GeoLabelCase cases[] = {
      {-120, 60, Axis::lon, "120°W"},     {60, 60, Axis::lon, "60°E"},
      {0, 60, Axis::lon, "0°"},           {-0.0, 30, Axis::lon, "0°"},
      {180, 60, Axis::lon, "180°"},       {-180, 60, Axis::lon, "180°"},
      {190, 10, Axis::lon, "170°W"},      {-190, 10, Axis::lon, "170°E"},
      {10.5, 0.5, Axis::lon, "10.5°E"},   {10, 0.5, Axis::lon, "10.0°E"},
      {-30, 30, Axis::lat, "30°S"},       {0, 30, Axis::lat, "0°"},
      {90, 30, Axis::lat, "90°N"},        {0.25, 0.05, Axis::lat, "0.25°N"},
      {-0.02, 0.01, Axis::lat, "0.02°S"},
  };
  for (const GeoLabelCase& c : cases) {
    EXPECT_EQ(maps::geo_label(c.degrees, c.step, c.axis), c.label) << c.degrees << " " << c.step;
  }
}

TEST(GeoTicks, MultiplesWithEnds) {
  auto ticks = [](double lo, double hi, double step) {
    std::string s;
    for (double v : maps::geo_ticks(lo, hi, step))
      s += (s.empty() ? "" : " ") + maps::tick_label(v, step);
    return s;
  };
  EXPECT_EQ(ticks(-180, 180, 60), "-180 -120 -60 0 60 120 180");
  EXPECT_EQ(ticks(-55.5, 83.5, 30), "-30 0 30 60");
  EXPECT_EQ(ticks(10, 20, 10), "10 20");
  EXPECT_EQ(ticks(0.1, 0.3, 0.1), "0.1 0.2 0.3");  // 0.3 / 0.1 is 2.9999999999999996
  EXPECT_EQ(ticks(10.2, 10.8, 1), "");
}

// The default extent: rows and columns that hold pixels, of a 2 degree grid (90 x 180 cells).
TEST(PixelWindow, TrimsToThePixels) {
  struct {
    const char* name;
    std::vector<Cell> cells;
    maps::Window window;
  } const cases[] = {
      {"one_cell", {{5, 7}}, {5, 5, 7, 7}},
      {"test_grid", {cell0, cell1, cell2}, {10, 44, 0, 100}},
      // 14 empty columns are 28 degrees: the map keeps the whole globe's longitudes
      {"nearly_global", {{3, 0}, {0, 165}}, {0, 3, 0, 179}},
      {"gap_of_30_degrees", {{0, 0}, {0, 164}}, {0, 0, 0, 164}},
      {"east_only", {{80, 170}, {60, 179}}, {60, 80, 170, 179}},
      {"no_pixel", {}, {0, 89, 0, 179}},
  };
  const interop::GlobalGrid g(2);
  for (const auto& c : cases) {
    std::vector<int64_t> cells;
    for (Cell x : c.cells) cells.push_back(int64_t{x.row} * g.nlon + x.col);
    const maps::Window w = maps::pixel_window(g, cells);
    EXPECT_EQ((std::vector<int64_t>{w.r0, w.r1, w.c0, w.c1}),
              (std::vector<int64_t>{c.window.r0, c.window.r1, c.window.c0, c.window.c1}))
        << c.name;
  }
}

// The printed extent of the real land grids (data/README.md: their latitudes run from -55.25 to
// 83.25 on 0.5 degree centres, -53 to 83 on 2 degree centres; longitudes all round).
struct ExtentCase {
  const char* name;
  std::string grid;
  std::vector<std::string> args;
  std::string extent;
};

void PrintTo(const ExtentCase& c, std::ostream* os) { *os << c.name; }

class MapExtent : public MapFiles, public ::testing::WithParamInterface<ExtentCase> {};

TEST_P(MapExtent, DefaultHoldsThePixels) {
  const ExtentCase& c = GetParam();
  const std::string g = c.grid.empty() ? grid : e2e::data_path(c.grid);
  e2e::write_floats(raw, std::vector<float>(static_cast<size_t>(e2e::file_size(g) / 4), 1.0f));
  std::vector<std::string> args{raw, "--grid", g, "-o", png, "--scale", "1"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = e2e::run(tool, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(", extent " + c.extent + "\n"), std::string::npos) << r.out;
}

const ExtentCase extent_cases[] = {
    {"half_degree_centre", "grid_0.5deg_centre.bin", {}, "-180 180 -55.5 83.5"},
    {"half_degree_northedge", "grid_0.5deg_northedge.bin", {}, "-180 180 -55.5 83.5"},
    {"half_degree_fraction", "grid_0.5deg_centre.bin", {"--res", "1/2"}, "-180 180 -55.5 83.5"},
    {"two_degree_centre", "grid_2deg_centre.bin", {}, "-180 180 -54 84"},
    {"two_degree_northedge", "grid_2deg_northedge.bin", {"--res", "4/2"}, "-180 180 -54 84"},
    // pixels at 20-22E 68-70N, 80-78W 48-50N, 180-178W 0-2N
    {"test_grid", "", {}, "-180 22 0 70"},
    {"given", "", {"--extent", "-180", "180", "-90", "90"}, "-180 180 -90 90"},
};

INSTANTIATE_TEST_SUITE_P(Extent, MapExtent, ::testing::ValuesIn(extent_cases),
                         [](const auto& p) { return std::string(p.param.name); });

// --- --center where the values lie on one side, --common-range ------------------------------

struct CentreCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<float> values;  // pixels 0, 1, 2
  std::string range;          // as printed, with how it was chosen
  Rgb first, last;            // the colours of pixels 0 and 2
};

void PrintTo(const CentreCase& c, std::ostream* os) { *os << c.name; }

class MapCentre : public MapFiles, public ::testing::WithParamInterface<CentreCase> {};

TEST_P(MapCentre, DivergingOnlyAcrossTheCentre) {
  const CentreCase& c = GetParam();
  e2e::write_floats(raw, c.values);
  std::vector<std::string> args{raw,   "--grid",        grid, "-o", png, "--scale", "2", "--center",
                                "100", "--percentiles", "0",  "100"};
  args.insert(args.end(), globe.begin(), globe.end());
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = e2e::run(tool, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\", range " + c.range + ", ticks"), std::string::npos) << r.out;
  const Image img = read_png(png);
  const maps::Layout l = global_layout(2);
  EXPECT_EQ(cell_colour(img, l, 2, cell0), c.first);
  EXPECT_EQ(cell_colour(img, l, 2, cell2), c.last);
}

const CentreCase centre_cases[] = {
    {"above",
     {},
     {110, NAN, 120},
     "110 .. 120 (percentiles 0-100, all values above the centre 100: sequential, the upper "
     "half of rdbu)",
     rdbu_white,
     rdbu_red},
    {"below",
     {},
     {80, NAN, 90},
     "80 .. 90 (percentiles 0-100, all values below the centre 100: sequential, the lower half "
     "of rdbu)",
     rdbu_blue,
     rdbu_white},
    {"touching_is_one_side",
     {},
     {100, NAN, 120},
     "100 .. 120 (percentiles 0-100, all values above the centre 100: sequential, the upper "
     "half of rdbu)",
     rdbu_white,
     rdbu_red},
    {"both_sides",
     {},
     {80, NAN, 120},
     "80 .. 120 (percentiles 0-100, centred on 100)",
     rdbu_blue,
     rdbu_red},
    {"given_range_stays_diverging",
     {"--range", "100", "120"},
     {100, NAN, 120},
     "80 .. 120 (given, centred on 100)",
     rdbu_white,
     rdbu_red},
    {"sequential_map_whole",
     {"--cmap", "viridis"},
     {110, NAN, 120},
     "110 .. 120 (percentiles 0-100, all values above the centre 100: sequential)",
     viridis_0,
     viridis_255},
};

INSTANTIATE_TEST_SUITE_P(Centre, MapCentre, ::testing::ValuesIn(centre_cases),
                         [](const auto& p) { return std::string(p.param.name); });

// Three bands 0/10, 50/60, 100/110 (pixel 1 NaN): each band's own range, or one for all.
struct CommonCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> ranges;  // per band as printed, or one for all
};

void PrintTo(const CommonCase& c, std::ostream* os) { *os << c.name; }

class MapCommonRange : public MapFiles, public ::testing::WithParamInterface<CommonCase> {};

TEST_P(MapCommonRange, OneRangeForAllMaps) {
  const CommonCase& c = GetParam();
  e2e::write_floats(raw, {0, NAN, 10, 50, NAN, 60, 100, NAN, 110});
  std::vector<std::string> args{
      raw, "--grid", grid, "--bands", "0-2", "--out", dir.file("b_%d.png"), "--scale", "2"};
  args.insert(args.end(), globe.begin(), globe.end());
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = e2e::run(tool, args);
  ASSERT_EQ(r.status, 0) << r.err;
  for (size_t b = 0; b < 3; ++b) {
    const std::string n = std::to_string(b);
    EXPECT_NE(r.out.find(dir.file("b_" + n + ".png") + ": band " + n + " \"v.bin, band " + n +
                         "\", range " + c.ranges[std::min(b, c.ranges.size() - 1)] + ", ticks"),
              std::string::npos)
        << r.out;
  }
}

// R: quantile(c(0, 10, 50, 60, 100, 110), c(0.02, 0.98)) = 1, 109
const CommonCase common_cases[] = {
    {"each_its_own",
     {"--percentiles", "0", "100"},
     {"0 .. 10 (percentiles 0-100)", "50 .. 60 (percentiles 0-100)",
      "100 .. 110 (percentiles 0-100)"}},
    {"common_all",
     {"--percentiles", "0", "100", "--common-range"},
     {"0 .. 110 (common to bands 0-2: percentiles 0-100)"}},
    {"common_percentiles",
     {"--common-range"},
     {"1 .. 109 (common to bands 0-2: percentiles 2-98)"}},
    // all values lie on both sides of 55 together, though each band lies on one side
    {"common_centre",
     {"--percentiles", "0", "100", "--common-range", "--center", "55"},
     {"0 .. 110 (common to bands 0-2: percentiles 0-100, centred on 55)"}},
};

INSTANTIATE_TEST_SUITE_P(Bands, MapCommonRange, ::testing::ValuesIn(common_cases),
                         [](const auto& p) { return std::string(p.param.name); });

// Exact percentiles in two passes, against those of the sorted values.
TEST(PercentileCounter, SameAsSorting) {
  std::vector<std::vector<float>> sets = {
      {1, 2, 3, 4},
      {7},
      {NAN, INFINITY, -INFINITY, 3, 5},
      {-0.0f, 0.0f, -1e-38f, 1e-38f, -3e38f, 3e38f},
      std::vector<float>(1000, 2.5f),
  };
  std::vector<float> many(100000);
  uint64_t x = 12345;
  for (float& v : many) {  // a fixed generator: values spread over many exponents, with repeats
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    v = static_cast<float>(static_cast<int64_t>(x >> 40) - (int64_t{1} << 23)) /
        static_cast<float>(1 << (x >> 60));
  }
  sets.push_back(many);
  const std::vector<double> ps{0, 2, 50, 98, 99.99, 100};
  for (const std::vector<float>& values : sets) {
    const std::vector<float> sorted = maps::sorted_finite(values);
    maps::PercentileCounter counter(ps);
    const size_t half = values.size() / 2;  // the passes see the values in two parts
    const std::span<const float> all(values), a = all.first(half), b = all.subspan(half);
    counter.first_pass(a);
    counter.first_pass(b);
    counter.second_pass(b);
    counter.second_pass(a);
    ASSERT_EQ(counter.finite(), static_cast<int64_t>(sorted.size()));
    EXPECT_EQ(counter.min(), static_cast<double>(sorted.front()));
    EXPECT_EQ(counter.max(), static_cast<double>(sorted.back()));
    for (size_t i = 0; i < ps.size(); ++i) {
      EXPECT_EQ(counter.value(i), maps::percentile(sorted, ps[i]))
          << ps[i] << " of " << values.size();
    }
  }
}

// --- the graticule ---------------------------------------------------------------------------

TEST_F(MapFiles, GraticuleDrawsThinLinesAtTheTicksOrStep) {
  // the globe at 2 pixels per degree; along 51S, on no line of latitude and in empty cells
  e2e::write_floats(raw, {1, 2, 3});
  struct Case {
    std::vector<std::string> args;
    std::vector<int> lines, no_lines;  // degrees east of 180W, at 50S
  };
  const Case cases[] = {
      {{}, {}, {60, 70, 75}},
      {{"--graticule"}, {60, 180, 300}, {70, 75}},
      {{"--graticule=0"}, {60, 180, 300}, {70, 75}},
      {{"--graticule=10"}, {60, 70, 80}, {75}},
      {{"--graticule=5/2"}, {60, 70, 75}, {74, 76}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{raw, "--grid", grid, "-o", png, "--scale", "4"};
    args.insert(args.end(), globe.begin(), globe.end());
    args.insert(args.end(), c.args.begin(), c.args.end());
    const e2e::Result r = e2e::run(tool, args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Image img = read_png(png);
    const maps::Layout l = global_layout(4);
    const int y = l.map_y + 2 * (90 + 51);
    for (int d : c.lines) {
      const Rgb p = img.at(l.map_x + 2 * d, y);
      EXPECT_TRUE(p.r == p.g && p.g == p.b && p.r < no_pixel.r) << d << " " << p;
      EXPECT_EQ(img.at(l.map_x + 2 * d + 1, y), no_pixel) << d;  // one pixel wide
    }
    for (int d : c.no_lines) EXPECT_EQ(img.at(l.map_x + 2 * d, y), no_pixel) << d;
  }
}

// --- the colour bar's numbers, from the library ---------------------------------------------

struct LabelCase {
  const char* name;
  double lo, hi;
  std::string labels;
};

void PrintTo(const LabelCase& c, std::ostream* os) { *os << c.name; }

class TickLabels : public ::testing::TestWithParam<LabelCase> {};

TEST_P(TickLabels, NiceStepsAndLabels) {
  const LabelCase& c = GetParam();
  const maps::Ticks t = maps::nice_ticks({c.lo, c.hi});
  std::string joined;
  for (const std::string& s : t.labels) joined += (joined.empty() ? "" : " ") + s;
  EXPECT_EQ(joined, c.labels);
}

const LabelCase label_cases[] = {
    {"hundred", 0, 100, "0 20 40 60 80 100"},
    {"offset_range", 3, 97, "20 40 60 80"},
    {"negative", -7.5, -2.5, "-7 -6 -5 -4 -3"},
    {"millions", -1e7, 1e7, "-1e+07 -5e+06 0 5e+06 1e+07"},
    {"fine", 0.5, 0.51, "0.500 0.502 0.504 0.506 0.508 0.510"},
    {"tiny", 1e-6, 2e-6, "1e-06 1.2e-06 1.4e-06 1.6e-06 1.8e-06 2e-06"},
    {"percent", 85.6321, 114.368, "90 100 110"},
    {"fifths", -0.5, 0.5, "-0.4 -0.2 0.0 0.2 0.4"},
    {"quarter", 0, 1.1, "0.00 0.25 0.50 0.75 1.00"},
};

INSTANTIATE_TEST_SUITE_P(Labels, TickLabels, ::testing::ValuesIn(label_cases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(TickLabel, NegativeZeroIsZero) { EXPECT_EQ(maps::tick_label(-0.0, 0.5), "0.0"); }

struct PercentileCase {
  const char* name;
  std::vector<float> sorted;
  double p, expected;
};

void PrintTo(const PercentileCase& c, std::ostream* os) { *os << c.name; }

class Percentiles : public ::testing::TestWithParam<PercentileCase> {};

TEST_P(Percentiles, InterpolateLikeRType7) {
  const PercentileCase& c = GetParam();
  EXPECT_EQ(maps::percentile(c.sorted, c.p), c.expected);
}

// R: quantile(c(1, 2, 3, 4), c(0, 0.5, 1, 0.02)) = 1, 2.5, 4, 1.06
const PercentileCase percentile_cases[] = {
    {"lowest", {1, 2, 3, 4}, 0, 1},    {"median_between", {1, 2, 3, 4}, 50, 2.5},
    {"highest", {1, 2, 3, 4}, 100, 4}, {"two_percent", {1, 2, 3, 4}, 2, 1 + 3 * 0.02},
    {"one_value", {7}, 98, 7},
};

INSTANTIATE_TEST_SUITE_P(Range, Percentiles, ::testing::ValuesIn(percentile_cases),
                         [](const auto& p) { return std::string(p.param.name); });

// --- errors -----------------------------------------------------------------------------------

struct ErrorCase {
  const char* name;
  std::vector<std::string> args;  // after RAW; "@" becomes the temp folder
  int status;
  std::string message;  // a part of stderr
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class MapErrors : public MapFiles, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(MapErrors, ClearMessageAndStatus) {
  const ErrorCase& c = GetParam();
  e2e::write_floats(raw, {1, 2, 3, 4, 5, 6});
  std::vector<std::string> args{raw};
  for (std::string a : c.args) {
    if (a.find('@') != std::string::npos) a.replace(a.find('@'), 1, dir.path());
    args.push_back(a);
  }
  const std::string before = e2e::read_bytes(raw);
  const e2e::Result r = e2e::run(tool, args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_EQ(r.err.rfind("rastertools-map: error: ", 0), 0u) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(e2e::read_bytes(raw), before);
  EXPECT_FALSE(e2e::exists(png));
}

const ErrorCase error_cases[] = {
    {"no_output", {"--grid", "@/grid.bin"}, 2, "--out is required"},
    {"no_grid", {"-o", "@/m.png"}, 2, "no grid for"},
    {"missing_grid", {"--grid", "@/nogrid.bin", "-o", "@/m.png"}, 1, "nogrid.bin"},
    {"band_past_end",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--band", "2"},
     2,
     "reaches past the last band"},
    {"negative_band",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--band", "-1"},
     2,
     "--band -1 is out of range: give a whole number from 0 to"},
    {"band_and_bands",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--band", "0", "--bands", "0-1"},
     2,
     "either --band or --bands"},
    {"bands_without_number",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--bands", "0-1"},
     2,
     "must hold one band number conversion"},
    {"bands_two_numbers",
     {"--grid", "@/grid.bin", "-o", "@/m%d_%d.png", "--bands", "0-1"},
     2,
     "must hold one band number conversion"},
    {"bands_stray_percent",
     {"--grid", "@/grid.bin", "-o", "@/m%d%s.png", "--bands", "0-1"},
     2,
     "must hold one band number conversion"},
    {"bands_bad_text",
     {"--grid", "@/grid.bin", "-o", "@/m%d.png", "--bands", "1-0"},
     2,
     "the first band comes after the last"},
    {"range_reversed",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--range", "5", "1"},
     2,
     "--range 5 1: MIN must be below MAX"},
    {"range_one_number", {"--grid", "@/grid.bin", "-o", "@/m.png", "--range", "5"}, 2, "--range"},
    {"range_not_a_number",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--range", "a", "1"},
     2,
     "--range"},
    {"percentiles_bad",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--percentiles", "50", "10"},
     2,
     "--percentiles 50 10"},
    {"unknown_cmap",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--cmap", "jet"},
     2,
     "unknown colour map 'jet': choose one of viridis, cividis"},
    {"extent_off_globe",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--extent", "0", "200", "0", "10"},
     2,
     "--extent 0 200 0 10 lies off the globe"},
    {"extent_reversed",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--extent", "10", "0", "0", "10"},
     2,
     "need W < E and S < N"},
    {"extent_no_cell",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--extent", "0.1", "0.2", "0", "10"},
     2,
     "holds no cell centre"},
    {"res_not_a_fraction",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--res", "1/0"},
     2,
     "bad resolution '1/0'"},
    {"graticule_not_a_step",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--graticule=x"},
     2,
     "--graticule=x: give a step in degrees"},
    {"graticule_too_dense",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--graticule=1/2", "--scale", "1"},
     2,
     "--graticule=0.5 puts lines 0.25 pixels apart: give a step of at least 8 degrees"},
    {"common_range_without_bands",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--common-range"},
     2,
     "--common-range needs --bands A-B"},
    {"common_range_and_range",
     {"--grid", "@/grid.bin", "-o", "@/m%d.png", "--bands", "0-1", "--common-range", "--range", "0",
      "1"},
     2,
     "either --common-range or --range"},
    {"scale_too_large",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--scale", "65"},
     2,
     "--scale 65 is out of range: give a whole number from 1 to 64"},
    {"output_is_input", {"--grid", "@/grid.bin", "-o", "@/v.bin"}, 2, "refusing to overwrite"},
    {"output_is_grid", {"--grid", "@/grid.bin", "-o", "@/grid.bin"}, 2, "refusing to overwrite"},
    {"output_folder_missing", {"--grid", "@/grid.bin", "-o", "@/no/m.png"}, 1, "does not exist"},
    {"npixel_disagrees",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--npixel", "2"},
     1,
     "does not match grid file"},
    {"bad_convention",
     {"--grid", "@/grid.bin", "-o", "@/m.png", "--convention", "south"},
     2,
     "south"},
    {"unknown_option", {"--grid", "@/grid.bin", "-o", "@/m.png", "--colour", "x"}, 2, "--colour"},
};

INSTANTIATE_TEST_SUITE_P(Errors, MapErrors, ::testing::ValuesIn(error_cases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(MapFiles, MissingInputIsNamed) {
  const e2e::Result r = e2e::run(tool, {dir.file("none.bin"), "--grid", grid, "-o", png});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("none.bin"), std::string::npos) << r.err;
  EXPECT_FALSE(e2e::exists(png));
}

TEST_F(MapFiles, FailedRunLeavesNoFileAndKeepsTheOldMap) {
  e2e::write_floats(raw, {1, 2, 3});
  e2e::write_bytes(png, "old map");
  const e2e::Result r = e2e::run(tool, {raw, "--grid", grid, "-o", png, "--band", "1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(e2e::read_bytes(png), "old map");
  const e2e::Result ok = e2e::run(tool, {raw, "--grid", grid, "-o", png});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(e2e::read_bytes(png).substr(1, 3), "PNG");
  // only the map: no temporary file left beside it
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    files += e.is_regular_file();
  EXPECT_EQ(files, 3);
}

#ifdef RLIB_LIBRARY
// --- the same cells and range as the R package with terra ---------------------------------

// Band 0: 0, 255 or NaN by pixel number; band 1: spread values for the percentiles.
float peer_value(int64_t band, int64_t p) {
  if (band == 0) return p % 7 == 0 ? NAN : p % 2 == 0 ? 0.0f : 255.0f;
  return static_cast<float>((p * 7919) % 1000) / 8.0f;
}

// R, once for both grids (loading terra takes seconds): every pixel's row and column from
// as_spatraster, and the 2-98 % quantiles (type 7) of band 1, as "<convention> ..." lines.
class MapLikeTerra : public MapFiles, public ::testing::WithParamInterface<const char*> {
 protected:
  static void SetUpTestSuite() {
    std::string code =
        "suppressMessages(library(brindle, lib.loc = '" RLIB_LIBRARY
        "'));"
        "if (!requireNamespace('terra', quietly = TRUE)) { cat('no terra'); quit() };"
        "for (conv in c('centre', 'northedge')) {"
        "  g <- read_grid(sprintf('%s/grid_2deg_%s.bin', '" +
        e2e::data_path("") +
        "', conv));"
        "  p <- seq_len(nrow(g)) - 1;"
        "  r <- as_spatraster(p, g); v <- terra::values(r)[, 1];"
        "  cells <- which(!is.na(v)); rc <- terra::rowColFromCell(r, cells);"
        "  cat(sprintf('%s %d %d %d', conv, v[cells], rc[, 1] - 1L, rc[, 2] - 1L), sep = '\\n');"
        "  q <- quantile(((p * 7919) %% 1000) / 8, c(0.02, 0.98), type = 7);"
        "  cat(sprintf('%s range %.6g .. %.6g\\n', conv, q[1], q[2]))"
        "}";
    r_result = new e2e::Result(e2e::run(RSCRIPT, {"-e", code}));
  }
  static void TearDownTestSuite() {
    delete r_result;
    r_result = nullptr;
  }
  static e2e::Result* r_result;
};
e2e::Result* MapLikeTerra::r_result = nullptr;

TEST_P(MapLikeTerra, SameCellsAndRange) {
  ASSERT_EQ(r_result->status, 0) << r_result->err;
  if (r_result->out == "no terra") GTEST_SKIP() << "R package terra not installed";
  const std::string conv = GetParam();
  const std::string g = e2e::data_path("grid_2deg_" + conv + ".bin");
  const int64_t n = e2e::file_size(g) / 4;
  std::vector<float> v(static_cast<size_t>(2 * n));
  for (int64_t p = 0; p < n; ++p) {
    v[static_cast<size_t>(p)] = peer_value(0, p);
    v[static_cast<size_t>(n + p)] = peer_value(1, p);
  }
  e2e::write_floats(raw, v);

  const e2e::Result m = e2e::run(tool, {raw, "--grid", g, "-o", png, "--range", "0", "255",
                                        "--scale", "1", "--extent", "-180", "180", "-90", "90"});
  ASSERT_EQ(m.status, 0) << m.err;
  const Image img = read_png(png);
  const maps::Layout l = global_layout(1);
  std::istringstream in(r_result->out);
  int64_t placed = 0;
  std::string range;
  for (std::string line; std::getline(in, line);) {
    std::istringstream ls(line);
    std::string c;
    int64_t p = 0, row = 0, col = 0;
    if (!(ls >> c) || c != conv) continue;
    if (line.find(" range ") != std::string::npos) {
      range = line.substr(c.size() + 1);
      continue;
    }
    ls >> p >> row >> col;
    ++placed;
    const Rgb want = p % 7 == 0 ? black : p % 2 == 0 ? viridis_0 : viridis_255;
    const Rgb got = cell_colour(img, l, 1, {static_cast<int>(row), static_cast<int>(col)});
    ASSERT_EQ(got, want) << "pixel " << p << " in row " << row << ", column " << col;
  }
  EXPECT_EQ(placed, n);

  const e2e::Result b = e2e::run(tool, {raw, "--grid", g, "-o", png, "--band", "1"});
  ASSERT_EQ(b.status, 0) << b.err;
  ASSERT_FALSE(range.empty()) << r_result->out.substr(0, 200);
  EXPECT_NE(b.out.find(range + " (percentiles 2-98)"), std::string::npos)
      << b.out << " R: " << range;
}

INSTANTIATE_TEST_SUITE_P(Peer, MapLikeTerra, ::testing::Values("centre", "northedge"),
                         [](const auto& p) { return std::string(p.param); });
#endif

TEST(MapHelp, HelpHasAnExampleAndVersion) {
  const e2e::Result h = e2e::run(tool, {"--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("Example:\n  rastertools map "), std::string::npos) << h.out;
  EXPECT_NE(h.out.find("rdbu: diverging"), std::string::npos);
  const e2e::Result v = e2e::run(tool, {"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("rastertools ", 0), 0u) << v.out;
}

}  // namespace
