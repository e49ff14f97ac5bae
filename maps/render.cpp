#include "render.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "drawing.h"
#include "frame.h"
#include "tool.h"

namespace maps {
namespace {

// Sizes of the frame around the map, in pixels.
constexpr int margin = 12;
constexpr int bar_gap = 14;
constexpr int bar_height = 14;
constexpr int tick_len = 4;
constexpr int label_h = 16;
constexpr int legend_gap = 10;
constexpr int swatch_side = 12;
constexpr int min_width = 480;
constexpr int max_bar_w = 480;
constexpr int min_bar_w = 160;
constexpr int legend_step = 160;  // from the NaN swatch to the no-pixel swatch
constexpr int label_gap = 6;      // the least room between two labels
constexpr int units_gap = 8;      // between the bar's end and the units
constexpr int min_graticule_px = 4;
constexpr int max_title_lines = 3;
constexpr double title_font = 15;
constexpr double label_font = 11;
constexpr double frame_font = 10;

uint32_t pixel_of(Rgb c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | uint32_t{c.b}; }

// Position t (0..1) along the bar to the colour map's part that the bar spans.
Rgb colour_on_bar(const MapStyle& s, double t) {
  return colour_at(*s.cmap, s.cmap_lo + std::clamp(t, 0.0, 1.0) * (s.cmap_hi - s.cmap_lo));
}

Rgb colour_of_value(const MapStyle& s, float v) {
  if (std::isnan(v)) return s.cmap->nan;
  return colour_on_bar(s, (static_cast<double>(v) - s.range.lo) / (s.range.hi - s.range.lo));
}

// The cells, each a scale x scale block, straight into the image's memory.
void draw_cells(cairo_surface_t* surf, const CellField& f, const MapStyle& s, const Layout& l) {
  cairo_surface_flush(surf);
  unsigned char* data = cairo_image_surface_get_data(surf);
  const auto stride = static_cast<size_t>(cairo_image_surface_get_stride(surf));
  for (int r = 0; r < f.nrow; ++r) {
    for (int c = 0; c < f.ncol; ++c) {
      const size_t i =
          static_cast<size_t>(r) * static_cast<size_t>(f.ncol) + static_cast<size_t>(c);
      const uint32_t px =
          pixel_of(f.has_pixel[i] ? colour_of_value(s, f.value[i]) : no_pixel_colour);
      for (int dy = 0; dy < s.scale; ++dy) {
        auto* row = reinterpret_cast<uint32_t*>(
            data + static_cast<size_t>(l.map_y + r * s.scale + dy) * stride);
        std::fill_n(row + l.map_x + c * s.scale, s.scale, px);
      }
    }
  }
  cairo_surface_mark_dirty(surf);
}

// The title in at most max_title_lines lines, in a smaller font when it needs more or a word
// is wider than the image.
void fit_title(Measure& m, const std::string& title, double room, Layout* l) {
  FittedText t = fit_text(m, title, title_font, room, max_title_lines, true);
  l->title_lines = std::move(t.lines);
  l->title_size = t.size;
}

// The ticks of one edge of the frame, from `lo` degrees at pixel `origin` on, `px` pixels per
// degree (negative for latitudes, which grow upwards); the step leaves room for the labels.
std::vector<FrameTick> frame_ticks(Measure& m, Axis axis, double lo, double hi, double origin,
                                   double px, double* step) {
  auto labels_room = [&](double st) {
    if (axis == Axis::lat) return frame_font + label_gap;
    double widest = 0;
    for (double v : geo_ticks(lo, hi, st)) {
      widest = std::max(widest, m.width(geo_label(v, st, axis), frame_font));
    }
    return widest + label_gap;
  };
  *step = geo_step(hi - lo, std::abs(px), labels_room);
  std::vector<FrameTick> ticks;
  double last_end = -1e300;
  for (double v : geo_ticks(lo, hi, *step)) {
    FrameTick t{v, origin + (v - lo) * px, geo_label(v, *step, axis), true};
    // A label that would touch the one before it (only when no step leaves room) is left out.
    const double half = axis == Axis::lon ? m.width(t.label, frame_font) / 2 : frame_font / 2;
    const double start = (axis == Axis::lon ? t.pos : -t.pos) - half;
    t.shown = start >= last_end + label_gap;
    if (t.shown) last_end = start + 2 * half;
    ticks.push_back(std::move(t));
  }
  return ticks;
}

double widest_label(Measure& m, const std::vector<FrameTick>& ticks) {
  double w = 0;
  for (const FrameTick& t : ticks) {
    if (t.shown) w = std::max(w, m.width(t.label, frame_font));
  }
  return w;
}

void draw_title(cairo_t* cr, const Layout& l) {
  for (size_t i = 0; i < l.title_lines.size(); ++i) {
    draw_text(cr, l.title_lines[i], l.width / 2.0,
              l.title_y + static_cast<double>(i) * l.title_line_h, l.title_size, true, 0.5);
  }
}

// Pixel-sharp lines of the graticule over the cells, inside the frame.
void draw_graticule(cairo_t* cr, const CellField& f, const MapStyle& s, const Layout& l) {
  if (!s.graticule || f.res <= 0) return;
  std::vector<double> lons, lats;
  if (*s.graticule > 0) {
    lons = geo_ticks(f.west, f.west + f.ncol * f.res, *s.graticule);
    lats = geo_ticks(f.north - f.nrow * f.res, f.north, *s.graticule);
  } else {
    for (const FrameTick& t : l.lon_ticks) lons.push_back(t.degrees);
    for (const FrameTick& t : l.lat_ticks) lats.push_back(t.degrees);
  }
  const double px = s.scale / f.res;
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.35);
  cairo_set_line_width(cr, 1);
  for (double v : lons) {
    const double x = std::floor(l.map_x + (v - f.west) * px);
    if (x <= l.map_x || x >= l.map_x + l.map_w) continue;
    cairo_move_to(cr, x + 0.5, l.map_y);
    cairo_line_to(cr, x + 0.5, l.map_y + l.map_h);
  }
  for (double v : lats) {
    const double y = std::floor(l.map_y + (f.north - v) * px);
    if (y <= l.map_y || y >= l.map_y + l.map_h) continue;
    cairo_move_to(cr, l.map_x, y + 0.5);
    cairo_line_to(cr, l.map_x + l.map_w, y + 0.5);
  }
  cairo_stroke(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
}

// A thin frame just outside the map, ticks outwards at the labelled degrees, and the labels:
// longitudes below, latitudes to the left.
void draw_frame(cairo_t* cr, const Layout& l) {
  if (l.lon_step <= 0) return;
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, l.map_x - 0.5, l.map_y - 0.5, l.map_w + 1, l.map_h + 1);
  const double bottom = l.map_y + l.map_h + 0.5;
  for (const FrameTick& t : l.lon_ticks) {
    const double x = std::min(std::floor(t.pos), l.map_x + l.map_w + 0.0) + 0.5;
    cairo_move_to(cr, x, bottom);
    cairo_line_to(cr, x, bottom + tick_len);
  }
  const double left = l.map_x - 0.5;
  for (const FrameTick& t : l.lat_ticks) {
    const double y = std::min(std::floor(t.pos), l.map_y + l.map_h + 0.0) + 0.5;
    cairo_move_to(cr, left, y);
    cairo_line_to(cr, left - tick_len, y);
  }
  cairo_stroke(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (const FrameTick& t : l.lon_ticks) {
    if (t.shown) draw_text(cr, t.label, t.pos, l.lon_label_y, frame_font, false, 0.5);
  }
  for (const FrameTick& t : l.lat_ticks) {
    if (t.shown)
      draw_text(cr, t.label, left - tick_len - 3, t.pos + frame_font * 0.36, frame_font, false, 1);
  }
}

// The bar: one column of pixels per step of colour; a triangle at an end whose values are
// clipped, in that end's colour.
void draw_bar(cairo_t* cr, const MapStyle& s, const Layout& l) {
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  for (int i = 0; i < l.bar_w; ++i) {
    set_colour(cr, colour_on_bar(s, (i + 0.5) / l.bar_w));
    cairo_rectangle(cr, l.bar_x + i, l.bar_y, 1, l.bar_h);
    cairo_fill(cr);
  }
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  const double y0 = l.bar_y, y1 = l.bar_y + l.bar_h, ym = l.bar_y + l.bar_h / 2.0;
  if (s.counts.below > 0) {
    set_colour(cr, colour_on_bar(s, 0));
    cairo_move_to(cr, l.bar_x, y0);
    cairo_line_to(cr, l.bar_x - l.bar_h, ym);
    cairo_line_to(cr, l.bar_x, y1);
    cairo_close_path(cr);
    cairo_fill(cr);
  }
  const double xe = l.bar_x + l.bar_w;
  if (s.counts.above > 0) {
    set_colour(cr, colour_on_bar(s, 1));
    cairo_move_to(cr, xe, y0);
    cairo_line_to(cr, xe + l.bar_h, ym);
    cairo_line_to(cr, xe, y1);
    cairo_close_path(cr);
    cairo_fill(cr);
  }
  // A thin outline, so that a light end (white, pale yellow) stands out from the background.
  const double xs = l.bar_x - 0.5, xo = xe + 0.5;
  cairo_move_to(cr, xs, y0 - 0.5);
  cairo_line_to(cr, xo, y0 - 0.5);
  if (s.counts.above > 0) cairo_line_to(cr, xe + l.bar_h + 0.7, ym);
  cairo_line_to(cr, xo, y1 + 0.5);
  cairo_line_to(cr, xs, y1 + 0.5);
  if (s.counts.below > 0) cairo_line_to(cr, l.bar_x - l.bar_h - 0.7, ym);
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, 0.55, 0.55, 0.55);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
}

void draw_ticks(cairo_t* cr, const MapStyle& s, const Layout& l) {
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, 1);
  for (size_t k = 0; k < s.ticks.values.size(); ++k) {
    const double x = std::floor(bar_position(l, s.range, s.ticks.values[k])) + 0.5;
    cairo_move_to(cr, x, l.bar_y + l.bar_h);
    cairo_line_to(cr, x, l.bar_y + l.bar_h + tick_len);
    cairo_stroke(cr);
    draw_text(cr, s.ticks.labels[k], x, l.label_y, label_font, false, 0.5);
  }
  if (!s.units.empty()) {
    draw_text(cr, s.units, l.units_x, l.bar_y + l.bar_h - 2, l.units_size, false, 0);
  }
}

