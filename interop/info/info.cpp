// rastertools info: size, bands, years and per-band statistics of a raw raster file; pixel
// count, extent, resolution, convention and placement of a grid file; whether the two agree.
#include "info.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "grid.h"
#include "rawfile.h"
#include "rawinput.h"
#include "report.h"
#include "sidecar.h"
#include "stats.h"
#include "timeaxis.h"
#include "tool.h"

namespace interop {

namespace {

constexpr const char* kProgram = "rastertools-info";

constexpr const char* kDescription =
    "Describes a raw raster file (float32, band after band): its size, the whole bands for\n"
    "npixel and the bytes left over, the years for a count of bands per year, and per band\n"
    "(or a range A-B, 0-based) the minimum, maximum and mean of the values that are neither\n"
    "NaN, infinite nor a fill value, with counts of NaN, infinities and the fill values 1e20 and\n"
    "-9999. With a grid file (--grid, or named by the sidecar FILE.hdr) it also describes the\n"
    "grid: pixel count, longitude and latitude range, the resolution and latitude convention\n"
    "(cell centre or northern edge) it fits, pixels sharing a cell or off the globe; and says\n"
    "whether file, sidecar and grid agree. --csv prints one row per band:\n"
    "band,year,band_of_year,min,max,mean,area_mean,nan,inf,fill, where area_mean is the\n"
    "suite's area-weighted global mean (cosine of latitude, as corvane weights) over the same\n"
    "values as mean (NaN, infinities and fill values left out, as the counts say), and year is\n"
    "the calendar year (1 to 9999) with --first-year, else the 0-based year.\n"
    "\n"
    "The sidecar FILE.hdr is used when it belongs to FILE: FILE is a raw file and the sidecar's\n"
    "samples (pixels a band) make whole bands of FILE's size; otherwise a warning says why it is\n"
    "not used. A NetCDF (classic or NetCDF-4/HDF5), TIFF/GeoTIFF or PNG file, told by its first\n"
    "bytes, is described instead: its variables, grid and time axis, with the command that\n"
    "imports it. FILE and GRID must be regular files: a FIFO or device is refused at once (it\n"
    "gives no size to tell the bands), never waited on.\n"
    "\n"
    "Exit status: 0 described (and file, sidecar and grid agree), 1 they disagree (the\n"
    "description is printed, with \"Agreement: NO\" and the reasons on standard error) or a file\n"
    "cannot be read, 2 a command line that cannot be used.";

constexpr const char* kExample =
    "  rastertools info tas.bin --grid grid.bin --bands-per-year 12 --first-year 1971\n"
    "  rastertools info tas.bin --npixel 61534 --bands 0-11 --csv\n"
    "  rastertools info --grid grid.bin\n";

struct Args {
  std::string file;
  std::string bands;
  std::string convention;
  std::string res;
  bool csv = false;
  RasterOptions opt;
};

// What the grid file holds, placed at the given or inferred resolution and convention.
struct GridReport {
  std::string path;
  std::vector<GridPoint> points;
  std::optional<double> res;
  std::optional<GlobalGrid> lattice;  // set with res
  bool res_given = false;
  std::optional<Convention> convention;
  bool convention_given = false;
  ConventionFit fit;
  PlacementCheck placement;
};

std::string fmt_res(double res) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", res);
  return b;
}

GridReport examine_grid(const std::string& path, const RasterOptions& opt) {
  GridReport g;
  g.path = path;
  g.points = read_grid(path);
  g.res_given = opt.res.has_value();
  g.lattice = fit_lattice(g.points, opt.res, opt.origin);
  if (!g.lattice && opt.res) g.lattice = GlobalGrid(*opt.res, opt.origin.value_or(Origin{}));
  if (!g.lattice) return g;
  g.res = g.lattice->res;
  g.fit = fit_convention(g.points, *g.lattice);
  g.convention_given = opt.convention.has_value();
  g.convention = opt.convention ? opt.convention : g.fit.convention;
  if (!g.convention) return g;
  const GlobalGrid& global = *g.lattice;
  g.placement = check_placement(global, place_pixels(global, *g.convention, g.points));
  return g;
}

void print_grid(const GridReport& g) {
  int16_t lo_lon = g.points[0].lon100, hi_lon = lo_lon, lo_lat = g.points[0].lat100,
          hi_lat = lo_lat;
  for (const GridPoint& p : g.points) {
    lo_lon = std::min(lo_lon, p.lon100);
    hi_lon = std::max(hi_lon, p.lon100);
    lo_lat = std::min(lo_lat, p.lat100);
    hi_lat = std::max(hi_lat, p.lat100);
  }
  std::printf("Grid:      %s: %zu pixels\n", g.path.c_str(), g.points.size());
  std::printf("  lon %.2f .. %.2f, lat %.2f .. %.2f\n", lo_lon / 100.0, hi_lon / 100.0,
              lo_lat / 100.0, hi_lat / 100.0);
  if (!g.res) {
    std::printf("  fits no resolution of 2, 1, 0.5, 0.25, 1/6, 1/12 degrees\n");
    return;
  }
  const GlobalGrid& global = *g.lattice;
  std::printf("  %s degree grid (%lld x %lld cells, %s)", fmt_res(*g.res).c_str(),
              static_cast<long long>(global.nlon), static_cast<long long>(global.nlat),
              g.res_given ? "given" : "inferred");
  if (!global.default_origin())
    std::printf(", lattice origin %s %s", format_degrees(global.west).c_str(),
                format_degrees(global.north).c_str());
  if (!g.convention) {
    const GridPoint p = g.points[static_cast<size_t>(g.fit.misfit)];
    std::printf(g.fit.off_globe ? ", pixel %lld at lat %.2f lies off the globe\n"
                                : ", latitudes fit neither convention (pixel %lld at lat %.2f)\n",
                static_cast<long long>(g.fit.misfit), p.lat());
    return;
  }
  std::printf(", %s latitudes (%s)\n", convention_name(*g.convention),
              g.convention_given ? "given" : "inferred");
  std::printf("  %lld pixels share a cell with an earlier one, %lld off the globe\n",
              static_cast<long long>(g.placement.duplicates),
              static_cast<long long>(g.placement.off_globe));
}

void warn_grid(const GridReport& g) {
  if (g.placement.duplicates > 0)
    raster::print_tool_warning(kProgram, "grid file %s: pixel %lld shares a cell with pixel %lld",
                               g.path.c_str(), static_cast<long long>(g.placement.first_duplicate),
                               static_cast<long long>(g.placement.first_duplicate_of));
  if (g.placement.off_globe > 0)
    raster::print_tool_warning(kProgram, "grid file %s: pixel %lld lies off the globe",
                               g.path.c_str(), static_cast<long long>(g.placement.first_off_globe));
}

void print_stat_value(double v, bool csv, int digits) {
  if (csv)
    std::printf("%.*g", digits, v);
  else
    std::printf(" %12.*g", digits, v);
}

// One band's statistics: a CSV row or a table row.
void print_band(int64_t band, const BandStats& s, const RasterOptions& opt,
                std::optional<double> area_mean, bool csv) {
  const bool timed = opt.bands_per_year.has_value();
  const int64_t bpy = timed ? *opt.bands_per_year : 1;
  const int64_t year = band / bpy + (opt.first_year ? *opt.first_year : 0);
  if (csv) {
    std::printf("%lld,", static_cast<long long>(band));
    if (timed)
      std::printf("%lld,%lld", static_cast<long long>(year), static_cast<long long>(band % bpy));
    else
      std::printf(",");
    for (int k = 0; k < 3; ++k) {
      std::printf(",");
      const double v = k == 0   ? static_cast<double>(s.min)
                       : k == 1 ? static_cast<double>(s.max)
                                : s.mean;
      if (s.valid > 0) print_stat_value(v, true, k == 2 ? 17 : 9);
    }
    std::printf(",");
    if (area_mean) print_stat_value(*area_mean, true, 17);
    std::printf(",%lld,%lld,%lld\n", static_cast<long long>(s.nan), static_cast<long long>(s.inf),
                static_cast<long long>(s.fill_1e20 + s.fill_9999));
    return;
  }
  std::string label = "-";
  if (timed && opt.first_year) label = band_label(*opt.first_year, bpy, band);
  if (timed && !opt.first_year)
    label = "y" + std::to_string(year) + " b" + std::to_string(band % bpy);
  std::printf("%6lld %-12s", static_cast<long long>(band), label.c_str());
  if (s.valid > 0) {
    print_stat_value(static_cast<double>(s.min), false, 7);
    print_stat_value(static_cast<double>(s.max), false, 7);
    print_stat_value(s.mean, false, 7);
  } else {
    std::printf(" %12s %12s %12s", "-", "-", "-");
  }
  if (area_mean)
    print_stat_value(*area_mean, false, 7);
  else
    std::printf(" %12s", "-");
  std::printf(" %6lld %6lld %6lld %6lld\n", static_cast<long long>(s.nan),
              static_cast<long long>(s.inf), static_cast<long long>(s.fill_1e20),
              static_cast<long long>(s.fill_9999));
}

// The suite's own area-weighted mean over the grid, of the values band_stats counts as valid
// (the others weigh nothing), or nothing without a usable grid or valid value.
class AreaMean {
 public:
  AreaMean(const GridReport* g, int64_t npixel) : npixel_(npixel) {
    // The suite's weights assume rows from 90N.
    if (g == nullptr || !g->lattice || g->lattice->north != 90.0 ||
        static_cast<int64_t>(g->points.size()) != npixel)
      return;
    const GlobalGrid& global = *g->lattice;
    raster::InFile f = raster::InFile::try_open(g->path.c_str());
    if (!f.is_open()) throw ToolError("cannot open grid file " + g->path);
    grid_.emplace(f, npixel, global.nlat, global.nlon);
    values_.resize(static_cast<size_t>(npixel));
    weights_.resize(static_cast<size_t>(npixel));
  }
  std::optional<double> of(const std::vector<float>& band) {
    if (!grid_) return std::nullopt;
    bool any = false;
    for (size_t i = 0; i < band.size(); ++i) {
      const bool valid = is_valid_value(band[i]);
      values_[i] = valid ? band[i] : 0.0f;
      weights_[i] = valid ? 1.0f : 0.0f;
      any = any || valid;
    }
    if (!any) return std::nullopt;
    double mean = 0;
    double sd = 0;
    grid_->stats(values_.data(), npixel_, 1, 1, &mean, &sd, weights_.data());
    if (std::isnan(mean)) return std::nullopt;  // every valid pixel lies off the grid
    return mean;
  }

