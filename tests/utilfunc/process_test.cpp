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

TEST(Failu, AddsOneNewlineAndExits255) {
  const auto r = probe({"failu", "Error opening file\n"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Error opening file\n\n");
  EXPECT_EQ(r.out, "");
}

TEST(Usage, PrintsTextWithProgramNameAndExits255) {
  const auto r = probe({"usage", "./tools/x"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Use:\n./tools/x a b c\nDoes things\n");
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