void draw_swatch(cairo_t* cr, int x, int y, int side, Rgb c, const std::string& text) {
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  set_colour(cr, c);
  cairo_rectangle(cr, x, y, side, side);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, x - 0.5, y - 0.5, side + 1, side + 1);
  cairo_stroke(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_source_rgb(cr, 0, 0, 0);
  draw_text(cr, text, x + side + 5, y + side - 1, label_font, false, 0);
}

std::string nan_text(const Counts& c) {
  return "NaN: " + std::to_string(c.nan) + (c.nan == 1 ? " cell" : " cells");
}
const char* const no_pixel_text = "no pixel";

void draw_legend(cairo_t* cr, const MapStyle& s, const Layout& l) {
  draw_swatch(cr, l.nan_swatch_x, l.legend_y, l.swatch, s.cmap->nan, nan_text(s.counts));
  draw_swatch(cr, l.no_pixel_swatch_x, l.legend_y, l.swatch, no_pixel_colour, no_pixel_text);
}

}  // namespace

namespace {

// The frame's ticks and the room they take on the left (latitude labels) and below.
void place_frame(Measure& m, const CellField& f, const MapStyle& s, Layout* l) {
  if (f.res <= 0) return;
  const double px = s.scale / f.res;
  l->lon_ticks =
      frame_ticks(m, Axis::lon, f.west, f.west + f.ncol * f.res, l->map_x, px, &l->lon_step);
  // Latitudes from the south edge up: pixel rows count downwards.
  const double south = f.north - f.nrow * f.res;
  l->lat_ticks = frame_ticks(m, Axis::lat, south, f.north, l->map_y + l->map_h, -px, &l->lat_step);
}

void check_graticule(const CellField& f, const MapStyle& s) {
  if (!s.graticule || *s.graticule <= 0 || f.res <= 0) return;
  const double apart = *s.graticule * s.scale / f.res;
  if (apart < min_graticule_px) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "--graticule=%g puts lines %.2g pixels apart: give a step of at least %g "
                  "degrees (or a larger --scale)",
                  *s.graticule, apart, min_graticule_px * f.res / s.scale);
    throw interop::usage_error(text);
  }
}

