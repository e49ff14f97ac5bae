// The temporal statistics tool: one year's worth of per-band statistics over a range of years.
#pragma once

#include <cstdint>

namespace meantool {

/// The command line, as read: positional numbers through atoi, flags by exact whole words.
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

/// Runs the whole tool; returns the exit status of a successful run (failures end the process).
int run(const Args& a);

/// The signed half-offset of a single-precision value, computed in single precision. Same bits
/// as raster::signed_halfoffset(v) for every float v: v and +-0.5 are floats, and a sum of two
/// floats rounded to double and then to float equals their float sum (53 >= 2 * 24 + 2 bits,
/// so the double rounding is innocuous); the sign test is the same. The double form needs
/// widening and narrowing in every lane and makes the first pass compute-bound.
inline float signed_halfoffset_f(float v) {
  const float h = v < 0.0f ? -0.5f : 0.5f;
  const float t = v + h;
  return t - h;
}

/// raster::signed_halfoffset step for step, with the offsets held in named values: in this form
/// the compiler turns the sign test into a lane mask and vectorises the loop (the shared form
/// keeps a branch, which mispredicts on data of mixed sign). Same operations, same bits.
inline float signed_halfoffset_lanes(double v) {
  const bool negative = v < 0.0;
  const double h = negative ? -0.5 : 0.5;
  const float hf = negative ? -0.5f : 0.5f;
  const float t = static_cast<float>(v + h);
  return t - hf;
}

// Per-value kernels over n consecutive pixels of one band. Each pixel's sums run in the order of
// the calls, so vectorising across pixels leaves every result unchanged.

/// sum[p] += signed half-offset of v[p], the addition in single precision.
void add_values(float* sum, const float* v, int64_t n);
/// sum[p] = signed half-offset of (sum[p] / nyear), the division in double precision.
void finish_means(float* sum, int64_t n, int64_t nyear);
/// annual[p] += signed half-offset of (mean[p] / nbandsyear), the division in single precision.
void add_annual(float* annual, const float* mean, int64_t n, float nbandsyear);
/// sq[p] += float half-offset of (v[p] - mean[p])^2, all in single precision.
void add_squared_deviations(float* sq, const float* v, const float* mean, int64_t n);
/// sq[p] = signed half-offset of sqrt(sq[p] / nyear), in double precision.
void finish_sds(float* sq, int64_t n, int64_t nyear);

}  // namespace meantool
