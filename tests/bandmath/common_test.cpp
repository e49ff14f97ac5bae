// What the eight tools share: usage texts and the argument counts that show them, the npixel
// and band-number checks, the guard against writing over an input, checked writes, failed
// allocations; and the value loops held to their rules on many values.
#include <sys/resource.h>

#include <array>
#include <cmath>
#include <random>

#include "bandmath_test.h"
#include "kernels.h"

namespace {

using bmt::Floats;
using e2e::run;

struct UsageCase {
  const char* tool;
  int max_argc;  // the usage text shows up to this argc
  std::string text;
};

const UsageCase kUsage[] = {
    {"sum", 4,
     "Use:\n./b/t ifile1 ifile2 ofile npixel [startband1(default:0) endband1(default:all) "
     "startband2(0) endband2(all)]\nCalculates file1+file2\n"},
    {"mult", 4,
     "Use:\n./b/t ifile1 ifile2 ofile npixel [startband1(default:0) endband1(default:all) "
     "startband2(0) endband2(all)]\nCalculates file1*file2\n"},
    {"div", 4,
     "Use:\n./b/t ifile1 ifile2 ofile npixel [startband1(default:0) endband1(default:all) "
     "startband2(0) endband2(all) nanvalue(9999)]\nCalculates file1/file2\nreturns nanvalue "
     "if file2=0\na nanvalue of -1 means to take the value of file1\n"},
    {"add", 4,
     "Use:\n./b/t ifile ofile add npixel [startband1(default:0) endband1(default:all)]\n"
     "Calculates ifile+add\n"},
    {"scale", 4,
     "Use:\n./b/t ifile ofile factor npixel [startband1(default:0) endband1(default:all)]\n"
     "Calculates ifile*factor\n"},
    {"limits", 5,
     "Use:\n./b/t ifile1 ofile npixel lower upper [startband1(default:0) "
     "endband1(default:all)]\nsets values < lower to lower, > upper to upper\n"},
    {"logistic", 3,
     "Use:\n./b/t ifile ofile npixel [maxgrowth growthrate lower_asymptote upper_asymptote "
     "startband1(default:0) endband1(default:all)]\nCalculates logistic function (ifile)\n"
     "Default Values: growthrate: 2.0 maximum growth: 3.0 Asymtotes:0.0 1.0\n"},
    {"slivet", 6,
     "Use:\n./b/t ifile ofile npixel nbands startband(0...nbands-1) endband(0...nbands-1)\n"},
};

// The cases every tool shares, one test per tool: --gtest_filter='*EveryTool*/div' runs div's.
class EveryTool : public testing::TestWithParam<UsageCase> {};
INSTANTIATE_TEST_SUITE_P(BandTools, EveryTool, testing::ValuesIn(kUsage),
                         [](const testing::TestParamInfo<UsageCase>& i) { return i.param.tool; });

TEST_P(EveryTool, UsageTextUpToItsArgumentCount) {
  {
    const UsageCase& u = GetParam();
    e2e::TempDir d;
    for (int argc = 1; argc <= u.max_argc; ++argc) {
      const std::vector<std::string> args(static_cast<size_t>(argc - 1), "f");
      const auto r = run(u.tool, args, "./b/t", d.path());
      EXPECT_EQ(r.status, 255) << u.tool << " argc " << argc;
      EXPECT_EQ(r.err, u.text) << u.tool << " argc " << argc;
      EXPECT_EQ(r.out, "");
    }
    // One more argument and the usage text is gone (here npixel "f" is refused instead).
    const std::vector<std::string> args(static_cast<size_t>(u.max_argc), "f");
    const auto r = run(u.tool, args, "./b/t", d.path());
    EXPECT_EQ(r.status, 255) << u.tool;
    EXPECT_EQ(r.err, "Error: npixel must be at least 1 (got 0)\n\n") << u.tool;
    EXPECT_FALSE(e2e::exists(d.file("f"))) << u.tool;
  }
}

// A minimal valid command line of each tool, with the given npixel.
std::vector<std::string> command(const std::string& tool, const std::string& in1,
                                 const std::string& in2, const std::string& out,
                                 const std::string& npixel) {
  if (tool == "sum" || tool == "mult" || tool == "div") return {in1, in2, out, npixel};
  if (tool == "add" || tool == "scale") return {in1, out, "1", npixel};
  if (tool == "limits") return {in1, out, npixel, "0", "1"};
  if (tool == "logistic") return {in1, out, npixel};
  return {in1, out, npixel, "2", "0", "1"};  // slivet
}

TEST_P(EveryTool, NonPositiveNpixelIsRefusedBeforeAnyFileIsOpened) {
  e2e::TempDir d;
  e2e::write_floats(d.file("a"), {1, 2, 3, 4});
  // Read as atoi reads them: text is 0, and 3000000000 wraps to a negative int.
  const std::pair<const char*, const char*> refused[] = {
      {"0", "0"}, {"-5", "-5"}, {"abc", "0"}, {"3000000000", "-1294967296"}};
  {
    const UsageCase& u = GetParam();
    for (const auto& [npixel, value] : refused) {
      const auto r = run(u.tool, command(u.tool, d.file("a"), d.file("a"), d.file("o"), npixel));
      EXPECT_EQ(r.status, 255) << u.tool << " " << npixel;
      EXPECT_EQ(r.err, std::string("Error: npixel must be at least 1 (got ") + value + ")\n\n");
      EXPECT_EQ(r.out, "");
      EXPECT_FALSE(e2e::exists(d.file("o"))) << u.tool;
    }
  }
}

TEST_P(EveryTool, UnopenableFilesFailThroughFailu) {
  e2e::TempDir d;
  e2e::write_floats(d.file("a"), {1, 2, 3, 4});
  const std::string a = d.file("a"), missing = d.file("missing"), o = d.file("o");
  const std::string bad_out = d.file("no-such-dir/o");
  {
    const UsageCase& u = GetParam();
    std::vector<std::vector<std::string>> cmds = {command(u.tool, missing, a, o, "2"),
                                                  command(u.tool, a, a, bad_out, "2")};
    const bool two = std::string(u.tool) == "sum" || std::string(u.tool) == "mult" ||
                     std::string(u.tool) == "div";
    if (two) cmds.push_back(command(u.tool, a, missing, o, "2"));
    for (const auto& c : cmds) {
      const auto r = run(u.tool, c);
      EXPECT_EQ(r.status, 255) << u.tool;
      EXPECT_EQ(r.err, "Error opening file\n\n") << u.tool;
      EXPECT_EQ(r.out, "");
      EXPECT_FALSE(e2e::exists(o)) << u.tool;  // inputs are opened before the output
    }
  }
}

TEST_P(EveryTool, OutputNamingAnInputIsRefusedAndTheInputKept) {
  e2e::TempDir d;
  e2e::write_floats(d.file("a"), {1, 2, 3, 4});
  e2e::write_floats(d.file("b"), {5, 6, 7, 8});
  const std::string a = d.file("a"), b = d.file("b");
  const std::string a_bytes = e2e::read_bytes(a), b_bytes = e2e::read_bytes(b);
  {
    const UsageCase& u = GetParam();
    for (const std::string& victim : {a, b}) {
      const bool two = std::string(u.tool) == "sum" || std::string(u.tool) == "mult" ||
                       std::string(u.tool) == "div";
      if (!two && victim == b) continue;
      const auto r = run(u.tool, command(u.tool, a, b, victim, "2"));
      EXPECT_EQ(r.status, 255) << u.tool;
      EXPECT_EQ(r.err, "Error: output file " + victim + " is the input file " + victim +
                           "; refusing to overwrite it\n\n")
          << u.tool;
      EXPECT_EQ(e2e::read_bytes(a), a_bytes) << u.tool;
      EXPECT_EQ(e2e::read_bytes(b), b_bytes) << u.tool;
    }
  }
}

TEST_P(EveryTool, FailedWritesAreReported) {
  e2e::TempDir d;
  e2e::write_floats(d.file("a"), {1, 2, 3, 4});
  {
    const UsageCase& u = GetParam();
    const auto r = run(u.tool, command(u.tool, d.file("a"), d.file("a"), "/dev/full", "2"));
    EXPECT_EQ(r.status, 255) << u.tool;
    EXPECT_EQ(r.err, "Error: cannot write output file /dev/full: No space left on device\n\n")
        << u.tool;
  }
}

TEST(Common, NegativeBandNumbersAreRefused) {
  e2e::TempDir d;
  e2e::write_floats(d.file("a"), Floats(30, 1.0f));
  const std::string a = d.file("a"), o = d.file("o");
  struct Case {
    std::vector<std::string> cmd;
    const char* out;
    const char* band;
  };
  const Case cases[] = {
      {{"sum", a, a, o, "3", "-1", "8", "0", "9"}, "-1 8 0 9\n", "-1"},
      {{"mult", a, a, o, "3", "0", "9", "-3", "6"}, "0 9 -3 6\n", "-3"},
      {{"div", a, a, o, "3", "1", "9", "0", "-8", "0"}, "1 9 0 -8 0.000000\n", "-8"},
      {{"add", a, o, "1", "3", "-2", "4"}, "-2 4\n", "-2"},
      {{"scale", a, o, "1", "3", "0", "-1"}, "0 -1\n", "-1"},
      {{"limits", a, o, "3", "0", "1", "-1", "4"}, "-1 4\n", "-1"},
      {{"logistic", a, o, "3", "3", "2", "0", "1", "-4", "4"}, "", "-4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cmd[0]);
    const auto r = run(c.cmd[0], std::vector<std::string>(c.cmd.begin() + 1, c.cmd.end()));
    EXPECT_EQ(r.status, 255) << c.cmd[0];
    EXPECT_EQ(r.out, c.out) << c.cmd[0];
    EXPECT_EQ(r.err, std::string("Error: band number ") + c.band +
                         " is negative; bands are counted from 0\n\n");
    bmt::expect_empty_file(o);
  }
}

// Requests that the address space cannot hold end through failu. Not under the sanitizers,
// whose shadow memory does not fit a limited address space.
TEST(Common, FailedAllocationEndsWithItsMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address space limits do not apply under AddressSanitizer";
#else
  e2e::TempDir d;
  e2e::write_floats(d.file("a"), {1, 2, 3, 4});
  const std::string a = d.file("a"), o = d.file("o");
  const std::string n = "400000000";  // 1.6 GB per band
  const std::vector<std::vector<std::string>> cmds = {
      {"sum", a, a, o, n, "0", "0", "0", "0"},
      {"limits", a, o, n, "0", "1", "0", "0"},
      {"logistic", a, o, n, "3", "2", "0", "1", "0", "0"},
      {"slivet", a, o, n, "12", "0", "0"},
  };
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
  rlimit capped = old;
  capped.rlim_cur = rlim_t{1} << 30;
  ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
  std::vector<e2e::Result> results;
  for (const auto& c : cmds) {
    results.push_back(e2e::run_process(c[0], std::vector<std::string>(c.begin() + 1, c.end())));
  }
  ASSERT_EQ(setrlimit(RLIMIT_AS, &old), 0);
  for (size_t k = 0; k < cmds.size(); ++k) {
    EXPECT_EQ(results[k].status, 255) << cmds[k][0];
    EXPECT_EQ(results[k].err, "Error allocating memory\n\n") << cmds[k][0];
    bmt::expect_empty_file(o);
  }
#endif
}

// ---- The value loops on many values, against the rules written out here.

// Random floats: a quarter arbitrary bit patterns (NaN, infinities, subnormals included), the
// rest of moderate size with many near half-offset steps.
Floats random_floats(std::mt19937& rng, size_t n) {
  std::uniform_int_distribution<uint32_t> any;
  std::uniform_real_distribution<float> moderate(-3000.0f, 3000.0f);
  std::uniform_int_distribution<int> pick(0, 3);
  std::uniform_int_distribution<int> scale(-30, 30);
  Floats v(n);
  for (float& x : v) {
    switch (pick(rng)) {
      case 0:
        x = bmt::from_bits(any(rng));
        break;
      case 1:
        x = std::ldexp(moderate(rng), scale(rng));
        break;
      default:
        x = moderate(rng);
    }
  }
  return v;
}

void run_kernel(bandmath::Kernel k, const bandmath::Params& p, const Floats& a, const Floats& b,
                Floats& out, bandmath::Tally& t) {
  out.assign(a.size(), 0.0f);
  k(p, bandmath::Chunk{a.data(), b.data(), out.data(), static_cast<int64_t>(a.size()), 1, 0}, t);
}

TEST(Kernels, ValueLoopsFollowTheirRules) {
  std::mt19937 rng(11);
  const Floats a = random_floats(rng, 100000);
  const Floats b = random_floats(rng, 100000);
  Floats out;
  bandmath::Tally t;
  bandmath::Params p;
  auto check = [&](bandmath::Kernel k, const char* name, auto rule) {
    run_kernel(k, p, a, b, out, t);
    const bool two = k == bandmath::sum_values || k == bandmath::mult_values;
    for (size_t i = 0; i < a.size(); ++i) {
      // Of two NaN operands the compiler may keep either payload; the result is NaN.
      if (two && std::isnan(a[i]) && std::isnan(b[i])) {
        ASSERT_TRUE(std::isnan(out[i])) << name;
        continue;
      }
      ASSERT_EQ(e2e::bits(out[i]), e2e::bits(rule(a[i], b[i])))
          << name << " " << a[i] << " " << b[i];
    }
  };
  check(bandmath::sum_values, "sum",
        [](float x, float y) { return reference::float_halfoffset(x + y); });
  check(bandmath::mult_values, "mult",
        [](float x, float y) { return reference::signed_halfoffset(static_cast<double>(x * y)); });
  for (const double k : {0.0, -2.5, 1e-7, 3e8}) {
    p.constant = k;
    check(bandmath::add_values, "add",
          [&](float x, float) { return reference::double_halfoffset(static_cast<double>(x) + k); });
    check(bandmath::scale_values, "scale",
          [&](float x, float) { return reference::double_halfoffset(static_cast<double>(x) * k); });
  }
  for (const auto& [m, g, a1, a2] : std::vector<std::array<double, 4>>{
           {3, 2, 0, 1}, {-50, 0.01, -3, 7}, {100, -0.3, 5, -5}, {0, 0, 1, 2}}) {
    p.m = m;
    p.g = g;
    p.a1 = a1;
    p.a2 = a2;
    check(bandmath::logistic_values, "logistic", [&](float x, float) {
      const double e = std::exp(-g * (static_cast<double>(x) - m));
      return reference::signed_halfoffset((a2 - a1) / (1.0 + e) + a1);
    });
  }
}

// The clamping tests run in single precision against thresholds derived from the double
// bounds; this holds them to the double comparisons for bounds on, between and beyond floats.
TEST(Kernels, LimitsMatchTheDoubleComparisons) {
  std::mt19937 rng(5);
  Floats x = random_floats(rng, 20000);
  std::vector<double> bounds = {0.1,
                                -0.1,
                                0.0,
                                -0.0,
                                1e-300,
                                -1e-300,
                                1e39,
                                -1e39,
                                3.4028235677973366e38,
                                -3.4028235677973366e38,
                                std::nan(""),
                                INFINITY,
                                -INFINITY};
  for (int k = 0; k < 40; ++k) {
    const float f = x[static_cast<size_t>(k) * 7];
    const double fd = static_cast<double>(f);
    bounds.push_back(fd);
    bounds.push_back(std::nextafter(fd, INFINITY));  // just above a float
    bounds.push_back(std::nextafter(fd, -INFINITY));
    x.push_back(std::nextafter(f, INFINITY));
    x.push_back(std::nextafter(f, -INFINITY));
  }
  Floats out;
  for (size_t i = 0; i < bounds.size(); i += 3) {
    for (size_t j = 0; j < bounds.size(); j += 5) {
      bandmath::Params p;
      p.lower = bounds[i];
      p.upper = bounds[j];
      bandmath::Tally t;
      run_kernel(bandmath::limit_values, p, x, x, out, t);
      int64_t count = 0;
      for (size_t n = 0; n < x.size(); ++n) {
        const double v = static_cast<double>(x[n]);
        float want = reference::signed_halfoffset(v);
        if (p.lower > v) {
          want = reference::signed_halfoffset(p.lower);
          ++count;
        } else if (v > p.upper) {
          want = reference::signed_halfoffset(p.upper);
          ++count;
        }
        ASSERT_EQ(e2e::bits(out[n]), e2e::bits(want))
            << x[n] << " in " << p.lower << " " << p.upper;
      }
      EXPECT_EQ(t.corrected, count);
    }
  }
}

}  // namespace

// Every tool gives the same output bytes, band line, counts and messages for 1, 2 and 3
// threads, on chunks large enough that each thread gets a share: values with NaN, -0,
// infinities, divisors near zero and quotients over the cap (whose messages must stay in pixel
// order), bounds crossed by many values, and a second file that ends a band early.
TEST(Threads, EveryThreadCountGivesTheSameRun) {
  constexpr int kNpixel = 20000;
  constexpr int kBands = 5;
  std::mt19937 rng(42);
  std::uniform_real_distribution<float> wide(-50.0f, 50.0f);
  Floats a;
  Floats b;
  for (int i = 0; i < kNpixel * kBands; ++i) {
    const int pick = static_cast<int>(rng() % 100);
    a.push_back(pick == 0 ? bmt::kNaN : pick == 1 ? -0.0f : pick == 2 ? bmt::kInf : wide(rng));
    // Small divisors: some count as zero, some give quotients above 1000.
    b.push_back(pick < 10 ? wide(rng) * 1e-6f : pick < 13 ? 0.01f : wide(rng));
  }
  const std::vector<std::vector<std::string>> cases = {
      {"sum", "A", "B", "O", "20000"},
      {"mult", "A", "B", "O", "20000"},
      {"div", "A", "B", "O", "20000"},
      {"div", "A", "B", "O", "20000", "1", "4", "0", "3", "-1"},
      {"add", "A", "O", "0.25", "20000"},
      {"scale", "A", "O", "-1.5", "20000"},
      {"limits", "A", "O", "20000", "-10", "10"},
      {"logistic", "A", "O", "20000", "0.5", "0.3", "-1", "2"},
      {"slivet", "A", "O", "20000", "2", "0", "0"},
      {"sum", "A", "S", "O", "20000"},  // the second file ends a band early
  };
  for (const auto& words : cases) {
    std::string name;
    for (const auto& w : words) name += w + " ";
    SCOPED_TRACE(name);
    std::string first;
    e2e::TempDir d;  // one folder: messages name the files
    e2e::write_floats(d.file("A"), a);
    e2e::write_floats(d.file("B"), b);
    e2e::write_floats(d.file("S"), Floats(b.begin(), b.end() - kNpixel - 7));
    for (const char* threads : {"1", "2", "3"}) {
      std::vector<std::string> args;
      for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        args.push_back(w == "A" || w == "B" || w == "S" || w == "O" ? d.file(w) : w);
      }
      const e2e::ScopedEnv env("OMP_NUM_THREADS", threads);
      const auto r = run(words[0], args);
      const std::string all = std::to_string(r.status) + "\n" + r.out + r.err +
                              (e2e::exists(d.file("O")) ? e2e::read_bytes(d.file("O")) : "-");
      if (first.empty()) {
        first = all;
        if (r.status == 0) {
          EXPECT_GT(e2e::file_size(d.file("O")), 0) << "nothing written";
        }
      } else {
        EXPECT_TRUE(all == first) << threads << " threads";
      }
    }
  }
}

