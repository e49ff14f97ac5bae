// add, scale, limits and logistic end to end: band lines, argument counts, value rules,
// ranges and failures.
#include <cmath>

#include "bandmath_test.h"

namespace {

using bmt::Floats;
using e2e::run;

constexpr int kNpix = 3;

// One input of n bands walking through the awkward values.
struct OneInput {
  e2e::TempDir dir;
  std::string in = dir.file("in.bin");
  std::string out = dir.file("o.bin");
  Floats v;

  explicit OneInput(int n) {
    const Floats w = bmt::awkward_values();
    const auto k = static_cast<int>(w.size());
    v = bmt::make_bands(n, kNpix, [&](int b, int p) { return w[(b * kNpix + p) % k]; });
    e2e::write_floats(in, v);
  }
  template <class F>
  Floats map(int first, int last, F f) const {
    Floats r;
    for (const float x : bmt::bands(v, kNpix, first, last)) r.push_back(f(x));
    return r;
  }
};

TEST(Add, ConstantAddedInDoubleWithTheDoubleOffset) {
  OneInput t(12);
  const auto r = run("add", {t.in, t.out, "-2.5", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0 11\n");
  EXPECT_EQ(r.err, "");
  bmt::expect_file_floats(t.out, t.map(0, 11, [](float x) {
    return reference::double_halfoffset(static_cast<double>(x) - 2.5);
  }));

  e2e::TempDir d;
  e2e::write_floats(d.file("i"), {1e-9f, -0.1f});
  EXPECT_EQ(run("add", {d.file("i"), d.file("o"), "0", "2"}).status, 0);
  // 1e-9 + 0 vanishes; -0.1 keeps the +0.5 offset of the double rule.
  bmt::expect_file_floats(d.file("o"), {0.0f, static_cast<float>(-0.09999999403953552)});
}

TEST(Scale, FactorAppliedInDoubleWithTheDoubleOffset) {
  OneInput t(12);
  const auto r = run("scale", {t.in, t.out, "0.7", "3", "4", "9"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "4 9\n");
  bmt::expect_file_floats(t.out, t.map(4, 9, [](float x) {
    return reference::double_halfoffset(static_cast<double>(x) * 0.7);
  }));

  // -0.1f (-0.100000001) scaled by 1 becomes -0.099999994.
  e2e::TempDir d;
  e2e::write_floats(d.file("i"), {-0.1f});
  EXPECT_EQ(run("scale", {d.file("i"), d.file("o"), "1", "1"}).status, 0);
  bmt::expect_file_floats(d.file("o"), {static_cast<float>(-0.09999999403953552)});
}

// add and scale read the band arguments at exactly seven arguments, limits at eight.
TEST(AddScaleLimits, BandArgumentsOnlyAtTheirExactCount) {
  OneInput t(10);
  const auto whole_add = t.map(
      0, 9, [](float x) { return reference::double_halfoffset(static_cast<double>(x) + 1.0); });
  for (const char* tool : {"add", "scale"}) {
    for (const auto& extra : std::vector<std::vector<std::string>>{{"2"}, {"2", "4", "x"}}) {
      std::vector<std::string> args = {t.in, t.out, "1", "3"};
      args.insert(args.end(), extra.begin(), extra.end());
      const auto r = run(tool, args);
      EXPECT_EQ(r.status, 0) << tool;
      EXPECT_EQ(r.out, "0 9\n") << tool << " argc " << args.size() + 1;
      EXPECT_EQ(e2e::file_size(t.out), 10 * kNpix * 4);
    }
    const auto r = run(tool, {t.in, t.out, "1", "3", "2", "4"});
    EXPECT_EQ(r.out, "2 4\n") << tool;
    EXPECT_EQ(e2e::file_size(t.out), 3 * kNpix * 4);
  }
  EXPECT_EQ(run("add", {t.in, t.out, "1", "3", "2"}).status, 0);
  bmt::expect_file_floats(t.out, whole_add);

  for (const auto& extra : std::vector<std::vector<std::string>>{{"2"}, {"2", "4", "x"}}) {
    std::vector<std::string> args = {t.in, t.out, "3", "-100", "100"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = run("limits", args);
    EXPECT_EQ(r.out.substr(0, 4), "0 9\n") << "argc " << args.size() + 1;
  }
  const auto r = run("limits", {t.in, t.out, "3", "-100", "100", "2", "4"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, 4), "2 4\n");
  bmt::expect_file_floats(t.out, t.map(2, 4, [](float x) {
    const double v = static_cast<double>(x);
    return -100 > v ? -100.0f : v > 100 ? 100.0f : reference::signed_halfoffset(v);
  }));
}

TEST(AddScaleLogistic, ReversedRanges) {
  OneInput t(10);
  for (const char* tool : {"add", "scale", "logistic"}) {
    const bool logistic = std::string(tool) == "logistic";
    auto args = [&](const char* s, const char* e) {
      return logistic ? std::vector<std::string>{t.in, t.out, "3", "3", "2", "0", "1", s, e}
                      : std::vector<std::string>{t.in, t.out, "1", "3", s, e};
    };
    // endband = startband - 1: nothing to do, an empty output and success.
    auto r = run(tool, args("3", "2"));
    EXPECT_EQ(r.status, 0) << tool;
    EXPECT_EQ(r.out, logistic ? "" : "3 2\n");
    EXPECT_EQ(r.err, "");
    bmt::expect_empty_file(t.out);
    // Reversed further: no output of negative size can be allocated.
    r = run(tool, args("5", "2"));
    EXPECT_EQ(r.status, 255) << tool;
    EXPECT_EQ(r.err, "Error allocating memory\n\n") << tool;
    bmt::expect_empty_file(t.out);
  }
}

TEST(AddScaleLogistic, ReadsPastTheEndLeaveAnEmptyOutput) {
  e2e::TempDir d;
  const int npix = 262144;  // one band per chunk: bands go out before the failure
  e2e::write_floats(d.file("i"), Floats(3 * npix + 5, 1.0f));
  const std::string n = std::to_string(npix);
  const std::vector<std::vector<std::string>> runs = {
      {"add", d.file("i"), d.file("o"), "1", n, "0", "3"},
      {"scale", d.file("i"), d.file("o"), "2", n, "1", "3"},
      {"logistic", d.file("i"), d.file("o"), n, "3", "2", "0", "1", "0", "5"},
  };
  for (const auto& a : runs) {
    const auto r = run(a[0], std::vector<std::string>(a.begin() + 1, a.end()));
    EXPECT_EQ(r.status, 255) << a[0];
    EXPECT_EQ(r.err, "error reading from file1\n") << a[0];
    bmt::expect_empty_file(d.file("o"));
  }
}

float limit_rule(double lower, double upper, float x) {
  const double v = static_cast<double>(x);
  if (lower > v) return reference::signed_halfoffset(lower);
  if (v > upper) return reference::signed_halfoffset(upper);
  return reference::signed_halfoffset(v);
}

TEST(Limits, ClampsCountsAndKeepsNaN) {
  e2e::TempDir d;
  e2e::write_floats(d.file("i"), {-1.0f, 0.5f, 2.0f, bmt::kNaN});
  const auto r = run("limits", {d.file("i"), d.file("o"), "4", "0", "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0 0\n2 values have been corrected\n");
  EXPECT_EQ(r.err, "");
  const Floats got = e2e::read_floats(d.file("o"));
  ASSERT_EQ(got.size(), 4U);
  EXPECT_EQ(e2e::bits(Floats(got.begin(), got.begin() + 3)), e2e::bits(Floats{0.0f, 0.5f, 1.0f}));
  EXPECT_TRUE(std::isnan(got[3]));
}

TEST(Limits, RulesOnAwkwardValuesAndBounds) {
  OneInput t(10);
  // Bounds of both signs, between floats, beyond the float range, crossed, NaN.
  const std::vector<std::pair<std::string, std::string>> bounds = {
      {"-10", "10"}, {"0.1", "0.3"}, {"-0.1", "1e-9"}, {"-1e39", "1e39"}, {"-3e38", "2"},
      {"5", "-5"},   {"nan", "1"},   {"0", "0"},       {"-0.0", "0.0"},   {"1e-45", "8388609"}};
  for (const auto& [lo, up] : bounds) {
    const double lower = std::atof(lo.c_str());
    const double upper = std::atof(up.c_str());
    const auto r = run("limits", {t.in, t.out, "3", lo, up});
    EXPECT_EQ(r.status, 0) << lo << " " << up;
    long long count = 0;
    Floats expected;
    for (const float x : t.v) {
      const double v = static_cast<double>(x);
      count += (lower > v || v > upper) ? 1 : 0;
      expected.push_back(limit_rule(lower, upper, x));
    }
    EXPECT_EQ(r.out, "0 9\n" + std::to_string(count) + " values have been corrected\n")
        << lo << " " << up;
    bmt::expect_file_floats(t.out, expected);
  }
}

TEST(Limits, BoundOfOneTenthComparesInDouble) {
  e2e::TempDir d;
  e2e::write_floats(d.file("i"), {0.1f, -0.1f});
  // 0.1f lies above 0.1: it is not below a lower bound of 0.1 ...
  auto r = run("limits", {d.file("i"), d.file("o"), "2", "0.1", "10"});
  EXPECT_EQ(r.out, "0 0\n1 values have been corrected\n");
  bmt::expect_file_floats(
      d.file("o"), {static_cast<float>(0.10000002384185791), reference::signed_halfoffset(0.1)});
  // ... and it is above an upper bound of 0.1.
  r = run("limits", {d.file("i"), d.file("o"), "2", "-10", "0.1"});
  EXPECT_EQ(r.out, "0 0\n1 values have been corrected\n");
  bmt::expect_file_floats(
      d.file("o"), {reference::signed_halfoffset(0.1), static_cast<float>(-0.10000002384185791)});
}

TEST(Limits, ReadPastTheEndKeepsTheFinishedBands) {
  OneInput t(5);
  // A partial sixth band: only the five whole bands are finished.
  e2e::write_floats(t.in, [&] {
    Floats v = t.v;
    v.push_back(1.0f);
    return v;
  }());
  const auto r = run("limits", {t.in, t.out, "3", "-1", "1", "1", "7"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "1 7\n");
  EXPECT_EQ(r.err, "error reading from file1\n");
  bmt::expect_file_floats(t.out, t.map(1, 4, [](float x) { return limit_rule(-1, 1, x); }));

  // With bands of a whole chunk each, every band before the failing one is there too.
  e2e::TempDir d;
  const int npix = 262144;
  e2e::write_floats(d.file("i"), Floats(2 * npix, 2.0f));
  const auto big =
      run("limits", {d.file("i"), d.file("o"), std::to_string(npix), "0", "1", "0", "2"});
  EXPECT_EQ(big.status, 255);
  bmt::expect_file_floats(d.file("o"), Floats(2 * npix, 1.0f));
}

TEST(Limits, ReversedRangeIsAnEmptyRun) {
  OneInput t(10);
  for (const auto& [s, e] :
       std::vector<std::pair<std::string, std::string>>{{"3", "2"}, {"8", "2"}}) {
    const auto r = run("limits", {t.in, t.out, "3", "0", "1", s, e});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, s + " " + e + "\n0 values have been corrected\n");
    EXPECT_EQ(r.err, "");
    bmt::expect_empty_file(t.out);
  }
}

struct Logi {
  double m = 3, g = 2, a1 = 0, a2 = 1;
  float operator()(float x) const {
    const double d = a2 - a1;
    const double e = std::exp(-g * (static_cast<double>(x) - m));
    return reference::signed_halfoffset(d / (1.0 + e) + a1);
  }
};

TEST(Logistic, DefaultsCentreTheCurveOnThree) {
  e2e::TempDir d;
  e2e::write_floats(d.file("i"), {3.0f, 1000.0f, -1000.0f, bmt::kNaN, 1e30f, -bmt::kInf});
  const auto r = run("logistic", {d.file("i"), d.file("o"), "6"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");  // no band line
  EXPECT_EQ(r.err, "");
  const Floats got = e2e::read_floats(d.file("o"));
  ASSERT_EQ(got.size(), 6U);
  EXPECT_EQ(e2e::bits(got[0]), e2e::bits(0.5f));
  EXPECT_EQ(e2e::bits(got[1]), e2e::bits(1.0f));
  EXPECT_EQ(e2e::bits(got[2]), e2e::bits(0.0f));
  EXPECT_TRUE(std::isnan(got[3]));
  EXPECT_EQ(e2e::bits(got[4]), e2e::bits(1.0f));
  EXPECT_EQ(e2e::bits(got[5]), e2e::bits(0.0f));
}

// Each parameter is read when its position is there; bands only when both are (argc >= 10).
TEST(Logistic, ParametersOneByOneAndBandsWhenBothAreGiven) {
  OneInput t(8);
  const std::vector<std::string> params = {"10", "0.5", "-2", "4"};
  Logi rule;
  double* fields[] = {&rule.m, &rule.g, &rule.a1, &rule.a2};
  for (size_t k = 0; k <= params.size(); ++k) {
    std::vector<std::string> args = {t.in, t.out, "3"};
    args.insert(args.end(), params.begin(), params.begin() + static_cast<std::ptrdiff_t>(k));
    if (k > 0) *fields[k - 1] = std::atof(params[k - 1].c_str());
    const auto r = run("logistic", args);
    EXPECT_EQ(r.status, 0) << "argc " << args.size() + 1;
    EXPECT_EQ(r.out, "");
    bmt::expect_file_floats(t.out, t.map(0, 7, rule));
  }
  std::vector<std::string> args = {t.in, t.out, "3", "10", "0.5", "-2", "4", "2"};
  auto r = run("logistic", args);  // startband1 alone: both band defaults hold
  EXPECT_EQ(r.out, "");
  bmt::expect_file_floats(t.out, t.map(0, 7, rule));
  args.push_back("5");
  r = run("logistic", args);
  EXPECT_EQ(r.out, "");
  bmt::expect_file_floats(t.out, t.map(2, 5, rule));
  args.push_back("x");
  r = run("logistic", args);
  EXPECT_EQ(r.status, 0);
  bmt::expect_file_floats(t.out, t.map(2, 5, rule));
}

TEST(Logistic, OnlyMaxgrowthKeepsTheOtherDefaults) {
  e2e::TempDir d;
  e2e::write_floats(d.file("i"), {7.5f, 6.0f, 9.0f});
  const auto r = run("logistic", {d.file("i"), d.file("o"), "3", "7.5"});
  EXPECT_EQ(r.status, 0);
  const Logi rule{7.5, 2, 0, 1};
  bmt::expect_file_floats(d.file("o"), {0.5f, rule(6.0f), rule(9.0f)});
}

}  // namespace
