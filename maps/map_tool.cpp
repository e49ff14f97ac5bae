#include "map_tool.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>

#include "rawfile.h"
#include "rawinput.h"

namespace maps {
namespace {

using interop::ToolError;
using interop::usage_error;

// Small maps are drawn larger: a global map at 2 degrees gets 4 pixels per cell.
constexpr int auto_width = 720;
constexpr int max_scale = 64;
// The widest field a band number needs (19 digits and a sign); wider ones only pad.
constexpr int max_field_width = 20;

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// An output pattern split at its conversion (%d with optional flag and width), %% read as %.
struct Pattern {
  std::string prefix, conversion, suffix;
  int conversions = 0;
  int width = 0;       // of the first conversion's field
  bool stray = false;  // a % that starts no conversion
};

Pattern split_pattern(const std::string& s) {
  Pattern p;
  std::string* part = &p.prefix;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      *part += s[i];
      continue;
    }
    if (i + 1 < s.size() && s[i + 1] == '%') {
      *part += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '0' || s[j] == ' ' || s[j] == '+' || s[j] == '-')) ++j;
    const size_t digits = j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
    if (j < s.size() && s[j] == 'd') {
      if (++p.conversions == 1) {
        p.conversion = s.substr(i, j - i) + "lld";
        p.width = j - digits > 4 ? max_field_width + 1
                                 : (j > digits ? std::stoi(s.substr(digits, j - digits)) : 0);
        part = &p.suffix;
      }
      i = j;
    } else {
      p.stray = true;
    }
  }
  return p;
}

const Colormap& colormap_of(const MapOptions& o) {
  const std::string name = !o.cmap.empty() ? o.cmap : o.center ? "rdbu" : "viridis";
  const Colormap* c = find_colormap(name);
  if (!c) throw usage_error("unknown colour map '" + name + "': choose one of " + colormap_names());
  return *c;
}

// --graticule: 0 for lines at the labelled ticks, else the step in degrees (a fraction allowed).
// A bare --graticule reaches here as "true", as the command-line parser gives a flag's value.
std::optional<double> graticule_of(const MapOptions& o) {
  if (!o.graticule) return std::nullopt;
  if (*o.graticule == "true" || *o.graticule == "0") return 0.0;
  try {
    return interop::parse_resolution(*o.graticule);
  } catch (const ToolError&) {
    throw usage_error("--graticule=" + *o.graticule +
                      ": give a step in degrees such as 10 or 1/2 (or no value for lines at the "
                      "labelled ticks)");
  }
}

void check_options(const MapOptions& o) {
  if (o.band && o.bands) throw usage_error("give either --band or --bands, not both");
  if (o.band && *o.band < 0)
    throw usage_error("--band " + std::to_string(*o.band) + " is negative");
  if (o.scale < 0 || o.scale > max_scale)  // 0: chosen from the map's width
    throw usage_error("--scale " + std::to_string(o.scale) + " is not 1 to " +
                      std::to_string(max_scale) + " pixels per cell");
  if (!o.range.empty() && !(o.range[0] < o.range[1]))
    throw usage_error("--range " + number(o.range[0]) + " " + number(o.range[1]) +
                      ": MIN must be below MAX");
  for (double v : o.range) {
    if (!std::isfinite(v)) throw usage_error("--range needs finite numbers");
  }
  const auto& p = o.percentiles;
  if (!(p[0] >= 0 && p[0] < p[1] && p[1] <= 100))
    throw usage_error("--percentiles " + number(p[0]) + " " + number(p[1]) +
                      ": need 0 <= LO < HI <= 100");
  if (o.center && !std::isfinite(*o.center)) throw usage_error("--center needs a finite number");
  if (o.common_range && !o.bands) throw usage_error("--common-range needs --bands A-B");
  if (o.common_range && !o.range.empty())
    throw usage_error("give either --common-range or --range, not both (--range is common)");
  colormap_of(o);
  graticule_of(o);
}

interop::RasterOptions resolved(const MapOptions& o) {
  interop::RasterOptions r =
      interop::resolve_defaults(o.raw, o.raster, interop::sidecar_for(o.raw, "rastertools-map"));
  if (!r.grid)
    throw usage_error("no grid for " + o.raw + ": give --grid (or a sidecar that names one)");
  return r;
}

int scale_of(const MapOptions& o, const Window& w) {
  if (o.scale > 0) return o.scale;
  return std::clamp(auto_width / w.ncol(), 1, max_scale);
}

