// End-to-end runs of rastertools export: the values in the NetCDF and GeoTIFF files read back
// with libnetcdf and GDAL, the CF metadata, the time axis of every calendar, the peers users
// have (ncdump, cdo, gdalinfo, R terra), and every failure a user can hit.
#include <gdal.h>
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "fixtures.h"

namespace {

using fixtures::GridCase;

const char* const kTool = "rastertools-export";

uint32_t fill_bits() {
  const float f = 1e20f;
  uint32_t b = 0;
  std::memcpy(&b, &f, 4);
  return b;
}

// Owns a netCDF id opened for reading.
class NcIn {
 public:
  explicit NcIn(const std::string& path) {
    EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &id_), NC_NOERR) << path;
  }
  ~NcIn() { nc_close(id_); }
  NcIn(const NcIn&) = delete;
  NcIn& operator=(const NcIn&) = delete;
  int var(const char* name) const {
    int v = -1;
    EXPECT_EQ(nc_inq_varid(id_, name, &v), NC_NOERR) << name;
    return v;
  }
  std::vector<float> band(const char* name, size_t k, size_t nlat, size_t nlon) const {
    std::vector<float> v(nlat * nlon);
    const size_t start[3] = {k, 0, 0};
    const size_t count[3] = {1, nlat, nlon};
    EXPECT_EQ(nc_get_vara_float(id_, var(name), start, count, v.data()), NC_NOERR);
    return v;
  }
  std::vector<double> doubles(const char* name, size_t n) const {
    std::vector<double> v(n);
    EXPECT_EQ(nc_get_var_double(id_, var(name), v.data()), NC_NOERR);
    return v;
  }
  size_t dim(const char* name) const {
    int d = -1;
    size_t n = 0;
    EXPECT_EQ(nc_inq_dimid(id_, name, &d), NC_NOERR) << name;
    nc_inq_dimlen(id_, d, &n);
    return n;
  }
  int id() const { return id_; }

 private:
  int id_ = -1;
};

// Each exported band must hold the raw pixel's bits in the pixel's cell (1e20 for a NaN pixel
// unless NaN is kept) and 1e20 elsewhere.
void expect_band_cells(const std::vector<float>& cells, const std::vector<float>& raw, int64_t band,
                       const GridCase& g, const std::vector<int64_t>& where, bool keep_nan) {
  std::vector<bool> has_pixel(cells.size(), false);
  int64_t bad = 0;
  for (size_t p = 0; p < where.size(); ++p) {
    const size_t c = static_cast<size_t>(where[p]);
    has_pixel[c] = true;
    const float v = raw[static_cast<size_t>(band * g.npixel) + p];
    const uint32_t want = std::isnan(v) && !keep_nan ? fill_bits() : e2e::bits(v);
    if (e2e::bits(cells[c]) != want && bad++ < 5)
      ADD_FAILURE() << "band " << band << " pixel " << p << ": " << std::hex << e2e::bits(cells[c])
                    << " != " << want;
  }
  int64_t fills = 0;
  for (size_t c = 0; c < cells.size(); ++c)
    if (!has_pixel[c]) fills += e2e::bits(cells[c]) == fill_bits() ? 1 : 0;
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(fills, nlat(g) * nlon(g) - g.npixel);
}

class ExportGrid : public testing::TestWithParam<GridCase> {};

std::string grid_case_name(const testing::TestParamInfo<GridCase>& p) {
  std::string n = p.param.file;
  for (char& ch : n)
    if (ch == '.') ch = '_';
  return n.substr(0, n.size() - 4);
}

