// The start of a run: argument counts, file opening order, weights, grid and band derivation,
// the fraction file, the checks that reject meaningless command lines, and output safety.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "corvane_case.h"
#include "stats.h"

using cvtest::Case;
using cvtest::format;
using cvtest::Param;
using cvtest::vbits;

namespace {

const char* const kUsage =
    "Use:\n%s npar is_range_spec (1: range is specified for each parameter, 0: mean/std for "
    "each parameter are determined internally) is_natveg_spec (1: natveg fraction is specified "
    "as input file, 0: no managed land fraction assumed) [natvegfile(supply only if "
    "is_natveg_spec=1)] nyear_ref(years in reference file) nyear_fut(years in future file) "
    "nyear_avg(time slice thickness) startyear_ref startyear_fut gridfile res(deg) weight_par1 "
    "file_ref_par1 (reference file) file_fut_par1(transient file) [mean1 std1][weight_par2 "
    "file1_par2 file2_par2 [mean2 std2]...] npixel ofile1(angle between vectors) "
    "ofile2(magnitude of change,4 bands) ofile3(time series of angle) ofile4(time series of "
    "magnitude) ofile5(angle, global normalization),ofile6(magnitude, global normalization) "
    "ofile7(time series of angle,global normalization) ofile8(time series of magnitude,global "
    "normalization)\n";

std::string usage() { return format(kUsage, "corvane"); }

Param simple(float r, float f, const std::string& weight = "1") {
  Param p;
  p.ref = {r};
  p.fut = {f};
  p.weight = weight;
  return p;
}

bool any_output(const Case& c) {
  for (int n = 1; n <= 8; ++n) {
    if (e2e::exists(c.out(n))) return true;
  }
  return false;
}

std::string count_message(const char* what, int n, int npar, int range, int natveg) {
  return format(
      "Error: You have %d %s argument(s). Please check again.\nRelevant parameters:\n\tnpar: "
      "%d\n\tis_range_spec: %d\n\tis_natveg_spec: %d\n",
      n, what, npar, range, natveg);
}

}  // namespace

TEST(ArgumentCount, NineteenWordsGiveOnlyTheUsageText) {
  const auto r = e2e::run("corvane", std::vector<std::string>(18, "1"));
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, usage());
  EXPECT_EQ(r.out, "");
}

TEST(ArgumentCount, TwoPlainParametersTakeExactly26Words) {
  Case c;
  c.params = {simple(1, 1), simple(1, 1)};
  auto a = c.args();
  ASSERT_EQ(a.size() + 1, 26U);
  auto fewer = a;
  fewer.pop_back();
  auto r = e2e::run("corvane", fewer);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, count_message("missing", 1, 2, 0, 0) + usage());
  EXPECT_EQ(r.out, "");
  auto more = a;
  more.push_back("extra");
  r = e2e::run("corvane", more);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, count_message("too many", 1, 2, 0, 0) + usage());
  EXPECT_FALSE(any_output(c));
  r = e2e::run("corvane", a);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST(ArgumentCount, RangesAndFractionFileTakeExactly31Words) {
  Case c;
  c.range = 1;
  c.natveg = true;
  c.natvegfrac = {1};
  c.params = {simple(1, 1), simple(1, 1)};
  const auto a = c.args();
  ASSERT_EQ(a.size() + 1, 31U);
  const auto r = e2e::run("corvane", a);
  EXPECT_EQ(r.status, 0) << r.err;
  auto fewer = a;
  fewer.pop_back();
  EXPECT_EQ(e2e::run("corvane", fewer).err, count_message("missing", 1, 2, 1, 1) + usage());
}

TEST(ArgumentCount, UnopenableFractionFileIsReportedBeforeTheCount) {
  Case c;
  c.natveg = true;
  c.natvegfrac = {1};
  c.params = {simple(1, 1)};
  auto a = c.args();
  a[3] = c.dir.file("no-such-file");
  a.pop_back();
  const auto r = e2e::run("corvane", a);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error opening file\n\n");
}

