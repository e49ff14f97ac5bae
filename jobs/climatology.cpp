// rastertools climatology: mean over calendar years from NetCDF (or a raw file with its
// sidecar), written as a CF climatology (or raw with grid file and sidecar).
#include <cstdio>

#include "import_run.h"
#include "job_input.h"
#include "job_output.h"
#include "jobs.h"
#include "mean_tool.h"
#include "parallel.h"
#include "tool.h"
#include "tool_call.h"

namespace jobs {

namespace {

using interop::ToolError;
using interop::usage_error;

constexpr const char* kProgram = "rastertools-climatology";

constexpr const char* kDescription =
    "Per-band means over a range of calendar years (mean): for monthly input the twelve\n"
    "monthly means, with --sd their standard deviations over the years, with --annual the\n"
    "annual mean. Input: NetCDF (a variable by name) or a raw raster file with its sidecar.\n"
    "Output: NetCDF with CF climatology bounds (variables VAR, VAR_sd, VAR_annual), or with\n"
    "--format raw the mean tool's raw layout with a grid file and sidecar.";

constexpr const char* kExample =
    "  rastertools climatology tas_1971_2000.nc -o tas_clim.nc --years 1981-2000 --sd\n";

struct Args {
  std::string input, output, years, var, format = "netcdf";
  std::optional<std::string> grid;
  bool sd = false, annual = false;
};

void add_options(CLI::App& app, Args& a) {
  app.add_option("IN", a.input, "NetCDF file, or raw raster file with its sidecar")->required();
  app.add_option("-o,--output", a.output, "Output file (.nc, or .bin for --format raw)")
      ->required();
  app.add_option("--years", a.years, "Calendar years A-B (both included)")->required();
  app.add_option("--var", a.var, "NetCDF variable (default: the file's only one)");
  app.add_flag("--sd", a.sd, "Also the standard deviations over the years");
  app.add_flag("--annual", a.annual, "Also the annual mean (the mean of the band means)");
  app.add_option("--grid", a.grid, "Grid file: the pixels to take");
  app.add_option("--format", a.format, "netcdf (default) or raw");
}

OutputDesc describe_output(const Args& a, const Input& in, const interop::importer::YearRange& y) {
  const int64_t nb = in.bands_per_year;
  const int64_t per = a.sd ? 2 : 1;
  const std::string name = in.label.empty() ? "value" : in.label;
  const std::string what = in.long_name.empty() ? name : in.long_name;
  const std::string years = std::to_string(y.first) + "-" + std::to_string(y.last);
  OutputDesc d;
  d.path = a.output;
  d.nbands = nb * per + (a.annual ? 1 : 0);
  d.first_year = y.first;
  d.bands_per_year = nb;
  d.calendar = in.calendar;
  d.climatology = interop::ClimatologyYears{y.first, y.last};
  d.variables.push_back({name, in.units, what + ", mean over " + years,
                         "time: mean within years time: mean over years", 0, per, nb, false});
  if (a.sd)
    d.variables.push_back({name + "_sd", in.units, what + ", standard deviation over " + years,
                           "time: mean within years time: standard_deviation over years", 1, 2, nb,
                           false});
  if (a.annual)
    d.variables.push_back({name + "_annual", in.units, what + ", annual mean over " + years,
                           "time: mean", nb * per, 1, 1, true});
  return d;
}

int climatology_main(int argc, char** argv) {
  CLI::App app;
  Args a;
  interop::setup_app(app, kDescription, kExample);
  add_options(app, a);
  interop::parse_command_line(app, argc, argv);
  const Format format = parse_format(a.format);
  const interop::importer::YearRange years = interop::importer::parse_year_range(a.years);
  const Input in = open_input(a.input, a.var, a.grid, kProgram);
  const YearSpan span = select_years(in, years, "--years");

  std::optional<JobGrid> grid;
  if (a.grid) grid = grid_from_file(*a.grid);
  raster::ThreadTeam team(raster::default_thread_count());
  // A raw input is read where it is; a NetCDF input only for the years asked.
  const Image img = in.netcdf ? materialise(in, span, grid, team, kProgram)
                              : materialise_all(in, grid, team, kProgram);
  const int64_t start = in.netcdf ? 0 : span.first;
  std::vector<std::string> inputs{a.input};
  if (a.grid) inputs.push_back(*a.grid);
  OutputSet out(format, *grid, interop::importer::default_grid_out(a.output), inputs,
                job_history("climatology", argc, argv));
  const OutputDesc desc = describe_output(a, in, years);
  const int64_t nbands = desc.nbands;
  const std::string target = out.add(desc);
  std::vector<std::string> args{"mean",
                                img.path,
                                target,
                                std::to_string(grid->npixel()),
                                std::to_string(start),
                                std::to_string(start + span.count - 1),
                                std::to_string(in.bands_per_year)};
  if (a.annual) args.push_back("-gm");
  if (a.sd) args.push_back("-sd");
  const ToolRun run = call_tool(meantool::run_mean, args);
  if (run.status != 0) {
    std::fputs(run.out.c_str(), stdout);
    return run.status;
  }
  out.finish(kProgram);
  std::printf("%s: %lld band(s) of %lld pixels: %lld band means over %s%s%s\n", a.output.c_str(),
              static_cast<long long>(nbands), static_cast<long long>(grid->npixel()),
              static_cast<long long>(in.bands_per_year), a.years.c_str(),
              a.sd ? ", their deviations" : "", a.annual ? ", the annual mean" : "");
  return 0;
}

}  // namespace

int run_climatology(int argc, char** argv) {
  return interop::run_tool(kProgram, [&] { return climatology_main(argc, argv); });
}

}  // namespace jobs