// logistic's bits do not depend on the variants of the C library's mathematics that the
// processor selects: the same bytes with glibc's FMA variants switched off, over values that
// cover the whole curve and its tails.
TEST(Processor, LogisticDoesNotDependOnTheMathVariants) {
  std::mt19937 rng(2026);
  std::uniform_real_distribution<float> x(-12.0f, 18.0f);
  Floats v(200000);
  for (float& f : v) f = x(rng);
  e2e::TempDir d;
  e2e::write_floats(d.file("in"), v);
  std::string outputs[2];
  for (int variant = 0; variant < 2; ++variant) {
    const e2e::ScopedEnv env("GLIBC_TUNABLES",
                             variant == 1 ? "glibc.cpu.hwcaps=-AVX2,-FMA,-AVX2_Usable,-FMA_Usable"
                                          : std::getenv("GLIBC_TUNABLES"));
    const auto r = e2e::run_process("logistic",  // the tunables act at start-up
                                    {d.file("in"), d.file("out"), "1000", "3", "2", "0", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    outputs[variant] = e2e::read_bytes(d.file("out"));
  }
  EXPECT_EQ(outputs[0].size(), v.size() * 4);
  EXPECT_TRUE(outputs[0] == outputs[1]);
}

// Regular files are read by position on every thread, a pipe through its stream as it comes:
// both give the same output, lines and status, whole or cut short inside a band (the bands are
// given, as a pipe has no size to count them from).
TEST(Common, ReadingAPipeEqualsReadingAFile) {
  Floats a;
  for (int i = 0; i < 3 * 5000; ++i) a.push_back(static_cast<float>(i % 97) * 0.37f - 9.0f);
  const std::string all(reinterpret_cast<const char*>(a.data()), a.size() * 4);
  const std::vector<std::vector<std::string>> cases = {
      {"add", "IN", "O", "0.5", "5000", "0", "2"},
      {"limits", "IN", "O", "5000", "-1", "1", "0", "2"},
      {"logistic", "IN", "O", "5000", "0", "1", "0", "1", "0", "2"},
      {"sum", "IN", "B", "O", "5000", "0", "2", "0", "2"},
      {"div", "B", "IN", "O", "5000", "0", "2", "0", "2"},
  };
  for (const std::size_t len : {all.size(), all.size() - 4 * 1000 - 2}) {
    for (const auto& words : cases) {
      SCOPED_TRACE(words[0] + " on " + std::to_string(len) + " bytes");
      e2e::TempDir d;
      e2e::write_bytes(d.file("in"), all.substr(0, len));
      e2e::write_floats(d.file("B"), a);
      std::vector<std::string> file_args;
      std::vector<std::string> pipe_args;
      for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        const bool path = w == "IN" || w == "B" || w == "O";
        file_args.push_back(w == "IN"  ? d.file("in")
                            : w == "O" ? d.file("of")
                            : path     ? d.file(w)
                                       : w);
        pipe_args.push_back(w == "IN" ? "PIPE" : w == "O" ? d.file("op") : path ? d.file(w) : w);
      }
      const auto file = run(words[0], file_args);
      const auto pipe = bmt::run_reading_pipe(words[0], d, all.substr(0, len), pipe_args);
      EXPECT_EQ(file.status, len == all.size() ? 0 : 255);
      EXPECT_EQ(file.status, pipe.status);
      EXPECT_EQ(file.out, pipe.out);
      EXPECT_EQ(file.err, pipe.err);
      EXPECT_EQ(e2e::read_bytes(d.file("of")), e2e::read_bytes(d.file("op")));
    }
  }
}

// The test runner's guard: a tool that hangs (here on a pipe that nobody writes) is killed when
// its time is up, and the run says so, instead of stalling the suite.
TEST(Support, HungToolIsKilledAfterTheTimeout) {
  e2e::TempDir d;
  ASSERT_EQ(mkfifo(d.file("fifo").c_str(), 0600), 0);
  const e2e::ScopedEnv limit("E2E_TIMEOUT_SECONDS", 1);
  const auto r = e2e::run_process("slivet", {d.file("fifo"), d.file("out"), "4", "2", "0", "0"});
  EXPECT_EQ(r.status, 128 + 9);
  EXPECT_EQ(r.err, "e2e: slivet was killed after 1 s\n");
}
