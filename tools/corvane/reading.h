// Reading years of a raw raster file by pixel blocks, so that each thread reads the part of
// every band that it computes on, and several threads read at once.
#pragma once

#include <cstdint>

#include "parallel.h"
#include "pixelblocks.h"

namespace corvane {

/// Pixel blocks of the threads start on whole cache lines of the double sums.
inline constexpr int64_t kAlign = 8;

/// Writes NaN, the value of everything a read did not deliver, to n values.
void fill_missing(float* dst, int64_t n);

/// Reads pixels [p0, p1) of every band of year `year` (`nbands` bands of `npixel` values) into
/// dst, band b at b * npixel; what does not arrive is NaN. After a band that comes up short,
/// the following bands are not read.
raster::PreadEnd read_year_part(const raster::BandReader& file, int64_t year, int64_t nbands,
                                int64_t npixel, int64_t p0, int64_t p1, float* dst);

/// The whole year, each member of the team reading its pixel block; the worst of the parts.
raster::PreadEnd read_year(raster::ThreadTeam& team, const raster::BandReader& file, int64_t year,
                           int64_t nbands, int64_t npixel, float* dst);

}  // namespace corvane
