#include "grid.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>

#include "rasterfile.h"
#include "tool.h"

namespace interop {

namespace {

// Records hold hundredths of a degree, so a coordinate on a 1/12 or 1/6 degree line is off by
// up to 1/300 degree; 0.005 accepts that and nothing a neighbouring line could claim.
constexpr double kTolerance = 0.005 + 1e-9;

constexpr double kCandidates[] = {2.0, 1.0, 0.5, 0.25, 1.0 / 6.0, 1.0 / 12.0};

// Denominators tried for fractions of a degree: 3600 holds arc seconds.
constexpr int64_t kMaxDenominator = 3600;
// Integers of this size or less are exact in double, with room for sums of a few of them.
constexpr int64_t kExactLimit = int64_t{1} << 50;

// Whether x lies within kTolerance of offset + k * res for an integer k.
bool on_lattice(double x, double offset, double res) {
  const double k = (x - offset) / res;
  return std::fabs(k - std::round(k)) * res <= kTolerance;
}

std::string pixel_text(int64_t p, GridPoint g) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "pixel %lld (lon %.2f, lat %.2f)", static_cast<long long>(p),
                g.lon(), g.lat());
  return buf;
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Half-up rounding, as the grid readers in R and Python round.
int64_t round_half_up(double x) { return static_cast<int64_t>(std::floor(x + 0.5)); }

// The longitude wrapped into [west, west + 360).
double wrap_longitude(double lon, double west) {
  return lon - 360.0 * std::floor((lon - west) / 360.0);
}

std::string shortest_decimal(double x) {
  char t[400];
  // Plain digits for the sizes of degrees (90, not 9e+01); exponents only for the very small.
  if (x == 0 || (std::fabs(x) >= 1e-4 && std::fabs(x) < 1e15)) {
    for (int decimals = 0; decimals <= 24; ++decimals) {
      std::snprintf(t, sizeof t, "%.*f", decimals, x);
      if (std::strtod(t, nullptr) == x) return t;
    }
  }
  for (int prec = 1; prec <= 17; ++prec) {
    std::snprintf(t, sizeof t, "%.*g", prec, x);
    if (std::strtod(t, nullptr) == x) return t;
  }
  std::snprintf(t, sizeof t, "%.17g", x);
  return t;
}

// -180 - res / 2, exact when res is a fraction: the west of a lattice whose centres lie on
// whole multiples of res.
double half_shifted_west(double res) {
  const std::optional<Fraction> f = exact_fraction(res);
  if (!f) return -180.0 - res / 2;
  return static_cast<double>(-360 * f->den - f->num) / static_cast<double>(2 * f->den);
}

}  // namespace

std::optional<Fraction> exact_fraction(double x) {
  if (!std::isfinite(x) || std::fabs(x) > 1e9) return std::nullopt;
  for (int64_t q = 1; q <= kMaxDenominator; ++q) {
    const double p = std::round(x * static_cast<double>(q));
    if (p / static_cast<double>(q) == x) return Fraction{static_cast<int64_t>(p), q};
  }
  return std::nullopt;
}

std::string format_degrees(double x) {
  if (const std::optional<Fraction> f = exact_fraction(x)) {
    int64_t q = f->den;
    while (q % 2 == 0) q /= 2;
    while (q % 5 == 0) q /= 5;
    if (q != 1) return std::to_string(f->num) + "/" + std::to_string(f->den);
  }
  return shortest_decimal(x);
}

std::optional<double> parse_degrees(const std::string& text) {
  const auto number = [](const std::string& t) -> std::optional<double> {
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (t.empty() || std::isspace(static_cast<unsigned char>(t[0])) || *end != '\0' ||
        !std::isfinite(v))
      return std::nullopt;
    return v;
  };
  const size_t slash = text.find('/');
  if (slash == std::string::npos) return number(text);
  const std::optional<double> p = number(text.substr(0, slash));
  const std::optional<double> q = number(text.substr(slash + 1));
  if (!p || !q || *q == 0.0 || !std::isfinite(*p / *q)) return std::nullopt;
  return *p / *q;
}

double snap_resolution(double spacing, double rel_tol) {
  for (int64_t q = 1; q <= kMaxDenominator; ++q) {
    const double p = std::round(spacing * static_cast<double>(q));
    if (p > 0 && std::fabs(p / static_cast<double>(q) - spacing) <= rel_tol * spacing)
      return p / static_cast<double>(q);
  }
  return spacing;
}

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

