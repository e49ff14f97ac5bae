// Threads over independent index ranges (pixels, years): each thread takes one contiguous block,
// so every element still sees its own operations in their order and the results are the same
// for any thread count.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace raster {

/// Threads a run uses by default: OMP_NUM_THREADS when it holds a positive number (the HPC
/// convention), otherwise the CPUs this process may run on (its affinity mask, which batch
/// schedulers set); at least 1.
int default_thread_count();

/// Threads that are worth starting for `n` items handed out in blocks of at least `grain`.
int threads_for(int64_t n, int64_t grain, int nthreads);

/// Begin of block `k` of `nblocks` contiguous blocks over [0, n), every boundary a multiple of
/// `align` (the last block takes the rest).
int64_t block_begin(int64_t n, int nblocks, int k, int64_t align);

/// A fixed team of threads, started once, that runs one task at a time: task(k) for every
/// member k in [0, size()), the calling thread being member 0. Tasks must not throw or exit.
class ThreadTeam {
 public:
  explicit ThreadTeam(int nthreads);
  ~ThreadTeam();
  ThreadTeam(const ThreadTeam&) = delete;
  ThreadTeam& operator=(const ThreadTeam&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }
  /// Runs task(k) on every member and returns when all have finished.
  void run(const std::function<void(int)>& task);
  /// Splits [0, n) into size() blocks aligned to `align` and runs body(begin, end) for each
  /// non-empty one.
  void for_blocks(int64_t n, int64_t align, const std::function<void(int64_t, int64_t)>& body);

 private:
  void work(int k);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  const std::function<void(int)>* task_ = nullptr;
  uint64_t generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
};

}  // namespace raster
