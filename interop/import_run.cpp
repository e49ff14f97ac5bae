#include "import_run.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "import_source.h"
#include "report.h"
#include "sidecar.h"
#include "tool.h"

namespace interop::importer {

namespace {

static_assert(std::endian::native == std::endian::little,
              "raw raster files are little-endian float32, written as the values are held");

namespace fs = std::filesystem;

std::string quoted(const std::string& path) { return "'" + path + "'"; }

std::string degrees(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

// ---- which steps: whole years through the time axis, or every band when there is none ----

struct StepPlan {
  YearSpan span;
  bool dated = false;
};

std::vector<int64_t> step_years(const SourceInfo& in, const TimeAxis& axis) {
  std::vector<int64_t> years;
  years.reserve(in.time.size());
  for (size_t i = 0; i < in.time.size(); ++i) {
    if (!std::isfinite(in.time[i]))
      throw ToolError(quoted(in.path) + ": the time of step " + std::to_string(i + 1) +
                      " is not a number");
    years.push_back(date_of(in.time[i], axis).year);
  }
  return years;
}

StepPlan plan_steps(const SourceInfo& in, const std::optional<YearRange>& years,
                    const char* program) {
  std::string problem = in.time_problem;
  if (!in.time.empty()) {
    std::optional<TimeAxis> axis;
    try {
      axis = parse_time_axis(in.time_units, in.calendar);
    } catch (const ToolError& e) {
      problem = e.what();
    }
    if (axis)
      return {plan_years(step_years(in, *axis), years, axis->calendar, quoted(in.path)), true};
  }
  const std::string why = problem.empty() ? "" : " (" + problem + ")";
  if (years)
    throw ToolError(quoted(in.path) + " has no usable time axis" + why +
                    ": --years cannot choose years");
  if (in.nsteps > 1)
    raster::print_tool_warning(program,
                               "%s has no usable time axis%s: its %lld bands are imported as one "
                               "year of %lld bands",
                               quoted(in.path).c_str(), why.c_str(),
                               static_cast<long long>(in.nsteps),
                               static_cast<long long>(in.nsteps));
  return {{0, in.nsteps, 0, 1}, false};
}

// ---- where the file's rows and columns lie on the full regular grid ----

// Spacing of the file's longitudes (or latitudes when it has one column); none for one cell.
std::optional<double> file_spacing(const SourceInfo& in) {
  for (const std::vector<double>* axis : {&in.lon, &in.lat}) {
    double best = std::numeric_limits<double>::infinity();
    for (size_t i = 1; i < axis->size(); ++i) {
      const double d = std::fabs((*axis)[i] - (*axis)[i - 1]);
      if (d > 0 && d < best) best = d;
    }
    if (std::isfinite(best)) return best;
  }
  return std::nullopt;
}

// The resolution a spacing read from float coordinates stands for: a candidate when it is one.
double snap_resolution(double spacing) {
  for (const double c : candidate_resolutions())
    if (std::fabs(spacing - c) <= 1e-5 * c) return c;
  return spacing;
}

bool same_resolution(double a, double b) { return std::fabs(a - b) <= 1e-5 * b; }

// Index maps: file row of each global row and file column of each global column (-1: none).
struct FilePlacement {
  std::vector<int64_t> file_row;  // per global row
  std::vector<int64_t> file_col;  // per global column
};

// Global cell index along one axis of a coordinate that must be a cell centre.
int64_t cell_index(double coord, bool lat, const GlobalGrid& g, const std::string& path) {
  const double res = g.res;
  const int64_t n = lat ? g.nlat : g.nlon;
  const int64_t k = std::llround(lat ? (90.0 - coord) / res - 0.5 : (coord + 180.0) / res - 0.5);
  const double centre = lat ? g.lat_centre(k) : g.lon_centre(k);
  if (k < 0 || k >= n || std::fabs(centre - coord) > 0.005)
    throw ToolError(std::string(lat ? "latitude " : "longitude ") + degrees(coord) + " of " +
                    quoted(path) + " is not the centre of a cell of the " + degrees(res) +
                    " degree grid (" + (lat ? "90 - " : "-180 + ") + degrees(res / 2) + " + k * " +
                    degrees(res) + ")");
  return k;
}

std::vector<int64_t> map_axis(const std::vector<double>& coords, bool lat, const GlobalGrid& g,
                              const std::string& path) {
  std::vector<int64_t> file_index(static_cast<size_t>(lat ? g.nlat : g.nlon), -1);
  for (size_t i = 0; i < coords.size(); ++i) {
    double c = coords[i];
    if (!lat) {
      while (c >= 180.0) c -= 360.0;  // 0..360 longitudes
      while (c < -180.0) c += 360.0;
    }
    const int64_t k = cell_index(c, lat, g, path);
    int64_t& slot = file_index[static_cast<size_t>(k)];
    if (slot >= 0)
      throw ToolError(quoted(path) + " has two " +
                      (lat ? "rows at latitude "
                           : "columns at "
                             "longitude ") +
                      degrees(c) + " (indexes " + std::to_string(slot) + " and " +
                      std::to_string(i) + ")");
    slot = static_cast<int64_t>(i);
  }
  return file_index;
}

// ---- the pixels: from the input's first step, or a given grid file's ----

struct Pixels {
  std::vector<int64_t> file_index;  // per pixel: index into a step's values, -1 for none
  std::vector<GridPoint> points;    // grid from the input only
  int64_t no_value = 0;
};

GridPoint point_of_cell(const GlobalGrid& g, Convention c, int64_t row, int64_t col) {
  const double lat = g.lat_centre(row) + (c == Convention::northedge ? g.res / 2 : 0.0);
  return {static_cast<int16_t>(std::lround(g.lon_centre(col) * 100)),
          static_cast<int16_t>(std::lround(lat * 100))};
}

Pixels pixels_from_input(const GlobalGrid& g, Convention c, const FilePlacement& fp,
                         const std::vector<float>& first, int64_t ncol, const SourceInfo& in) {
  Pixels px;
  for (int64_t row = 0; row < g.nlat; ++row) {
    const int64_t fr = fp.file_row[static_cast<size_t>(row)];
    if (fr < 0) continue;
    for (int64_t col = 0; col < g.nlon; ++col) {
      const int64_t fc = fp.file_col[static_cast<size_t>(col)];
      if (fc < 0 || std::isnan(first[static_cast<size_t>(fr * ncol + fc)])) continue;
      px.file_index.push_back(fr * ncol + fc);
      px.points.push_back(point_of_cell(g, c, row, col));
    }
  }
  if (px.file_index.empty())
    throw ToolError(quoted(in.path) + ": no cell of " + in.variable +
                    " holds a value in the first step imported");
  return px;
}

Pixels pixels_of_grid(const PlacedGrid& grid, const FilePlacement& fp,
                      const std::vector<float>& first, int64_t ncol) {
  Pixels px;
  px.file_index.reserve(grid.cells.size());
  for (const int64_t cell : grid.cells) {
    const int64_t fr = fp.file_row[static_cast<size_t>(cell / grid.global.nlon)];
    const int64_t fc = fp.file_col[static_cast<size_t>(cell % grid.global.nlon)];
    const int64_t idx = fr >= 0 && fc >= 0 ? fr * ncol + fc : -1;
    if (idx < 0 || std::isnan(first[static_cast<size_t>(idx)])) ++px.no_value;
    px.file_index.push_back(idx);
  }
  return px;
}

// ---- outputs ----

fs::path normal(const std::string& p) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(fs::absolute(p), ec);
  return ec ? fs::absolute(p).lexically_normal() : a;
}

// Outputs never land on an input, nor on each other.
void check_outputs(const std::vector<std::string>& outputs,
                   const std::vector<std::string>& inputs) {
  for (size_t i = 0; i < outputs.size(); ++i) {
    refuse_output_over_inputs(outputs[i], inputs);
    for (const std::string& in : inputs)
      if (!in.empty() && normal(outputs[i]) == normal(in))
        throw usage_error("output " + outputs[i] + " is the input " + in +
                          "; refusing to overwrite it");
    for (size_t j = 0; j < i; ++j)
      if (normal(outputs[i]) == normal(outputs[j]))
        throw usage_error("outputs " + outputs[j] + " and " + outputs[i] +
                          " are the same file (the raw file, its sidecar .hdr and the grid "
                          "file need three names)");
  }
}

void copy_pixels(const std::vector<float>& step, const std::vector<int64_t>& index,
                 std::vector<float>& out) {
  for (size_t p = 0; p < index.size(); ++p)
    out[p] = index[p] >= 0 ? step[static_cast<size_t>(index[p])]
                           : std::numeric_limits<float>::quiet_NaN();
}

Sidecar sidecar_of(const ImportSummary& s, const SourceInfo& in, const StepPlan& plan,
                   const std::string& grid_path) {
  Sidecar sc;
  sc.samples = s.npixel;
  sc.bands = s.bands_per_year * s.nyears;
  if (!names_stream(grid_path)) sc.grid_file = grid_file_for_sidecar(s.raw, grid_path);
  sc.resolution = s.res;
  sc.convention = s.convention;
  if (plan.dated) {
    sc.bands_per_year = s.bands_per_year;
    sc.first_year = s.first_year;
  }
  if (!in.variable.empty()) sc.variable = in.variable;
  if (!in.units.empty()) sc.units = in.units;
  if (!in.long_name.empty()) sc.long_name = in.long_name;
  return sc;
}

// A raw output that is a device or a FIFO takes the values alone: nothing is written beside it
// (a sidecar /dev/stdout.hdr would land in /dev), the grid only where --grid-out names it.
void note_stream_output(const OutputTarget& raw, const ImportOptions& opt, const char* program,
                        ImportSummary& sum) {
  sum.sidecar.clear();
  if (!opt.grid && !opt.grid_out) sum.grid.clear();
  const std::string grid = opt.grid       ? "its pixels are those of grid file " + *opt.grid
                           : opt.grid_out ? "the grid goes to " + *opt.grid_out
                                          : "no grid file either (give --grid-out FILE to keep it)";
  raster::print_tool_warning(program,
                             "output %s is %s: the values are written straight through it, and "
                             "no sidecar is written beside it; %s",
                             raw.path().c_str(), raw.stream_text().c_str(), grid.c_str());
}

// The sidecar and the default grid are named after the raw file, not by the user: a FIFO or
// device under such a name is a mistake to report, not a stream to wait on.
void refuse_streams_beside(const ImportSummary& sum, const ImportOptions& opt) {
  std::vector<std::string> beside{sum.sidecar};
  if (!opt.grid && !opt.grid_out) beside.push_back(sum.grid);
  for (const std::string& b : beside)
    if (!b.empty() && names_stream(b))
      throw ToolError("cannot write " + b + " beside " + sum.raw + ": it is " +
                      path_kind_text(path_kind(b)) +
                      ", which is never replaced; write the raw file under another name");
}

}  // namespace

std::string default_grid_out(const std::string& output) {
  fs::path p(output);
  p.replace_extension();
  return p.string() + ".grid.bin";
}

std::string summary_line(const ImportSummary& s) {
  return "npixel " + std::to_string(s.npixel) + " nbandsyear " + std::to_string(s.bands_per_year) +
         " nyears " + std::to_string(s.nyears) + " firstyear " +
         (s.first_year ? std::to_string(*s.first_year) : "NA");
}

ImportSummary run_import(const ImportOptions& opt, const char* program) {
  ImportSummary sum;
  sum.raw = opt.output;
  sum.sidecar = sidecar_path(opt.output);
  const bool own_grid = !opt.grid;
  sum.grid = own_grid ? opt.grid_out.value_or(default_grid_out(opt.output)) : *opt.grid;
  std::vector<std::string> outputs{sum.raw, sum.sidecar};
  if (own_grid) outputs.push_back(sum.grid);
  check_outputs(outputs, {opt.input, opt.grid.value_or("")});
  if (path_kind(opt.input) != PathKind::none) check_input_file(opt.input);
  OutputTarget raw(sum.raw, "raw raster file", true);
  if (raw.is_stream()) note_stream_output(raw, opt, program, sum);
  refuse_streams_beside(sum, opt);

  if (opt.res && (*opt.res < 0.001 || *opt.res > 180))
    throw usage_error("--res " + degrees(*opt.res) +
                      " is not a resolution import handles (0.001 to 180 degrees)");
  std::unique_ptr<Source> src = open_source(opt.input, opt.var);
  const SourceInfo& in = src->info();
  const StepPlan plan = plan_steps(in, opt.years, program);

  std::optional<PlacedGrid> grid;
  if (!own_grid) grid = place_grid(*opt.grid, opt.res, opt.convention);
  const std::optional<double> spacing = file_spacing(in);
  if (grid && spacing && !same_resolution(*spacing, grid->global.res))
    throw ToolError("grid file " + quoted(*opt.grid) + " is a " + degrees(grid->global.res) +
                    " degree grid but " + quoted(in.path) + " has " +
                    degrees(snap_resolution(*spacing)) + " degree cells" +
                    (opt.res ? "" : " (give --res if the grid's resolution is another)"));
  if (!grid && opt.res && spacing && !same_resolution(*spacing, *opt.res))
    throw ToolError("--res " + degrees(*opt.res) + " does not match the " +
                    degrees(snap_resolution(*spacing)) + " degree cells of " + quoted(in.path));
  if (!grid && !opt.res && !spacing)
    throw ToolError(quoted(in.path) +
                    " has a single cell, which does not tell its resolution: "
                    "give --res");
  const GlobalGrid g =
      grid ? grid->global : GlobalGrid(opt.res.value_or(snap_resolution(*spacing)));
  sum.res = g.res;
  sum.convention = grid ? grid->convention : opt.convention.value_or(Convention::northedge);
  const FilePlacement fp{map_axis(in.lat, true, g, in.path), map_axis(in.lon, false, g, in.path)};

  std::vector<float> step;
  src->read_step(plan.span.first_step, step);
  const auto ncol = static_cast<int64_t>(in.lon.size());
  const Pixels px = grid ? pixels_of_grid(*grid, fp, step, ncol)
                         : pixels_from_input(g, sum.convention, fp, step, ncol, in);
  sum.npixel = static_cast<int64_t>(px.file_index.size());
  sum.no_value = px.no_value;
  if (px.no_value > 0)
    raster::print_tool_warning(program,
                               "%lld of %lld pixels of grid file %s have no value in %s (their "
                               "cells lie outside its grid or hold no value in the first step "
                               "imported): they are NaN",
                               static_cast<long long>(px.no_value),
                               static_cast<long long>(sum.npixel), quoted(*opt.grid).c_str(),
                               quoted(in.path).c_str());

  sum.variable = in.variable;
  sum.units = in.units;
  sum.bands_per_year = plan.span.steps_per_year;
  sum.nyears = plan.span.nyears;
  if (plan.dated) sum.first_year = plan.span.first_year;

  std::vector<float> pixels(px.file_index.size());
  const int64_t nsteps = plan.span.steps_per_year * plan.span.nyears;
  for (int64_t t = 0; t < nsteps; ++t) {
    if (t > 0) src->read_step(plan.span.first_step + t, step);
    copy_pixels(step, px.file_index, pixels);
    raw.write(pixels.data(), pixels.size() * sizeof(float));
  }
  raw.close();
  if (own_grid && !sum.grid.empty()) write_grid(sum.grid, px.points);
  if (!sum.sidecar.empty()) write_sidecar(sum.raw, sidecar_of(sum, in, plan, sum.grid));
  raw.commit();
  return sum;
}

}  // namespace interop::importer