// The bar and the units beside it, centred together; the units in a smaller font when they
// would leave the bar less than min_bar_w pixels.
void place_bar(Measure& m, const MapStyle& s, Layout* l) {
  l->bar_h = bar_height;
  const int room = l->width - 2 * margin - 2 * bar_height;
  double units_w = s.units.empty() ? 0 : m.width(s.units, label_font);
  l->units_size = label_font;
  const int extra = s.units.empty() ? 0 : units_gap;
  if (room - extra - units_w < min_bar_w && units_w > 0) {
    const double fit = room - extra - min_bar_w;
    l->units_size = label_font * fit / units_w;
    units_w = fit;
  }
  const int units_px = static_cast<int>(std::ceil(units_w));
  l->bar_w = std::min(max_bar_w, room - extra - units_px);
  const int group = l->bar_w + 2 * bar_height + extra + units_px;
  l->bar_x = (l->width - group) / 2 + bar_height;
  l->units_x = l->bar_x + l->bar_w + bar_height + extra;
}

void place_legend(Measure& m, const MapStyle& s, Layout* l) {
  l->swatch = swatch_side;
  const int text_x = swatch_side + 5;
  const int step = std::max(
      legend_step, text_x + static_cast<int>(std::ceil(m.width(nan_text(s.counts), label_font))) +
                       2 * label_gap);
  const int w = step + text_x + static_cast<int>(std::ceil(m.width(no_pixel_text, label_font)));
  l->nan_swatch_x = std::clamp(l->bar_x, margin, std::max(margin, l->width - margin - w));
  l->no_pixel_swatch_x = l->nan_swatch_x + step;
}

}  // namespace