TEST_P(ExportGrid, NetcdfHoldsEveryPixelBitForBitAndFillElsewhere) {
  const GridCase& g = GetParam();
  e2e::TempDir dir;
  const auto raw = fixtures::sample_bands(g.npixel, 2);
  e2e::write_floats(dir.file("x.bin"), raw);
  const e2e::Result r = e2e::run(
      kTool, {dir.file("x.bin"), "-o", dir.file("x.nc"), "--grid", e2e::data_path(g.file)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  NcIn nc(dir.file("x.nc"));
  ASSERT_EQ(nc.dim("lat"), static_cast<size_t>(nlat(g)));
  ASSERT_EQ(nc.dim("lon"), static_cast<size_t>(nlon(g)));
  ASSERT_EQ(nc.dim("band"), 2u);
  const auto where = fixtures::expected_cells(g);
  for (int64_t b = 0; b < 2; ++b)
    expect_band_cells(nc.band("value", static_cast<size_t>(b), static_cast<size_t>(nlat(g)),
                              static_cast<size_t>(nlon(g))),
                      raw, b, g, where, false);
  // Coordinates: cell centres from the north-west corner.
  const double res = g.res100 / 100.0;
  const auto lat = nc.doubles("lat", static_cast<size_t>(nlat(g)));
  const auto lon = nc.doubles("lon", static_cast<size_t>(nlon(g)));
  EXPECT_EQ(lat.front(), 90.0 - res / 2);
  EXPECT_EQ(lat.back(), -90.0 + res / 2);
  EXPECT_EQ(lon.front(), -180.0 + res / 2);
  EXPECT_EQ(lon.back(), 180.0 - res / 2);
}

TEST_P(ExportGrid, GeotiffHoldsEveryPixelBitForBit) {
  const GridCase& g = GetParam();
  e2e::TempDir dir;
  const auto raw = fixtures::sample_bands(g.npixel, 3);
  e2e::write_floats(dir.file("x.bin"), raw);
  const e2e::Result r = e2e::run(kTool, {dir.file("x.bin"), "-o", dir.file("x.tif"), "--grid",
                                         e2e::data_path(g.file), "--bands", "1-2", "--keep-nan"});
  ASSERT_EQ(r.status, 0) << r.err;
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(dir.file("x.tif").c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);
  ASSERT_EQ(GDALGetRasterCount(ds), 2);
  const auto where = fixtures::expected_cells(g);
  for (int k = 1; k <= 2; ++k) {
    std::vector<float> cells(static_cast<size_t>(nlat(g) * nlon(g)));
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, k), GF_Read, 0, 0, static_cast<int>(nlon(g)),
                           static_cast<int>(nlat(g)), cells.data(), static_cast<int>(nlon(g)),
                           static_cast<int>(nlat(g)), GDT_Float32, 0, 0),
              CE_None);
    expect_band_cells(cells, raw, k, g, where, true);
    int has = 0;
    // The nodata value as the float32 band sees it.
    EXPECT_EQ(static_cast<float>(GDALGetRasterNoDataValue(GDALGetRasterBand(ds, k), &has)), 1e20f);
    EXPECT_EQ(has, 1);
    EXPECT_EQ(std::string(GDALGetDescription(GDALGetRasterBand(ds, k))),
              "value band " + std::to_string(k));
  }
  GDALClose(ds);
}

INSTANTIATE_TEST_SUITE_P(Bundled, ExportGrid, testing::ValuesIn(fixtures::bundled_grids()),
                         grid_case_name);

// ---- the time axis ---------------------------------------------------------------------------

struct TimeCase {
  const char* name;
  std::vector<std::string> args;  // calendar, bands per year, first year
  int64_t nbands;
  std::vector<double> mid;    // worked by hand from the month lengths
  std::vector<double> start;  // lower bounds
  const char* units;
  const char* calendar;
};

class TimeAxis : public testing::TestWithParam<TimeCase> {};

TEST_P(TimeAxis, MidpointsAndBounds) {
  const TimeCase& c = GetParam();
  e2e::TempDir dir;
  const GridCase& g = fixtures::bundled_grids()[0];
  e2e::write_floats(dir.file("x.bin"), fixtures::sample_bands(g.npixel, c.nbands));
  std::vector<std::string> args = {dir.file("x.bin"), "-o", dir.file("x.nc"), "--grid",
                                   e2e::data_path(g.file)};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = e2e::run(kTool, args);
  ASSERT_EQ(r.status, 0) << r.err;
  NcIn nc(dir.file("x.nc"));
  ASSERT_EQ(nc.dim("time"), c.mid.size());
  EXPECT_EQ(nc.doubles("time", c.mid.size()), c.mid);
  const auto bounds = nc.doubles("time_bnds", 2 * c.mid.size());
  for (size_t i = 0; i < c.start.size(); ++i) EXPECT_EQ(bounds[2 * i], c.start[i]) << i;
  char text[64] = {};
  EXPECT_EQ(nc_get_att_text(nc.id(), nc.var("time"), "units", text), NC_NOERR);
  EXPECT_STREQ(text, c.units);
  char cal[64] = {};
  EXPECT_EQ(nc_get_att_text(nc.id(), nc.var("time"), "calendar", cal), NC_NOERR);
  EXPECT_STREQ(cal, c.calendar);
}

