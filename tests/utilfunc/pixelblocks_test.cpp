// The pixel-block schedule's pieces: positional reads over many bands against a file whose
// values name their band and pixel, the stream fallback, positional and in-order writes with
// their failures, the workspace's layout, and the team passing a member's failure on.
#include "pixelblocks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "e2e.h"
#include "parallel.h"
#include "report.h"

using raster::PreadEnd;

namespace {

constexpr int64_t kPixels = 5;

// Bands 0-2 whole, band 3 with 2 values and 2 stray bytes; value 100 * band + pixel.
std::string file_of_bands(const e2e::TempDir& d) {
  std::vector<float> v;
  for (int b = 0; b < 4; ++b) {
    for (int p = 0; p < (b < 3 ? kPixels : 2); ++p) v.push_back(static_cast<float>(100 * b + p));
  }
  e2e::write_floats(d.file("bands"), v);
  e2e::write_bytes(d.file("bands"), e2e::read_bytes(d.file("bands")) + "xx");
  return d.file("bands");
}

}  // namespace

TEST(BandReader, PixelsOfManyBandsInOrderUpToTheFirstShortBand) {
  e2e::TempDir d;
  const raster::InFile in = raster::InFile::open(file_of_bands(d).c_str());
  const raster::BandReader r(in, kPixels);
  const int64_t far = std::numeric_limits<int64_t>::max() / 2;
  const struct {
    int64_t first, step, count, p0, p1;
    PreadEnd end;
    std::vector<float> values;  // what arrived, band after band
  } rows[] = {
      {0, 1, 3, 1, 4, PreadEnd::whole, {1, 2, 3, 101, 102, 103, 201, 202, 203}},
      {0, 2, 2, 0, 2, PreadEnd::whole, {0, 1, 200, 201}},
      {2, 1, 2, 0, 5, PreadEnd::at_end, {200, 201, 202, 203, 204, 300, 301}},  // whole values
      {3, 1, 1, 3, 5, PreadEnd::at_end, {}},
      {far, 1, 1, 0, 5, PreadEnd::at_end, {}},  // past the last offset of any file
  };
  for (const auto& row : rows) {
    const int64_t n = row.p1 - row.p0;
    std::vector<float> dst(static_cast<std::size_t>(row.count * n), -1.0f);
    int64_t arrived = -1;
    EXPECT_EQ(
        r.read_pixels(row.first, row.step, row.count, row.p0, row.p1, dst.data(), n, &arrived),
        row.end)
        << row.first;
    dst.resize(static_cast<std::size_t>(arrived));
    EXPECT_EQ(dst, row.values) << row.first;
  }
  // A run of values goes on into the next band; a base moves band 0.
  float run[5];
  int64_t got = 0;
  EXPECT_EQ(r.read_values(1, 3, 8, run, &got), PreadEnd::whole);
  EXPECT_EQ(std::vector<float>(run, run + got), (std::vector<float>{103, 104, 200, 201, 202}));
  const raster::BandReader based(fileno(in.get()), kPixels, 4 * kPixels);
  EXPECT_EQ(based.read_values(0, 0, 1, run, &got), PreadEnd::whole);
  EXPECT_EQ(run[0], 100.0f);
  // A folder opens but cannot be read.
  const raster::InFile folder = raster::InFile::open(d.path().c_str());
  EXPECT_EQ(raster::BandReader(folder, kPixels).read_values(0, 0, 1, run, &got), PreadEnd::error);
}

TEST(StreamBands, FromAPipeAsItComesAndFromAFileAtTheBand) {
  e2e::TempDir d;
  const std::string path = file_of_bands(d);
  float dst[4 * kPixels];
  raster::InFile file = raster::InFile::open(path.c_str());
  EXPECT_EQ(raster::read_stream_bands(file, 1, kPixels, dst, 4), 2);  // bands 1 and 2 whole
  EXPECT_EQ(dst[0], 100.0f);
  EXPECT_EQ(raster::read_stream_bands(file, int64_t{1} << 62, kPixels, dst, 1), 0);
  // A pipe cannot be positioned: it reads on from where it is.
  ASSERT_EQ(mkfifo(d.file("fifo").c_str(), 0600), 0);
  std::thread writer([&] { e2e::write_bytes(d.file("fifo"), e2e::read_bytes(path)); });
  raster::InFile pipe = raster::InFile::open(d.file("fifo").c_str());
  EXPECT_EQ(raster::read_stream_bands(pipe, 2, kPixels, dst, 4), 3);
  EXPECT_EQ(dst[0], 0.0f);
  writer.join();
}

