// Every way a run of fennick can fail or warn: exact stderr, status, and what the output file
// holds afterwards. Also the refusals that keep a run from destroying an input.
#include <gtest/gtest.h>
#include <unistd.h>

#include "fpc.h"

namespace {

using fpc::pixel;
using fpc::Year;

const std::string kUsage =
    "Use: NAME fpcfile1 fpcfile2 outfile nyear_file1 nyear_file2 npixel startyear1 startyear2 "
    "[sim(to calculate similarity measure)]\n"
    "Notice: if startyear2 < 0, data is read from input file 1 instead of input file 2 "
    "assuming that both files are continuous.\n";

std::string usage_for(const std::string& name) {
  std::string u = kUsage;
  u.replace(u.find("NAME"), 4, name);
  return u;
}

// Two pixels; file 1 holds 5 years, file 2 holds 3.
struct Files {
  e2e::TempDir dir;
  std::string f1 = dir.file("fpc1.bin");
  std::string f2 = dir.file("fpc2.bin");
  std::string out = dir.file("out.bin");
  std::string missing = dir.file("missing.bin");
  Files() {
    const Year y = {pixel({{3, 1.0f}}), pixel({{5, 0.5f}})};
    fpc::write(f1, std::vector<Year>(5, y));
    fpc::write(f2, std::vector<Year>(3, y));
  }
};

void expect_failure(const e2e::Result& r, const std::string& err) {
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, err);
  EXPECT_EQ(r.out, "");
}

TEST(Usage, FewerThanEightArgumentsPrintTheTwoLines) {
  Files f;
  for (std::size_t n = 0; n < 8; ++n) {
    const std::vector<std::string> all = {f.f1, f.f2, f.out, "1", "1", "2", "0", "0"};
    const std::vector<std::string> args(all.begin(), all.begin() + static_cast<long>(n));
    const auto r = e2e::run("fennick", args, "./some/where/fennick");
    expect_failure(r, usage_for("./some/where/fennick"));
    EXPECT_FALSE(e2e::exists(f.out)) << n;
  }
  // Exactly eight is enough.
  EXPECT_EQ(fpc::run(f.f1, f.f2, f.out, 1, 1, 2, 0, 0).status, 0);
}

TEST(Memory, BlocksThatCannotExistAreRefusedBeforeAnyFileIsOpened) {
  Files f;
  struct Case {
    int64_t ny1, ny2, npixel;
  };
  // A count that overflows 64 bits, one far beyond any address space, and a failing second
  // block after a first one that fits.
  for (const Case c : {Case{2000000000, 1, 2000000000}, Case{1000000, 1, 2000000000},
                       Case{1, 2000000000, 1000000}}) {
    const auto r = fpc::run(f.missing, f.missing, f.out, c.ny1, c.ny2, c.npixel, 0, 0);
    expect_failure(r, "Error in memory allocation\n");
    EXPECT_FALSE(e2e::exists(f.out));
  }
}

TEST(Opening, MissingFileOneFailsItsRead) {
  Files f;
  e2e::write_bytes(f.out, "old contents");
  const auto r = fpc::run(f.missing, f.f2, f.out, 1, 1, 2, 0, 0);
  expect_failure(r,
                 "Warning: File open failed on input file1\n"
                 "Error reading data from input file 1\n");
  EXPECT_EQ(e2e::file_size(f.out), 0);
}

TEST(Opening, MissingFileTwoFailsItsRead) {
  Files f;
  const auto r = fpc::run(f.f1, f.missing, f.out, 1, 1, 2, 0, 0);
  expect_failure(r,
                 "Warning: File open failed on input file2\n"
                 "Error reading data from input file 2\n");
  EXPECT_EQ(e2e::file_size(f.out), 0);
}

TEST(Opening, UnopenableOutputEndsTheRunWhenValuesFallDue) {
  Files f;
  const std::string out = f.dir.file("no-such-dir/out.bin");
  auto r = fpc::run(f.f1, f.f2, out, 1, 1, 2, 0, 0);
  expect_failure(r,
                 "Warning: File open failed on output file\n"
                 "Error: output file " +
                     out + " could not be opened; no values written\n\n");
  // Both periods are still read first, with their own failures.
  r = fpc::run(f.f1, f.f2, out, 1, 1, 2, 0, 3);
  expect_failure(r,
                 "Warning: File open failed on output file\n"
                 "Error reading data from input file 2\n");
  r = fpc::run(f.missing, f.f2, out, 1, 1, 2, 0, 0);
  expect_failure(r,
                 "Warning: File open failed on input file1\n"
                 "Warning: File open failed on output file\n"
                 "Error reading data from input file 1\n");
}

