// rastertools info: what a raw raster file and a grid file hold, and whether they agree.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "rawinput.h"

namespace interop {

/// Statistics of one band: min, max and mean over the values that are neither NaN, infinite
/// nor a fill value (1e20, -9999), and counts of those.
struct BandStats {
  int64_t valid = 0;
  float min = 0;
  float max = 0;
  double mean = 0;
  int64_t nan = 0;
  int64_t inf = 0;
  int64_t fill_1e20 = 0;
  int64_t fill_9999 = 0;
};
BandStats band_stats(std::span<const float> band);
/// Whether band_stats counts `v` as a value (not NaN, infinite, 1e20 or -9999).
bool is_valid_value(float v);

/// Describes a file of another format than raw (NetCDF through libnetcdf, TIFF through GDAL, a
/// PNG's size) in a few lines on standard output, with the command that imports it. Returns the
/// exit status (a ToolError when the file cannot be read).
int describe_other_format(const std::string& path, FileFormat f);

/// The whole `rastertools info` command. Returns the exit status.
int run_info(int argc, char** argv);

}  // namespace interop
