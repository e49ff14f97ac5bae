#include "grid.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "rasterfile.h"
#include "tool.h"

namespace interop {

namespace {

// Records hold hundredths of a degree, so a coordinate on a 1/12 or 1/6 degree line is off by
// up to 1/300 degree; 0.005 accepts that and nothing a neighbouring line could claim.
constexpr double kTolerance = 0.005 + 1e-9;

constexpr double kCandidates[] = {2.0, 1.0, 0.5, 0.25, 1.0 / 6.0, 1.0 / 12.0};

// Whether x lies within kTolerance of offset + k * res for an integer k.
bool on_lattice(double x, double offset, double res) {
  const double k = (x - offset) / res;
  return std::fabs(k - std::round(k)) * res <= kTolerance;
}

bool lat_on_centre(double lat, double res) { return on_lattice(lat, 90.0 - res / 2, res); }
bool lat_on_edge(double lat, double res) { return on_lattice(lat, 90.0, res); }

std::string pixel_text(int64_t p, GridPoint g) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "pixel %lld (lon %.2f, lat %.2f)", static_cast<long long>(p),
                g.lon(), g.lat());
  return buf;
}

}  // namespace

const char* convention_name(Convention c) {
  return c == Convention::centre ? "centre" : "northedge";
}

Convention parse_convention(const std::string& text) {
  if (strcasecmp(text.c_str(), "centre") == 0 || strcasecmp(text.c_str(), "center") == 0)
    return Convention::centre;
  if (strcasecmp(text.c_str(), "northedge") == 0) return Convention::northedge;
  throw usage_error("unknown grid convention '" + text + "': give centre or northedge");
}

double parse_resolution(const std::string& text) {
  const size_t slash = text.find('/');
  const std::string num = text.substr(0, slash);
  const std::string den = slash == std::string::npos ? "1" : text.substr(slash + 1);
  const std::string bad = "bad resolution '" + text + "': give degrees such as 0.5, 2 or 1/12";
  double res = 0;
  try {
    res = parse_number(num, "--res", 0, 360) / parse_number(den, "--res", 0, 1e6);
  } catch (const ToolError&) {
    throw usage_error(bad);
  }
  if (!(res >= kMinResolution && res <= 180.0))
    throw usage_error(bad + " (from 1/1000 to 180 degrees)");
  return res;
}

int64_t grid_file_pixels(const std::string& path) {
  check_input_file(path, "grid file ");
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));
  if (size == 0) throw ToolError("grid file " + path + " is empty");
  if (size % 4 != 0)
    throw ToolError("grid file " + path + " has " + std::to_string(size) +
                    " bytes, not a whole number of 4-byte records");
  return size / 4;
}

std::vector<GridPoint> read_grid(const std::string& path) {
  const int64_t size = grid_file_pixels(path) * 4;
  raster::InFile f = raster::InFile::try_open(path.c_str());
  if (!f.is_open()) throw ToolError("cannot open grid file " + path + ": " + std::strerror(errno));
  std::vector<int16_t> raw(static_cast<size_t>(size / 2));
  int64_t got = 0;
  if (raster::pread_full(fileno(f.get()), raw.data(), size, 0, &got) != raster::PreadEnd::whole)
    throw ToolError("cannot read grid file " + path);
  std::vector<GridPoint> points(static_cast<size_t>(size / 4));
  for (size_t i = 0; i < points.size(); ++i) points[i] = GridPoint{raw[2 * i], raw[2 * i + 1]};
  return points;
}

void write_grid(const std::string& path, std::span<const GridPoint> points) {
  OutputTarget out(path, "grid file", true);
  std::vector<int16_t> raw(points.size() * 2);
  for (size_t i = 0; i < points.size(); ++i) {
    raw[2 * i] = points[i].lon100;
    raw[2 * i + 1] = points[i].lat100;
  }
  out.write(raw.data(), raw.size() * 2);
  out.commit();
}

std::span<const double> candidate_resolutions() { return kCandidates; }

std::optional<double> infer_resolution(std::span<const GridPoint> points) {
  if (points.empty()) return std::nullopt;
  for (const double res : kCandidates) {
    if (first_longitude_misfit(points, res) < 0) return res;
  }
  return std::nullopt;
}

int64_t first_longitude_misfit(std::span<const GridPoint> points, double res) {
  for (size_t i = 0; i < points.size(); ++i)
    if (!on_lattice(points[i].lon(), -180.0 + res / 2, res)) return static_cast<int64_t>(i);
  return -1;
}

ConventionFit fit_convention(std::span<const GridPoint> points, double res) {
  ConventionFit fit;
  for (size_t i = 0; i < points.size(); ++i) {
    const bool centre = lat_on_centre(points[i].lat(), res);
    const bool edge = lat_on_edge(points[i].lat(), res);
    const std::optional<Convention> here = centre ? std::optional(Convention::centre)
                                           : edge ? std::optional(Convention::northedge)
                                                  : std::nullopt;
    if (i == 0) fit.convention = here;
    if (!here || here != fit.convention) {
      fit.convention = std::nullopt;
      fit.misfit = static_cast<int64_t>(i);
      return fit;
    }
  }
  return fit;
}

