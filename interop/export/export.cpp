// rastertools export: a raw raster file and its grid to NetCDF-4 (CF-1.8), GeoTIFF or COG.
#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "export_job.h"
#include "rawinput.h"
#include "report.h"
#include "sidecar.h"

namespace interop {

namespace {

constexpr const char* kProgram = "rastertools-export";

constexpr const char* kDescription =
    "Writes a raw raster file (float32, band after band, one value per pixel of a grid file)\n"
    "as NetCDF-4 following CF-1.8 (dimensions time, lat, lon of the full regular grid; cells\n"
    "without a pixel hold _FillValue 1e20) or as GeoTIFF / Cloud-Optimised GeoTIFF (EPSG:4326,\n"
    "one raster band per band, nodata 1e20). Values are stored bit for bit, except NaN, which\n"
    "is written as the fill value 1e20 (missing to every reader; counted on standard output)\n"
    "unless --keep-nan keeps its bits. Defaults for the grid, resolution, convention, npixel,\n"
    "time axis, variable and units come from the sidecar RAW.hdr when it belongs to RAW (its\n"
    "pixels make whole bands of RAW's size). Bands are numbered from 0. Without a first year the\n"
    "NetCDF file gets a plain band axis instead of time; years run from 1 to 9999.\n"
    "\n"
    "RAW must be a regular file of float32 values: NetCDF, HDF5, TIFF and PNG files are\n"
    "refused with the import command that reads them; FIFOs and devices are refused. The output\n"
    "is written under a temporary name and renamed when complete (a symbolic link is followed\n"
    "and kept); NetCDF and GeoTIFF need a regular file, so a FIFO or device as output is\n"
    "refused before anything is written.\n"
    "\n"
    "Exit status: 0 written, 1 a failure while reading or writing (nothing is left behind),\n"
    "2 a command line that cannot be used.";

constexpr const char* kExample =
    "  rastertools export tas.bin -o tas.nc --grid grid.bin --bands-per-year 12 \\\n"
    "      --first-year 1971 --var tas --units K --long-name 'Near-Surface Air Temperature'\n"
    "  rastertools export tas.bin -o tas_1971.tif --bands 0-11    # grid etc. from tas.hdr\n";

struct Args {
  std::string raw;
  std::string output;
  std::string format;
  std::string bands;
  std::string calendar;
  std::string convention;
  std::string res;
  bool keep_nan = false;
  RasterOptions opt;
};

void add_options(CLI::App& app, Args& a) {
  app.add_option("RAW", a.raw, "Raw raster file (float32 LE, band-sequential)")->required();
  app.add_option("-o,--output", a.output, "Output file (.nc, .tif)")->required();
  app.add_option("--format", a.format, "netcdf, gtiff or cog (default from the extension)");
  app.add_option("--grid", a.opt.grid, "Grid file of the raw file's pixels");
  app.add_option("--res", a.res, "Resolution in degrees, e.g. 0.5 or 1/12 (default: inferred)");
  app.add_option("--convention", a.convention, "centre or northedge (default: inferred)");
  add_integer_option(app, "--npixel", a.opt.npixel,
                     "Pixels per band (default: the grid's pixel count)", 1, kMaxNpixel);
  add_integer_option(app, "--bands-per-year", a.opt.bands_per_year,
                     "Bands per year (12 for monthly), 1 to 8784", 1, kMaxBandsPerYear);
  add_integer_option(app, "--first-year", a.opt.first_year, "Year of the first band, 1 to 9999",
                     kMinYear, kMaxYear);
  app.add_option("--calendar", a.calendar,
                 "proleptic_gregorian, standard, julian, noleap/365_day, all_leap/366_day, "
                 "360_day (default: the sidecar's, else proleptic_gregorian)");
  app.add_option("--var", a.opt.variable, "Variable name (default: value)");
  app.add_option("--units", a.opt.units, "Units of the values");
  app.add_option("--long-name", a.opt.long_name, "Long name of the variable");
  app.add_option("--bands", a.bands, "Band range A-B to write (default: all)");
  app.add_flag("--keep-nan", a.keep_nan,
               "Keep NaN values as NaN bit patterns (default: write them as the fill value)");
}

const char* format_name(ExportFormat f) {
  return f == ExportFormat::netcdf ? "NetCDF" : f == ExportFormat::gtiff ? "GeoTIFF" : "COG";
}

ExportFormat pick_format(const Args& a) {
  std::string f = a.format;
  if (f.empty()) {
    const std::string ext = std::filesystem::path(a.output).extension().string();
    if (ext == ".nc" || ext == ".nc4") f = "netcdf";
    if (ext == ".tif" || ext == ".tiff") f = "gtiff";
    if (f.empty())
      throw usage_error("cannot tell the format of " + a.output +
                        " from its extension: give --format netcdf, gtiff or cog");
  }
  if (f == "netcdf") return ExportFormat::netcdf;
  if (f == "gtiff") return ExportFormat::gtiff;
  if (f == "cog") return ExportFormat::cog;
  throw usage_error("unknown format '" + f + "': give netcdf, gtiff or cog");
}

bool valid_netcdf_name(const std::string& s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (const char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.'))
      return false;
  return s != "lat" && s != "lon" && s != "time" && s != "band" && s.find("_bnds") == s.npos;
}

std::string history_text(int argc, char** argv) {
  const std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  // The command as the user runs it through the front command, whatever argv[0] is.
  std::string args = command_line_text(argc, argv);
  const size_t first_space = args.find(' ');
  args = first_space == std::string::npos ? "" : args.substr(first_space);
  return std::string(stamp) + ": rastertools export" + args;
}

// --calendar, else the sidecar's (the input's calendar, kept by import), else the default.
Calendar calendar_of(const std::optional<Calendar>& given, const std::optional<Sidecar>& sidecar,
                     const std::string& raw) {
  if (given) return *given;
  if (!sidecar || !sidecar->calendar) return Calendar{};
  try {
    return parse_calendar(*sidecar->calendar);
  } catch (const ToolError& e) {
    throw ToolError("sidecar " + sidecar_path(raw) + ": " + e.what());
  }
}

void settle_time_axis(const RasterOptions& opt, const Calendar& cal, ExportJob& job) {
  job.calendar = cal;
  if (!opt.first_year) return;
  if (!opt.bands_per_year)
    throw usage_error("a first year (" + std::to_string(*opt.first_year) +
                      ") needs --bands-per-year to place the bands in time");
  if ((cal.name == "standard" || cal.name == "gregorian") && *opt.first_year < 1583)
    throw usage_error("calendar " + cal.name +
                      " mixes Julian and Gregorian years before 1583: give "
                      "proleptic_gregorian for first year " +
                      std::to_string(*opt.first_year));
  check_years(*opt.first_year, *opt.bands_per_year, job.bands.last, job.raw->path());
  job.first_year = opt.first_year;
  job.bands_per_year = *opt.bands_per_year;
}

int export_main(int argc, char** argv) {
  CLI::App app;
  Args a;
  setup_app(app, kDescription, kExample);
  add_options(app, a);
  parse_command_line(app, argc, argv);

  const ExportFormat format = pick_format(a);
  if (!a.convention.empty()) a.opt.convention = parse_convention(a.convention);
  if (!a.res.empty()) a.opt.res = parse_resolution(a.res);
  const std::optional<Calendar> given_calendar =
      a.calendar.empty() ? std::nullopt : std::optional(parse_calendar(a.calendar));
  const std::optional<BandRange> given_bands =
      a.bands.empty() ? std::nullopt : std::optional(parse_band_range(a.bands));
  check_raw_input(a.raw);
  OutputTarget out(a.output, format_name(format), false);
  const std::optional<Sidecar> sidecar = sidecar_for(a.raw, kProgram);
  const RasterOptions opt = resolve_defaults(a.raw, a.opt, sidecar);
  if (!opt.grid)
    throw usage_error("no grid file for " + a.raw + ": give --grid GRID (or a sidecar " +
                      sidecar_path(a.raw) + " that names one)");
  refuse_output_over_inputs(a.output, {a.raw, *opt.grid, sidecar ? sidecar_path(a.raw) : ""});
  if (opt.variable && !valid_netcdf_name(*opt.variable))
    throw usage_error("variable name '" + *opt.variable +
                      "' is not a usable NetCDF name (letters, digits, _ . -; not lat, lon, "
                      "time, band)");

  const Calendar cal = calendar_of(given_calendar, sidecar, a.raw);
  const PlacedGrid grid = place_grid(*opt.grid, opt.res, opt.convention, opt.origin);
  const RawFile raw(a.raw, *opt.npixel);
  raw.warn_leftover(kProgram);
  ExportJob job;
  job.raw = &raw;
  job.grid = &grid;
  job.bands = check_band_range(given_bands ? &*given_bands : nullptr, raw.bands(), a.raw);
  settle_time_axis(opt, cal, job);
  if (opt.variable) job.variable = *opt.variable;
  job.units = opt.units;
  job.long_name = opt.long_name;
  job.history = history_text(argc, argv);
  job.keep_nan = a.keep_nan;

  job.output = out.write_path();
  job.shown = a.output;
  const int64_t fills =
      format == ExportFormat::netcdf ? write_netcdf(job) : write_gtiff(job, format);
  out.commit();
  if (fills > 0)
    raster::print_tool_warning(kProgram,
                               "%lld values of %s equal the fill value 1e20 and read as missing "
                               "in %s",
                               static_cast<long long>(fills), a.raw.c_str(), a.output.c_str());
  std::printf("%s: %lld band(s) of %lld pixels on a %lld x %lld grid of %g degrees (%s)\n",
              a.output.c_str(), static_cast<long long>(job.bands.count()),
              static_cast<long long>(raw.npixel()), static_cast<long long>(grid.global.nlon),
              static_cast<long long>(grid.global.nlat), grid.global.res,
              convention_name(grid.convention));
  if (job.nan_filled > 0)
    std::printf(
        "%s: %lld NaN value(s) written as the fill value 1e20 (missing); --keep-nan "
        "keeps NaN\n",
        a.output.c_str(), static_cast<long long>(job.nan_filled));
  return raster::status::ok;
}

}  // namespace

int64_t time_band(const ExportJob& job, int64_t band) {
  if (!job.year_part) return band;
  const ExportJob::YearPart& p = *job.year_part;
  return band / p.kept * job.bands_per_year + p.offset + band % p.kept;
}

std::string export_band_label(const ExportJob& job, int64_t band) {
  if (job.first_year) return band_label(*job.first_year, job.bands_per_year, time_band(job, band));
  return "band " + std::to_string(band);
}

int64_t scatter_band(const ExportJob& job, int64_t band, std::vector<float>& full,
                     std::vector<float>& pixels) {
  const std::vector<int64_t>& cells = job.grid->cells;
  pixels.resize(cells.size());
  if (job.band_source)
    job.band_source(band, pixels);
  else
    job.raw->read_band(band, pixels);
  const GlobalGrid& g = job.grid->global;
  try {
    full.assign(static_cast<size_t>(g.ncell()), kFillValue);
  } catch (const std::bad_alloc&) {
    throw ToolError("cannot hold a band of the full grid in memory: " + std::to_string(g.nlon) +
                    " x " + std::to_string(g.nlat) + " cells of " + std::to_string(g.res) +
                    " degrees, " + std::to_string(g.ncell() * 4) + " bytes");
  }
  int64_t fills = 0;
  for (size_t i = 0; i < cells.size(); ++i) {
    float v = pixels[i];
    if (std::isnan(v) && !job.keep_nan) {
      v = kFillValue;
      ++job.nan_filled;
    } else {
      fills += v == kFillValue ? 1 : 0;
    }
    full[static_cast<size_t>(cells[i])] = v;
  }
  return fills;
}

int run_export(int argc, char** argv) {
  return run_tool(kProgram, [&] { return export_main(argc, argv); });
}

}  // namespace interop
