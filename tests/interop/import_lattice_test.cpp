// rastertools import on lattices of any origin, levels and the bad inputs around them:
// NetCDF -> import -> export -> cdo gives the input's values, coordinates (exact for 2/3 degree)
// and calendar; refusals name the file, variable, step, size or value at fault and leave nothing.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "e2e.h"
#include "import_support.h"

namespace {

void nc_ok(int status) {
  if (status != NC_NOERR) throw std::runtime_error(nc_strerror(status));
}

// A test input: `nlat` rows from `lat0` and `nlon` columns from `lon0` by `dlat`, `dlon` (the
// coordinates computed in double, as such files are written); monthly steps of one year from
// 2001 on `calendar` (none when empty); `levels` on a depth axis before lat (none when empty).
// Values: row * 1000 + col + step / 4 + level / 8, exact in float; a last column at
// lon0 + 360 repeats column 0.
struct Input {
  double lat0, dlat;
  int nlat;
  double lon0, dlon;
  int nlon;
  std::string calendar;
  std::vector<double> levels;
  bool classic = false;
};

float value_at(int step, int level, int row, int col) {
  return static_cast<float>(row * 1000 + col) + static_cast<float>(step) * 0.25f +
         static_cast<float>(level) * 0.125f;
}

// Day of the year at the middle of month m (0-based) on a calendar without leap years in
// 2001 (the proleptic Gregorian, 365_day) or with months of 30 days (360_day).
double mid_month(const std::string& calendar, int m) {
  static const int kStart[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  return calendar == "360_day" ? 30.0 * m + 15 : kStart[m] + 15.0;
}

void write_input(const std::string& path, const Input& in) {
  int id = -1;
  nc_ok(nc_create(path.c_str(), in.classic ? NC_CLOBBER : NC_NETCDF4 | NC_CLOBBER, &id));
  std::vector<int> dims;
  const bool timed = !in.calendar.empty();
  const size_t nsteps = timed ? 12 : 1;
  int tdim = -1, zdim = -1, ydim = -1, xdim = -1, tvar = -1, zvar = -1, yvar = -1, xvar = -1;
  if (timed) {
    nc_ok(nc_def_dim(id, "time", NC_UNLIMITED, &tdim));
    nc_ok(nc_def_var(id, "time", NC_DOUBLE, 1, &tdim, &tvar));
    nc_ok(nc_put_att_text(id, tvar, "units", 21, "days since 2001-01-01"));
    nc_ok(nc_put_att_text(id, tvar, "calendar", in.calendar.size(), in.calendar.c_str()));
    dims.push_back(tdim);
  }
  if (!in.levels.empty()) {
    nc_ok(nc_def_dim(id, "depth", in.levels.size(), &zdim));
    nc_ok(nc_def_var(id, "depth", NC_FLOAT, 1, &zdim, &zvar));
    nc_ok(nc_put_att_text(id, zvar, "units", 1, "m"));
    dims.push_back(zdim);
  }
  nc_ok(nc_def_dim(id, "lat", static_cast<size_t>(in.nlat), &ydim));
  nc_ok(nc_def_dim(id, "lon", static_cast<size_t>(in.nlon), &xdim));
  nc_ok(nc_def_var(id, "lat", NC_DOUBLE, 1, &ydim, &yvar));
  nc_ok(nc_put_att_text(id, yvar, "units", 13, "degrees_north"));
  nc_ok(nc_def_var(id, "lon", NC_DOUBLE, 1, &xdim, &xvar));
  nc_ok(nc_put_att_text(id, xvar, "units", 12, "degrees_east"));
  dims.push_back(ydim);
  dims.push_back(xdim);
  int var = -1;
  nc_ok(nc_def_var(id, "tas", NC_FLOAT, static_cast<int>(dims.size()), dims.data(), &var));
  nc_ok(nc_enddef(id));
  std::vector<double> lat(static_cast<size_t>(in.nlat)), lon(static_cast<size_t>(in.nlon));
  for (int r = 0; r < in.nlat; ++r) lat[static_cast<size_t>(r)] = in.lat0 + r * in.dlat;
  for (int c = 0; c < in.nlon; ++c) lon[static_cast<size_t>(c)] = in.lon0 + c * in.dlon;
  nc_ok(nc_put_var_double(id, yvar, lat.data()));
  nc_ok(nc_put_var_double(id, xvar, lon.data()));
  if (zvar >= 0) {
    std::vector<float> z(in.levels.begin(), in.levels.end());
    nc_ok(nc_put_var_float(id, zvar, z.data()));
  }
  const size_t nlev = std::max<size_t>(1, in.levels.size());
  std::vector<float> v(static_cast<size_t>(in.nlat) * static_cast<size_t>(in.nlon));
  for (size_t t = 0; t < nsteps; ++t) {
    if (timed) {
      const double day = mid_month(in.calendar, static_cast<int>(t));
      nc_ok(nc_put_var1_double(id, tvar, &t, &day));
    }
    for (size_t k = 0; k < nlev; ++k) {
      for (int r = 0; r < in.nlat; ++r)
        for (int c = 0; c < in.nlon; ++c) {
          const bool repeat = std::abs(lon[static_cast<size_t>(c)] - lon[0] - 360.0) < 1e-9;
          v[static_cast<size_t>(r * in.nlon + c)] =
              value_at(static_cast<int>(t), static_cast<int>(k), r, repeat ? 0 : c);
        }
      size_t start[4] = {}, count[4] = {};
      size_t nd = 0;
      if (timed) start[nd] = t, count[nd++] = 1;
      if (zvar >= 0) start[nd] = k, count[nd++] = 1;
      count[nd++] = static_cast<size_t>(in.nlat);
      count[nd++] = static_cast<size_t>(in.nlon);
      nc_ok(nc_put_vara_float(id, var, start, count, v.data()));
    }
  }
  nc_ok(nc_close(id));
}

e2e::Result cdo(const e2e::TempDir& dir, const std::vector<std::string>& args) {
  std::vector<std::string> all{"-s"};
  all.insert(all.end(), args.begin(), args.end());
  return e2e::run(imptest::on_path("cdo"), all, "cdo", dir.path());
}

// The grid as cdo describes it, without the cell bounds (export writes them, the inputs not).
std::string grid_of(const e2e::TempDir& dir, const std::string& file) {
  std::istringstream lines(cdo(dir, {"griddes", file}).out);
  std::string line, kept;
  bool bounds = false;
  while (std::getline(lines, line)) {
    if (!line.starts_with(" ")) bounds = line.find("bounds") != std::string::npos;
    if (!bounds) kept += line + "\n";
  }
  return kept;
}

// The years and months of the time axis as cdo reads them (its calendar applied).
std::string months_of(const e2e::TempDir& dir, const std::string& file) {
  std::istringstream dates(cdo(dir, {"showdate", file}).out);
  std::string d, months;
  while (dates >> d) months += d.substr(0, 7) + " ";
  return months;
}

// ---- round trips ----------------------------------------------------------------------------

struct TripCase {
  const char* name;
  Input in;
  std::vector<std::string> args;  // import's, after in.nc -o x.bin
  std::string sidecar;            // lines the sidecar must hold
  std::string select;             // cdo operators that bring the input onto export's lattice
  std::string note;               // import's stderr
};

class LatticeRoundTrip : public testing::TestWithParam<TripCase> {};

TEST_P(LatticeRoundTrip, ValuesCoordinatesAndCalendarComeBack) {
  const TripCase& c = GetParam();
  e2e::TempDir dir;
  write_input(dir.file("in.nc"), c.in);
  std::vector<std::string> args{"in.nc", "-o", "x.bin"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result im = imptest::import(dir, args);
  ASSERT_EQ(im.status, 0) << im.err;
  EXPECT_EQ(im.err, c.note);
  const std::string hdr = e2e::read_bytes(dir.file("x.hdr"));
  EXPECT_NE(hdr.find(c.sidecar), std::string::npos) << hdr;
  const e2e::Result ex = e2e::run("rastertools-export", {"x.bin", "-o", "x.nc"}, "", dir.path());
  ASSERT_EQ(ex.status, 0) << ex.err;

  // The input, brought onto the lattice as export writes it, against what came back.
  std::vector<std::string> sel;
  std::istringstream ops(c.select);
  for (std::string op; ops >> op;) sel.push_back(op);
  std::vector<std::string> norm = sel;
  norm.insert(norm.end(), {"in.nc", "ref.nc"});
  if (!sel.empty()) {
    ASSERT_EQ(cdo(dir, norm).status, 0);
  }
  const std::string ref = sel.empty() ? "in.nc" : "ref.nc";
  const e2e::Result diff = cdo(dir, {"diffn", ref, "x.nc"});
  EXPECT_EQ(diff.status, 0) << diff.err;
  EXPECT_EQ(diff.out.find("differ"), std::string::npos) << diff.out;
  EXPECT_EQ(grid_of(dir, ref), grid_of(dir, "x.nc"));
  EXPECT_EQ(months_of(dir, ref), months_of(dir, "x.nc"));
  const std::string calendar = c.in.calendar;
  const e2e::Result dump = e2e::run(imptest::on_path("ncdump"), {"-h", "x.nc"}, "", dir.path());
  EXPECT_NE(dump.out.find("time:calendar = \"" + calendar + "\""), std::string::npos) << dump.out;
}

// CDO's r360x180 (centres 0..359), the default lattice from -180, 2/3 degree cells, the
// calendars without leap years and with 360 days, a repeated 360 column, one level of four
// dimensions.
const TripCase kTrips[] = {
    {"r360x180",
     {89.5, -1, 180, 0, 1, 360, "proleptic_gregorian", {}},
     {},
     "rastertools resolution = 1\nrastertools lattice origin = -180.5 90\n",
     "-sellonlatbox,-180,180,-90,90",
     ""},
    {"from_minus_180",
     {89.5, -1, 180, -179.5, 1, 360, "standard", {}},
     {},
     "rastertools resolution = 1\nrastertools grid convention",
     "",
     ""},
    {"two_thirds",
     {90 - 1.0 / 3, -2.0 / 3, 270, -180 + 1.0 / 3, 2.0 / 3, 540, "standard", {}},
     {},
     "rastertools resolution = 2/3\nrastertools grid convention",
     "",
     ""},
    {"noleap_365_day",
     {89, -2, 90, -179, 2, 180, "365_day", {}},
     {},
     "rastertools calendar = 365_day\n",
     "",
     ""},
    {"day_360",
     {89, -2, 90, -179, 2, 180, "360_day", {}},
     {},
     "rastertools calendar = 360_day\n",
     "",
     ""},
    {"repeated_360_column",
     {89, -2, 90, 1, 2, 181, "noleap", {}},
     {},
     "rastertools resolution = 2\nrastertools grid convention",
     "-sellonlatbox,-180,180,-90,90 -selindexbox,1,180,1,90",
     "rastertools-import: note: 'in.nc': its column at longitude 361 repeats the one at longitude "
     "1 (360 degrees apart) and is left out\n"},
    {"level_of_four_dimensions",
     {89, -2, 90, -179, 2, 180, "julian", {0.5, 10, 100}},
     {"--level", "10"},
     "rastertools calendar = julian\n",
     "-sellevel,10",
     ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, LatticeRoundTrip, testing::ValuesIn(kTrips), imptest::CaseName{});

// The exported coordinates of the 2/3 degree lattice are its exact fractions, rounded once:
// the last longitude is 179 + 2/3 to the nearest double, not a sum that drifted.
TEST(LatticeExact, TwoThirdsCoordinatesAreTheFractions) {
  e2e::TempDir dir;
  write_input(dir.file("in.nc"),
              {90 - 1.0 / 3, -2.0 / 3, 270, -180 + 1.0 / 3, 2.0 / 3, 540, "", {}});
  ASSERT_EQ(imptest::import(dir, {"in.nc", "-o", "x.bin"}).status, 0);
  ASSERT_EQ(e2e::run("rastertools-export", {"x.bin", "-o", "x.nc"}, "", dir.path()).status, 0);
  int id = -1, lon = -1, lat = -1;
  nc_ok(nc_open(dir.file("x.nc").c_str(), NC_NOWRITE, &id));
  std::vector<double> x(540), y(270);
  nc_ok(nc_inq_varid(id, "lon", &lon));
  nc_ok(nc_inq_varid(id, "lat", &lat));
  nc_ok(nc_get_var_double(id, lon, x.data()));
  nc_ok(nc_get_var_double(id, lat, y.data()));
  nc_ok(nc_close(id));
  // Centre of column c: -180 + (2c + 1) / 3 = (2c + 1 - 540) / 3, an exact integer divided once.
  for (int c = 0; c < 540; ++c) ASSERT_EQ(x[static_cast<size_t>(c)], (2.0 * c + 1 - 540) / 3) << c;
  for (int r = 0; r < 270; ++r) ASSERT_EQ(y[static_cast<size_t>(r)], (270 - 2.0 * r - 1) / 3) << r;
  EXPECT_EQ(x.back(), 539.0 / 3);
}

// The GeoTIFF of a lattice from -180.5 starts there.
TEST(LatticeExact, GeotiffOriginIsTheLatticeOrigin) {
  e2e::TempDir dir;
  write_input(dir.file("in.nc"), {89.5, -1, 180, 0, 1, 360, "", {}});
  ASSERT_EQ(imptest::import(dir, {"in.nc", "-o", "x.bin"}).status, 0);
  ASSERT_EQ(e2e::run("rastertools-export", {"x.bin", "-o", "x.tif"}, "", dir.path()).status, 0);
  const e2e::Result info = e2e::run(imptest::on_path("gdalinfo"), {"x.tif"}, "", dir.path());
  EXPECT_NE(info.out.find("Origin = (-180.500000000000000,90.000000000000000)"), std::string::npos)
      << info.out;
}

// ---- refusals -------------------------------------------------------------------------------

const std::string kPrefix = "rastertools-import: error: ";

// A (time, lat, lon) file of four steps of 2 x 2 cells: classic format for the cut cases.
const char* const kFourSteps = R"(netcdf in {
dimensions: time = UNLIMITED ; lat = 2 ; lon = 2 ;
variables: double time(time) ; time:units = "days since 2000-01-01" ;
  double lat(lat) ; double lon(lon) ; float tas(time, lat, lon) ;
data: lat = 1, 3 ; lon = 1, 3 ; time = 0, 31, 60, 91 ;
  tas = 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 ;
})";

// (lat, lon) of 2 degree cells with one attribute line for tas.
std::string two_cells(const std::string& type, const std::string& att) {
  return "netcdf in {\ndimensions: lat = 1 ; lon = 2 ;\nvariables: double lat(lat) ; "
         "double lon(lon) ; " +
         type + " tas(lat, lon) ; " + att + "\ndata: lat = 1 ; lon = 1, 3 ; tas = 1, 2 ;\n}\n";
}

std::string depth_cdl(bool timed) {
  return std::string("netcdf in {\ndimensions: ") + (timed ? "time = 1 ; " : "") +
         "depth = 2 ; lat = 1 ; lon = 2 ;\nvariables: " +
         (timed ? "double time(time) ; time:units = \"days since 2000-01-01\" ; " : "") +
         "double depth(depth) ; depth:units = \"m\" ; double lat(lat) ; double lon(lon) ; "
         "float so(" +
         (timed ? "time, " : "") + "depth, lat, lon) ;\ndata: " + (timed ? "time = 0 ; " : "") +
         "depth = 5, 15 ; lat = 1 ; lon = 1, 3 ; so = 1, 2, 3, 4 ;\n}\n";
}

// Latitudes -90..90 by 2 (points on the poles), longitudes 0..358.
std::string node_cdl() {
  std::string lat, lon, tas;
  for (int i = 0; i <= 90; ++i) lat += (i ? ", " : "") + std::to_string(-90 + 2 * i);
  for (int i = 0; i < 180; ++i) lon += (i ? ", " : "") + std::to_string(2 * i);
  for (int i = 0; i < 91 * 180; ++i) tas += (i ? ", " : "") + std::to_string(i % 7);
  return "netcdf in {\ndimensions: lat = 91 ; lon = 180 ;\nvariables: double lat(lat) ; "
         "lat:units = \"degrees_north\" ; double lon(lon) ; lon:units = \"degrees_east\" ; "
         "float tas(lat, lon) ;\ntas:_FillValue = 1.e20f ;\ndata: lat = " +
         lat + " ;\nlon = " + lon + " ;\ntas = " + tas + " ;\n}\n";
}

void truncate_by(const std::string& path, int64_t bytes) {
  std::filesystem::resize_file(path, static_cast<uintmax_t>(e2e::file_size(path) - bytes));
}

struct BadCase {
  const char* name;
  std::function<void(const e2e::TempDir&)> make;  // writes in.nc
  std::vector<std::string> args;                  // after in.nc -o out.bin
  int status;
  std::string err;  // after the prefix; "..." at its end: only its start is given
};

class ImportRefusals : public testing::TestWithParam<BadCase> {};

TEST_P(ImportRefusals, NameTheFaultAndLeaveNothing) {
  const BadCase& c = GetParam();
  e2e::TempDir dir;
  c.make(dir);
  const std::string before = e2e::read_bytes(dir.file("in.nc"));
  std::vector<std::string> args{"in.nc", "-o", "out.bin"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const e2e::Result r = imptest::import(dir, args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, "");
  if (c.err.ends_with("..."))
    EXPECT_EQ(r.err.substr(0, kPrefix.size() + c.err.size() - 3),
              kPrefix + c.err.substr(0, c.err.size() - 3));
  else
    EXPECT_EQ(r.err, kPrefix + c.err);
  EXPECT_EQ(e2e::read_bytes(dir.file("in.nc")), before);
  for (const char* out : {"out.bin", "out.hdr", "out.grid.bin"})
    EXPECT_FALSE(e2e::exists(dir.file(out))) << out;
}

std::function<void(const e2e::TempDir&)> cdl(const std::string& text, bool classic = false) {
  return [text, classic](const e2e::TempDir& dir) { imptest::ncgen(dir, "in", text, classic); };
}

std::function<void(const e2e::TempDir&)> cut_classic(int64_t bytes) {
  return [bytes](const e2e::TempDir& dir) {
    imptest::ncgen(dir, "in", kFourSteps, true);
    truncate_by(dir.file("in.nc"), bytes);
  };
}

// A NetCDF-4 file whose longitude axis declares 10^15 values (HDF5 stores none of them).
void huge_axis(const e2e::TempDir& dir) {
  int id = -1, y = -1, x = -1, v = -1;
  nc_ok(nc_create(dir.file("in.nc").c_str(), NC_NETCDF4 | NC_CLOBBER, &id));
  nc_ok(nc_def_dim(id, "lat", 1, &y));
  nc_ok(nc_def_dim(id, "lon", 1000000000000000, &x));
  nc_ok(nc_def_var(id, "lat", NC_DOUBLE, 1, &y, &v));
  nc_ok(nc_def_var(id, "lon", NC_DOUBLE, 1, &x, &v));
  const int dims[2] = {y, x};
  nc_ok(nc_def_var(id, "tas", NC_FLOAT, 2, dims, &v));
  nc_ok(nc_close(id));
}

std::vector<BadCase> bad_cases() {
  const std::string grid2 = e2e::data_path("grid_2deg_northedge.bin");
  // One record: the time value (8 bytes), then tas (16 bytes).
  return {
      {"cut_classic_in_the_data",
       cut_classic(4),
       {},
       1,
       "'in.nc' is cut short: step 4 of variable 'tas' lies past its end (the values reach "
       "byte ..."},
      {"cut_classic_in_the_time_axis",
       cut_classic(20),
       {},
       1,
       "'in.nc' is cut short: step 4 of variable 'time' lies past its end (the values reach "
       "byte ..."},
      {"huge_declared_axis",
       huge_axis,
       {},
       1,
       "allocation refused for a declared size: variable 'lon' of 'in.nc' declares "
       "1000000000000000 values (8000000000000000 bytes), more than the memory available ..."},
      {"empty_time_axis",
       cdl("netcdf in {\ndimensions: time = UNLIMITED ; lat = 1 ; lon = 2 ;\nvariables: double "
           "time(time) ; time:units = \"days since 2000-01-01\" ; double lat(lat) ; double "
           "lon(lon) ; float tas(time, lat, lon) ;\ndata: lat = 1 ; lon = 1, 3 ;\n}\n"),
       {},
       1,
       "variable 'tas' of 'in.nc' has no time steps: its time axis 'time' has length 0\n"},
      {"scale_factor_as_text",
       cdl(two_cells("short", "tas:scale_factor = \"0.1\" ;")),
       {},
       1,
       "attribute scale_factor of variable 'tas' in 'in.nc' is text ('0.1'), not a number: "
       "import cannot tell which values it means (store it as a number, as CF asks)\n"},
      {"add_offset_as_text",
       cdl(two_cells("short", "tas:add_offset = \"273.15\" ;")),
       {},
       1,
       "attribute add_offset of variable 'tas' in 'in.nc' is text ('273.15'), not a number: "
       "import cannot tell which values it means (store it as a number, as CF asks)\n"},
      {"missing_value_as_text",
       cdl(two_cells("float", "tas:missing_value = \"-999\" ;")),
       {},
       1,
       "attribute missing_value of variable 'tas' in 'in.nc' is text ('-999'), not a number: "
       "import cannot tell which values it means (store it as a number, as CF asks)\n"},
      {"two_scale_factors",
       cdl(two_cells("short", "tas:scale_factor = 0.1, 0.2 ;")),
       {},
       1,
       "attribute scale_factor of variable 'tas' in 'in.nc' is not one finite number (2 values, "
       "the first 0.1)\n"},
      {"level_axis_is_not_time",
       cdl(depth_cdl(false)),
       {},
       1,
       "variable 'so' of 'in.nc' has dimensions (depth, lat, lon): 'depth' (2 levels: 5, 15) is "
       "not a time axis (no units '<unit> since <date>', axis T, standard_name time, nor the "
       "unlimited dimension or the name time); choose one level with --level VALUE or --level "
       "index:K\n"},
      {"four_dimensions_without_level",
       cdl(depth_cdl(true)),
       {},
       1,
       "variable 'so' of 'in.nc' has dimensions (time, depth, lat, lon) with the level axis "
       "'depth' (2 levels: 5, 15): choose one level with --level VALUE or --level index:K\n"},
      {"level_value_absent",
       cdl(depth_cdl(true)),
       {"--level", "10"},
       1,
       "--level 10 is none of the levels of 'depth' (2 levels: 5, 15) of variable 'so' of "
       "'in.nc'\n"},
      {"level_index_past_the_last",
       cdl(depth_cdl(false)),
       {"--level", "index:2"},
       1,
       "--level index:2 is past the last level of 'depth' (2 levels: 5, 15) of variable 'so' of "
       "'in.nc' (index 0 to 1)\n"},
      {"level_without_level_axis",
       cdl(two_cells("float", "")),
       {"--level", "5"},
       1,
       "--level 5: variable 'tas' of 'in.nc' has no level axis (its dimensions are (lat, "
       "lon))\n"},
      {"level_text",
       cdl(two_cells("float", "")),
       {"--level", "deep"},
       2,
       "--level 'deep' is neither a level's coordinate value (such as 850 or 2.5) nor "
       "index:K\nrun 'rastertools-import --help' for usage\n"},
      {"node_registered",
       cdl(node_cdl()),
       {},
       1,
       "'in.nc' is a node-registered grid: its latitudes lie on whole multiples of its 2 degree "
       "spacing from the poles, so cells centred on them would reach past the poles; import "
       "takes cell-centred grids: remap it first, e.g. cdo remapcon,global_2 in.nc OUT.nc\n"},
      {"latitude_off_the_globe",
       cdl("netcdf in {\ndimensions: lat = 2 ; lon = 1 ;\nvariables: double lat(lat) ; double "
           "lon(lon) ; float tas(lat, lon) ;\ndata: lat = 89, 95 ; lon = 1 ; tas = 1, 2 ;\n}\n"),
       {},
       1,
       "latitude 95 of 'in.nc' lies off the globe\n"},
      {"grid_on_another_lattice",
       cdl("netcdf in {\ndimensions: lat = 1 ; lon = 2 ;\nvariables: double lat(lat) ; double "
           "lon(lon) ; float tas(lat, lon) ;\ndata: lat = 1 ; lon = 0, 2 ; tas = 1, 2 ;\n}\n"),
       {"--grid", grid2},
       1,
       "grid file '" + grid2 +
           "' lies on the 2 degree grid but the cells of 'in.nc' on the 2 degree grid from "
           "(-181, 90)\n"},
      {"cells_finer_than_grid_records",
       cdl(two_cells("float", "")),
       {"--res", "0.01"},
       2,
       "--res 0.01 is not a resolution import handles (1/60 to 180 degrees)\nrun "
       "'rastertools-import --help' for usage\n"},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, ImportRefusals, testing::ValuesIn(bad_cases()),
                         imptest::CaseName{});

// The command the node-registered refusal names makes the file importable.
TEST(NodeRegistered, TheNamedCdoCommandMakesItImportable) {
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", node_cdl());
  const e2e::Result refused = imptest::import(dir, {"in.nc", "-o", "out.bin"});
  const std::string named = "cdo remapcon,global_2 in.nc OUT.nc";
  ASSERT_NE(refused.err.find(named), std::string::npos) << refused.err;
  imptest::run_peer("cdo", {"-s", "remapcon,global_2", "in.nc", "OUT.nc"}, dir.path());
  const e2e::Result r = imptest::import(dir, {"OUT.nc", "-o", "out.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(2 degree, northedge)"), std::string::npos) << r.out;
}

// A repeated column whose values differ from those it repeats: the dropped values are counted.
TEST(RepeatedColumn, DifferentValuesAreCounted) {
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", R"(netcdf in {
dimensions: lat = 2 ; lon = 3 ;
variables: double lat(lat) ; double lon(lon) ; float tas(lat, lon) ;
data: lat = 1, -1 ; lon = -179, 179, 181 ; tas = 1, 2, 1, 4, 5, 6 ;
})");
  const e2e::Result r = imptest::import(dir, {"in.nc", "-o", "out.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "rastertools-import: warning: 'in.nc': its column at longitude 181 repeats the one at "
            "longitude -179 (360 degrees apart) and is left out, although 1 of its values differ "
            "from those of the column it repeats: they are dropped\n");
  EXPECT_EQ(e2e::read_floats(dir.file("out.bin")), (std::vector<float>{1, 2, 4, 5}));
}

// Cells without a value in any step are counted in the line for people.
TEST(PixelsOfAnyStep, CellsLeftOutAreCounted) {
  e2e::TempDir dir;
  imptest::ncgen(dir, "in", R"(netcdf in {
dimensions: time = 2 ; lat = 1 ; lon = 3 ;
variables: double time(time) ; time:units = "days since 2000-01-01" ;
  double lat(lat) ; double lon(lon) ; float tas(time, lat, lon) ; tas:_FillValue = -1.f ;
data: time = 0, 200 ; lat = 1 ; lon = 1, 3, 5 ; tas = -1, 2, -1, 4, -1, -1 ;
})");
  const e2e::Result r = imptest::import(dir, {"in.nc", "-o", "out.bin"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(": 2 pixels (1 cells without a value left out), 2 bands"), std::string::npos)
      << r.out;
  const std::vector<float> got = e2e::read_floats(dir.file("out.bin"));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_TRUE(std::isnan(got[0]));
  EXPECT_EQ(got[1], 2);
  EXPECT_EQ(got[2], 4);
  EXPECT_TRUE(std::isnan(got[3]));
}

}  // namespace
