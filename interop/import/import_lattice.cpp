#include "import_lattice.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "tool.h"

namespace interop::importer {

namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

std::string degrees(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

// Stored coordinates (float or double, written with a few digits) sit this close to the
// lattice: 0.005 degrees, or a hundredth of a cell on lattices finer than half a degree.
double coord_tol(double res) { return std::min(0.005, res / 100); }

// Cells finer than this cannot be told apart by grid records (hundredths of a degree).
constexpr double kFinest = 1.0 / 60.0;

int64_t round_half_up(double x) { return static_cast<int64_t>(std::floor(x + 0.5)); }

// The smallest step between neighbours (longitudes modulo 360); over a monotone axis the mean
// step instead, which the rounding of single stored coordinates does not blur.
std::optional<double> axis_spacing(const std::vector<double>& v, bool lon) {
  std::vector<double> steps;
  double best = std::numeric_limits<double>::infinity();
  for (size_t i = 1; i < v.size(); ++i) {
    double d = v[i] - v[i - 1];
    if (lon) d -= 360.0 * std::round(d / 360.0);
    steps.push_back(d);
    if (d != 0 && std::fabs(d) < best) best = std::fabs(d);
  }
  if (!std::isfinite(best)) return std::nullopt;
  double span = 0, cells = 0;
  for (const double d : steps) {
    if (d == 0 || (d > 0) != (steps[0] > 0)) return best;
    span += d;
    cells += std::round(std::fabs(d) / best);
  }
  return std::fabs(span) / cells;
}

// A resolution import can write: grid records tell cells apart down to 1/60 degree.
void check_resolution(double res, const SourceInfo& in) {
  if (res < kFinest * (1 - 1e-9) || res > 180.0)
    throw ToolError(quoted(in.path) + " has cells of " + degrees(res) +
                    " degrees: import takes cells of 1/60 to 180 degrees (grid files hold "
                    "hundredths of a degree, which tell no finer cells apart)");
}

// The CDO grid to remap a node-registered file onto: global_R (cell centres from -180 + R/2)
// when R divides 180 and reads short, else rNLONxNLAT.
std::string remap_grid(double res) {
  const std::string r = format_degrees(res);
  const double rows = 180.0 / res;
  if (r.size() <= 6 && r.find('/') == std::string::npos &&
      std::fabs(rows - std::round(rows)) < 1e-9)
    return "global_" + r;
  return "r" + std::to_string(std::llround(360.0 / res)) + "x" +
         std::to_string(std::llround(180.0 / res));
}

[[noreturn]] void refuse_node_registered(const SourceInfo& in, double res) {
  throw ToolError(quoted(in.path) + " is a node-registered grid: its latitudes lie on whole " +
                  "multiples of its " + format_degrees(res) +
                  " degree spacing from the poles, so cells centred on them would reach past "
                  "the poles; import takes cell-centred grids: remap it first, e.g. cdo "
                  "remapcon," +
                  remap_grid(res) + " " + in.path + " OUT.nc");
}

// The west (north) edge of column (row) 0 of the lattice through `first`, a coordinate of a
// cell centre: the default when it fits within the tolerance, exact when res is a fraction.
double lattice_edge(double first, double res, bool lon) {
  const double tol = coord_tol(res);
  const double x = lon ? (first - res / 2 + 180.0) / res : (first + res / 2 - 90.0) / res;
  const double f = x - std::floor(x);  // in cells past the default edge, [0, 1)
  const double base = lon ? -180.0 : 90.0;
  if (f * res <= tol || (1 - f) * res <= tol) return base;
  double edge = lon ? base - (1 - f) * res : base + f * res;
  if (const std::optional<Fraction> q = exact_fraction(res)) {
    const double n = 2.0 * static_cast<double>(q->den);
    const double k = std::round(edge * n);
    if (std::fabs(edge - k / n) <= tol) edge = k / n;
  }
  return edge;
}

}  // namespace

std::optional<double> file_spacing(const SourceInfo& in) {
  if (auto s = axis_spacing(in.lon, true)) return s;
  return axis_spacing(in.lat, false);
}

bool same_resolution(double a, double b) { return std::fabs(a - b) <= 1e-5 * b; }

std::optional<GlobalGrid> file_lattice(const SourceInfo& in, std::optional<double> res) {
  const std::optional<double> spacing = file_spacing(in);
  if (res && spacing && !same_resolution(*spacing, *res))
    throw ToolError("--res " + degrees(*res) + " does not match the " +
                    degrees(snap_resolution(*spacing, 1e-5)) + " degree cells of " +
                    quoted(in.path));
  if (!res && !spacing) return std::nullopt;
  const double r = res ? *res : snap_resolution(*spacing, 1e-5);
  check_resolution(r, in);
  const double tol = coord_tol(r);
  for (const double lat : in.lat) {
    if (!(std::fabs(lat) <= 90.0 + tol))
      throw ToolError("latitude " + degrees(lat) + " of " + quoted(in.path) +
                      " lies off the globe");
    if (std::fabs(lat) >= 90.0 - tol) refuse_node_registered(in, r);
  }
  for (const double lon : in.lon)
    if (!std::isfinite(lon))
      throw ToolError("longitude " + degrees(lon) + " of " + quoted(in.path) + " is not a number");
  const double west = lattice_edge(in.lon[0], r, true);
  const double north = lattice_edge(in.lat[0], r, false);
  if (north - r / 2 >= 90.0 - tol) refuse_node_registered(in, r);
  return GlobalGrid(r, Origin{west, north});
}

FilePlacement place_file(const SourceInfo& in, const GlobalGrid& g) {
  const double tol = coord_tol(g.res);
  const auto misfit = [&](double coord, bool lat) {
    return ToolError(std::string(lat ? "latitude " : "longitude ") + degrees(coord) + " of " +
                     quoted(in.path) + " is not the centre of a cell of the " + lattice_text(g) +
                     " (" + (lat ? degrees(g.north) + " - " : degrees(g.west) + " + ") +
                     degrees(g.res / 2) + " + k * " + degrees(g.res) + ")");
  };
  FilePlacement fp;
  fp.file_row.assign(static_cast<size_t>(g.nlat), -1);
  for (size_t i = 0; i < in.lat.size(); ++i) {
    const double lat = in.lat[i];
    const int64_t k = round_half_up((g.north - lat) / g.res - 0.5);
    if (k < 0 || k >= g.nlat || !(std::fabs(g.lat_centre(k) - lat) <= tol)) throw misfit(lat, true);
    int64_t& slot = fp.file_row[static_cast<size_t>(k)];
    if (slot >= 0)
      throw ToolError(quoted(in.path) + " has two rows at latitude " + degrees(lat) + " (indexes " +
                      std::to_string(slot) + " and " + std::to_string(i) + ")");
    slot = static_cast<int64_t>(i);
  }
  fp.file_col.assign(static_cast<size_t>(g.nlon), -1);
  for (size_t i = 0; i < in.lon.size(); ++i) {
    const double lon = in.lon[i];
    const double wrapped = lon - 360.0 * std::floor((lon - g.west) / 360.0);
    const int64_t k = round_half_up((wrapped - g.west) / g.res - 0.5);
    if (k < 0 || k >= g.nlon || !(std::fabs(g.lon_centre(k) - wrapped) <= tol))
      throw misfit(lon, false);
    int64_t& slot = fp.file_col[static_cast<size_t>(k)];
    if (slot >= 0) {
      const double apart = std::fabs(lon - in.lon[static_cast<size_t>(slot)]);
      if (std::fabs(apart - 360.0) > tol)
        throw ToolError(quoted(in.path) + " has two columns at longitude " + degrees(lon) +
                        " (indexes " + std::to_string(slot) + " and " + std::to_string(i) + ")");
      fp.repeats.push_back({static_cast<int64_t>(i), slot});
      continue;
    }
    slot = static_cast<int64_t>(i);
  }
  return fp;
}

}  // namespace interop::importer
