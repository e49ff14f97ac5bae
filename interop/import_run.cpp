#include "import_run.h"

#include <sys/stat.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "import_lattice.h"
#include "import_plan.h"
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

}  // namespace

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

// ---- the pixels: the cells that hold a value in any step imported, or a grid file's ----

Covered covered_cells(const GlobalGrid& g, const FilePlacement& fp, int64_t ncol) {
  Covered c;
  for (int64_t row = 0; row < g.nlat; ++row) {
    const int64_t fr = fp.file_row[static_cast<size_t>(row)];
    if (fr < 0) continue;
    for (int64_t col = 0; col < g.nlon; ++col) {
      const int64_t fc = fp.file_col[static_cast<size_t>(col)];
      if (fc < 0) continue;
      c.cell.push_back(row * g.nlon + col);
      c.file_index.push_back(fr * ncol + fc);
    }
  }
  return c;
}

namespace {

// The planned steps, read one by one into one buffer. The first reading of each step also
// counts the values of repeated wrap-around columns that differ from the column they repeat.
class StepReader {
 public:
  StepReader(Source& src, const StepPlan& plan, const FilePlacement& fp)
      : src_(src), plan_(plan), fp_(fp), ncol_(static_cast<int64_t>(src.info().lon.size())) {}

  int64_t count() const { return plan_.span.steps_per_year * plan_.span.nyears; }
  int64_t repeat_differences() const { return differences_; }
  /// Steps from `t` on will be read again: keep them in memory if they fit.
  void keep_from(int64_t t) { src_.keep_steps(plan_.span.first_step + t, count() - t); }

  const std::vector<float>& read(int64_t t) {
    src_.read_step(plan_.span.first_step + t, step_);
    if (t == compared_) {
      ++compared_;
      count_differences();
    }
    return step_;
  }

 private:
  void count_differences() {
    const auto nrow = static_cast<int64_t>(src_.info().lat.size());
    for (const FilePlacement::Repeat& r : fp_.repeats)
      for (int64_t row = 0; row < nrow; ++row) {
        const float a = step_[static_cast<size_t>(row * ncol_ + r.col)];
        const float b = step_[static_cast<size_t>(row * ncol_ + r.of)];
        if (!(std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b) ||
              (std::isnan(a) && std::isnan(b))))
          ++differences_;
      }
  }

  Source& src_;
  const StepPlan& plan_;
  const FilePlacement& fp_;
  int64_t ncol_;
  std::vector<float> step_;
  int64_t compared_ = 0;
  int64_t differences_ = 0;
};

}  // namespace

bool mark_values(std::span<const float> step, std::span<const int64_t> index,
                 std::vector<uint8_t>& seen) {
  bool fresh = false;
  for (const int64_t i : index) {
    if (i < 0 || seen[static_cast<size_t>(i)] || std::isnan(step[static_cast<size_t>(i)])) continue;
    seen[static_cast<size_t>(i)] = 1;
    fresh = true;
  }
  return fresh;
}

Pixels pixels_seen(const Covered& cov, const std::vector<uint8_t>& seen, const GlobalGrid& g,
                   Convention c) {
  Pixels px;
  for (size_t i = 0; i < cov.cell.size(); ++i) {
    if (!seen[static_cast<size_t>(cov.file_index[i])]) continue;
    px.file_index.push_back(cov.file_index[i]);
    px.points.push_back(point_of_cell(g, c, cov.cell[i] / g.nlon, cov.cell[i] % g.nlon));
  }
  return px;
}

Pixels pixels_of_grid(const PlacedGrid& grid, const FilePlacement& fp, int64_t ncol) {
  Pixels px;
  px.file_index.reserve(grid.cells.size());
  for (const int64_t cell : grid.cells) {
    const int64_t fr = fp.file_row[static_cast<size_t>(cell / grid.global.nlon)];
    const int64_t fc = fp.file_col[static_cast<size_t>(cell % grid.global.nlon)];
    px.file_index.push_back(fr >= 0 && fc >= 0 ? fr * ncol + fc : -1);
  }
  return px;
}

