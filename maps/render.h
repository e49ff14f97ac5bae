// Drawing one map: the cells of a lon/lat grid as blocks of pixels in a frame with longitude
// and latitude labels (and a graticule on request), a title, a colour bar with ticks, the units
// and a legend of the cells without a value; written as PNG with cairo. Every text is fitted
// into the image: the title wraps and shrinks, the bar makes room for the units.
#pragma once

#include <cstdint>
#include <optional>
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
  double west = 0;                 ///< longitude of the western edge of column 0, degrees
  double north = 0;                ///< latitude of the northern edge of row 0
  double res = 0;                  ///< cell size in degrees; 0: no longitude/latitude frame
};

struct MapStyle {
  const Colormap* cmap = nullptr;
  Range range;
  int scale = 1;  ///< pixels per cell, each way
  std::string title;
  std::string units;
  Counts counts;  ///< of the pixels shown: below and above the range, NaN
  Ticks ticks;
  /// The part of the colour map the bar spans: all of it, or the half of a diverging map on
  /// the side of the centre where all values lie.
  double cmap_lo = 0, cmap_hi = 1;
  /// Graticule lines every so many degrees; 0: at the labelled longitudes and latitudes.
  std::optional<double> graticule;
};

/// A tick of the frame: its place along the axis (pixels from the image's left or top edge)
/// and its label; `shown` is false for a label left out because it would touch its neighbour.
struct FrameTick {
  double degrees = 0;
  double pos = 0;
  std::string label;
  bool shown = true;
};

/// Where the parts of the image lie, in pixels from the top-left corner, and the fitted texts.
struct Layout {
  int width = 0, height = 0;
  int map_x = 0, map_y = 0, map_w = 0, map_h = 0;
  int bar_x = 0, bar_y = 0, bar_w = 0, bar_h = 0;
  int label_y = 0;   ///< baseline of the tick labels
  int legend_y = 0;  ///< top of the legend's swatches
  int nan_swatch_x = 0, no_pixel_swatch_x = 0, swatch = 0;
  std::vector<std::string> title_lines;
  double title_size = 0;
  int title_y = 0;  ///< baseline of the title's first line
  int title_line_h = 0;
  double lon_step = 0, lat_step = 0;  ///< degrees between frame ticks; 0: no frame
  std::vector<FrameTick> lon_ticks;   ///< along the bottom edge (pos: x)
  std::vector<FrameTick> lat_ticks;   ///< along the left edge (pos: y)
  int lon_label_y = 0;                ///< baseline of the longitude labels
  int units_x = 0;
  double units_size = 0;
};

/// The layout of the image; a usage ToolError when the map would be too large, or the
/// graticule's lines closer than a few pixels.
Layout layout(const CellField& field, const MapStyle& style);

/// The colour bar's ticks: nice_ticks with the most ticks (at most the usual 3 to 7) whose
/// labels stand apart on the bar of this layout.
Ticks fitted_ticks(const Layout& l, Range r);

/// The x position of a value on the colour bar.
double bar_position(const Layout& l, Range r, double v);

/// Draws the map and writes it to `out` and closes it (the caller commits: renames a temporary
/// file, or has written through a device or FIFO); an interop::ToolError names the file on
/// failure.
void write_map_png(const CellField& field, const MapStyle& style, interop::OutputTarget& out);

/// Image size limit each way: a map beyond it is refused (ask for a smaller --scale or extent).
inline constexpr int max_image_side = 32767;

}  // namespace maps
