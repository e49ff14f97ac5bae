// Colour maps of the map tool: the named tables and the colour of a position on them.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "colormap_tables.h"

namespace maps {

using Rgb = tables::Rgb8;

struct Colormap {
  std::string_view name;
  std::span<const Rgb> table;  ///< low end first
  bool diverging;              ///< made for values around a centre (--center)
  Rgb nan;                     ///< cells whose value is NaN: a colour the table does not hold
  std::string_view about;
};

/// Every colour map, in the order --help lists them.
std::span<const Colormap> colormaps();
/// The colour map called `name`, or nullptr.
const Colormap* find_colormap(std::string_view name);
/// The names, comma-separated, for messages and --help.
std::string colormap_names();

/// The colour at position t (0 = low end, 1 = high end; clamped) of the table: linear between
/// neighbouring entries, so t = k / (size - 1) is entry k exactly.
Rgb colour_at(const Colormap& cmap, double t);

/// Cells of the grid without a pixel (sea, or outside the run's grid): a light neutral grey.
inline constexpr Rgb no_pixel_colour{224, 224, 224};

}  // namespace maps
