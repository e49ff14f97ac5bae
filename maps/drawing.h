// Text and PNG output with cairo, shared by the maps and the time-series plots: the suite's
// font, text widths as cairo draws them, texts wrapped and shrunk into the room they have, and
// PNG files written under a temporary name with every write checked.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>
#include <vector>

#include "colormap.h"

namespace interop {
class OutputTarget;
}

namespace maps {

inline constexpr const char* font_family = "DejaVu Sans";

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

/// Widths of texts as cairo draws them, for layouts (on a surface of one pixel).
class Measure {
 public:
  Measure();
  double width(const std::string& text, double size, bool bold = false);

 private:
  Surface surf_;
  Context cr_;
};

void set_colour(cairo_t* cr, Rgb c);

/// Draws `text` with its baseline at y; anchor 0 puts its start at x, 0.5 its middle, 1 its end.
void draw_text(cairo_t* cr, const std::string& text, double x, double y, double size, bool bold,
               double anchor);

/// Words to lines no wider than `room` (a word wider than the room gets a line of its own).
std::vector<std::string> wrap(Measure& m, const std::string& text, double size, double room,
                              bool bold);

/// A text fitted into a width: its lines and the font size they take.
struct FittedText {
  std::vector<std::string> lines;
  double size = 0;
};
/// `text` in at most `max_lines` lines of even length no wider than `room`, in font size
/// `size` or, when it needs more lines or a word is wider than the room, a smaller one.
FittedText fit_text(Measure& m, const std::string& text, double size, double room, int max_lines,
                    bool bold);

/// An interop::ToolError "<what>: <cairo's message>" unless `st` is success.
void check_cairo(cairo_status_t st, const std::string& what);

/// Writes the surface as PNG to `out` and closes it, every write checked (an interop::ToolError
/// names the file); the caller commits (renames a temporary file, or has written through a
/// device or FIFO).
void write_png(cairo_surface_t* surf, interop::OutputTarget& out);
/// Writes the surface as PNG to `path` as an interop::OutputTarget: a temporary file in the
/// same folder renamed on success, or a device or FIFO written through.
void write_png(cairo_surface_t* surf, const std::string& path);

}  // namespace maps