 private:
  int64_t npixel_;
  std::optional<raster::AreaWeightedGrid> grid_;
  std::vector<float> values_;
  std::vector<float> weights_;
};

void print_file_summary(const RawFile& raw, const RasterOptions& opt, bool has_sidecar) {
  std::printf("File:      %s: %lld bytes = %lld band(s) of %lld pixels + %lld bytes left over\n",
              raw.path().c_str(), static_cast<long long>(raw.size()),
              static_cast<long long>(raw.bands()), static_cast<long long>(raw.npixel()),
              static_cast<long long>(raw.leftover()));
  if (has_sidecar) std::printf("Sidecar:   %s\n", sidecar_path(raw.path()).c_str());
  if (!opt.bands_per_year) return;
  const int64_t bpy = *opt.bands_per_year;
  const int64_t years = raw.bands() / bpy;
  const int64_t extra = raw.bands() % bpy;
  std::printf("Years:     %lld whole year(s) of %lld band(s)", static_cast<long long>(years),
              static_cast<long long>(bpy));
  if (opt.first_year && years > 0)
    std::printf(", %lld-%lld", static_cast<long long>(*opt.first_year),
                static_cast<long long>(*opt.first_year + years - 1));
  if (extra > 0) std::printf(" + %lld band(s) of a further year", static_cast<long long>(extra));
  std::printf("\n");
}

// Where the file, its sidecar and its grid tell different stories.
std::vector<std::string> disagreements(const RawFile& raw, const GridReport* g,
                                       const std::optional<Sidecar>& sc) {
  std::vector<std::string> no;
  if (g != nullptr && static_cast<int64_t>(g->points.size()) != raw.npixel())
    no.push_back("npixel " + std::to_string(raw.npixel()) + " is not the grid's " +
                 std::to_string(g->points.size()) + " pixels");
  if (raw.leftover() != 0)
    no.push_back("the size is not a whole number of bands of " + std::to_string(raw.npixel()) +
                 " pixels");
  if (sc && sc->bands != 0 && sc->bands != raw.bands())
    no.push_back("the sidecar says " + std::to_string(sc->bands) + " bands, the file holds " +
                 std::to_string(raw.bands()));
  if (sc && g != nullptr && sc->resolution && g->res && *sc->resolution != *g->res)
    no.push_back("the sidecar's resolution " + fmt_res(*sc->resolution) + " is not the grid's " +
                 fmt_res(*g->res));
  return no;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const std::string& n : parts) all += (all.empty() ? "" : "; ") + n;
  return all;
}

