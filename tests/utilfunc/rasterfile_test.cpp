#include "rasterfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e.h"

using namespace raster;

TEST(BandCount, TrailingBytesAreIgnored) {
  const int64_t npixel = 1000;
  EXPECT_EQ(band_count(4 * npixel * 3 + 5, npixel), 3);
  EXPECT_EQ(band_count(0, npixel), 0);
  EXPECT_EQ(band_count(4 * npixel * 3 - 1, npixel), 2);
}

TEST(BandCount, FromTheStatusOfAnOpenFile) {
  e2e::TempDir d;
  e2e::write_bytes(d.file("f"), std::string(4 * 7 * 3 + 5, 'a'));
  InFile in = InFile::open(d.file("f").c_str());
  EXPECT_EQ(in.size(), 4 * 7 * 3 + 5);
  EXPECT_EQ(band_count(in.size(), 7), 3);
}

TEST(Offsets, YearBandPixelAre64Bit) {
  EXPECT_EQ(year_band_offset(2, 12, 5, 1000), 116000);
  EXPECT_EQ(band_offset(3, 1000), 12000);
  // Past 2 GiB: year 199 of 12 monthly 0.5-degree grids of 259200 cells.
  EXPECT_EQ(year_band_offset(199, 12, 11, 259200), int64_t{2399} * 259200 * 4);
  EXPECT_GT(year_band_offset(199, 12, 11, 259200), int64_t{1} << 31);
}

TEST(GetFileSize, KeepsThePosition) {
  e2e::TempDir d;
  e2e::write_bytes(d.file("f"), std::string(4000, 'a'));
  FILE* f = std::fopen(d.file("f").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, 100, SEEK_SET), 0);
  EXPECT_EQ(getfilesize(f), 4000u);
  EXPECT_EQ(std::ftell(f), 100);
  std::fclose(f);
}

TEST(PixelArea, WorkedValues) {
  EXPECT_EQ(pixelarea(0.5, 0, 0.5, 0), 3091048398.3196683);
  EXPECT_EQ(pixelarea(180, -180, 90, -90), 510066073117988.56);
  EXPECT_EQ(pixelarea(0, 0.5, 0.5, 0), -3091048398.3196683);
  EXPECT_EQ(pixelarea(0.5, 0, 0, 0.5), -3091048398.3196683);
}

TEST(InFile, ShortReadCountsWholeValuesAndKeepsErrorIndicatorClear) {
  e2e::TempDir d;
  e2e::write_floats(d.file("f"), {1, 2, 3});
  InFile in = InFile::open(d.file("f").c_str());
  float buf[8] = {};
  ASSERT_TRUE(in.seek(4));
  EXPECT_EQ(in.read_floats(buf, 8), 2);
  EXPECT_EQ(buf[0], 2.0f);
  EXPECT_EQ(buf[1], 3.0f);
  EXPECT_EQ(in.error(), 0);
  EXPECT_FALSE(in.seek(-4));
}

TEST(InFile, TryOpenOfMissingFileIsClosed) {
  EXPECT_FALSE(InFile::try_open("/nonexistent-dir/none.bin").is_open());
}

TEST(OutFile, DiscardLeavesAnEmptyFile) {
  e2e::TempDir d;
  OutFile out = OutFile::open(d.file("o").c_str());
  const float v[3] = {1, 2, 3};
  out.write_floats(v, 3);
  out.discard();
  out.close();
  EXPECT_EQ(e2e::file_size(d.file("o")), 0);
}
