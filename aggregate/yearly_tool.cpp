// rastertools yearly: the command line and the run.
#include <cstdio>
#include <mutex>

#include "band_sink.h"
#include "band_source.h"
#include "cli.h"
#include "report.h"
#include "timeaxis.h"
#include "tool.h"
#include "yearly.h"

namespace aggregate {

namespace {

constexpr const char* kProgram = "rastertools-yearly";

constexpr const char* kDescription =
    "One band per year from an input of N bands a year: the sum, mean, minimum or maximum of\n"
    "each year's bands, per pixel; with --season or --months, of those months of each year\n"
    "only (12 bands a year needed). A window across the year's end (DJF, --months 11-3)\n"
    "belongs to the year in which it ends: DJF of 1972 is December 1971, January and February\n"
    "1972. The input's first such window lacks its first months and its last December makes\n"
    "a window of the year after the input: both are left out with a warning, or kept as\n"
    "windows of fewer months with --keep-incomplete. Bands after the last whole year are left\n"
    "out with a warning. The input: a NetCDF file (a variable by name, whole calendar years,\n"
    "the cells with a value) or a raw raster file with its sidecar.\n"
    "\n"
    "NaN: a NaN value makes its year's value NaN; with --min-count N, NaN values are left out\n"
    "and a result needs at least N values that are not NaN (else it is NaN); warnings count\n"
    "both.\n"
    "Values are added in double in month order, the result rounded once to float (the mean is\n"
    "the sum divided by the number of values); the bytes are the same for every thread count\n"
    "(OMP_NUM_THREADS).\n"
    "\n"
    "Input: a raw raster file with its sidecar (grid, bands per year, first year, variable and\n"
    "units; options override it). Output: NetCDF-4 (CF-1.8, a yearly time axis with bounds,\n"
    "cell_methods) or, for a name ending in .bin or with --format raw, a raw raster file with\n"
    "its grid file NAME.grid.bin and sidecar NAME.hdr. docs/yearly.md has the details.\n"
    "\n"
    "Exit status: 0 written, 1 a failure while reading or writing (no output is left half\n"
    "written), "
    "2 a command line that cannot be used.";

constexpr const char* kExample =
    "  rastertools yearly gpp.bin -o gpp_yearsum.nc --stat sum\n"
    "  rastertools yearly tas.bin -o tas_djf.bin --season DJF --stat mean --min-count 2\n";

struct Args {
  std::string input;
  std::string output;
  std::string stat;
  std::string season;
  std::string months;
  std::string format;
  int64_t min_count = 0;
  bool keep_incomplete = false;
  InputArgs in;
};

void add_options(CLI::App& app, Args& a) {
  app.add_option("IN", a.input, "NetCDF file, or raw raster file; N bands a year")->required();
  app.add_option("-o,--output", a.output, "Output file (.nc, or .bin for raw)")->required();
  app.add_option("--stat", a.stat, "sum, mean, min or max")->required();
  auto* season = app.add_option("--season", a.season, "DJF, MAM, JJA or SON (12 bands a year)");
  app.add_option("--months", a.months,
                 "Months A-B of each year, e.g. 6-8 or 11-3 (12 bands a year)")
      ->excludes(season);
  app.add_option("--min-count", a.min_count,
                 "Leave NaN values out; a result needs N values (default: a NaN makes it NaN)");
  app.add_flag("--keep-incomplete", a.keep_incomplete,
               "Keep the first and last windows across the year's end with the months present");
  app.add_option("--format", a.format, "netcdf or raw (default: raw for .bin, else netcdf)");
  add_input_options(app, a.in);
}

std::string year_text(const BandLayout& l, int64_t year) {
  if (l.first_year) return std::to_string(*l.first_year + year);
  return "year " + std::to_string(year + 1) + " of the input";
}

std::string cell_method(Stat s) {
  switch (s) {
    case Stat::sum:
      return "time: sum";
    case Stat::mean:
      return "time: mean";
    case Stat::min:
      return "time: minimum";
    case Stat::max:
      return "time: maximum";
  }
  return "";
}

// The days since the first output year's 1 January that each output band spans.
std::vector<interop::BandTime> span_times(const BandLayout& l, const YearPlan& plan) {
  std::vector<interop::BandTime> t;
  const interop::CalendarKind k =
      interop::parse_calendar(l.calendar.value_or("proleptic_gregorian")).kind;
  const int64_t bpy = *l.bands_per_year;
  const double origin = interop::band_time(k, *l.first_year, bpy, plan.spans[0].year * bpy).start;
  for (const YearSpan& s : plan.spans) {
    interop::BandTime b;
    b.start = interop::band_time(k, *l.first_year, bpy, s.first_band).start - origin;
    b.end = interop::band_time(k, *l.first_year, bpy, s.first_band + s.count - 1).end - origin;
    b.mid = (b.start + b.end) / 2;
    t.push_back(b);
  }
  return t;
}

void warn_left_out(const BandLayout& l, const YearPlan& plan, const std::string& what,
                   const std::string& input) {
  for (const YearSpan& s : plan.dropped)
    raster::print_tool_warning(kProgram,
                               "%s of %s left out: only %lld of its %lld months lie in %s "
                               "(--keep-incomplete keeps it)",
                               what.c_str(), year_text(l, s.year).c_str(),
                               static_cast<long long>(s.count), static_cast<long long>(plan.window),
                               input.c_str());
  if (plan.unused_bands > 0)
    raster::print_tool_warning(kProgram,
                               "the last %lld band(s) of %s make no whole year of %lld bands "
                               "and are left out",
                               static_cast<long long>(plan.unused_bands), input.c_str(),
                               static_cast<long long>(*l.bands_per_year));
}

void warn_nan(const NanCounts& c, int64_t min_count) {
  if (c.nan_results > 0)
    raster::print_tool_warning(kProgram,
                               "%lld value(s) are NaN because a value of their window is NaN "
                               "(--min-count N leaves NaN values out)",
                               static_cast<long long>(c.nan_results));
  if (c.skipped > 0)
    raster::print_tool_warning(kProgram, "%lld NaN value(s) left out",
                               static_cast<long long>(c.skipped));
  if (c.too_few > 0)
    raster::print_tool_warning(kProgram,
                               "%lld value(s) are NaN because fewer than %lld values of their "
                               "window are not NaN",
                               static_cast<long long>(c.too_few),
                               static_cast<long long>(min_count));
}

// The windows of the input that make the output bands, after the checks that need the input.
YearPlan plan_of(const Args& a, const BandLayout& l, const std::optional<MonthWindow>& window) {
  if (!l.bands_per_year)
    throw interop::usage_error("the bands per year of " + a.input +
                               " are not known: give --bands-per-year N (12 for monthly bands)");
  if (window && *l.bands_per_year != 12)
    throw interop::usage_error(
        (a.season.empty() ? "--months " + a.months : "--season " + a.season) +
        " needs 12 bands a year; " + a.input + " has " + std::to_string(*l.bands_per_year));
  YearPlan plan = plan_years(l.nbands, *l.bands_per_year, window, a.keep_incomplete);
  if (a.min_count > plan.window)
    throw interop::usage_error("--min-count " + std::to_string(a.min_count) + " is more than the " +
                               std::to_string(plan.window) + " bands of a window");
  if (plan.spans.empty())
    throw interop::ToolError(
        a.input + " holds no " +
        (window ? "complete " + window_text(*window) : std::string("whole year")) + " (" +
        std::to_string(l.nbands) + " bands of " + std::to_string(*l.bands_per_year) + " a year)" +
        (window && window->wraps() ? "; --keep-incomplete keeps part windows" : ""));
  return plan;
}

// What the output holds besides its values: the time axis and the variable's description.
void describe_output(const Args& a, const BandLayout& l, const YearPlan& plan, Stat stat,
                     const std::string& what, OutputBands& out) {
  out.nbands = static_cast<int64_t>(plan.spans.size());
  if (l.first_year) {
    out.first_year = *l.first_year + plan.spans[0].year;
    out.times = span_times(l, plan);
  }
  out.calendar = l.calendar;
  out.variable = l.variable;
  out.units = l.units;
  out.long_name = l.long_name;
  out.cell_methods = cell_method(stat);
  out.description = "rastertools yearly: " + what + " of " + a.input;
}

int yearly_main(int argc, char** argv) {
  CLI::App app;
  Args a;
  interop::setup_app(app, kDescription, kExample);
  add_options(app, a);
  interop::parse_command_line(app, argc, argv);

  const Stat stat = parse_stat(a.stat, "--stat");
  std::optional<MonthWindow> window;
  if (!a.season.empty()) window = parse_season(a.season);
  if (!a.months.empty()) window = parse_months(a.months);
  if (a.min_count < 0)
    throw interop::usage_error("--min-count " + std::to_string(a.min_count) + " is negative");
  const OutputFormat format = pick_output_format(a.output, a.format);

  const std::unique_ptr<BandSource> src = open_source(a.input, a.in.var, a.in.resolved(), kProgram);
  const BandLayout& l = src->layout();
  check_outputs(output_files(a.output, format), src->files());
  const YearPlan plan = plan_of(a, l, window);
  const std::string what = (window ? window_text(*window) + " " : "") + stat_name(stat);

  // Each output band: its window's bands read and reduced pixel block by pixel block.
  NanCounts counts;
  std::mutex counts_lock;
  OutputBands out;
  out.grid = &src->grid();
  out.band = [&](int64_t k, std::span<float> dst) {
    const YearSpan& s = plan.spans[static_cast<size_t>(k)];
    for_blocks(l.npixel, 4096, [&](int64_t begin, int64_t end) {
      std::vector<float> buf(static_cast<size_t>(s.count * (end - begin)));
      src->read_bands(s.first_band, s.count, begin, end, buf.data());
      NanCounts c;
      aggregate_bands(buf.data(), s.count, end - begin, stat, a.min_count, dst.data() + begin, &c);
      const std::lock_guard<std::mutex> lock(counts_lock);
      counts += c;
    });
  };
  describe_output(a, l, plan, stat, what, out);
  out.history = history_text("yearly", argc, argv);
  const int64_t fills = write_output(a.output, format, out);

  warn_left_out(l, plan, window ? window_text(*window) : "year", a.input);
  warn_nan(counts, a.min_count);
  if (fills > 0)
    raster::print_tool_warning(kProgram,
                               "%lld value(s) equal the fill value 1e20 and read as missing in %s",
                               static_cast<long long>(fills), a.output.c_str());
  std::printf("%s: %lld band(s), the %s of %s to %s, %lld pixels\n", a.output.c_str(),
              static_cast<long long>(out.nbands), what.c_str(),
              year_text(l, plan.spans.front().year).c_str(),
              year_text(l, plan.spans.back().year).c_str(), static_cast<long long>(l.npixel));
  return raster::status::ok;
}

}  // namespace

int run_yearly(int argc, char** argv) {
  return interop::run_tool(kProgram, [&] { return yearly_main(argc, argv); });
}

}  // namespace aggregate
