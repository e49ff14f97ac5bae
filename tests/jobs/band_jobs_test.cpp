// rastertools dissimilarity and calc against fennick and the band tools on the same data: the
// NetCDF inputs imported one by one (rastertools import) and the positional tool called with the
// band and year positions worked out here from the files' first years give the reference bytes;
// the jobs, given calendar years, must write the same bytes with --format raw, from the NetCDF
// files and from the imported raw files. Then every refusal with its message and status, nothing
// written when refused, and cdo reading the NetCDF outputs with their dates.
#include "band_jobs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bandmath.h"
#include "e2e.h"
#include "fennick.h"
#include "fixtures.h"
#include "jobs_support.h"

namespace {

const e2e::InProcess kDissimilarity("rastertools-dissimilarity", jobs::run_dissimilarity);
const e2e::InProcess kCalc("rastertools-calc", jobs::run_calc);
const e2e::InProcess kFennick("fennick", fennick::run_fennick);
const e2e::InProcess kSum("sum", bandmath::run_sum);
const e2e::InProcess kMult("mult", bandmath::run_mult);
const e2e::InProcess kDiv("div", bandmath::run_div);
const e2e::InProcess kAdd("add", bandmath::run_add);
const e2e::InProcess kScale("scale", bandmath::run_scale);
const e2e::InProcess kLimits("limits", bandmath::run_limits);
const e2e::InProcess kLogistic("logistic", bandmath::run_logistic);
const e2e::InProcess kSlivet("slivet", bandmath::run_slivet);

using jobs_test::NcSpec;
using Args = std::vector<std::string>;

// The inputs of every case, as NetCDF (NAME.nc) and imported (NAME.bin with sidecar): monthly
// a (1971-1974) and b (1970-1975, so that pairing by date is not pairing by position), annual c,
// and FPC files of 10 bands a year, f (1971-1974) and g (2071-2075). 36 x 18 cells, 518 pixels.
class Inputs {
 public:
  Inputs() {
    make("a", {.var = "a", .seed = 1});
    make("b", {.var = "b", .first_year = 1970, .nyears = 6, .seed = 2});
    make("c", {.var = "c", .bpy = 1, .seed = 3});
    make("f", {.var = "fpc", .bpy = 10, .seed = 4});
    make("g", {.var = "fpc", .first_year = 2071, .nyears = 5, .bpy = 10, .seed = 5});
  }
  std::string path(const std::string& name) const { return dir_.file(name); }
  const std::string& npixel() const { return npixel_; }