Layout layout(const CellField& field, const MapStyle& style) {
  Layout l;
  const int64_t mw = int64_t{field.ncol} * style.scale;
  const int64_t mh = int64_t{field.nrow} * style.scale;
  if (mw + 200 > max_image_side || mh + 300 > max_image_side) {
    throw interop::usage_error("a map of " + std::to_string(mw) + " x " + std::to_string(mh) +
                               " pixels is too large; choose a smaller --scale or --extent");
  }
  check_graticule(field, style);
  Measure m;
  l.map_w = static_cast<int>(mw);
  l.map_h = static_cast<int>(mh);
  // The frame's labels decide the side margins; the map's place shifts them all alike.
  place_frame(m, field, style, &l);
  int side = margin;
  if (l.lon_step > 0) {
    const double lat_w = widest_label(m, l.lat_ticks) + tick_len + 3;
    const double lon_half = widest_label(m, l.lon_ticks) / 2;
    side = margin + static_cast<int>(std::ceil(std::max(lat_w, lon_half)));
  }
  l.width = std::max(l.map_w + 2 * side, min_width);
  l.map_x = (l.width - l.map_w) / 2;

  fit_title(m, style.title, l.width - 2.0 * margin, &l);
  l.title_y = static_cast<int>(std::lround(7 + l.title_size));
  l.title_line_h = static_cast<int>(std::lround(1.25 * l.title_size));
  l.map_y = l.title_y + static_cast<int>(l.title_lines.size() - 1) * l.title_line_h + 12;
  const int dx = l.map_x, dy = l.map_y;
  for (FrameTick& t : l.lon_ticks) t.pos += dx;
  for (FrameTick& t : l.lat_ticks) t.pos += dy;

  int below_map = l.map_y + l.map_h;
  if (l.lon_step > 0) {
    l.lon_label_y = below_map + tick_len + 3 + static_cast<int>(frame_font);
    below_map = l.lon_label_y;
  }
  l.bar_y = below_map + bar_gap;
  place_bar(m, style, &l);
  l.label_y = l.bar_y + l.bar_h + tick_len + label_h - 3;
  l.legend_y = l.label_y + legend_gap;
  place_legend(m, style, &l);
  l.height = l.legend_y + swatch_side + margin;
  return l;
}

double bar_position(const Layout& l, Range r, double v) {
  return l.bar_x + (v - r.lo) / (r.hi - r.lo) * l.bar_w;
}

Ticks fitted_ticks(const Layout& l, Range r) {
  Measure m;
  Ticks t;
  for (int target = 5; target >= 1; --target) {
    t = nice_ticks(r, target);
    double widest = 0;
    for (const std::string& s : t.labels) widest = std::max(widest, m.width(s, label_font));
    if (t.step / (r.hi - r.lo) * l.bar_w >= widest + label_gap) break;
  }
  return t;
}

void write_map_png(const CellField& field, const MapStyle& style, interop::OutputTarget& out) {
  const std::string& path = out.path();
  const Layout l = layout(field, style);
  Surface surf(cairo_image_surface_create(CAIRO_FORMAT_RGB24, l.width, l.height));
  check_cairo(cairo_surface_status(surf.get()), "cannot make an image of " +
                                                    std::to_string(l.width) + " x " +
                                                    std::to_string(l.height) + " pixels");
  Context cr(cairo_create(surf.get()));
  cairo_set_source_rgb(cr.get(), 1, 1, 1);
  cairo_paint(cr.get());
  draw_cells(surf.get(), field, style, l);
  draw_graticule(cr.get(), field, style, l);
  draw_frame(cr.get(), l);
  cairo_set_source_rgb(cr.get(), 0, 0, 0);
  draw_title(cr.get(), l);
  draw_bar(cr.get(), style, l);
  draw_ticks(cr.get(), style, l);
  draw_legend(cr.get(), style, l);
  check_cairo(cairo_status(cr.get()), "cannot draw the map '" + path + "'");
  write_png(surf.get(), out);
}

}  // namespace maps