namespace {

// ---- outputs ----

// A raw output written under its temporary name: every write and the close checked.
class RawWriter {
 public:
  explicit RawWriter(const std::string& final_path) : tmp_(final_path) {
    f_ = std::fopen(tmp_.path().c_str(), "wb");
    if (!f_) fail("cannot create");
  }
  ~RawWriter() {
    if (f_) std::fclose(f_);
  }
  RawWriter(const RawWriter&) = delete;
  RawWriter& operator=(const RawWriter&) = delete;

  void write(const std::vector<float>& v) {
    if (std::fwrite(v.data(), sizeof(float), v.size(), f_) != v.size()) fail("cannot write");
  }
  void close() {
    FILE* f = f_;
    f_ = nullptr;
    if (std::fflush(f) != 0 || std::ferror(f)) {
      const int err = errno;
      std::fclose(f);
      errno = err;
      fail("cannot write");
    }
    if (std::fclose(f) != 0) fail("cannot close");
  }
  void commit() { tmp_.commit(); }

 private:
  [[noreturn]] void fail(const char* what) const {
    throw ToolError(std::string(what) + " " + quoted(tmp_.final_path()) + " (as " +
                    quoted(tmp_.path()) + "): " + std::strerror(errno));
  }
  TempOutput tmp_;
  FILE* f_ = nullptr;
};

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
  sc.grid_file = grid_file_for_sidecar(s.raw, grid_path);
  sc.resolution = s.res;
  sc.origin = s.origin;
  sc.convention = s.convention;
  if (plan.dated) {
    sc.bands_per_year = s.bands_per_year;
    sc.first_year = s.first_year;
    sc.calendar = in.calendar;
  }
  if (!in.variable.empty()) sc.variable = in.variable;
  if (!in.units.empty()) sc.units = in.units;
  if (!in.long_name.empty()) sc.long_name = in.long_name;
  return sc;
}

// ---- the passes over the steps ----

// Writes the pixels `index` of every step through `raw`; marks in `seen` (when given) the cells
// of `index` that hold a value.
void write_steps(StepReader& steps, const std::vector<int64_t>& index, RawWriter& raw,
                 std::vector<uint8_t>* seen) {
  std::vector<float> pixels(index.size());
  for (int64_t t = 0; t < steps.count(); ++t) {
    const std::vector<float>& step = steps.read(t);
    if (seen) mark_values(step, index, *seen);
    copy_pixels(step, index, pixels);
    raw.write(pixels);
  }
}

// Marks in `seen` the cells of `watch` that hold a value in any step.
void mark_steps(StepReader& steps, const std::vector<int64_t>& watch, std::vector<uint8_t>& seen) {
  for (int64_t t = 0; t < steps.count(); ++t) mark_values(steps.read(t), watch, seen);
}

// Where the pixels' grid records lie: the lattice and the convention of the records.
struct RecordPlace {
  const GlobalGrid& g;
  Convention convention;
};

// Writes the cells with a value in the first step while no later step holds a value elsewhere:
// for most files (a fixed land mask) the pixels are known after this one pass. A step with a
// value in a new cell stops the writing; the rest of the steps are only marked (and kept
// decompressed when they fit in memory), and false tells the caller to write again with every
// cell that held a value.
bool write_while_known(StepReader& steps, const Covered& cov, std::vector<uint8_t>& seen,
                       RecordPlace place, RawWriter& raw, Pixels& px) {
  const std::vector<float>* step = &steps.read(0);
  mark_values(*step, cov.file_index, seen);
  px = pixels_seen(cov, seen, place.g, place.convention);
  std::vector<float> pixels(px.file_index.size());
  bool known = true;
  for (int64_t t = 0; t < steps.count(); ++t) {
    if (t > 0) {
      step = &steps.read(t);
      if (mark_values(*step, cov.file_index, seen) && known) {
        known = false;
        steps.keep_from(0);  // all are read again; those read from now on stay decompressed
      }
    }
    if (!known) continue;
    copy_pixels(*step, px.file_index, pixels);
    raw.write(pixels);
  }
  return known;
}

