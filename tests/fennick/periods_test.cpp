// Where the two periods come from: years of file 1 and file 2, or (startyear2 below 0) years
// counted back from the end of file 1.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "fpc.h"

namespace {

using fpc::pixel;
using fpc::Year;

constexpr int64_t kPixels = 3;

// Each year of each file holds a plant-type-5 cover that names the file, year and pixel.
// Type 5 has no traits, so for covers like these (few binary digits) the dissimilarity is
// exactly |mean 1 - mean 2|: the woody overlap is the smaller cover, the uncovered overlap
// 1 minus the larger.
float code1(int y, int64_t p) { return static_cast<float>(y) / 8 + static_cast<float>(p) / 64; }
float code2(int y, int64_t p) {
  return 0.75f - static_cast<float>(y) / 16 - static_cast<float>(p) / 128;
}

struct Files {
  e2e::TempDir dir;
  std::string f1 = dir.file("fpc1.bin");
  std::string f2 = dir.file("fpc2.bin");
  std::string out = dir.file("out.bin");
  Files() {
    std::vector<Year> y1(5), y2(4);
    for (int y = 0; y < 5; ++y) {
      for (int64_t p = 0; p < kPixels; ++p) y1[y].push_back(pixel({{5, code1(y, p)}}));
    }
    for (int y = 0; y < 4; ++y) {
      for (int64_t p = 0; p < kPixels; ++p) y2[y].push_back(pixel({{5, code2(y, p)}}));
    }
    fpc::write(f1, y1);
    fpc::write(f2, y2);
  }
};

/// The written values must be |m1(p) - m2(p)| for every pixel.
template <class M1, class M2>
void expect_output(const std::string& out, M1 m1, M2 m2) {
  const auto got = e2e::read_floats(out);
  ASSERT_EQ(static_cast<int64_t>(got.size()), kPixels);
  for (int64_t p = 0; p < kPixels; ++p) {
    EXPECT_EQ(e2e::bits(got[static_cast<std::size_t>(p)]), e2e::bits(std::fabs(m1(p) - m2(p))))
        << "pixel " << p;
  }
}

TEST(Periods, StartYearZeroReadsTheFirstYearOfFileTwo) {
  Files f;
  const auto r = fpc::run(f.f1, f.f2, f.out, 1, 1, kPixels, 0, 0);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  expect_output(
      f.out, [](int64_t p) { return code1(0, p); }, [](int64_t p) { return code2(0, p); });
}

TEST(Periods, StartYearsPositionBothFiles) {
  Files f;
  const auto r = fpc::run(f.f1, f.f2, f.out, 1, 1, kPixels, 2, 3);
  ASSERT_EQ(r.status, 0) << r.err;
  expect_output(
      f.out, [](int64_t p) { return code1(2, p); }, [](int64_t p) { return code2(3, p); });
}

TEST(Periods, NegativeStartYearTakesTheLastYearsOfFileOne) {
  Files f;
  // File 2 need not exist: it is reported, and then not used.
  const auto r = fpc::run(f.f1, f.dir.file("missing.bin"), f.out, 1, 1, kPixels, 0, -1);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Warning: File open failed on input file2\n");
  EXPECT_EQ(r.out, "");
  expect_output(
      f.out, [](int64_t p) { return code1(0, p); }, [](int64_t p) { return code1(4, p); });
}

TEST(Periods, NegativeStartYearCountsBackFromTheEnd) {
  Files f;
  // Three years before the end of five is year 2; one year is read from there.
  auto r = fpc::run(f.f1, f.f2, f.out, 1, 1, kPixels, 1, -3);
  ASSERT_EQ(r.status, 0) << r.err;
  expect_output(
      f.out, [](int64_t p) { return code1(1, p); }, [](int64_t p) { return code1(2, p); });

  // The last two years, averaged.
  r = fpc::run(f.f1, f.f2, f.out, 1, 2, kPixels, 0, -2);
  ASSERT_EQ(r.status, 0) << r.err;
  expect_output(
      f.out, [](int64_t p) { return code1(0, p); },
      [](int64_t p) { return code1(3, p) / 2 + code1(4, p) / 2; });
}

TEST(Periods, SameYearsOfFileOneInBothPeriodsGiveZero) {
  Files f;
  const auto r = fpc::run(f.f1, f.f2, f.out, 2, 2, kPixels, 1, -4);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(e2e::bits(e2e::read_floats(f.out)), std::vector<uint32_t>(kPixels, 0u));
}

TEST(Periods, YearsBeyondTwoGibibytesAreReached) {
  // One pixel, 40 bytes a year: year 60,000,000 starts at byte 2.4e9. The years between are
  // a hole in a sparse file. Period 1 is that year (plant type 3), period 2 counts back to
  // year 0 (plant type 7): the worked 3/7 value.
  constexpr int64_t kYear = 60000000;
  e2e::TempDir dir;
  const std::string f1 = dir.file("big.bin");
  const std::string out = dir.file("out.bin");
  const auto year_bytes = [](const fpc::Pixel& px) {
    return std::string(reinterpret_cast<const char*>(px.data()), sizeof(float) * px.size());
  };
  {
    FILE* f = std::fopen(f1.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string first = year_bytes(pixel({{7, 1.0f}}));
    const std::string last = year_bytes(pixel({{3, 1.0f}}));
    ASSERT_EQ(std::fwrite(first.data(), 1, first.size(), f), first.size());
    ASSERT_EQ(fseeko(f, static_cast<off_t>(kYear * 40), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(last.data(), 1, last.size(), f), last.size());
    ASSERT_EQ(std::fclose(f), 0);
  }
  ASSERT_EQ(e2e::file_size(f1), (kYear + 1) * 40);
  const auto r = fpc::run(f1, dir.file("unused.bin"), out, 1, 1, 1, kYear, -(kYear + 1));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(e2e::bits(e2e::read_floats(out)), std::vector<uint32_t>{e2e::bits(0xA66667p-24f)});
}

}  // namespace