// The band's values in the cells of the window; `shown` gets the values of the pixels inside.
CellField field_of(const interop::PlacedGrid& g, const Window& w, const std::vector<float>& band,
                   std::vector<float>* shown) {
  CellField f;
  f.nrow = w.nrow();
  f.ncol = w.ncol();
  f.res = g.global.res;
  f.west = g.global.lon_centre(w.c0) - f.res / 2;
  f.north = g.global.lat_centre(w.r0) + f.res / 2;
  const size_t n = static_cast<size_t>(f.nrow) * static_cast<size_t>(f.ncol);
  f.value.assign(n, 0.0f);
  f.has_pixel.assign(n, 0);
  shown->clear();
  for (size_t p = 0; p < g.cells.size(); ++p) {
    const int64_t row = g.cells[p] / g.global.nlon;
    const int64_t col = g.cells[p] % g.global.nlon;
    if (row < w.r0 || row > w.r1 || col < w.c0 || col > w.c1) continue;
    const size_t i = static_cast<size_t>((row - w.r0) * f.ncol + (col - w.c0));
    f.value[i] = band[p];
    f.has_pixel[i] = 1;
    shown->push_back(band[p]);
  }
  return f;
}

// The finite values' percentile range and extremes: of one map, or of all (--common-range).
struct Spread {
  Range range{0, 1};
  double min = 0, max = 0;
  bool any = false;  ///< a finite value was shown
};

Spread spread_of(const MapOptions& o, const std::vector<float>& shown) {
  const std::vector<float> sorted = sorted_finite(shown);
  Spread s;
  s.range = robust_range(sorted, o.percentiles[0], o.percentiles[1]);
  s.any = !sorted.empty();
  if (s.any) {
    s.min = sorted.front();
    s.max = sorted.back();
  }
  return s;
}

struct BandStyle {
  Range range;
  double cmap_lo = 0, cmap_hi = 1;
  std::string how;
};

// The range and the part of the colour map of one map. With --center V the range is widened to
// be symmetric about V when the values lie on both sides of it (or --range fixes the scale);
// when all lie on one side it stays as the percentiles give it, drawn with the half of a
// diverging colour map on that side (lighter nearer V).
BandStyle style_of(const MapOptions& o, const Spread& s, const std::string& common) {
  BandStyle b;
  if (!o.range.empty()) {
    b.range = {o.range[0], o.range[1]};
    b.how = "given";
  } else {
    b.range = s.range;
    b.how = !s.any ? "no finite value"
                   : "percentiles " + number(o.percentiles[0]) + "-" + number(o.percentiles[1]);
    if (!common.empty()) b.how = "common to " + common + ": " + b.how;
  }
  if (!o.center) return b;
  const double v = *o.center;
  const Side side = o.range.empty() && s.any ? side_of(s.min, s.max, v) : Side::both;
  if (side == Side::both) {
    b.range = centred(b.range, v);
    b.how += ", centred on " + number(v);
    return b;
  }
  const Colormap& c = colormap_of(o);
  b.how += std::string(", all values ") + (side == Side::above ? "above" : "below") +
           " the centre " + number(v) + ": sequential";
  if (c.diverging) {
    (side == Side::above ? b.cmap_lo : b.cmap_hi) = 0.5;
    b.how += std::string(", the ") + (side == Side::above ? "upper" : "lower") + " half of " +
             std::string(c.name);
  }
  return b;
}

// --common-range: the spread of all values the maps show, exact, in two passes over the bands.
Spread common_spread(const MapOptions& o, const interop::PlacedGrid& g, const Window& w,
                     const interop::RawFile& raw, interop::BandRange want, int64_t npixel) {
  PercentileCounter counter({o.percentiles[0], o.percentiles[1]});
  std::vector<float> band(static_cast<size_t>(npixel));
  std::vector<float> shown;
  for (int pass = 0; pass < 2; ++pass) {
    for (int64_t b = want.first; b <= want.last; ++b) {
      raw.read_band(b, band);
      field_of(g, w, band, &shown);
      if (pass == 0) {
        counter.first_pass(shown);
      } else {
        counter.second_pass(shown);
      }
    }
  }
  Spread s;
  s.any = counter.finite() > 0;
  if (s.any) {
    s.range = widened(counter.value(0), counter.value(1));
    s.min = counter.min();
    s.max = counter.max();
  }
  return s;
}

