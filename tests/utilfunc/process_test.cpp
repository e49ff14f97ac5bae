// Exit paths of the module, seen from outside the process: exact stderr, status 255.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e.h"

namespace {

e2e::Result probe(const std::vector<std::string>& args) {
  return e2e::run(e2e::test_program_path("utilfunc_probe"), args, "probe");
}

}  // namespace

// Each writer of the error vocabulary: what it prints, byte for byte, and how the run ends.
struct Writer {
  const char* name;
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status;
};

const Writer kWriters[] = {
    {"failu_adds_one_newline",
     {"failu", "Error opening file\n"},
     "",
     "Error opening file\n\n",
     255},
    {"fail_exact_adds_nothing",
     {"usage", "./tools/x"},
     "",
     "Use:\n./tools/x a b c\nDoes things\n",
     255},
    {"fail_error_prefix_and_empty_line",
     {"error", "npixel must be at least 1 (got 0)"},
     "",
     "Error: npixel must be at least 1 (got 0)\n\n",
     255},
    {"fail_status_its_own_status", {"status", "3", "cannot run x\n"}, "", "cannot run x\n", 3},
    {"warn_goes_on", {"warn", "x.bin ends early"}, "", "Warning: x.bin ends early\n", 0},
    {"report_goes_on", {"report", "Error reading\n"}, "before\n", "Error reading\n", 0},
    // A failure in a helper thread reaches the one handler; what was printed stays printed.
    {"helper_thread_failure", {"helper-fails", "boom"}, "started\n", "Error: boom\n\n", 255},
    {"tool_error_names_the_program",
     {"tool-error", "rastertools-info", "no such file: a.bin"},
     "",
     "rastertools-info: error: no such file: a.bin\n",
     1},
    // Arguments read as atoi and atof read them: text is 0, a leading number counts, and an
    // integer beyond int wraps as glibc's atoi (strtol narrowed) gives it, without overflow.
    {"arg_text_reads_zero", {"args", "abc"}, "0 0\n", "", 0},
    {"arg_leading_number", {"args", " 12.75xyz"}, "12 12.75\n", "", 0},
    {"arg_int_wraps_past_int", {"args", "3000000000"}, "-1294967296 3000000000\n", "", 0},
    {"arg_int_saturates_past_long", {"args", "-99999999999999999999"}, "0 -1e+20\n", "", 0},
};

class ErrorVocabulary : public testing::TestWithParam<Writer> {};
INSTANTIATE_TEST_SUITE_P(Writers, ErrorVocabulary, testing::ValuesIn(kWriters),
                         [](const testing::TestParamInfo<Writer>& i) { return i.param.name; });

TEST_P(ErrorVocabulary, PrintsExactlyAndEndsWithItsStatus) {
  const Writer& w = GetParam();
  const auto r = probe(w.args);
  EXPECT_EQ(r.status, w.status);
  EXPECT_EQ(r.out, w.out);
  EXPECT_EQ(r.err, w.err);
}

TEST(CheckedOutput, WritesWholeFile) {
  e2e::TempDir d;
  const auto r = probe({"write", d.file("o.bin"), "100000"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(e2e::file_size(d.file("o.bin")), 100000);
}

TEST(CheckedOutput, FullDeviceIsReportedNotIgnored) {
  for (const char* n : {"10", "1000000"}) {  // fails at close, and at a write
    const auto r = probe({"write", "/dev/full", n});
    EXPECT_EQ(r.status, 255) << n;
    EXPECT_EQ(r.err, "Error: cannot write output file /dev/full: No space left on device\n\n") << n;
  }
}

TEST(CheckedOutput, UnopenableOutputIsAnOpenError) {
  const auto r = probe({"write", "/nonexistent-dir/o.bin", "4"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error opening file\n\n");
}

TEST(SameFileGuard, RefusesOutputOverInputAndLeavesInputIntact) {
  e2e::TempDir d;
  const std::string in = d.file("in.bin");
  e2e::write_bytes(in, "abcd");
  const auto r = probe({"guard", in, d.file("other.bin"), in});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error: output file " + in + " is the input file " + in +
                       "; refusing to overwrite it\n\n");
  EXPECT_EQ(e2e::read_bytes(in), "abcd");
}

TEST(SameFileGuard, SeesThroughOtherNamesOfTheSameFile) {
  e2e::TempDir d;
  const std::string in = d.file("in.bin");
  e2e::write_bytes(in, "abcd");
  ASSERT_EQ(link(in.c_str(), d.file("hard.bin").c_str()), 0);
  ASSERT_EQ(symlink(in.c_str(), d.file("soft.bin").c_str()), 0);
  for (const std::string& out : {d.file("hard.bin"), d.file("soft.bin"), d.path() + "/./in.bin"}) {
    const auto r = probe({"guard", out, in});
    EXPECT_EQ(r.status, 255) << out;
    EXPECT_EQ(e2e::read_bytes(in), "abcd");
  }
}

TEST(SameFileGuard, AllowsDistinctAndNewOutputsAndDevices) {
  e2e::TempDir d;
  e2e::write_bytes(d.file("in.bin"), "abcd");
  e2e::write_bytes(d.file("old.bin"), "zz");
  EXPECT_EQ(probe({"guard", d.file("new.bin"), d.file("in.bin")}).status, 0);
  EXPECT_EQ(probe({"guard", d.file("old.bin"), d.file("in.bin")}).status, 0);
  EXPECT_EQ(e2e::file_size(d.file("old.bin")), 0);
  // Writing to a device destroys nothing, so a device named on both sides is allowed.
  EXPECT_EQ(probe({"guard", "/dev/null", "/dev/null"}).status, 0);
}

TEST(Allocation, ImpossibleSizesEndThroughFailu) {
  for (const auto& dims : std::vector<std::vector<std::string>>{
           {"-1", "4"}, {"4611686018427387904", "4"}, {"3037000500", "3037000500"}}) {
    const auto r = probe({"alloc", dims[0], dims[1]});
    EXPECT_EQ(r.status, 255) << dims[0];
    EXPECT_EQ(r.err, "Error allocating memory\n\n") << dims[0];
  }
}

TEST(Allocation, SizeBeyondMemoryIsRefusedNotACrash) {
  // 2^31 * 2^31 / ... : 2^44 doubles = 128 TiB, a valid count no machine can serve.
  const auto r = probe({"alloc", "4294967296", "4096"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error allocating memory\n\n");
}

TEST(Allocation, OrdinarySizesWork) { EXPECT_EQ(probe({"alloc", "1000", "12"}).status, 0); }
