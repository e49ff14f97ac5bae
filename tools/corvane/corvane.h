// corvane: multi-variable change metric between a reference and a future period.
//
// The run has four stages: the command line and its files (cmdline.cpp); the slices of every
// parameter, which give the slice sums and each parameter's constants for the series
// (slices.cpp); the four slice products (products.cpp); and the per-year series, year by year
// over all parameters, each year's four bands written as soon as it is complete (series.cpp).
// The hot loops are in kernels.cpp. run_corvane() in corvane.cpp strings them together.
//
// Every output value depends only on its own element's sums, and every element receives its
// terms in one fixed order, parameter by parameter and within a parameter band by band. The
// stages keep that order whatever the schedule: threads take contiguous pixel blocks, and the
// series of year y need nothing but year y of every parameter.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "utilfunc.h"

namespace corvane {

/// The eight outputs, in command-line order.
enum Output : int {
  kAngle,                  ///< ofile1: cosine of the slice angle, per-pixel normalisation
  kMagnitude,              ///< ofile2: 4 bands of slice magnitudes
  kAngleSeries,            ///< ofile3: cosine per reference year
  kMagnitudeSeries,        ///< ofile4: length per reference year
  kAngleGlobal,            ///< ofile5: as ofile1, global normalisation
  kMagnitudeGlobal,        ///< ofile6: as ofile2, global normalisation
  kAngleSeriesGlobal,      ///< ofile7: as ofile3, global normalisation
  kMagnitudeSeriesGlobal,  ///< ofile8: as ofile4, global normalisation
  kNumOutputs
};

/// Everything the command line fixes for the run, with its files open.
struct Run {
  int npar = 0;
  int is_range_spec = 0;
  int is_natveg_spec = 0;
  int nyear_ref = 0;
  int nyear_fut = 0;
  int nyear_avg = 0;
  int startyear_ref = 0;
  int startyear_fut = 0;
  double res = 0.0;
  int npixel = 0;
  int nlat = 0;
  int nlon = 0;

  std::vector<double> weight;  ///< normalised to sum 1 once all are read
  std::vector<double> mean_par;
  std::vector<double> std_par;

  raster::InFile natvegfile;
  raster::InFile gridfile;
  std::vector<raster::InFile> ifiles_ref;
  std::vector<raster::InFile> ifiles_fut;
  std::array<raster::OutFile, kNumOutputs> ofile;
};

/// Reads the command line, opens every file in the documented order, prints the weight
/// report and normalises the weights. Ends the process on a bad command line.
void open_run(int argc, char** argv, Run& run);

/// Per-pixel weight of the global statistics: 1 everywhere, or the first band of the fraction
/// file with negative entries taken as 0. A short fraction file ends the run with status 1.
raster::Buffer<float> load_natvegfrac(Run& run);

/// The eight slice sums, one value per pixel.
struct SliceSums {
  explicit SliceSums(int64_t npixel);
  raster::Buffer<double> nom, diffsq, absa, absb;
  raster::Buffer<double> nom_glob, diffsq_glob, absa_glob, absb_glob;
};

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

}  // namespace kernels

/// Per-run context of the stages: the prepared grid, the pixel weights and the threads.
struct Context {
  const raster::AreaWeightedGrid& grid;
  const float* natvegfrac;
  raster::ThreadTeam& team;
};

/// Pixel blocks of the threads start on whole cache lines of the double sums.
inline constexpr int64_t kAlign = 8;

/// How a read of (part of) a year ended; a later value is worse.
enum class ReadStatus : uint8_t { whole, short_at_end, error };

/// Writes NaN, the value of everything a read did not deliver, to n values.
void fill_missing(float* dst, int64_t n);

/// Reads pixels [p0, p1) of every band of year `year` (`nbands` bands of `npixel` values) of
/// file `fd` into dst, band b at b * npixel; what does not arrive is NaN. After a band that
/// comes up short, the following bands are not read.
ReadStatus read_year_part(int fd, int64_t year, int64_t nbands, int64_t npixel, int64_t p0,
                          int64_t p1, float* dst);

/// The whole year, each thread reading its pixel block; the worst of the parts' statuses.
ReadStatus read_year(const Context& ctx, int fd, int64_t year, int64_t nbands, int64_t npixel,
                     float* dst);

/// Reads every parameter's slices, adds their slice sums and prepares their series constants,
/// printing each parameter's line and all of its read-error messages (those of the series
/// too, known from the file sizes) before the next parameter's.
void add_slices(Run& run, const Context& ctx, SliceSums& sums, std::vector<SeriesParam>& params);

/// Writes ofile1, ofile5, ofile2 and ofile6 from the finished slice sums (consumed).
void write_slice_products(Run& run, SliceSums& sums);

/// Bands per year of parameter i's reference file, from its size.
int reference_bands(const Run& run, int i);

/// Storage of the series: one year of sums, one year of one parameter, one band per output.
struct SeriesWork {
  SeriesWork(int64_t npixel, int64_t max_nbands, int nthreads, int npar);
  kernels::YearSums sums() {
    return {nom_ts.data(),      absa_ts.data(),      absb_ts.data(),
            nom_ts_glob.data(), absa_ts_glob.data(), absb_ts_glob.data()};
  }

  raster::Buffer<double> nom_ts, absa_ts, absb_ts, nom_ts_glob, absa_ts_glob, absb_ts_glob;
  raster::Buffer<float> rbuf;  ///< one year of one parameter; each thread fills its own pixels
  std::array<raster::Buffer<float>, 4> band;  ///< band y of ofile3, ofile4, ofile7, ofile8
  std::vector<ReadStatus> status;             ///< per thread and parameter, of the current year
};

/// Builds the series year by year over all parameters and writes band y of ofile3, ofile4,
/// ofile7 and ofile8 as soon as year y is complete; then closes every output (checked).
void write_series(Run& run, const Context& ctx, const std::vector<SeriesParam>& params,
                  SeriesWork& wk);

/// The whole tool; returns the exit status of a successful run.
int run_corvane(int argc, char** argv);

// Hot loops, built for more than one instruction set; every variant gives the same bits.
namespace kernels {

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
