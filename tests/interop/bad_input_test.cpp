// Bad input for info, export, import and map, as an adversarial user gives it: empty and 1-byte
// files, folders, FIFOs and devices, files of other formats (NetCDF, GeoTIFF, PNG, cut and
// forged headers), sidecars of other files, odd grids, numbers out of range, outputs in missing
// folders or on an input through a link. Each case of the table runs one tool on a folder of
// such files and checks the status, a fragment of the message that names the cause, that every
// line on stderr is the tool's own, and that the folder is left exactly as it was (no output, no
// temporary file, no input changed). Then the outputs that are streams: devices, FIFOs with a
// reader, standard output, and a symbolic link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"
#include "fixtures.h"

namespace {

namespace fs = std::filesystem;

std::string at_dir(std::string s, const std::string& dir) {
  for (size_t i = s.find('@'); i != std::string::npos; i = s.find('@', i + dir.size()))
    s.replace(i, 1, dir);
  return s;
}

// What a folder holds: per name, its kind and (for regular files) its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> s;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const fs::file_status st = e.symlink_status();
    std::string& v = s[e.path().string()];
    v = std::to_string(static_cast<int>(st.type()));
    v.push_back(':');
    if (st.type() == fs::file_type::regular) v.append(e2e::read_bytes(e.path().string()));
    if (st.type() == fs::file_type::symlink) v.append(fs::read_symlink(e.path()).string());
  }
  return s;
}

void make_fifo(const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path; }

// The folder every case runs on, made once: good files, files of other formats, broken ones.
class BadInput : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new e2e::TempDir;
    const std::string d = dir_->path();
    const fixtures::GridCase& g = fixtures::bundled_grids()[0];
    const std::string grid = e2e::read_bytes(e2e::data_path(g.file));
    e2e::write_bytes(d + "/grid.bin", grid);
    e2e::write_floats(d + "/x.bin", fixtures::sample_bands(g.npixel, 2));
    e2e::write_bytes(d + "/x.hdr",
                     "ENVI\nsamples = 3862\nbands = 2\nrastertools grid file = grid.bin\n");
    e2e::write_bytes(d + "/with space.bin", e2e::read_bytes(d + "/x.bin"));
    e2e::write_bytes(d + "/empty.bin", "");
    e2e::write_bytes(d + "/one.bin", "\x01");
    e2e::write_bytes(d + "/odd.grid", grid.substr(0, grid.size() - 1));
    e2e::write_bytes(d + "/empty.grid", "");
    // Sidecars that do not belong: 3862 pixels do not divide 100 bytes; a size past any file.
    e2e::write_bytes(d + "/other.bin", std::string(100, '\0'));
    e2e::write_bytes(d + "/other.hdr", "ENVI\nsamples = 3862\nrastertools grid file = grid.bin\n");
    e2e::write_bytes(d + "/huge.bin", std::string(8, '\0'));
    e2e::write_bytes(d + "/huge.hdr", "ENVI\nsamples = 9223372036854775807\n");
    e2e::write_bytes(d + "/sf.bin", std::string(8, '\0'));
    make_fifo(d + "/sf.hdr");
    fs::create_directory(d + "/dir");
    make_fifo(d + "/fifo");
    fs::create_symlink("x.bin", d + "/link.bin");
    fs::create_symlink("loop2.png", d + "/loop1.png");
    fs::create_symlink("loop1.png", d + "/loop2.png");
    fs::create_hard_link(d + "/x.bin", d + "/hard.bin");
    // Other formats, written by the tools themselves, and their broken or forged kin.
    const std::vector<std::string> nc{d + "/x.bin", "-o",           d + "/x.nc", "--bands-per-year",
                                      "1",          "--first-year", "2000",      "--var",
                                      "tas",        "--units",      "K"};
    ASSERT_EQ(e2e::run("rastertools-export", nc).status, 0);
    ASSERT_EQ(e2e::run("rastertools-export", {d + "/x.bin", "-o", d + "/x.tif"}).status, 0);
    ASSERT_EQ(e2e::run("rastertools-map", {d + "/x.bin", "-o", d + "/m.png"}).status, 0);
    e2e::write_bytes(d + "/cut.nc", e2e::read_bytes(d + "/x.nc").substr(0, 1000));
    // The smallest classic file: no record, and absent dimension, attribute and variable lists.
    e2e::write_bytes(d + "/mini.nc", std::string("CDF\x01", 4) + std::string(28, '\0'));
    e2e::write_bytes(d + "/cdf2.bin", std::string("CDF\x02", 4));
    e2e::write_bytes(d + "/ub.h5", std::string(512, '\0') + "\x89HDF\r\n\x1a\n" + "junk");
    // A northern-edge grid whose second pixel lies at latitude 95; a raw file 3 bytes too long.
    const int16_t north[4] = {-17900, 8400, -17700, 9500};
    e2e::write_bytes(d + "/north.grid", std::string(reinterpret_cast<const char*>(north), 8));
    e2e::write_bytes(d + "/long.bin", e2e::read_bytes(d + "/x.bin") + "abc");
    e2e::write_floats(d + "/two.bin", {1.5f, 2.5f});
    // Starts like a TIFF but its first directory lies past the end: raw values.
    e2e::write_bytes(d + "/notiff.bin", std::string("II*\0\xff\xff\xff\x7f", 8));
  }
  static void TearDownTestSuite() { delete dir_; }
  static e2e::TempDir* dir_;
};
e2e::TempDir* BadInput::dir_ = nullptr;

