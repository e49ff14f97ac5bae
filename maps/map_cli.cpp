// rastertools map: bands of a raw raster file on its grid as PNG maps; the command line, as the
// library entry run_map(argc, argv).
#include <CLI/CLI.hpp>
#include <iostream>
#include <limits>
#include <optional>

#include "colormap.h"
#include "map_tool.h"

namespace {

const char* const description =
    "Draws bands of a raw raster file as PNG maps: every cell of the grid's regular lon/lat grid\n"
    "one block of pixels (plate carree) in a frame labelled with longitudes and latitudes, over\n"
    "the rows and columns that hold pixels (--extent to choose), cells without a pixel light\n"
    "grey, NaN cells in the colour map's own NaN colour (counted in the legend). The colour bar\n"
    "spans the 2nd to 98th percentile of the band's finite values (--percentiles, --range MIN\n"
    "MAX, or --common-range for one range over all maps of --bands); values outside take the\n"
    "end colours and a triangle at that end of the bar shows the clipping. Grid, resolution,\n"
    "convention, pixel count, variable, units and years come from the file's sidecar (NAME.hdr)\n"
    "when it belongs to RAW (its pixels make whole bands of RAW's size). One line per map on\n"
    "standard output (on standard error when a map goes to standard output): file, band, title,\n"
    "range, tick labels, the counts of NaN and clipped pixels, and the extent shown.\n"
    "\n"
    "RAW must be a regular file of float32 values: NetCDF, HDF5, TIFF and PNG files are refused\n"
    "with the import command that reads them; FIFOs and devices are refused. Maps are written\n"
    "under temporary names and renamed when all are drawn; an output that is a FIFO or a\n"
    "character device (/dev/stdout) is written through, never replaced. With --bands, --out\n"
    "must give every band a name of its own. Numbers are decimal: --scale 1 to 64, --band(s)\n"
    "0 or more, --percentiles 0 to 100, --range, --center and --extent finite.\n"
    "\n"
    "Exit status: 0 drawn, 1 a failure while reading or writing (no map is left behind, except\n"
    "what a stream already received), 2 a command line that cannot be used.";

const char* const example =
    "  rastertools map angle.bin --grid grid.bin -o angle.png\n"
    "  rastertools map tas.bin --bands 0-11 --out 'tas_%02d.png' --extent -15 45 30 75\n"
    "  rastertools map change.bin --grid grid.bin --center 0 --range -5 5 -o change.png\n"
    "  rastertools map tas.bin --bands 0-99 --out 'tas_%03d.png' --common-range --graticule\n";

std::string cmap_help() {
  std::string s = "Colour map (default viridis; rdbu with --center):";
  for (const maps::Colormap& c : maps::colormaps()) {
    s += "\n  " + std::string(c.name) + ": " + std::string(c.about);
  }
  return s;
}

// Options held apart from MapOptions until the command line is parsed.
struct Extra {
  std::string convention;
  std::optional<int64_t> scale;
};

void add_options(CLI::App& app, maps::MapOptions& o, Extra& x) {
  constexpr double any = std::numeric_limits<double>::max();
  app.add_option("RAW", o.raw, "Raw raster file (float32, band after band)")->required();
  app.add_option("-o,--out", o.out, "Output PNG; with --bands a pattern such as map_%03d.png")
      ->required();
  interop::add_integer_option(app, "--band", o.band, "The band to draw (0-based; default 0)", 0,
                              std::numeric_limits<int64_t>::max());
  app.add_option("--bands", o.bands, "Bands A-B (0-based), one map each, named by --out's %d");
  app.add_option("--grid", o.raster.grid, "Grid file (default: the sidecar's)");
  app.add_option_function<std::string>(
         "--res", [&o](const std::string& s) { o.raster.res = interop::parse_resolution(s); },
         "Resolution in degrees, e.g. 0.5 or 1/12 (default: sidecar, or inferred)")
      ->type_name("TEXT");
  app.add_option("--convention", x.convention, "Grid latitudes: centre or northedge");
  interop::add_integer_option(app, "--npixel", o.raster.npixel,
                              "Pixels per band (default: sidecar or grid)", 1, interop::kMaxNpixel);
  interop::add_numbers_option(app, "--extent", o.extent,
                              "Map only W E S N (degrees; default the cells with pixels)", 4, -360,
                              360);
  app.add_flag("--graticule", o.graticule,
               "Lines at the labelled longitudes and latitudes; =STEP: every STEP degrees")
      ->option_text("[=STEP]");
  interop::add_integer_option(app, "--scale", x.scale,
                              "Pixels per cell each way, 1 to 64 (default: about 720 px wide)", 1,
                              64);
  app.add_option("--cmap", o.cmap, cmap_help());
  interop::add_number_option(
      app, "--center", o.center,
      "Diverging map centred on this value (one-sided when all values lie on one side)", -any, any);
  interop::add_numbers_option(app, "--range", o.range, "Colour bar from MIN to MAX", 2, -any, any);
  interop::add_numbers_option(app, "--percentiles", o.percentiles,
                              "Range from these percentiles (default 2 98)", 2, 0, 100);
  app.add_flag("--common-range", o.common_range,
               "With --bands: one range for all maps, from the percentiles of all their values");
  app.add_option("--title", o.title, "Title (default: variable or file, band, year)");
  app.add_option("--units", o.raster.units, "Units under the colour bar (default: sidecar)");
}

}  // namespace

int maps::run_map(int argc, char** argv) {
  const char* program = "rastertools-map";
  return interop::run_tool(program, [&]() {
    CLI::App app;
    app.name(program);
    interop::setup_app(app, description, example);
    maps::MapOptions o;
    Extra x;
    add_options(app, o, x);
    interop::parse_command_line(app, argc, argv);
    if (!x.convention.empty()) o.raster.convention = interop::parse_convention(x.convention);
    if (x.scale) o.scale = static_cast<int>(*x.scale);
    return maps::run_map(o, std::cout);
  });
}
