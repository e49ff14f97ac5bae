#include "periods.h"

#include <algorithm>
#include <vector>

#include "composition.h"
#include "kernels.h"

namespace fennick {

namespace {

// Thread blocks start on whole cache lines of the output values.
constexpr int64_t kAlign = 16;

// Band `band` of year `year` of the period at pixels [p0, p0 + n): in the held period, or read
// into dst. nullptr when the values did not all arrive.
const float* band_values(const Period& p, int64_t npixel, int64_t year, int band, int64_t p0,
                         int64_t n, float* dst) {
  if (p.held != nullptr) return p.held + (year * kSlots + band) * npixel + p0;
  int64_t got = 0;
  return p.file.read_values(year * kSlots + band, p0, p0 + n, dst, &got) == raster::PreadEnd::whole
             ? dst
             : nullptr;
}

// Period means of pixels [p0, p0 + n) into rows 1 to 9 of `means` (row length `stride`),
// each one's years in order. With `test` set, *test is pointed at band 0 of the period's last
// year (read into test_buf). False when a read came up short. Band by band, so that one row of
// means and one band's read take the cache at a time, however many pixels a read brings.
bool add_period(const Period& p, int64_t npixel, int64_t p0, int64_t n, int64_t stride,
                float* means, float* buf, float* test_buf, const float** test) {
  if (p.unreachable) return false;
  const float years = static_cast<float>(p.nyear);
  for (int k = 0; k < kSlots; ++k) {
    float* m = means + k * stride;
    if (k > 0) std::fill_n(m, n, 0.0f);
    for (int64_t y = 0; y < p.nyear; ++y) {
      // Band 0 is read too, so that a period counts as read only when all of it arrived.
      const bool keep = k == 0 && test != nullptr && y == p.nyear - 1;
      const float* x = band_values(p, npixel, y, k, p0, n, keep ? test_buf : buf);
      if (x == nullptr) return false;
      if (keep) *test = x;
      if (k > 0) kernels::add_band(x, n, years, m);
    }
  }
  return true;
}

// Thread k's block of pixels, chunk after chunk. A short read of period 1 ends the block (the
// run fails whatever else happens); after a short read of period 2, period 1 is still read to
// the end, since its failure is the one to report.
Outcome compute_block(const Period& p1, const Period& p2, int64_t npixel, bool sim, Work& work,
                      int64_t begin, int64_t end, int k) {
  const int64_t stride = work.chunk();
  float* means1 = work.thread(k);
  float* means2 = means1 + kSlots * stride;
  float* buf = means2 + kSlots * stride;
  float* test_buf = buf + stride;
  bool period2_whole = true;
  for (int64_t q = begin; q < end; q += stride) {
    const int64_t n = std::min(stride, end - q);
    const float* test = nullptr;
    if (!add_period(p1, npixel, q, n, stride, means1, buf, test_buf, &test)) {
      return Outcome::period1_short;
    }
    if (!period2_whole) continue;
    if (!add_period(p2, npixel, q, n, stride, means2, buf, nullptr, nullptr)) {
      period2_whole = false;
      continue;
    }
    kernels::values(means1, means2, stride, test, n, sim, work.values() + q);
  }
  return period2_whole ? Outcome::complete : Outcome::period2_short;
}

}  // namespace

bool Work::reserve(int64_t npixel, int nthreads) {
  const int64_t units = (npixel + kAlign - 1) / kAlign;
  // No thread's block is longer than this (raster::block_begin).
  chunk_ = std::min(kChunk, (units + nthreads - 1) / nthreads * kAlign);
  // The output values, then for each thread the means of both periods (slot 0 included), a
  // read buffer and the band-0 test values, each on huge pages of its own.
  std::vector<int64_t> parts = {units * kAlign * 4};
  parts.insert(parts.end(), static_cast<std::size_t>(nthreads), (2 * kSlots + 2) * chunk_ * 4);
  return mem_.map(parts, raster::Workspace::kHugePage);
}

Outcome compute_values(raster::ThreadTeam& team, const Period& p1, const Period& p2, int64_t npixel,
                       bool sim, Work& work) {
  const int members = team.size();
  std::vector<Outcome> part(static_cast<std::size_t>(members), Outcome::complete);
  team.run([&](int k) {
    const int64_t begin = raster::block_begin(npixel, members, k, kAlign);
    const int64_t end = raster::block_begin(npixel, members, k + 1, kAlign);
    if (begin < end) {
      part[static_cast<std::size_t>(k)] = compute_block(p1, p2, npixel, sim, work, begin, end, k);
    }
  });
  Outcome outcome = Outcome::complete;
  for (const Outcome o : part) outcome = std::max(outcome, o);
  return outcome;
}

}  // namespace fennick
