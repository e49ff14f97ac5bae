// slivet end to end: the same bands cut out of every block, bit-for-bit copies, the range check
// before any file is opened, and short last blocks.
#include "bandmath_test.h"

namespace {

using bmt::Floats;
using e2e::run;

constexpr int kNpix = 3;
constexpr uint32_t kQuietNaN = 0x7fc00000U;

// Band b, pixel p holds b * 2^17 + p (exact in single precision): every value names its place.
Floats numbered(int nbands, int npixel = kNpix) {
  return bmt::make_bands(nbands, npixel,
                         [](int b, int p) { return static_cast<float>(b * 131072 + p); });
}

// The bands of `v` listed, NaN for a band number of -1.
Floats pick(const Floats& v, std::initializer_list<int> band_list, int npixel = kNpix) {
  Floats r;
  for (const int b : band_list) {
    for (int p = 0; p < npixel; ++p) {
      r.push_back(b < 0 ? bmt::from_bits(kQuietNaN) : v[static_cast<size_t>(b * npixel + p)]);
    }
  }
  return r;
}

std::string warning(const std::string& path, int block) {
  return "Warning: " + path + " ends inside a block of " + std::to_string(block) +
         " bands; kept values missing from its last block are written as NaN\n";
}

TEST(Slivet, KeepsTheSameBandsOfEveryBlock) {
  e2e::TempDir d;
  const Floats v = numbered(24);
  e2e::write_floats(d.file("i"), v);
  const auto r = run("slivet", {d.file("i"), d.file("o"), "3", "12", "5", "7"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  bmt::expect_file_floats(d.file("o"), pick(v, {5, 6, 7, 17, 18, 19}));
}

TEST(Slivet, OneBlockOfTheWholeFileCopiesEveryByte) {
  e2e::TempDir d;
  // Quiet and signalling NaNs with payloads, negative zero, subnormals, infinities.
  const uint32_t patterns[] = {0x7fc00001U, 0xffc12345U, 0x7f800001U, 0xff800abcU,
                               0x80000000U, 0x00000001U, 0x807fffffU, 0x7f800000U,
                               0xff800000U, 0x3dcccccdU, 0xdeadbeefU, 0x12345678U};
  Floats v;
  for (int k = 0; k < 24 * kNpix; ++k) v.push_back(bmt::from_bits(patterns[k % 12]));
  e2e::write_floats(d.file("i"), v);
  const auto r = run("slivet", {d.file("i"), d.file("o"), "3", "24", "0", "23"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(e2e::read_bytes(d.file("o")), e2e::read_bytes(d.file("i")));
  // Blocks of 12, bands 11..11: the patterns come through unchanged there too.
  const auto s = run("slivet", {d.file("i"), d.file("o"), "3", "12", "11", "11"});
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(e2e::bits(e2e::read_floats(d.file("o"))), e2e::bits(pick(v, {11, 23})));
}

TEST(Slivet, RangeErrorsComeBeforeAnyFileIsOpened) {
  e2e::TempDir d;
  const std::vector<std::vector<std::string>> ranges = {
      {"12", "3", "2"}, {"12", "-1", "2"}, {"12", "0", "12"}, {"0", "0", "0"}, {"-4", "0", "0"}};
  for (const auto& g : ranges) {
    // The input does not exist: the range is judged before anything is opened.
    const auto r = run("slivet", {d.file("missing"), d.file("o"), "3", g[0], g[1], g[2]});
    EXPECT_EQ(r.status, 255) << g[0] << " " << g[1] << " " << g[2];
    EXPECT_EQ(r.err, "Please make sure that 0<=startband<=endband<=nbands-1\nExit.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(e2e::exists(d.file("o")));
  }
}

TEST(Slivet, EmptyInputAndTrailingBytesGiveNoBlock) {
  e2e::TempDir d;
  e2e::write_bytes(d.file("e"), "");
  auto r = run("slivet", {d.file("e"), d.file("o"), "3", "12", "0", "11"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  bmt::expect_empty_file(d.file("o"));

  // Three bytes after two whole blocks make no value, so no third block.
  const Floats v = numbered(24);
  e2e::write_floats(d.file("i"), v);
  e2e::write_bytes(d.file("i"), e2e::read_bytes(d.file("i")) + "xyz");
  r = run("slivet", {d.file("i"), d.file("o"), "3", "12", "0", "0"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  bmt::expect_file_floats(d.file("o"), pick(v, {0, 12}));
}

// A short last block is written whole: what the input did not deliver is NaN, never the
// previous block's values, and a warning names the input. The run still succeeds.
TEST(Slivet, ShortLastBlockIsCompletedWithNaN) {
  e2e::TempDir d;
  struct Case {
    int nbands;        // bands in the input
    const char* from;  // kept range of blocks of 12
    const char* to;
    std::initializer_list<int> expect;  // output bands, -1 for NaN
  };
  const Case cases[] = {
      {30, "5", "7", {5, 6, 7, 17, 18, 19, 29, -1, -1}},  // ends inside the kept bands
      {27, "5", "7", {5, 6, 7, 17, 18, 19, -1, -1, -1}},  // ends before them
      {34, "5", "7", {5, 6, 7, 17, 18, 19, 29, 30, 31}},  // ends after them
      {5, "1", "2", {1, 2}},                              // one block larger than the file
      {5, "3", "6", {3, 4, -1, -1}},
  };
  for (const Case& c : cases) {
    const Floats v = numbered(c.nbands);
    e2e::write_floats(d.file("i"), v);
    const auto r = run("slivet", {d.file("i"), d.file("o"), "3", "12", c.from, c.to});
    EXPECT_EQ(r.status, 0) << c.nbands;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, warning(d.file("i"), 12)) << c.nbands;
    bmt::expect_file_floats(d.file("o"), pick(v, c.expect));
  }
  // A block that ends inside a band: the rest of that band is NaN as well.
  Floats v = numbered(24);
  v.push_back(7.0f);
  v.push_back(8.0f);
  e2e::write_floats(d.file("i"), v);
  const auto r = run("slivet", {d.file("i"), d.file("o"), "3", "12", "0", "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, warning(d.file("i"), 12));
  Floats expected = pick(v, {0, 1, 12, 13});
  for (const float x : {7.0f, 8.0f}) expected.push_back(x);
  for (int k = 0; k < 4; ++k) expected.push_back(bmt::from_bits(kQuietNaN));
  bmt::expect_file_floats(d.file("o"), expected);
}

// Bands of 400 KB: a block of 7 is read in pieces of a few bands, and the cut stays exact.
TEST(Slivet, LargeBlocksAreCutExactly) {
  e2e::TempDir d;
  const int npix = 100000;
  const Floats v = numbered(17, npix);  // two blocks of 7 and a short one of 3
  e2e::write_floats(d.file("i"), v);
  const auto r = run("slivet", {d.file("i"), d.file("o"), std::to_string(npix), "7", "2", "5"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, warning(d.file("i"), 7));
  bmt::expect_file_floats(d.file("o"), pick(v, {2, 3, 4, 5, 9, 10, 11, 12, 16, -1, -1, -1}, npix));
}

TEST(Slivet, ArgumentsAfterTheSixthAreIgnored) {
  e2e::TempDir d;
  const Floats v = numbered(24);
  e2e::write_floats(d.file("i"), v);
  const auto r = run("slivet", {d.file("i"), d.file("o"), "3", "12", "2", "3", "9", "x"});
  EXPECT_EQ(r.status, 0);
  bmt::expect_file_floats(d.file("o"), pick(v, {2, 3, 14, 15}));
}

}  // namespace

// On a file, the bands that are not kept are stepped over; through a pipe every value is read.
// Both give the same output, lines and status wherever the input ends: after whole blocks,
// inside each segment of the last block, or inside a value.
TEST(Slivet, SteppingOverAFileEqualsReadingAPipe) {
  const int npixel = 4;
  const Floats v = numbered(3 * 6, npixel);  // three blocks of 6 bands
  std::string all(reinterpret_cast<const char*>(v.data()), v.size() * 4);
  const std::size_t blocks2 = 2 * 6 * npixel * 4;
  const std::vector<std::size_t> lengths = {0,
                                            all.size(),
                                            all.size() - 2,
                                            blocks2 + 4 * 4,        // inside the bands before
                                            blocks2 + 10 * 4,       // inside the kept bands
                                            blocks2 + 19 * 4,       // inside the bands after
                                            blocks2 + 21 * 4 + 1};  // inside a value
  for (const std::size_t len : lengths) {
    SCOPED_TRACE("input of " + std::to_string(len) + " bytes");
    e2e::TempDir d;
    const std::string bytes = all.substr(0, len);
    e2e::write_bytes(d.file("in"), bytes);
    const std::vector<std::string> rest = {std::to_string(npixel), "6", "2", "3"};
    std::vector<std::string> args = {d.file("in"), d.file("out_file")};
    args.insert(args.end(), rest.begin(), rest.end());
    const auto file = run("slivet", args);
    std::vector<std::string> pipe_args = {"PIPE", d.file("out_pipe")};
    pipe_args.insert(pipe_args.end(), rest.begin(), rest.end());
    const auto pipe = bmt::run_reading_pipe("slivet", d, bytes, pipe_args);
    EXPECT_EQ(file.status, pipe.status);
    EXPECT_EQ(file.out, pipe.out);
    std::string err = pipe.err;
    const std::size_t at = err.find(d.file("fifo"));
    if (at != std::string::npos) err.replace(at, d.file("fifo").size(), d.file("in"));
    EXPECT_EQ(file.err, err);
    EXPECT_EQ(e2e::read_bytes(d.file("out_file")), e2e::read_bytes(d.file("out_pipe")));
  }
}