const TimeCase kTimes[] = {
    {"monthly_proleptic_1971",
     {"--bands-per-year", "12", "--first-year", "1971"},
     13,
     {15.5, 45, 74.5, 105, 135.5, 166, 196.5, 227.5, 258, 288.5, 319, 349.5, 380.5},
     {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
     "days since 1971-01-01",
     "proleptic_gregorian"},
    {"monthly_leap_2000_february",
     {"--bands-per-year", "12", "--first-year", "2000", "--calendar", "standard"},
     3,
     {15.5, 45.5, 75.5},
     {0, 31, 60},
     "days since 2000-01-01",
     "standard"},
    {"monthly_noleap_2000",
     {"--bands-per-year", "12", "--first-year", "2000", "--calendar", "noleap"},
     3,
     {15.5, 45, 74.5},
     {0, 31, 59},
     "days since 2000-01-01",
     "noleap"},
    {"monthly_all_leap_1971",
     {"--bands-per-year", "12", "--first-year", "1971", "--calendar", "366_day"},
     3,
     {15.5, 45.5, 75.5},
     {0, 31, 60},
     "days since 1971-01-01",
     "366_day"},
    {"monthly_360_day",
     {"--bands-per-year", "12", "--first-year", "1850", "--calendar", "360_day"},
     13,
     {15, 45, 75, 105, 135, 165, 195, 225, 255, 285, 315, 345, 375},
     {0, 30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330, 360},
     "days since 1850-01-01",
     "360_day"},
    {"annual_across_a_leap_year",
     {"--bands-per-year", "1", "--first-year", "1999"},
     3,
     {182.5, 548, 913.5},
     {0, 365, 731},
     "days since 1999-01-01",
     "proleptic_gregorian"},
    {"four_a_year_noleap",
     {"--bands-per-year", "4", "--first-year", "2001", "--calendar", "365_day"},
     5,
     {45.625, 136.875, 228.125, 319.375, 410.625},
     {0, 91.25, 182.5, 273.75, 365},
     "days since 2001-01-01",
     "365_day"},
};

INSTANTIATE_TEST_SUITE_P(Calendars, TimeAxis, testing::ValuesIn(kTimes), fixtures::CaseName{});

TEST(ExportNetcdf, WithoutFirstYearABandAxisNumbersTheRawBands) {
  e2e::TempDir dir;
  const GridCase& g = fixtures::bundled_grids()[0];
  e2e::write_floats(dir.file("x.bin"), fixtures::sample_bands(g.npixel, 5));
  const e2e::Result r =
      e2e::run(kTool, {dir.file("x.bin"), "-o", dir.file("x.nc"), "--grid", e2e::data_path(g.file),
                       "--bands", "2-4", "--bands-per-year", "12"});
  ASSERT_EQ(r.status, 0) << r.err;
  NcIn nc(dir.file("x.nc"));
  EXPECT_EQ(nc.doubles("band", 3), (std::vector<double>{2, 3, 4}));
  int time_dim = 0;
  EXPECT_EQ(nc_inq_dimid(nc.id(), "time", &time_dim), NC_EBADDIM);
}

// ---- metadata and the peers ----------------------------------------------------------------

class ExportedFile : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new e2e::TempDir;
    const GridCase& g = fixtures::bundled_grids()[0];
    e2e::write_floats(dir_->file("tas.bin"), fixtures::sample_bands(g.npixel, 3));
    for (const char* out : {"tas.nc", "tas.tif", "tas_cog.tif"}) {
      std::vector<std::string> args = {dir_->file("tas.bin"),
                                       "-o",
                                       dir_->file(out),
                                       "--grid",
                                       e2e::data_path(g.file),
                                       "--bands-per-year",
                                       "12",
                                       "--first-year",
                                       "1971",
                                       "--var",
                                       "tas",
                                       "--units",
                                       "K",
                                       "--long-name",
                                       "Near-Surface Air Temperature"};
      if (std::string(out) == "tas_cog.tif") args.insert(args.end(), {"--format", "cog"});
      results_.push_back(e2e::run(kTool, args));
    }
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string file(const char* name) { return dir_->file(name); }
  static e2e::TempDir* dir_;
  static std::vector<e2e::Result> results_;
};

