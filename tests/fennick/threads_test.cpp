// Whole runs on 1, 2 and 3 threads: the output bytes, standard output, standard error and exit
// status must not depend on the thread count. Every successful run is also held, bit for bit,
// to the tool's rules worked out here one pixel at a time: period means that divide each year
// before adding it (a NaN year keeps its own NaN), then the tool's own per-pixel similarity
// (composition.cpp), so that NaN values keep the bits that function gives them. The covers
// include NaNs of several bit patterns, infinities, negative values and values above 1; band 0
// gates pixels with values at and around 0.001.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "composition.h"
#include "e2e.h"

namespace {

using e2e::bits;

// Three threads get thousands of pixels each; one thread gets more than it handles at once
// (32768).
constexpr int64_t kPixels = 40009;
constexpr int64_t kYearBytes = kPixels * 10 * 4;

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

float from_bits(uint32_t b) {
  float f = 0.0f;
  std::memcpy(&f, &b, 4);
  return f;
}

// Value of band `band` of year `year` of data set `set` at pixel p.
float value(int set, int64_t year, int band, int64_t p) {
  const uint64_t h = mix((static_cast<uint64_t>(set) << 56) ^ (static_cast<uint64_t>(year) << 40) ^
                         (static_cast<uint64_t>(band) << 32) ^ static_cast<uint64_t>(p));
  const auto unit = static_cast<float>(h >> 40) * 0x1p-24f;  // [0, 1), 24 bits
  const uint64_t pick = h & 1023;
  if (band == 0) {
    // The gate: mostly open, sometimes at, below or just above 0.001, or NaN.
    const float gates[] = {
        0.0f, 0.001f, std::nextafter(0.001f, 0.0f), -1.0f, from_bits(0x7fc00000), 0x1.0p-10f};
    return pick < 64 ? gates[pick % std::size(gates)] : 0.5f + unit;
  }
  // NaNs of both signs and with payloads (one signalling), infinities, and covers above 1.
  const uint32_t nans[] = {0x7fc00000, 0xffc00000, 0x7fc12345, 0xffd54321, 0x7f800001};
  if (pick < 5) return from_bits(nans[pick]);
  if (pick == 5) return std::numeric_limits<float>::infinity();
  if (pick == 6) return -std::numeric_limits<float>::infinity();
  if (pick < 12) return -0.0f;
  if (pick < 40) return 1.0f + 1.5f * unit;
  if (pick < 60) return -0.25f * unit;
  return 0.2f * unit;
}

// A data set of whole years, band-sequential, then `extra` trailing bytes.
std::string data_set(int set, int64_t years, int64_t extra) {
  std::string bytes(static_cast<std::size_t>(years * kYearBytes + extra), '\0');
  std::size_t at = 0;
  for (int64_t y = 0; y < years; ++y) {
    for (int b = 0; b < 10; ++b) {
      for (int64_t p = 0; p < kPixels; ++p) {
        const float v = value(set, y, b, p);
        std::memcpy(bytes.data() + at, &v, 4);
        at += 4;
      }
    }
  }
  for (int64_t i = 0; i < extra; ++i) bytes[at++] = static_cast<char>(0x5a + i);
  return bytes;
}

// One input: a data set (with `cut` bytes taken off its end), a file that does not exist, or a
// device.
struct Input {
  enum Kind { data, missing, dev_zero, dev_null } kind = data;
  int set = 0;
  int64_t years = 0;
  int64_t extra = 0;
  int64_t cut = 0;
};

Input file(int set, int64_t years, int64_t extra = 0, int64_t cut = 0) {
  return {Input::data, set, years, extra, cut};
}
const Input kMissing{Input::missing};
const Input kZero{Input::dev_zero};
const Input kNull{Input::dev_null};

// Value i of a period whose first value is `base` bytes into `bytes`.
float value_at(const std::string& bytes, int64_t base, int64_t i) {
  float v = 0.0f;
  std::memcpy(&v, bytes.data() + base + i * 4, 4);
  return v;
}

// The values of the run, pixel by pixel, from the bytes both periods are read from.
std::vector<uint32_t> expected(const std::string& bytes1, int64_t base1, int64_t ny1,
                               const std::string& bytes2, int64_t base2, int64_t ny2, bool sim) {
  std::vector<uint32_t> want;
  const auto means = [](const std::string& bytes, int64_t base, int64_t ny, int64_t p, float* c) {
    const float years = static_cast<float>(ny);
    for (int k = 1; k < 10; ++k) {
      float m = 0.0f;
      for (int64_t y = 0; y < ny; ++y) {
        const float t = value_at(bytes, base, (y * 10 + k) * kPixels + p) / years;
        m = std::isnan(t) ? t : m + t;
      }
      c[k] = m;
    }
    c[0] = fennick::uncovered(c);
  };
  for (int64_t p = 0; p < kPixels; ++p) {
    float c1[10];
    float c2[10];
    means(bytes1, base1, ny1, p, c1);
    means(bytes2, base2, ny2, p, c2);
    const float gate = value_at(bytes1, base1, ((ny1 - 1) * 10) * kPixels + p);
    const float s = static_cast<double>(gate) > 0.001 ? fennick::similarity(c1, c2) : 1.0f;
    want.push_back(bits(sim ? s : 1.0f - s));
  }
  return want;
}

struct Case {
  const char* name;
  Input in1, in2;
  int64_t ny1, ny2, sy1, sy2;
  bool sim;
  std::string err;  // the whole of standard error
  int status;
};

// A run on 1, 2 and 3 threads: status, standard output, standard error and the output bytes
// must agree (the output file is removed before each). Returns the run on one thread.
struct Outcome {
  e2e::Result result;
  std::string output;  // the output file's bytes
};
Outcome run_on_threads(const std::vector<std::string>& args, const std::string& out) {
  std::optional<Outcome> first;
  for (const int threads : {1, 2, 3}) {
    SCOPED_TRACE("OMP_NUM_THREADS=" + std::to_string(threads));
    std::remove(out.c_str());
    Outcome run;
    {
      e2e::ScopedEnv tc("OMP_NUM_THREADS", threads);
      run.result = e2e::run("fennick", args);
    }
    EXPECT_TRUE(e2e::exists(out));
    if (e2e::exists(out)) run.output = e2e::read_bytes(out);
    if (!first) {
      first = run;
      continue;
    }
    EXPECT_EQ(run.result.status, first->result.status);
    EXPECT_EQ(run.result.out, first->result.out);
    EXPECT_EQ(run.result.err, first->result.err);
    EXPECT_TRUE(run.output == first->output) << "output bytes differ from the run on one thread";
  }
  return *first;
}

// The output must hold exactly the values `want`; the NaN values among them go to `nans`.
void expect_values(const std::string& output, const std::vector<uint32_t>& want,
                   std::set<uint32_t>& nans) {
  ASSERT_EQ(output.size(), want.size() * 4);
  std::vector<uint32_t> got(want.size());
  std::memcpy(got.data(), output.data(), output.size());
  int64_t wrong = 0;
  for (std::size_t p = 0; p < want.size(); ++p) {
    if (got[p] != want[p] && wrong++ < 5) {
      ADD_FAILURE() << "pixel " << p << ": got 0x" << std::hex << got[p] << ", want 0x" << want[p];
    }
    if (std::isnan(from_bits(want[p]))) nans.insert(want[p]);
  }
  EXPECT_EQ(wrong, 0);
}

std::vector<std::string> arguments(const std::string& f1, const std::string& f2,
                                   const std::string& out, int64_t ny1, int64_t ny2, int64_t sy1,
                                   int64_t sy2, bool sim) {
  std::vector<std::string> args = {f1,
                                   f2,
                                   out,
                                   std::to_string(ny1),
                                   std::to_string(ny2),
                                   std::to_string(kPixels),
                                   std::to_string(sy1),
                                   std::to_string(sy2)};
  if (sim) args.push_back("sim");
  return args;
}

const std::string kRead1 = "Error reading data from input file 1\n";
const std::string kRead2 = "Error reading data from input file 2\n";
const std::string kNo1 = "Warning: File open failed on input file1\n";
const std::string kNo2 = "Warning: File open failed on input file2\n";

TEST(Threads, EveryThreadCountGivesTheSameRun) {
  const Case cases[] = {
      {"file 2 from year 1", file(1, 6), file(2, 5), 3, 4, 2, 1, false, "", 0},
      {"file 2 from year 0, similarity", file(1, 6), file(2, 5), 6, 5, 0, 0, true, "", 0},
      // Trailing bytes put period 2 at a position that is no whole number of values.
      {"end of file 1, trailing bytes", file(1, 6, 6), kMissing, 2, 3, 1, -4, false, kNo2, 0},
      {"end of file 1, similarity", file(1, 5), file(2, 5), 2, 2, 0, -3, true, "", 0},
      {"file 2 a device read as a stream", file(1, 6), kZero, 2, 3, 3, 2, false, "", 0},
      {"period 1 lacks its last value", file(1, 4, 0, 4), file(2, 5), 4, 1, 0, 0, false, kRead1,
       255},
      {"period 1 starts past the end", file(1, 4), file(2, 5), 1, 1, 4, 0, false, kRead1, 255},
      {"period 2 lacks its last value", file(1, 4), file(2, 5, 0, 4), 1, 5, 0, 0, true, kRead2,
       255},
      {"both short, period 1 in its last value only", file(1, 4, 0, 4), file(2, 2), 4, 3, 0, 0,
       false, kRead1, 255},
      {"period 2 runs past the end of file 1", file(1, 6), file(2, 5), 1, 3, 0, -2, false,
       "Error reading data from end of input file 1\n", 255},
      {"more years back than file 1 holds", file(1, 6), file(2, 5), 1, 1, 0, -7, false,
       "Error: cannot go to position 7 years before end of input file 1\n", 255},
      {"file 1 cannot be opened", kMissing, file(2, 5), 1, 1, 0, 0, false, kNo1 + kRead1, 255},
      {"file 2 cannot be opened", file(1, 6), kMissing, 1, 1, 0, 0, false, kNo2 + kRead2, 255},
      {"file 2 a device that ends at once", file(1, 6), kNull, 1, 1, 0, 0, false, kRead2, 255},
  };
  e2e::TempDir dir;
  std::map<std::pair<int, int64_t>, std::string> sets;  // (set, years) -> bytes
  int n_success = 0;
  std::set<uint32_t> nans;  // the NaN values the successful runs must give
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Writes one input and returns its path and the bytes a period can be read from.
    const auto make = [&](const Input& in, const std::string& name, std::string& bytes) {
      switch (in.kind) {
        case Input::missing:
          return dir.file("missing.bin");
        case Input::dev_zero:
          bytes.assign(static_cast<std::size_t>(8 * kYearBytes), '\0');
          return std::string("/dev/zero");
        case Input::dev_null:
          return std::string("/dev/null");
        case Input::data:
          break;
      }
      auto key = std::make_pair(in.set, in.years * kYearBytes + in.extra);
      if (!sets.count(key)) sets[key] = data_set(in.set, in.years, in.extra);
      bytes = sets[key].substr(0, sets[key].size() - static_cast<std::size_t>(in.cut));
      const std::string path = dir.file(name);
      e2e::write_bytes(path, bytes);
      return path;
    };
    std::string bytes1;
    std::string bytes2;
    const std::string f1 = make(c.in1, "fpc1.bin", bytes1);
    const std::string f2 = make(c.in2, "fpc2.bin", bytes2);
    const std::string out = dir.file("out.bin");
    const Outcome run =
        run_on_threads(arguments(f1, f2, out, c.ny1, c.ny2, c.sy1, c.sy2, c.sim), out);
    EXPECT_EQ(run.result.status, c.status);
    EXPECT_EQ(run.result.out, "");
    EXPECT_EQ(run.result.err, c.err);
    if (c.status != 0) {
      EXPECT_EQ(run.output, "");
      continue;
    }
    // Period 2 from file 2, or counted back from the end of file 1.
    const int64_t base1 = c.sy1 * kYearBytes;
    const int64_t base2 =
        c.sy2 >= 0 ? c.sy2 * kYearBytes : static_cast<int64_t>(bytes1.size()) + c.sy2 * kYearBytes;
    expect_values(run.output,
                  expected(bytes1, base1, c.ny1, c.sy2 >= 0 ? bytes2 : bytes1, base2, c.ny2, c.sim),
                  nans);
    ++n_success;
  }
  // The table must exercise what it claims: successful runs, with NaN values of many bit
  // patterns among them.
  EXPECT_EQ(n_success, 5);
  EXPECT_GT(nans.size(), 4u);
}