 private:
  void make(const std::string& name, const NcSpec& s) {
    jobs_test::write_nc(path(name + ".nc"), s);
    const e2e::Result r =
        e2e::run("rastertools-import", {path(name + ".nc"), "-o", path(name + ".bin")});
    ASSERT_EQ(r.status, 0) << r.err;
    npixel_ = r.out.substr(r.out.rfind("npixel ") + 7);
    npixel_ = npixel_.substr(0, npixel_.find(' '));
  }
  e2e::TempDir dir_;
  std::string npixel_;
};

const Inputs& inputs() {
  static const Inputs in;
  return in;
}

// A job and the positional run that must give the same bytes. In both, "@x" stands for input x
// (.nc or .bin for the job, .bin for the tool), "@out" for the output and "@np" for npixel.
struct Same {
  const char* name;
  const char* job;
  Args job_args;
  const char* tool;
  Args tool_args;
  int64_t skip_bands = 0;  // the tool's output from this band on (its run covers more years)
  const char* also_said = nullptr;  // a line both print on standard output
};

const Same kSame[] = {
    // fennick's periods: 1972-1973 of f is years 1-2; 2072-2074 of g years 1-3.
    {"dissimilarity",
     "rastertools-dissimilarity",
     {"@f", "@g", "--ref-years", "1972-1973", "--fut-years", "2072-2074"},
     "fennick",
     {"@f", "@g", "@out", "2", "3", "@np", "1", "1"}},
    {"similarity_one_file",
     "rastertools-dissimilarity",
     {"@f", "--ref-years", "1971-1971", "--fut-years", "1973-1974", "--similarity"},
     "fennick",
     {"@f", "@f", "@out", "1", "2", "@np", "0", "2", "sim"}},
    // Monthly a and b paired by date: 1972-1973 is bands 12-35 of a, 24-47 of b.
    {"sum_by_date",
     "rastertools-calc",
     {"sum", "@a", "@b", "--years", "1972-1973"},
     "sum",
     {"@a", "@b", "@out", "@np", "12", "35", "24", "47"}},
    {"product_all",
     "rastertools-calc",
     {"product", "@a", "@b"},
     "mult",
     {"@a", "@b", "@out", "@np", "0", "47", "12", "59"}},
    {"quotient_years2",
     "rastertools-calc",
     {"quotient", "@b", "@a", "--years", "1975", "--years2", "1971", "--zero-divisor", "dividend"},
     "div",
     {"@b", "@a", "@out", "@np", "60", "71", "0", "11", "-1"}},
    {"quotient_months",
     "rastertools-calc",
     {"quotient", "@a", "@b", "--from", "1971-03", "--to", "1972-02", "--zero-divisor", "0.5"},
     "div",
     {"@a", "@b", "@out", "@np", "2", "13", "14", "25", "0.5"}},
    {"add_from_month",
     "rastertools-calc",
     {"add", "@a", "--value", "0.1", "--from", "1973-11"},
     "add",
     {"@a", "@out", "0.1", "@np", "34", "47"}},
    {"scale_annual",
     "rastertools-calc",
     {"scale", "@c", "--factor", "-1.5", "--years", "1972-1973"},
     "scale",
     {"@c", "@out", "-1.5", "@np", "1", "2"}},
    {"limits",
     "rastertools-calc",
     {"limits", "@a", "--lower", "277", "--upper", "283.5"},
     "limits",
     {"@a", "@out", "@np", "277", "283.5", "0", "47"},
     0,
     "values have been corrected"},
    {"logistic",
     "rastertools-calc",
     {"logistic", "@a", "--midpoint", "280", "--rate", "0.7", "--upper-asymptote", "2", "--to",
      "1971-06"},
     "logistic",
     {"@a", "@out", "@np", "280", "0.7", "0", "2", "0", "5"}},
    // Months 6-8 of 1972-1974: slivet over the whole file keeps 3 bands a year; skip 1971's.
    {"select_months",
     "rastertools-calc",
     {"select", "@a", "--months", "6-8", "--years", "1972-1974"},
     "slivet",
     {"@a", "@out", "@np", "12", "5", "7"},
     3},
    {"select_bands_of_year",
     "rastertools-calc",
     {"select", "@f", "--bands-of-year", "1-9"},
     "slivet",
     {"@f", "@out", "@np", "10", "1", "9"}},
};

std::vector<std::string> resolve(const Args& args, const std::string& ext, const std::string& out) {
  std::vector<std::string> v;
  for (const std::string& a : args) {
    if (a == "@out") {
      v.push_back(out);
    } else if (a == "@np") {
      v.push_back(inputs().npixel());
    } else if (a.size() == 2 && a[0] == '@') {
      v.push_back(inputs().path(a.substr(1) + ext));
    } else {
      v.push_back(a);
    }
  }
  return v;
}

struct SameCase {
  Same same;
  std::string ext;  // the job's inputs: .nc or .bin
};

class JobBytes : public testing::TestWithParam<SameCase> {};

TEST_P(JobBytes, EqualThePositionalTool) {
  const Same& c = GetParam().same;
  e2e::TempDir dir;
  Args job = resolve(c.job_args, GetParam().ext, "");
  job.insert(job.end(), {"-o", dir.file("job.bin"), "--format", "raw"});
  const e2e::Result j = e2e::run(c.job, job);
  ASSERT_EQ(j.status, 0) << j.err;
  const e2e::Result t = e2e::run(c.tool, resolve(c.tool_args, ".bin", dir.file("tool.bin")));
  ASSERT_EQ(t.status, 0) << t.err;
  const std::string want =
      e2e::read_bytes(dir.file("tool.bin"))
          .substr(static_cast<size_t>(c.skip_bands) * 4 * std::stoul(inputs().npixel()));
  const std::string got = e2e::read_bytes(dir.file("job.bin"));
  EXPECT_GT(got.size(), 0U);
  EXPECT_TRUE(got == want) << got.size() << " bytes against " << want.size();
  // The sidecar and the grid beside the output.
  EXPECT_TRUE(e2e::exists(dir.file("job.hdr")));
  EXPECT_TRUE(e2e::exists(dir.file("job.grid.bin")));
  if (c.also_said != nullptr) {
    const std::string tool_line = t.out.substr(t.out.find('\n') + 1);
    EXPECT_NE(j.out.find(tool_line), std::string::npos) << j.out << " against " << t.out;
    EXPECT_NE(tool_line.find(c.also_said), std::string::npos) << tool_line;
  }
}

std::vector<SameCase> same_cases() {
  std::vector<SameCase> v;
  for (const Same& s : kSame)
    for (const char* ext : {".nc", ".bin"}) v.push_back({s, ext});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Cases, JobBytes, testing::ValuesIn(same_cases()),
                         [](const testing::TestParamInfo<SameCase>& p) {
                           return std::string(p.param.same.name) +
                                  (p.param.ext == ".nc" ? "_netcdf" : "_raw");
                         });

// A refused command line: its status, a part of its message, and no output left.
struct Refusal {
  const char* name;
  const char* job;
  Args args;
  int status;
  const char* message;
};

const Refusal kRefusals[] = {
    {"fpc_not_10_a_year",
     "rastertools-dissimilarity",
     {"@a.nc", "--ref-years", "1971", "--fut-years", "1972"},
     1,
     "'@a.nc' has 12 bands a year; the composition needs 10 a year"},
    {"period_outside_the_file",
     "rastertools-dissimilarity",
     {"@f.nc", "@g.nc", "--ref-years", "1971-1972", "--fut-years", "2070-2072"},
     1,
     "--fut-years 2070-2072: '@g.nc' holds the years 2071-2075"},
    {"period_not_years",
     "rastertools-dissimilarity",
     {"@f.nc", "--ref-years", "1971-x", "--fut-years", "1972"},
     2,
     "--ref-years '1971-x' is not a year or a range A-B"},
    {"bands_a_year_differ",
     "rastertools-calc",
     {"sum", "@a.bin", "@c.nc"},
     1,
     "the inputs are paired date by date: '@a.bin' has 12 bands per year but '@c.nc' has 1"},
    {"years_of_b_not_there",
     "rastertools-calc",
     {"product", "@b.nc", "@a.nc", "--years", "1970"},
     1,
     "'@a.nc' holds the years 1971-1974, not 1970-01 to 1970-12 of '@b.nc'; give --years2"},
    {"years2_of_another_length",
     "rastertools-calc",
     {"sum", "@a.nc", "@b.nc", "--years", "1971-1972", "--years2", "1974"},
     1,
     "--years2 1974 gives 12 bands of '@b.nc' but A's range (1971-01 to 1972-12) has 24"},
    {"zero_divisor_minus_one",
     "rastertools-calc",
     {"quotient", "@a.nc", "@b.nc", "--zero-divisor", "-1.000001"},
     2,
     "--zero-divisor -1.000001 would be taken as 'dividend'"},
    {"lower_above_upper",
     "rastertools-calc",
     {"limits", "@a.nc", "--lower", "5", "--upper", "1"},
     2,
     "--lower 5 is above --upper 1"},
    {"value_not_finite",
     "rastertools-calc",
     {"add", "@a.nc", "--value", "inf"},
     2,
     "--value must be a finite number"},
    {"month_13",
     "rastertools-calc",
     {"scale", "@a.nc", "--factor", "2", "--from", "1972-13"},
     2,
     "--from '1972-13' is not a year Y or a month Y-MM"},
    {"months_of_annual_data",
     "rastertools-calc",
     {"add", "@c.nc", "--value", "1", "--to", "1972-06"},
     1,
     "--to 1972-06: '@c.nc' has 1 bands a year, not months"},
    {"from_after_to",
     "rastertools-calc",
     {"add", "@a.nc", "--value", "1", "--from", "1973", "--to", "1972-06"},
     2,
     "--from 1973 comes after --to 1972-06"},
    {"select_months_of_fpc",
     "rastertools-calc",
     {"select", "@f.nc", "--months", "1-2"},
     1,
     "--months 1-2: '@f.nc' does not hold months (10 bands a year)"},
    {"select_nothing",
     "rastertools-calc",
     {"select", "@a.nc"},
     2,
     "select: give one of --months, --bands-of-year or --bands"},
    {"bands_with_dates",
     "rastertools-calc",
     {"add", "@a.nc", "--value", "1", "--bands", "0-3"},
     2,
     "--bands: '@a.nc' has a time axis (1971-1974); give --years or --from/--to"},
    {"missing_variable",
     "rastertools-calc",
     {"add", "@a.nc", "--value", "1", "--var", "tas"},
     1,
     "tas"},
    {"unknown_operation",
     "rastertools-calc",
     {"difference", "@a.nc", "@b.nc"},
     2,
     "unknown operation 'difference': give one of sum, product, quotient, add, scale, limits, "
     "logistic, select"},
};

// "@a.nc" in a text replaced by the input's path.
std::string with_paths(const std::string& text) {
  std::string s;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '@' && i + 1 < text.size() && text[i + 1] >= 'a' && text[i + 1] <= 'g') {
      const size_t dot = text.find_first_of("' ", i);
      s += inputs().path(text.substr(i + 1, dot - i - 1));
      i = dot - 1;
    } else {
      s += text[i];
    }
  }
  return s;
}

