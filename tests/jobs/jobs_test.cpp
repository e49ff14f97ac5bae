// rastertools change and climatology against the positional tools on the same data: the inputs
// imported one by one (rastertools import) and corvane or mean called with the numbers import
// reports give the reference bytes; the jobs must write the same bytes with --format raw. Then
// every refusal with its message and status, and nothing written when refused.
#include "jobs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "corvane.h"
#include "e2e.h"
#include "jobs_support.h"
#include "mean_tool.h"

namespace {

const e2e::InProcess kChange("rastertools-change", jobs::run_change);
const e2e::InProcess kClimatology("rastertools-climatology", jobs::run_climatology);
const e2e::InProcess kCorvane("corvane", corvane::run_corvane);
const e2e::InProcess kMean("mean", meantool::run_mean);

using jobs_test::NcSpec;

// import's closing line: "npixel N nbandsyear K nyears Y firstyear F".
struct Imported {
  int64_t npixel = 0, bpy = 0, nyears = 0, first = 0;
};

Imported import(const std::string& nc, const std::string& bin) {
  const e2e::Result r = e2e::run("rastertools-import", {nc, "-o", bin});
  EXPECT_EQ(r.status, 0) << r.err;
  Imported im;
  std::string word;
  std::istringstream last(r.out.substr(r.out.rfind("npixel")));
  last >> word >> im.npixel >> word >> im.bpy >> word >> im.nyears >> word >> im.first;
  return im;
}

// The four parameter files (and a fraction file) of a change run, written and imported.
struct ChangeFiles {
  e2e::TempDir dir;
  Imported tas_ref, tas_fut, pr_ref, pr_fut, frac;
  explicit ChangeFiles(int64_t fut_first, int64_t fut_years) {
    const auto make = [&](const char* name, NcSpec s) {
      jobs_test::write_nc(dir.file(std::string(name) + ".nc"), s);
      return import(dir.file(std::string(name) + ".nc"), dir.file(std::string(name) + ".bin"));
    };
    tas_ref = make("tas_ref", {.seed = 1});
    tas_fut = make("tas_fut", {.first_year = fut_first, .nyears = fut_years, .seed = 2});
    pr_ref = make("pr_ref", {.var = "pr", .seed = 3});
    pr_fut = make("pr_fut", {.var = "pr", .first_year = fut_first, .nyears = fut_years, .seed = 4});
    frac = make("frac", {.var = "frac", .nyears = 1, .bpy = 1, .seed = 5});
  }
};

const char* const kOutputs[8] = {
    "angle",        "magnitude",        "angle_series",        "magnitude_series",
    "angle_global", "magnitude_global", "angle_series_global", "magnitude_series_global"};

struct ChangeCase {
  const char* name;
  int64_t fut_first, fut_years;  // of the future files
  int64_t ref_a, fut_a, len;     // the slices
  bool raw, natveg, norm;
};

class ChangeBytes : public testing::TestWithParam<ChangeCase> {};

TEST_P(ChangeBytes, EqualCorvaneOnTheImportedFiles) {
  const ChangeCase& c = GetParam();
  ChangeFiles f(c.fut_first, c.fut_years);
  const auto in = [&](const char* n) {
    return f.dir.file(std::string(n) + (c.raw ? ".bin" : ".nc"));
  };
  const auto years = [](int64_t a, int64_t n) {
    return std::to_string(a) + "-" + std::to_string(a + n - 1);
  };
  std::vector<std::string> job{"-o",          f.dir.file("out"),
                               "--format",    "raw",
                               "--ref-years", years(c.ref_a, c.len),
                               "--fut-years", years(c.fut_a, c.len),
                               "--param",     "tas",
                               "2",           in("tas_ref"),
                               in("tas_fut"), "--param",
                               "pr",          "1",
                               in("pr_ref"),  in("pr_fut")};
  // The positional command from import's numbers.
  std::vector<std::string> pos{"2", c.norm ? "1" : "0", c.natveg ? "1" : "0"};
  if (c.natveg) {
    job.insert(job.end(), {"--natveg", in("frac")});
    pos.push_back(f.dir.file("frac.bin"));
  }
  pos.insert(pos.end(), {std::to_string(f.tas_ref.nyears), std::to_string(f.tas_fut.nyears),
                         std::to_string(c.len), std::to_string(c.ref_a - f.tas_ref.first),
                         std::to_string(c.fut_a - f.tas_fut.first), f.dir.file("tas_ref.grid.bin"),
                         "10", "2", f.dir.file("tas_ref.bin"), f.dir.file("tas_fut.bin")});
  if (c.norm) pos.insert(pos.end(), {"280.5", "3.25"});
  pos.insert(pos.end(), {"1", f.dir.file("pr_ref.bin"), f.dir.file("pr_fut.bin")});
  if (c.norm) pos.insert(pos.end(), {"281", "0.5"});
  if (c.norm)
    job.insert(job.end(), {"--norm", "tas", "280.5", "3.25", "--norm", "pr", "281", "0.5"});
  pos.push_back(std::to_string(f.tas_ref.npixel));
  for (const char* o : kOutputs) pos.push_back(f.dir.file(std::string("pos_") + o));

  const e2e::Result r = e2e::run("rastertools-change", job);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const e2e::Result p = e2e::run("corvane", pos);
  ASSERT_EQ(p.status, 0) << p.err;
  for (const char* o : kOutputs) {
    const std::string got = e2e::read_bytes(f.dir.file("out/") + o + ".bin");
    EXPECT_FALSE(got.empty()) << o;
    EXPECT_TRUE(got == e2e::read_bytes(f.dir.file(std::string("pos_") + o))) << o;
  }
  EXPECT_TRUE(e2e::read_bytes(f.dir.file("out/grid.bin")) ==
              e2e::read_bytes(f.dir.file("tas_ref.grid.bin")));
  // The table: one row per parameter with its normalised weight and corvane's figures.
  EXPECT_NE(r.out.find("tas            0.666667"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(c.norm ? "280.500000         3.250000  (--norm)" : "global std"),
            std::string::npos)
      << r.out;
}

const ChangeCase kChangeCases[] = {
    {"netcdf", 2071, 4, 1972, 2072, 2, false, false, false},
    {"long_future_file", 2061, 20, 1971, 2075, 3, false, false, false},
    {"natveg_and_norm", 2071, 4, 1971, 2071, 4, false, true, true},
    {"raw_with_sidecars", 2061, 20, 1973, 2079, 2, true, true, false},
};
INSTANTIATE_TEST_SUITE_P(Cases, ChangeBytes, testing::ValuesIn(kChangeCases),
                         [](const auto& i) { return std::string(i.param.name); });

struct ClimCase {
  const char* name;
  int64_t a, b;
  bool sd, annual, raw;
};

class ClimatologyBytes : public testing::TestWithParam<ClimCase> {};

TEST_P(ClimatologyBytes, EqualMeanOnTheImportedFile) {
  const ClimCase& c = GetParam();
  e2e::TempDir dir;
  jobs_test::write_nc(dir.file("tas.nc"), {.nyears = 6});
  const Imported im = import(dir.file("tas.nc"), dir.file("tas.bin"));
  std::vector<std::string> job{dir.file(c.raw ? "tas.bin" : "tas.nc"),
                               "-o",
                               dir.file("clim.bin"),
                               "--years",
                               std::to_string(c.a) + "-" + std::to_string(c.b),
                               "--format",
                               "raw"};
  std::vector<std::string> pos{dir.file("tas.bin"),
                               dir.file("mean.bin"),
                               std::to_string(im.npixel),
                               std::to_string(c.a - im.first),
                               std::to_string(c.b - im.first),
                               std::to_string(im.bpy)};
  if (c.sd) job.push_back("--sd"), pos.push_back("-sd");
  if (c.annual) job.push_back("--annual"), pos.push_back("-gm");
  const e2e::Result r = e2e::run("rastertools-climatology", job);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(e2e::run("mean", pos).status, 0);
  const std::string got = e2e::read_bytes(dir.file("clim.bin"));
  EXPECT_EQ(got.size(), static_cast<size_t>(im.npixel * 4 * (12 * (c.sd ? 2 : 1) + c.annual)));
  EXPECT_TRUE(got == e2e::read_bytes(dir.file("mean.bin")));
}

const ClimCase kClimCases[] = {
    {"all_years", 1971, 1976, false, false, false},
    {"sd_annual_middle", 1972, 1975, true, true, false},
    {"one_year_sd", 1976, 1976, true, false, false},
    {"raw_input", 1973, 1974, true, true, true},
};
INSTANTIATE_TEST_SUITE_P(Cases, ClimatologyBytes, testing::ValuesIn(kClimCases),
                         [](const auto& i) { return std::string(i.param.name); });

// ---- refusals: message and status, and no output folder or file left ----

struct Refusal {
  const char* name;
  const char* tool;
  std::vector<std::string> args;  // "@" + name: a file of the test folder
  int status;
  std::string message;  // "@" replaced by the folder
};

class Refusals : public testing::TestWithParam<Refusal> {};

TEST_P(Refusals, NameTheFileAndValue) {
  const Refusal& c = GetParam();
  e2e::TempDir dir;
  jobs_test::write_nc(dir.file("tas_ref.nc"), {});
  jobs_test::write_nc(dir.file("tas_fut.nc"), {.first_year = 2071});
  jobs_test::write_nc(dir.file("pr_ref.nc"), {.var = "pr"});
  jobs_test::write_nc(dir.file("pr_fut.nc"), {.var = "pr", .first_year = 2071});
  jobs_test::write_nc(dir.file("pr_20deg.nc"), {.var = "pr", .first_year = 2071, .res = 20});
  jobs_test::write_nc(dir.file("pr_mask.nc"), {.var = "pr", .first_year = 2071, .mask = 1});
  jobs_test::write_nc(dir.file("pr_annual.nc"), {.var = "pr", .first_year = 2071, .bpy = 1});
  jobs_test::write_nc(dir.file("pr_late.nc"), {.var = "pr", .first_year = 1972});
  ASSERT_EQ(mkfifo(dir.file("fifo.nc").c_str(), 0600), 0);
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(a[0] == '@' ? dir.file(a.substr(1)) : a);
  const e2e::Result r = e2e::run(c.tool, args);
  std::string msg = c.message;
  for (size_t at = msg.find('@'); at != std::string::npos; at = msg.find('@'))
    msg.replace(at, 1, dir.path() + "/");
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(msg), std::string::npos) << r.err;
  EXPECT_FALSE(e2e::exists(dir.file("out")));
  struct stat st = {};
  EXPECT_TRUE(stat(dir.file("fifo.nc").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

std::vector<std::string> change(const std::string& ref, const std::string& fut,
                                const std::string& weight, const std::string& pr_ref,
                                const std::string& pr_fut) {
  return {"-o",   "@out",        "--ref-years", ref,       "--fut-years", fut, "--param", "tas",
          weight, "@tas_ref.nc", "@tas_fut.nc", "--param", "pr",          "1", pr_ref,    pr_fut};
}

const Refusal kRefusals[] = {
    {"other_lattice", "rastertools-change",
     change("1971-1972", "2071-2072", "2", "@pr_ref.nc", "@pr_20deg.nc"), 1,
     "inputs on different grids: '@pr_20deg.nc' lies on the 20 degree grid, not on the 10 "
     "degree grid"},
    {"other_pixels", "rastertools-change",
     change("1971-1972", "2071-2072", "2", "@pr_ref.nc", "@pr_mask.nc"), 1,
     "inputs on different grids: '@pr_mask.nc' has values in 130 cells outside the 518 pixels "
     "and no value in any step read at 130 of them"},
    {"slice_outside", "rastertools-change",
     change("1969-1972", "2071-2074", "2", "@pr_ref.nc", "@pr_fut.nc"), 1,
     "--ref-years 1969-1972: '@tas_ref.nc' holds the years 1971-1974"},
    {"future_outside", "rastertools-change",
     change("1971-1972", "2074-2075", "2", "@pr_ref.nc", "@pr_fut.nc"), 1,
     "--fut-years 2074-2075: '@tas_fut.nc' holds the years 2071-2074"},
    {"slice_lengths", "rastertools-change",
     change("1971-1972", "2071-2073", "2", "@pr_ref.nc", "@pr_fut.nc"), 2,
     "slices of different lengths: --ref-years 1971-1972 holds 2 years but --fut-years "
     "2071-2073 3"},
    {"bands_per_year", "rastertools-change",
     change("1971-1972", "2071-2072", "2", "@pr_ref.nc", "@pr_annual.nc"), 1,
     "--param pr: '@pr_ref.nc' has 12 bands per year but '@pr_annual.nc' has 1"},
    {"weight_text", "rastertools-change",
     change("1971-1972", "2071-2072", "abc", "@pr_ref.nc", "@pr_fut.nc"), 2,
     "--param tas: weight 'abc' is not a number"},
    {"weight_negative", "rastertools-change",
     change("1971-1972", "2071-2072", "-2", "@pr_ref.nc", "@pr_fut.nc"), 2,
     "--param tas: weight '-2' is not a positive number"},
    {"weight_zero", "rastertools-change",
     change("1971-1972", "2071-2072", "0", "@pr_ref.nc", "@pr_fut.nc"), 2,
     "--param tas: weight '0' is not a positive number"},
    {"missing_variable", "rastertools-change",
     change("1971-1972", "2071-2072", "2", "@tas_ref.nc", "@pr_fut.nc"), 1,
     "'@tas_ref.nc' has no variable 'pr'; its data variables: tas"},
    {"reference_years_differ", "rastertools-change",
     change("1972-1973", "2071-2072", "2", "@pr_late.nc", "@pr_fut.nc"), 1,
     "the reference files cover different years: '@tas_ref.nc' holds 1971-1974 but "
     "'@pr_late.nc' 1972-1975"},
    {"climatology_years",
     "rastertools-climatology",
     {"@tas_ref.nc", "-o", "@out", "--years", "1970-1972"},
     1,
     "--years 1970-1972: '@tas_ref.nc' holds the years 1971-1974"},
    {"climatology_into_fifo",
     "rastertools-climatology",
     {"@tas_ref.nc", "-o", "@fifo.nc", "--years", "1971-1972"},
     2,
     "output '@fifo.nc' exists and is not a regular file"},
};
INSTANTIATE_TEST_SUITE_P(Cases, Refusals, testing::ValuesIn(kRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
