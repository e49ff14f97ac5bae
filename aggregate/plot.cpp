#include "plot.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "colormap.h"
#include "drawing.h"
#include "scale.h"

namespace aggregate {

namespace {

using maps::Rgb;

constexpr int kWidth = 900;
constexpr int kMargin = 14;
constexpr int kPlotHeight = 360;
constexpr int kTickLen = 4;
constexpr int kLabelGap = 6;
constexpr int kSwatch = 24;  // length of a legend entry's line
constexpr int kLegendRow = 18;
constexpr double kTitleFont = 15;
constexpr double kFont = 11;

// Okabe and Ito's colours, told apart also with the common colour-vision deficiencies; more
// series than these take evenly spaced colours of viridis.
constexpr Rgb kPalette[] = {{0, 114, 178},   {213, 94, 0},   {0, 158, 115}, {230, 159, 0},
                            {204, 121, 167}, {86, 180, 233}, {0, 0, 0},     {240, 228, 66}};

Rgb series_colour(size_t i, size_t n) {
  constexpr size_t np = std::size(kPalette);
  if (n <= np) return kPalette[i];
  const double t = n == 1 ? 0 : 0.9 * static_cast<double>(i) / static_cast<double>(n - 1);
  return maps::colour_at(*maps::find_colormap("viridis"), t);
}

struct Extent {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void add(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  bool empty() const { return lo > hi; }
};

// Whole-number steps for years (or bands): 1, 2, 5, 10, 20, 25, 50, 100, ...
double x_step(double span, double px_per_unit, double label_w) {
  for (double mag = 1;; mag *= 10) {
    for (const double m : {1.0, 2.0, 2.5, 5.0}) {
      const double step = m * mag;
      if (step == 2.5) continue;
      if (step * px_per_unit >= label_w + 2 * kLabelGap && span / step <= 12) return step;
    }
  }
}

struct Frame {
  int x = 0, y = 0, w = 0, h = 0;
  maps::Range xr, yr;
  double px(double v) const { return x + (v - xr.lo) / (xr.hi - xr.lo) * w; }
  double py(double v) const { return y + h - (v - yr.lo) / (yr.hi - yr.lo) * h; }
};

// Legend entries flowed into rows under the plot.
struct LegendPlace {
  std::vector<std::pair<int, int>> at;  // x, baseline of each entry
  int height = 0;
};

LegendPlace place_legend(maps::Measure& m, const std::vector<Series>& s, int x0, int y0,
                         int right) {
  LegendPlace l;
  int x = x0, y = y0 + kLegendRow;
  for (const Series& ser : s) {
    const int w = kSwatch + 6 + static_cast<int>(std::ceil(m.width(ser.name, kFont))) + 18;
    if (x > x0 && x + w > right) {
      x = x0;
      y += kLegendRow;
    }
    l.at.emplace_back(x, y);
    x += w;
  }
  l.height = y - y0 + 6;
  return l;
}

void draw_series(cairo_t* cr, const Frame& f, const Series& s, Rgb c) {
  maps::set_colour(cr, c);
  cairo_set_line_width(cr, 1.6);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  bool open = false;
  for (size_t i = 0; i < s.x.size(); ++i) {
    if (!std::isfinite(s.y[i])) {
      open = false;
      continue;
    }
    const double x = f.px(s.x[i]), y = f.py(s.y[i]);
    const bool alone = !open && (i + 1 >= s.x.size() || !std::isfinite(s.y[i + 1]));
    if (alone) {
      cairo_stroke(cr);
      cairo_arc(cr, x, y, 2.2, 0, 2 * M_PI);
      cairo_fill(cr);
      continue;
    }
    if (open)
      cairo_line_to(cr, x, y);
    else
      cairo_move_to(cr, x, y);
    open = true;
  }
  cairo_stroke(cr);
}

void draw_axes(cairo_t* cr, const Frame& f, const maps::Ticks& yt, const std::vector<double>& xt,
               const std::string& x_label) {
  cairo_set_line_width(cr, 1);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
  for (const double v : yt.values) {
    const double y = std::floor(f.py(v)) + 0.5;
    cairo_move_to(cr, f.x, y);
    cairo_line_to(cr, f.x + f.w, y);
  }
  cairo_stroke(cr);
  cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
  cairo_rectangle(cr, f.x - 0.5, f.y - 0.5, f.w + 1, f.h + 1);
  for (const double v : yt.values) {
    const double y = std::floor(f.py(v)) + 0.5;
    cairo_move_to(cr, f.x - 0.5, y);
    cairo_line_to(cr, f.x - 0.5 - kTickLen, y);
  }
  for (const double v : xt) {
    const double x = std::floor(f.px(v)) + 0.5;
    cairo_move_to(cr, x, f.y + f.h + 0.5);
    cairo_line_to(cr, x, f.y + f.h + 0.5 + kTickLen);
  }
  cairo_stroke(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (size_t k = 0; k < yt.values.size(); ++k)
    maps::draw_text(cr, yt.labels[k], f.x - kTickLen - 4, f.py(yt.values[k]) + kFont * 0.36, kFont,
                    false, 1);
  const int label_y = f.y + f.h + kTickLen + 4 + static_cast<int>(kFont);
  for (const double v : xt)
    maps::draw_text(cr, maps::tick_label(v, 1), f.px(v), label_y, kFont, false, 0.5);
  maps::draw_text(cr, x_label, f.x + f.w / 2.0, label_y + kFont + 6, kFont, false, 0.5);
}

}  // namespace

void write_series_png(const SeriesPlot& plot, const std::string& path) {
  maps::Measure m;
  Extent xe, ye;
  for (const Series& s : plot.series) {
    for (const double x : s.x) xe.add(x);
    for (const double y : s.y) ye.add(y);
  }
  if (xe.empty()) xe = {0, 1};
  if (ye.empty()) ye = {0, 1};
  const maps::Ticks yt0 = maps::nice_ticks(maps::widened(ye.lo, ye.hi), 6);
  Frame f;
  f.yr = {std::floor(ye.lo / yt0.step) * yt0.step, std::ceil(ye.hi / yt0.step) * yt0.step};
  if (f.yr.lo == f.yr.hi) f.yr = maps::widened(f.yr.lo, f.yr.hi);
  const maps::Ticks yt = maps::nice_ticks(f.yr, 6);
  f.xr = {std::floor(xe.lo), std::max(std::ceil(xe.hi), std::floor(xe.lo) + 1)};

  const maps::FittedText title =
      maps::fit_text(m, plot.title, kTitleFont, kWidth - 2.0 * kMargin, 2, true);
  double widest = 0;
  for (const std::string& s : yt.labels) widest = std::max(widest, m.width(s, kFont));
  f.x = kMargin + static_cast<int>(std::ceil(widest)) + kTickLen + 6;
  f.w = kWidth - f.x - kMargin - 10;
  const int title_line = static_cast<int>(std::lround(1.25 * title.size));
  const int title_y = static_cast<int>(std::lround(8 + title.size));
  const int units_y = title_y + static_cast<int>(title.lines.size() - 1) * title_line + 22;
  f.y = units_y + 10;
  f.h = kPlotHeight;
  const double px_per_unit = f.w / (f.xr.hi - f.xr.lo);
  const double step = x_step(f.xr.hi - f.xr.lo, px_per_unit, m.width("0000", kFont));
  std::vector<double> xt;
  for (double v = std::ceil(f.xr.lo / step) * step; v <= f.xr.hi; v += step) xt.push_back(v);
  const int legend_top = f.y + f.h + kTickLen + 2 * static_cast<int>(kFont) + 16;
  const LegendPlace legend = place_legend(m, plot.series, f.x, legend_top, kWidth - kMargin);
  const int height = legend_top + legend.height + kMargin;

  maps::Surface surf(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, height));
  maps::check_cairo(cairo_surface_status(surf.get()), "cannot make an image for the plot");
  maps::Context cr(cairo_create(surf.get()));
  cairo_set_source_rgb(cr.get(), 1, 1, 1);
  cairo_paint(cr.get());
  cairo_set_source_rgb(cr.get(), 0, 0, 0);
  for (size_t i = 0; i < title.lines.size(); ++i)
    maps::draw_text(cr.get(), title.lines[i], kWidth / 2.0,
                    title_y + static_cast<double>(i) * title_line, title.size, true, 0.5);
  maps::draw_text(cr.get(), "Units: " + plot.units, f.x, units_y, kFont, false, 0);
  draw_axes(cr.get(), f, yt, xt, plot.x_label);
  cairo_save(cr.get());
  cairo_rectangle(cr.get(), f.x, f.y, f.w, f.h);
  cairo_clip(cr.get());
  for (size_t i = 0; i < plot.series.size(); ++i)
    draw_series(cr.get(), f, plot.series[i], series_colour(i, plot.series.size()));
  cairo_restore(cr.get());
  for (size_t i = 0; i < plot.series.size(); ++i) {
    const auto [x, y] = legend.at[i];
    maps::set_colour(cr.get(), series_colour(i, plot.series.size()));
    cairo_set_line_width(cr.get(), 2.5);
    cairo_move_to(cr.get(), x, y - kFont * 0.36);
    cairo_line_to(cr.get(), x + kSwatch, y - kFont * 0.36);
    cairo_stroke(cr.get());
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    maps::draw_text(cr.get(), plot.series[i].name, x + kSwatch + 6, y, kFont, false, 0);
  }
  maps::check_cairo(cairo_status(cr.get()), "cannot draw the plot '" + path + "'");
  maps::write_png(surf.get(), path);
}

}  // namespace aggregate
