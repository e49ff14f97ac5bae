#include "zones.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

#include "exactmath.h"
#include "frame.h"
#include "rasterfile.h"
#include "tool.h"

namespace aggregate {

namespace {

constexpr double kPi = 3.141592653589793;

// "30N", "0", "30S": the maps' latitude labels without the degree sign (plain ASCII in tables).
std::string latitude_text(double lat, double step) {
  std::string s = maps::geo_label(lat, step, maps::Axis::lat);
  const std::string degree = "\u00b0";
  for (size_t at; (at = s.find(degree)) != std::string::npos;) s.erase(at, degree.size());
  return s;
}

std::string degrees_text(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

}  // namespace

Zones global_zone(int64_t npixel) {
  Zones z;
  Zone all{"global", {}};
  all.pixels.resize(static_cast<size_t>(npixel));
  for (int64_t p = 0; p < npixel; ++p) all.pixels[static_cast<size_t>(p)] = p;
  z.zones.push_back(std::move(all));
  return z;
}

double parse_zones(const std::string& text) {
  const std::string prefix = "lat:";
  if (text.rfind(prefix, 0) != 0)
    throw interop::usage_error("--zones " + text + ": give lat:DEG, e.g. lat:30 or lat:0.5");
  try {
    return interop::parse_resolution(text.substr(prefix.size()));
  } catch (const interop::ToolError&) {
    throw interop::usage_error("--zones " + text +
                               ": DEG must be a positive number of degrees up to 180 (e.g. 30, "
                               "0.5 or 1/2)");
  }
}

Zones latitude_zones(const interop::PlacedGrid& grid, double deg) {
  const auto nbands = static_cast<int64_t>(std::ceil(180.0 / deg - 1e-9));
  std::vector<std::vector<int64_t>> members(static_cast<size_t>(nbands));
  for (size_t p = 0; p < grid.cells.size(); ++p) {
    const double lat = grid.global.lat_centre(grid.cells[p] / grid.global.nlon);
    const auto k =
        std::clamp<int64_t>(static_cast<int64_t>(std::floor((90.0 - lat) / deg)), 0, nbands - 1);
    members[static_cast<size_t>(k)].push_back(static_cast<int64_t>(p));
  }
  Zones z;
  for (int64_t k = 0; k < nbands; ++k) {
    if (members[static_cast<size_t>(k)].empty()) continue;
    const double north = 90.0 - static_cast<double>(k) * deg;
    const double south = std::max(90.0 - static_cast<double>(k + 1) * deg, -90.0);
    z.zones.push_back({latitude_text(south, deg) + "-" + latitude_text(north, deg),
                       std::move(members[static_cast<size_t>(k)])});
  }
  return z;
}

std::vector<float> values_on_grid(const BandSource& other, const interop::PlacedGrid& grid,
                                  const std::string& what, int64_t* missing) {
  const interop::GlobalGrid& a = other.grid().global;
  const interop::GlobalGrid& b = grid.global;
  if (a.res != b.res || a.nlon != b.nlon || a.nlat != b.nlat)
    throw interop::ToolError(what + " " + other.name() + " lies on a grid of " +
                             degrees_text(a.res) + " degrees, the input on one of " +
                             degrees_text(b.res) + " degrees (grid files " + other.grid().path +
                             " and " + grid.path + ")");
  if (other.layout().nbands != 1)
    throw interop::ToolError(what + " " + other.name() + " holds " +
                             std::to_string(other.layout().nbands) +
                             " bands; give a file of one band");
  const int64_t n = other.layout().npixel;
  std::vector<float> band(static_cast<size_t>(n));
  other.read_bands(0, 1, 0, n, band.data());
  std::unordered_map<int64_t, int64_t> pixel_of_cell;
  pixel_of_cell.reserve(static_cast<size_t>(n));
  for (int64_t p = 0; p < n; ++p)
    pixel_of_cell.emplace(other.grid().cells[static_cast<size_t>(p)], p);
  std::vector<float> out(grid.cells.size(), std::nanf(""));
  *missing = 0;
  for (size_t p = 0; p < grid.cells.size(); ++p) {
    const auto it = pixel_of_cell.find(grid.cells[p]);
    if (it == pixel_of_cell.end()) {
      ++*missing;
      continue;
    }
    out[p] = band[static_cast<size_t>(it->second)];
  }
  return out;
}

Zones raster_regions(const std::vector<float>& ids, const std::string& file) {
  std::map<double, std::vector<int64_t>> members;
  Zones z;
  for (size_t p = 0; p < ids.size(); ++p) {
    const float v = ids[p];
    if (std::isnan(v)) {
      ++z.outside;
      continue;
    }
    if (!std::isfinite(v) || v != std::floor(v))
      throw interop::ToolError("region file " + file + ": pixel " + std::to_string(p) + " holds " +
                               degrees_text(static_cast<double>(v)) +
                               ", not a whole-number region id (NaN for no region)");
    members[static_cast<double>(v) == 0.0 ? 0.0 : static_cast<double>(v)].push_back(
        static_cast<int64_t>(p));
  }
  for (auto& [id, pixels] : members) z.zones.push_back({degrees_text(id), std::move(pixels)});
  return z;
}

LatticeOrigin lattice_origin(const interop::GlobalGrid&) { return LatticeOrigin{}; }

CellBox cell_box(const interop::GlobalGrid& g, int64_t cell) {
  const LatticeOrigin o = lattice_origin(g);
  const int64_t row = cell / g.nlon;
  const int64_t col = cell % g.nlon;
  CellBox b;
  b.west = o.west + static_cast<double>(col) * g.res;
  b.east = o.west + static_cast<double>(col + 1) * g.res;
  b.north = std::min(o.north - static_cast<double>(row) * g.res, 90.0);
  b.south = std::max(o.north - static_cast<double>(row + 1) * g.res, -90.0);
  return b;
}

Weights parse_weights(const std::string& text) {
  if (text == "area") return Weights::area;
  if (text == "coslat") return Weights::coslat;
  if (text == "none") return Weights::none;
  throw interop::usage_error("--weights " + text + ": give area, coslat or none");
}

const char* weights_name(Weights w) {
  switch (w) {
    case Weights::area:
      return "area";
    case Weights::coslat:
      return "coslat";
    case Weights::none:
      return "none";
  }
  return "?";
}

std::vector<double> pixel_weights(const interop::PlacedGrid& grid, Weights w) {
  std::vector<double> out(grid.cells.size(), 1.0);
  if (w == Weights::none) return out;
  // Weights depend on the row only: each row's computed once (correctly rounded sines).
  std::unordered_map<int64_t, double> of_row;
  for (size_t p = 0; p < grid.cells.size(); ++p) {
    const int64_t row = grid.cells[p] / grid.global.nlon;
    auto it = of_row.find(row);
    if (it == of_row.end()) {
      double v = 0;
      if (w == Weights::area) {
        const CellBox b = cell_box(grid.global, row * grid.global.nlon);
        v = raster::pixelarea(b.east, b.west, b.north, b.south);
      } else {
        v = raster::cos_rounded((grid.global.lat_centre(row) * kPi) / 180);
      }
      it = of_row.emplace(row, v).first;
    }
    out[p] = it->second;
  }
  return out;
}

}  // namespace aggregate
