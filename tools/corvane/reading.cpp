// Reading years of a raw raster file by pixel blocks with pread, so that each thread reads the
// part of every band that it computes on, and several threads read at once.
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <vector>

#include "corvane.h"

namespace corvane {

namespace {

constexpr float kMissing = std::numeric_limits<float>::quiet_NaN();

ReadStatus worse(ReadStatus a, ReadStatus b) { return a > b ? a : b; }

// Reads `want` bytes at `offset`; returns the bytes that arrived and how the read ended.
int64_t read_at(int fd, char* dst, int64_t want, int64_t offset, ReadStatus& st) {
  int64_t got = 0;
  const raster::PreadEnd end = raster::pread_full(fd, dst, want, offset, &got);
  if (end == raster::PreadEnd::error) st = worse(st, ReadStatus::error);
  if (end == raster::PreadEnd::at_end) st = worse(st, ReadStatus::short_at_end);
  return got;
}

}  // namespace

void fill_missing(float* dst, int64_t n) {
  for (int64_t j = 0; j < n; ++j) dst[j] = kMissing;
}

ReadStatus read_year_part(int fd, int64_t year, int64_t nbands, int64_t npixel, int64_t p0,
                          int64_t p1, float* dst) {
  ReadStatus st = ReadStatus::whole;
  const int64_t n = p1 - p0;
  for (int64_t b = 0; b < nbands; ++b) {
    float* values = dst + b * npixel + p0;
    int64_t offset = 0;
    int64_t got = 0;
    if (!raster::value_offset(year, nbands, b, npixel, p0, &offset)) {
      st = worse(st, ReadStatus::short_at_end);
    } else if (st == ReadStatus::whole) {
      got = read_at(fd, reinterpret_cast<char*>(values), n * 4, offset, st) / 4;
    }
    // Whole values only count, as a stream read of the year would count them.
    fill_missing(values + got, n - got);
  }
  return st;
}

ReadStatus read_year(const Context& ctx, int fd, int64_t year, int64_t nbands, int64_t npixel,
                     float* dst) {
  const int members = ctx.team.size();
  std::vector<ReadStatus> part(static_cast<std::size_t>(members));
  ctx.team.run([&](int k) {
    const int64_t p0 = raster::block_begin(npixel, members, k, kAlign);
    const int64_t p1 = raster::block_begin(npixel, members, k + 1, kAlign);
    part[static_cast<std::size_t>(k)] = read_year_part(fd, year, nbands, npixel, p0, p1, dst);
  });
  ReadStatus st = ReadStatus::whole;
  for (const ReadStatus s : part) st = worse(st, s);
  return st;
}

}  // namespace corvane
