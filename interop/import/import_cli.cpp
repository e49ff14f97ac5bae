// rastertools import: the command line of import_run, as the library entry run_import.
#include "import_cli.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <string>

#include "import_run.h"
#include "tool.h"

namespace {

using interop::importer::ImportOptions;

const char* const kDescription =
    "Imports one variable of a NetCDF file (or of a GeoTIFF or another raster file GDAL reads)\n"
    "on a regular longitude/latitude grid into a raw raster file (float32 little-endian, band\n"
    "after band, one value per pixel), its grid file and its sidecar NAME.hdr (ENVI header\n"
    "with the grid file, resolution, convention, bands per year, first year, variable, units).\n"
    "\n"
    "Pixels: without --grid, every cell that holds a value in any step imported (NaN in the\n"
    "steps where it holds none), rows north to south, west to east; the first line of output\n"
    "counts the cells left out. Their grid goes to --grid-out (default NAME.grid.bin beside\n"
    "the output) in --convention (default northedge). With --grid, the pixels of that grid file\n"
    "in its order; a pixel whose cell holds no value becomes NaN, and a warning counts them.\n"
    "\n"
    "Grid: any regular lon/lat grid of cells (centres such as -179.75..179.75 or 0..359, in\n"
    "any longitude range, latitudes either way); a column repeated 360 degrees on is left out\n"
    "with a note. Grids with points on the poles (node-registered) are refused with the cdo\n"
    "command that remaps them. The sidecar keeps the exact resolution (2/3, 1/12), the lattice\n"
    "origin and the calendar, which export restores.\n"
    "\n"
    "Values: _FillValue and missing_value become NaN; packed values are unpacked as\n"
    "stored * scale_factor + add_offset (in double, rounded once to float); float values are\n"
    "copied bit for bit. The variable is (time, lat, lon) or (lat, lon), or one level of\n"
    "(time, level, lat, lon) or (level, lat, lon) chosen with --level; --var names it when the\n"
    "file holds several. A time axis has units '<unit> since <date>', axis T, standard_name\n"
    "time or is the unlimited dimension; no other axis is read as time. docs/import.md has it "
    "all.\n"
    "\n"
    "Time: --years Y1-Y2 keeps the calendar years Y1..Y2 of the time coordinate (units\n"
    "'<days|hours|minutes|seconds|months|years> since DATE'; calendars standard, gregorian,\n"
    "proleptic_gregorian, julian, noleap, 365_day, all_leap, 366_day, 360_day). Every year\n"
    "imported must hold the same number of steps (monthly or annual data; daily data only on a\n"
    "calendar without leap days).\n"
    "\n"
    "At the end a line for people, then one for scripts:\n"
    "  npixel N nbandsyear K nyears Y firstyear F\n"
    "(F is NA when the input has no time axis; its bands then count as one year.)\n"
    "\n"
    "Outputs are written under temporary names and renamed when complete (a symbolic link is\n"
    "followed and kept). An output that is a FIFO or a character device (-o /dev/stdout) is\n"
    "written straight through, never replaced, and nothing is written beside it: no sidecar,\n"
    "and a grid file only where --grid-out names one; the two closing lines then go to\n"
    "standard error when the values go to standard output. IN must be a regular file: a FIFO or\n"
    "device is refused. Numbers are decimal (--res 0.5 or 1/12, 1/60 to 180 degrees).\n"
    "\n"
    "Exit status: 0 imported, 1 a failure while reading or writing (nothing is left behind,\n"
    "except what a stream already received), 2 a command line that cannot be used.";

const char* const kExample =
    "  rastertools import tas_gswp3_1971_2000.nc -o tas.bin --var tas --years 1971-2000\n"
    "  rastertools import pr.nc -o pr.bin --grid tas.grid.bin   # the same pixels as tas.bin\n"
    "  rastertools import thetao.nc -o sst.bin --level 0.5   # the level at depth 0.5\n"
    "  read -r _ npixel _ nbands _ nyears _ first < <(rastertools import tas.nc -o tas.bin | "
    "tail -n 1)";

std::string program_name(int argc, char** argv) {
  if (argc < 1 || !argv[0] || !*argv[0]) return "rastertools-import";
  return std::filesystem::path(argv[0]).filename().string();
}

std::string count(int64_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::string human_line(const interop::importer::ImportSummary& s, const ImportOptions& opt) {
  const std::string years = s.first_year ? count(s.nyears, "year") + " of " +
                                               std::to_string(s.bands_per_year) + " from " +
                                               std::to_string(*s.first_year)
                                         : "no time axis";
  std::string what = s.variable.empty() ? "the bands" : s.variable;
  if (!s.units.empty()) what += " [" + s.units + "]";
  if (!s.level.empty()) what += " at " + s.level;
  const std::string lattice =
      interop::format_degrees(s.res) + " degree" +
      (s.origin == interop::Origin{} ? ""
                                     : " from (" + interop::format_degrees(s.origin.west) + ", " +
                                           interop::format_degrees(s.origin.north) + ")");
  const std::string left_out =
      s.left_out > 0 ? " (" + std::to_string(s.left_out) + " cells without a value left out)" : "";
  const std::string grid = s.grid.empty() ? "no grid file" : "grid " + s.grid;
  return "imported " + what + " of " + opt.input + ": " + count(s.npixel, "pixel") + left_out +
         ", " + count(s.bands_per_year * s.nyears, "band") + " (" + years + ") into " + s.raw +
         "; " + grid + " (" + lattice + ", " + interop::convention_name(s.convention) + "), " +
         (s.sidecar.empty() ? "no sidecar" : "sidecar " + s.sidecar);
}

int run(int argc, char** argv) {
  CLI::App app;
  interop::setup_app(app, kDescription, kExample);
  ImportOptions opt;
  std::string convention, years, res, level;
  app.add_option("IN", opt.input, "NetCDF file, GeoTIFF or other GDAL raster to import")
      ->required();
  app.add_option("-o,--output", opt.output, "Raw raster file to write (NAME.bin; sidecar NAME.hdr)")
      ->required();
  app.add_option("--var", opt.var, "Variable to import (needed when the file holds several)");
  auto* grid = app.add_option("--grid", opt.grid, "Take the pixels of this grid file");
  auto* grid_out =
      app.add_option("--grid-out", opt.grid_out, "Grid file to write (default NAME.grid.bin)");
  grid->excludes(grid_out);
  app.add_option("--res", res,
                 "Resolution in degrees, such as 0.5 or 1/12 (default: the input's cell spacing)");
  app.add_option("--convention", convention,
                 "centre or northedge (default northedge; with --grid inferred from "
                 "the grid)");
  app.add_option("--years", years, "Calendar years to import, Y1-Y2 or Y");
  app.add_option("--level", level,
                 "One level of a level axis: its coordinate value (850, 2.5) or index:K (from 0)");
  interop::parse_command_line(app, argc, argv);
  if (!res.empty()) opt.res = interop::parse_resolution(res);
  if (!convention.empty()) opt.convention = interop::parse_convention(convention);
  if (!years.empty()) opt.years = interop::importer::parse_year_range(years);
  if (!level.empty()) opt.level = interop::importer::parse_level(level);

  const std::string program = program_name(argc, argv);
  // Values written to standard output keep it to themselves: the report goes to stderr.
  FILE* report = interop::is_standard_output(opt.output) ? stderr : stdout;
  const interop::importer::ImportSummary s = interop::importer::run_import(opt, program.c_str());
  std::fprintf(report, "%s\n%s\n", human_line(s, opt).c_str(),
               interop::importer::summary_line(s).c_str());
  if (std::fflush(report) != 0) throw interop::ToolError("cannot write the report");
  return 0;
}

}  // namespace

int interop::run_import(int argc, char** argv) {
  const std::string program = program_name(argc, argv);
  return interop::run_tool(program.c_str(), [&] { return run(argc, argv); });
}
