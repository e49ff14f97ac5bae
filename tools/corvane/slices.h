// The slices of every parameter: the slice sums, and what the series need of each parameter.
#pragma once

#include <cstdint>
#include <vector>

#include "buffer.h"
#include "cmdline.h"
#include "kernels.h"
#include "parallel.h"
#include "stats.h"

namespace corvane {

/// The eight slice sums, one value per pixel.
struct SliceSums {
  explicit SliceSums(int64_t npixel);
  raster::Buffer<double> nom, diffsq, absa, absb;
  raster::Buffer<double> nom_glob, diffsq_glob, absa_glob, absb_glob;
};

/// What the slices use besides the files: the prepared grid, the pixel weights of the global
/// statistics and the threads.
struct SliceContext {
  const raster::AreaWeightedGrid& grid;
  const float* natvegfrac;
  raster::ThreadTeam& team;
};

/// What the slices make.
struct Slices {
  SliceSums sums;
  std::vector<SeriesParam> params;  ///< one per parameter, in command-line order
};

/// Reads every parameter's slices in command-line order, adds their slice sums and prepares
/// their series constants, printing each parameter's line and all of its read messages (those
/// of the series too, known from the file sizes) before the next parameter's. `sums` and
/// `params` come in as storage (reserved before anything is read) and go out filled.
Slices add_slices(const Settings& s, const std::vector<ParameterFiles>& files,
                  const SliceContext& ctx, SliceSums sums, std::vector<SeriesParam> params);

}  // namespace corvane
