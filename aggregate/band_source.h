// The input side of the aggregation commands (yearly, fldstat): what they need to know of an
// input (how its bands lie in time, what they hold, where its pixels lie) and the one read they
// make. Implemented for a raw raster file with its sidecar (raw_source.cpp) and for a NetCDF
// variable read in-process through the named jobs' input layer (netcdf_source.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "grid.h"
#include "sidecar.h"

namespace aggregate {

/// How an input's bands lie in time and what they hold.
struct BandLayout {
  int64_t npixel = 0;
  int64_t nbands = 0;                     ///< whole bands of the input
  std::optional<int64_t> bands_per_year;  ///< 12 for monthly bands; unset when not known
  std::optional<int64_t> first_year;      ///< calendar year of band 0; unset without a time axis
  std::optional<std::string> calendar;    ///< CF calendar of the time axis, as the input names it
  std::string variable;                   ///< may be empty
  std::optional<std::string> units;
  std::optional<std::string> long_name;
};

/// An input of bands of float values, one value per pixel of a grid.
class BandSource {
 public:
  virtual ~BandSource() = default;
  /// The input as messages name it (a file, or a file and a variable).
  virtual const std::string& name() const = 0;
  virtual const BandLayout& layout() const = 0;
  /// The pixels' grid records, their lattice and latitude convention, and each pixel's cell.
  virtual const interop::PlacedGrid& grid() const = 0;
  /// Every file the input reads (data, grid, sidecar), so that no output is written over one.
  virtual std::vector<std::string> files() const = 0;
  /// Bands first_band .. first_band + count - 1, values of pixels [pixel_begin, pixel_end) of
  /// each, into dst band after band. Safe to call from several threads at once; a ToolError
  /// names the input when a read fails or comes up short.
  virtual void read_bands(int64_t first_band, int64_t count, int64_t pixel_begin, int64_t pixel_end,
                          float* dst) const = 0;
};

/// A raw raster file (float32 LE, band after band) with its sidecar NAME.hdr: npixel, grid,
/// resolution, convention, time axis, variable and units from `given` first, then from the
/// sidecar. A usage ToolError when no grid file is known; a ToolError when the file holds no
/// whole band. Bytes after the last whole band are ignored with a warning under `program`.
std::unique_ptr<BandSource> open_raw_source(const std::string& path,
                                            const interop::RasterOptions& given,
                                            const char* program);

/// A NetCDF variable (`var`; empty: the file's only data variable), its whole years decoded
/// into memory (as much room as the imported raw file would take on disk); its pixels are the
/// cells with a value in any step read, as import takes them, or those of `given.grid`. A
/// usage ToolError for a raw-input option the file answers itself (--res, --convention,
/// --npixel; --bands-per-year and --first-year when it has a time axis). nullptr when `path`
/// is not NetCDF.
std::unique_ptr<BandSource> open_netcdf_source(const std::string& path, const std::string& var,
                                               const interop::RasterOptions& given,
                                               const char* program);

/// NetCDF when `path` is, else a raw raster file (then a `var` is a usage ToolError).
std::unique_ptr<BandSource> open_source(const std::string& path, const std::string& var,
                                        const interop::RasterOptions& given, const char* program);

}  // namespace aggregate
