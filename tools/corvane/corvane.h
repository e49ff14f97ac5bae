// corvane: multi-variable change metric between a reference and a future period.
//
// The run has three stages: the command line and its files (cmdline.cpp), the per-parameter
// accumulation of the fourteen sums (accumulate.cpp, with the hot loops in kernels.cpp), and the
// eight output products (products.cpp). run_corvane() in corvane.cpp strings them together.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "utilfunc.h"

namespace corvane {

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
  int nbands_year = 0;  ///< bands per year of the first reference file

  std::vector<double> weight;  ///< normalised to sum 1 once all are read
  std::vector<double> mean_par;
  std::vector<double> std_par;

  raster::InFile natvegfile;
  raster::InFile gridfile;
  std::vector<raster::InFile> ifiles_ref;
  std::vector<raster::InFile> ifiles_fut;
  std::array<raster::OutFile, 8> ofile;
};

/// Reads the command line, opens every file in the documented order, prints the weight
/// report and normalises the weights. Ends the process on a bad command line.
void open_run(int argc, char** argv, Run& run);

/// The fourteen running sums. Series element of year y and pixel p: y * npixel + p.
struct Sums {
  Sums(int64_t npixel, int64_t nyear);

  raster::Buffer<double> nom, diffsq, absa, absb;
  raster::Buffer<double> nom_glob, diffsq_glob, absa_glob, absb_glob;
  raster::Buffer<double> nom_ts, absa_ts, nom_ts_glob, absa_ts_glob, absb_ts_glob, absb_ts;
};

/// Per-pixel weight of the global statistics: 1 everywhere, or the first band of the fraction
/// file with negative entries taken as 0. A short fraction file ends the run with status 1.
raster::Buffer<float> load_natvegfrac(Run& run);

/// Per-parameter working storage, allocated with the sums and reused by every parameter.
struct Work {
  Work(int64_t npixel, int64_t nbands_year, int64_t nyear, int64_t nyear_avg);
  /// Up to AreaWeightedGrid::kSideBySide years of one parameter (never more than a slice), re-sized
  /// with its band count.
  int64_t rbuf_years;
  raster::Buffer<float> rbuf;
  raster::Buffer<double> mean_ref, mean_fut;
  raster::Buffer<double> rdiv, rglob;  ///< per-pixel constants of the series (kernels)
  raster::Buffer<double> global_mean, global_std;
};

/// Adds every parameter's contribution to the sums, printing the per-parameter line and the
/// read-error messages as it goes.
/// The yearly global statistics use `grid`, prepared once, with natvegfrac as pixel weights.
void accumulate(Run& run, const raster::AreaWeightedGrid& grid, const float* natvegfrac, Work& work,
                Sums& sums);

/// Writes the eight products in their fixed order and closes the outputs (checked).
void write_products(Run& run, Sums& sums);

/// The whole tool; returns the exit status of a successful run.
int run_corvane(int argc, char** argv);

// Hot loops, built for more than one instruction set; every variant gives the same bits.
namespace kernels {

/// mean[p] += v / n for every band of `nbands` bands and every pixel, bands in order.
void add_slice_mean(const float* data, int64_t npixel, int64_t nbands, double n, double* mean);

/// Per-pixel constants of one parameter for the series: the divisor of the per-pixel
/// normalisation (R where |R| > 0.001, else 1, which divides exactly) and the reference term
/// of the global normalisation.
struct SeriesParam {
  const double* r;      ///< reference-slice mean R
  const double* rdiv;   ///< R, or 1.0 where R is near zero
  const double* rglob;  ///< (R * ((R * W) / G)) / G
  double w;
  double g;
};

/// Adds one year of `nbands` bands to the series sums of that year (pointers already offset
/// to year y).
void add_series_year(const float* data, int64_t npixel, int64_t nbands, const SeriesParam& sp,
                     double* nom_ts, double* absa_ts, double* absb_ts, double* nom_ts_glob,
                     double* absa_ts_glob, double* absb_ts_glob);

}  // namespace kernels

}  // namespace corvane