void print_agreement(const RawFile& raw, const GridReport* g, const std::vector<std::string>& no) {
  if (!no.empty())
    std::printf("Agreement: NO: %s\n", joined(no).c_str());
  else if (g != nullptr)
    std::printf("Agreement: yes: %lld pixels a band, as the grid holds\n",
                static_cast<long long>(raw.npixel()));
  else
    std::printf("Agreement: yes: %lld pixels a band and %lld bands, as the sidecar says\n",
                static_cast<long long>(raw.npixel()), static_cast<long long>(raw.bands()));
}

// The options that describe a raw file, given for a file of another format.
void refuse_raw_options(const Args& a, FileFormat f) {
  const bool raw_options = a.opt.npixel || a.opt.grid || a.opt.bands_per_year || a.opt.first_year ||
                           !a.bands.empty() || !a.res.empty() || !a.convention.empty() || a.csv;
  if (raw_options)
    throw usage_error(a.file + " is " + format_text(f) +
                      ": --npixel, --grid, --res, --convention, --bands-per-year, --first-year, "
                      "--bands and --csv describe raw raster files; give the file alone");
}

int info_main(int argc, char** argv) {
  CLI::App app;
  Args a;
  setup_app(app, kDescription, kExample);
  app.add_option("FILE", a.file, "Raw raster file (float32 LE, band-sequential)");
  add_integer_option(app, "--npixel", a.opt.npixel,
                     "Pixels per band (default: sidecar, else the grid)", 1, kMaxNpixel);
  app.add_option("--grid", a.opt.grid, "Grid file");
  app.add_option("--res", a.res, "Resolution in degrees, e.g. 0.5 or 1/12 (default: inferred)");
  app.add_option("--convention", a.convention, "centre or northedge (default: inferred)");
  add_integer_option(app, "--bands-per-year", a.opt.bands_per_year,
                     "Bands per year (12 for monthly), 1 to 8784", 1, kMaxBandsPerYear);
  add_integer_option(app, "--first-year", a.opt.first_year, "Year of the first band, 1 to 9999",
                     kMinYear, kMaxYear);
  app.add_option("--bands", a.bands, "Band range A-B to describe (default: all)");
  app.add_flag("--csv", a.csv, "One CSV row per band instead of the description");
  parse_command_line(app, argc, argv);

  if (!a.file.empty()) {
    check_input_file(a.file);
    const FileFormat f = sniff_format(a.file);
    if (f != FileFormat::raw) {
      refuse_raw_options(a, f);
      sidecar_for(a.file, kProgram);  // says that a sidecar beside it is not used
      return describe_other_format(a.file, f);
    }
  }
  if (!a.convention.empty()) a.opt.convention = parse_convention(a.convention);
  if (!a.res.empty()) a.opt.res = parse_resolution(a.res);
  if (a.opt.first_year && !a.opt.bands_per_year)
    throw usage_error("--first-year " + std::to_string(*a.opt.first_year) +
                      " needs --bands-per-year to place the bands in years");
  const std::optional<BandRange> given_bands =
      a.bands.empty() ? std::nullopt : std::optional(parse_band_range(a.bands));
  if (a.file.empty()) {
    if (!a.opt.grid) throw usage_error("give a raw raster FILE, or --grid GRID to describe a grid");
    const GridReport g = examine_grid(*a.opt.grid, a.opt);
    print_grid(g);
    warn_grid(g);
    return raster::status::ok;
  }
  const std::optional<Sidecar> sc = sidecar_for(a.file, kProgram);
  RasterOptions given = a.opt;
  given.grid.reset();  // a grid that disagrees is reported below, not refused
  RasterOptions opt = resolve_defaults(a.file, given, sc);
  if (!a.opt.grid && sc && sc->grid_file) a.opt.grid = sidecar_grid_path(a.file, *sc->grid_file);
  std::optional<GridReport> grid;
  if (a.opt.grid) grid = examine_grid(*a.opt.grid, opt);
  if (!opt.npixel && grid) opt.npixel = static_cast<int64_t>(grid->points.size());
  if (!opt.npixel)
    throw usage_error("no pixel count for " + a.file + ": give --npixel N or --grid GRID");
  const RawFile raw(a.file, *opt.npixel);
  if (raw.leftover() != 0 && raw.bands() == 0)
    raster::print_tool_warning(kProgram, "%s: its %lld bytes make no whole band of %lld pixels",
                               a.file.c_str(), static_cast<long long>(raw.size()),
                               static_cast<long long>(raw.npixel()));
  else if (raw.leftover() != 0)
    raster::print_tool_warning(
        kProgram,
        "%s: %lld bytes are not a whole number of bands of %lld pixels: "
        "%lld bytes after band %lld are left over",
        a.file.c_str(), static_cast<long long>(raw.size()), static_cast<long long>(raw.npixel()),
        static_cast<long long>(raw.leftover()), static_cast<long long>(raw.bands() - 1));
  // Checked before anything is printed; a file without a whole band has no table.
  const bool has_bands = raw.bands() > 0;
  const BandRange range =
      has_bands ? check_band_range(given_bands ? &*given_bands : nullptr, raw.bands(), a.file)
                : BandRange{};
  if (has_bands && opt.first_year && opt.bands_per_year)
    check_years(*opt.first_year, *opt.bands_per_year, range.last, a.file);
  if (grid) warn_grid(*grid);
  const GridReport* g = grid ? &*grid : nullptr;
  const std::vector<std::string> no = disagreements(raw, g, sc);
  const bool judged = g != nullptr || sc.has_value();
  if (!a.csv) {
    print_file_summary(raw, opt, sc.has_value());
    if (grid) print_grid(*grid);
    if (judged) print_agreement(raw, g, no);
  }

  AreaMean area(g, raw.npixel());
  if (has_bands) {
    if (a.csv)
      std::printf("band,year,band_of_year,min,max,mean,area_mean,nan,inf,fill\n");
    else
      std::printf("  band %-12s %12s %12s %12s %12s %6s %6s %6s %6s\n",
                  opt.first_year ? "date" : "year/band", "min", "max", "mean", "area_mean", "NaN",
                  "Inf", "1e20", "-9999");
    std::vector<float> band(static_cast<size_t>(raw.npixel()));
    for (int64_t b = range.first; b <= range.last; ++b) {
      raw.read_band(b, band);
      print_band(b, band_stats(band), opt, area.of(band), a.csv);
    }
  }
  if (std::fflush(stdout) != 0) throw ToolError("cannot write to standard output");
  if (judged && !no.empty())
    throw ToolError(a.file + " does not agree with its " + (g != nullptr ? "grid" : "sidecar") +
                    ": " + joined(no));
  return raster::status::ok;
}

}  // namespace

bool is_valid_value(float v) {
  return !std::isnan(v) && !std::isinf(v) && v != 1e20f && v != -9999.0f;
}

BandStats band_stats(std::span<const float> band) {
  BandStats s;
  double sum = 0;
  for (const float v : band) {
    if (std::isnan(v)) {
      ++s.nan;
    } else if (std::isinf(v)) {
      ++s.inf;
    } else if (v == 1e20f) {
      ++s.fill_1e20;
    } else if (v == -9999.0f) {
      ++s.fill_9999;
    } else {
      if (s.valid == 0 || v < s.min) s.min = v;
      if (s.valid == 0 || v > s.max) s.max = v;
      sum += static_cast<double>(v);
      ++s.valid;
    }
  }
  if (s.valid > 0) s.mean = sum / static_cast<double>(s.valid);
  return s;
}

int run_info(int argc, char** argv) {
  return run_tool(kProgram, [&] { return info_main(argc, argv); });
}

}  // namespace interop
