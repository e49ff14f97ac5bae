#include "drawing.h"

#include <algorithm>
#include <cstdio>

#include "tool.h"

namespace maps {

Measure::Measure()
    : surf_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1)), cr_(cairo_create(surf_.get())) {}

double Measure::width(const std::string& text, double size, bool bold) {
  cairo_select_font_face(cr_.get(), font_family, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr_.get(), size);
  cairo_text_extents_t e;
  cairo_text_extents(cr_.get(), text.c_str(), &e);
  return e.x_advance;
}

void set_colour(cairo_t* cr, Rgb c) {
  cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
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

std::vector<std::string> wrap(Measure& m, const std::string& text, double size, double room,
                              bool bold) {
  std::vector<std::string> lines;
  std::string line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    const std::string longer = line.empty() ? word : line + " " + word;
    if (line.empty() || m.width(longer, size, bold) <= room) {
      line = longer;
    } else {
      lines.push_back(line);
      line = word;
    }
  }
  lines.push_back(line);
  return lines;
}

FittedText fit_text(Measure& m, const std::string& text, double size, double room, int max_lines,
                    bool bold) {
  for (;; size *= 0.92) {
    std::vector<std::string> lines = wrap(m, text, size, room, bold);
    double widest = 0;
    for (const std::string& s : lines) widest = std::max(widest, m.width(s, size, bold));
    if (lines.size() <= static_cast<size_t>(max_lines) && widest <= room) {
      // Lines of even length: the narrowest room that needs no more lines.
      double lo = 0, hi = widest;
      for (int i = 0; i < 12 && lines.size() > 1; ++i) {
        const double mid = (lo + hi) / 2;
        (wrap(m, text, size, mid, bold).size() > lines.size() ? lo : hi) = mid;
      }
      if (lines.size() > 1) lines = wrap(m, text, size, hi, bold);
      return {std::move(lines), size};
    }
  }
}

void check_cairo(cairo_status_t st, const std::string& what) {
  if (st != CAIRO_STATUS_SUCCESS)
    throw interop::ToolError(what + ": " + cairo_status_to_string(st));
}

namespace {

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

void write_png(cairo_surface_t* surf, interop::OutputTarget& out) {
  PngSink sink{&out, ""};
  const cairo_status_t st = cairo_surface_write_to_png_stream(surf, write_to_sink, &sink);
  if (!sink.error.empty()) throw interop::ToolError(sink.error);
  check_cairo(st, "cannot write " + out.path());
  out.close();
}

void write_png(cairo_surface_t* surf, const std::string& path) {
  interop::OutputTarget out(path, "PNG", true);
  write_png(surf, out);
  out.commit();
}

}  // namespace maps
