// The change metric end to end on one- and two-pixel files: the worked sums of the slice and
// series rules, the thresholds, the product rules, and runs with missing data.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <limits>

#include "corvane_case.h"

using cvtest::Case;
using cvtest::format;
using cvtest::Param;
using cvtest::vbits;

namespace {

Param param(std::vector<float> ref, std::vector<float> fut, const std::string& weight = "1") {
  Param p;
  p.ref = std::move(ref);
  p.fut = std::move(fut);
  p.weight = weight;
  return p;
}

// Runs a one-pixel case whose slices are single values and returns ofile1 and ofile2.
std::pair<std::vector<float>, std::vector<float>> slice_products(std::vector<Param> params) {
  Case c;
  c.params = std::move(params);
  const auto r = c.run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  return {c.output(1), c.output(2)};
}

// Mean of a slice as the slice rule takes it: every value divided by the count, then added.
double slice_mean(const std::vector<float>& v) {
  double m = 0.0;
  for (float x : v) m += static_cast<double>(x) / static_cast<double>(v.size());
  return m;
}

void expect_same_run(Case& c) {
  const auto r = c.run();
  const auto x = cvtest::model(c);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, x.out);
  EXPECT_EQ(r.err, x.err);
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(e2e::bits(c.output(n)), e2e::bits(x.files[static_cast<std::size_t>(n - 1)]))
        << "ofile" << n;
  }
}

}  // namespace

// R 2, F 3: absb 1, nom 1.5, absa 2.25, diffsq 0.25.
TEST(SliceSums, ReferenceAboveThreshold) {
  const auto [o1, o2] = slice_products({param({2}, {3})});
  EXPECT_EQ(e2e::bits(o1), vbits({1.0f}));
  EXPECT_EQ(e2e::bits(o2), vbits({150.0f, 0.5f, 1.5f, 1.0f}));
}

// R 0, F 5: the future value enters unscaled: nom 5, absa 25, diffsq 25, absb 1.
TEST(SliceSums, ReferenceNearZero) {
  const auto [o1, o2] = slice_products({param({0}, {5})});
  EXPECT_EQ(e2e::bits(o1), vbits({1.0f}));
  EXPECT_EQ(e2e::bits(o2), vbits({500.0f, 5.0f, 5.0f, 1.0f}));
}

// R 0.0005, F -0.0002: components of 1 each, diffsq untouched; with every parameter like that
// nom, absa and absb end equal.
TEST(SliceSums, BothNearZero) {
  auto [o1, o2] = slice_products({param({0.0005f}, {-0.0002f})});
  EXPECT_EQ(e2e::bits(o1), vbits({1.0f}));
  EXPECT_EQ(e2e::bits(o2), vbits({100.0f, 0.0f, 1.0f, 1.0f}));
  std::tie(o1, o2) =
      slice_products({param({0.0005f}, {-0.0002f}), param({-0.0009f}, {0.0001f}, "3")});
  EXPECT_EQ(e2e::bits(o2), vbits({100.0f, 0.0f, 1.0f, 1.0f}));
}

// R -3 is above the threshold by its magnitude: F -6 gives nom 2, absa 4, diffsq 1.
TEST(SliceSums, NegativeReferenceCountsByMagnitude) {
  const auto [o1, o2] = slice_products({param({-3}, {-6})});
  EXPECT_EQ(e2e::bits(o1), vbits({1.0f}));
  EXPECT_EQ(e2e::bits(o2), vbits({200.0f, 1.0f, 2.0f, 1.0f}));
}

