// Values fennick writes: the worked dissimilarities, the similarity, period means, the band-0
// test, NaN covers and covers above 1. Every value is compared by its bits.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fpc.h"

namespace {

using e2e::bits;
using fpc::pixel;
using fpc::Pixel;
using fpc::Year;

struct Worked {
  Pixel p1;
  Pixel p2;
  float dissimilarity;
  float similarity;
};

// Worked compositions, one year per period, band 0 equal to 1. Where the rules' rounding moves
// a value off the nominal decimal, the exact float is given as an integer times 2^-24:
// - types 3/6, 8/9: the one differing trait has weight 0.3f, so S = float(1 - 0.3f) = 0.7f and
//   1 - 0.7f is exactly 0.3f.
// - 7/6: d = float(0.75 * 0.2f) = 10066330 * 2^-26, then d + 0.2f = 23488103 * 2^-26 rounds
//   (tie to even) to 11744052 * 2^-25; S = 1 - d = 10905190 * 2^-24 (0.65f), and the written
//   1 - S is 5872026 * 2^-24, one step above 0.35f.
// - 3/7: d as for 7/6, then + 0.3f (10066330 * 2^-25) = 21810382 * 2^-25 = 10905191 * 2^-24;
//   S = 5872025 * 2^-24 (0.35f), 1 - S = 10905191 * 2^-24, one step above 0.65f.
// - 2/1: d = 0.2f; S = float(1 - 0.2f) = 0.8f, and 1 - 0.8f = 3355443 * 2^-24, one step below
//   0.2f.
const Worked kWorked[] = {
    {pixel({{3, 1.0f}}), pixel({{6, 1.0f}}), 0.3f, 0.7f},
    {pixel({{8, 1.0f}}), pixel({{9, 1.0f}}), 0.3f, 0.7f},
    {pixel({{7, 1.0f}}), pixel({{6, 1.0f}}), 0x59999Ap-24f, 0xA66666p-24f},
    {pixel({{3, 1.0f}}), pixel({{7, 1.0f}}), 0xA66667p-24f, 0x599999p-24f},
    {pixel({{2, 1.0f}}), pixel({{1, 1.0f}}), 0x333333p-24f, 0.8f},
    {pixel({{1, 1.0f}}), pixel({{8, 1.0f}}), 1.0f, 0.0f},
    {pixel({{5, 0.5f}}), pixel({}), 0.5f, 0.5f},
};
constexpr std::size_t kRows = std::size(kWorked);

struct Files {
  e2e::TempDir dir;
  std::string f1 = dir.file("fpc1.bin");
  std::string f2 = dir.file("fpc2.bin");
  std::string out = dir.file("out.bin");
};

/// Writes one-year periods holding the given pixels and runs fennick on them.
e2e::Result run_pixels(Files& f, const Year& p1, const Year& p2, bool sim = false) {
  fpc::write(f.f1, {p1});
  fpc::write(f.f2, {p2});
  const auto n = static_cast<int64_t>(p1.size());
  return fpc::run(f.f1, f.f2, f.out, 1, 1, n, 0, 0,
                  sim ? std::vector<std::string>{"0"} : std::vector<std::string>{});
}

TEST(WorkedTable, Dissimilarities) {
  Files f;
  Year p1, p2;
  for (const Worked& w : kWorked) {
    p1.push_back(w.p1);
    p2.push_back(w.p2);
  }
  const auto r = run_pixels(f, p1, p2);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  const auto got = e2e::read_floats(f.out);
  ASSERT_EQ(got.size(), kRows);
  for (std::size_t i = 0; i < kRows; ++i) {
    EXPECT_EQ(bits(got[i]), bits(kWorked[i].dissimilarity)) << "row " << i << ": " << got[i];
  }
}

TEST(WorkedTable, SimilarityWhateverTheNinthArgumentSays) {
  Files f;
  Year p1, p2;
  for (const Worked& w : kWorked) {
    p1.push_back(w.p1);
    p2.push_back(w.p2);
  }
  fpc::write(f.f1, {p1});
  fpc::write(f.f2, {p2});
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"0"}, {"no"}, {""}, {"sim", "more", "args"}}) {
    const auto r = fpc::run(f.f1, f.f2, f.out, 1, 1, kRows, 0, 0, extra);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto got = e2e::read_floats(f.out);
    ASSERT_EQ(got.size(), kRows);
    for (std::size_t i = 0; i < kRows; ++i) {
      EXPECT_EQ(bits(got[i]), bits(kWorked[i].similarity)) << "row " << i << " " << extra[0];
    }
  }
}

