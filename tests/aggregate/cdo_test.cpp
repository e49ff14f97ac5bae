// yearly and fldstat end to end on NetCDF files made by cdo and imported with rastertools
// import: the results against cdo's yearsum, seasmean, fldsum x gridarea and zonmean on the same
// files; regions from a GeoJSON file and from a raster of ids against sums worked out here from
// the cell centres; fractions; the same bytes for every thread count; NaN messages; refusals.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "fixtures.h"

namespace {

using fixtures::quoted;

// Land where sin(0.07 lon + 0.05 lat) > 0.3 (the rest missing, so not imported), values that
// change with place and month; monthly steps from January 1971.
std::string make_nc(const std::string& grid, int steps, const std::string& out) {
  return "-f nc4 -setattribute,v@units='kg m-2 s-1' -setctomiss,-1 "
         "-settaxis,1971-01-16,12:00:00,1month "
         "-expr,'v=(sin(clon(v)*0.07+clat(v)*0.05)>0.3)?"
         "(50+clat(v)*0.3+0.37*ctimestep()+cos(clon(v)*0.1)*7):-1' -setname,v -duplicate," +
         std::to_string(steps) + " -const,1," + grid + " " + out;
}

std::string grid_text(int nlon, double res) {
  std::ostringstream s;
  s << "gridtype = lonlat\nxsize = " << nlon << "\nysize = " << nlon / 2
    << "\nxfirst = " << -180 + res / 2 << "\nxinc = " << res << "\nyfirst = " << 90 - res / 2
    << "\nyinc = " << -res << "\n";
  return s.str();
}

const char* const kRegions = R"({"type": "FeatureCollection", "features": [
 {"type": "Feature", "properties": {"name": "box"}, "geometry": {"type": "Polygon",
  "coordinates": [[[-10, 0], [10, 0], [10, 20], [-10, 20], [-10, 0]]]}},
 {"type": "Feature", "properties": {"name": "wrap"}, "geometry": {"type": "MultiPolygon",
  "coordinates": [[[[170, -30], [180, -30], [180, -10], [170, -10], [170, -30]]],
                  [[[-180, -30], [-165, -30], [-165, -10], [-180, -10], [-180, -30]]]]}}]})";

// A.nc: 5 degrees, 36 months (1971-1973); B.nc: 0.5 degrees, 2 months; both imported.
class Aggregate : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new e2e::TempDir;
    e2e::write_bytes(file("g5.txt"), grid_text(72, 5));
    e2e::write_bytes(file("g05.txt"), grid_text(720, 0.5));
    e2e::write_bytes(file("regions.geojson"), kRegions);
    cdo(make_nc("g5.txt", 36, "A.nc"));
    cdo(make_nc("g05.txt", 2, "B.nc"));
    for (const char* name : {"A", "B"}) {
      const e2e::Result r =
          e2e::run("rastertools-import",
                   {std::string(name) + ".nc", "-o", std::string(name) + ".bin"}, "", dir_->path());
      ASSERT_EQ(r.status, 0) << r.err;
    }
    write_band("half", std::vector<float>(npixel("B"), 0.5f));
    // The same fraction in NetCDF; region ids 1 north, 2 south, in NetCDF and on B's pixels.
    cdo("-f nc4 -setname,frac -const,0.5,g05.txt half.nc");
    cdo("-f nc4 -setname,id -expr,'id=(clat(v)>0)?1:2' -setname,v -const,1,g05.txt ids.nc");
    ASSERT_EQ(run("import", {"ids.nc", "-o", "ids_b.bin", "--grid", "B.grid.bin"}).status, 0);
    // Two pixels of 2000: pixel 0 has NaN in April.
    std::vector<float> v(24);
    for (size_t b = 0; b < 12; ++b) {
      v[2 * b] = static_cast<float>(b + 1);
      v[2 * b + 1] = 1;
    }
    v[2 * 3] = std::numeric_limits<float>::quiet_NaN();
    e2e::write_floats(file("nan.bin"), v);
    const int16_t grid[4] = {-17975, 8975, -17925, 8975};
    e2e::write_bytes(file("nan.grid"), std::string(reinterpret_cast<const char*>(grid), 8));
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string file(const std::string& name) { return dir_->file(name); }
  static size_t npixel(const std::string& name) {
    return static_cast<size_t>(e2e::file_size(file(name + ".grid.bin")) / 4);
  }
  // NAME.bin of one band on B's pixels, with a sidecar that names B's grid.
  static void write_band(const std::string& name, const std::vector<float>& v) {
    e2e::write_floats(file(name + ".bin"), v);
    e2e::write_bytes(file(name + ".hdr"),
                     "ENVI\nsamples = " + std::to_string(v.size()) +
                         "\nlines = 1\nbands = 1\nheader offset = 0\ndata type = 4\ninterleave "
                         "= bsq\nbyte order = 0\nrastertools grid file = B.grid.bin\n");
  }
  static e2e::Result run(const char* tool, const std::vector<std::string>& args) {
    return e2e::run(std::string("rastertools-") + tool, args, "", dir_->path());
  }
  // cdo's output (outputf: one number a line) as numbers.
  static std::vector<double> cdo(const std::string& args) {
    const fixtures::PeerResult r =
        fixtures::peer("cd " + quoted(dir_->path()) + " && cdo -s " + args);
    EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
    std::istringstream in(r.out);
    std::vector<double> v;
    for (double x = 0; in >> x;) v.push_back(x);
    return v;
  }

  static e2e::TempDir* dir_;
};

