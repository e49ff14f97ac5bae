// rastertools change: corvane from NetCDF (or raw files with their sidecar) by calendar years,
// every number of its positional command line derived from the files and checked.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "corvane.h"
#include "job_input.h"
#include "job_output.h"
#include "jobs.h"
#include "parallel.h"
#include "tool.h"
#include "tool_call.h"

namespace jobs {

namespace {

using interop::ToolError;
using interop::usage_error;

constexpr const char* kProgram = "rastertools-change";

constexpr const char* kDescription =
    "Multi-variable change between a reference and a future period (corvane) from NetCDF files\n"
    "(a variable by name) or raw raster files with their sidecar. npixel, the grid, the\n"
    "resolution, the bands per year and the slice positions are derived from the files and\n"
    "checked; years are calendar years. OUTDIR receives angle, magnitude, angle_series,\n"
    "magnitude_series and the same four with _global (per-pixel and global normalisation), as\n"
    "NetCDF (.nc) or, with --format raw, raw files (.bin) with sidecars and grid.bin.";

constexpr const char* kExample =
    "  rastertools change -o change --ref-years 1971-2000 --fut-years 2071-2100 \\\n"
    "      --param tas 2 tas_1971_2000.nc tas_2071_2100.nc \\\n"
    "      --param pr 1 pr_1971_2000.nc pr_2071_2100.nc\n";

struct Args {
  std::string outdir, ref_years, fut_years, format = "netcdf";
  std::optional<std::string> natveg, grid;
  std::vector<std::vector<std::string>> params, norms;
};

void add_options(CLI::App& app, Args& a) {
  app.add_option("-o,--output", a.outdir, "Output folder (made when missing)")->required();
  app.add_option("--ref-years", a.ref_years, "Reference slice in calendar years, A-B")->required();
  app.add_option("--fut-years", a.fut_years, "Future slice in calendar years, A-B")->required();
  app.add_option("--param", a.params,
                 "NAME WEIGHT REF FUT: a parameter (the NetCDF variable, or a label for raw "
                 "files), its weight (> 0) and its reference and future files (repeat it)")
      ->type_size(4)
      ->allow_extra_args(false)
      ->required();
  app.add_option("--natveg", a.natveg,
                 "Natural-vegetation fraction (first band; NetCDF or raw with sidecar)");
  app.add_option("--grid", a.grid, "Grid file: the pixels to take from every input");
  app.add_option("--norm", a.norms,
                 "NAME MEAN STD: the global mean and deviation of a parameter (give it for every "
                 "parameter or none)")
      ->type_size(3)
      ->allow_extra_args(false);
  app.add_option("--format", a.format, "netcdf (default) or raw");
}

struct Param {
  std::string name, weight, ref, fut;
  std::string mean, std;  // --norm, as given
};

double number_of(const std::string& text, const std::string& what) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(v))
    throw usage_error(what + " '" + text + "' is not a number");
  return v;
}

std::vector<Param> params_of(const Args& a) {
  std::vector<Param> ps;
  for (const auto& p : a.params) {
    const std::string what = "--param " + p[0] + ": weight";
    const double w = number_of(p[1], what);
    if (!(w > 0)) throw usage_error(what + " '" + p[1] + "' is not a positive number");
    for (const Param& q : ps)
      if (q.name == p[0]) throw usage_error("--param " + p[0] + " is given twice");
    ps.push_back({p[0], p[1], p[2], p[3], "", ""});
  }
  for (const auto& n : a.norms) {
    Param* p = nullptr;
    for (Param& q : ps) p = q.name == n[0] ? &q : p;
    if (!p) throw usage_error("--norm " + n[0] + ": no --param of that name");
    if (!p->mean.empty()) throw usage_error("--norm " + n[0] + " is given twice");
    number_of(n[1], "--norm " + n[0] + ": mean");
    if (!(number_of(n[2], "--norm " + n[0] + ": deviation") > 0))
      throw usage_error("--norm " + n[0] + ": deviation '" + n[2] + "' is not a positive number");
    p->mean = n[1];
    p->std = n[2];
  }
  if (!a.norms.empty())
    for (const Param& p : ps)
      if (p.mean.empty())
        throw usage_error("--norm is given for some parameters but not for " + p.name +
                          ": give it for every parameter or none");
  return ps;
}

// The inputs described and checked against each other, before anything is read.
struct Plan {
  std::vector<Input> ref, fut;
  std::vector<YearSpan> ref_span, fut_span;
  interop::importer::YearRange ref_years, fut_years;
};