TEST(WorkedTable, ManyPixelsAndYearsKeepEachPixelApart) {
  // Pixel p holds worked row p % 7 in both years of each period (means of c/2 + c/2 = c), over
  // more pixels than the tool handles at once, ending in a partial batch.
  const int64_t npixel = 2 * 4096 + 5;
  Year p1, p2;
  for (int64_t p = 0; p < npixel; ++p) {
    p1.push_back(kWorked[static_cast<std::size_t>(p) % kRows].p1);
    p2.push_back(kWorked[static_cast<std::size_t>(p) % kRows].p2);
  }
  Files f;
  fpc::write(f.f1, {p1, p1});
  fpc::write(f.f2, {p2, p2});
  const auto r = fpc::run(f.f1, f.f2, f.out, 2, 2, npixel, 0, 0);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto got = e2e::read_floats(f.out);
  ASSERT_EQ(static_cast<int64_t>(got.size()), npixel);
  int64_t wrong = 0;
  for (int64_t p = 0; p < npixel; ++p) {
    const float want = kWorked[static_cast<std::size_t>(p) % kRows].dissimilarity;
    wrong += bits(got[static_cast<std::size_t>(p)]) != bits(want) ? 1 : 0;
  }
  EXPECT_EQ(wrong, 0);
}

TEST(Values, PartialCoversKeepTheSingleDoubleMix) {
  // Plant type 3 at 0.62 against type 7 at 0.62 (uncovered 0.38 in both). Traits 1, 2 and 4
  // differ: |0.62 - 0.25 * 0.62|, 0.62 and 0.62. Each weighted difference is formed and added
  // in double and stored in single; (1 - d) x woody overlap is formed in double; the uncovered
  // overlap 0.38 is added last.
  const float c = 0.62f;
  const auto wd = [](float diff, float w) {
    return static_cast<double>(diff) * static_cast<double>(w);
  };
  float d = static_cast<float>(0.0 + wd(c - 0.25f * c, 0.2f));
  d = static_cast<float>(static_cast<double>(d) + wd(c, 0.2f));
  d = static_cast<float>(static_cast<double>(d) + wd(c, 0.3f));
  const float woody = static_cast<float>((1.0 - static_cast<double>(d)) * static_cast<double>(c));
  const float s = static_cast<float>(static_cast<double>(woody) + static_cast<double>(1.0f - c));
  // Rounding (1 - d) x overlap, or a weighted difference, to single first changes the result.
  const float s_single =
      static_cast<float>(static_cast<double>((1.0f - d) * c) + static_cast<double>(1.0f - c));
  ASSERT_NE(bits(1.0f - s), bits(1.0f - s_single));

  Files f;
  const auto r = run_pixels(f, {pixel({{3, c}})}, {pixel({{7, c}})});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(e2e::bits(e2e::read_floats(f.out)), std::vector<uint32_t>{bits(1.0f - s)});
  EXPECT_EQ(bits(1.0f - s), bits(0x1.ffb6ap-3f));
}

TEST(Values, EqualCompositionsGiveZeroWithinSinglePrecision) {
  // Equal compositions have no trait difference (d = 0), so S is the sum of the three group
  // shares, each added in double and rounded to single. Nine covers of 0.1f leave S one step
  // below 1, so the dissimilarity is 2^-24, not 0; the other composition lands on 0 exactly.
  const Pixel a = pixel({{1, 0.05f},
                         {2, 0.1f},
                         {3, 0.15f},
                         {4, 0.2f},
                         {5, 0.01f},
                         {6, 0.03f},
                         {7, 0.07f},
                         {8, 0.11f},
                         {9, 0.13f}});
  Pixel b = pixel({});
  for (std::size_t k = 1; k < 10; ++k) b[k] = 0.1f;
  Files f;
  const auto r = run_pixels(f, {a, b}, {a, b});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto got = e2e::read_floats(f.out);
  ASSERT_EQ(got.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const Pixel& c = i == 0 ? a : b;
    float woody = 0.0f, grass = 0.0f, cover = 0.0f;
    for (std::size_t k = 1; k <= 7; ++k) woody = woody + c[k];
    grass = (grass + c[8]) + c[9];
    for (std::size_t k = 1; k < 10; ++k) cover = cover + c[k];
    float s = 0.0f;
    for (const float share : {woody, grass, 1.0f - cover}) {
      s = static_cast<float>(static_cast<double>(s) + static_cast<double>(share));
    }
    EXPECT_EQ(bits(got[i]), bits(1.0f - s)) << i;
  }
  EXPECT_EQ(bits(got[0]), bits(0.0f));
  EXPECT_EQ(bits(got[1]), bits(0x1p-24f));
}

