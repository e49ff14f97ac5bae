// Memory for one period held whole: 10 bands x npixel x nyear values in file order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennick {

class PeriodBlock {
 public:
  /// Requests the block; it is empty (!ok()) when no such block can exist (the size overflows
  /// 64 bits) or the system refuses the memory. Nothing is touched yet.
  static PeriodBlock reserve(int64_t npixel, int64_t nyear);

  PeriodBlock() = default;
  PeriodBlock(PeriodBlock&& o) noexcept;
  PeriodBlock& operator=(PeriodBlock&& o) noexcept;
  PeriodBlock(const PeriodBlock&) = delete;
  PeriodBlock& operator=(const PeriodBlock&) = delete;
  ~PeriodBlock();

  bool ok() const { return data_ != nullptr; }
  float* data() { return data_; }
  const float* data() const { return data_; }
  int64_t count() const { return count_; }

 private:
  void* map_ = nullptr;  ///< the whole mapping, released at the end
  std::size_t map_bytes_ = 0;
  float* data_ = nullptr;  ///< the block, at a huge-page boundary inside the mapping
  int64_t count_ = 0;
};

}  // namespace fennick