std::optional<GlobalGrid> fit_lattice(std::span<const GridPoint> points, std::optional<double> res,
                                      std::optional<Origin> origin) {
  if (points.empty()) return std::nullopt;
  std::vector<double> resolutions(std::begin(kCandidates), std::end(kCandidates));
  if (res) resolutions = {*res};
  const auto fit = [&](double r, Origin o) -> std::optional<GlobalGrid> {
    const GlobalGrid g(r, o);
    if (first_longitude_misfit(points, g) < 0) return g;
    return std::nullopt;
  };
  if (origin) {
    for (const double r : resolutions)
      if (auto g = fit(r, *origin)) return g;
    return std::nullopt;
  }
  for (const double r : resolutions)
    if (auto g = fit(r, Origin{})) return g;
  // A resolution given must fit on the default origin: a 2 degree grid (centres on odd whole
  // degrees) is not taken for a 1 degree one with centres on whole degrees.
  if (res) return std::nullopt;
  for (const double r : resolutions)
    if (auto g = fit(r, Origin{half_shifted_west(r), 90.0})) return g;
  return std::nullopt;
}

int64_t first_longitude_misfit(std::span<const GridPoint> points, const GlobalGrid& g) {
  for (size_t i = 0; i < points.size(); ++i) {
    const double lon = wrap_longitude(points[i].lon(), g.west);
    const int64_t col = round_half_up((lon - g.west) / g.res - 0.5);
    if (std::fabs(lon - g.lon_centre(col)) > kTolerance) return static_cast<int64_t>(i);
  }
  return -1;
}

int64_t first_longitude_misfit(std::span<const GridPoint> points, double res) {
  return first_longitude_misfit(points, GlobalGrid(res));
}

ConventionFit fit_convention(std::span<const GridPoint> points, const GlobalGrid& g) {
  ConventionFit fit;
  const auto row_in = [&](double rows) {
    const int64_t r = round_half_up(rows);
    return r >= 0 && r < g.nlat;
  };
  for (size_t i = 0; i < points.size(); ++i) {
    const double lat = points[i].lat();
    const double rows = (g.north - lat) / g.res;  // from row 0's northern edge
    const bool on_centre = on_lattice(lat, g.north - g.res / 2, g.res);
    const bool on_edge = on_lattice(lat, g.north, g.res);
    const bool centre = on_centre && row_in(rows - 0.5);
    const bool edge = on_edge && row_in(rows);
    const std::optional<Convention> here = centre ? std::optional(Convention::centre)
                                           : edge ? std::optional(Convention::northedge)
                                                  : std::nullopt;
    if (i == 0) fit.convention = here;
    if (!here || here != fit.convention) {
      fit.convention = std::nullopt;
      fit.misfit = static_cast<int64_t>(i);
      fit.off_globe = !here && (on_centre || on_edge || lat > 90.0 || lat < -90.0);
      return fit;
    }
  }
  return fit;
}

ConventionFit fit_convention(std::span<const GridPoint> points, double res) {
  return fit_convention(points, GlobalGrid(res));
}

Convention infer_convention(std::span<const GridPoint> points, const GlobalGrid& g,
                            const std::string& grid_path) {
  const ConventionFit fit = fit_convention(points, g);
  if (fit.convention) return *fit.convention;
  const GridPoint p = points[static_cast<size_t>(fit.misfit)];
  if (fit.off_globe)
    throw ToolError("grid file " + grid_path + ": " + pixel_text(fit.misfit, p) +
                    " lies off the globe");
  const char* what =
      on_lattice(p.lat(), g.north - g.res / 2, g.res) || on_lattice(p.lat(), g.north, g.res)
          ? "fits the other convention than pixel 0"
          : "lies neither on a cell centre nor on a cell edge";
  throw ToolError("grid file " + grid_path + ": the latitude of " + pixel_text(fit.misfit, p) +
                  " " + what + " of a " + lattice_text(g) + "; give --convention");
}

Convention infer_convention(std::span<const GridPoint> points, double res,
                            const std::string& grid_path) {
  return infer_convention(points, GlobalGrid(res), grid_path);
}

