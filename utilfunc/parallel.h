// Threads over independent index ranges (pixels, years): each thread takes one contiguous block,
// so every element still sees its own operations in their order and the results are the same
// for any thread count.
#pragma once

#include <sched.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
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
/// member k in [0, size()), the calling thread being member 0.
///
/// A task that throws (a Fatal of the error vocabulary, say) does not take its thread down:
/// the exception is kept, the other members finish, and run() throws the one of the lowest
/// member on the calling thread. So no exception crosses a thread boundary on its own.
///
/// Placement: some schedulers (virtual machines that pack work onto few virtual processors)
/// leave a thread woken while another one runs queued behind it until the next load balance,
/// milliseconds later, about as long as a whole run. So at the team's first task each helper,
/// once it runs, moves itself to a processor of its own among those the process may use and
/// hands the choice back to the kernel at once, while member 0 stays where it is and waits for
/// them without sleeping, yielding its processor to a helper queued there, for a millisecond at
/// most (on a busy machine a helper may have to wait for a processor). Placement only: results
/// never depend on it.
class ThreadTeam {
 public:
  explicit ThreadTeam(int nthreads);
  ~ThreadTeam();
  ThreadTeam(const ThreadTeam&) = delete;
  ThreadTeam& operator=(const ThreadTeam&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }
  /// Runs task(k) on every member and returns when all have finished; then rethrows what a
  /// member threw, if any.
  void run(const std::function<void(int)>& task);
  /// Splits [0, n) into size() blocks aligned to `align` and runs body(begin, end) for each
  /// non-empty one.
  void for_blocks(int64_t n, int64_t align, const std::function<void(int64_t, int64_t)>& body);
  /// As for_blocks, with the member: body(k, begin, end).
  void for_member_blocks(int64_t n, int64_t align,
                         const std::function<void(int, int64_t, int64_t)>& body);

 private:
  void work(int k);
  void run_member(const std::function<void(int)>& task, int k);
  void place_helper(int k);
  void wait_for_helpers();

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  const std::function<void(int)>* task_ = nullptr;
  uint64_t generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
  std::vector<std::exception_ptr> errors_;  ///< per member, of the current task
  cpu_set_t allowed_;                       ///< the process's processors
  std::vector<int> others_;                 ///< those besides member 0's, for the helpers
  std::atomic<int> placed_{1};              ///< members placed (member 0 from the start)
  bool first_run_ = true;
};

}  // namespace raster