// A slice of 1000 bands holding one 1 has the mean 1/1000, exactly the threshold 0.001, which
// is not above it: for R the future value enters unscaled (slices and series alike), and for
// F against R 0 both count as near zero.
TEST(SliceSums, ExactlyTheThresholdIsNotAbove) {
  std::vector<float> thousandth(1000, 0.0f);
  thousandth[617] = 1.0f;
  ASSERT_EQ(slice_mean(thousandth), 0.001);
  const std::vector<float> fives(1000, 5.0f);
  Case c;
  c.params = {param(thousandth, fives)};
  ASSERT_EQ(c.run().status, 0);
  const double r = 0.001, f = slice_mean(fives);
  const double absa = f * (f * 1.0), diffsq = (f - r) * ((f - r) * 1.0);
  EXPECT_EQ(e2e::bits(c.output(1)),
            vbits({static_cast<float>(
                (static_cast<double>(static_cast<float>(f)) / std::sqrt(absa)) / 1.0)}));
  const auto ra = static_cast<float>(std::sqrt(absa));
  EXPECT_EQ(e2e::bits(c.output(2)), vbits({static_cast<float>(static_cast<double>(ra) * 100),
                                           static_cast<float>(std::sqrt(diffsq)), ra, 1.0f}));
  // The series value of the year is sum of V * (V * W) = 1, not 1 / 0.001^2.
  EXPECT_EQ(e2e::bits(c.output(4)), vbits({1.0f}));

  const auto [o1, o2] = slice_products({param(std::vector<float>(1000, 0.0f), thousandth)});
  EXPECT_EQ(e2e::bits(o1), vbits({1.0f}));
  EXPECT_EQ(e2e::bits(o2), vbits({100.0f, 0.0f, 1.0f, 1.0f}));
}

// A supplied mean of 10 with R 20, F 30: nom_glob 6, absa_glob 9, absb_glob 4, diffsq_glob 1,
// and the supplied line is printed.
TEST(SliceSums, SuppliedGlobalMean) {
  Case c;
  c.range = 1;
  c.params = {param({20}, {30})};
  c.params[0].mean = "10";
  c.params[0].std = "2.5";
  const auto r = c.run();
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Number of parameters: 1\nSum of parameter weights: 1.000000\n"
            "supplied global_mean_ref 10.000000 global_std_ref 2.500000\n");
  EXPECT_EQ(e2e::bits(c.output(5)), vbits({1.0f}));
  EXPECT_EQ(e2e::bits(c.output(6)), vbits({150.0f, 1.0f, 3.0f, 2.0f}));
}

// Two bands a year, R 2, year 1 holding 2 and 4: nom_ts 3, absa_ts 5, absb_ts 2, and the same
// with the global mean 2; cosine about 0.948683 and length about 2.236068.
TEST(Series, TwoBandsAgainstTheSliceMean) {
  Case c;
  c.nyear_ref = 2;
  c.params = {param({2, 2, 2, 4}, {2, 2})};
  const auto r = c.run();
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(r.out.find("global")),
            "global_mean_ref 2.000000 global_std_ref 0.000000\n");
  const std::vector<float> cosines = {static_cast<float>((2 / std::sqrt(2.0)) / std::sqrt(2.0)),
                                      static_cast<float>((3 / std::sqrt(5.0)) / std::sqrt(2.0))};
  const std::vector<float> lengths = {static_cast<float>(std::sqrt(2.0)),
                                      static_cast<float>(std::sqrt(5.0))};
  EXPECT_NEAR(cosines[1], 0.948683, 1e-6);
  for (int n : {3, 7}) EXPECT_EQ(e2e::bits(c.output(n)), e2e::bits(cosines)) << n;
  for (int n : {4, 8}) EXPECT_EQ(e2e::bits(c.output(n)), e2e::bits(lengths)) << n;
}

// Monthly files, a 30-year slice from year 0: the slice mean runs over the first 360 bands and
// the global mean is the mean of the yearly global means of years 0 to 29.
TEST(Series, MonthlyFilesAgainstTheLiteralAlgorithm) {
  Case c;
  c.npixel = 3;
  c.nyear_ref = 32;
  c.nyear_fut = 31;
  c.nyear_avg = 30;
  c.startyear_fut = 1;
  c.grid = {1000, 4000, -7000, -1500, 17000, 6000};
  c.params = {Param{}};
  for (int v = 0; v < 32 * 12 * 3; ++v) c.params[0].ref.push_back(static_cast<float>(v % 17) - 3);
  for (int v = 0; v < 31 * 12 * 3; ++v) c.params[0].fut.push_back(static_cast<float>(v % 13));
  expect_same_run(c);
}