GlobalGrid::GlobalGrid(double res_, Origin origin) : res(res_) {
  if (!(res > 0.0) || !std::isfinite(res))
    throw ToolError("a lattice needs a positive resolution, not " + shortest_decimal(res));
  const std::optional<Fraction> fr = exact_fraction(res);
  const std::optional<Fraction> fw = exact_fraction(origin.west);
  const std::optional<Fraction> fn = exact_fraction(origin.north);
  int64_t den = 0;
  if (fr && fw && fn) den = std::lcm(std::lcm(2 * fr->den, fw->den), fn->den);
  if (den > 0 && den <= 1000000) {
    // In integers over den: the west and north brought into their ranges by whole cells.
    const int64_t step = fr->num * (den / fr->den);  // res * den
    int64_t w = fw->num * (den / fw->den);
    int64_t n = fn->num * (den / fn->den);
    w += floor_div(-180 * den - w, step) * step;  // now in (-180 den - step, -180 den]
    n -= floor_div(n - 90 * den, step) * step;    // now in [90 den, 90 den + step)
    if (std::max(std::abs(w), std::abs(n)) + 2 * step < kExactLimit / 4) {
      den_ = static_cast<double>(den);
      west_num_ = static_cast<double>(w);
      north_num_ = static_cast<double>(n);
      half_res_num_ = static_cast<double>(step / 2);
      west = west_num_ / den_;
      north = north_num_ / den_;
    }
  }
  if (den_ == 0) {
    west = origin.west + std::floor((-180.0 - origin.west) / res + 1e-9) * res;
    north = origin.north - std::floor((origin.north - 90.0) / res + 1e-9) * res;
    if (std::fabs(west + 180.0) <= 1e-9) west = -180.0;
    if (std::fabs(north - 90.0) <= 1e-9) north = 90.0;
  }
  if (north - res / 2 >= 90.0 - 1e-9)
    throw ToolError("the " + shortest_decimal(res) + " degree lattice with its northern edge at " +
                    format_degrees(north) +
                    " has cell centres on a pole (a node-registered grid); give cells whose "
                    "centres lie between the poles");
  nlon = static_cast<int64_t>(std::llround(360.0 / res));
  nlat = static_cast<int64_t>(std::ceil((north + 90.0) / res - 0.5 - 1e-9));
  if (nlon < 1 || nlat < 1)
    throw ToolError("a " + shortest_decimal(res) + " degree lattice has no whole cell");
}

double GlobalGrid::lon_centre(int64_t col) const {
  const auto c = static_cast<double>(col);
  return den_ > 0 ? (west_num_ + (2 * c + 1) * half_res_num_) / den_ : west + (c + 0.5) * res;
}

double GlobalGrid::lat_centre(int64_t row) const {
  const auto r = static_cast<double>(row);
  return den_ > 0 ? (north_num_ - (2 * r + 1) * half_res_num_) / den_ : north - (r + 0.5) * res;
}

double GlobalGrid::lon_edge(int64_t col) const {
  const auto c = static_cast<double>(col);
  return den_ > 0 ? (west_num_ + 2 * c * half_res_num_) / den_ : west + c * res;
}

double GlobalGrid::lat_edge(int64_t row) const {
  const auto r = static_cast<double>(row);
  return den_ > 0 ? (north_num_ - 2 * r * half_res_num_) / den_ : north - r * res;
}

std::string lattice_text(const GlobalGrid& g) {
  std::string s = format_degrees(g.res) + " degree grid";
  if (!g.default_origin())
    s += " from (" + format_degrees(g.west) + ", " + format_degrees(g.north) + ")";
  return s;
}

bool cell_of(const GlobalGrid& g, Convention c, GridPoint p, int64_t* row, int64_t* col) {
  const double lon = wrap_longitude(p.lon(), g.west);
  *col = round_half_up((lon - g.west) / g.res - 0.5);
  if (*col == g.nlon && std::fabs(static_cast<double>(g.nlon) * g.res - 360.0) < 1e-9) *col = 0;
  *row = round_half_up((g.north - p.lat()) / g.res - (c == Convention::centre ? 0.5 : 0.0));
  return *col >= 0 && *col < g.nlon && *row >= 0 && *row < g.nlat;
}

GridPoint point_of_cell(const GlobalGrid& g, Convention c, int64_t row, int64_t col) {
  int64_t lon100 = std::llround(g.lon_centre(col) * 100);
  lon100 -= 36000 * floor_div(lon100 + 18000, 36000);  // into [-18000, 18000)
  const double lat = c == Convention::centre ? g.lat_centre(row) : g.lat_edge(row);
  return {static_cast<int16_t>(lon100), static_cast<int16_t>(std::llround(lat * 100))};
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
                      std::optional<Convention> convention, std::optional<Origin> origin) {
  PlacedGrid pg;
  pg.path = path;
  pg.points = read_grid(path);
  const std::optional<GlobalGrid> lattice = fit_lattice(pg.points, res, origin);
  if (!lattice && !res)
    throw ToolError("grid file " + path +
                    ": its longitudes fit none of the resolutions 2, 1, 0.5, 0.25, 1/6, 1/12 "
                    "degrees; give --res");
  if (!lattice) {
    const GlobalGrid g(*res, origin.value_or(Origin{}));
    const int64_t misfit = first_longitude_misfit(pg.points, g);
    throw ToolError("grid file " + path + ": the longitude of " +
                    pixel_text(misfit, pg.points[static_cast<size_t>(misfit)]) +
                    " is not a cell centre of a " + lattice_text(g));
  }
  pg.global = *lattice;
  pg.convention = convention ? *convention : infer_convention(pg.points, pg.global, path);
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
