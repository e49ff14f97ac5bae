// End-to-end runs of `mean`: worked values, layout for every flag set, messages and statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "halfoffset_model.h"
#include "mean_tool.h"
#include "utilfunc.h"

namespace {

// The tool runs in this process, through its library entry.
const e2e::InProcess kInProcess{"mean", meantool::run_mean};

using e2e::bits;
using Floats = std::vector<float>;

const char* const kUsage =
    "Use:\n%s ifile ofile npixel startyear endyear nbandsyear [-gm][-sd] \n"
    "calculates monthly means/standard deviation(sd), annual mean (gm)\n";

std::string usage_for(const std::string& prog) {
  std::string u = kUsage;
  u.replace(u.find("%s"), 2, prog);
  return u;
}

// The statistics step by step as the tool's rules state them, one value at a time, with the
// shared half-offset operations: float sums year by year, means in double, the annual mean
// from the finished means, squared deviations from the rounded mean.
Floats reference(const Floats& file, int npixel, int y0, int y1, int nb, bool sd, bool gm) {
  const int stride = sd ? 2 : 1;
  const auto at = [&](int y, int b, int p) { return file[((y * nb) + b) * npixel + p]; };
  Floats out(static_cast<size_t>((nb * stride + (gm ? 1 : 0)) * npixel), 0.0f);
  const auto mean = [&](int b, int p) -> float& { return out[(b * stride) * npixel + p]; };
  const auto dev = [&](int b, int p) -> float& { return out[(2 * b + 1) * npixel + p]; };
  const double nyear = static_cast<double>(y1 - y0 + 1);
  for (int y = y0; y <= y1; ++y)
    for (int b = 0; b < nb; ++b)
      for (int p = 0; p < npixel; ++p)
        mean(b, p) = mean(b, p) + reference::signed_halfoffset(at(y, b, p));
  for (int b = 0; b < nb; ++b)
    for (int p = 0; p < npixel; ++p)
      mean(b, p) = reference::signed_halfoffset(static_cast<double>(mean(b, p)) / nyear);
  if (gm) {
    for (int b = 0; b < nb; ++b) {
      for (int p = 0; p < npixel; ++p) {
        const float q = mean(b, p) / static_cast<float>(nb);
        float& a = out[(nb * stride) * npixel + p];
        a = a + reference::signed_halfoffset(static_cast<double>(q));
      }
    }
  }
  if (sd) {
    for (int y = y0; y <= y1; ++y) {
      for (int b = 0; b < nb; ++b) {
        for (int p = 0; p < npixel; ++p) {
          const float d = at(y, b, p) - mean(b, p);
          dev(b, p) = dev(b, p) + reference::float_halfoffset(d * d);
        }
      }
    }
    for (int b = 0; b < nb; ++b)
      for (int p = 0; p < npixel; ++p)
        dev(b, p) = reference::signed_halfoffset(std::sqrt(static_cast<double>(dev(b, p)) / nyear));
  }
  return out;
}

// Values of very different sizes and both signs, so that the order and the precision of every
// sum show in the low bits; a few pixels hold -0, NaN and infinity.
Floats sample(int nvalues, int npixel) {
  Floats v(static_cast<size_t>(nvalues));
  uint64_t s = 12345;
  const float scale[] = {1e-8f, 3e-3f, 1.0f, 7e3f, 3e6f};
  for (int i = 0; i < nvalues; ++i) {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    const float u = static_cast<float>(static_cast<int32_t>(s >> 33) % 20001 - 10000) / 10.0f;
    v[i] = u * scale[(i % npixel) % 5];
  }
  for (int i = 5; i < nvalues; i += 3 * npixel) v[i] = -0.0f;
  v[6] = std::numeric_limits<float>::quiet_NaN();
  v[7 + npixel] = std::numeric_limits<float>::infinity();
  return v;
}

struct Fixture : ::testing::Test {
  e2e::TempDir dir;
  std::string in = dir.file("in.bin");
  std::string out = dir.file("out.bin");
  e2e::Result run(std::vector<std::string> args) { return e2e::run("mean", args); }
  // Runs ifile ofile npixel y0 y1 nb, plus flags; expects success.
  Floats ok(int npixel, int y0, int y1, int nb, std::vector<std::string> flags = {}) {
    std::vector<std::string> args = {in,
                                     out,
                                     std::to_string(npixel),
                                     std::to_string(y0),
                                     std::to_string(y1),
                                     std::to_string(nb)};
    args.insert(args.end(), flags.begin(), flags.end());
    const auto r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, std::to_string(y0) + " " + std::to_string(y1) + " " +
                         std::to_string(y1 - y0 + 1) + "\n");
    return e2e::read_floats(out);
  }
};