Convention infer_convention(std::span<const GridPoint> points, double res,
                            const std::string& grid_path) {
  const ConventionFit fit = fit_convention(points, res);
  if (fit.convention) return *fit.convention;
  char resbuf[32];
  std::snprintf(resbuf, sizeof resbuf, "%g", res);
  const GridPoint p = points[static_cast<size_t>(fit.misfit)];
  if (std::fabs(p.lat()) > 90.0)
    throw ToolError("grid file " + grid_path + ": " + pixel_text(fit.misfit, p) +
                    " lies off the globe (latitudes run from -90 to 90)");
  const char* what = lat_on_centre(p.lat(), res) || lat_on_edge(p.lat(), res)
                         ? "fits the other convention than pixel 0"
                         : "lies neither on a cell centre nor on a cell edge";
  throw ToolError("grid file " + grid_path + ": the latitude of " + pixel_text(fit.misfit, p) +
                  " " + what + " of a " + resbuf + " degree grid; give --convention");
}

GlobalGrid::GlobalGrid(double res_)
    : res(res_),
      nlat(static_cast<int64_t>(std::lround(180.0 / res_))),
      nlon(static_cast<int64_t>(std::lround(360.0 / res_))) {}

bool cell_of(const GlobalGrid& g, Convention c, GridPoint p, int64_t* row, int64_t* col) {
  const double x = (p.lon() + 180.0) / g.res - 0.5;
  const double y = (90.0 - p.lat()) / g.res - (c == Convention::centre ? 0.5 : 0.0);
  *col = static_cast<int64_t>(std::lround(x));
  *row = static_cast<int64_t>(std::lround(y));
  return *col >= 0 && *col < g.nlon && *row >= 0 && *row < g.nlat;
}

std::vector<int64_t> place_pixels(const GlobalGrid& g, Convention c,
                                  std::span<const GridPoint> points) {
  std::vector<int64_t> cells(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    int64_t row = 0;
    int64_t col = 0;
    cells[i] = cell_of(g, c, points[i], &row, &col) ? row * g.nlon + col : -1;
  }
  return cells;
}

PlacementCheck check_placement(const GlobalGrid& g, std::span<const int64_t> cells) {
  PlacementCheck check;
  std::vector<int64_t> owner(static_cast<size_t>(g.ncell()), -1);
  for (size_t i = 0; i < cells.size(); ++i) {
    const int64_t p = static_cast<int64_t>(i);
    if (cells[i] < 0) {
      if (check.off_globe++ == 0) check.first_off_globe = p;
      continue;
    }
    int64_t& o = owner[static_cast<size_t>(cells[i])];
    if (o >= 0) {
      if (check.duplicates++ == 0) {
        check.first_duplicate = p;
        check.first_duplicate_of = o;
      }
      continue;
    }
    o = p;
  }
  return check;
}

PlacedGrid place_grid(const std::string& path, std::optional<double> res,
                      std::optional<Convention> convention) {
  PlacedGrid pg;
  pg.path = path;
  pg.points = read_grid(path);
  if (!res) res = infer_resolution(pg.points);
  if (!res)
    throw ToolError("grid file " + path +
                    ": its longitudes fit none of the resolutions 2, 1, 0.5, 0.25, 1/6, 1/12 "
                    "degrees; give --res");
  char resbuf[32];
  std::snprintf(resbuf, sizeof resbuf, "%g", *res);
  const int64_t lon_misfit = first_longitude_misfit(pg.points, *res);
  if (lon_misfit >= 0)
    throw ToolError("grid file " + path + ": the longitude of " +
                    pixel_text(lon_misfit, pg.points[static_cast<size_t>(lon_misfit)]) +
                    " is not a cell centre of a " + resbuf + " degree grid");
  pg.global = GlobalGrid(*res);
  pg.convention = convention ? *convention : infer_convention(pg.points, *res, path);
  pg.cells = place_pixels(pg.global, pg.convention, pg.points);
  const PlacementCheck check = check_placement(pg.global, pg.cells);
  if (check.off_globe > 0)
    throw ToolError(
        "grid file " + path + ": " + std::to_string(check.off_globe) +
        " pixel(s) fall off the globe, the first " +
        pixel_text(check.first_off_globe, pg.points[static_cast<size_t>(check.first_off_globe)]));
  if (check.duplicates > 0)
    throw ToolError(
        "grid file " + path + ": " + std::to_string(check.duplicates) +
        " pixel(s) share a cell with an earlier pixel, the first " +
        pixel_text(check.first_duplicate, pg.points[static_cast<size_t>(check.first_duplicate)]) +
        " with pixel " + std::to_string(check.first_duplicate_of));
  return pg;
}

}  // namespace interop
