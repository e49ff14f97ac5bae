#include "parallel.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace raster {

int default_thread_count() {
  if (const char* env = std::getenv("OMP_NUM_THREADS"); env != nullptr && *env != '\0') {
    // The first entry of a list such as "4,2" is the outer level's count.
    char* end = nullptr;
    const long n = std::strtol(env, &end, 10);
    if (end != env && n > 0) return static_cast<int>(std::min<long>(n, 1024));
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) return std::max(1, CPU_COUNT(&set));
  return 1;
}

int threads_for(int64_t n, int64_t grain, int nthreads) {
  const int64_t blocks = grain > 0 ? (n + grain - 1) / grain : n;
  return static_cast<int>(std::clamp<int64_t>(blocks, 1, std::max(nthreads, 1)));
}

int64_t block_begin(int64_t n, int nblocks, int k, int64_t align) {
  if (k >= nblocks) return n;
  const int64_t units = (n + align - 1) / align;
  const int64_t begin = units * k / nblocks * align;
  return std::min(begin, n);
}

ThreadTeam::ThreadTeam(int nthreads) : errors_(static_cast<std::size_t>(std::max(nthreads, 1))) {
  CPU_ZERO(&allowed_);
  if (nthreads > 1 && sched_getaffinity(0, sizeof(allowed_), &allowed_) == 0) {
    const int home = sched_getcpu();
    for (int c = 0; c < CPU_SETSIZE; ++c) {
      if (CPU_ISSET(c, &allowed_) && c != home) others_.push_back(c);
    }
  }
  for (int k = 1; k < nthreads; ++k) workers_.emplace_back([this, k] { work(k); });
}

ThreadTeam::~ThreadTeam() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  start_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void ThreadTeam::place_helper(int k) {
  if (!others_.empty()) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(others_[static_cast<std::size_t>(k - 1) % others_.size()], &one);
    if (sched_setaffinity(0, sizeof(one), &one) == 0) {
      sched_setaffinity(0, sizeof(allowed_), &allowed_);
    }
  }
  placed_.fetch_add(1, std::memory_order_release);
}

void ThreadTeam::wait_for_helpers() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
  while (placed_.load(std::memory_order_acquire) < size() &&
         std::chrono::steady_clock::now() < until) {
    sched_yield();
  }
}

void ThreadTeam::run_member(const std::function<void(int)>& task, int k) {
  try {
    task(k);
  } catch (...) {
    errors_[static_cast<std::size_t>(k)] = std::current_exception();
  }
}

void ThreadTeam::work(int k) {
  uint64_t seen = 0;
  for (;;) {
    const std::function<void(int)>* task = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      task = task_;
    }
    if (seen == 1) place_helper(k);
    run_member(*task, k);
    std::lock_guard<std::mutex> lock(mutex_);
    if (--pending_ == 0) done_.notify_one();
  }
}

void ThreadTeam::run(const std::function<void(int)>& task) {
  if (workers_.empty()) {
    task(0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = &task;
    pending_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  start_.notify_all();
  if (first_run_) {
    first_run_ = false;
    wait_for_helpers();
  }
  run_member(task, 0);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return pending_ == 0; });
  }
  for (std::exception_ptr& e : errors_) {
    if (e) {
      const std::exception_ptr first = e;
      std::fill(errors_.begin(), errors_.end(), nullptr);
      std::rethrow_exception(first);
    }
  }
}

void ThreadTeam::for_member_blocks(int64_t n, int64_t align,
                                   const std::function<void(int, int64_t, int64_t)>& body) {
  const int nblocks = size();
  run([&](int k) {
    const int64_t begin = block_begin(n, nblocks, k, align);
    const int64_t end = block_begin(n, nblocks, k + 1, align);
    if (begin < end) body(k, begin, end);
  });
}

void ThreadTeam::for_blocks(int64_t n, int64_t align,
                            const std::function<void(int64_t, int64_t)>& body) {
  for_member_blocks(n, align, [&](int, int64_t begin, int64_t end) { body(begin, end); });
}

}  // namespace raster
