#include "fldstat.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "band_source.h"
#include "cli.h"
#include "plot.h"
#include "report.h"
#include "tool.h"

namespace aggregate {

void zone_stats(const float* band, const std::vector<double>& weights, const Zones& zones,
                Stat stat, ZoneValue* out) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (size_t z = 0; z < zones.zones.size(); ++z) {
    ZoneValue r;
    double acc = -0.0;
    float extreme = std::numeric_limits<float>::quiet_NaN();
    for (const int64_t p : zones.zones[z].pixels) {
      const float v = band[p];
      if (std::isnan(v)) {
        ++r.skipped;
        continue;
      }
      ++r.used;
      const double w = weights[static_cast<size_t>(p)];
      r.weight += w;
      if (stat == Stat::sum || stat == Stat::mean) {
        acc += w * static_cast<double>(v);
      } else if (std::isnan(extreme) || (stat == Stat::min ? v < extreme : v > extreme)) {
        extreme = v;
      }
    }
    if (r.used == 0)
      r.value = nan;
    else if (stat == Stat::sum)
      r.value = acc;
    else if (stat == Stat::mean)
      r.value = acc / r.weight;
    else
      r.value = static_cast<double>(extreme);
    out[z] = r;
  }
}

namespace {

constexpr const char* kProgram = "rastertools-fldstat";

constexpr const char* kDescription =
    "Per band, a statistic of the pixels over the whole grid (zone 'global'), per latitude band\n"
    "of DEG degrees (--zones lat:DEG, by cell centre) or per region (--regions FILE): a NetCDF\n"
    "or raw raster of whole-number region ids on the input's lattice (NaN: no region), or the\n"
    "polygons of a vector file (GeoPackage, shapefile, GeoJSON: every format GDAL reads)\n"
    "rasterised onto the lattice by cell centre, named by --region-name ATTR (default: an\n"
    "attribute 'name'). A pixel may lie in several regions. The input: a NetCDF file (a\n"
    "variable by name, whole calendar years, the cells with a value) or a raw raster file with\n"
    "its sidecar.\n"
    "\n"
    "Weights: the true area of each pixel's cell in m2 on a sphere of radius 6371010 m\n"
    "(area, the default), the cosine of the cell centre's latitude (coslat), or none; times\n"
    "--fraction FILE (a raw raster of fractions 0 to 1 on the same lattice, e.g. land or\n"
    "natural-vegetation fraction; pixels of fraction 0 or NaN are left out). sum is the sum of\n"
    "weight x value (with area weights: the total, in the variable's units x m2), mean that over\n"
    "the sum of the weights, min and max of the values. NaN values are left out and counted in\n"
    "the table. --scale F multiplies every value (1e-12: kg to Pg).\n"
    "\n"
    "The table (CSV, to -o or standard output) has a row per band and zone: year and month\n"
    "(or band), zone, value, units, area_m2 (or weight) covered, pixels used, pixels skipped.\n"
    "Sums are taken in double in pixel order: the same values for every thread count. --plot\n"
    "draws the series, one line per zone. docs/fldstat.md has the details.\n"
    "\n"
    "Exit status: 0 written, 1 a failure while reading or writing, 2 a command line that\n"
    "cannot be used.";

constexpr const char* kExample =
    "  rastertools fldstat gpp_yearsum.bin --stat sum --scale 1e-12 --units 'Pg yr-1' "
    "-o gpp_global.csv --plot gpp_global.png\n"
    "  rastertools fldstat tas.bin --zones lat:30 -o tas_zonal.csv\n"
    "  rastertools fldstat npp.bin --stat sum --regions basins.gpkg --region-name BASIN\n";

struct Args {
  std::string input;
  std::string stat = "mean";
  std::string weights = "area";
  std::string fraction;
  std::string zones;
  std::string regions;
  std::string fraction_var;
  std::string regions_var;
  std::optional<std::string> region_name;
  double scale = 1;
  std::optional<std::string> units;
  std::string table;
  std::string plot;
  InputArgs in;
};

void add_options(CLI::App& app, Args& a) {
  app.add_option("IN", a.input, "NetCDF file, or raw raster file")->required();
  app.add_option("--stat", a.stat, "mean (default), sum, min or max");
  app.add_option("--weights", a.weights, "area (default), coslat or none");
  auto* fraction = app.add_option(
      "--fraction", a.fraction, "NetCDF or raw raster of a fraction per pixel, times the weights");
  app.add_option("--fraction-var", a.fraction_var, "The variable of a NetCDF --fraction file")
      ->needs(fraction);
  auto* zones = app.add_option("--zones", a.zones, "lat:DEG: latitude bands of DEG degrees");
  auto* regions = app.add_option("--regions", a.regions,
                                 "NetCDF or raw raster of region ids, or a vector file of polygons")
                      ->excludes(zones);
  app.add_option("--regions-var", a.regions_var, "The variable of a NetCDF --regions file")
      ->needs(regions);
  app.add_option("--region-name", a.region_name, "Attribute naming the regions of a vector file")
      ->needs(regions);
  app.add_option("--scale", a.scale, "Multiply every value by F, e.g. 1e-12 (kg to Pg)");
  app.add_option("--units", a.units, "Units of the scaled values (default: derived)");
  app.add_option("-o,--output", a.table, "CSV table (default: standard output)");
  app.add_option("--plot", a.plot, "PNG plot of the series, one line per zone");
  add_input_options(app, a.in);
}

std::string number(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string q = "\"";
  for (const char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

// Where each band lies in time: the table's first columns and the plot's x.
struct TimeAxis {
  std::optional<int64_t> first_year;
  int64_t per_year = 1;
  std::string header() const {
    if (!first_year) return "band";
    return per_year == 12 ? "year,month" : per_year == 1 ? "year" : "year,step";
  }
  std::string cells(int64_t band) const {
    if (!first_year) return std::to_string(band);
    const std::string year = std::to_string(*first_year + band / per_year);
    return per_year == 1 ? year : year + "," + std::to_string(band % per_year + 1);
  }
  double x(int64_t band) const {
    if (!first_year) return static_cast<double>(band);
    return static_cast<double>(*first_year + band / per_year) +
           (static_cast<double>(band % per_year) + 0.5) / static_cast<double>(per_year);
  }
};

std::string value_units(const BandLayout& l, Stat stat, Weights w, double scale,
                        const std::optional<std::string>& given) {
  if (given) return *given;
  std::string u = l.units && !l.units->empty() ? *l.units : "?";
  if (stat == Stat::sum && w == Weights::area) u += " m2";
  if (scale != 1) {
    char f[32];
    std::snprintf(f, sizeof f, "%.10g ", 1 / scale);
    u = f + u;
  }
  return u;
}

struct Setup {
  Zones zones;
  std::vector<double> weights;
  std::string zone_kind;  // for the plot's title
};

Zones zones_of(const Args& a, const BandSource& src) {
  if (!a.zones.empty()) return latitude_zones(src.grid(), parse_zones(a.zones));
  if (a.regions.empty()) return global_zone(src.layout().npixel);
  // A NetCDF file is a raster even where GDAL would open it as a vector file.
  std::unique_ptr<BandSource> ids = open_netcdf_source(a.regions, a.regions_var, {}, kProgram);
  if (!ids && a.regions_var.empty() && is_vector_file(a.regions))
    return vector_regions(a.regions, a.region_name, src.grid(), kProgram);
  if (a.region_name)
    throw interop::usage_error("--region-name needs a vector file; " + a.regions +
                               " is read as a raster of region ids");
  if (!ids) ids = open_source(a.regions, a.regions_var, {}, kProgram);
  int64_t missing = 0;
  Zones z = raster_regions(values_on_grid(*ids, src.grid(), "region file", &missing), a.regions);
  if (z.zones.empty()) throw interop::ToolError("region file " + a.regions + " holds no region id");
  return z;
}

// Weights times the fraction; pixels of weight 0 or NaN leave every zone (counted).
void apply_fraction(const Args& a, const BandSource& src, Setup& s) {
  if (a.fraction.empty()) return;
  const std::unique_ptr<BandSource> f = open_source(a.fraction, a.fraction_var, {}, kProgram);
  int64_t missing = 0;
  const std::vector<float> frac = values_on_grid(*f, src.grid(), "fraction file", &missing);
  for (size_t p = 0; p < frac.size(); ++p) {
    const float v = frac[p];
    if (!std::isnan(v) && !(v >= 0 && v <= 1))
      throw interop::ToolError("fraction file " + a.fraction + ": pixel " + std::to_string(p) +
                               " holds " + number(static_cast<double>(v)) +
                               ", not a fraction from 0 to 1");
    s.weights[p] *= static_cast<double>(v);
  }
  int64_t left_out = 0;
  for (const double w : s.weights) left_out += w > 0 ? 0 : 1;
  for (Zone& z : s.zones.zones)
    std::erase_if(z.pixels, [&](int64_t p) { return !(s.weights[static_cast<size_t>(p)] > 0); });
  if (left_out > 0)
    raster::print_tool_warning(kProgram,
                               "%lld pixel(s) of %s are left out: their fraction in %s is 0 or "
                               "NaN (%lld of them are no pixel of it)",
                               static_cast<long long>(left_out), a.input.c_str(),
                               a.fraction.c_str(), static_cast<long long>(missing));
}

// The zones, their kind for the plot's title, and the pixels' weights.
Setup setup_of(const Args& a, const BandSource& src, Weights weights) {
  Setup s;
  s.zones = zones_of(a, src);
  s.zone_kind = !a.zones.empty()    ? "per " + a.zones.substr(4) + " degree latitude band"
                : a.regions.empty() ? std::string("over all pixels")
                                    : "per region";
  s.weights = pixel_weights(src.grid(), weights);
  apply_fraction(a, src, s);
  if (s.zones.outside > 0)
    raster::print_tool_warning(kProgram, "%lld pixel(s) of %s lie in no region of %s",
                               static_cast<long long>(s.zones.outside), a.input.c_str(),
                               a.regions.c_str());
  return s;
}

std::vector<ZoneValue> compute(const BandSource& src, const Setup& s, Stat stat, double scale) {
  const int64_t nb = src.layout().nbands;
  const int64_t np = src.layout().npixel;
  const size_t nz = s.zones.zones.size();
  std::vector<ZoneValue> out(static_cast<size_t>(nb) * nz);
  for_blocks(nb, 1, [&](int64_t begin, int64_t end) {
    std::vector<float> band(static_cast<size_t>(np));
    for (int64_t b = begin; b < end; ++b) {
      src.read_bands(b, 1, 0, np, band.data());
      zone_stats(band.data(), s.weights, s.zones, stat, &out[static_cast<size_t>(b) * nz]);
    }
  });
  if (scale != 1)
    for (ZoneValue& v : out) v.value *= scale;
  return out;
}

std::string table_text(const TimeAxis& t, const Setup& s, const std::vector<ZoneValue>& v,
                       const std::string& units, Weights w) {
  const size_t nz = s.zones.zones.size();
  std::string text = t.header() + ",zone,value,units," +
                     (w == Weights::area ? "area_m2" : "weight") + ",pixels,skipped\n";
  const std::string u = csv_field(units);
  for (size_t i = 0; i < v.size(); ++i) {
    const ZoneValue& r = v[i];
    text += t.cells(static_cast<int64_t>(i / nz)) + "," + csv_field(s.zones.zones[i % nz].name) +
            "," + number(r.value) + "," + u + "," + number(r.weight) + "," +
            std::to_string(r.used) + "," + std::to_string(r.skipped) + "\n";
  }
  return text;
}

SeriesPlot plot_of(const Args& a, const BandLayout& l, const TimeAxis& t, const Setup& s,
                   const std::vector<ZoneValue>& v, const std::string& units, Stat stat) {
  SeriesPlot p;
  const std::string what = l.long_name ? *l.long_name : !l.variable.empty() ? l.variable : a.input;
  p.title = what + ": " + stat_name(stat) + " " + s.zone_kind + ", " + a.weights + " weights" +
            (a.fraction.empty() ? "" : " x fraction");
  p.units = units;
  p.x_label = t.first_year ? "year" : "band";
  const size_t nz = s.zones.zones.size();
  for (size_t z = 0; z < nz; ++z) {
    Series ser{s.zones.zones[z].name, {}, {}};
    for (size_t b = 0; b < v.size() / nz; ++b) {
      ser.x.push_back(t.x(static_cast<int64_t>(b)));
      ser.y.push_back(v[b * nz + z].value);
    }
    p.series.push_back(std::move(ser));
  }
  return p;
}

int fldstat_main(int argc, char** argv) {
  CLI::App app;
  Args a;
  interop::setup_app(app, kDescription, kExample);
  add_options(app, a);
  interop::parse_command_line(app, argc, argv);

  const Stat stat = parse_stat(a.stat, "--stat");
  const Weights weights = parse_weights(a.weights);
  if (!a.zones.empty()) parse_zones(a.zones);
  if (!std::isfinite(a.scale) || a.scale == 0)
    throw interop::usage_error("--scale " + number(a.scale) +
                               ": give a finite number other than 0");

  const std::unique_ptr<BandSource> src = open_source(a.input, a.in.var, a.in.resolved(), kProgram);
  std::vector<std::string> inputs = src->files();
  for (const std::string& f : {a.fraction, a.regions})
    if (!f.empty()) inputs.push_back(f);
  std::vector<std::string> outputs;
  if (!a.table.empty() && !is_stream(a.table)) outputs.push_back(a.table);
  if (!a.plot.empty()) outputs.push_back(a.plot);
  check_outputs(outputs, inputs);

  const Setup s = setup_of(a, *src, weights);
  const BandLayout& l = src->layout();
  const std::vector<ZoneValue> v = compute(*src, s, stat, a.scale);
  TimeAxis t;
  if (l.first_year) {
    t.first_year = l.first_year;
    t.per_year = *l.bands_per_year;
  }
  const std::string units = value_units(l, stat, weights, a.scale, a.units);
  // The plot first: when it cannot be written, no table has gone out either.
  if (!a.plot.empty()) write_series_png(plot_of(a, l, t, s, v, units, stat), a.plot);
  write_text_output(a.table, table_text(t, s, v, units, weights));
  if (!a.table.empty())
    std::printf("%s: %lld band(s) x %lld zone(s) of %s\n", a.table.c_str(),
                static_cast<long long>(l.nbands), static_cast<long long>(s.zones.zones.size()),
                a.input.c_str());
  return raster::status::ok;
}

}  // namespace

int run_fldstat(int argc, char** argv) {
  return interop::run_tool(kProgram, [&] { return fldstat_main(argc, argv); });
}

}  // namespace aggregate