e2e::TempDir* ExportedFile::dir_ = nullptr;
std::vector<e2e::Result> ExportedFile::results_;

TEST_F(ExportedFile, EachRunSucceedsAndSaysWhatItWrote) {
  ASSERT_EQ(results_.size(), 3u);
  for (const e2e::Result& r : results_) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  // sample_bands puts 3 NaNs at the start of each of the 3 bands.
  EXPECT_EQ(results_[0].out, file("tas.nc") +
                                 ": 3 band(s) of 3862 pixels on a 180 x 90 grid of 2 degrees "
                                 "(northedge)\n" +
                                 file("tas.nc") +
                                 ": 9 NaN value(s) written as the fill value 1e20 (missing); "
                                 "--keep-nan keeps NaN\n");
  // Nothing but the outputs is left in the folder (no temporary files).
  const auto listing = fixtures::peer("ls -A " + fixtures::quoted(dir_->path()));
  EXPECT_EQ(listing.out, "tas.bin\ntas.nc\ntas.tif\ntas_cog.tif\n");
}

TEST_F(ExportedFile, NcdumpShowsTheCfAttributes) {
  const auto r = fixtures::peer("ncdump -h " + fixtures::quoted(file("tas.nc")));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* want : {"time = UNLIMITED ; // (3 currently)",
                           "lat = 90 ;",
                           "lon = 180 ;",
                           "bnds = 2 ;",
                           "float tas(time, lat, lon) ;",
                           "tas:_FillValue = 1.e+20f ;",
                           "tas:units = \"K\" ;",
                           "tas:long_name = \"Near-Surface Air Temperature\" ;",
                           "time:units = \"days since 1971-01-01\" ;",
                           "time:calendar = \"proleptic_gregorian\" ;",
                           "time:bounds = \"time_bnds\" ;",
                           "lat:units = \"degrees_north\" ;",
                           "lat:standard_name = \"latitude\" ;",
                           "lat:axis = \"Y\" ;",
                           "lat:bounds = \"lat_bnds\" ;",
                           "lon:units = \"degrees_east\" ;",
                           "lon:standard_name = \"longitude\" ;",
                           "lon:axis = \"X\" ;",
                           "lon:bounds = \"lon_bnds\" ;",
                           ":Conventions = \"CF-1.8\" ;",
                           ":title = \"Near-Surface Air Temperature\" ;",
                           ":source = \"rastertools 0.2.0\" ;",
                           ": rastertools export "})
    EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
  // Deflated, one time step per chunk.
  const auto s = fixtures::peer("ncdump -hs " + fixtures::quoted(file("tas.nc")));
  EXPECT_NE(s.out.find("tas:_ChunkSizes = 1, 90, 180 ;"), std::string::npos) << s.out;
  EXPECT_NE(s.out.find("tas:_DeflateLevel = "), std::string::npos) << s.out;
}

TEST_F(ExportedFile, CdoReadsGridAndTime) {
  const auto r = fixtures::peer("cdo -s sinfon " + fixtures::quoted(file("tas.nc")));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* want : {"lonlat", "points=16200 (180x90)", "lon : -179 to 179 by 2",
                           "lat : 89 to -89 by -2", "3 steps", "Calendar = proleptic_gregorian",
                           "1971-01-16 12:00:00", "1971-02-15 00:00:00", "1971-03-16 12:00:00"})
    EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
}

// CDO counts the missing values of every record. By default a NaN pixel is written as the fill
// value: CDO reads it as missing without a word, and its count is the cells without a pixel plus
// the NaN pixels. With --keep-nan CDO meets NaNs that are not the fill value and warns.
TEST(ExportCdo, NanPixelsReadAsMissingWithoutAWarning) {
  e2e::TempDir dir;
  const GridCase& g = fixtures::bundled_grids()[0];
  auto v = fixtures::sample_bands(g.npixel, 2);  // 3 NaNs at the start of each band
  v[static_cast<size_t>(g.npixel + 500)] = std::nanf("");
  e2e::write_floats(dir.file("x.bin"), v);
  const int64_t empty = nlat(g) * nlon(g) - g.npixel;
  for (const bool keep : {false, true}) {
    std::vector<std::string> args{
        dir.file("x.bin"),  "-o", dir.file("x.nc"), "--grid", e2e::data_path(g.file),
        "--bands-per-year", "1",  "--first-year",   "2000"};
    if (keep) args.push_back("--keep-nan");
    ASSERT_EQ(e2e::run(kTool, args).status, 0);
    const auto r = fixtures::peer("cdo -s info " + fixtures::quoted(dir.file("x.nc")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("missing values") == std::string::npos, !keep) << r.err;
    // "  1 : DATE TIME LEVEL GRIDSIZE MISS : ...": the sixth word of each record's line.
    std::istringstream in(r.out);
    std::vector<int64_t> miss;
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
      if (w.size() > 6 && w[0] != "-1") miss.push_back(std::stoll(w[6]));
    }
    const std::vector<int64_t> want =
        keep ? std::vector<int64_t>{empty, empty} : std::vector<int64_t>{empty + 3, empty + 4};
    EXPECT_EQ(miss, want) << r.out;
  }
}

