#include "colormap.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace maps {
namespace {

// NaN colours: black where the table ends in neither black nor near-black; cyan for the two
// tables that start at black (magma, inferno).
constexpr Rgb black{0, 0, 0};
constexpr Rgb cyan{0, 229, 255};

const std::array<Colormap, 7> all_maps{{
    {"viridis", tables::viridis, false, black, "blue-green-yellow, perceptually uniform (default)"},
    {"cividis", tables::cividis, false, black, "blue-grey-yellow, for red-green colour blindness"},
    {"magma", tables::magma, false, cyan, "black-purple-orange-white"},
    {"inferno", tables::inferno, false, cyan, "black-purple-orange-yellow"},
    {"plasma", tables::plasma, false, black, "blue-purple-orange-yellow"},
    {"rdbu", tables::rdbu, true, black, "diverging blue-white-red (default with --center)"},
    {"puor", tables::puor, true, black, "diverging orange-white-purple"},
}};

uint8_t mix(uint8_t a, uint8_t b, double f) {
  return static_cast<uint8_t>(std::lround(a + (b - a) * f));
}

}  // namespace

std::span<const Colormap> colormaps() { return all_maps; }

const Colormap* find_colormap(std::string_view name) {
  for (const Colormap& c : all_maps) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::string colormap_names() {
  std::string s;
  for (const Colormap& c : all_maps) {
    if (!s.empty()) s += ", ";
    s += c.name;
  }
  return s;
}

Rgb colour_at(const Colormap& cmap, double t) {
  const size_t last = cmap.table.size() - 1;
  const double pos = std::clamp(std::isnan(t) ? 0.0 : t, 0.0, 1.0) * static_cast<double>(last);
  const size_t k = std::min(static_cast<size_t>(pos), last);
  if (k == last) return cmap.table[last];
  const double f = pos - static_cast<double>(k);
  const Rgb& a = cmap.table[k];
  const Rgb& b = cmap.table[k + 1];
  return {mix(a.r, b.r, f), mix(a.g, b.g, f), mix(a.b, b.b, f)};
}

}  // namespace maps