TEST(Inputs, UnopenableFilesEndTheRunBeforeAnyOutput) {
  for (int which : {8, 11, 12}) {  // grid file, reference file, future file
    Case c;
    c.params = {simple(1, 1)};
    auto a = c.args();
    a[static_cast<std::size_t>(which)] = c.dir.file("no-such-file");
    const auto r = e2e::run("corvane", a);
    EXPECT_EQ(r.status, 255) << which;
    EXPECT_EQ(r.err, "Error opening file\n\n") << which;
    EXPECT_FALSE(any_output(c)) << which;
  }
}

TEST(Outputs, UnopenableOutputLeavesTheEarlierOnesEmpty) {
  Case c;
  c.params = {simple(1, 1)};
  auto a = c.args();
  a[a.size() - 6] = c.dir.file("no-dir/o3");
  const auto r = e2e::run("corvane", a);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error opening file\n\n");
  EXPECT_EQ(e2e::file_size(c.out(1)), 0);
  EXPECT_EQ(e2e::file_size(c.out(2)), 0);
  EXPECT_FALSE(e2e::exists(c.out(4)));
}

TEST(Outputs, OutputNamingAnInputIsRefusedBeforeAnythingIsTruncated) {
  for (int which : {8, 11, 12}) {
    Case c;
    c.params = {simple(2, 3)};
    auto a = c.args();
    const std::string input = a[static_cast<std::size_t>(which)];
    const std::string before = e2e::read_bytes(input);
    a[a.size() - 3] = input;  // ofile6
    const auto r = e2e::run("corvane", a);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Error: output file " + input + " is the input file " + input +
                         "; refusing to overwrite it\n\n");
    EXPECT_EQ(e2e::read_bytes(input), before);
    EXPECT_FALSE(e2e::exists(c.out(1)));
  }
}

TEST(Outputs, FailedWriteIsReported) {
  Case c;
  c.params = {simple(2, 3)};
  auto a = c.args();
  a.back() = "/dev/full";
  const auto r = e2e::run("corvane", a);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error: cannot write output file /dev/full: No space left on device\n\n");
}

