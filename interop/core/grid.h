// Grid files (one int16 LE pair lon*100, lat*100 per pixel) and their place on the globe: the
// lattice (resolution and origin) and latitude convention a grid fits, and the cell of the full
// regular grid (rows from the row holding 90N southwards, columns from the column holding 180W
// eastwards) that holds each pixel. docs/import.md describes lattices for users.
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

/// A number of degrees written as a fraction P/Q: P / double(Q) is the double meant.
struct Fraction {
  int64_t num = 0;
  int64_t den = 1;
};
/// The fraction with the smallest denominator Q <= 3600 for which P / double(Q) is exactly `x`;
/// nullopt when there is none (x is no fraction of whole degrees over a small Q).
std::optional<Fraction> exact_fraction(double x);
/// Degrees as sidecars hold them: "P/Q" when `x` is exactly such a fraction and Q has a prime
/// factor other than 2 and 5 ("2/3", "1/12"), else the shortest decimal that reads back as `x`
/// ("0.5", "-180.5").
std::string format_degrees(double x);
/// Degrees written by format_degrees (or any decimal, or "P/Q"); nullopt for other text.
std::optional<double> parse_degrees(const std::string& text);
/// The resolution a cell spacing measured on stored coordinates stands for: the fraction P/Q
/// with the smallest Q <= 3600 within `rel_tol` of it (relative), else the spacing itself.
double snap_resolution(double spacing, double rel_tol);

/// The pixel count of a grid file from its size; a ToolError names the file when it is missing,
/// not a regular file, empty or its size is not a whole number of 4-byte records.
int64_t grid_file_pixels(const std::string& path);
/// Reads a grid file; a ToolError as grid_file_pixels.
std::vector<GridPoint> read_grid(const std::string& path);
/// Writes a grid file (an OutputTarget: a temporary name renamed, or a device or FIFO written
/// through); every write and close checked.
void write_grid(const std::string& path, std::span<const GridPoint> points);

/// Where a lattice starts: the western edge of column 0 and the northern edge of row 0, in
/// degrees. Any west and north name a lattice; GlobalGrid brings them into its ranges.
struct Origin {
  double west = -180.0;
  double north = 90.0;
  bool operator==(const Origin&) const = default;
};

/// The full regular grid of a lattice: square cells of `res` degrees, column 0 the column that
/// holds longitude -180 (west in (-180 - res, -180]), row 0 the row that holds latitude 90
/// (north in [90, 90 + res / 2): a lattice with a cell centre on or past a pole is refused).
/// Coordinates are exact: when res, west and north are fractions of a small common
/// denominator, a centre or an edge is the exact fraction rounded once to double.
struct GlobalGrid {
  double res = 0.5;
  double west = -180.0;
  double north = 90.0;
  int64_t nlat = 360;  ///< rows whose centre lies inside (-90, 90): round(180 / res) for north 90
  int64_t nlon = 720;  ///< round(360 / res) columns
  /// A ToolError when the origin puts a cell centre on or past a pole, or res is not positive.
  explicit GlobalGrid(double res_, Origin origin = {});
  Origin origin() const { return {west, north}; }
  bool default_origin() const { return west == -180.0 && north == 90.0; }
  double lon_centre(int64_t col) const;
  double lat_centre(int64_t row) const;
  double lon_edge(int64_t col) const;  ///< western edge of column col (col nlon: the east end)
  double lat_edge(int64_t row) const;  ///< northern edge of row row (row nlat: the south end)
  int64_t ncell() const { return nlat * nlon; }

 private:
  // The lattice in integers over a common denominator (exact when den > 0).
  double den_ = 0, west_num_ = 0, north_num_ = 0, half_res_num_ = 0;
};

/// "1 degree grid", "2/3 degree grid" or "1 degree grid from (-180.5, 90)" (the origin only when
/// it is not the default), for messages.
std::string lattice_text(const GlobalGrid& g);

/// Candidate resolutions for inference, largest first: 2, 1, 0.5, 0.25, 1/6, 1/12 degrees.
std::span<const double> candidate_resolutions();
/// The largest candidate resolution for which every longitude lies on a cell centre
/// -180 + res/2 + k*res within 0.005 degrees; nullopt when none fits.
std::optional<double> infer_resolution(std::span<const GridPoint> points);
/// The lattice every longitude fits (a cell centre within 0.005 degrees): at `res` when given,
/// else the largest candidate; on `origin` when given, else on the default origin, else (with
/// `res` not given) with the centres on whole multiples of the resolution (west -180 - res / 2,
/// as CDO's r360x180). Its north is origin's, or 90. nullopt when none fits.
std::optional<GlobalGrid> fit_lattice(std::span<const GridPoint> points, std::optional<double> res,
                                      std::optional<Origin> origin);

/// The first pixel whose longitude is not a cell centre of `g`, or -1.
int64_t first_longitude_misfit(std::span<const GridPoint> points, const GlobalGrid& g);
/// The same on the default lattice of `res` degrees.
int64_t first_longitude_misfit(std::span<const GridPoint> points, double res);

/// Which convention the latitudes fit on a lattice: all on cell centres, all on northern cell
/// edges, or neither (then `misfit` is the first pixel that breaks the pattern of pixel 0, and
/// `off_globe` tells whether its latitude lies off the globe).
struct ConventionFit {
  std::optional<Convention> convention;
  int64_t misfit = -1;
  bool off_globe = false;
};
ConventionFit fit_convention(std::span<const GridPoint> points, const GlobalGrid& g);
/// The same on the default lattice of `res` degrees.
ConventionFit fit_convention(std::span<const GridPoint> points, double res);
/// fit_convention, or a ToolError naming `grid_path` and the first pixel that fits neither.
Convention infer_convention(std::span<const GridPoint> points, const GlobalGrid& g,
                            const std::string& grid_path);
Convention infer_convention(std::span<const GridPoint> points, double res,
                            const std::string& grid_path);

/// Row and column of the cell that holds a point (its longitude wrapped into the lattice's 360
/// degrees); false when it lies off the globe.
bool cell_of(const GlobalGrid& g, Convention c, GridPoint p, int64_t* row, int64_t* col);
/// The grid record of a cell: its centre's longitude wrapped into [-180, 180), its centre's or
/// northern edge's latitude, in hundredths of a degree.
GridPoint point_of_cell(const GlobalGrid& g, Convention c, int64_t row, int64_t col);

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

/// A grid file read and placed: the resolution, lattice origin and convention come from the
/// caller when given, else inferred (fit_lattice); off-globe and shared cells are ToolErrors
/// naming the file and pixel.
struct PlacedGrid {
  std::string path;
  std::vector<GridPoint> points;
  GlobalGrid global{0.5};
  Convention convention = Convention::northedge;
  std::vector<int64_t> cells;  ///< per pixel, row * nlon + col
};
PlacedGrid place_grid(const std::string& path, std::optional<double> res,
                      std::optional<Convention> convention,
                      std::optional<Origin> origin = std::nullopt);

}  // namespace interop