void report_map(std::ostream& out, const std::string& name, int64_t band, const MapStyle& s,
                const BandStyle& b, const CellField& f) {
  out << name << ": band " << band << " \"" << s.title << "\", range " << number(s.range.lo)
      << " .. " << number(s.range.hi) << " (" << b.how << "), ticks";
  for (const std::string& t : s.ticks.labels) out << ' ' << t;
  out << ", " << s.counts.nan << " NaN, " << s.counts.below << " below, " << s.counts.above
      << " above, extent " << number(f.west) << ' ' << number(f.west + f.ncol * f.res) << ' '
      << number(f.north - f.nrow * f.res) << ' ' << number(f.north) << '\n';
}

}  // namespace

Window window_of(const interop::GlobalGrid& g, const std::vector<double>& extent) {
  Window w{0, g.nlat - 1, 0, g.nlon - 1};
  if (extent.empty()) return w;
  const double west = extent[0], east = extent[1], south = extent[2], north = extent[3];
  const std::string text =
      number(west) + " " + number(east) + " " + number(south) + " " + number(north);
  if (!(west >= -180 && east <= 180 && south >= -90 && north <= 90))
    throw usage_error("--extent " + text + " lies off the globe (W E S N within -180 180 -90 90)");
  if (!(west < east && south < north))
    throw usage_error("--extent " + text + ": need W < E and S < N");
  const double r = g.res;
  const double eps = 1e-9;
  // Cells whose centres lie inside, counted from the centres of column 0 and row 0.
  w.c0 = std::max<int64_t>(0, static_cast<int64_t>(std::ceil((west - g.lon_centre(0)) / r - eps)));
  w.c1 = std::min(g.nlon - 1, static_cast<int64_t>(std::floor((east - g.lon_centre(0)) / r + eps)));
  w.r0 = std::max<int64_t>(0, static_cast<int64_t>(std::ceil((g.lat_centre(0) - north) / r - eps)));
  w.r1 =
      std::min(g.nlat - 1, static_cast<int64_t>(std::floor((g.lat_centre(0) - south) / r + eps)));
  if (w.c0 > w.c1 || w.r0 > w.r1)
    throw usage_error("--extent " + text + " holds no cell centre of the " + number(r) +
                      " degree grid");
  return w;
}

Window pixel_window(const interop::GlobalGrid& g, const std::vector<int64_t>& cells) {
  if (cells.empty()) return {0, g.nlat - 1, 0, g.nlon - 1};
  Window w{g.nlat, -1, g.nlon, -1};
  for (int64_t cell : cells) {
    const int64_t row = cell / g.nlon, col = cell % g.nlon;
    w.r0 = std::min(w.r0, row);
    w.r1 = std::max(w.r1, row);
    w.c0 = std::min(w.c0, col);
    w.c1 = std::max(w.c1, col);
  }
  if (static_cast<double>(g.nlon - w.ncol()) * g.res < global_gap_degrees) {
    w.c0 = 0;
    w.c1 = g.nlon - 1;
  }
  return w;
}

void check_pattern(const std::string& pattern) {
  const Pattern p = split_pattern(pattern);
  if (p.conversions != 1 || p.stray)
    throw usage_error("--out '" + pattern +
                      "' must hold one band number conversion such as %d or %03d (and no other %) "
                      "when --bands asks for several maps");
  if (p.width > max_field_width)
    throw usage_error("--out '" + pattern + "': a field wider than " +
                      std::to_string(max_field_width) +
                      " characters only pads the band number; give %d or %03d");
}

std::string output_name(const std::string& pattern, int64_t band) {
  const Pattern p = split_pattern(pattern);
  char buf[2 * max_field_width + 8];  // checked by check_pattern: the field fits whole
  const int n = std::snprintf(buf, sizeof buf, p.conversion.c_str(), static_cast<long long>(band));
  if (n < 0 || static_cast<size_t>(n) >= sizeof buf)
    throw usage_error("--out '" + pattern + "' gives a band number field too wide");
  return p.prefix + buf + p.suffix;
}

std::vector<std::string> output_names(const MapOptions& o, interop::BandRange want) {
  std::vector<std::string> names;
  for (int64_t b = want.first; b <= want.last; ++b)
    names.push_back(o.bands ? output_name(o.out, b) : o.out);
  // Where each name leads (links followed), so that two names of one file count as one.
  std::vector<std::pair<std::string, std::string>> where;
  for (const std::string& n : names) {
    std::error_code ec;
    const std::filesystem::path c = std::filesystem::weakly_canonical(n, ec);
    where.emplace_back(ec ? n : c.string(), n);
  }
  std::sort(where.begin(), where.end());
  for (size_t i = 1; i < where.size(); ++i)
    if (where[i].first == where[i - 1].first)
      throw usage_error("--out '" + o.out + "' gives two bands the same file (" +
                        where[i - 1].second + " and " + where[i].second +
                        "); each map needs a file of its own");
  return names;
}