TEST(Threads, AStartYearTheFileSystemRefusesReadsFromTheStartOfTheFile) {
  // A period starts where a stream read of it starts. The seek to a start year is not tested,
  // so where the file system refuses the offset (beyond its largest file) the stream stays at
  // the start of the file and the period is read from there; where it accepts the offset, the
  // read meets the end of the file.
  constexpr int64_t kYear = 2000000000;  // 1.6e15 bytes in
  e2e::TempDir dir;
  const std::string f1 = dir.file("fpc1.bin");
  const std::string f2 = dir.file("fpc2.bin");
  const std::string out = dir.file("out.bin");
  const std::string bytes1 = data_set(1, 2, 0);
  const std::string bytes2 = data_set(2, 3, 0);
  e2e::write_bytes(f1, bytes1);
  e2e::write_bytes(f2, bytes2);
  const int fd = open(f1.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const bool refused = lseek(fd, static_cast<off_t>(kYear * kYearBytes), SEEK_SET) < 0;
  close(fd);
  std::set<uint32_t> nans;
  for (const bool both : {false, true}) {
    SCOPED_TRACE(both ? "both start years" : "start year 2");
    const Outcome run =
        run_on_threads(arguments(f1, f2, out, 2, 3, both ? kYear : 0, kYear, false), out);
    if (refused) {
      EXPECT_EQ(run.result.status, 0);
      EXPECT_EQ(run.result.err, "");
      expect_values(run.output, expected(bytes1, 0, 2, bytes2, 0, 3, false), nans);
    } else {
      EXPECT_EQ(run.result.status, 255);
      EXPECT_EQ(run.result.err, both ? kRead1 : kRead2);
      EXPECT_EQ(run.output, "");
    }
  }
}

}  // namespace
