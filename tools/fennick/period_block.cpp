#include "period_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <utility>

#include "composition.h"

namespace fennick {

namespace {
constexpr std::size_t kHugePage = static_cast<std::size_t>(kHugePageBytes);
}  // namespace

PeriodBlock PeriodBlock::reserve(int64_t npixel, int64_t nyear) {
  int64_t count = 0;
  if (__builtin_mul_overflow(int64_t{kSlots}, npixel, &count) ||
      __builtin_mul_overflow(count, nyear, &count)) {
    return PeriodBlock();
  }
  return reserve_floats(count);
}

PeriodBlock PeriodBlock::reserve_floats(int64_t count) {
  PeriodBlock b;
  int64_t bytes = 0;
  int64_t map_bytes = 0;
  if (__builtin_mul_overflow(count, 4, &bytes) ||
      __builtin_add_overflow(bytes, static_cast<int64_t>(kHugePage), &map_bytes)) {
    return b;
  }
  // Room for the block to start at a huge-page boundary; the slack is never touched.
  void* map = mmap(nullptr, static_cast<std::size_t>(map_bytes), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return b;
  b.map_ = map;
  b.map_bytes_ = static_cast<std::size_t>(map_bytes);
  const std::uintptr_t at =
      (reinterpret_cast<std::uintptr_t>(map) + kHugePage - 1) & ~(kHugePage - 1);
  b.data_ = reinterpret_cast<float*>(at);
  b.count_ = count;
  // Only advice: where huge pages are not available the block works the same, only slower.
  (void)madvise(b.data_, static_cast<std::size_t>(bytes), MADV_HUGEPAGE);
  return b;
}

PeriodBlock::PeriodBlock(PeriodBlock&& o) noexcept
    : map_(std::exchange(o.map_, nullptr)),
      map_bytes_(std::exchange(o.map_bytes_, 0)),
      data_(std::exchange(o.data_, nullptr)),
      count_(std::exchange(o.count_, 0)) {}

PeriodBlock& PeriodBlock::operator=(PeriodBlock&& o) noexcept {
  if (this != &o) {
    if (map_ != nullptr) munmap(map_, map_bytes_);
    map_ = std::exchange(o.map_, nullptr);
    map_bytes_ = std::exchange(o.map_bytes_, 0);
    data_ = std::exchange(o.data_, nullptr);
    count_ = std::exchange(o.count_, 0);
  }
  return *this;
}

PeriodBlock::~PeriodBlock() {
  if (map_ != nullptr) munmap(map_, map_bytes_);
}

}  // namespace fennick