e2e::TempDir* Aggregate::dir_ = nullptr;

// The rows of a CSV text, split at commas (the tests' fields hold none).
std::vector<std::vector<std::string>> csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    rows.emplace_back();
    std::istringstream f(line);
    for (std::string cell; std::getline(f, cell, ',');) rows.back().push_back(cell);
  }
  return rows;
}

double num(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

TEST_F(Aggregate, YearlySumAndDjfMeanEqualCdo) {
  struct Case {
    std::vector<std::string> args;
    std::string cdo_ref;
    size_t nbands;
  };
  const Case cases[] = {
      {{"--stat", "sum"}, "-yearsum A.nc", 3},
      {{"--season", "DJF", "--stat", "mean"}, "-seltimestep,2/3 -seasmean -selseason,DJF A.nc", 2},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"A.bin", "-o", "y.nc"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const e2e::Result r = run("yearly", args);
    ASSERT_EQ(r.status, 0) << r.err;
    // Largest relative difference per band, over the cells.
    const std::vector<double> rel =
        cdo("outputf,%.9g,1 -fldmax -abs -div -sub y.nc " + c.cdo_ref + " " + c.cdo_ref);
    ASSERT_EQ(rel.size(), c.nbands) << c.cdo_ref;
    for (const double d : rel) EXPECT_LE(d, 1e-6) << c.cdo_ref;
  }
  // The seasons' time bounds (days since 1972-01-01) and cell method.
  int nc = -1, var = -1;
  ASSERT_EQ(nc_open(file("y.nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
  double bounds[4] = {};
  ASSERT_EQ(nc_inq_varid(nc, "time_bnds", &var), NC_NOERR);
  ASSERT_EQ(nc_get_var_double(nc, var, bounds), NC_NOERR);
  char units[64] = {}, method[64] = {};
  nc_inq_varid(nc, "time", &var);
  nc_get_att_text(nc, var, "units", units);
  nc_inq_varid(nc, "v", &var);
  nc_get_att_text(nc, var, "cell_methods", method);
  nc_close(nc);
  // December 1971 to February 1972 (a leap year), December 1972 to February 1973.
  EXPECT_EQ(std::vector<double>(bounds, bounds + 4), (std::vector<double>{-31, 60, 335, 425}));
  EXPECT_STREQ(units, "days since 1972-01-01");
  EXPECT_STREQ(method, "time: mean");
}

TEST_F(Aggregate, RawOutputIsTheNetcdfOutputAndTheSameForEveryThreadCount) {
  std::string first;
  for (const int threads : {1, 2, 3}) {
    const e2e::ScopedEnv env("OMP_NUM_THREADS", threads);
    const e2e::Result r = run("yearly", {"A.bin", "-o", "s.bin", "--season", "DJF", "--stat", "max",
                                         "--keep-incomplete"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "s.bin: 4 band(s), the DJF max of 1971 to 1974, " +
                         std::to_string(npixel("A")) + " pixels\n");
    const std::string bytes = e2e::read_bytes(file("s.bin"));
    if (first.empty()) first = bytes;
    EXPECT_EQ(bytes, first) << threads << " threads";
  }
  const std::string hdr = e2e::read_bytes(file("s.hdr"));
  for (const char* line :
       {"bands = 4\n", "rastertools grid file = s.grid.bin\n", "rastertools bands per year = 1\n",
        "rastertools first year = 1971\n", "rastertools units = kg m-2 s-1\n"})
    EXPECT_NE(hdr.find(line), std::string::npos) << line << " in\n" << hdr;
  EXPECT_EQ(e2e::read_bytes(file("s.grid.bin")), e2e::read_bytes(file("A.grid.bin")));
  // The complete seasons to raw and to NetCDF; the NetCDF file imported back onto the pixels.
  for (const char* out : {"c.bin", "c.nc"})
    ASSERT_EQ(run("yearly", {"A.bin", "-o", out, "--season", "DJF", "--stat", "max"}).status, 0);
  ASSERT_EQ(run("import", {"c.nc", "-o", "back.bin", "--grid", "A.grid.bin", "--res", "5"}).status,
            0);
  EXPECT_EQ(e2e::read_bytes(file("back.bin")), e2e::read_bytes(file("c.bin")));
  EXPECT_EQ(e2e::read_bytes(file("c.bin")), first.substr(first.size() / 4, first.size() / 2));
}

TEST_F(Aggregate, AreaSumEqualsCdoFldsumTimesGridarea) {
  const std::vector<double> want = cdo("outputf,%.17g,1 -fldsum -mul B.nc -gridarea B.nc");
  ASSERT_EQ(want.size(), 2u);
  std::string first;
  for (const int threads : {1, 3}) {
    const e2e::ScopedEnv env("OMP_NUM_THREADS", threads);
    const e2e::Result r = run("fldstat", {"B.bin", "--stat", "sum"});
    ASSERT_EQ(r.status, 0) << r.err;
    if (first.empty()) first = r.out;
    EXPECT_EQ(r.out, first) << threads << " threads";
  }
  const auto rows = csv(first);
  ASSERT_EQ(rows.size(), 3u);
  // Two months of 1971: steps 1 and 2 of a year of two bands.
  EXPECT_EQ(rows[0], (std::vector<std::string>{"year", "step", "zone", "value", "units", "area_m2",
                                               "pixels", "skipped"}));
  for (size_t b = 0; b < 2; ++b) {
    const auto& row = rows[b + 1];
    EXPECT_EQ(row[0] + "-" + row[1] + " " + row[2] + " " + row[4],
              "1971-" + std::to_string(b + 1) + " global kg m-2 s-1 m2");
    EXPECT_NEAR(num(row[3]) / want[b], 1, 2e-5);
    EXPECT_EQ(row[7], "0");
  }
  // --scale multiplies each value once, in double; --units names the result.
  const e2e::Result s =
      run("fldstat", {"B.bin", "--stat", "sum", "--scale", "1e-12", "--units", "Pg s-1"});
  const auto scaled = csv(s.out);
  ASSERT_EQ(scaled.size(), 3u) << s.err;
  EXPECT_EQ(num(scaled[1][3]), num(rows[1][3]) * 1e-12);
  EXPECT_EQ(scaled[1][4], "Pg s-1");
  // Monthly bands: year and month.
  const auto monthly = csv(run("fldstat", {"A.bin", "--stat", "max"}).out);
  ASSERT_EQ(monthly.size(), 37u);
  EXPECT_EQ(monthly[0][1] + " " + monthly[36][0] + "-" + monthly[36][1], "month 1973-12");
}

TEST_F(Aggregate, ZonalMeansAtTheGridsResolutionEqualCdoZonmean) {
  // cdo's rows north to south, all-ocean rows missing (they make no zone of ours).
  std::vector<double> want;
  for (const double v : cdo("outputf,%.17g,1 -zonmean B.nc"))
    if (std::abs(v) < 1e30) want.push_back(v);
  const e2e::Result r = run("fldstat", {"B.bin", "--zones", "lat:0.5", "-o", "z.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = csv(e2e::read_bytes(file("z.csv")));
  ASSERT_EQ(rows.size(), want.size() + 1);
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_NEAR(num(rows[i + 1][3]), want[i], 1e-6 * std::abs(want[i])) << rows[i + 1][2];
  EXPECT_EQ(rows[1][2], "89.5N-90.0N");
}

TEST_F(Aggregate, RegionsFromGeoJsonAndRegionIdsHoldTheCellsWhoseCentreIsInside) {
  const std::vector<float> v = e2e::read_floats(file("B.bin"));
  const std::string grid = e2e::read_bytes(file("B.grid.bin"));
  const size_t n = grid.size() / 4;
  // Sums and counts worked out from the cell centres (northedge records: centre 0.25 south).
  double sum[2][2] = {};
  int count[2] = {};
  std::vector<float> ids(n, std::numeric_limits<float>::quiet_NaN());
  for (size_t p = 0; p < n; ++p) {
    int16_t rec[2];
    std::memcpy(rec, grid.data() + 4 * p, 4);
    const double lon = rec[0] / 100.0, lat = rec[1] / 100.0 - 0.25;
    const bool box = lon > -10 && lon < 10 && lat > 0 && lat < 20;
    const bool wrap = (lon > 170 || lon < -165) && lat > -30 && lat < -10;
    if (!box && !wrap) continue;
    const int z = box ? 0 : 1;
    ids[p] = static_cast<float>(z + 1);
    ++count[z];
    for (size_t b = 0; b < 2; ++b) sum[b][z] += static_cast<double>(v[b * n + p]);
  }
  e2e::write_floats(file("ids.bin"), ids);
  e2e::write_bytes(file("ids.hdr"),
                   "ENVI\nsamples = " + std::to_string(n) +
                       "\nlines = 1\nbands = 1\nheader offset = 0\ndata type = 4\ninterleave = "
                       "bsq\nbyte order = 0\nrastertools grid file = B.grid.bin\n");
  const struct {
    const char* file;
    const char* names[2];
  } cases[] = {{"regions.geojson", {"box", "wrap"}}, {"ids.bin", {"1", "2"}}};
  for (const auto& c : cases) {
    const e2e::Result r = run("fldstat", {"B.bin", "--regions", c.file, "--stat", "sum",
                                          "--weights", "none", "--plot", "regions.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "rastertools-fldstat: warning: " + std::to_string(n - count[0] - count[1]) +
                         " pixel(s) of B.bin lie in no region of " + c.file + "\n");
    const auto rows = csv(r.out);
    ASSERT_EQ(rows.size(), 5u) << r.out;
    for (size_t i = 0; i < 4; ++i) {
      const size_t b = i / 2, z = i % 2;
      EXPECT_EQ(rows[i + 1][2], c.names[z]);
      EXPECT_EQ(num(rows[i + 1][3]), sum[b][z]) << c.file << " " << rows[i + 1][2];
      EXPECT_EQ(rows[i + 1][6], std::to_string(count[z]));
    }
    EXPECT_EQ(e2e::read_bytes(file("regions.png")).substr(1, 3), "PNG");
  }
  EXPECT_GT(count[0], 0);
  EXPECT_GT(count[1], 0);
}

TEST_F(Aggregate, FractionMultipliesTheWeights) {
  const size_t n = npixel("B");
  std::vector<float> frac(n, 0.5f);
  frac[0] = std::numeric_limits<float>::quiet_NaN();
  frac[1] = 0;
  write_band("gaps", frac);
  const auto full = csv(run("fldstat", {"B.bin", "--stat", "sum"}).out);
  const auto halved = csv(run("fldstat", {"B.bin", "--stat", "sum", "--fraction", "half.bin"}).out);
  ASSERT_EQ(halved.size(), 3u);
  EXPECT_EQ(num(halved[1][3]), num(full[1][3]) / 2);  // halving is exact
  EXPECT_EQ(num(halved[1][5]), num(full[1][5]) / 2);
  const e2e::Result gaps = run("fldstat", {"B.bin", "--fraction", "gaps.bin"});
  EXPECT_EQ(gaps.err,
            "rastertools-fldstat: warning: 2 pixel(s) of B.bin are left out: their fraction in "
            "gaps.bin is 0 or NaN (0 of them are no pixel of it)\n");
  EXPECT_EQ(csv(gaps.out)[1][6], std::to_string(n - 2));
  // A fraction file of two other pixels of the lattice: every pixel of B.bin is left out.
  e2e::write_floats(file("two.bin"), {1, 1});
  e2e::write_bytes(file("two.hdr"),
                   "ENVI\nsamples = 2\nlines = 1\nbands = 1\nheader offset = "
                   "0\ndata type = 4\ninterleave = bsq\nbyte order = 0\n"
                   "rastertools grid file = nan.grid\n");
  const e2e::Result two = run("fldstat", {"B.bin", "--fraction", "two.bin"});
  const std::string ns = std::to_string(n);
  EXPECT_EQ(two.err, "rastertools-fldstat: warning: " + ns +
                         " pixel(s) of B.bin are left out: their fraction in two.bin is 0 or NaN "
                         "(" +
                         ns + " of them are no pixel of it)\n");
  EXPECT_EQ(csv(two.out)[1][3] + " " + csv(two.out)[1][6], "NaN 0");
}

TEST_F(Aggregate, NanMonthsAreCountedOrSkipped) {
  struct Case {
    const char* min_count;
    float pixel0;
    const char* warning;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {"0", nan,
       "1 value(s) are NaN because a value of their window is NaN (--min-count N "
       "leaves NaN values out)"},
      {"11", 74, "1 NaN value(s) left out"},
      {"12", nan,
       "1 NaN value(s) left out\nrastertools-yearly: warning: 1 value(s) are NaN "
       "because fewer than 12 values of their window are not NaN"},
  };
  for (const Case& c : cases) {
    const e2e::Result r = run(
        "yearly", {"nan.bin", "-o", "nan_sum.bin", "--stat", "sum", "--grid", "nan.grid",
                   "--bands-per-year", "12", "--first-year", "2000", "--min-count", c.min_count});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::string("rastertools-yearly: warning: ") + c.warning + "\n");
    const std::vector<float> out = e2e::read_floats(file("nan_sum.bin"));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(e2e::bits(out[0]), e2e::bits(c.pixel0)) << c.min_count;
    EXPECT_EQ(out[1], 12.0f);
  }
}

TEST_F(Aggregate, RefusesWhatItCannotDo) {
  struct Case {
    const char* tool;
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"yearly", {"A.bin", "-o", "x.nc", "--stat", "median"}, 2, "--stat median: give sum"},
      {"yearly",
       {"A.bin", "-o", "x.nc", "--stat", "sum", "--season", "DJF", "--months", "1-2"},
       2,
       "excludes"},
      {"yearly", {"A.bin", "-o", "x.nc", "--stat", "sum", "--season", "XYZ"}, 2, "--season XYZ"},
      {"yearly",
       {"A.bin", "-o", "x.nc", "--stat", "sum", "--months", "2-3", "--bands-per-year", "6"},
       2,
       "--months 2-3 needs 12 bands a year; A.bin has 6"},
      {"yearly",
       {"A.bin", "-o", "x.nc", "--stat", "sum", "--season", "JJA", "--min-count", "4"},
       2,
       "--min-count 4 is more than the 3 bands of a window"},
      {"yearly", {"A.bin", "-o", "A.bin", "--stat", "sum"}, 2, "is the input A.bin"},
      {"yearly",
       {"A.bin", "-o", "A.grid.bin", "--stat", "sum", "--format", "netcdf"},
       2,
       "is the input"},
      {"yearly", {"A.bin", "-o", "/dev/null", "--stat", "sum"}, 2, "not a regular file"},
      {"yearly",
       {"A.bin", "-o", "x.nc", "--stat", "sum", "--format", "tiff"},
       2,
       "unknown output format 'tiff'"},
      {"yearly",
       {"nan.bin", "-o", "x.nc", "--stat", "sum", "--grid", "nan.grid"},
       2,
       "the bands per year of nan.bin are not known"},
      {"yearly",
       {"A.bin", "-o", "x.nc", "--stat", "sum", "--season", "DJF", "--first-year", "2000",
        "--npixel", "5"},
       1,
       "npixel 5 does not match grid file"},
      {"yearly",
       {"missing.bin", "-o", "x.nc", "--stat", "sum", "--grid", "A.grid.bin"},
       1,
       "cannot open missing.bin"},
      {"fldstat", {"B.bin", "--weights", "cos"}, 2, "--weights cos: give area, coslat or none"},
      {"fldstat", {"B.bin", "--zones", "lon:5"}, 2, "--zones lon:5: give lat:DEG"},
      {"fldstat", {"B.bin", "--scale", "0"}, 2, "--scale 0: give a finite number"},
      {"fldstat", {"B.bin", "--zones", "lat:5", "--regions", "ids.bin"}, 2, "excludes"},
      {"fldstat",
       {"B.bin", "--regions", "ids.bin", "--region-name", "x"},
       2,
       "--region-name needs a vector file"},
      {"fldstat",
       {"B.bin", "--regions", "regions.geojson", "--region-name", "NAME2"},
       2,
       "--region-name NAME2: regions.geojson has no such attribute (it has name)"},
      {"fldstat",
       {"B.bin", "--regions", "A.bin"},
       1,
       "region file A.bin lies on a grid of 5 degrees, the input on one of 0.5 degrees"},
      {"fldstat",
       {"B.bin", "--regions", "half.bin"},
       1,
       "region file half.bin: pixel 0 holds 0.5, not a whole-number region id (NaN for no region)"},
      {"fldstat",
       {"B.bin", "--fraction", "B.bin"},
       1,
       "fraction file B.bin holds 2 bands; give a file of one band"},
      {"fldstat", {"B.bin", "--plot", "B.bin"}, 2, "is the input B.bin"},
  };
  for (const Case& c : cases) {
    const e2e::Result r = run(c.tool, c.args);
    EXPECT_EQ(r.status, c.status) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(e2e::exists(file("x.nc")));
  }
}

// The NetCDF files read directly give what their imported raw files give: the same output bytes
// (the same pixels, in the same order) and the same tables; fractions and regions from NetCDF
// too.
TEST_F(Aggregate, NetcdfInputGivesWhatItsImportedFileGives) {
  struct Case {
    const char* tool;
    std::vector<std::string> nc_args, raw_args;
    const char* output;  // compared byte for byte; empty: standard output
  };
  const Case cases[] = {
      {"yearly",
       {"A.nc", "-o", "n.bin", "--stat", "sum"},
       {"A.bin", "-o", "r.bin", "--stat", "sum"},
       "bin"},
      {"yearly",
       {"A.nc", "-o", "n.bin", "--season", "DJF", "--stat", "mean", "--keep-incomplete"},
       {"A.bin", "-o", "r.bin", "--season", "DJF", "--stat", "mean", "--keep-incomplete"},
       "bin"},
      {"yearly",
       {"A.nc", "--var", "v", "-o", "n.nc", "--stat", "max"},
       {"A.bin", "-o", "r.nc", "--stat", "max"},
       "nc"},
      {"fldstat", {"B.nc", "--stat", "sum"}, {"B.bin", "--stat", "sum"}, ""},
      {"fldstat", {"A.nc", "--zones", "lat:30"}, {"A.bin", "--zones", "lat:30"}, ""},
      {"fldstat",
       {"B.nc", "--stat", "sum", "--fraction", "half.nc", "--regions", "ids.nc"},
       {"B.bin", "--stat", "sum", "--fraction", "half.bin", "--regions", "ids_b.bin"},
       ""},
  };
  for (const Case& c : cases) {
    const e2e::Result n = run(c.tool, c.nc_args);
    const e2e::Result r = run(c.tool, c.raw_args);
    ASSERT_EQ(n.status, 0) << n.err;
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(n.err, r.err);
    if (std::string(c.output) == "bin") {
      EXPECT_EQ(e2e::read_bytes(file("n.bin")), e2e::read_bytes(file("r.bin")));
      EXPECT_EQ(e2e::read_bytes(file("n.grid.bin")), e2e::read_bytes(file("r.grid.bin")));
    } else if (std::string(c.output) == "nc") {  // the data, bounds and attributes as cdo sees them
      const std::string diff = "diffn n.nc r.nc";
      const fixtures::PeerResult d =
          fixtures::peer("cd " + quoted(dir_->path()) + " && cdo -s " + diff);
      EXPECT_EQ(d.status, 0) << d.err;
      EXPECT_EQ(d.out, "") << d.out;
    } else {
      EXPECT_EQ(n.out, r.out) << c.nc_args[0];
      EXPECT_EQ(csv(n.out).size(), csv(r.out).size());
    }
  }
}

TEST_F(Aggregate, NetcdfInputRefusals) {
  struct Case {
    const char* tool;
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"yearly",
       {"A.nc", "--var", "tas", "-o", "x.nc", "--stat", "sum"},
       1,
       "has no variable 'tas'; its data variables: v"},
      {"fldstat",
       {"B.nc", "--fraction", "half.nc", "--fraction-var", "land"},
       1,
       "has no variable 'land'; its data variables: frac"},
      {"yearly",
       {"A.nc", "-o", "x.nc", "--stat", "sum", "--bands-per-year", "6"},
       2,
       "--bands-per-year describes a raw input; A.nc is NetCDF"},
      {"fldstat", {"B.bin", "--var", "v"}, 2, "variable 'v' asked of B.bin, which is not NetCDF"},
      {"fldstat", {"B.nc", "--fraction", "A.nc"}, 1, "fraction file A.nc (variable v) lies on"},
  };
  for (const Case& c : cases) {
    const e2e::Result r = run(c.tool, c.args);
    EXPECT_EQ(r.status, c.status) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(e2e::exists(file("x.nc")));
  }
}

}  // namespace
