// Drawing one map: the cells of a lon/lat grid as blocks of pixels, a title, a colour bar with
// ticks, the units and a legend of the cells without a value; written as PNG with cairo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "colormap.h"
#include "scale.h"
#include "tool.h"

namespace maps {

/// The cells shown: rows from north to south, columns from west to east.
struct CellField {
  int nrow = 0;
  int ncol = 0;
  std::vector<float> value;        ///< nrow * ncol, row after row
  std::vector<uint8_t> has_pixel;  ///< 1 where a pixel of the grid lies in the cell
};

struct MapStyle {
  const Colormap* cmap = nullptr;
  Range range;
  int scale = 1;  ///< pixels per cell, each way
  std::string title;
  std::string units;
  Counts counts;  ///< of the pixels shown: below and above the range, NaN
  Ticks ticks;
};

/// Where the parts of the image lie, in pixels from the top-left corner.
struct Layout {
  int width = 0, height = 0;
  int map_x = 0, map_y = 0, map_w = 0, map_h = 0;
  int bar_x = 0, bar_y = 0, bar_w = 0, bar_h = 0;
  int label_y = 0;   ///< baseline of the tick labels
  int legend_y = 0;  ///< top of the legend's swatches
  int nan_swatch_x = 0, no_pixel_swatch_x = 0, swatch = 0;
};

Layout layout(const CellField& field, const MapStyle& style);

/// The x position of a value on the colour bar.
double bar_position(const Layout& l, Range r, double v);

/// Draws the map and writes it to `out` and closes it (the caller commits: renames a temporary
/// file, or has written through a device or FIFO); an interop::ToolError names the file on
/// failure.
void write_map_png(const CellField& field, const MapStyle& style, interop::OutputTarget& out);

/// Image size limit each way: a map beyond it is refused (ask for a smaller --scale or extent).
inline constexpr int max_image_side = 32767;

}  // namespace maps
