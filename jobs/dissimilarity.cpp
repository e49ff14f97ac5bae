// rastertools dissimilarity: the vegetation-composition dissimilarity (fennick) of two periods
// given in calendar years, from FPC files of 10 bands a year.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "band_jobs.h"
#include "fennick.h"
#include "import_run.h"
#include "job_input.h"
#include "job_output.h"
#include "parallel.h"
#include "tool.h"
#include "tool_call.h"

namespace jobs {
namespace {

using interop::ToolError;
namespace imp = interop::importer;

constexpr const char* kProgram = "rastertools-dissimilarity";
// Band 0 of a year is the test value, bands 1 to 9 the covers of the nine plant types.
constexpr int64_t kBandsPerYear = 10;

const char* const kDescription =
    "Per-pixel dissimilarity of the vegetation composition of two periods (the fennick tool's\n"
    "computation): the foliar projective cover of nine plant types averaged over each period,\n"
    "the uncovered fraction added, and the two compositions compared through fixed group and\n"
    "trait tables. 0 for equal compositions, 1 for compositions that share no group cover;\n"
    "--similarity writes 1 minus that. A pixel whose band 0 in the last year of the reference\n"
    "period is not above 0.001 gets 0 (similarity 1).\n"
    "\n"
    "Inputs: NetCDF (the variable by --var) or raw files with their sidecar, 10 bands a year\n"
    "(band 0 the test value, bands 1-9 the plant types), with a time axis. The reference period\n"
    "is taken from REF, the future period from FUT (default REF). Periods are calendar years;\n"
    "both inputs must lie on the same pixels. docs/dissimilarity.md has it all.";

const char* const kExample =
    "  rastertools dissimilarity fpc_hist.nc fpc_ssp585.nc -o dis.nc --ref-years 1971-2000 \\\n"
    "      --fut-years 2071-2100 --var fpc\n"
    "  rastertools dissimilarity fpc.bin -o sim.bin --format raw --ref-years 1901-1930 \\\n"
    "      --fut-years 1991-2020 --similarity";

struct Args {
  std::string ref, fut, output, var, ref_years, fut_years, format = "netcdf";
  std::optional<std::string> grid;
  bool similarity = false;
};

Args parse(int argc, char** argv) {
  CLI::App app;
  interop::setup_app(app, kDescription, kExample);
  app.name(kProgram);
  Args a;
  app.add_option("REF", a.ref, "FPC file holding the reference period")->required();
  app.add_option("FUT", a.fut, "FPC file holding the future period (default REF)");
  app.add_option("-o,--output", a.output, "Output: NAME.nc, or NAME.bin with --format raw")
      ->required();
  app.add_option("--ref-years", a.ref_years, "Reference period, calendar years A-B")->required();
  app.add_option("--fut-years", a.fut_years, "Future period, calendar years A-B")->required();
  app.add_option("--var", a.var, "NetCDF variable of the covers (default: the only one)");
  app.add_option("--grid", a.grid, "Grid file: the pixels (default: the inputs')");
  app.add_flag("--similarity", a.similarity, "Write the similarity, 1 minus the dissimilarity");
  app.add_option("--format", a.format, "netcdf (default) or raw (raw file, grid file, sidecar)");
  interop::parse_command_line(app, argc, argv);
  return a;
}

// "--ref-years 1971-2000" as the range it gives; the option named in a refusal.
imp::YearRange years_option(const std::string& option, const std::string& text) {
  try {
    return imp::parse_year_range(text);
  } catch (const ToolError&) {
    throw interop::usage_error(option + " '" + text + "' is not a year or a range A-B");
  }
}

void require_fpc_layout(const Input& in) {
  if (in.bands_per_year != kBandsPerYear)
    throw ToolError(quote(in.path) + " has " + std::to_string(in.bands_per_year) +
                    " bands a year; the composition needs 10 a year (band 0 the test value, "
                    "bands 1-9 the covers of the nine plant types)");
}

// One period of an input: its years and the image that holds them.
struct Period {
  YearSpan span;
  int64_t start = 0;  // the period's first year within the image
};

std::string output_grid_path(const std::string& output) { return imp::default_grid_out(output); }

int run(int argc, char** argv) {
  const Args a = parse(argc, argv);
  const Format format = parse_format(a.format);
  const imp::YearRange ref_range = years_option("--ref-years", a.ref_years);
  const imp::YearRange fut_range = years_option("--fut-years", a.fut_years);
  const bool two_files = !a.fut.empty();

  std::optional<JobGrid> grid;
  if (a.grid) grid = grid_from_file(*a.grid);
  const Input ref = open_input(a.ref, a.var, a.grid, kProgram);
  require_fpc_layout(ref);
  std::optional<Input> fut_file;
  if (two_files) {
    fut_file = open_input(a.fut, a.var, a.grid, kProgram);
    require_fpc_layout(*fut_file);
  }
  const Input& fut = two_files ? *fut_file : ref;
  const YearSpan ref_span = select_years(ref, ref_range, "--ref-years");
  const YearSpan fut_span = select_years(fut, fut_range, "--fut-years");

  // The images: a raw input as it is, a NetCDF input as the years of its periods (one image
  // for both when they come from one file).
  raster::ThreadTeam team(raster::default_thread_count());
  const auto image_of = [&](const Input& in, YearSpan span) {
    return in.netcdf ? materialise(in, span, grid, team, kProgram)
                     : materialise_all(in, grid, team, kProgram);
  };
  Image ref_img;
  Image fut_img;
  if (two_files) {
    ref_img = image_of(ref, ref_span);
    fut_img = image_of(fut, fut_span);
  } else {
    const int64_t first = std::min(ref_span.first, fut_span.first);
    const int64_t end = std::max(ref_span.first + ref_span.count, fut_span.first + fut_span.count);
    ref_img = image_of(ref, {first, end - first});
  }
  const Image& fut_of = two_files ? fut_img : ref_img;

  std::vector<std::string> inputs = {a.ref};
  if (two_files) inputs.push_back(a.fut);
  if (a.grid) inputs.push_back(*a.grid);
  OutputSet outputs(format, *grid, output_grid_path(a.output), inputs,
                    job_history("dissimilarity", argc, argv));
  OutputDesc desc;
  desc.path = a.output;
  desc.nbands = 1;
  OutputVariable v;
  v.name = a.similarity ? "similarity" : "dissimilarity";
  v.units = "1";
  v.long_name = std::string(a.similarity ? "similarity" : "dissimilarity") +
                " of the vegetation composition, " + std::to_string(fut_range.first) + "-" +
                std::to_string(fut_range.last) + " against " + std::to_string(ref_range.first) +
                "-" + std::to_string(ref_range.last);
  v.timeless = true;
  desc.variables.push_back(v);
  const std::string tool_out = outputs.add(desc);

  std::vector<std::string> args = {"fennick",
                                   ref_img.path,
                                   fut_of.path,
                                   tool_out,
                                   std::to_string(ref_span.count),
                                   std::to_string(fut_span.count),
                                   std::to_string(grid->npixel()),
                                   std::to_string(ref_span.first - ref_img.first),
                                   std::to_string(fut_span.first - fut_of.first)};
  if (a.similarity) args.emplace_back("sim");
  const ToolRun tool = call_tool(fennick::run_fennick, args);
  if (tool.status != 0) {  // its own message is out; nothing is renamed into place
    std::fputs(tool.out.c_str(), stdout);
    return tool.status;
  }
  outputs.finish(kProgram);
  std::printf("%s of %s (%s) against %s (%s), %lld pixels: %s\n", v.name.c_str(),
              quote(fut.path).c_str(), a.fut_years.c_str(), quote(ref.path).c_str(),
              a.ref_years.c_str(), static_cast<long long>(grid->npixel()), a.output.c_str());
  if (std::fflush(stdout) != 0) throw ToolError("cannot write to standard output");
  return 0;
}

}  // namespace

int run_dissimilarity(int argc, char** argv) {
  return interop::run_tool(kProgram, [&] { return run(argc, argv); });
}

}  // namespace jobs
