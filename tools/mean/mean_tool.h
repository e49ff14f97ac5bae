// The temporal statistics tool: one year's worth of per-band statistics over a range of years.
#pragma once

#include <cstdint>

namespace meantool {

/// The whole tool as a library entry: returns the exit status, its files closed, and prints
/// nothing after returning.
int run_mean(int argc, char** argv);

/// The command line, as read: positional numbers as atoi reads them, flags by exact whole words.
struct Args {
  const char* ifile = nullptr;
  const char* ofile = nullptr;
  int npixel = 0;
  int startyear = 0;
  int endyear = 0;
  int nbandsyear = 0;
  bool gm = false;  ///< "-gm": one extra band with the annual mean
  bool sd = false;  ///< "-sd": a standard-deviation band after each mean band
};

/// Reads the command line; too few arguments end the run with the usage text.
Args parse_args(int argc, char** argv);

/// Runs the tool on its arguments; returns the exit status of a successful run (a failure
/// throws the Fatal that run_mean reports).
int run(const Args& a);

// Kernels over n consecutive pixels of one band (kernels.cpp). Each pixel's sums run in the
// order of the calls, and within a call in the order of the rows of v, so vectorising across
// pixels and splitting the pixels among threads leave every result unchanged.

/// For each row j in [0, nv) in turn: sum[p] += signed half-offset of v[j * vstride + p], the
/// addition in single precision.
void add_values(float* sum, const float* v, int64_t vstride, int64_t nv, int64_t n);
/// sum[p] = signed half-offset of (sum[p] / nyear), the division in double precision.
void finish_means(float* sum, int64_t n, int64_t nyear);
/// annual[p] += signed half-offset of (mean[p] / nbandsyear), the division in single precision.
void add_annual(float* annual, const float* mean, int64_t n, float nbandsyear);
/// For each row j in [0, nv) in turn: sq[p] += float half-offset of (v[j * vstride + p] -
/// mean[p])^2, all in single precision.
void add_squared_deviations(float* sq, const float* v, int64_t vstride, int64_t nv,
                            const float* mean, int64_t n);
/// sq[p] = signed half-offset of sqrt(sq[p] / nyear), in double precision.
void finish_sds(float* sq, int64_t n, int64_t nyear);

}  // namespace meantool