struct GdalCase {
  const char* name;
  const char* file;
  const char* driver;
};

class GdalReads : public ExportedFile, public testing::WithParamInterface<GdalCase> {};

TEST_P(GdalReads, GeotransformOfTheGrid) {
  const auto r = fixtures::peer("gdalinfo " + fixtures::quoted(file(GetParam().file)));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const std::string& want :
       {std::string("Driver: ") + GetParam().driver, std::string("Size is 180, 90"),
        std::string("Origin = (-180.000000000000000,90.000000000000000)"),
        std::string("Pixel Size = (2.000000000000000,-2.000000000000000)")})
    EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
}

const GdalCase kGdal[] = {
    {"netcdf", "tas.nc", "netCDF"}, {"gtiff", "tas.tif", "GTiff"}, {"cog", "tas_cog.tif", "GTiff"}};
INSTANTIATE_TEST_SUITE_P(Files, GdalReads, testing::ValuesIn(kGdal), fixtures::CaseName{});

TEST_F(ExportedFile, GeotiffIsGeographicWgs84WithBandDates) {
  const auto r = fixtures::peer("gdalinfo " + fixtures::quoted(file("tas.tif")));
  for (const char* want : {"ID[\"EPSG\",4326]", "Description = tas 1971-01",
                           "Description = tas 1971-03", "NoData Value=1e+20", "Unit Type: K"})
    EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
  const auto cog = fixtures::peer("gdalinfo " + fixtures::quoted(file("tas_cog.tif")));
  EXPECT_NE(cog.out.find("LAYOUT=COG"), std::string::npos) << cog.out;
}

// ---- sidecar defaults ------------------------------------------------------------------------

TEST(ExportSidecar, DefaultsComeFromTheHeaderBesideTheRawFile) {
  e2e::TempDir dir;
  const GridCase& g = fixtures::bundled_grids()[0];
  e2e::write_floats(dir.file("tas.bin"), fixtures::sample_bands(g.npixel, 2));
  e2e::write_bytes(dir.file("grid.bin"), e2e::read_bytes(e2e::data_path(g.file)));
  e2e::write_bytes(dir.file("tas.hdr"),
                   "ENVI\nsamples = 3862\nlines = 1\nbands = 2\ndata type = 4\n"
                   "interleave = bsq\nbyte order = 0\nrastertools grid file = grid.bin\n"
                   "rastertools bands per year = 1\nrastertools first year = 2001\n"
                   "rastertools variable = gpp\nrastertools units = gC m-2\n");
  // Run from the folder above: the grid named in the header is found beside the header.
  const std::string parent = dir.path().substr(0, dir.path().rfind('/'));
  const std::string sub = dir.path().substr(parent.size() + 1);
  const e2e::Result r2 =
      e2e::run(kTool, {sub + "/tas.bin", "-o", sub + "/out.nc", "--units", "kg"}, "", parent);
  ASSERT_EQ(r2.status, 0) << r2.err;
  NcIn nc(dir.file("out.nc"));
  EXPECT_EQ(nc.doubles("time", 2), (std::vector<double>{182.5, 547.5}));
  char units[16] = {};
  EXPECT_EQ(nc_get_att_text(nc.id(), nc.var("gpp"), "units", units), NC_NOERR);
  EXPECT_STREQ(units, "kg");  // the command line wins over the sidecar
}

// ---- failures ----------------------------------------------------------------------------------

struct FailCase {
  const char* name;
  std::vector<std::string> args;  // @ stands for the temp folder
  int status;
  std::string err;  // @ stands for the temp folder
};