// Whether the raw output may be written a second time: a new path or a regular file (written
// under a temporary name), not a device or a pipe.
bool output_can_start_over(const std::string& path) {
  struct stat st = {};
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode);
}

// What the passes leave: the raw output (written, not yet closed) and its pixels.
struct Written {
  std::unique_ptr<RawWriter> raw;
  Pixels px;
  int64_t no_value = 0;  // --grid pixels without a value in any step
  int64_t outside = 0;   // of them, outside the file's grid
  int64_t left_out = 0;  // cells of the file without a value in any step
};

// --grid: one pass; the pixels without a value are counted.
Written write_grid_pixels(StepReader& steps, const PlacedGrid& grid, const FilePlacement& fp,
                          int64_t ncol, std::vector<uint8_t>& seen, const std::string& out) {
  Written w;
  w.px = pixels_of_grid(grid, fp, ncol);
  w.raw = std::make_unique<RawWriter>(out);
  write_steps(steps, w.px.file_index, *w.raw, &seen);
  for (const int64_t i : w.px.file_index) {
    w.outside += i < 0 ? 1 : 0;
    w.no_value += i < 0 || !seen[static_cast<size_t>(i)] ? 1 : 0;
  }
  return w;
}

// The cells with a value in any step: one pass when the first step tells them, else a second
// (first when the output can be written only once).
Written write_own_pixels(StepReader& steps, const Covered& cov, std::vector<uint8_t>& seen,
                         RecordPlace place, const std::string& out, const SourceInfo& in) {
  Written w;
  bool written = false;
  if (output_can_start_over(out)) {
    w.raw = std::make_unique<RawWriter>(out);
    written = write_while_known(steps, cov, seen, place, *w.raw, w.px);
  } else {
    steps.keep_from(0);
    mark_steps(steps, cov.file_index, seen);
  }
  if (!written) w.px = pixels_seen(cov, seen, place.g, place.convention);
  if (w.px.file_index.empty())
    throw ToolError(quoted(in.path) + ": no cell of " + in.variable +
                    " holds a value in any step imported");
  if (!written) {
    w.raw.reset();  // a first attempt, under its temporary name, goes
    w.raw = std::make_unique<RawWriter>(out);
    write_steps(steps, w.px.file_index, *w.raw, nullptr);
  }
  w.left_out = static_cast<int64_t>(cov.cell.size() - w.px.file_index.size());
  return w;
}

// ---- the lattice: the file's, and the grid given with --grid on it ----

PlacedGrid place_given_grid(const std::string& path, const ImportOptions& opt,
                            const std::optional<GlobalGrid>& own, const SourceInfo& in) {
  if (!own) return place_grid(path, opt.res, opt.convention);
  std::optional<PlacedGrid> on_own;
  try {
    on_own = place_grid(path, opt.res, opt.convention, own->origin());
  } catch (const ToolError&) {
    // Below: the grid's own lattice tells why (or the grid's own fault is reported).
  }
  PlacedGrid pg = on_own ? std::move(*on_own) : place_grid(path, opt.res, opt.convention);
  if (!same_resolution(pg.global.res, own->res))
    throw ToolError("grid file " + quoted(path) + " is a " + degrees(pg.global.res) +
                    " degree grid but " + quoted(in.path) + " has " + degrees(own->res) +
                    " degree cells" +
                    (opt.res ? "" : " (give --res if the grid's resolution is another)"));
  if (!on_own)
    throw ToolError("grid file " + quoted(path) + " lies on the " + lattice_text(pg.global) +
                    " but the cells of " + quoted(in.path) + " on the " + lattice_text(*own));
  return pg;
}

