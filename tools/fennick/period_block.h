// Memory for one period held whole (10 bands x npixel x nyear values in file order), or for any
// other array of floats that is filled once and read back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennick {

/// Filling fresh memory of 4 KiB pages costs one fault (and one zeroed page) per page, several
/// times the read itself for a period of 30 years; blocks ask for pages of this size, which
/// removes most of that.
inline constexpr int64_t kHugePageBytes = int64_t{2} << 20;

class PeriodBlock {
 public:
  /// Requests the block; it is empty (!ok()) when no such block can exist (the size overflows
  /// 64 bits) or the system refuses the memory. Nothing is touched yet.
  static PeriodBlock reserve(int64_t npixel, int64_t nyear);
  /// Requests a block of `count` floats on the same terms.
  static PeriodBlock reserve_floats(int64_t count);

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