using Mean = Fixture;

TEST_F(Mean, OneYearPassesEachValueThroughTheSignedHalfOffset) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Floats year(12 * 4, 0.3f);
  const Floats probe = {0.3f,       0.1f,        1e-9f,      -0.1f,       -0.0f,  nan,
                        8388609.0f, -8388609.0f, 0x1.8p-25f, 16777218.0f, -1e-9f, 2.5f};
  for (size_t i = 0; i < probe.size(); ++i) year[i * 4 + 1] = probe[i];
  e2e::write_floats(in, year);
  const Floats got = ok(4, 0, 0, 12);
  ASSERT_EQ(got.size(), 48u);
  const Floats want = {
      0.3f,       0.10000002384185791f, 0.0f,     -0.10000002384185791f, 0.0f, nan,
      8388610.0f, -8388610.0f,          0x1p-24f, 16777218.0f,           0.0f, 2.5f};
  for (size_t b = 0; b < 12; ++b) {
    EXPECT_EQ(bits(got[b * 4 + 1]), bits(want[b])) << "band " << b;
    EXPECT_EQ(bits(got[b * 4]), bits(0.3f));
  }
}

TEST_F(Mean, SumsAreSingleBlockSumsOfOffsetValues) {
  // A double sum would reach 16777218; the float sum stays at 16777216.
  e2e::write_floats(in, {16777216.0f, 1e-9f, 1.0f, 1e-9f, 1.0f, 1e-9f});
  const Floats got = ok(2, 0, 2, 1);
  EXPECT_EQ(bits(got[0]), bits(reference::signed_halfoffset(16777216.0 / 3.0)));
  EXPECT_EQ(bits(got[1]), bits(0.0f));  // 1e-9 is dropped before it is summed
}

TEST_F(Mean, StandardDeviationIsThePopulationForm) {
  e2e::write_floats(in, {1.0f, 5.0f, 3.0f, 5.0f});  // two years, two pixels, one band
  const Floats got = ok(2, 0, 1, 1, {"-sd"});
  EXPECT_EQ(bits(got), bits(Floats{2.0f, 5.0f, 1.0f, 0.0f}));
}

TEST_F(Mean, SquaredDeviationsTakeTheFloatHalfOffset) {
  // d * d = 2.5e-9 is below 2^-25, so each squared deviation counts as 0.
  e2e::write_floats(in, {1.0f, 1.0001f});
  const Floats got = ok(1, 0, 1, 1, {"-sd"});
  EXPECT_EQ(bits(got[1]), bits(0.0f));
}

TEST_F(Mean, AnnualMeanOfBandMeansOneToTwelve) {
  Floats v;
  for (int b = 1; b <= 12; ++b) v.push_back(static_cast<float>(b));
  e2e::write_floats(in, v);
  Floats got = ok(1, 0, 0, 12, {"-gm"});
  ASSERT_EQ(got.size(), 13u);
  EXPECT_EQ(bits(got[12]), bits(6.5f));
  got = ok(1, 0, 0, 12, {"-sd", "-gm"});
  ASSERT_EQ(got.size(), 25u);
  for (int b = 0; b < 12; ++b) {
    EXPECT_EQ(got[2 * b], static_cast<float>(b + 1));
    EXPECT_EQ(bits(got[2 * b + 1]), bits(0.0f));
  }
  EXPECT_EQ(bits(got[24]), bits(6.5f));
}

