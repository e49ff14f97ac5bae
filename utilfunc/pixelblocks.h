// The pixel-block schedule that corvane, fennick, mean and the band engine share: a team of
// threads (parallel.h, which places its helpers on processors of their own) in which every
// member reads the block of pixels it computes on, over as many bands as it needs, by position
// (BandReader), and writes its block of each output band by position (BlockWriter), or an image
// of the output is written front to back as its pieces are complete (InOrderWriter). An input
// or output that cannot be positioned (a pipe, a device) takes the stream instead:
// read_stream_bands, and BlockWriter's stream rows. Workspace holds a run's working memory on
// huge pages, each thread's part on pages of its own.
//
// Positional reads and writes are safe from several threads at once and never move a stream,
// so members share one descriptor; nothing here decides the order of any arithmetic, so the
// tools' results stay the same for every thread count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "rasterfile.h"

namespace raster {

/// The worse of two read endings: whole, then at_end, then error.
inline PreadEnd worse(PreadEnd a, PreadEnd b) { return a > b ? a : b; }

/// A raw raster file read by position: `npixel` values a band, band 0 at byte `base`.
class BandReader {
 public:
  BandReader() = default;
  BandReader(int fd, int64_t npixel, int64_t base = 0) : fd_(fd), npixel_(npixel), base_(base) {}
  BandReader(const InFile& in, int64_t npixel) : BandReader(fileno(in.get()), npixel) {}

  /// Values [v0, v1) counted from the start of band `band` (running on into the bands after
  /// it) into dst[0, v1 - v0). The whole values that arrived go to *arrived. A position past
  /// the last offset of any file reads as the end of the file.
  PreadEnd read_values(int64_t band, int64_t v0, int64_t v1, float* dst, int64_t* arrived) const;

  /// Pixels [p0, p1) of `count` bands, band first + j * step into dst + j * stride, in that
  /// order; stops at the first band that does not arrive whole. The whole values that arrived,
  /// counted in that order, go to *arrived when it is given.
  PreadEnd read_pixels(int64_t first, int64_t step, int64_t count, int64_t p0, int64_t p1,
                       float* dst, int64_t stride, int64_t* arrived = nullptr) const;

 private:
  int fd_ = -1;
  int64_t npixel_ = 0;
  int64_t base_ = 0;
};

/// The stream fallback of reading: up to `nbands` bands from band `first` through the stream,
/// positioned at the band where the stream can be positioned (a pipe reads on where it is);
/// returns the whole bands that arrived. A band whose offset does not fit in 64 bits lies past
/// the end of any file: nothing is read.
int64_t read_stream_bands(InFile& in, int64_t first, int64_t npixel, float* dst, int64_t nbands);

/// An output the members of a team write block by block: by position where it is `direct` (a
/// regular file), each member its own blocks; otherwise the caller appends whole rows through
/// the stream (a pipe, a device, a file that is also another output). A member's failure is
/// kept and reported on the calling thread, in member order, by check() or finish_row().
class BlockWriter {
 public:
  BlockWriter(OutFile& out, int members, bool direct)
      : out_(&out), direct_(direct), errors_(static_cast<std::size_t>(members)) {}

  bool direct() const { return direct_; }
  OutFile& file() const { return *out_; }
  /// Member k: `bytes` at byte `offset` when direct; nothing otherwise.
  void write_at(int k, const void* data, int64_t bytes, int64_t offset);
  /// The caller, after the team's task: the first failure kept ends the run.
  void check();
  /// The caller, after the team's task that made a row of `n` values: the row through the
  /// stream when not direct, then check().
  void finish_row(const float* row, int64_t n);

 private:
  OutFile* out_;
  bool direct_;
  std::vector<int> errors_;  ///< errno of each member's failed write, 0 while none
};

/// An image of an output in memory, written front to back by position as its pieces are
/// complete. A failure is kept, not reported, so that the run reports it (OutFile::fail_write)
/// where a run that writes everything at the end would.
class InOrderWriter {
 public:
  InOrderWriter(OutFile& out, const void* image)
      : out_(&out), image_(static_cast<const char*>(image)) {}
  /// Writes bytes [written(), end); nothing once a write has failed.
  void write_to(int64_t end);
  int64_t written() const { return done_; }
  /// errno of the write that failed, 0 while none has.
  int error() const { return errno_; }

 private:
  OutFile* out_;
  const char* image_;
  int64_t done_ = 0;
  int errno_ = 0;
};

/// Working memory of a run in one anonymous mapping, aligned to huge pages and marked for them
/// where the kernel offers them (a hint: without it the same values, in small pages): filling
/// fresh 4 KiB pages costs one fault each, several times the reading itself. It is laid out in
/// parts that each begin on a boundary of `part_align` bytes, so that the threads fault their
/// own parts in side by side. Fresh pages read as zeros; nothing is touched until used.
class Workspace {
 public:
  static constexpr int64_t kHugePage = int64_t{1} << 21;

  Workspace() = default;
  Workspace(Workspace&& o) noexcept;
  Workspace& operator=(Workspace&& o) noexcept;
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  ~Workspace();

  /// Maps parts of `part_bytes` bytes; the whole is rounded up to whole huge pages where that
  /// keeps it within `limit` bytes. False, with nothing mapped, when a size overflows 64 bits
  /// or the system refuses the memory.
  bool map(std::span<const int64_t> part_bytes, int64_t part_align, int64_t limit = 0);
  bool ok() const { return base_ != nullptr; }
  template <class T>
  T* part(std::size_t i) const {
    return reinterpret_cast<T*>(base_ + offsets_[i]);
  }

 private:
  char* base_ = nullptr;
  std::size_t bytes_ = 0;
  std::vector<int64_t> offsets_;
};

}  // namespace raster