TEST(BlockWriter, MembersWriteTheirBlocksAndFailuresComeBackInOrder) {
  e2e::TempDir d;
  for (const bool direct : {true, false}) {
    raster::OutFile out = raster::OutFile::open(d.file("o").c_str());
    raster::ThreadTeam team(3);
    raster::BlockWriter w(out, team.size(), direct);
    const std::vector<float> row = {1, 2, 3, 4, 5, 6, 7};
    for (int64_t y = 0; y < 2; ++y) {
      team.for_member_blocks(7, 2, [&](int k, int64_t p0, int64_t p1) {
        w.write_at(k, row.data() + p0, (p1 - p0) * 4, (y * 7 + p0) * 4);
      });
      w.finish_row(row.data(), 7);
    }
    out.close();
    EXPECT_EQ(e2e::read_floats(d.file("o")),
              (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 1, 2, 3, 4, 5, 6, 7}))
        << direct;
  }
  raster::OutFile full = raster::OutFile::open("/dev/full");
  raster::BlockWriter w(full, 2, true);
  const float v = 1;
  w.write_at(1, &v, 4, 0);
  try {
    w.check();
    ADD_FAILURE() << "a failed write passed";
  } catch (const raster::Fatal& f) {
    EXPECT_EQ(f.status(), raster::status::failure);
    EXPECT_EQ(f.text(), "Error: cannot write output file /dev/full: No space left on device\n\n");
  }
}

TEST(InOrderWriter, WritesFrontToBackAndKeepsItsFailure) {
  e2e::TempDir d;
  const std::vector<float> image = {1, 2, 3, 4};
  raster::OutFile out = raster::OutFile::open(d.file("o").c_str());
  raster::InOrderWriter w(out, image.data());
  for (const int64_t end : {8, 8, 4, 16}) w.write_to(end);  // never backwards
  EXPECT_EQ(w.written(), 16);
  out.close();
  EXPECT_EQ(e2e::read_floats(d.file("o")), image);
  raster::OutFile full = raster::OutFile::open("/dev/full");
  raster::InOrderWriter f(full, image.data());
  f.write_to(8);
  f.write_to(16);
  EXPECT_EQ(f.error(), ENOSPC);
  EXPECT_EQ(f.written(), 0);
}

TEST(Workspace, PartsOnTheirOwnBoundariesFreshAndZero) {
  raster::Workspace w;
  const int64_t parts[] = {10, 4096, 1, 0, 5000};
  ASSERT_TRUE(w.map(parts, 4096));
  const auto at = [&](std::size_t i) { return reinterpret_cast<std::uintptr_t>(w.part<char>(i)); };
  EXPECT_EQ(at(0) % raster::Workspace::kHugePage, 0U);
  const std::uintptr_t want[] = {0, 4096, 8192, 12288, 12288};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(at(i) - at(0), want[i]) << i;
  for (int64_t j = 0; j < 5000; ++j) EXPECT_EQ(w.part<char>(4)[j], 0);
  const int64_t huge[] = {std::numeric_limits<int64_t>::max() - 10};
  EXPECT_FALSE(w.map(huge, 4096));
  EXPECT_FALSE(w.ok());
}

TEST(ThreadTeam, AMembersFailureReachesTheCallerAfterAllFinished) {
  raster::ThreadTeam team(4);
  std::vector<int> finished(4, 0);
  try {
    team.run([&](int k) {
      finished[static_cast<std::size_t>(k)] = 1;
      if (k >= 2) raster::fail_status(k, "member %d\n", k);
    });
    ADD_FAILURE() << "the failure was lost";
  } catch (const raster::Fatal& f) {
    EXPECT_EQ(f.text(), "member 2\n");  // the lowest member's
  }
  EXPECT_EQ(finished, (std::vector<int>{1, 1, 1, 1}));
  int ran = 0;
  team.run([&](int k) {
    if (k == 0) ran = 1;
  });
  EXPECT_EQ(ran, 1);  // the team is still whole
  EXPECT_EQ(raster::run_program([] { return raster::fail_status(7, "x"), 0; }), 7);
}
