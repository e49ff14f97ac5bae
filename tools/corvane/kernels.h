// Hot loops, built for more than one instruction set; every variant gives the same bits. And
// what they are handed: one parameter's constants for the series, and one year's series sums.
#pragma once

#include <cstdint>

#include "buffer.h"

namespace corvane {

/// What the series need of one parameter once its slices are done.
struct SeriesParam {
  explicit SeriesParam(int64_t npixel) : r(npixel), rglob(npixel) {}
  int64_t nbands = 0;
  double w = 0.0;
  double g = 0.0;                ///< gnorm
  raster::Buffer<double> r;      ///< reference-slice mean R
  raster::Buffer<double> rglob;  ///< (R * ((R * W) / G)) / G, the same for every value
  /// The years whose series read is already known to come up short (and was reported with
  /// the parameter's other messages): every year from here on...
  int64_t first_short_year = 0;
  /// ...or all of them, when the stream failed with an error (not at its end) before.
  bool unreadable = false;
};

namespace kernels {

/// The six series sums of one year, one value per pixel.
struct YearSums {
  double* nom_ts;
  double* absa_ts;
  double* absb_ts;
  double* nom_ts_glob;
  double* absa_ts_glob;
  double* absb_ts_glob;
};

/// mean[p] += v / n for every band of `nbands` bands (`stride` values apart) and every pixel
/// of [0, n_pixels), bands in order.
void add_slice_mean(const float* data, int64_t stride, int64_t n_pixels, int64_t nbands, double n,
                    double* mean);

/// Adds one year of one parameter (`nbands` bands, `stride` values apart) over pixels
/// [p0, p1) to the year's sums.
void add_series_year(const float* data, int64_t stride, int64_t p0, int64_t p1, int64_t nbands,
                     const SeriesParam& sp, const YearSums& s);

/// Band y of ofile3, ofile4, ofile7 and ofile8 at pixels [p0, p1) from the finished sums of
/// year y (`nan`: the NaN of sqrt(-1)).
void series_bands(const YearSums& s, int64_t p0, int64_t p1, double nan, float* angle,
                  float* magnitude, float* angle_glob, float* magnitude_glob);

}  // namespace kernels
}  // namespace corvane