TEST(Values, EachYearIsDividedBeforeItIsAdded) {
  // Plant type 5 has no traits, so with the other period's mean exactly 1 (1.5/3 + 0.75/3 +
  // 0.75/3) the similarity is the first period's mean itself. For 0.35f, 0.2f, 0.15f the
  // per-year division gives a different float from dividing the sum.
  const float y[3] = {0.35f, 0.2f, 0.15f};
  const float full[3] = {1.5f, 0.75f, 0.75f};
  const float three = 3.0f;
  const float mean = ((0.0f + y[0] / three) + y[1] / three) + y[2] / three;
  ASSERT_NE(bits(mean), bits(((y[0] + y[1]) + y[2]) / three));  // the data tells them apart

  Files f;
  std::vector<Year> p1, p2;
  for (int i = 0; i < 3; ++i) {
    // Pixel 0 averages period 1, pixel 1 period 2.
    p1.push_back({pixel({{5, y[i]}}), pixel({{5, full[i]}})});
    p2.push_back({pixel({{5, full[i]}}), pixel({{5, y[i]}})});
  }
  fpc::write(f.f1, p1);
  fpc::write(f.f2, p2);
  const auto r = fpc::run(f.f1, f.f2, f.out, 3, 3, 2, 0, 0, {"sim"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto got = e2e::read_floats(f.out);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(bits(got[0]), bits(mean));
  EXPECT_EQ(bits(got[1]), bits(mean));
}

TEST(Values, BandZeroOfTheLastYearOfPeriodOneGatesEachPixel) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float thousandth = 0.001f;  // just above 0.001 in double
  const float below = std::nextafter(thousandth, 0.0f);
  ASSERT_GT(static_cast<double>(thousandth), 0.001);
  ASSERT_LT(static_cast<double>(below), 0.001);
  const float gate[] = {thousandth, below, 0.0f, -0.0f, -1.0f, nan, 1.0f};
  const bool passes[] = {true, false, false, false, false, false, true};

  // Period 1 has two years: band 0 of year 0 is 0 everywhere and must not matter. Period 2's
  // band 0 is 0 too. Every pixel compares plant type 3 with 6 (0.3 when it passes); a failing
  // pixel also carries a NaN cover that must not reach the output.
  Year first, last, second;
  for (const float g : gate) {
    first.push_back(pixel({{3, 1.0f}}, 0.0f));
    last.push_back(pixel({{3, 1.0f}}, g));
    second.push_back(pixel({{6, 1.0f}}, 0.0f));
  }
  first[1][9] = nan;
  last[1][9] = nan;
  Files f;
  fpc::write(f.f1, {first, last});
  fpc::write(f.f2, {second});
  for (const bool sim : {false, true}) {
    const auto r = fpc::run(f.f1, f.f2, f.out, 2, 1, std::size(gate), 0, 0,
                            sim ? std::vector<std::string>{"x"} : std::vector<std::string>{});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto got = e2e::read_floats(f.out);
    ASSERT_EQ(got.size(), std::size(gate));
    for (std::size_t i = 0; i < std::size(gate); ++i) {
      const float want = passes[i] ? (sim ? 0.7f : 0.3f) : (sim ? 1.0f : 0.0f);
      EXPECT_EQ(bits(got[i]), bits(want)) << "gate " << gate[i] << " sim " << sim;
    }
  }
}

TEST(Values, NanCoverInEitherPeriodMakesTheValueNan) {
  // Every sum runs over all ten slots, so a NaN cover reaches every group, even one the
  // plant type does not belong to.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Year p1 = {pixel({{3, nan}}), pixel({{3, 1.0f}}), pixel({{8, nan}})};
  const Year p2 = {pixel({{6, 1.0f}}), pixel({{9, nan}}), pixel({{8, 0.5f}})};
  for (const bool sim : {false, true}) {
    Files f;
    const auto r = run_pixels(f, p1, p2, sim);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto got = e2e::read_floats(f.out);
    ASSERT_EQ(got.size(), 3u);
    for (const float v : got) EXPECT_TRUE(std::isnan(v)) << v << " sim " << sim;
  }
}

TEST(Values, CoversAboveOneLeaveANegativeUncoveredFraction) {
  // 0.75 + 0.5 covered gives an uncovered fraction of -0.25; against a bare period 2 the
  // woody and grass overlaps are 0 and the uncovered overlap is -0.25, so S = -0.25 and the
  // dissimilarity 1.25 (clamping would give 1).
  Files f;
  const auto r = run_pixels(f, {pixel({{5, 0.75f}, {8, 0.5f}})}, {pixel({})});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(e2e::bits(e2e::read_floats(f.out)), std::vector<uint32_t>{bits(1.25f)});
  Files g;
  const auto s = run_pixels(g, {pixel({{5, 0.75f}, {8, 0.5f}})}, {pixel({})}, true);
  ASSERT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(e2e::bits(e2e::read_floats(g.out)), std::vector<uint32_t>{bits(-0.25f)});
}

}  // namespace
