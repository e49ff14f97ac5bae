// Grid files (one int16 LE pair lon*100, lat*100 per pixel) and their place on the globe: the
// resolution and latitude convention a grid fits, and the cell of the full regular grid
// (rows from 90N southwards, columns from 180W eastwards) that holds each pixel.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace interop {

/// One grid record in hundredths of a degree: longitude of the cell centre, then latitude.
struct GridPoint {
  int16_t lon100 = 0;
  int16_t lat100 = 0;
  double lon() const { return lon100 / 100.0; }
  double lat() const { return lat100 / 100.0; }
};

/// What a record's latitude means: the cell centre, or the cell's northern edge.
enum class Convention { centre, northedge };

/// "centre" or "northedge".
const char* convention_name(Convention c);
/// The convention named `text` (case-insensitive); a usage ToolError otherwise.
Convention parse_convention(const std::string& text);

/// The finest resolution the tools take, in degrees.
inline constexpr double kMinResolution = 0.001;

/// A resolution in degrees from the command line: "0.5", "2" or a fraction such as "1/12"
/// (decimal numbers, parsed strictly); a usage ToolError unless it is kMinResolution to 180.
double parse_resolution(const std::string& text);

/// The pixel count of a grid file from its size; a ToolError names the file when it is missing,
/// not a regular file, empty or its size is not a whole number of 4-byte records.
int64_t grid_file_pixels(const std::string& path);
/// Reads a grid file; a ToolError as grid_file_pixels.
std::vector<GridPoint> read_grid(const std::string& path);
/// Writes a grid file (an OutputTarget: a temporary name renamed, or a device or FIFO written
/// through); every write and close checked.
void write_grid(const std::string& path, std::span<const GridPoint> points);

/// Candidate resolutions for inference, largest first: 2, 1, 0.5, 0.25, 1/6, 1/12 degrees.
std::span<const double> candidate_resolutions();
/// The largest candidate resolution for which every longitude lies on a cell centre
/// -180 + res/2 + k*res within 0.005 degrees; nullopt when none fits.
std::optional<double> infer_resolution(std::span<const GridPoint> points);

/// The first pixel whose longitude is not a cell centre of a `res` degree grid, or -1.
int64_t first_longitude_misfit(std::span<const GridPoint> points, double res);

/// Which convention the latitudes fit at `res`: all on cell centres, all on cell edges, or
/// neither (then `misfit` is the first pixel that breaks the pattern of pixel 0).
struct ConventionFit {
  std::optional<Convention> convention;
  int64_t misfit = -1;
};
ConventionFit fit_convention(std::span<const GridPoint> points, double res);
/// fit_convention, or a ToolError naming `grid_path` and the first pixel that fits neither.
Convention infer_convention(std::span<const GridPoint> points, double res,
                            const std::string& grid_path);

/// The full regular grid of `res` degrees.
struct GlobalGrid {
  double res = 0.5;
  int64_t nlat = 360;  ///< round(180 / res) rows, row 0 spanning 90N .. 90N - res
  int64_t nlon = 720;  ///< round(360 / res) columns, column 0 spanning 180W .. 180W + res
  explicit GlobalGrid(double res_);
  double lon_centre(int64_t col) const { return -180.0 + (static_cast<double>(col) + 0.5) * res; }
  double lat_centre(int64_t row) const { return 90.0 - (static_cast<double>(row) + 0.5) * res; }
  int64_t ncell() const { return nlat * nlon; }
};

/// Row and column of the cell that holds a point; false when it lies off the globe.
bool cell_of(const GlobalGrid& g, Convention c, GridPoint p, int64_t* row, int64_t* col);

/// Each pixel's cell index row * nlon + col, or -1 for a pixel off the globe.
std::vector<int64_t> place_pixels(const GlobalGrid& g, Convention c,
                                  std::span<const GridPoint> points);

/// Pixels off the globe and pixels that share a cell with an earlier pixel (first of each kind
/// kept, -1 when none).
struct PlacementCheck {
  int64_t off_globe = 0;
  int64_t first_off_globe = -1;
  int64_t duplicates = 0;
  int64_t first_duplicate = -1;  ///< the later pixel of the first shared cell
  int64_t first_duplicate_of = -1;
};
PlacementCheck check_placement(const GlobalGrid& g, std::span<const int64_t> cells);

/// A grid file read and placed: the resolution and convention come from the caller when given,
/// else inferred; off-globe and shared cells are ToolErrors naming the file and pixel.
struct PlacedGrid {
  std::string path;
  std::vector<GridPoint> points;
  GlobalGrid global{0.5};
  Convention convention = Convention::northedge;
  std::vector<int64_t> cells;  ///< per pixel, row * nlon + col
};
PlacedGrid place_grid(const std::string& path, std::optional<double> res,
                      std::optional<Convention> convention);

}  // namespace interop