std::string default_title(const std::string& raw, const interop::RasterOptions& r, int64_t band) {
  std::string name = std::filesystem::path(raw).filename().string();
  if (r.variable) name = *r.variable;
  if (r.long_name) name = *r.long_name + (r.variable ? " (" + *r.variable + ")" : "");
  std::string t = name + ", band " + std::to_string(band);
  if (r.bands_per_year && r.first_year) {
    const int64_t k = *r.bands_per_year;
    t += " (" + std::to_string(*r.first_year + band / k);
    if (k > 1) t += ", " + std::to_string(band % k + 1) + " of " + std::to_string(k);
    t += ")";
  }
  return t;
}

int run_map(const MapOptions& o, std::ostream& report) {
  check_options(o);
  interop::check_raw_input(o.raw);
  const interop::RasterOptions r = resolved(o);
  const interop::PlacedGrid grid = interop::place_grid(*r.grid, r.res, r.convention, r.origin);
  const interop::RawFile raw(o.raw, *r.npixel);
  raw.warn_leftover("rastertools-map");
  interop::BandRange want{o.band.value_or(0), o.band.value_or(0)};
  if (o.bands) want = interop::parse_band_range(*o.bands);
  want = interop::check_band_range(&want, raw.bands(), o.raw);
  if (r.first_year && r.bands_per_year)
    interop::check_years(*r.first_year, *r.bands_per_year, want.last, o.raw);
  // With --bands the name is a pattern, even for a range of one band.
  if (o.bands) check_pattern(o.out);
  const Window w =
      o.extent.empty() ? pixel_window(grid.global, grid.cells) : window_of(grid.global, o.extent);

  MapStyle style;
  style.cmap = &colormap_of(o);
  style.scale = scale_of(o, w);
  style.units = r.units.value_or("");
  style.graticule = graticule_of(o);
  const std::vector<std::string> inputs{o.raw, interop::sidecar_path(o.raw), *r.grid};
  const std::vector<std::string> names = output_names(o, want);
  // Every output is checked before anything is drawn, and renamed only when all are drawn.
  std::vector<std::unique_ptr<interop::OutputTarget>> outs;
  for (const std::string& name : names) {
    interop::refuse_output_over_inputs(name, inputs);
    outs.push_back(std::make_unique<interop::OutputTarget>(name, "PNG map", true));
  }
  std::optional<Spread> common;
  if (o.common_range) {
    common = common_spread(o, grid, w, raw, want, *r.npixel);
  }
  const std::string common_text =
      o.common_range ? "bands " + std::to_string(want.first) + "-" + std::to_string(want.last) : "";
  std::vector<float> band(static_cast<size_t>(*r.npixel));
  std::vector<float> shown;
  std::ostringstream lines;  // reported once every map is in place
  for (int64_t b = want.first; b <= want.last; ++b) {
    interop::OutputTarget& out = *outs[static_cast<size_t>(b - want.first)];
    raw.read_band(b, band);
    const CellField field = field_of(grid, w, band, &shown);
    const BandStyle bs = style_of(o, common ? *common : spread_of(o, shown), common_text);
    style.range = bs.range;
    style.cmap_lo = bs.cmap_lo;
    style.cmap_hi = bs.cmap_hi;
    style.counts = count_outside(shown, style.range);
    style.title = o.title ? *o.title : default_title(o.raw, r, b);
    style.ticks = fitted_ticks(layout(field, style), style.range);
    write_map_png(field, style, out);
    report_map(lines, out.path(), b, style, bs, field);
  }
  for (auto& out : outs) out->commit();
  // A map on standard output keeps it for the PNG's bytes: the report goes to stderr.
  const bool on_stdout =
      std::any_of(outs.begin(), outs.end(), [](const auto& out) { return out->is_stdout(); });
  std::ostream& sink = on_stdout && &report == &std::cout ? std::cerr : report;
  sink << lines.str() << std::flush;
  if (!sink) throw ToolError("cannot write the report of the maps");
  return 0;
}

}  // namespace maps