Plan plan_inputs(const std::vector<Param>& ps, const Args& a) {
  Plan plan;
  plan.ref_years = interop::importer::parse_year_range(a.ref_years);
  plan.fut_years = interop::importer::parse_year_range(a.fut_years);
  const int64_t nref = plan.ref_years.last - plan.ref_years.first + 1;
  const int64_t nfut = plan.fut_years.last - plan.fut_years.first + 1;
  if (nref != nfut)
    throw usage_error("slices of different lengths: --ref-years " + a.ref_years + " holds " +
                      std::to_string(nref) + " years but --fut-years " + a.fut_years + " " +
                      std::to_string(nfut));
  for (const Param& p : ps) {
    plan.ref.push_back(open_input(p.ref, p.name, a.grid, kProgram));
    plan.fut.push_back(open_input(p.fut, p.name, a.grid, kProgram));
    const Input& r = plan.ref.back();
    const Input& f = plan.fut.back();
    same_bands_per_year(r, f, "--param " + p.name);
    plan.ref_span.push_back(select_years(r, plan.ref_years, "--ref-years"));
    plan.fut_span.push_back(select_years(f, plan.fut_years, "--fut-years"));
    const Input& r0 = plan.ref.front();
    if (r.first_year != r0.first_year || r.nyears != r0.nyears)
      throw ToolError("the reference files cover different years: " + quote(r0.path) + " holds " +
                      r0.years_text() + " but " + quote(r.path) + " " + r.years_text() +
                      " (the series run over every year of the reference files)");
  }
  return plan;
}

// Whether every future file can be passed as it is: all raw and covering the same years.
bool futures_as_files(const Plan& plan) {
  for (const Input& f : plan.fut)
    if (f.netcdf || f.first_year != plan.fut.front().first_year ||
        f.nyears != plan.fut.front().nyears)
      return false;
  return true;
}

// The images corvane reads, in its order of parameters, and their year layout.
struct Images {
  std::optional<Image> natveg;
  std::vector<Image> ref, fut;
  int64_t nyear_fut = 0, startyear_fut = 0;
  MemFile grid{"grid"};
};

std::optional<Image> natveg_image(const Args& a, std::optional<JobGrid>& grid,
                                  raster::ThreadTeam& team) {
  if (!a.natveg) return std::nullopt;
  const Input in = open_input(*a.natveg, "", a.grid, kProgram);
  return materialise(in, {0, 1}, grid, team, kProgram);
}

void make_images(const Plan& plan, const Args& a, std::optional<JobGrid>& grid, Images& im) {
  raster::ThreadTeam team(raster::default_thread_count());
  const bool whole_futures = futures_as_files(plan);
  for (size_t i = 0; i < plan.ref.size(); ++i) {
    im.ref.push_back(materialise_all(plan.ref[i], grid, team, kProgram));
    im.fut.push_back(whole_futures
                         ? materialise_all(plan.fut[i], grid, team, kProgram)
                         : materialise(plan.fut[i], plan.fut_span[i], grid, team, kProgram));
  }
  im.nyear_fut = whole_futures ? plan.fut.front().nyears : plan.fut_span.front().count;
  im.startyear_fut = whole_futures ? plan.fut_span.front().first : 0;
  im.natveg = natveg_image(a, grid, team);
  const auto& pts = grid->placed.points;
  float* g = im.grid.map_floats(static_cast<int64_t>(pts.size()));
  std::memcpy(g, pts.data(), pts.size() * sizeof(interop::GridPoint));
}

// The eight outputs in corvane's order.
struct OutputName {
  const char* name;
  const char* long_name;
  bool series;
  int64_t bands;  // when not a series
};
constexpr OutputName kOutputs[8] = {
    {"angle", "cosine of the angle between the future and the reference vector", false, 1},
    {"magnitude",
     "magnitude of change (bands: future in % of reference, difference, future, reference)", false,
     4},
    {"angle_series", "cosine of the angle between each year's and the reference vector", true, 0},
    {"magnitude_series", "length of each year's vector", true, 0},
    {"angle_global", "cosine of the angle, global normalisation", false, 1},
    {"magnitude_global", "magnitude of change, global normalisation", false, 4},
    {"angle_series_global", "cosine of the angle per year, global normalisation", true, 0},
    {"magnitude_series_global", "length of each year's vector, global normalisation", true, 0},
};

std::vector<std::string> add_outputs(OutputSet& out, const Args& a, Format format,
                                     const Input& ref0) {
  std::vector<std::string> paths;
  const std::string ext = format == Format::netcdf ? ".nc" : ".bin";
  for (const OutputName& o : kOutputs) {
    OutputDesc d;
    d.path = (std::filesystem::path(a.outdir) / (std::string(o.name) + ext)).string();
    d.nbands = o.series ? ref0.nyears : o.bands;
    OutputVariable v;
    v.name = o.name;
    v.units = "1";
    v.long_name = o.long_name;
    v.nsteps = d.nbands;
    d.variables.push_back(v);
    if (o.series) {
      d.first_year = ref0.first_year;
      d.bands_per_year = 1;
      d.calendar = ref0.calendar;
    }
    paths.push_back(out.add(d));
  }
  return paths;
}

