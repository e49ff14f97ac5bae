#include "stat.h"

#include <exception>
#include <vector>

#include "parallel.h"
#include "tool.h"

namespace aggregate {

Stat parse_stat(const std::string& text, const char* option) {
  if (text == "sum") return Stat::sum;
  if (text == "mean") return Stat::mean;
  if (text == "min") return Stat::min;
  if (text == "max") return Stat::max;
  throw interop::usage_error(std::string(option) + " " + text + ": give sum, mean, min or max");
}

const char* stat_name(Stat s) {
  switch (s) {
    case Stat::sum:
      return "sum";
    case Stat::mean:
      return "mean";
    case Stat::min:
      return "min";
    case Stat::max:
      return "max";
  }
  return "?";
}

void for_blocks(int64_t n, int64_t grain, const std::function<void(int64_t, int64_t)>& body) {
  const int nthreads = raster::threads_for(n, grain, raster::default_thread_count());
  if (nthreads <= 1) {
    if (n > 0) body(0, n);
    return;
  }
  raster::ThreadTeam team(nthreads);
  std::vector<std::exception_ptr> failed(static_cast<size_t>(nthreads));
  team.run([&](int k) {
    const int64_t begin = raster::block_begin(n, nthreads, k, 1);
    const int64_t end = raster::block_begin(n, nthreads, k + 1, 1);
    if (begin >= end) return;
    try {
      body(begin, end);
    } catch (...) {
      failed[static_cast<size_t>(k)] = std::current_exception();
    }
  });
  for (const std::exception_ptr& e : failed)
    if (e) std::rethrow_exception(e);
}

}  // namespace aggregate
