// End-to-end runs of rastertools info: sizes and leftover bytes, statistics with fill values,
// NaN and infinities, both grid conventions, agreement of file and grid, the CSV rows and their
// area-weighted mean (checked against cdo's fldmean of the exported file), and the failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "fixtures.h"

namespace {

using fixtures::GridCase;

const char* const kTool = "rastertools-info";

std::string at_dir(std::string s, const std::string& dir) {
  for (size_t i = s.find('@'); i != std::string::npos; i = s.find('@', i + dir.size()))
    s.replace(i, 1, dir);
  return s;
}

// Band 0: 2.5 everywhere but NaN, +inf, -inf, 1e20 and -9999 at pixels 0-4; band 1: 4.
std::vector<float> two_bands(int64_t npixel) {
  std::vector<float> v(static_cast<size_t>(2 * npixel), 2.5f);
  v[0] = std::numeric_limits<float>::quiet_NaN();
  v[1] = std::numeric_limits<float>::infinity();
  v[2] = -std::numeric_limits<float>::infinity();
  v[3] = 1e20f;
  v[4] = -9999.0f;
  for (int64_t p = 0; p < npixel; ++p) v[static_cast<size_t>(npixel + p)] = 4.0f;
  return v;
}

TEST(Info, DescribesFileGridAndBands) {
  e2e::TempDir dir;
  e2e::write_floats(dir.file("x.bin"), two_bands(3862));
  const std::string grid = e2e::data_path("grid_2deg_northedge.bin");
  const e2e::Result r = e2e::run(
      kTool, {dir.file("x.bin"), "--grid", grid, "--bands-per-year", "1", "--first-year", "2000"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(
      r.out,
      at_dir("File:      @/x.bin: 30896 bytes = 2 band(s) of 3862 pixels + 0 bytes left over\n"
             "Years:     2 whole year(s) of 1 band(s), 2000-2001\n",
             dir.path()) +
          "Grid:      " + grid +
          ": 3862 pixels\n"
          "  lon -179.00 .. 179.00, lat -52.00 .. 84.00\n"
          "  2 degree grid (180 x 90 cells, inferred), northedge latitudes (inferred)\n"
          "  0 pixels share a cell with an earlier one, 0 off the globe\n"
          "Agreement: yes: 3862 pixels a band, as the grid holds\n"
          "  band date                  min          max         mean    area_mean    NaN    "
          "Inf   1e20  -9999\n"
          "     0 2000                  2.5          2.5          2.5          2.5      1      "
          "2      1      1\n"
          "     1 2001                    4            4            4            4      0      "
          "0      0      0\n");
}

TEST(Info, CsvRowsWithoutGridLeaveAreaMeanEmpty) {
  e2e::TempDir dir;
  e2e::write_floats(dir.file("x.bin"), two_bands(10));
  const e2e::Result r = e2e::run(kTool, {dir.file("x.bin"), "--npixel", "10", "--csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "band,year,band_of_year,min,max,mean,area_mean,nan,inf,fill\n"
            "0,,,2.5,2.5,2.5,,1,2,2\n"
            "1,,,4,4,4,,0,0,0\n");
}

TEST(Info, CsvYearsAndBandsOfTheYear) {
  e2e::TempDir dir;
  std::vector<float> v(5 * 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i);
  e2e::write_floats(dir.file("x.bin"), v);
  const e2e::Result r = e2e::run(kTool, {dir.file("x.bin"), "--npixel", "2", "--csv",
                                         "--bands-per-year", "2", "--bands", "1-4"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "band,year,band_of_year,min,max,mean,area_mean,nan,inf,fill\n"
            "1,0,1,2,3,2.5,,0,0,0\n"
            "2,1,0,4,5,4.5,,0,0,0\n"
            "3,1,1,6,7,6.5,,0,0,0\n"
            "4,2,0,8,9,8.5,,0,0,0\n");
  const e2e::Result y =
      e2e::run(kTool, {dir.file("x.bin"), "--npixel", "2", "--csv", "--bands-per-year", "2",
                       "--first-year", "1971", "--bands", "4"});
  EXPECT_EQ(y.out,
            "band,year,band_of_year,min,max,mean,area_mean,nan,inf,fill\n"
            "4,1973,0,8,9,8.5,,0,0,0\n");
}

// ---- sizes that are not whole bands -------------------------------------------------------

struct SizeCase {
  const char* name;
  int64_t bytes;  // of a file with npixel 10
  const char* file_line;
  const char* warning;
};

class InfoSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(InfoSizes, WholeBandsAndLeftover) {
  const SizeCase& c = GetParam();
  e2e::TempDir dir;
  e2e::write_bytes(dir.file("x.bin"), std::string(static_cast<size_t>(c.bytes), '\0'));
  const e2e::Result r = e2e::run(kTool, {dir.file("x.bin"), "--npixel", "10"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), at_dir(c.file_line, dir.path()));
  EXPECT_EQ(r.err, at_dir(c.warning, dir.path()));
}

const SizeCase kSizes[] = {
    {"whole", 80, "File:      @/x.bin: 80 bytes = 2 band(s) of 10 pixels + 0 bytes left over\n",
     ""},
    {"three_bytes_over", 83,
     "File:      @/x.bin: 83 bytes = 2 band(s) of 10 pixels + 3 bytes left over\n",
     "rastertools-info: warning: @/x.bin: 83 bytes are not a whole number of bands of 10 pixels: "
     "3 bytes after band 1 are left over\n"},
    {"less_than_a_band", 39,
     "File:      @/x.bin: 39 bytes = 0 band(s) of 10 pixels + 39 bytes left over\n",
     "rastertools-info: warning: @/x.bin: its 39 bytes make no whole band of 10 pixels\n"},
    {"empty", 0, "File:      @/x.bin: 0 bytes = 0 band(s) of 10 pixels + 0 bytes left over\n", ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, InfoSizes, testing::ValuesIn(kSizes), fixtures::CaseName{});

// ---- grids ----------------------------------------------------------------------------------

struct GridInfoCase {
  const char* name;
  const char* file;
  const char* ranges;
  const char* fits;
};

class InfoGrid : public testing::TestWithParam<GridInfoCase> {};

TEST_P(InfoGrid, ExtentResolutionAndConvention) {
  const GridInfoCase& c = GetParam();
  const std::string grid = e2e::data_path(c.file);
  const e2e::Result r = e2e::run(kTool, {"--grid", grid});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string n = std::to_string(e2e::file_size(grid) / 4);
  EXPECT_EQ(r.out, "Grid:      " + grid + ": " + n + " pixels\n" + c.ranges + c.fits +
                       "  0 pixels share a cell with an earlier one, 0 off the globe\n");
}

// Ranges as data/README.md lists them.
const GridInfoCase kGridInfo[] = {
    {"half_centre", "grid_0.5deg_centre.bin", "  lon -179.75 .. 179.75, lat -55.25 .. 83.25\n",
     "  0.5 degree grid (720 x 360 cells, inferred), centre latitudes (inferred)\n"},
    {"half_northedge", "grid_0.5deg_northedge.bin",
     "  lon -179.75 .. 179.75, lat -55.00 .. 83.50\n",
     "  0.5 degree grid (720 x 360 cells, inferred), northedge latitudes (inferred)\n"},
    {"two_centre", "grid_2deg_centre.bin", "  lon -179.00 .. 179.00, lat -53.00 .. 83.00\n",
     "  2 degree grid (180 x 90 cells, inferred), centre latitudes (inferred)\n"},
    {"two_northedge", "grid_2deg_northedge.bin", "  lon -179.00 .. 179.00, lat -52.00 .. 84.00\n",
     "  2 degree grid (180 x 90 cells, inferred), northedge latitudes (inferred)\n"},
};

INSTANTIATE_TEST_SUITE_P(Bundled, InfoGrid, testing::ValuesIn(kGridInfo), fixtures::CaseName{});

std::string records(const std::vector<std::pair<int16_t, int16_t>>& r) {
  std::string s;
  for (const auto& [lon, lat] : r) {
    s.append(reinterpret_cast<const char*>(&lon), 2);
    s.append(reinterpret_cast<const char*>(&lat), 2);
  }
  return s;
}

struct OddGridCase {
  const char* name;
  std::vector<std::pair<int16_t, int16_t>> records;
  std::vector<std::string> extra_args;
  const char* out_tail;  // the output after the ranges line
  const char* err;
};

class InfoOddGrid : public testing::TestWithParam<OddGridCase> {};

TEST_P(InfoOddGrid, IsDescribedNotRefused) {
  const OddGridCase& c = GetParam();
  e2e::TempDir dir;
  e2e::write_bytes(dir.file("g.bin"), records(c.records));
  std::vector<std::string> args = {"--grid", dir.file("g.bin")};
  args.insert(args.end(), c.extra_args.begin(), c.extra_args.end());
  const e2e::Result r = e2e::run(kTool, args);
  EXPECT_EQ(r.status, 0);
  const size_t second_line = r.out.find('\n', r.out.find('\n') + 1);
  EXPECT_EQ(r.out.substr(second_line + 1), c.out_tail);
  EXPECT_EQ(r.err, at_dir(c.err, dir.path()));
}

const OddGridCase kOddGrids[] = {
    {"shared_cell_and_off_globe",
     {{-17900, 8300}, {-17900, 8300}, {100, -9100}, {100, 100}},
     {"--res", "2", "--convention", "centre"},
     "  2 degree grid (180 x 90 cells, given), centre latitudes (given)\n"
     "  1 pixels share a cell with an earlier one, 1 off the globe\n",
     "rastertools-info: warning: grid file @/g.bin: pixel 1 shares a cell with pixel 0\n"
     "rastertools-info: warning: grid file @/g.bin: pixel 2 lies off the globe\n"},
    {"no_resolution",
     {{-17901, 8300}},
     {},
     "  fits no resolution of 2, 1, 0.5, 0.25, 1/6, 1/12 degrees\n",
     ""},
    {"mixed_conventions",
     {{-17975, 8975}, {-17925, 8950}},
     {},
     "  0.5 degree grid (720 x 360 cells, inferred), latitudes fit neither convention (pixel 1 at "
     "lat 89.50)\n",
     ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, InfoOddGrid, testing::ValuesIn(kOddGrids), fixtures::CaseName{});

// ---- agreement and the sidecar -----------------------------------------------------------------

TEST(InfoAgreement, NpixelThatIsNotTheGridsIsReportedAndFails) {
  e2e::TempDir dir;
  e2e::write_floats(dir.file("x.bin"), std::vector<float>(3861, 1.0f));
  const std::string grid = e2e::data_path("grid_2deg_centre.bin");
  const e2e::Result r = e2e::run(kTool, {dir.file("x.bin"), "--grid", grid, "--npixel", "3861"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Agreement: NO: npixel 3861 is not the grid's 3862 pixels\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, "rastertools-info: error: " + dir.file("x.bin") +
                       " does not agree with its grid: npixel 3861 is not the grid's 3862 "
                       "pixels\n");
}

TEST(InfoAgreement, SidecarGivesDefaultsAndIsCheckedAgainstTheFile) {
  e2e::TempDir dir;
  e2e::write_floats(dir.file("x.bin"), two_bands(3862));
  e2e::write_bytes(dir.file("grid.bin"), e2e::read_bytes(e2e::data_path("grid_2deg_centre.bin")));
  e2e::write_bytes(dir.file("x.hdr"),
                   "ENVI\nsamples = 3862\nlines = 1\nbands = 3\nrastertools grid file = grid.bin\n"
                   "rastertools bands per year = 2\n");
  const e2e::Result r = e2e::run(kTool, {dir.file("x.bin"), "--bands", "1"});
  // The description is whole; the disagreement sets the status.
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, at_dir("rastertools-info: error: @/x.bin does not agree with its grid: the "
                          "sidecar says 3 bands, the file holds 2\n",
                          dir.path()));
  EXPECT_EQ(r.out,
            at_dir("File:      @/x.bin: 30896 bytes = 2 band(s) of 3862 pixels + 0 bytes "
                   "left over\n"
                   "Sidecar:   @/x.hdr\n"
                   "Years:     1 whole year(s) of 2 band(s)\n"
                   "Grid:      @/grid.bin: 3862 pixels\n"
                   "  lon -179.00 .. 179.00, lat -53.00 .. 83.00\n"
                   "  2 degree grid (180 x 90 cells, inferred), centre latitudes (inferred)\n"
                   "  0 pixels share a cell with an earlier one, 0 off the globe\n"
                   "Agreement: NO: the sidecar says 3 bands, the file holds 2\n"
                   "  band year/band             min          max         mean    area_mean  "
                   "  NaN    Inf   1e20  -9999\n"
                   "     1 y0 b1                   4            4            4            4 "
                   "     0      0      0      0\n",
                   dir.path()));
}

// ---- the area-weighted mean ------------------------------------------------------------------

// A smooth field without special values, one band.
std::vector<float> smooth_band(int64_t npixel, int seed) {
  std::vector<float> v(static_cast<size_t>(npixel));
  for (int64_t p = 0; p < npixel; ++p)
    v[static_cast<size_t>(p)] =
        static_cast<float>(250.0 + 40.0 * std::sin(0.0013 * static_cast<double>(p * seed)) +
                           10.0 * std::cos(0.017 * static_cast<double>(p)));
  return v;
}

double csv_area_mean(const std::string& out, int row) {
  std::istringstream in(out);
  std::string line;
  for (int i = 0; i <= row; ++i) std::getline(in, line);
  std::getline(in, line);
  std::vector<std::string> f;
  std::string cell;
  std::istringstream ls(line);
  while (std::getline(ls, cell, ',')) f.push_back(cell);
  return std::strtod(f.at(6).c_str(), nullptr);
}

class AreaMean : public testing::TestWithParam<GridCase> {};

std::string grid_case_name(const testing::TestParamInfo<GridCase>& p) {
  std::string n = p.param.file;
  for (char& ch : n)
    if (ch == '.') ch = '_';
  return n.substr(0, n.size() - 4);
}

// Central latitude of the row the suite's statistics put a record of latitude lat100 into: its
// own cell's row for a northern edge, the row south of its cell for a cell centre.
double suite_row_latitude(const GridCase& g, int lat100) {
  return (lat100 - (g.northedge ? g.res100 / 2 : g.res100)) / 100.0;
}

// The suite's weighting: each pixel by the cosine of its row's central latitude, the row being
// the pixel's own for northern-edge latitudes and the one south of it for centre latitudes.
TEST_P(AreaMean, IsTheCosineWeightedMeanOfTheSuite) {
  const GridCase& g = GetParam();
  e2e::TempDir dir;
  const auto v = smooth_band(g.npixel, 7);
  e2e::write_floats(dir.file("x.bin"), v);
  const e2e::Result r =
      e2e::run(kTool, {dir.file("x.bin"), "--grid", e2e::data_path(g.file), "--csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rec = fixtures::grid_records(e2e::data_path(g.file));
  const double pi = std::acos(-1.0);
  double ws = 0;
  double s = 0;
  for (size_t i = 0; i < rec.size(); ++i) {
    const double lat_c = suite_row_latitude(g, rec[i].second);
    const double w = std::cos(lat_c / 180.0 * pi);
    ws += w;
    s += w * static_cast<double>(v[i]);
  }
  // Sums in another order and cosines from the C library: agreement to about 1e-13 relative.
  EXPECT_NEAR(csv_area_mean(r.out, 0), s / ws, 1e-12 * s / ws);
}

INSTANTIATE_TEST_SUITE_P(Bundled, AreaMean, testing::ValuesIn(fixtures::bundled_grids()),
                         grid_case_name);

// cdo's fldmean of the exported band weights each cell by its area as cdo computes it; the
// suite weights by the cosine of the row's latitude (one row south for centre latitudes). With
// q_i = cdo's area of pixel i's cell / the suite's weight of pixel i, and q between qmin and
// qmax, the two means differ by at most eps / (1 - eps) * max_i |v_i - m| with
// eps = (qmax - qmin) / (qmax + qmin) (the weights are c * w_i * (1 + d_i), |d_i| <= eps, and
// the weighted deviations from m sum to 0), plus half a unit in the last place of the float32
// that cdo stores the mean in. eps is measured from cdo's own gridarea, so the bound is cdo's.
class AreaMeanAgainstCdo : public testing::TestWithParam<GridCase> {};

TEST_P(AreaMeanAgainstCdo, AgreesWithFldmeanWithinTheWeightDifference) {
  const GridCase& g = GetParam();
  e2e::TempDir dir;
  const auto v = smooth_band(g.npixel, 3);
  e2e::write_floats(dir.file("x.bin"), v);
  const e2e::Result info =
      e2e::run(kTool, {dir.file("x.bin"), "--grid", e2e::data_path(g.file), "--csv"});
  ASSERT_EQ(info.status, 0) << info.err;
  const double m = csv_area_mean(info.out, 0);
  const e2e::Result ex = e2e::run("rastertools-export", {dir.file("x.bin"), "-o", dir.file("x.nc"),
                                                         "--grid", e2e::data_path(g.file)});
  ASSERT_EQ(ex.status, 0) << ex.err;
  const auto mean =
      fixtures::peer("cdo -s outputf,%.12g -fldmean " + fixtures::quoted(dir.file("x.nc")));
  ASSERT_EQ(mean.status, 0) << mean.err;
  const double cdo_mean = std::strtod(mean.out.c_str(), nullptr);
  const auto area =
      fixtures::peer("cdo -s outputf,%.17g,1 -gridarea " + fixtures::quoted(dir.file("x.nc")));
  ASSERT_EQ(area.status, 0) << area.err;
  std::vector<double> cell_area;
  std::istringstream in(area.out);
  for (double a = 0; in >> a;) cell_area.push_back(a);
  ASSERT_EQ(static_cast<int64_t>(cell_area.size()), nlat(g) * nlon(g));

  const auto cells = fixtures::expected_cells(g);
  const auto rec = fixtures::grid_records(e2e::data_path(g.file));
  const double pi = std::acos(-1.0);
  double qmin = 1e300, qmax = 0, dev = 0;
  for (size_t i = 0; i < cells.size(); ++i) {
    const double lat_c = suite_row_latitude(g, rec[i].second);
    const double q = cell_area[static_cast<size_t>(cells[i])] / std::cos(lat_c / 180.0 * pi);
    qmin = std::min(qmin, q);
    qmax = std::max(qmax, q);
    dev = std::max(dev, std::fabs(static_cast<double>(v[i]) - m));
  }
  const double eps = (qmax - qmin) / (qmax + qmin);
  const double tolerance = eps / (1 - eps) * dev + std::fabs(m) * 0x1p-24;
  EXPECT_NEAR(cdo_mean, m, tolerance) << "eps " << eps << " max deviation " << dev;
  RecordProperty("tolerance", std::to_string(tolerance));
}

// The 2 degree grids, both conventions (the 0.5 degree ones only take longer).
INSTANTIATE_TEST_SUITE_P(TwoDegree, AreaMeanAgainstCdo,
                         testing::Values(fixtures::bundled_grids()[0],
                                         fixtures::bundled_grids()[1]),
                         grid_case_name);

// ---- failures ---------------------------------------------------------------------------------

struct FailCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string err;
};

class InfoFails : public testing::TestWithParam<FailCase> {};

TEST_P(InfoFails, WithItsMessageAndStatus) {
  const FailCase& c = GetParam();
  e2e::TempDir dir;
  e2e::write_floats(dir.file("x.bin"), std::vector<float>(20, 1.0f));
  e2e::write_bytes(dir.file("odd.bin"), "abc");
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(at_dir(a, dir.path()));
  const e2e::Result r = e2e::run(kTool, args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.err, at_dir(c.err, dir.path()));
  EXPECT_EQ(r.out, "");
}

const std::string kRunHelp = "run 'rastertools info --help' for usage\n";
const FailCase kFails[] = {
    {"nothing_to_describe",
     {},
     2,
     "rastertools-info: error: give a raw raster FILE, or --grid GRID to describe a grid\n" +
         kRunHelp},
    {"no_npixel",
     {"@/x.bin"},
     2,
     "rastertools-info: error: no pixel count for @/x.bin: give --npixel N or --grid GRID\n" +
         kRunHelp},
    {"missing_file",
     {"@/none.bin", "--npixel", "5"},
     1,
     "rastertools-info: error: cannot open @/none.bin: No such file or directory\n"},
    {"missing_grid",
     {"@/x.bin", "--grid", "@/none.bin"},
     1,
     "rastertools-info: error: cannot open grid file @/none.bin: No such file or directory\n"},
    {"grid_of_odd_size",
     {"--grid", "@/odd.bin"},
     1,
     "rastertools-info: error: grid file @/odd.bin has 3 bytes, not a whole number of 4-byte "
     "records\n"},
    {"bad_band_range",
     {"@/x.bin", "--npixel", "5", "--bands", "3-1"},
     2,
     "rastertools-info: error: bad band range '3-1': the first band comes after the last\n" +
         kRunHelp},
    {"band_past_the_end",
     {"@/x.bin", "--npixel", "5", "--bands", "4"},
     2,
     "rastertools-info: error: band range 4-4 reaches past the last band of @/x.bin (it holds "
     "bands 0-3)\n" +
         kRunHelp},
    {"npixel_zero",
     {"@/x.bin", "--npixel", "0"},
     2,
     "rastertools-info: error: --npixel 0 is out of range: give a whole number from 1 to "
     "2305843009213693951\n" +
         kRunHelp},
    {"bad_convention",
     {"@/x.bin", "--npixel", "5", "--convention", "edge"},
     2,
     "rastertools-info: error: unknown grid convention 'edge': give centre or northedge\n" +
         kRunHelp},
    {"unknown_option",
     {"@/x.bin", "--pixels", "5"},
     2,
     "rastertools-info: error: The following arguments were not expected: 5 --pixels\n" + kRunHelp},
};

INSTANTIATE_TEST_SUITE_P(Cases, InfoFails, testing::ValuesIn(kFails), fixtures::CaseName{});

TEST(InfoCommandLine, HelpHasAnExample) {
  const e2e::Result h = e2e::run(kTool, {"--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("Example:\n  rastertools info tas.bin --grid grid.bin"), std::string::npos)
      << h.out;
  const e2e::Result v = e2e::run(kTool, {"--version"});
  EXPECT_EQ(v.out, "rastertools 0.2.0\n");
}

}  // namespace