void report_repeats(const FilePlacement& fp, const SourceInfo& in, int64_t differences,
                    const char* program) {
  if (fp.repeats.empty()) return;
  const FilePlacement::Repeat& r = fp.repeats.front();
  const size_t more = fp.repeats.size() - 1;
  const std::string text =
      quoted(in.path) + ": its column at longitude " + degrees(in.lon[static_cast<size_t>(r.col)]) +
      " repeats the one at longitude " + degrees(in.lon[static_cast<size_t>(r.of)]) +
      " (360 degrees apart) and is left out" +
      (more ? " (with " + std::to_string(more) + " more such column(s))" : "");
  if (differences == 0)
    raster::print_tool_note(program, "%s", text.c_str());
  else
    raster::print_tool_warning(program,
                               "%s, although %lld of its values differ from those of the column "
                               "it repeats: they are dropped",
                               text.c_str(), static_cast<long long>(differences));
}

void report_no_value(const ImportSummary& sum, int64_t outside, const std::string& grid,
                     const SourceInfo& in, const char* program) {
  if (sum.no_value == 0) return;
  const std::string why =
      outside == sum.no_value ? "their cells lie outside its grid"
      : outside == 0          ? "their cells hold no value in any step imported"
                              : std::to_string(outside) +
                           " lie outside its grid, the others hold no value in any step imported";
  raster::print_tool_warning(
      program, "%lld of %lld pixels of grid file %s have no value in %s (%s): they are NaN",
      static_cast<long long>(sum.no_value), static_cast<long long>(sum.npixel),
      quoted(grid).c_str(), quoted(in.path).c_str(), why.c_str());
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

  if (opt.res && (*opt.res < 1.0 / 60 * (1 - 1e-9) || *opt.res > 180))
    throw usage_error("--res " + degrees(*opt.res) +
                      " is not a resolution import handles (1/60 to 180 degrees)");
  std::unique_ptr<Source> src = open_source(opt.input, opt.var, opt.level);
  const SourceInfo& in = src->info();
  const StepPlan plan = plan_steps(in, opt.years, program);

  const std::optional<GlobalGrid> own = file_lattice(in, opt.res);
  std::optional<PlacedGrid> grid;
  if (!own_grid) grid = place_given_grid(*opt.grid, opt, own, in);
  if (!grid && !own)
    throw ToolError(quoted(in.path) +
                    " has a single cell, which does not tell its resolution: give --res");
  const GlobalGrid g = grid ? grid->global : *own;
  sum.res = g.res;
  sum.origin = g.origin();
  sum.convention = grid ? grid->convention : opt.convention.value_or(Convention::northedge);
  sum.level = in.level;
  const FilePlacement fp = place_file(in, g);
  sum.repeats = static_cast<int64_t>(fp.repeats.size());

  sum.variable = in.variable;
  sum.units = in.units;
  sum.bands_per_year = plan.span.steps_per_year;
  sum.nyears = plan.span.nyears;
  if (plan.dated) sum.first_year = plan.span.first_year;

  StepReader steps(*src, plan, fp);
  const std::string step_text = "a step of " + quoted(in.path);
  std::vector<uint8_t> seen;
  size_for(seen, cells_of(in.lat.size(), in.lon.size(), step_text), step_text);
  const auto ncol = static_cast<int64_t>(in.lon.size());
  Written w = grid ? write_grid_pixels(steps, *grid, fp, ncol, seen, sum.raw)
                   : write_own_pixels(steps, covered_cells(g, fp, ncol), seen, {g, sum.convention},
                                      sum.raw, in);
  sum.npixel = static_cast<int64_t>(w.px.file_index.size());
  sum.no_value = w.no_value;
  sum.left_out = w.left_out;
  report_repeats(fp, in, steps.repeat_differences(), program);
  report_no_value(sum, w.outside, sum.grid, in, program);

  const std::vector<GridPoint>& points = w.px.points;
  RawWriter& raw = *w.raw;
  raw.close();
  if (own_grid) write_grid(sum.grid, points);
  write_sidecar(sum.raw, sidecar_of(sum, in, plan, sum.grid));
  raw.commit();
  return sum;
}

}  // namespace interop::importer
