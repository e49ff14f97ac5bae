// The output side of the aggregation commands: bands computed one at a time, written as
// NetCDF-4 (CF-1.8) through the export writer, or as a raw raster file with its grid file and
// sidecar.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "grid.h"
#include "timeaxis.h"

namespace aggregate {

enum class OutputFormat { netcdf, raw };

/// --format when given (netcdf or raw), else raw for a name ending in .bin, else NetCDF; a
/// usage ToolError for another format name.
OutputFormat pick_output_format(const std::string& path, const std::string& given);

/// What an output holds and how to compute it.
struct OutputBands {
  const interop::PlacedGrid* grid = nullptr;  ///< the pixels, as the input's
  int64_t nbands = 0;
  /// Fills dst (one value per pixel) with output band `band`; called once per band, in order.
  std::function<void(int64_t band, std::span<float> dst)> band;
  std::optional<int64_t> first_year;  ///< year of band 0 (one band a year); unset: no time axis
  /// When not empty, each band's time and bounds in days since first_year-01-01 (seasons);
  /// else whole calendar years.
  std::vector<interop::BandTime> times;
  std::optional<std::string> calendar;  ///< CF name; unset: proleptic_gregorian
  std::string variable;                 ///< empty: "value"
  std::optional<std::string> units;
  std::optional<std::string> long_name;
  std::optional<std::string> cell_methods;  ///< NetCDF only, e.g. "time: sum"
  std::string description;                  ///< the raw sidecar's description
  std::string history;                      ///< NetCDF history: date and command line
};

/// The files an output writes: the NetCDF file; or the raw file, its grid file NAME.grid.bin
/// and its sidecar NAME.hdr.
std::vector<std::string> output_files(const std::string& path, OutputFormat format);

/// Writes the output under temporary names and renames each file when it is complete; every
/// write and close checked. Returns how many values equal the NetCDF fill value 1e20 (they read
/// as missing there; 0 for raw output).
int64_t write_output(const std::string& path, OutputFormat format, const OutputBands& out);

/// "<UTC time>: rastertools <command> <arguments>", for NetCDF history.
std::string history_text(const char* command, int argc, char** argv);

}  // namespace aggregate
