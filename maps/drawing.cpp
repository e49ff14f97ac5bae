#include "drawing.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

// cairo's PNG writer hands the bytes here; every write is checked.
cairo_status_t write_to_file(void* file, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<FILE*>(file)) == length
             ? CAIRO_STATUS_SUCCESS
             : CAIRO_STATUS_WRITE_ERROR;
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

void write_png(cairo_surface_t* surf, const std::string& path) {
  interop::TempOutput out(path);
  std::unique_ptr<FILE, FileCloser> file(std::fopen(out.path().c_str(), "wb"));
  if (!file) throw interop::ToolError("cannot create " + out.path() + ": " + std::strerror(errno));
  if (cairo_surface_write_to_png_stream(surf, write_to_file, file.get()) != CAIRO_STATUS_SUCCESS) {
    throw interop::ToolError("cannot write " + path + ": " + std::strerror(errno));
  }
  if (std::fclose(file.release()) != 0) {
    throw interop::ToolError("cannot write " + path + ": " + std::strerror(errno));
  }
  out.commit();
}

}  // namespace maps