struct Case {
  const char* name;
  const char* tool;  // info, export, import, map
  std::vector<std::string> args;
  int status;
  std::string err;  // a fragment of stderr ("" for none)
  std::string out;  // a fragment of stdout ("" for none)
};

class BadInputCases : public BadInput, public testing::WithParamInterface<Case> {};

TEST_P(BadInputCases, RefusedOrDescribedLeavingTheFolderAsItWas) {
  const Case& c = GetParam();
  const std::string d = dir_->path();
  const auto before = snapshot(d);
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(at_dir(a, d));
  const e2e::ScopedEnv quick("E2E_TIMEOUT_SECONDS", 60);  // a tool that waits fails the case
  const std::string program = std::string("rastertools-") + c.tool;
  const e2e::Result r = e2e::run(program, args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(at_dir(c.err, d)), std::string::npos) << r.err;
  EXPECT_NE(r.out.find(at_dir(c.out, d)), std::string::npos) << r.out;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(line.rfind(program + ": ", 0) == 0 || line.rfind("run '", 0) == 0) << line;
  EXPECT_EQ(snapshot(d), before) << "the folder changed";
}

const std::string kNc = "is a NetCDF-4/HDF5 file, not a raw raster file; import it first: ";
const std::string kFifo = "is a FIFO (named pipe), not a regular file";
const std::string kOdd =
    "grid file @/odd.grid has 15447 bytes, not a whole number of 4-byte records";
const std::vector<std::string> kX{"@/x.bin", "--grid", "@/grid.bin"};