std::vector<std::string> corvane_args(const std::vector<Param>& ps, const Plan& plan,
                                      const Images& im, const JobGrid& grid,
                                      const std::vector<std::string>& outs) {
  const bool norm = !ps.front().mean.empty();
  std::vector<std::string> v{"corvane", std::to_string(ps.size()), norm ? "1" : "0",
                             im.natveg ? "1" : "0"};
  if (im.natveg) v.push_back(im.natveg->path);
  v.push_back(std::to_string(plan.ref.front().nyears));
  v.push_back(std::to_string(im.nyear_fut));
  v.push_back(std::to_string(plan.ref_span.front().count));
  v.push_back(std::to_string(plan.ref_span.front().first));
  v.push_back(std::to_string(im.startyear_fut));
  v.push_back(im.grid.path());
  v.push_back(exact_number(grid.placed.global.res));
  for (size_t i = 0; i < ps.size(); ++i) {
    v.insert(v.end(), {ps[i].weight, im.ref[i].path, im.fut[i].path});
    if (norm) v.insert(v.end(), {ps[i].mean, ps[i].std});
  }
  v.push_back(std::to_string(grid.npixel()));
  v.insert(v.end(), outs.begin(), outs.end());
  return v;
}

// corvane's standard output as a table: one row per parameter with its weight and the global
// mean and deviation of its reference slice (as corvane printed them); other lines as printed.
void print_table(const std::vector<Param>& ps, const std::string& out) {
  std::istringstream lines(out);
  std::string line;
  std::vector<std::string> stats;
  double sum = 0;
  for (const Param& p : ps) sum += std::strtod(p.weight.c_str(), nullptr);
  while (std::getline(lines, line)) {
    if (line.starts_with("Number of parameters") || line.starts_with("Sum of parameter weights"))
      continue;
    if (line.starts_with("global_mean_ref ") || line.starts_with("supplied global_mean_ref ")) {
      stats.push_back(line);
      continue;
    }
    std::printf("%s\n", line.c_str());
  }
  std::printf("%-12s %10s  %16s %16s\n", "parameter", "weight", "global mean", "global std");
  for (size_t i = 0; i < ps.size() && i < stats.size(); ++i) {
    char mean[64] = "", sd[64] = "";
    const bool supplied = stats[i].starts_with("supplied");
    std::sscanf(stats[i].c_str() + (supplied ? 9 : 0), "global_mean_ref %63s global_std_ref %63s",
                mean, sd);
    std::printf("%-12s %10.6f  %16s %16s%s\n", ps[i].name.c_str(),
                std::strtod(ps[i].weight.c_str(), nullptr) / sum, mean, sd,
                supplied ? "  (--norm)" : "");
  }
}

void make_folder(const std::string& dir) {
  struct stat st = {};
  if (stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) throw usage_error("-o " + dir + " is not a folder");
    return;
  }
  if (mkdir(dir.c_str(), 0777) != 0)
    throw ToolError("cannot make the output folder " + quote(dir) + ": " + std::strerror(errno));
}

std::vector<std::string> input_paths(const std::vector<Param>& ps, const Args& a) {
  std::vector<std::string> v;
  for (const Param& p : ps) v.insert(v.end(), {p.ref, p.fut});
  if (a.natveg) v.push_back(*a.natveg);
  if (a.grid) v.push_back(*a.grid);
  return v;
}

int change_main(int argc, char** argv) {
  CLI::App app;
  Args a;
  interop::setup_app(app, kDescription, kExample);
  add_options(app, a);
  interop::parse_command_line(app, argc, argv);
  const Format format = parse_format(a.format);
  const std::vector<Param> ps = params_of(a);
  const Plan plan = plan_inputs(ps, a);

  std::optional<JobGrid> grid;
  if (a.grid) grid = grid_from_file(*a.grid);
  Images im;
  make_images(plan, a, grid, im);
  make_folder(a.outdir);
  OutputSet out(format, *grid, (std::filesystem::path(a.outdir) / "grid.bin").string(),
                input_paths(ps, a), job_history("change", argc, argv));
  const std::vector<std::string> outs = add_outputs(out, a, format, plan.ref.front());
  const ToolRun run = call_tool(corvane::run_corvane, corvane_args(ps, plan, im, *grid, outs));
  if (run.status != 0) {
    std::fputs(run.out.c_str(), stdout);
    return run.status;
  }
  out.finish(kProgram);
  print_table(ps, run.out);
  std::printf("%s: 8 outputs (%lld pixels, series of %lld years from %s)\n", a.outdir.c_str(),
              static_cast<long long>(grid->npixel()),
              static_cast<long long>(plan.ref.front().nyears),
              plan.ref.front().years_text().c_str());
  return 0;
}

}  // namespace

int run_change(int argc, char** argv) {
  return interop::run_tool(kProgram, [&] { return change_main(argc, argv); });
}

}  // namespace jobs