TEST(Products, ProductSizesFollowTheYears) {
  Case c;
  c.npixel = 2;
  c.nyear_ref = 100;
  c.params = {param(std::vector<float>(200, 1.5f), {1, 2})};
  ASSERT_EQ(c.run().status, 0);
  for (int n : {1, 5}) EXPECT_EQ(e2e::file_size(c.out(n)), 2 * 4);
  for (int n : {2, 6}) EXPECT_EQ(e2e::file_size(c.out(n)), 4 * 2 * 4);
  for (int n : {3, 4, 7, 8}) EXPECT_EQ(e2e::file_size(c.out(n)), 100 * 2 * 4);
}

TEST(Products, WeightsSummingToOneGiveUnitReferenceLength) {
  Case c;
  c.npixel = 3;
  c.params = {param({0, 7, -2}, {1, 0.0001f, 9}), param({3, 0, 5}, {-1, 2, 0}),
              param({0.5f, 6, 8}, {1, 1, 1}, "2")};
  ASSERT_EQ(c.run().status, 0);
  const auto o2 = c.output(2);
  EXPECT_EQ(e2e::bits(std::vector<float>(o2.begin() + 9, o2.end())),
            e2e::bits(cvtest::filled(3, 1.0f)));
}

// Weights 2 and -1: at pixel 1 nom 2, absa 2, absb 1, a cosine of sqrt(2) that is reported and
// written unchanged; pixel 0 (cosine 1) prints nothing.
TEST(Products, CosineAboveOneIsReported) {
  Case c;
  c.npixel = 2;
  c.params = {param({1, 1}, {1, 1}, "2"), param({1, 1}, {1, 0}, "-1")};
  const auto r = c.run();
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(r.out.rfind("global_mean")),
            "global_mean_ref 1.000000 global_std_ref 0.000000\n"
            "p 1 nom 2.000000 absa 2.000000 absb 1.000000\n");
  EXPECT_EQ(e2e::bits(c.output(1)), vbits({1.0f, static_cast<float>(2 / std::sqrt(2.0))}));
}

// Near-zero norms of the global normalisation: values are compared, not magnitudes, so a
// negative norm (from a negative weight) still counts as near zero in ofile5 but not in
// ofile1; negative sums give -1 in the ratio bands and NaN in the length bands.
TEST(Products, NearZeroNorms) {
  Case c;
  c.npixel = 2;
  c.range = 1;
  c.params = {param({0.25f, 0.25f}, {0.2f, 7})};
  c.params[0].mean = "10";
  ASSERT_EQ(c.run().status, 0);
  // absb_glob 0.000625 with absa_glob 0.0004 (both near zero) and 0.49.
  EXPECT_EQ(e2e::bits(c.output(5)), vbits({1.0f, 0.0f}));

  Case neg;
  neg.range = 1;
  neg.params = {param({0}, {0}, "2"), param({0.25f}, {7}, "-1")};
  neg.params[0].mean = "1";
  neg.params[1].mean = "10";
  const auto r = neg.run();
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Number of parameters: 2\nSum of parameter weights: 1.000000\n"
            "supplied global_mean_ref 1.000000 global_std_ref 0.000000\n"
            "supplied global_mean_ref 10.000000 global_std_ref 0.000000\n");
  const double r2 = static_cast<double>(0.25f);
  const double absa = 2 + ((7 * -1.0) * 7) / r2 / r2;  // -782
  EXPECT_EQ(e2e::bits(neg.output(1)), vbits({0.0f}));
  EXPECT_EQ(e2e::bits(neg.output(5)), vbits({1.0f}));
  const float nan = cvtest::sqrt_minus_one();
  EXPECT_EQ(e2e::bits(neg.output(2)), vbits({-1.0f, nan, static_cast<float>(absa), 1.0f}));
  EXPECT_EQ(e2e::bits(neg.output(6)), vbits({-1.0f, nan, nan, nan}));

  // absb_glob about 0.0000009, root about 0.00095: -1 in band 1 of ofile6.
  Case tiny;
  tiny.range = 1;
  tiny.params = {param({0.00095f}, {0.00095f})};
  tiny.params[0].mean = "1";
  ASSERT_EQ(tiny.run().status, 0);
  const double rt = static_cast<double>(0.00095f);
  const auto root = static_cast<float>(std::sqrt((rt * ((rt * 1.0) / 1.0)) / 1.0));
  EXPECT_EQ(e2e::bits(tiny.output(6)), vbits({-1.0f, 0.0f, root, root}));
}

