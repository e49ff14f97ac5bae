#include "reading.h"

#include <limits>
#include <vector>

namespace corvane {

void fill_missing(float* dst, int64_t n) {
  for (int64_t j = 0; j < n; ++j) dst[j] = std::numeric_limits<float>::quiet_NaN();
}

raster::PreadEnd read_year_part(const raster::BandReader& file, int64_t year, int64_t nbands,
                                int64_t npixel, int64_t p0, int64_t p1, float* dst) {
  const int64_t n = p1 - p0;
  // An empty block reads nothing but still meets a year beyond the end of any file.
  if (n <= 0) return file.read_pixels(year * nbands, 1, nbands, p0, p1, dst, npixel);
  int64_t arrived = 0;
  const raster::PreadEnd end =
      file.read_pixels(year * nbands, 1, nbands, p0, p1, dst + p0, npixel, &arrived);
  // Whole values only count, as a stream read of the year would count them; the bands after
  // the first short one were not read.
  for (int64_t b = arrived / n; b < nbands; ++b) {
    const int64_t got = b == arrived / n ? arrived % n : 0;
    fill_missing(dst + b * npixel + p0 + got, n - got);
  }
  return end;
}

raster::PreadEnd read_year(raster::ThreadTeam& team, const raster::BandReader& file, int64_t year,
                           int64_t nbands, int64_t npixel, float* dst) {
  std::vector<raster::PreadEnd> part(static_cast<std::size_t>(team.size()));
  team.run([&](int k) {
    const int64_t p0 = raster::block_begin(npixel, team.size(), k, kAlign);
    const int64_t p1 = raster::block_begin(npixel, team.size(), k + 1, kAlign);
    part[static_cast<std::size_t>(k)] = read_year_part(file, year, nbands, npixel, p0, p1, dst);
  });
  raster::PreadEnd end = raster::PreadEnd::whole;
  for (const raster::PreadEnd e : part) end = raster::worse(end, e);
  return end;
}

}  // namespace corvane
