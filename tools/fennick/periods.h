// The two periods as sources of values, and the pass that turns them into output values: a team
// of threads, each over its own block of pixels, a chunk of pixels at a time. Each pixel sees
// its years in order and the same operations whatever the block, so the values are the same
// for every thread count.
#pragma once

#include <cstdint>

#include "parallel.h"
#include "pixelblocks.h"

namespace fennick {

/// One period: `nyear` years of 10 bands of `npixel` values, in file order. Either the period
/// is held in memory whole (`held`), or it is read by position from an open regular file (its
/// first band where the period starts), each thread reading the pixels it computes on.
struct Period {
  const float* held = nullptr;
  raster::BandReader file;
  int64_t base = 0;  ///< byte where the period starts in the file
  int64_t nyear = 0;
  bool unreachable = false;  ///< it ends beyond the last offset of any file: no read delivers it
};

/// Pixels a thread handles at once. Each read brings one band of one year of them (128 KiB at
/// most): a read costs mostly by the call, so reads are made large, while the running means of
/// one band and the read buffer still stay in the second-level cache as the years pass.
inline constexpr int64_t kChunk = 32768;

/// Working memory of a run: the output values and every thread's means and read buffers, each
/// thread's part on pages of its own, so that the threads fault them in side by side.
class Work {
 public:
  /// Requests the memory for `nthreads` threads over `npixel` pixels; false when the system
  /// refuses it.
  bool reserve(int64_t npixel, int nthreads);
  float* values() { return mem_.part<float>(0); }
  /// Memory of thread k.
  float* thread(int k) { return mem_.part<float>(1 + static_cast<std::size_t>(k)); }
  /// Pixels of one chunk, the row length of the means.
  int64_t chunk() const { return chunk_; }

 private:
  raster::Workspace mem_;
  int64_t chunk_ = 0;
};

/// How the pass ended: every value computed, or a read of a period that did not deliver all
/// of its values. A later value outranks an earlier one: period 1 is the one reported when
/// both came up short, as it was always read first.
enum class Outcome { complete, period2_short, period1_short };

/// Computes the value of every pixel into work.values(). A read that comes up short ends the
/// reading of that period; the values are then incomplete and the outcome says which period.
Outcome compute_values(raster::ThreadTeam& team, const Period& p1, const Period& p2, int64_t npixel,
                       bool sim, Work& work);

}  // namespace fennick