class Refusals : public testing::TestWithParam<Refusal> {};

TEST_P(Refusals, NameTheFileAndValue) {
  const Refusal& c = GetParam();
  e2e::TempDir dir;
  Args args;
  for (const std::string& a : c.args) args.push_back(with_paths(a));
  args.insert(args.end(), {"-o", dir.file("out.nc")});
  const e2e::Result r = e2e::run(c.job, args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_NE(r.err.find(with_paths(c.message)), std::string::npos) << r.err;
  EXPECT_FALSE(e2e::exists(dir.file("out.nc")));
}

INSTANTIATE_TEST_SUITE_P(Cases, Refusals, testing::ValuesIn(kRefusals), fixtures::CaseName());

// cdo reads the NetCDF outputs: months 6-8 keep their dates, the dissimilarity is one field of
// values between 0 and 1 (covers of about 280 a plant type make every group share large, so the
// weighted trait change can still be told from 1).
TEST(Peers, CdoReadsCalcAndDissimilarity) {
  e2e::TempDir dir;
  const auto& in = inputs();
  ASSERT_EQ(e2e::run("rastertools-calc", {"select", in.path("a.nc"), "-o", dir.file("jja.nc"),
                                          "--months", "6-8", "--years", "1972-1973"})
                .status,
            0);
  const e2e::Result d = e2e::run("rastertools-dissimilarity",
                                 {in.path("f.nc"), in.path("g.nc"), "-o", dir.file("dis.nc"),
                                  "--ref-years", "1971-1974", "--fut-years", "2072-2075"});
  ASSERT_EQ(d.status, 0) << d.err;
  const auto cdo = fixtures::peer("cdo -s showtimestamp " + fixtures::quoted(dir.file("jja.nc")) +
                                  " && cdo -s showname " + fixtures::quoted(dir.file("dis.nc")));
  ASSERT_EQ(cdo.status, 0) << cdo.err;
  EXPECT_NE(cdo.out.find("1972-06-16T00:00:00  1972-07-16T12:00:00  1972-08-16T12:00:00  "
                         "1973-06-16T00:00:00  1973-07-16T12:00:00  1973-08-16T12:00:00"),
            std::string::npos)
      << cdo.out;
  EXPECT_NE(cdo.out.find(" dissimilarity"), std::string::npos) << cdo.out;
}

}  // namespace