// Every flag set over a middle range of a longer file: layout, sizes and every bit against the
// stated arithmetic. Years outside the range hold NaN, so reading them would show.
TEST_F(Mean, EveryFlagSetMatchesTheStatedArithmetic) {
  const int npixel = 37, nb = 5, nyears = 9, y0 = 2, y1 = 7;
  Floats file = sample(npixel * nb * nyears, npixel);
  const Floats used = file;
  for (int i = 0; i < npixel * nb * y0; ++i) file[i] = std::nanf("");
  for (int i = npixel * nb * (y1 + 1); i < npixel * nb * nyears; ++i) file[i] = std::nanf("");
  e2e::write_floats(in, file);
  for (const bool sd : {false, true}) {
    for (const bool gm : {false, true}) {
      std::vector<std::string> flags;
      if (sd) flags.push_back("-sd");
      if (gm) flags.push_back("-gm");
      const Floats got = ok(npixel, y0, y1, nb, flags);
      EXPECT_EQ(e2e::file_size(out), 4 * npixel * (nb * (sd ? 2 : 1) + (gm ? 1 : 0)));
      EXPECT_EQ(bits(got), bits(reference(used, npixel, y0, y1, nb, sd, gm)))
          << "sd " << sd << " gm " << gm;
    }
  }
}

TEST_F(Mean, LargeBandsCrossTheReadChunks) {
  const int npixel = 70001, nb = 3;  // bands that do not line up with any power of two
  const Floats file = sample(npixel * nb * 2, npixel);
  e2e::write_floats(in, file);
  EXPECT_EQ(bits(ok(npixel, 0, 1, nb, {"-sd", "-gm"})),
            bits(reference(file, npixel, 0, 1, nb, true, true)));
}

TEST_F(Mean, FlagsInAnyOrderOthersIgnored) {
  e2e::write_floats(in, sample(3 * 4 * 2, 3));
  const auto words = [&](std::vector<std::string> flags) {
    ok(3, 0, 1, 4, flags);
    return e2e::read_bytes(out);
  };
  const std::string both = words({"-sd", "-gm"});
  EXPECT_EQ(both.size(), 4u * 3 * 9);
  EXPECT_EQ(words({"-gm", "-sd"}), both);
  EXPECT_EQ(words({"-gm", "x", "-sd", "-gm", "-sd"}), both);
  const std::string plain = words({});
  EXPECT_EQ(plain.size(), 4u * 3 * 4);
  EXPECT_EQ(words({"-gmx", "-GM", "-Sd", "-s", "gm", "--sd", "-sd ", " -gm", ""}), plain);
  EXPECT_EQ(words({"-sdgm", "-sd"}).size(), 4u * 3 * 8);
}

