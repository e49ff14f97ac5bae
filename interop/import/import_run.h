// rastertools import: a gridded NetCDF or GDAL raster file to a raw raster file, its grid file
// and its sidecar. The steps live here so that tests can call them; import_main.cpp is the
// command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "grid.h"
#include "import_source.h"
#include "import_time.h"

namespace interop::importer {

struct ImportOptions {
  std::string input;
  std::string output;
  std::string var;                      // --var; empty: the file's only data variable
  std::optional<std::string> grid;      // --grid: take these pixels
  std::optional<std::string> grid_out;  // --grid-out: where the grid from the input goes
  std::optional<double> res;
  std::optional<Convention> convention;
  std::optional<YearRange> years;
  std::optional<LevelChoice> level;  // --level
};

/// What was written: the numbers the other tools take on their command lines.
struct ImportSummary {
  std::string variable, units;
  int64_t npixel = 0;
  int64_t bands_per_year = 0;
  int64_t nyears = 0;
  std::optional<int64_t> first_year;  // unset when the input has no time axis
  int64_t no_value = 0;               // --grid pixels whose cell holds no value in any step (NaN)
  int64_t left_out = 0;  // without --grid: cells of the file that hold no value in any step
  int64_t repeats = 0;   // repeated wrap-around columns left out
  std::string level;     // the level read, as SourceInfo::level
  std::string raw, grid, sidecar;
  double res = 0;
  Origin origin;
  Convention convention = Convention::northedge;
};

/// Runs the import; warnings go to stderr under `program`. Throws ToolError.
ImportSummary run_import(const ImportOptions& opt, const char* program);

/// The default grid output for `output`: NAME.grid.bin beside NAME.EXT.
std::string default_grid_out(const std::string& output);

/// The closing line for scripts: "npixel N nbandsyear K nyears Y firstyear F" (F is NA when
/// the input has no time axis).
std::string summary_line(const ImportSummary& s);

}  // namespace interop::importer
