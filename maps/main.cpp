// rastertools map: one band of a raw raster file on its grid, as a PNG map.
#include <CLI/CLI.hpp>
#include <iostream>

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
    "when it has one. One line per map on standard output: file, band, title, range, tick\n"
    "labels, the counts of NaN and clipped pixels, and the extent shown.";

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

void add_options(CLI::App& app, maps::MapOptions& o, std::string& convention, std::string& res) {
  app.add_option("RAW", o.raw, "Raw raster file (float32, band after band)")->required();
  app.add_option("-o,--out", o.out, "Output PNG; with --bands a pattern such as map_%03d.png")
      ->required();
  app.add_option("--band", o.band, "The band to draw (0-based; default 0)");
  app.add_option("--bands", o.bands, "Bands A-B (0-based), one map each, named by --out's %d");
  app.add_option("--grid", o.raster.grid, "Grid file (default: the sidecar's)");
  app.add_option("--res", res,
                 "Resolution in degrees, e.g. 0.5 or 1/12 (default: sidecar, or inferred)");
  app.add_option("--convention", convention, "Grid latitudes: centre or northedge");
  app.add_option("--npixel", o.raster.npixel, "Pixels per band (default: sidecar or grid)");
  app.add_option("--extent", o.extent, "Map only W E S N (degrees; default the cells with pixels)")
      ->expected(4);
  app.add_flag("--graticule", o.graticule,
               "Lines at the labelled longitudes and latitudes; =STEP: every STEP degrees")
      ->option_text("[=STEP]");
  app.add_option("--scale", o.scale, "Pixels per cell each way (default: about 720 px wide)");
  app.add_option("--cmap", o.cmap, cmap_help());
  app.add_option("--center", o.center,
                 "Diverging map centred on this value (one-sided when all values lie on one side)");
  app.add_option("--range", o.range, "Colour bar from MIN to MAX")->expected(2);
  app.add_option("--percentiles", o.percentiles, "Range from these percentiles (default 2 98)")
      ->expected(2);
  app.add_flag("--common-range", o.common_range,
               "With --bands: one range for all maps, from the percentiles of all their values");
  app.add_option("--title", o.title, "Title (default: variable or file, band, year)");
  app.add_option("--units", o.raster.units, "Units under the colour bar (default: sidecar)");
}

}  // namespace

int main(int argc, char** argv) {
  const char* program = "rastertools-map";
  return interop::run_tool(program, [&]() {
    CLI::App app;
    app.name(program);
    interop::setup_app(app, description, example);
    maps::MapOptions o;
    std::string convention, res;
    add_options(app, o, convention, res);
    interop::parse_command_line(app, argc, argv);
    if (!convention.empty()) o.raster.convention = interop::parse_convention(convention);
    if (!res.empty()) o.raster.res = interop::parse_resolution(res);
    return maps::run_map(o, std::cout);
  });
}