// Command lines on which no meaningful run exists are refused before any output is created.
TEST(Rejected, MeaninglessArgumentsBeforeAnyOutput) {
  struct Row {
    std::size_t pos;
    std::string value;
    std::string message;
  };
  // One parameter, no ranges, no fraction file: positions of the one-parameter command line.
  const std::vector<Row> rows = {
      {0, "0", "Error: npar must be at least 1 (got 0)\n"},
      {0, "-1", "Error: npar must be at least 1 (got -1)\n"},
      {1, "2", "Error: is_range_spec must be 0 or 1 (got 2)\n"},
      {1, "-1", "Error: is_range_spec must be 0 or 1 (got -1)\n"},
      {3, "0", "Error: nyear_ref must be at least 1 (got 0)\n"},
      {4, "-2", "Error: nyear_fut must be at least 1 (got -2)\n"},
      {5, "0", "Error: nyear_avg must be at least 1 (got 0)\n"},
      {6, "-1", "Error: startyear_ref must not be negative (got -1)\n"},
      {7, "-1", "Error: startyear_fut must not be negative (got -1)\n"},
      {6, "1",
       "Error: the reference slice (startyear_ref 1, nyear_avg 1) reaches past the 1 years of "
       "the reference file\n"},
      {9, "0", "Error: res must be a positive number of degrees (got 0)\n"},
      {9, "-0.5", "Error: res must be a positive number of degrees (got -0.5)\n"},
      {9, "fine", "Error: res must be a positive number of degrees (got fine)\n"},
      {13, "0", "Error: npixel must be at least 1 (got 0)\n"},
  };
  for (const Row& row : rows) {
    Case c;
    c.params = {simple(1, 1)};
    auto a = c.args();
    a[row.pos] = row.value;
    const auto r = e2e::run("corvane", a);
    EXPECT_EQ(r.status, 255) << row.message;
    EXPECT_EQ(r.err, row.message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(any_output(c)) << row.message;
  }
  Case c;
  c.params = {simple(1, 1, "1"), simple(1, 1, "-1")};
  const auto r = c.run();
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error: the parameter weights sum to 0\n\n");
  EXPECT_FALSE(any_output(c));
}

TEST(Rejected, SliceEndingOnTheLastReferenceYearIsAccepted) {
  Case c;
  c.nyear_ref = 3;
  c.nyear_avg = 2;
  c.startyear_ref = 1;
  c.params = {simple(1, 1)};
  c.params[0].ref = {1, 1, 1};
  EXPECT_EQ(c.run().status, 0);
}

// The series hold one year at a time, so memory does not grow with nyear_ref: two billion years
// of a file shorter than a year start at once, and the first output that cannot take its
// bands ends the run, naming it.
TEST(Memory, SeriesOfAnyLengthNeedOneYear) {
  Case c;
  c.params = {simple(1, 1)};
  auto a = c.args();
  a[3] = "2000000000";            // nyear_ref
  a[13] = "1000";                 // npixel
  a[a.size() - 6] = "/dev/full";  // ofile3
  const auto r = e2e::run("corvane", a);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error: cannot write output file /dev/full: No space left on device\n\n");
  EXPECT_EQ(r.out,
            "Number of parameters: 1\nSum of parameter weights: 1.000000\n"
            "global_mean_ref -nan global_std_ref -nan\n");
  EXPECT_EQ(e2e::file_size(c.out(1)), 1000 * 4);
}

// Weights 2 and 2 are reported as summing to 4 and used as 0.5 each: the worked example of two
// parameters (R 2, F 3 and R 1, F 1) gives nom 1.25, absa 1.625, absb 1, diffsq 0.125.
TEST(Weights, ReportedThenNormalised) {
  Case c;
  c.params = {simple(2, 3, "2"), simple(1, 1, "2")};
  const auto r = c.run();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Number of parameters: 2\nSum of parameter weights: 4.000000\n", 0), 0U);
  const double nom = 1.25, absa = 1.625, absb = 1.0, diffsq = 0.125;
  const float ra = static_cast<float>(std::sqrt(absa));
  EXPECT_EQ(e2e::bits(c.output(1)),
            vbits({static_cast<float>((nom / std::sqrt(absa)) / std::sqrt(absb))}));
  EXPECT_EQ(e2e::bits(c.output(2)),
            vbits({static_cast<float>((static_cast<double>(ra) / 1.0) * 100),
                   static_cast<float>(std::sqrt(diffsq)), ra, 1.0f}));
  EXPECT_NEAR(c.output(1)[0], 0.980581, 1e-6);  // the values the worked example quotes
  EXPECT_NEAR(c.output(2)[0], 127.4755, 1e-4);
}

// Weights 1 and 3 become 0.25 and 0.75: with R 1, F 4 and R 1, F 0 the sums are nom 1,
// absa 4, absb 1, so ofile1 holds 0.5 and ofile2 200, sqrt(diffsq) = sqrt(3), 2 and 1.
TEST(Weights, OneAndThreeBecomeAQuarterAndThreeQuarters) {
  Case c;
  c.params = {simple(1, 4, "1"), simple(1, 0, "3")};
  ASSERT_EQ(c.run().status, 0);
  EXPECT_EQ(e2e::bits(c.output(1)), vbits({0.5f}));
  EXPECT_EQ(e2e::bits(c.output(2)),
            vbits({200.0f, static_cast<float>(std::sqrt(0.25 * 9 + 0.75)), 2.0f, 1.0f}));
}

// The grid dimensions come from res: 0.5 gives 360 x 720 and 0.333333 gives 540 x 1080. A pixel
// in the last row and column counts only with the full grid.
TEST(Grid, DimensionsFromTheResolution) {
  struct Row {
    const char* res;
    int16_t lon;
    int64_t nlat, nlon;
  };
  for (const Row& row : {Row{"0.5", -50, 360, 720}, Row{"0.333333", -20, 540, 1080}}) {
    Case c;
    c.npixel = 2;
    c.res = row.res;
    c.grid = {0, 0, row.lon, -8950};
    c.params = {Param{}};
    c.params[0].ref = {1, 3};
    c.params[0].fut = {1, 3};
    const auto r = c.run();
    ASSERT_EQ(r.status, 0) << r.err;
    FILE* g = std::fopen(c.grid_file().c_str(), "rb");
    const std::vector<float> data = {1, 3}, frac = {1, 1};
    double m = 0, s = 0;
    raster::global_mean_areaweighted_float(g, data.data(), 2, row.nlat, row.nlon, 1, 1, &m, &s,
                                           frac.data());
    std::fclose(g);
    EXPECT_GT(m, 1.0);  // the southern pixel is on the map, with a small weight
    EXPECT_EQ(r.out.substr(r.out.find("global")),
              format("global_mean_ref %lf global_std_ref %lf\n", m, s));
    // ofile6 band 4 is sqrt(R^2 / G^2) at weight 1: it holds G to the last bit.
    const auto o6 = c.output(6);
    EXPECT_EQ(e2e::bits(o6[7]),
              e2e::bits(static_cast<float>(std::sqrt((3 * ((3 * 1.0) / m)) / m))));
  }
}

// 12 bands a year over 30 years; one band more in the file does not change the count.
TEST(BandsPerYear, FromTheFileSize) {
  for (int extra : {0, 1}) {
    Case c;
    c.npixel = 2;
    c.nyear_ref = c.nyear_fut = c.nyear_avg = 30;
    c.params = {Param{}};
    c.params[0].ref = cvtest::filled(static_cast<std::size_t>(2 * (12 * 30 + extra)), 1.0f);
    c.params[0].fut = cvtest::filled(2 * 12 * 30, 1.0f);
    ASSERT_EQ(c.run().status, 0);
    // Every series element gathers one term of 1 per band of its year.
    EXPECT_EQ(e2e::bits(c.output(4)),
              e2e::bits(cvtest::filled(60, static_cast<float>(std::sqrt(12.0)))));
    EXPECT_EQ(e2e::file_size(c.out(3)), 30 * 2 * 4);
  }
}

TEST(Fraction, NegativeEntriesCountAsZeroAndNoFileMeansOne) {
  for (bool natveg : {true, false}) {
    Case c;
    c.npixel = 2;
    c.natveg = natveg;
    c.natvegfrac = {-0.2f, 1.0f};
    c.params = {Param{}};
    c.params[0].ref = {1, 3};
    c.params[0].fut = {1, 3};
    const auto r = c.run();
    ASSERT_EQ(r.status, 0);
    // Both pixels lie in one row: with fractions 1 the mean is the plain average.
    EXPECT_EQ(r.out.substr(r.out.find("global")),
              natveg ? "global_mean_ref 3.000000 global_std_ref 0.000000\n"
                     : "global_mean_ref 2.000000 global_std_ref 1.000000\n");
  }
}

TEST(Fraction, ShortFileEndsWithStatusOneAfterOpeningTheOutputs) {
  Case c;
  c.npixel = 2;
  c.natveg = true;
  c.natvegfrac = {0.5f};
  c.params = {Param{}};
  c.params[0].ref = {1, 3};
  c.params[0].fut = {1, 3};
  const auto r = c.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: cannot read natvegfrac from " + c.natveg_file() + "\n");
  EXPECT_EQ(r.out, "Number of parameters: 1\nSum of parameter weights: 1.000000\n");
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(e2e::file_size(c.out(n)), 0);
}