TEST(Reading, PeriodOnePastTheEndOfFileOne) {
  Files f;
  for (const auto& [sy1, ny1] : {std::pair{4, 2}, std::pair{5, 1}, std::pair{0, 6}}) {
    const auto r = fpc::run(f.f1, f.f2, f.out, ny1, 1, 2, sy1, 0);
    expect_failure(r, "Error reading data from input file 1\n");
    EXPECT_TRUE(e2e::exists(f.out));
    EXPECT_EQ(e2e::file_size(f.out), 0);
  }
  // The last whole year still reads.
  EXPECT_EQ(fpc::run(f.f1, f.f2, f.out, 1, 1, 2, 4, 0).status, 0);
}

TEST(Reading, PeriodTwoPastTheEndOfFileTwo) {
  Files f;
  for (const auto& [sy2, ny2] : {std::pair{2, 2}, std::pair{3, 1}, std::pair{0, 4}}) {
    const auto r = fpc::run(f.f1, f.f2, f.out, 1, ny2, 2, 0, sy2);
    expect_failure(r, "Error reading data from input file 2\n");
    EXPECT_EQ(e2e::file_size(f.out), 0);
  }
  EXPECT_EQ(fpc::run(f.f1, f.f2, f.out, 1, 3, 2, 0, 0).status, 0);
}

TEST(Reading, MoreYearsBackThanFileOneHolds) {
  Files f;
  const auto r = fpc::run(f.f1, f.f2, f.out, 1, 1, 2, 0, -6);
  expect_failure(r, "Error: cannot go to position 6 years before end of input file 1\n");
  EXPECT_EQ(e2e::file_size(f.out), 0);
  // All five years back is the start of the file.
  EXPECT_EQ(fpc::run(f.f1, f.f2, f.out, 1, 5, 2, 0, -5).status, 0);
}

TEST(Reading, PeriodTwoRunsPastTheEndOfFileOne) {
  Files f;
  const auto r = fpc::run(f.f1, f.missing, f.out, 1, 3, 2, 0, -2);
  expect_failure(r,
                 "Warning: File open failed on input file2\n"
                 "Error reading data from end of input file 1\n");
  EXPECT_EQ(e2e::file_size(f.out), 0);
}

TEST(Guard, OutputNamingAnInputIsRefusedAndTheInputKept) {
  Files f;
  const std::string before1 = e2e::read_bytes(f.f1);
  const std::string before2 = e2e::read_bytes(f.f2);
  ASSERT_EQ(link(f.f1.c_str(), f.dir.file("alias.bin").c_str()), 0);
  struct Case {
    std::string out, input;
    int sy2;
  };
  // File 2 counts as an input even when period 2 comes from file 1.
  for (const Case& c : {Case{f.f1, f.f1, 0}, Case{f.f2, f.f2, 0}, Case{f.f2, f.f2, -1},
                        Case{f.dir.file("alias.bin"), f.f1, 0}}) {
    const auto r = fpc::run(f.f1, f.f2, c.out, 1, 1, 2, 0, c.sy2);
    expect_failure(r, "Error: output file " + c.out + " is the input file " + c.input +
                          "; refusing to overwrite it\n\n");
  }
  EXPECT_EQ(e2e::read_bytes(f.f1), before1);
  EXPECT_EQ(e2e::read_bytes(f.f2), before2);
}

TEST(Guard, CountsBelowOneAndNegativeStartYearOneAreRefusedFirst) {
  Files f;
  struct Case {
    std::vector<std::string> counts;  // nyear_file1 nyear_file2 npixel startyear1
    std::string err;
  };
  const Case cases[] = {
      {{"0", "1", "2", "0"}, "Error: nyear_file1 must be at least 1 (got 0)\n\n"},
      {{"1", "-3", "2", "0"}, "Error: nyear_file2 must be at least 1 (got -3)\n\n"},
      {{"1", "1", "0", "0"}, "Error: npixel must be at least 1 (got 0)\n\n"},
      {{"1", "1", "pixels", "0"}, "Error: npixel must be at least 1 (got 0)\n\n"},
      {{"1", "1", "2", "-1"}, "Error: startyear1 must not be negative (got -1)\n\n"},
  };
  for (const Case& c : cases) {
    // Missing inputs would warn if anything were opened.
    std::vector<std::string> args = {f.missing, f.missing, f.out};
    args.insert(args.end(), c.counts.begin(), c.counts.end());
    args.push_back("0");
    expect_failure(e2e::run("fennick", args), c.err);
    EXPECT_FALSE(e2e::exists(f.out));
  }
}

TEST(Guard, FailedWritesAreReported) {
  Files f;
  const auto r = fpc::run(f.f1, f.f2, "/dev/full", 1, 1, 2, 0, 0);
  expect_failure(r, "Error: cannot write output file /dev/full: No space left on device\n\n");
}

}  // namespace
