// rastertools map: the work of the command, apart from its command line (main.cpp), so that
// tests can call the steps.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "grid.h"
#include "render.h"
#include "sidecar.h"
#include "tool.h"

namespace maps {

struct MapOptions {
  std::string raw;
  std::string out;                   ///< a PNG name; with --bands a pattern such as map_%03d.png
  std::optional<int64_t> band;       ///< --band
  std::optional<std::string> bands;  ///< --bands A-B
  interop::RasterOptions raster;     ///< --grid, --res, --convention, --npixel, --units
  std::vector<double> extent;        ///< W E S N, empty: the cells that hold pixels
  int scale = 0;                     ///< pixels per cell; 0: chosen from the map's width
  std::string cmap;                  ///< empty: viridis, or rdbu with --center
  std::optional<double> center;
  std::vector<double> range;  ///< MIN MAX, empty: from percentiles
  std::vector<double> percentiles{2, 98};
  std::optional<std::string> title;
  bool common_range = false;             ///< --common-range: one range for all maps of --bands
  std::optional<std::string> graticule;  ///< --graticule[=STEP]; "0": at the labelled ticks
};

/// The cells of the full grid that a map shows: rows r0..r1 and columns c0..c1, inclusive.
struct Window {
  int64_t r0 = 0, r1 = 0, c0 = 0, c1 = 0;
  int nrow() const { return static_cast<int>(r1 - r0 + 1); }
  int ncol() const { return static_cast<int>(c1 - c0 + 1); }
};

/// The cells whose centres lie inside W E S N (the whole grid for an empty extent); a usage
/// ToolError for an extent off the globe, reversed, or too small to hold a cell.
Window window_of(const interop::GlobalGrid& g, const std::vector<double>& extent);

/// The rows and columns that hold the pixels at `cells` (row * nlon + col); all columns when
/// the pixels leave less than global_gap_degrees of longitude empty, so that a global run is
/// drawn as the globe.
Window pixel_window(const interop::GlobalGrid& g, const std::vector<int64_t>& cells);
inline constexpr double global_gap_degrees = 30;

/// The output name of band `band`: `pattern` with its one integer conversion (%d, %03d ...)
/// filled in. check_pattern: a usage ToolError unless the pattern holds exactly one.
void check_pattern(const std::string& pattern);
std::string output_name(const std::string& pattern, int64_t band);

/// The title: the variable's long name or name (else the file's name), the band and, when the
/// sidecar gives them, the year and band of the year.
std::string default_title(const std::string& raw, const interop::RasterOptions& r, int64_t band);

/// Runs the command: one PNG per band, one line per map on `report` once all are written (on
/// std::cerr instead of std::cout when a map goes to standard output). Returns the exit status.
int run_map(const MapOptions& o, std::ostream& report);
/// rastertools map with this command line (the program's entry); returns the exit status.
int run_map(int argc, char** argv);

}  // namespace maps