class ExportFails : public testing::TestWithParam<FailCase> {};

std::string at_dir(std::string s, const std::string& dir) {
  for (size_t i = s.find('@'); i != std::string::npos; i = s.find('@', i + dir.size()))
    s.replace(i, 1, dir);
  return s;
}

TEST_P(ExportFails, WithItsMessageAndStatusAndNoOutput) {
  const FailCase& c = GetParam();
  e2e::TempDir dir;
  const GridCase& g = fixtures::bundled_grids()[0];
  e2e::write_bytes(dir.file("grid.bin"), e2e::read_bytes(e2e::data_path(g.file)));
  e2e::write_floats(dir.file("x.bin"), fixtures::sample_bands(g.npixel, 2));
  e2e::write_bytes(dir.file("bad.hdr"), "ENVI\ndata type = 5\n");
  e2e::write_floats(dir.file("bad.bin"), fixtures::sample_bands(g.npixel, 1));
  const std::string before = e2e::read_bytes(dir.file("x.bin"));
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(at_dir(a, dir.path()));
  const e2e::Result r = e2e::run(kTool, args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.err, at_dir(c.err, dir.path()));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(e2e::read_bytes(dir.file("x.bin")), before);
  EXPECT_FALSE(e2e::exists(dir.file("out.nc")));
  const auto listing = fixtures::peer("ls -A " + fixtures::quoted(dir.path()));
  EXPECT_EQ(listing.out, "bad.bin\nbad.hdr\ngrid.bin\nx.bin\n");
}

const std::string kRunHelp = "run 'rastertools export --help' for usage\n";
const FailCase kFails[] = {
    {"missing_grid",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/none.bin"},
     1,
     "rastertools-export: error: cannot open grid file @/none.bin: No such file or directory\n"},
    {"no_grid_at_all",
     {"@/x.bin", "-o", "@/out.nc"},
     2,
     "rastertools-export: error: no grid file for @/x.bin: give --grid GRID (or a sidecar @/x.hdr "
     "that names one)\n" +
         kRunHelp},
    {"npixel_not_the_grid_s",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--npixel", "3861"},
     1,
     "rastertools-export: error: npixel 3861 does not match grid file @/grid.bin (15448 bytes, "
     "3862 pixels)\n"},
    {"missing_raw",
     {"@/none.bin", "-o", "@/out.nc", "--grid", "@/grid.bin"},
     1,
     "rastertools-export: error: cannot open @/none.bin: No such file or directory\n"},
    {"bad_band_range",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--bands", "1-x"},
     2,
     "rastertools-export: error: bad band range '1-x': give FIRST-LAST or one band, 0-based band "
     "numbers\n" +
         kRunHelp},
    {"band_range_past_the_end",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--bands", "1-2"},
     2,
     "rastertools-export: error: band range 1-2 reaches past the last band of @/x.bin (it holds "
     "bands 0-1)\n" +
         kRunHelp},
    {"output_is_the_input",
     {"@/x.bin", "-o", "@/x.bin", "--grid", "@/grid.bin", "--format", "netcdf"},
     2,
     "rastertools-export: error: output @/x.bin is the input @/x.bin; refusing to overwrite it\n" +
         kRunHelp},
    {"output_is_the_grid",
     {"@/x.bin", "-o", "@/grid.bin", "--grid", "@/grid.bin", "--format", "gtiff"},
     2,
     "rastertools-export: error: output @/grid.bin is the input @/grid.bin; refusing to overwrite "
     "it\n" +
         kRunHelp},
    {"output_folder_missing",
     {"@/x.bin", "-o", "@/no/out.nc", "--grid", "@/grid.bin"},
     1,
     "rastertools-export: error: cannot write @/no/out.nc: folder @/no does not exist\n"},
    {"output_unwritable",
     {"@/x.bin", "-o", "/proc/out.nc", "--grid", "@/grid.bin"},
     1,
     "rastertools-export: error: cannot write NetCDF file /proc/out.nc (create): "
     "Permission denied\n"},
    {"unknown_extension",
     {"@/x.bin", "-o", "@/out.dat", "--grid", "@/grid.bin"},
     2,
     "rastertools-export: error: cannot tell the format of @/out.dat from its extension: give "
     "--format netcdf, gtiff or cog\n" +
         kRunHelp},
    {"unknown_calendar",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--calendar", "lunar"},
     2,
     "rastertools-export: error: unknown calendar 'lunar': give proleptic_gregorian, standard, "
     "julian, noleap, 365_day, all_leap, 366_day or 360_day\n" +
         kRunHelp},
    {"first_year_without_bands_per_year",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--first-year", "1971"},
     2,
     "rastertools-export: error: a first year (1971) needs --bands-per-year to place the bands in "
     "time\n" +
         kRunHelp},
    {"standard_calendar_before_1583",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--first-year", "1500",
      "--bands-per-year", "1", "--calendar", "standard"},
     2,
     "rastertools-export: error: calendar standard mixes Julian and Gregorian years before 1583: "
     "give proleptic_gregorian for first year 1500\n" +
         kRunHelp},
    {"variable_name_unusable",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--var", "lat"},
     2,
     "rastertools-export: error: variable name 'lat' is not a usable NetCDF name (letters, "
     "digits, _ . -; not lat, lon, time, band)\n" +
         kRunHelp},
    {"convention_unknown",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--convention", "south"},
     2,
     "rastertools-export: error: unknown grid convention 'south': give centre or northedge\n" +
         kRunHelp},
    {"grid_does_not_fit_res",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--res", "1"},
     1,
     "rastertools-export: error: grid file @/grid.bin: the longitude of pixel 0 (lon -77.00, lat "
     "84.00) is not a cell centre of a 1 degree grid\n"},
    {"resolution_not_a_number",
     {"@/x.bin", "-o", "@/out.nc", "--grid", "@/grid.bin", "--res", "half"},
     2,
     "rastertools-export: error: bad resolution 'half': give degrees such as 0.5, 2 or 1/12\n" +
         kRunHelp},
    {"bad_sidecar",
     {"@/bad.bin", "-o", "@/out.nc", "--grid", "@/grid.bin"},
     1,
     "rastertools-export: error: sidecar @/bad.hdr describes a layout other than the suite's "
     "(float32 little-endian, one line, no header offset)\n"},
    {"missing_output_option",
     {"@/x.bin", "--grid", "@/grid.bin"},
     2,
     "rastertools-export: error: --output is required\n" + kRunHelp},
    {"unknown_option",
     {"@/x.bin", "-o", "@/out.nc", "--gird", "@/grid.bin"},
     2,
     "rastertools-export: error: The following arguments were not expected: @/grid.bin --gird\n" +
         kRunHelp},
    {"npixel_not_a_number",
     {"@/x.bin", "-o", "@/out.nc", "--npixel", "many"},
     2,
     "rastertools-export: error: --npixel 'many' is not a whole number: give decimal digits, 1 "
     "to 2305843009213693951\n" +
         kRunHelp},
};