TEST_F(Mean, TooFewArgumentsPrintUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {in, out, "1", "0", "0"}, {"-sd", "-gm", in, out, "1"}}) {
    const auto r = e2e::run("mean", args, "./bin/mean");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, usage_for("./bin/mean"));
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(Mean, EndBeforeStartOpensNothing) {
  e2e::write_floats(in, Floats(12, 1.0f));
  const auto r = run({dir.file("missing.bin"), out, "1", "3", "2", "12", "-sd"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "3 2 0\n");
  EXPECT_EQ(r.err, "endyear < startyear! Exit.\n");
  EXPECT_FALSE(e2e::exists(out));
}

TEST_F(Mean, YearPastTheEndLeavesAnEmptyOutput) {
  e2e::write_floats(in, Floats(2 * 2 * 3, 1.0f));  // three years of two bands, two pixels
  for (const auto& range : std::vector<std::pair<std::string, std::string>>{
           {"1", "3"}, {"5", "6"}, {"0", "2147483647"}}) {
    e2e::write_bytes(out, "old contents");
    const auto r = run({in, out, "2", range.first, range.second, "2", "-sd"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Error reading from file\n");
    EXPECT_EQ(e2e::file_size(out), 0);
  }
  // The count of years is not wrapped around in the progress line.
  EXPECT_EQ(run({in, out, "2", "0", "2147483647", "2"}).out, "0 2147483647 2147483648\n");
  // A last year short by one value is a short read too.
  e2e::write_floats(in, Floats(2 * 2 * 3 - 1, 1.0f));
  const auto r = run({in, out, "2", "2", "2", "2"});
  EXPECT_EQ(r.err, "Error reading from file\n");
  EXPECT_EQ(r.status, 255);
}

TEST_F(Mean, FilesThatCannotBeOpened) {
  auto r = run({dir.file("missing.bin"), out, "1", "0", "0", "1"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "0 0 1\n");
  EXPECT_EQ(r.err, "Error opening file\n\n");
  EXPECT_FALSE(e2e::exists(out));
  e2e::write_floats(in, {1.0f});
  r = run({in, dir.file("no/such/dir/out.bin"), "1", "0", "0", "1"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error opening file\n\n");
}

TEST_F(Mean, NonsenseCountsAndYearsAreRefusedBeforeAnyFileIsOpened) {
  const std::string missing = dir.file("missing.bin");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"1", "-1", "0", "12"}, "Error: startyear must not be negative (got -1)\n\n"},
      {{"0", "0", "0", "12"}, "Error: npixel must be at least 1 (got 0)\n\n"},
      {{"-5", "0", "0", "12"}, "Error: npixel must be at least 1 (got -5)\n\n"},
      {{"many", "0", "0", "12"}, "Error: npixel must be at least 1 (got 0)\n\n"},
      {{"4", "0", "0", "0"}, "Error: nbandsyear must be at least 1 (got 0)\n\n"},
      {{"4", "0", "0", "-12"}, "Error: nbandsyear must be at least 1 (got -12)\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args = {missing, out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = run(args);
    EXPECT_EQ(r.status, 255) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.args[1] + " " + c.args[2] + " " +
                         std::to_string(std::stoi(c.args[2]) - std::stoi(c.args[1]) + 1) + "\n");
    EXPECT_FALSE(e2e::exists(out));
  }
}

TEST_F(Mean, OutputNamingTheInputIsRefusedAndTheInputKept) {
  e2e::write_floats(in, {1.0f, 2.0f});
  const std::string before = e2e::read_bytes(in);
  ASSERT_EQ(symlink(in.c_str(), dir.file("link.bin").c_str()), 0);
  for (const std::string& o : {in, dir.file("link.bin")}) {
    const auto r = run({in, o, "1", "0", "1", "1"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Error: output file " + o + " is the input file " + in +
                         "; refusing to overwrite it\n\n");
    EXPECT_EQ(e2e::read_bytes(in), before);
  }
}

TEST_F(Mean, BuffersTooLargeForMemoryEndTheRun) {
  e2e::write_floats(in, {1.0f});
  // Overflows the byte count, and then a size no machine serves.
  for (const std::string nb : {"2000000000", "1000"}) {
    const auto r = run({in, out, "2000000000", "0", "0", nb});
    EXPECT_EQ(r.status, 255) << nb;
    EXPECT_EQ(r.err, "Error allocating memory\n\n") << nb;
    EXPECT_EQ(e2e::file_size(out), 0);
  }
}

TEST_F(Mean, FailedWriteIsReported) {
  e2e::write_floats(in, Floats(1000, 1.0f));
  for (const std::string npixel : {"1", "1000"}) {  // fails at the close, and at the write
    const auto r = run({in, "/dev/full", npixel, "0", "0", "1"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Error: cannot write output file /dev/full: No space left on device\n\n");
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Thread counts. The runs below go through the real program on 1, 2 and 3 threads
// (OMP_NUM_THREADS) over pixel counts that give every thread thousands of pixels (the tool
// starts a thread per 4096 pixels at most) and, for the largest, several tiles of up to 32768
// pixels each; most year ranges hold an odd number of years (the tool reads two at a time).
// With -sd the tool keeps a tile's rows of all years between its two passes where they fit into
// the memory of one year and reads them again otherwise; which one depends on the sizes and
// the thread count, and the cases meet both, on success and on a short file.

namespace {

float from_bits(uint32_t b) {
  float f = 0.0f;
  std::memcpy(&f, &b, 4);
  return f;
}

// NaNs of four bit patterns: quiet, negative, with a payload, and signalling (every arithmetic
// step quiets it, keeping the payload).
const uint32_t kNans[] = {0x7fc00000u, 0xffc00000u, 0x7fc0beefu, 0x7fa00001u};

// acc + term, where both being NaN keeps the term's NaN: each running sum takes the NaN of its
// latest NaN term (the rule of the program's instructions, the term as first operand).
float add(float acc, float term) { return std::isnan(term) ? term : acc + term; }

// The statistics one value at a time, as reference() has them, with the NaN rule of add() for
// every running sum, so that pixels holding NaNs of several patterns have one right answer.
Floats expected(const Floats& file, int npixel, int y0, int y1, int nb, bool sd, bool gm) {
  const int stride = sd ? 2 : 1;
  const auto at = [&](int y, int b, int p) {
    return file[(static_cast<size_t>(y) * nb + b) * npixel + p];
  };
  Floats out(static_cast<size_t>(nb * stride + (gm ? 1 : 0)) * npixel, 0.0f);
  const double nyear = static_cast<double>(y1 - y0 + 1);
  for (int b = 0; b < nb; ++b) {
    for (int p = 0; p < npixel; ++p) {
      float sum = 0.0f;
      for (int y = y0; y <= y1; ++y) sum = add(sum, reference::signed_halfoffset(at(y, b, p)));
      const float mean = reference::signed_halfoffset(static_cast<double>(sum) / nyear);
      out[static_cast<size_t>(b * stride) * npixel + p] = mean;
      if (!sd) continue;
      float sq = 0.0f;
      for (int y = y0; y <= y1; ++y) {
        const float d = at(y, b, p) - mean;
        sq = add(sq, reference::float_halfoffset(d * d));
      }
      out[static_cast<size_t>(2 * b + 1) * npixel + p] =
          reference::signed_halfoffset(std::sqrt(static_cast<double>(sq) / nyear));
    }
  }
  if (gm) {
    for (int p = 0; p < npixel; ++p) {
      float a = 0.0f;
      for (int b = 0; b < nb; ++b) {
        const float q = out[static_cast<size_t>(b * stride) * npixel + p] / static_cast<float>(nb);
        a = add(a, reference::signed_halfoffset(static_cast<double>(q)));
      }
      out[static_cast<size_t>(nb * stride) * npixel + p] = a;
    }
  }
  return out;
}

// sample() with NaNs of every pattern and -0 spread over all pixels, bands and years, so that
// every thread and every tile meets them. The first, a middle and the last pixels of each band
// hold a different NaN in every year (the later one must win), pixel 2 is -0 throughout.
Floats sample_with_specials(int npixel, int nb, int nyears) {
  Floats v = sample(npixel * nb * nyears, npixel);
  for (size_t i = 0; i < v.size(); ++i) {
    if (i % 1009 == 17) v[i] = from_bits(kNans[(i / 1009) % 4]);
    if (i % 997 == 3) v[i] = -0.0f;
  }
  for (int y = 0; y < nyears; ++y) {
    for (int b = 0; b < nb; ++b) {
      float* band = v.data() + (static_cast<size_t>(y) * nb + b) * npixel;
      for (const int p : {0, npixel / 2, npixel - 1}) band[p] = from_bits(kNans[(y + b + p) % 4]);
      band[2] = -0.0f;
    }
  }
  return v;
}

}  // namespace

TEST_F(Mean, EveryThreadCountGivesTheSameBytes) {
  const std::string kRead = "Error reading from file\n";
  const struct {
    const char* name;
    int npixel, nb, nyears;  // the file: nyears whole years, then `cut` values fewer
    int cut;
    int y0, y1;
    bool device;  // read /dev/zero instead (a device, read by position like a file)
    std::string err;
  } cases[] = {
      {"two bands, seven of nine years", 20011, 2, 9, 0, 1, 7, false, ""},
      {"one band, several tiles per thread", 100003, 1, 6, 0, 0, 5, false, ""},
      {"twelve bands, one year", 8209, 12, 3, 0, 2, 2, false, ""},
      {"the years asked for end before a short last year", 20011, 2, 4, 7, 0, 2, false, ""},
      {"a device that reads as zeros", 9001, 2, 0, 0, 3, 5, true, ""},
      {"last year short by one value", 20011, 2, 4, 1, 0, 3, false, kRead},
      {"last band of the last year half missing", 20011, 2, 4, 10005, 1, 3, false, kRead},
      {"a year past the end", 20011, 2, 4, 0, 3, 4, false, kRead},
  };
  const std::vector<std::vector<std::string>> flag_sets = {{}, {"-sd"}, {"-gm"}, {"-gm", "-sd"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Floats file;
    if (c.device) {
      file.assign(static_cast<size_t>(c.npixel) * c.nb * (c.y1 + 1), 0.0f);
    } else {
      file = sample_with_specials(c.npixel, c.nb, c.nyears);
      Floats written(file.begin(), file.end() - c.cut);
      e2e::write_floats(in, written);
    }
    for (const auto& flags : flag_sets) {
      const bool sd = std::find(flags.begin(), flags.end(), "-sd") != flags.end();
      const bool gm = std::find(flags.begin(), flags.end(), "-gm") != flags.end();
      SCOPED_TRACE("sd " + std::to_string(sd) + " gm " + std::to_string(gm));
      std::vector<std::string> args = {c.device ? "/dev/zero" : in, out,
                                       std::to_string(c.npixel),    std::to_string(c.y0),
                                       std::to_string(c.y1),        std::to_string(c.nb)};
      args.insert(args.end(), flags.begin(), flags.end());
      std::optional<std::pair<e2e::Result, std::string>> first;
      for (const int threads : {1, 2, 3}) {
        SCOPED_TRACE("OMP_NUM_THREADS=" + std::to_string(threads));
        e2e::write_bytes(out, "old contents");
        e2e::Result r;
        {
          e2e::ScopedEnv tc("OMP_NUM_THREADS", threads);
          r = run(args);
        }
        const std::string bytes = e2e::read_bytes(out);
        EXPECT_EQ(r.out, std::to_string(c.y0) + " " + std::to_string(c.y1) + " " +
                             std::to_string(c.y1 - c.y0 + 1) + "\n");
        EXPECT_EQ(r.err, c.err);
        if (c.err.empty()) {
          EXPECT_EQ(r.status, 0);
          ASSERT_EQ(bytes.size(), 4u * c.npixel * (c.nb * (sd ? 2 : 1) + (gm ? 1 : 0)));
          Floats got(bytes.size() / 4);
          std::memcpy(got.data(), bytes.data(), bytes.size());
          const Floats want = expected(file, c.npixel, c.y0, c.y1, c.nb, sd, gm);
          size_t wrong = 0;
          for (size_t i = 0; i < want.size(); ++i) {
            if (bits(got[i]) != bits(want[i]) && wrong++ < 3) {
              ADD_FAILURE() << "value " << i << " (band " << i / c.npixel << ", pixel "
                            << i % c.npixel << "): got " << std::hex << bits(got[i]) << ", want "
                            << bits(want[i]);
            }
          }
          EXPECT_EQ(wrong, 0u);
        } else {
          EXPECT_EQ(r.status, 255);
          EXPECT_EQ(bytes, "");
        }
        if (!first) {
          first.emplace(r, bytes);
          continue;
        }
        EXPECT_EQ(r.status, first->first.status);
        EXPECT_EQ(r.out, first->first.out);
        EXPECT_EQ(r.err, first->first.err);
        EXPECT_TRUE(bytes == first->second) << "output bytes differ from the run on one thread";
      }
    }
  }
}