TEST(Failures, BandCountMismatchStopsAtTheParameter) {
  Case c;
  c.params = {param({1}, {2}), param({1}, std::vector<float>(12, 1.0f))};
  const auto r = c.run();
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "File1 and File2 have different sizes! Exit.\n");
  EXPECT_EQ(r.out,
            "Number of parameters: 2\nSum of parameter weights: 2.000000\n"
            "global_mean_ref 1.000000 global_std_ref 0.000000\n");
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(e2e::file_size(c.out(n)), 0);
}

// A future slice past the end of the file is reported and the run completes; what was not
// read is missing (NaN), never the values of an earlier read.
TEST(MissingData, FutureSlicePastTheEnd) {
  Case c;
  c.nyear_ref = 2;
  c.startyear_fut = 1;
  c.params = {param({2, 4}, {3})};
  const auto r = c.run();
  EXPECT_EQ(r.err, "Error reading from file ifiles_fut[0]\n");
  EXPECT_EQ(c.output(1)[0], 0.0f);  // NaN sums take the fallback
  EXPECT_EQ(c.output(2)[3], 1.0f);
  EXPECT_TRUE(std::isnan(c.output(2)[0]));
  expect_same_run(c);
}

// The slice starts inside the file and ends in a cut-off value: the pixels read keep their
// values, the rest is missing.
TEST(MissingData, FutureSliceCutOffInsideAYear) {
  Case c;
  c.npixel = 3;
  c.nyear_fut = 2;
  c.startyear_fut = 2;
  c.params = {param({1, 2, 3}, {9, 9, 9, 9, 9, 9, 2, 4})};
  c.params[0].fut_tail = "\x01\x02";
  const auto r = c.run();
  EXPECT_EQ(r.err, "Error reading from file ifiles_fut[0]\n");
  const auto o2 = c.output(2);
  EXPECT_EQ(vbits({o2[0], o2[1]}), vbits({200.0f, 200.0f}));
  EXPECT_TRUE(std::isnan(o2[2]));
  expect_same_run(c);
}

// A reference input that cannot be read at all (a folder opens but every read fails): each
// read reports in its place, the series pass with the stream's error indicator, and the run
// completes. Messages name the parameter.
TEST(MissingData, UnreadableReferenceReportsEveryRead) {
  Case c;
  c.nyear_ref = c.nyear_fut = 2;
  int64_t size = 0;
  const std::string folder = cvtest::unreadable_input(c, &size);
  if (size < 8) GTEST_SKIP() << "folders here have no size to derive bands from";
  c.params = {param({1, 1}, {1, 1}), Param{}};
  c.params[1].ref_path = folder;
  c.params[1].fut_path = folder;
  const auto r = c.run();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "Error reading from file ifiles_ref[1]\n"
            "Error reading from file ifiles_fut[1]\n"
            "Error reading from file ifiles_ref[1]\n"
            "Error reading from file ifiles_ref[1]\n"
            "Error reading from file ifiles_ref[1],error code 1,year 0\n"
            "Error reading from file ifiles_ref[1],error code 1,year 1\n");
  EXPECT_EQ(e2e::file_size(c.out(3)), 2 * 4);
}
