#include "render.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "tool.h"

namespace maps {
namespace {

// Sizes of the frame around the map, in pixels.
constexpr int margin = 12;
constexpr int title_h = 34;
constexpr int bar_gap = 14;
constexpr int bar_height = 14;
constexpr int tick_len = 4;
constexpr int label_h = 16;
constexpr int legend_gap = 10;
constexpr int swatch_side = 12;
constexpr int min_width = 480;
constexpr int max_bar_w = 480;
constexpr double title_font = 15;
constexpr double label_font = 11;
const char* const font_family = "DejaVu Sans";

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

void set_colour(cairo_t* cr, Rgb c) {
  cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

uint32_t pixel_of(Rgb c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | uint32_t{c.b}; }

Rgb colour_of_value(const MapStyle& s, float v) {
  if (std::isnan(v)) return s.cmap->nan;
  return colour_at(*s.cmap, (static_cast<double>(v) - s.range.lo) / (s.range.hi - s.range.lo));
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

void draw_text(cairo_t* cr, const std::string& text, double x, double y, double size, bool bold,
               double anchor) {
  cairo_select_font_face(cr, font_family, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  cairo_move_to(cr, x - anchor * e.x_advance, y);
  cairo_show_text(cr, text.c_str());
}

// The title, in a smaller font when it would not fit the image's width.
void draw_title(cairo_t* cr, const std::string& title, const Layout& l) {
  cairo_select_font_face(cr, font_family, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, title_font);
  cairo_text_extents_t e;
  cairo_text_extents(cr, title.c_str(), &e);
  const double room = l.width - 2.0 * margin;
  const double size = e.x_advance > room ? title_font * room / e.x_advance : title_font;
  draw_text(cr, title, l.width / 2.0, title_h - 12, size, true, 0.5);
}

// The bar: one column of pixels per step of colour; a triangle at an end whose values are
// clipped, in that end's colour.
void draw_bar(cairo_t* cr, const MapStyle& s, const Layout& l) {
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  for (int i = 0; i < l.bar_w; ++i) {
    set_colour(cr, colour_at(*s.cmap, (i + 0.5) / l.bar_w));
    cairo_rectangle(cr, l.bar_x + i, l.bar_y, 1, l.bar_h);
    cairo_fill(cr);
  }
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  const double y0 = l.bar_y, y1 = l.bar_y + l.bar_h, ym = l.bar_y + l.bar_h / 2.0;
  if (s.counts.below > 0) {
    set_colour(cr, colour_at(*s.cmap, 0));
    cairo_move_to(cr, l.bar_x, y0);
    cairo_line_to(cr, l.bar_x - l.bar_h, ym);
    cairo_line_to(cr, l.bar_x, y1);
    cairo_close_path(cr);
    cairo_fill(cr);
  }
  if (s.counts.above > 0) {
    const double xe = l.bar_x + l.bar_w;
    set_colour(cr, colour_at(*s.cmap, 1));
    cairo_move_to(cr, xe, y0);
    cairo_line_to(cr, xe + l.bar_h, ym);
    cairo_line_to(cr, xe, y1);
    cairo_close_path(cr);
    cairo_fill(cr);
  }
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
    draw_text(cr, s.units, l.bar_x + l.bar_w + l.bar_h + 8, l.bar_y + l.bar_h - 2, label_font,
              false, 0);
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

void draw_legend(cairo_t* cr, const MapStyle& s, const Layout& l) {
  const int64_t n = s.counts.nan;
  draw_swatch(cr, l.nan_swatch_x, l.legend_y, l.swatch, s.cmap->nan,
              "NaN: " + std::to_string(n) + (n == 1 ? " cell" : " cells"));
  draw_swatch(cr, l.no_pixel_swatch_x, l.legend_y, l.swatch, no_pixel_colour, "no pixel");
}

void check_cairo(cairo_status_t st, const std::string& what) {
  if (st != CAIRO_STATUS_SUCCESS)
    throw interop::ToolError(what + ": " + cairo_status_to_string(st));
}

// Where cairo's PNG writer hands the bytes: every write is checked, and a failure is kept for
// the message instead of being thrown through cairo's C code.
struct PngSink {
  interop::OutputTarget* out;
  std::string error;
};

cairo_status_t write_to_sink(void* closure, const unsigned char* data, unsigned int length) {
  auto* sink = static_cast<PngSink*>(closure);
  try {
    sink->out->write(data, length);
    return CAIRO_STATUS_SUCCESS;
  } catch (const std::exception& e) {
    sink->error = e.what();
    return CAIRO_STATUS_WRITE_ERROR;
  }
}

}  // namespace

Layout layout(const CellField& field, const MapStyle& style) {
  Layout l;
  const int64_t mw = int64_t{field.ncol} * style.scale;
  const int64_t mh = int64_t{field.nrow} * style.scale;
  if (mw + 2 * margin > max_image_side || mh + 200 > max_image_side) {
    throw interop::usage_error("a map of " + std::to_string(mw) + " x " + std::to_string(mh) +
                               " pixels is too large; choose a smaller --scale or --extent");
  }
  l.map_w = static_cast<int>(mw);
  l.map_h = static_cast<int>(mh);
  l.width = std::max(l.map_w + 2 * margin, min_width);
  l.map_x = (l.width - l.map_w) / 2;
  l.map_y = title_h;
  l.bar_h = bar_height;
  l.bar_w = std::min(max_bar_w, l.width - 2 * margin - 2 * bar_height - 60);
  l.bar_x = (l.width - l.bar_w) / 2;
  l.bar_y = l.map_y + l.map_h + bar_gap;
  l.label_y = l.bar_y + l.bar_h + tick_len + label_h - 3;
  l.legend_y = l.label_y + legend_gap;
  l.swatch = swatch_side;
  l.nan_swatch_x = l.bar_x;
  l.no_pixel_swatch_x = l.bar_x + 160;
  l.height = l.legend_y + swatch_side + margin;
  return l;
}

double bar_position(const Layout& l, Range r, double v) {
  return l.bar_x + (v - r.lo) / (r.hi - r.lo) * l.bar_w;
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
  cairo_set_source_rgb(cr.get(), 0, 0, 0);
  draw_title(cr.get(), style.title, l);
  draw_bar(cr.get(), style, l);
  draw_ticks(cr.get(), style, l);
  draw_legend(cr.get(), style, l);
  check_cairo(cairo_status(cr.get()), "cannot draw the map '" + path + "'");
  PngSink sink{&out, ""};
  const cairo_status_t st = cairo_surface_write_to_png_stream(surf.get(), write_to_sink, &sink);
  if (!sink.error.empty()) throw interop::ToolError(sink.error);
  check_cairo(st, "cannot write " + path);
  out.close();
}

}  // namespace maps
