// The thread team and its rules: blocks cover the range once, aligned, and the thread count
// follows OMP_NUM_THREADS or the affinity mask.
#include "parallel.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

int affinity_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  EXPECT_EQ(sched_getaffinity(0, sizeof(set), &set), 0);
  return CPU_COUNT(&set);
}

}  // namespace

TEST(ThreadCount, FromTheEnvironmentOrTheAffinityMask) {
  const int cpus = affinity_cpus();
  const struct {
    const char* env;
    int want;
  } rows[] = {{"3", 3},       {"1", 1},   {"4,2", 4},      {"0", cpus},    {"-2", cpus},
              {"many", cpus}, {"", cpus}, {nullptr, cpus}, {"99999", 1024}};
  for (const auto& row : rows) {
    const e2e::ScopedEnv env("OMP_NUM_THREADS", row.env);
    EXPECT_EQ(raster::default_thread_count(), row.want) << (row.env ? row.env : "(unset)");
  }
}

TEST(ThreadCount, NeverMoreThanTheWorkCanUse) {
  EXPECT_EQ(raster::threads_for(0, 8, 4), 1);
  EXPECT_EQ(raster::threads_for(8, 8, 4), 1);
  EXPECT_EQ(raster::threads_for(9, 8, 4), 2);
  EXPECT_EQ(raster::threads_for(1000, 8, 4), 4);
  EXPECT_EQ(raster::threads_for(1000, 8, 0), 1);
}

// Every index of [0, n) in exactly one block, blocks in order, boundaries on the alignment.
TEST(ThreadTeam, BlocksCoverTheRangeOnceAndAligned) {
  for (int nthreads : {1, 2, 3, 7}) {
    raster::ThreadTeam team(nthreads);
    ASSERT_EQ(team.size(), nthreads);
    for (int64_t n : {0, 1, 7, 8, 9, 61534}) {
      std::vector<std::atomic<int>> hits(static_cast<std::size_t>(n));
      std::atomic<int> blocks{0};
      std::atomic<bool> misaligned{false};
      for (int round = 0; round < 3; ++round) {  // the team is reused
        team.for_blocks(n, 8, [&](int64_t begin, int64_t end) {
          ++blocks;
          if (begin % 8 != 0 || begin >= end) misaligned = true;
          for (int64_t i = begin; i < end; ++i) ++hits[static_cast<std::size_t>(i)];
        });
      }
      for (int64_t i = 0; i < n; ++i) {
        ASSERT_EQ(hits[static_cast<std::size_t>(i)], 3) << nthreads << " " << n << " " << i;
      }
      EXPECT_FALSE(misaligned);
      EXPECT_LE(blocks, 3 * nthreads);
      EXPECT_EQ(raster::block_begin(n, nthreads, nthreads, 8), n);
    }
  }
}

TEST(ThreadTeam, RunsEveryMemberOnceAndWaitsForAll) {
  raster::ThreadTeam team(4);
  std::vector<std::atomic<int>> ran(4);
  team.run([&](int k) { ++ran[static_cast<std::size_t>(k)]; });
  for (auto& r : ran) EXPECT_EQ(r, 1);
}
