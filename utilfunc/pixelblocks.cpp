#include "pixelblocks.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace raster {

PreadEnd BandReader::read_values(int64_t band, int64_t v0, int64_t v1, float* dst,
                                 int64_t* arrived) const {
  *arrived = 0;
  int64_t offset = 0;
  if (__builtin_mul_overflow(band, npixel_, &offset) ||
      __builtin_add_overflow(offset, v0, &offset) || __builtin_mul_overflow(offset, 4, &offset) ||
      __builtin_add_overflow(offset, base_, &offset)) {
    return PreadEnd::at_end;
  }
  int64_t got = 0;
  const PreadEnd end = pread_full(fd_, dst, (v1 - v0) * 4, offset, &got);
  *arrived = got / 4;  // whole values only count, as a stream read would count them
  return end;
}

PreadEnd BandReader::read_pixels(int64_t first, int64_t step, int64_t count, int64_t p0, int64_t p1,
                                 float* dst, int64_t stride, int64_t* arrived) const {
  int64_t total = 0;
  PreadEnd end = PreadEnd::whole;
  for (int64_t j = 0; j < count && end == PreadEnd::whole; ++j) {
    int64_t got = 0;
    end = read_values(first + j * step, p0, p1, dst + j * stride, &got);
    total += got;
  }
  if (arrived != nullptr) *arrived = total;
  return end;
}

int64_t read_stream_bands(InFile& in, int64_t first, int64_t npixel, float* dst, int64_t nbands) {
  int64_t offset = 0;
  if (!value_offset(0, 0, first, npixel, 0, &offset)) return 0;
  in.seek(offset);
  return in.read_floats(dst, nbands * npixel) / npixel;
}

void BlockWriter::write_at(int k, const void* data, int64_t bytes, int64_t offset) {
  if (!direct_) return;
  const int e = out_->write_at(data, bytes, offset);
  if (e != 0) errors_[static_cast<std::size_t>(k)] = e;
}

void BlockWriter::check() {
  for (const int e : errors_) {
    if (e != 0) out_->fail_write(e);
  }
}

void BlockWriter::finish_row(const float* row, int64_t n) {
  if (!direct_) out_->write_floats(row, n);
  check();
}

void InOrderWriter::write_to(int64_t end) {
  if (errno_ != 0 || done_ >= end) return;
  errno_ = out_->write_at(image_ + done_, end - done_, done_);
  if (errno_ == 0) done_ = end;
}

namespace {
int64_t round_up(int64_t n, int64_t unit) { return (n + unit - 1) / unit * unit; }
}  // namespace

bool Workspace::map(std::span<const int64_t> part_bytes, int64_t part_align, int64_t limit) {
  *this = Workspace();
  std::vector<int64_t> offsets;
  int64_t used = 0;
  for (const int64_t bytes : part_bytes) {
    offsets.push_back(used);
    if (bytes < 0 || bytes > INT64_MAX - part_align ||
        __builtin_add_overflow(used, round_up(bytes, part_align), &used)) {
      return false;
    }
  }
  if (used > INT64_MAX - 2 * kHugePage) return false;
  const int64_t whole = round_up(used, kHugePage);
  const auto bytes = static_cast<std::size_t>(std::max<int64_t>(whole <= limit ? whole : used, 1));
  // Mapped one huge page longer than it is kept, so that its start can be aligned; what lies
  // before and after the aligned range goes back at once.
  const std::size_t span = bytes + kHugePage;
  void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return false;
  const auto first = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t start = (first + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  if (start > first) munmap(p, start - first);
  if (first + span > start + bytes) {
    munmap(reinterpret_cast<void*>(start + bytes), first + span - (start + bytes));
  }
  base_ = reinterpret_cast<char*>(start);
  bytes_ = bytes;
  offsets_ = std::move(offsets);
  (void)madvise(base_, bytes_, MADV_HUGEPAGE);
  return true;
}

Workspace::Workspace(Workspace&& o) noexcept
    : base_(std::exchange(o.base_, nullptr)),
      bytes_(std::exchange(o.bytes_, 0)),
      offsets_(std::move(o.offsets_)) {}

Workspace& Workspace::operator=(Workspace&& o) noexcept {
  if (this != &o) {
    if (base_ != nullptr) munmap(base_, bytes_);
    base_ = std::exchange(o.base_, nullptr);
    bytes_ = std::exchange(o.bytes_, 0);
    offsets_ = std::move(o.offsets_);
  }
  return *this;
}

Workspace::~Workspace() {
  if (base_ != nullptr) munmap(base_, bytes_);
}

}  // namespace raster