INSTANTIATE_TEST_SUITE_P(Cases, ExportFails, testing::ValuesIn(kFails), fixtures::CaseName{});

TEST(ExportCommandLine, HelpHasAnExampleAndVersionTheSuite) {
  const e2e::Result h = e2e::run(kTool, {"--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_EQ(h.err, "");
  EXPECT_NE(h.out.find("Example:\n  rastertools export tas.bin -o tas.nc"), std::string::npos)
      << h.out;
  EXPECT_NE(h.out.find("--calendar"), std::string::npos);
  const e2e::Result v = e2e::run(kTool, {"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "rastertools 0.2.0\n");
}

TEST(ExportWarnings, LeftoverBytesAndPixelsEqualToTheFillValue) {
  e2e::TempDir dir;
  const GridCase& g = fixtures::bundled_grids()[0];
  auto v = fixtures::sample_bands(g.npixel, 1);
  v[100] = 1e20f;
  v[200] = 1e20f;
  e2e::write_bytes(dir.file("x.bin"),
                   std::string(reinterpret_cast<const char*>(v.data()), v.size() * 4) + "abc");
  const e2e::Result r = e2e::run(
      kTool, {dir.file("x.bin"), "-o", dir.file("x.nc"), "--grid", e2e::data_path(g.file)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "rastertools-export: warning: " + dir.file("x.bin") +
                       ": the last 3 bytes make no whole band of 3862 pixels and are ignored\n"
                       "rastertools-export: warning: 2 values of " +
                       dir.file("x.bin") + " equal the fill value 1e20 and read as missing in " +
                       dir.file("x.nc") + "\n");
}

}  // namespace
