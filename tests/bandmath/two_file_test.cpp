// sum, mult and div end to end: band lines, argument counts, pixel rules and failures.
#include <cmath>

#include "bandmath_test.h"

namespace {

using bmt::Floats;
using e2e::run;

constexpr int kNpix = 4;

// Two inputs whose values walk through the awkward ones, paired differently in each file.
struct TwoInputs {
  e2e::TempDir dir;
  std::string in1 = dir.file("a.bin");
  std::string in2 = dir.file("b.bin");
  std::string out = dir.file("o.bin");
  Floats a;
  Floats b;

  TwoInputs(int n1, int n2) {
    const Floats v = bmt::awkward_values();
    const auto n = static_cast<int>(v.size());
    a = bmt::make_bands(n1, kNpix, [&](int bb, int p) { return v[(bb * kNpix + p) % n]; });
    b = bmt::make_bands(n2, kNpix, [&](int bb, int p) { return v[(bb * kNpix + 7 * p + 3) % n]; });
    e2e::write_floats(in1, a);
    e2e::write_floats(in2, b);
  }
  std::vector<std::string> args(std::initializer_list<std::string> extra) const {
    std::vector<std::string> r = {in1, in2, out, std::to_string(kNpix)};
    r.insert(r.end(), extra.begin(), extra.end());
    return r;
  }
  // Pixel rule f over bands s1.. of the first input and s2.. of the second, n bands.
  Floats combine(int s1, int s2, int n, float (*f)(float, float)) const {
    Floats r;
    for (int k = 0; k < n * kNpix; ++k) {
      r.push_back(
          f(a[static_cast<size_t>(s1 * kNpix + k)], b[static_cast<size_t>(s2 * kNpix + k)]));
    }
    return r;
  }
};

float sum_rule(float x, float y) { return reference::float_halfoffset(x + y); }
float mult_rule(float x, float y) {
  return reference::signed_halfoffset(static_cast<double>(x * y));
}
float div_rule_9999(float x, float y) {
  if (static_cast<double>(std::fabs(y)) < 1e-5) return 9999.0f;
  const float r = reference::double_halfoffset(static_cast<double>(x) / static_cast<double>(y));
  return r > 1000.0f ? 1000.0f : r;
}

TEST(Sum, BandArgumentsPairShiftedRanges) {
  TwoInputs t(10, 12);
  const auto r = run("sum", t.args({"0", "9", "2", "11"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0 9 2 11\n");
  EXPECT_EQ(r.err, "");
  bmt::expect_file_floats(t.out, t.combine(0, 2, 10, sum_rule));
}

TEST(Sum, DifferentBandCountsWithoutRangesFailWithEmptyOutput) {
  TwoInputs t(10, 12);
  for (const char* tool : {"sum", "mult"}) {
    const auto r = run(tool, t.args({}));
    EXPECT_EQ(r.status, 255) << tool;
    EXPECT_EQ(r.out, "0 9 0 11\n") << tool;
    EXPECT_EQ(r.err, "different number of bands for differencing in file1 and file2! Exit.\n");
    bmt::expect_empty_file(t.out);
  }
  const auto r = run("div", t.args({}));
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "0 9 0 11 9999.000000\n");
  EXPECT_EQ(r.err, "different number of bands for differencing in file1 and file2! Exit.\n");
  bmt::expect_empty_file(t.out);
}

TEST(Sum, EmptyOrReversedRangesFailTheBandCheck) {
  TwoInputs t(10, 10);
  for (const auto& range :
       std::vector<std::vector<std::string>>{{"3", "2", "3", "2"}, {"5", "2", "5", "2"}}) {
    const auto r = run("sum", t.args({range[0], range[1], range[2], range[3]}));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "different number of bands for differencing in file1 and file2! Exit.\n");
    bmt::expect_empty_file(t.out);
  }
  e2e::TempDir d;
  e2e::write_bytes(d.file("e1"), "");
  e2e::write_bytes(d.file("e2"), "");
  const auto r = run("sum", {d.file("e1"), d.file("e2"), d.file("o"), "4"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "0 -1 0 -1\n");
  bmt::expect_empty_file(d.file("o"));
}

// sum and mult read the band arguments at exactly nine arguments; div from nine on.
TEST(Sum, BandArgumentsOnlyAtExactlyNineArguments) {
  TwoInputs t(10, 10);
  const std::vector<std::vector<std::string>> ignored = {
      {"2"}, {"2", "5"}, {"2", "5", "2"}, {"2", "5", "2", "5", "x"}};
  for (const char* tool : {"sum", "mult"}) {
    auto rule = std::string(tool) == "sum" ? sum_rule : mult_rule;
    for (const auto& extra : ignored) {
      auto args = t.args({});
      args.insert(args.end(), extra.begin(), extra.end());
      const auto r = run(tool, args);
      EXPECT_EQ(r.status, 0) << tool << " argc " << args.size() + 1;
      EXPECT_EQ(r.out, "0 9 0 9\n") << tool << " argc " << args.size() + 1;
      bmt::expect_file_floats(t.out, t.combine(0, 0, 10, rule));
    }
    const auto r = run(tool, t.args({"2", "5", "4", "7"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "2 5 4 7\n");
    bmt::expect_file_floats(t.out, t.combine(2, 4, 4, rule));
  }
}

TEST(Sum, TinyValuesVanishAndTrailingBytesAreNoBand) {
  e2e::TempDir d;
  // 1e-9 + 0 is exactly 0: 0.5f + 1e-9 is 0.5f in single precision.
  e2e::write_floats(d.file("a"), {1e-9f, 8388609.0f, 0.1f, -0.1f});
  e2e::write_floats(d.file("b"), {0.0f, 0.0f, 0.0f, 0.0f});
  e2e::write_bytes(d.file("a"), e2e::read_bytes(d.file("a")) + "12345");  // 1 band + 5 bytes
  const auto r = run("sum", {d.file("a"), d.file("b"), d.file("o"), "4"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0 0 0 0\n");
  bmt::expect_file_floats(d.file("o"), {0.0f, 8388610.0f, static_cast<float>(0.10000002384185791),
                                        static_cast<float>(-0.09999999403953552)});
}

// A read past the end fails with the message of the file that ran short, file1 first, and the
// output stays empty, also after whole chunks of bands have gone out before the failure.
TEST(Sum, ReadsPastTheEndLeaveAnEmptyOutput) {
  e2e::TempDir d;
  const int npix = 262144;  // one band is a whole chunk: bands are written before the failure
  e2e::write_floats(d.file("a3"), Floats(3 * npix, 1.0f));
  e2e::write_floats(d.file("b3"), Floats(3 * npix, 2.0f));
  e2e::write_floats(d.file("b2"), Floats(2 * npix + 7, 2.0f));
  struct Case {
    const char* tool;
    std::string in1, in2;
    const char* err;
  };
  const Case cases[] = {
      {"sum", d.file("a3"), d.file("b3"), "error reading from file1\n"},
      {"sum", d.file("a3"), d.file("b2"), "Error reading from file2\n"},
      {"mult", d.file("a3"), d.file("b3"), "error reading from file1\n"},
      {"mult", d.file("a3"), d.file("b2"), "Error reading from file2\n"},
      {"div", d.file("a3"), d.file("b3"), "error reading from file1\n"},
      {"div", d.file("a3"), d.file("b2"), "Error reading from file2\n"},
      {"div", d.file("b2"), d.file("a3"), "error reading from file1\n"},
  };
  for (const Case& c : cases) {
    const auto r =
        run(c.tool, {c.in1, c.in2, d.file("o"), std::to_string(npix), "0", "3", "0", "3"});
    EXPECT_EQ(r.status, 255) << c.tool;
    EXPECT_EQ(r.err, c.err) << c.tool << " " << c.in1 << " " << c.in2;
    bmt::expect_empty_file(d.file("o"));
  }
}

TEST(Mult, ProductRoundsWithTheOffsetOfItsSign) {
  TwoInputs t(6, 6);
  const auto r = run("mult", t.args({}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0 5 0 5\n");
  bmt::expect_file_floats(t.out, t.combine(0, 0, 6, mult_rule));

  e2e::TempDir d;
  e2e::write_floats(d.file("a"), {-0.1f, -0.0f, bmt::kNaN, -8388609.0f, 1e-9f});
  e2e::write_floats(d.file("b"), {1.0f, 1.0f, 1.0f, 1.0f, -1.0f});
  const auto m = run("mult", {d.file("a"), d.file("b"), d.file("o"), "5"});
  EXPECT_EQ(m.status, 0) << m.err;
  const Floats got = e2e::read_floats(d.file("o"));
  ASSERT_EQ(got.size(), 5U);
  EXPECT_EQ(e2e::bits(got[0]), e2e::bits(static_cast<float>(-0.10000002384185791)));
  EXPECT_EQ(e2e::bits(got[1]), 0U);  // -0 takes +0.5 and comes out as +0
  EXPECT_TRUE(std::isnan(got[2]));
  EXPECT_EQ(got[3], -8388610.0f);
  EXPECT_EQ(e2e::bits(got[4]), 0U);
}

TEST(Div, DefaultBandLineAndQuotients) {
  TwoInputs t(10, 10);
  const auto r = run("div", t.args({}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0 9 0 9 9999.000000\n");
  bmt::expect_file_floats(t.out, t.combine(0, 0, 10, div_rule_9999));
}

TEST(Div, ZeroDivisorGivesNanvalueOrTheDividend) {
  e2e::TempDir d;
  // Divisors: 0, -0, 1e-5 as a float (9.99999975e-06, counts as zero), its negative, the next
  // float above 1e-5 (a real quotient), NaN.
  const float above = std::nextafter(1e-5f, 1.0f);
  e2e::write_floats(d.file("a"), {0.1f, -0.1f, 3.0f, 7.0f, 1.0f, 2.0f});
  e2e::write_floats(d.file("b"), {0.0f, -0.0f, 1e-5f, -1e-5f, above, bmt::kNaN});
  const std::string a = d.file("a"), b = d.file("b"), o = d.file("o");
  const float q =
      reference::double_halfoffset(1.0 / static_cast<double>(above));  // far above the cap

  auto r = run("div", {a, b, o, "6"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0 0 0 0 9999.000000\n");
  char msg[128];
  std::snprintf(msg, sizeof msg, "rbuf1/rbuf2 = %.2f; value is set to 1000; band 0 pixel 4\n",
                static_cast<double>(q));
  EXPECT_EQ(r.err, msg);  // the NaN quotient is not capped and not reported
  Floats got = e2e::read_floats(o);
  ASSERT_EQ(got.size(), 6U);
  EXPECT_EQ(e2e::bits(Floats(got.begin(), got.begin() + 5)),
            e2e::bits(Floats{9999.0f, 9999.0f, 9999.0f, 9999.0f, 1000.0f}));
  EXPECT_TRUE(std::isnan(got[5]));

  r = run("div", {a, b, o, "6", "0", "0", "0", "0", "-1"});
  EXPECT_EQ(r.out, "0 0 0 0 -1.000000\n");
  got = e2e::read_floats(o);
  ASSERT_EQ(got.size(), 6U);
  EXPECT_EQ(e2e::bits(Floats(got.begin(), got.begin() + 4)),
            e2e::bits(Floats{static_cast<float>(0.10000002384185791),
                             static_cast<float>(-0.09999999403953552), 3.0f, 7.0f}));

  r = run("div", {a, b, o, "6", "0", "0", "0", "0", "0"});
  EXPECT_EQ(r.out, "0 0 0 0 0.000000\n");
  got = e2e::read_floats(o);
  ASSERT_EQ(got.size(), 6U);
  EXPECT_EQ(e2e::bits(Floats(got.begin(), got.begin() + 4)), e2e::bits(Floats{0, 0, 0, 0}));

  // Within 1e-5 of -1 still means the dividend; a zero-divisor value above 1000 is not capped.
  r = run("div", {a, b, o, "6", "0", "0", "0", "0", "-1.000001"});
  EXPECT_EQ(e2e::bits(e2e::read_floats(o)[0]), e2e::bits(static_cast<float>(0.10000002384185791)));
  r = run("div", {a, b, o, "6", "0", "0", "0", "0", "-0.99998"});
  EXPECT_EQ(e2e::bits(e2e::read_floats(o)[0]), e2e::bits(static_cast<float>(-0.99998)));
  r = run("div", {a, b, o, "6", "0", "0", "0", "0", "5000"});
  EXPECT_EQ(e2e::read_floats(o)[0], 5000.0f);
  EXPECT_EQ(r.err, msg);  // only the real quotient is reported
}

TEST(Div, CapAtThousandCountsBandsWithinTheRange) {
  e2e::TempDir d;
  // Three bands of two pixels; the range starts at band 1, so file band 2 is "band 1".
  e2e::write_floats(d.file("a"), {1, 1, 5000, -5000, 3, 2500});
  e2e::write_floats(d.file("b"), {1, 1, 1, 1, 3, 2});
  const auto r = run("div", {d.file("a"), d.file("b"), d.file("o"), "2", "1", "2", "1", "2"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1 2 1 2 9999.000000\n");
  EXPECT_EQ(r.err, bmt::lines({"rbuf1/rbuf2 = 5000.00; value is set to 1000; band 0 pixel 0\n",
                               "rbuf1/rbuf2 = 1250.00; value is set to 1000; band 1 pixel 1\n"}));
  bmt::expect_file_floats(d.file("o"), {1000, -5000, 1, 1000});
}

TEST(Div, CapMessagesComeBeforeTheReadFailure) {
  e2e::TempDir d;
  e2e::write_floats(d.file("a"), {5000, 1});
  e2e::write_floats(d.file("b"), {1, 1, 1, 1});
  const auto r = run("div", {d.file("a"), d.file("b"), d.file("o"), "2", "0", "1", "0", "1"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, bmt::lines({"rbuf1/rbuf2 = 5000.00; value is set to 1000; band 0 pixel 0\n",
                               "error reading from file1\n"}));
  bmt::expect_empty_file(d.file("o"));
}

// Six arguments: the two extra ones are ignored; eight: bands used, nanvalue 9999; nine:
// nanvalue read; more: ignored.
TEST(Div, ArgumentCounts) {
  TwoInputs t(10, 10);
  auto r = run("div", t.args({"2", "5"}));
  EXPECT_EQ(r.out, "0 9 0 9 9999.000000\n");
  bmt::expect_file_floats(t.out, t.combine(0, 0, 10, div_rule_9999));
  r = run("div", t.args({"2", "5", "2"}));
  EXPECT_EQ(r.out, "0 9 0 9 9999.000000\n");
  r = run("div", t.args({"2", "5", "4", "7"}));
  EXPECT_EQ(r.out, "2 5 4 7 9999.000000\n");
  bmt::expect_file_floats(t.out, t.combine(2, 4, 4, div_rule_9999));
  r = run("div", t.args({"2", "5", "4", "7", "12.5"}));
  EXPECT_EQ(r.out, "2 5 4 7 12.500000\n");
  r = run("div", t.args({"2", "5", "4", "7", "12.5", "3", "x"}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2 5 4 7 12.500000\n");
}

}  // namespace