std::vector<std::string> x_and(std::vector<std::string> more) {
  std::vector<std::string> a = kX;
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

// One case a line or two, as a table.
// clang-format off
const Case kCases[] = {
    // info: what it describes, and what it refuses
    {"info_empty", "info", {"@/empty.bin", "--npixel", "10"}, 0, "", "0 band(s) of 10 pixels"},
    {"info_one_byte", "info", {"@/one.bin", "--npixel", "1"}, 0,
     "@/one.bin: its 1 bytes make no whole band of 1 pixels", "0 band(s) of 1 pixels"},
    {"info_folder", "info", {"@/dir", "--npixel", "1"}, 1, "@/dir is a folder", ""},
    {"info_fifo", "info", {"@/fifo", "--npixel", "1"}, 1, "@/fifo " + kFifo, ""},
    {"info_grid_fifo", "info", {"@/x.bin", "--grid", "@/fifo"}, 1, "grid file @/fifo " + kFifo, ""},
    {"info_sidecar_fifo", "info", {"@/sf.bin", "--npixel", "2"}, 1, "sidecar @/sf.hdr is a FIFO",
     ""},
    {"info_odd_grid", "info", {"--grid", "@/odd.grid"}, 1, kOdd, ""},
    {"info_latitude_95", "info", {"--grid", "@/north.grid"}, 0, "",
     "pixel 1 at lat 95.00 lies off the globe"},
    {"info_empty_grid", "info", {"--grid", "@/empty.grid"}, 1, "grid file @/empty.grid is empty",
     ""},
    {"info_npixel_huge", "info", {"@/x.bin", "--npixel", "9223372036854775807"}, 2,
     "--npixel 9223372036854775807 is out of range: give a whole number from 1 to", ""},
    {"info_npixel_hex", "info", {"@/x.bin", "--npixel", "0x10"}, 2,
     "--npixel '0x10' is not a whole number", ""},
    {"info_npixel_octal_looking", "info", {"@/x.bin", "--npixel", "03862"}, 0, "",
     "2 band(s) of 3862 pixels"},
    {"info_npixel_fraction", "info", {"@/x.bin", "--npixel", "10.0"}, 2, "is not a whole number",
     ""},
    {"info_npixel_empty", "info", {"@/x.bin", "--npixel", ""}, 2, "--npixel '' is not a whole", ""},
    {"info_first_year_min_int", "info",
     x_and({"--bands-per-year", "1", "--first-year", "-2147483648"}), 2,
     "--first-year -2147483648 is out of range: give a whole number from 1 to 9999", ""},
    {"info_years_past_9999", "info", x_and({"--bands-per-year", "1", "--first-year", "9999"}), 2,
     "would fall in the years 9999 to 10000", ""},
    {"info_first_year_alone", "info", x_and({"--first-year", "1971"}), 2,
     "--first-year 1971 needs --bands-per-year", ""},
    {"info_bands_per_year_zero", "info", x_and({"--bands-per-year", "0"}), 2, "out of range", ""},
    {"info_band_overflow", "info", x_and({"--bands", "0-99999999999999999999"}), 2,
     "bad band range", ""},
    {"info_res_tiny", "info", x_and({"--res", "1e-300"}), 2, "from 1/1000 to 180 degrees", ""},
    {"info_res_nan", "info", x_and({"--res", "nan"}), 2, "bad resolution 'nan'", ""},
    {"info_netcdf", "info", {"@/x.nc"}, 0, "sidecar @/x.hdr is not used: @/x.nc is a NetCDF-4",
     "tas(time, lat, lon): float, units K"},
    {"info_netcdf_time", "info", {"@/x.nc"}, 0, "",
     "Time:      2 step(s), 2000-07-02 .. 2001-07-02, calendar proleptic_gregorian"},
    {"info_netcdf_import_line", "info", {"@/x.nc"}, 0, "",
     "Import:    rastertools import @/x.nc -o @/x.bin --var tas"},
    {"info_netcdf_raw_options", "info", {"@/x.nc", "--npixel", "5"}, 2,
     "describe raw raster files", ""},
    {"info_geotiff", "info", {"@/x.tif"}, 0, "", "EPSG:4326"},
    {"info_cut_netcdf", "info", {"@/cut.nc"}, 1, "cannot read @/cut.nc with libnetcdf", ""},
    {"info_minimal_classic", "info", {"@/mini.nc"}, 0, "", "NetCDF classic"},
    {"info_cut_classic_header", "info", {"@/cdf2.bin"}, 1, "cannot read @/cdf2.bin with libnetcdf",
     ""},
    {"info_hdf5_user_block", "info", {"@/ub.h5"}, 1, "cannot read @/ub.h5 with libnetcdf", ""},
    {"info_png", "info", {"@/m.png"}, 0, "", "PNG image"},
    {"info_tiff_lookalike_is_raw", "info", {"@/notiff.bin", "--npixel", "2"}, 0, "",
     "8 bytes = 1 band(s) of 2 pixels"},
    {"info_sidecar_of_another_file", "info", {"@/other.bin"}, 2,
     "sidecar @/other.hdr is not used for @/other.bin: its 3862 pixels a band", ""},
    {"info_sidecar_huge_samples", "info", {"@/huge.bin"}, 1,
     "sidecar @/huge.hdr: samples 9223372036854775807 is not a pixel count", ""},
    {"info_name_with_space", "info", {"@/with space.bin", "--npixel", "3862"}, 0, "",
     "2 band(s) of 3862 pixels"},
    {"info_through_symlink", "info", {"@/link.bin", "--npixel", "3862"}, 0, "",
     "2 band(s) of 3862 pixels"},
    // export
    {"export_netcdf_input", "export", {"@/x.nc", "-o", "@/o.nc", "--grid", "@/grid.bin"}, 1,
     "@/x.nc " + kNc + "rastertools import @/x.nc -o @/x.bin", ""},
    {"export_png_input", "export", {"@/m.png", "-o", "@/o.nc", "--grid", "@/grid.bin"}, 1,
     "a PNG holds no values to read", ""},
    {"export_fifo_input", "export", {"@/fifo", "-o", "@/o.nc", "--grid", "@/grid.bin"}, 1,
     "@/fifo " + kFifo, ""},
    {"export_folder_input", "export", {"@/dir", "-o", "@/o.nc", "--grid", "@/grid.bin"}, 1,
     "@/dir is a folder", ""},
    {"export_empty", "export", {"@/empty.bin", "-o", "@/o.nc", "--grid", "@/grid.bin"}, 1,
     "@/empty.bin holds no whole band", ""},
    {"export_one_byte", "export", {"@/one.bin", "-o", "@/o.nc", "--grid", "@/grid.bin"}, 1,
     "@/one.bin holds no whole band", ""},
    {"export_netcdf_to_fifo", "export", x_and({"-o", "@/fifo", "--format", "netcdf"}), 1,
     "cannot write NetCDF to @/fifo: it is a FIFO (named pipe), and NetCDF is written into a "
     "regular file",
     ""},
    {"export_geotiff_to_fifo", "export", x_and({"-o", "@/fifo", "--format", "gtiff"}), 1,
     "cannot write GeoTIFF to @/fifo", ""},
    {"export_empty_output_name", "export", x_and({"-o", "", "--format", "netcdf"}), 2,
     "an output needs a name", ""},
    {"export_to_folder", "export", x_and({"-o", "@/dir", "--format", "netcdf"}), 1,
     "cannot write @/dir: it is a folder", ""},
    {"export_missing_folder", "export", x_and({"-o", "@/no/o.nc"}), 1,
     "folder @/no does not exist", ""},
    {"export_over_input_by_hard_link", "export", x_and({"-o", "@/hard.bin", "--format", "cog"}), 2,
     "output @/hard.bin is the input @/x.bin", ""},
    {"export_over_input_by_symlink", "export", x_and({"-o", "@/link.bin", "--format", "gtiff"}), 2,
     "output @/link.bin is the input @/x.bin", ""},
    {"export_grid_fifo", "export", {"@/x.bin", "-o", "@/o.nc", "--grid", "@/fifo"}, 1,
     "grid file @/fifo " + kFifo, ""},
    {"export_odd_grid", "export", {"@/x.bin", "-o", "@/o.nc", "--grid", "@/odd.grid"}, 1, kOdd, ""},
    {"export_latitude_95", "export", {"@/two.bin", "-o", "@/o.nc", "--grid", "@/north.grid"}, 1,
     "grid file @/north.grid: pixel 1 (lon -177.00, lat 95.00) lies off the globe", ""},
    {"export_first_year_min_int", "export",
     x_and({"-o", "@/o.nc", "--bands-per-year", "1", "--first-year", "-2147483648"}), 2,
     "--first-year -2147483648 is out of range", ""},
    {"export_years_past_9999", "export",
     x_and({"-o", "@/o.nc", "--bands-per-year", "1", "--first-year", "9999"}), 2,
     "years run from 1 to 9999", ""},
    {"export_bands_per_year_huge", "export", x_and({"-o", "@/o.nc", "--bands-per-year", "8785"}), 2,
     "--bands-per-year 8785 is out of range: give a whole number from 1 to 8784", ""},
    {"export_npixel_huge", "export", x_and({"-o", "@/o.nc", "--npixel", "9223372036854775807"}),
     2, "out of range", ""},
    {"export_res_zero", "export", x_and({"-o", "@/o.nc", "--res", "0"}), 2, "bad resolution '0'",
     ""},
    {"export_sidecar_of_another_file", "export", {"@/other.bin", "-o", "@/o.nc"}, 2,
     "sidecar @/other.hdr is not used for @/other.bin", ""},
    // map
    {"map_netcdf_input", "map", {"@/x.nc", "-o", "@/o.png", "--grid", "@/grid.bin"}, 1,
     "@/x.nc " + kNc + "rastertools import @/x.nc -o @/x.bin", ""},
    {"map_geotiff_input", "map", {"@/x.tif", "-o", "@/o.png"}, 1,
     "@/x.tif is a TIFF/GeoTIFF file, not a raw raster file; import it first", ""},
    {"map_fifo_input", "map", {"@/fifo", "-o", "@/o.png", "--grid", "@/grid.bin"}, 1,
     "@/fifo " + kFifo, ""},
    {"map_scale_zero", "map", x_and({"-o", "@/o.png", "--scale", "0"}), 2,
     "--scale 0 is out of range: give a whole number from 1 to 64", ""},
    {"map_scale_fraction", "map", x_and({"-o", "@/o.png", "--scale", "1.5"}), 2,
     "--scale '1.5' is not a whole number", ""},
    {"map_pattern_too_wide", "map", x_and({"--bands", "0-1", "--out", "@/m_%070d.png"}), 2,
     "a field wider than 20 characters", ""},
    {"map_pattern_one_name", "map", x_and({"--bands", "0-1", "--out", "@/m.png"}), 2,
     "must hold one band number conversion", ""},
    {"map_range_nan", "map", x_and({"-o", "@/o.png", "--range", "nan", "1"}), 2,
     "--range 'nan' is not a number", ""},
    {"map_center_inf", "map", x_and({"-o", "@/o.png", "--center", "inf"}), 2,
     "--center 'inf' is not a number", ""},
    {"map_percentiles_negative", "map", x_and({"-o", "@/o.png", "--percentiles", "-1", "50"}), 2,
     "--percentiles -1 is out of range: give a number from 0 to 100", ""},
    {"map_extent_word", "map", x_and({"-o", "@/o.png", "--extent", "0", "10", "0", "x"}), 2,
     "--extent 'x' is not a number", ""},
    {"map_band_hex", "map", x_and({"-o", "@/o.png", "--band", "0x1"}), 2,
     "--band '0x1' is not a whole number", ""},
    {"map_odd_grid", "map", {"@/x.bin", "-o", "@/o.png", "--grid", "@/odd.grid"}, 1, kOdd, ""},
    {"map_leftover_bytes_named", "map", {"@/long.bin", "-o", "@/o.png", "--grid", "@/grid.bin",
     "--band", "9"}, 2, "@/long.bin: the last 3 bytes make no whole band of 3862 pixels", ""},
    {"map_missing_folder", "map", x_and({"-o", "@/no/o.png"}), 1, "folder @/no does not exist", ""},
    {"map_symlink_loop", "map", x_and({"-o", "@/loop1.png"}), 1,
     "cannot write @/loop1.png: its symbolic links go round in a loop", ""},
    {"map_over_input_by_hard_link", "map", x_and({"-o", "@/hard.bin"}), 2,
     "output @/hard.bin is the input @/x.bin", ""},
    // import
    {"import_fifo_input", "import", {"@/fifo", "-o", "@/o.bin"}, 1, "@/fifo " + kFifo, ""},
    {"import_folder_input", "import", {"@/dir", "-o", "@/o.bin"}, 1, "@/dir is a folder", ""},
    {"import_missing_folder", "import", {"@/x.nc", "-o", "@/no/o.bin"}, 1,
     "folder @/no does not exist", ""},
    {"import_fifo_sidecar_beside", "import", {"@/x.nc", "-o", "@/sf.bin"}, 1,
     "cannot write @/sf.hdr beside @/sf.bin: it is a FIFO (named pipe), which is never replaced",
     ""},
    {"import_over_input", "import", {"@/x.nc", "-o", "@/x.nc"}, 2, "is the input", ""},
    {"import_res_hex", "import", {"@/x.nc", "-o", "@/o.bin", "--res", "0x1p-1"}, 2,
     "bad resolution '0x1p-1'", ""},
    {"import_odd_grid", "import", {"@/x.nc", "-o", "@/o.bin", "--grid", "@/odd.grid"}, 1, kOdd, ""},
    {"import_grid_fifo", "import", {"@/x.nc", "-o", "@/o.bin", "--grid", "@/fifo"}, 1,
     "grid file @/fifo " + kFifo, ""},
    {"import_empty", "import", {"@/empty.bin", "-o", "@/o.bin"}, 1, "@/empty.bin", ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, BadInputCases, testing::ValuesIn(kCases), fixtures::CaseName{});

// ---- outputs that are streams ---------------------------------------------------------------

// A character device node of our own (as /dev/null is 1,3 and /dev/full is 1,7), so that a fault
// replaces nothing of the system's.
bool make_device(const std::string& path, unsigned minor) {
  return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0;
}

bool is_char_device(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

class StreamOutputs : public BadInput {};

TEST_F(StreamOutputs, NullDeviceTakesStreamsAndKeepsItsPlace) {
  e2e::TempDir dir;
  if (!make_device(dir.file("null"), 3)) GTEST_SKIP() << "cannot make a device node here";
  const std::string d = dir_->path();
  const e2e::Result map = e2e::run("rastertools-map", {d + "/x.bin", "-o", dir.file("null")});
  EXPECT_EQ(map.status, 0) << map.err;
  const e2e::Result imp = e2e::run("rastertools-import", {d + "/x.nc", "-o", dir.file("null")});
  EXPECT_EQ(imp.status, 0) << imp.err;
  EXPECT_NE(imp.err.find("output " + dir.file("null") +
                         " is a character device: the values are "
                         "written straight through it, and no "
                         "sidecar is written beside it"),
            std::string::npos)
      << imp.err;
  const e2e::Result ex =
      e2e::run("rastertools-export", {d + "/x.bin", "-o", dir.file("null"), "--format", "netcdf"});
  EXPECT_EQ(ex.status, 1);
  EXPECT_TRUE(is_char_device(dir.file("null")));
  // Nothing beside it: no sidecar, no grid, no temporary file.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1);
}

TEST_F(StreamOutputs, FullDeviceFailsWithItsMessage) {
  e2e::TempDir dir;
  if (!make_device(dir.file("full"), 7)) GTEST_SKIP() << "cannot make a device node here";
  const std::string d = dir_->path();
  for (const char* tool : {"rastertools-map", "rastertools-import"}) {
    const std::string in = std::string(tool) == "rastertools-map" ? "/x.bin" : "/x.nc";
    const e2e::Result r = e2e::run(tool, {d + in, "-o", dir.file("full")});
    EXPECT_EQ(r.status, 1) << tool;
    EXPECT_NE(r.err.find("cannot write " + dir.file("full") + ": No space left on device"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(is_char_device(dir.file("full")));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1);
}

// A reader on a FIFO gets the bytes a regular file would hold.
TEST_F(StreamOutputs, FifoWithAReaderGetsTheWholeOutput) {
  e2e::TempDir dir;
  const std::string d = dir_->path();
  make_fifo(dir.file("pipe"));
  struct Run {
    const char* tool;
    std::string in;
  };
  for (const Run& run :
       {Run{"rastertools-import", d + "/x.nc"}, Run{"rastertools-map", d + "/x.bin"}}) {
    std::string got;
    std::atomic<bool> done = false;
    std::thread reader([&] {
      got = e2e::read_bytes(dir.file("pipe"));
      done = true;
    });
    const e2e::Result r = e2e::run(run.tool, {run.in, "-o", dir.file("pipe")});
    // A tool that failed before it opened the FIFO leaves the reader waiting: a writer of our
    // own opens and closes it, which ends the reader's wait with no bytes.
    while (!done) {
      const int fd = ::open(dir.file("pipe").c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reader.join();
    EXPECT_EQ(r.status, 0) << r.err;
    const e2e::Result f = e2e::run(run.tool, {run.in, "-o", dir.file("file")});
    ASSERT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(got, e2e::read_bytes(dir.file("file"))) << run.tool;
    EXPECT_FALSE(got.empty());
    fs::remove(dir.file("file"));
    fs::remove(dir.file("file.hdr"));
    fs::remove(dir.file("file.grid.bin"));
  }
  struct stat st {};
  EXPECT_TRUE(stat(dir.file("pipe").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

// -o /dev/stdout: the values alone on standard output, the report on standard error.
TEST_F(StreamOutputs, StandardOutputHoldsOnlyTheValues) {
  e2e::TempDir dir;
  const std::string d = dir_->path();
  const e2e::Result r = e2e::run("rastertools-import", {d + "/x.nc", "-o", "/dev/stdout"});
  ASSERT_EQ(r.status, 0) << r.err;
  const e2e::Result f = e2e::run("rastertools-import", {d + "/x.nc", "-o", dir.file("o.bin")});
  ASSERT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(r.out, e2e::read_bytes(dir.file("o.bin")));
  EXPECT_NE(r.err.find("output /dev/stdout is standard output"), std::string::npos) << r.err;
  // The closing line for scripts, on standard error.
  const std::string last = f.out.substr(f.out.rfind("npixel "));
  EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last) << r.err;
  EXPECT_FALSE(e2e::exists("/dev/stdout.hdr"));
  const e2e::Result m = e2e::run("rastertools-map", {d + "/x.bin", "-o", "/dev/stdout"});
  ASSERT_EQ(m.status, 0) << m.err;
  EXPECT_EQ(m.out.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_NE(m.err.find("/dev/stdout: band 0"), std::string::npos) << m.err;
}

// An output that is a symbolic link to a file: the file it leads to is replaced, the link stays.
TEST_F(StreamOutputs, SymbolicLinkIsFollowedAndKept) {
  e2e::TempDir dir;
  const std::string d = dir_->path();
  fs::create_directory(dir.file("store"));
  e2e::write_bytes(dir.file("store/real.nc"), "old");
  fs::create_symlink("store/real.nc", dir.file("link.nc"));
  const e2e::Result r = e2e::run("rastertools-export", {d + "/x.bin", "-o", dir.file("link.nc")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir.file("link.nc")));
  EXPECT_EQ(e2e::read_bytes(dir.file("store/real.nc")).substr(1, 3), "HDF");
  // No temporary file is left, beside the link or the file.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("store")), fs::directory_iterator{}), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 2);
}

}  // namespace
