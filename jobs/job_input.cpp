#include "job_input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "import_lattice.h"
#include "import_plan.h"
#include "import_source.h"
#include "parallel.h"
#include "rawfile.h"
#include "report.h"
#include "sidecar.h"
#include "tool.h"

namespace jobs {

using interop::ToolError;
namespace imp = interop::importer;

struct Input::NetcdfPart {
  std::unique_ptr<imp::Source> source;
  imp::StepPlan plan;
  imp::FilePlacement placement;
  imp::Covered covered;
};

std::string quote(const std::string& path) { return "'" + path + "'"; }

// ---- MemFile ----

MemFile::MemFile(const std::string& name) : name_(name) {
  fd_ = memfd_create(("rastertools-" + name).c_str(), MFD_CLOEXEC);
  if (fd_ < 0)
    throw ToolError("cannot make the in-memory file for " + name + ": " + std::strerror(errno));
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemFile::~MemFile() {
  unmap();
  if (fd_ >= 0) close(fd_);
}

void MemFile::unmap() {
  if (map_) munmap(map_, map_bytes_);
  map_ = nullptr;
  map_bytes_ = 0;
}

int64_t MemFile::size() const {
  struct stat st = {};
  if (fstat(fd_, &st) != 0)
    throw ToolError("cannot size the in-memory file for " + name_ + ": " + std::strerror(errno));
  return st.st_size;
}

float* MemFile::map_floats(int64_t nvalues) {
  unmap();
  if (nvalues < 0 || nvalues > std::numeric_limits<int64_t>::max() / 4)
    throw ToolError("the in-memory file for " + name_ + " would exceed 64-bit sizes");
  const int64_t bytes = nvalues * 4;
  if (ftruncate(fd_, 0) != 0 || ftruncate(fd_, bytes) != 0)
    throw ToolError("cannot size the in-memory file for " + name_ + " (" + std::to_string(bytes) +
                    " bytes): " + std::strerror(errno));
  if (bytes == 0) return nullptr;
  // Populated at once: one call instead of a fault per page as the threads fill it.
  void* p = mmap(nullptr, static_cast<size_t>(bytes), PROT_READ | PROT_WRITE,
                 MAP_SHARED | MAP_POPULATE, fd_, 0);
  if (p == MAP_FAILED)
    throw ToolError("cannot map the in-memory file for " + name_ + " (" + std::to_string(bytes) +
                    " bytes): " + std::strerror(errno));
  map_ = p;
  map_bytes_ = static_cast<size_t>(bytes);
  return static_cast<float*>(p);
}

// ---- inputs ----

std::string Input::years_text() const {
  if (!first_year) return "no time axis";
  return std::to_string(*first_year) + "-" + std::to_string(*first_year + nyears - 1);
}

JobGrid grid_from_file(const std::string& path) {
  JobGrid g;
  g.placed = interop::place_grid(path, std::nullopt, std::nullopt);
  g.from = path;
  g.given = true;
  return g;
}

namespace {

Input describe_netcdf(std::unique_ptr<imp::Source> src, const char* program) {
  const imp::SourceInfo& si = src->info();
  Input in;
  in.path = si.path;
  in.netcdf = true;
  in.label = si.variable;
  in.units = si.units;
  in.long_name = si.long_name;
  auto part = std::make_shared<Input::NetcdfPart>();
  part->plan = imp::plan_steps(si, std::nullopt, program);
  if (part->plan.dated) {
    in.first_year = part->plan.span.first_year;
    in.calendar = si.calendar;
  }
  in.bands_per_year = part->plan.span.steps_per_year;
  in.nyears = part->plan.span.nyears;
  in.lattice = imp::file_lattice(si, std::nullopt);
  if (!in.lattice)
    throw ToolError(quote(in.path) + " has a single cell, which does not tell its resolution");
  part->placement = imp::place_file(si, *in.lattice);
  part->covered =
      imp::covered_cells(*in.lattice, part->placement, static_cast<int64_t>(si.lon.size()));
  part->source = std::move(src);
  in.nc = std::move(part);
  return in;
}

Input describe_raw(const std::string& path, const std::string& name,
                   const std::optional<std::string>& grid) {
  const std::optional<interop::Sidecar> sc = interop::read_sidecar(path);
  if (!sc)
    throw ToolError(quote(path) + " is not NetCDF and has no sidecar " +
                    quote(interop::sidecar_path(path)) +
                    " to read it as a raw raster file (import it, or give a NetCDF file)");
  interop::RasterOptions given;
  given.grid = grid;
  const interop::RasterOptions opt = interop::resolve_defaults(path, given, sc);
  if (!opt.grid)
    throw ToolError("no grid file for " + quote(path) + ": its sidecar names none; give --grid");
  Input in;
  in.path = path;
  in.label = name.empty() ? opt.variable.value_or("") : name;
  in.units = opt.units.value_or("");
  in.long_name = opt.long_name.value_or("");
  in.calendar = opt.calendar.value_or("");
  in.first_year = opt.first_year;
  in.bands_per_year = opt.bands_per_year.value_or(1);
  JobGrid g;
  g.placed = interop::place_grid(*opt.grid, opt.res, opt.convention, opt.origin);
  g.from = *opt.grid;
  const int64_t npixel = sc->samples;
  if (g.npixel() != npixel)
    throw ToolError(quote(path) + " has " + std::to_string(npixel) +
                    " pixels a band (its sidecar) but its grid file " + quote(*opt.grid) + " has " +
                    std::to_string(g.npixel()));
  const interop::RawFile raw(path, npixel);
  if (raw.leftover() != 0)
    throw ToolError(quote(path) + ": its last " + std::to_string(raw.leftover()) +
                    " bytes make no whole band of " + std::to_string(npixel) + " pixels");
  if (raw.bands() == 0 || raw.bands() % in.bands_per_year != 0)
    throw ToolError(quote(path) + " holds " + std::to_string(raw.bands()) +
                    " bands, not whole years of " + std::to_string(in.bands_per_year) +
                    " bands (its sidecar's bands per year)");
  in.nyears = raw.bands() / in.bands_per_year;
  in.raw_grid = std::move(g);
  return in;
}

}  // namespace

Input open_input(const std::string& path, const std::string& name,
                 const std::optional<std::string>& grid, const char* program) {
  std::unique_ptr<imp::Source> src = imp::open_netcdf(path, name, std::nullopt);
  if (src) return describe_netcdf(std::move(src), program);
  return describe_raw(path, name, grid);
}

YearSpan select_years(const Input& in, const imp::YearRange& range, const std::string& option) {
  const std::string asked =
      option + " " + std::to_string(range.first) + "-" + std::to_string(range.last);
  if (!in.first_year)
    throw ToolError(asked + ": " + quote(in.path) +
                    " has no time axis (no dated steps, or a sidecar without a first year)");
  const int64_t last = *in.first_year + in.nyears - 1;
  if (range.first > range.last || range.first < *in.first_year || range.last > last)
    throw ToolError(asked + ": " + quote(in.path) + " holds the years " + in.years_text());
  return {range.first - *in.first_year, range.last - range.first + 1};
}

void same_bands_per_year(const Input& a, const Input& b, const std::string& what) {
  if (a.bands_per_year != b.bands_per_year)
    throw ToolError(what + ": " + quote(a.path) + " has " + std::to_string(a.bands_per_year) +
                    " bands per year but " + quote(b.path) + " has " +
                    std::to_string(b.bands_per_year));
}

namespace {

bool same_lattice(const interop::GlobalGrid& a, const interop::GlobalGrid& b) {
  return imp::same_resolution(a.res, b.res) && a.nlat == b.nlat && a.nlon == b.nlon &&
         std::abs(a.west - b.west) < 1e-6 && std::abs(a.north - b.north) < 1e-6;
}

[[noreturn]] void refuse_grid(const std::string& path, const JobGrid& grid,
                              const std::string& why) {
  throw ToolError("inputs on different grids: " + quote(path) + " " + why + " (the pixels of " +
                  quote(grid.from) + ")");
}

void check_lattice(const std::string& path, const interop::GlobalGrid& own, const JobGrid& grid) {
  if (!same_lattice(own, grid.placed.global))
    refuse_grid(path, grid,
                "lies on the " + interop::lattice_text(own) + ", not on the " +
                    interop::lattice_text(grid.placed.global));
}

std::string place_text(const interop::GridPoint& p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "lon %.2f lat %.2f", p.lon(), p.lat());
  return buf;
}

}  // namespace

void join_grid(std::optional<JobGrid>& grid, const Input& in) {
  if (in.netcdf) return;
  const JobGrid& own = *in.raw_grid;
  if (!grid) {
    grid = own;
    return;
  }
  check_lattice(in.path, own.placed.global, *grid);
  if (own.npixel() != grid->npixel())
    refuse_grid(
        in.path, *grid,
        "has " + std::to_string(own.npixel()) + " pixels, not " + std::to_string(grid->npixel()));
  for (size_t p = 0; p < own.placed.cells.size(); ++p)
    if (own.placed.cells[p] != grid->placed.cells[p])
      refuse_grid(in.path, *grid,
                  "has its pixel " + std::to_string(p) + " at " + place_text(own.placed.points[p]) +
                      ", not at " + place_text(grid->placed.points[p]));
}

// ---- images ----

namespace {

// Copies years of a raw input into memory: bands [first, first + n) of `npixel` values.
void copy_raw_bands(const std::string& path, int64_t npixel, int64_t first, int64_t n, float* dst) {
  const raster::InFile f = raster::InFile::open(path.c_str());
  const int fd = fileno(f.get());
  const int64_t bytes = n * npixel * 4;
  int64_t done = 0;
  while (done < bytes) {
    const ssize_t r = pread(fd, reinterpret_cast<char*>(dst) + done,
                            static_cast<size_t>(std::min<int64_t>(bytes - done, 1 << 30)),
                            first * npixel * 4 + done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0)
      throw ToolError("cannot read " + quote(path) + ": " +
                      (r < 0 ? std::strerror(errno) : "the file ended early"));
    done += r;
  }
}

// Where a pass puts the pixels of every step it reads.
struct Gather {
  imp::Pixels px;
  MemFile* mem = nullptr;
  float* out = nullptr;
  int64_t npixel() const { return static_cast<int64_t>(px.file_index.size()); }
};

// The steps [first, first + count) of the source, decoded block by block on the team; marks in
// `seen` the covered cells with a value and gathers the pixels of every step. `decide`, when
// given, sets the pixels once the first block is marked; a later block with a value in a new
// cell then stops the gathering (false: the pixels are to be decided again from `seen`).
bool read_pass(Input::NetcdfPart& part, int64_t first, int64_t count, Gather& g,
               std::vector<uint8_t>& seen, raster::ThreadTeam& team,
               const std::function<void()>& decide) {
  const imp::SourceInfo& si = part.source->info();
  const int64_t step = static_cast<int64_t>(si.lat.size() * si.lon.size());
  const int64_t block = std::clamp<int64_t>((int64_t{64} << 20) / (step * 4), 1, count);
  std::vector<float> buf;
  imp::size_for(buf, static_cast<uint64_t>(block * step), "steps of " + quote(si.path));
  std::vector<uint8_t> watch_cells(seen.size(), 0);
  for (const int64_t i : part.covered.file_index)
    watch_cells[static_cast<size_t>(i)] = seen[static_cast<size_t>(i)] ? 0 : 1;
  uint8_t* const watch = watch_cells.data();
  bool complete = true;
  for (int64_t t0 = 0; t0 < count; t0 += block) {
    const int64_t n = std::min(block, count - t0);
    part.source->read_steps(first + t0, n, buf.data(), team);
    // Each member marks its share of the file's cells in every step; a step is searched for a
    // value in a cell watched (covered, without a value so far) in a loop that vectorises.
    std::vector<uint8_t> fresh(static_cast<size_t>(team.size()), 0);
    team.for_member_blocks(step, 4096, [&](int k, int64_t c0, int64_t c1) {
      for (int64_t j = 0; j < n; ++j) {
        const float* v = buf.data() + j * step;
        uint8_t hit = 0;
        for (int64_t i = c0; i < c1; ++i) hit |= watch[i] & static_cast<uint8_t>(v[i] == v[i]);
        if (!hit) continue;
        fresh[static_cast<size_t>(k)] = 1;
        for (int64_t i = c0; i < c1; ++i)
          if (watch[i] && v[i] == v[i]) watch[i] = 0, seen[static_cast<size_t>(i)] = 1;
      }
    });
    for (const uint8_t f : fresh)
      if (f && decide && t0 > 0) complete = false;
    if (t0 == 0 && decide) decide();
    if (!complete) continue;
    const int64_t np = g.npixel();
    team.for_blocks(np, 1024, [&](int64_t p0, int64_t p1) {
      for (int64_t j = 0; j < n; ++j) {
        const float* s = buf.data() + j * step;
        float* o = g.out + (t0 + j) * np;
        for (int64_t p = p0; p < p1; ++p) {
          const int64_t i = g.px.file_index[static_cast<size_t>(p)];
          o[p] = i >= 0 ? s[i] : std::numeric_limits<float>::quiet_NaN();
        }
      }
    });
  }
  return complete;
}

// A NetCDF input's values against the job's pixels: cells with a value outside them, pixels
// without a value in any step read.
void check_coverage(const Input& in, const imp::Pixels& px, const std::vector<uint8_t>& seen,
                    const JobGrid& grid, const char* program) {
  const imp::Covered& cov = in.nc->covered;
  std::vector<uint8_t> taken(seen.size(), 0);
  int64_t no_value = 0;
  for (const int64_t i : px.file_index) {
    if (i >= 0) taken[static_cast<size_t>(i)] = 1;
    no_value += i < 0 || !seen[static_cast<size_t>(i)] ? 1 : 0;
  }
  int64_t outside = 0;
  for (const int64_t i : cov.file_index)
    outside += seen[static_cast<size_t>(i)] && !taken[static_cast<size_t>(i)] ? 1 : 0;
  if (outside == 0 && no_value == 0) return;
  const std::string text = "has values in " + std::to_string(outside) + " cells outside the " +
                           std::to_string(grid.npixel()) +
                           " pixels and no value in any step read at " + std::to_string(no_value) +
                           " of them";
  if (!grid.given) refuse_grid(in.path, grid, text);
  raster::print_tool_warning(program,
                             "%s %s of grid file %s: those values are left out, those "
                             "pixels are NaN",
                             quote(in.path).c_str(), text.c_str(), quote(grid.from).c_str());
}

JobGrid grid_of_pixels(const Input& in, const imp::Pixels& px) {
  JobGrid g;
  g.placed.path = in.path;
  g.placed.global = *in.lattice;
  g.placed.convention = interop::Convention::northedge;
  g.placed.points = px.points;
  g.placed.cells = interop::place_pixels(g.placed.global, g.placed.convention, px.points);
  g.from = in.path;
  return g;
}

Image materialise_netcdf(const Input& in, YearSpan span, std::optional<JobGrid>& grid,
                         raster::ThreadTeam& team, const char* program) {
  Input::NetcdfPart& part = *in.nc;
  const imp::SourceInfo& si = part.source->info();
  const auto ncol = static_cast<int64_t>(si.lon.size());
  if (grid) check_lattice(in.path, *in.lattice, *grid);
  const int64_t first = part.plan.span.first_step + span.first * in.bands_per_year;
  const int64_t count = span.count * in.bands_per_year;
  std::vector<uint8_t> seen;
  imp::size_for(seen, imp::cells_of(si.lat.size(), si.lon.size(), quote(in.path)),
                "a step of " + quote(in.path));
  Image img;
  img.mem = std::make_unique<MemFile>(in.label.empty() ? "input" : in.label);
  img.path = img.mem->path();
  img.nyears = span.count;
  img.first = span.first;
  Gather gather;
  gather.mem = img.mem.get();
  if (grid) {
    gather.px = imp::pixels_of_grid(grid->placed, part.placement, ncol);
    gather.out = gather.mem->map_floats(count * gather.npixel());
    read_pass(part, first, count, gather, seen, team, nullptr);
    check_coverage(in, gather.px, seen, *grid, program);
    return img;
  }
  // The pixels are the cells with a value in any step: those of the first block of steps read,
  // unless a later step shows another; then a second pass with all of them.
  const interop::GlobalGrid& g = *in.lattice;
  const auto decide = [&] {
    gather.px = imp::pixels_seen(part.covered, seen, g, interop::Convention::northedge);
    if (gather.px.file_index.empty())
      throw ToolError(quote(in.path) + ": no cell of " + in.label +
                      " holds a value in any step read");
    gather.out = gather.mem->map_floats(count * gather.npixel());
  };
  if (!read_pass(part, first, count, gather, seen, team, decide)) {
    decide();
    read_pass(part, first, count, gather, seen, team, nullptr);
  }
  const imp::Pixels& px = gather.px;
  grid = grid_of_pixels(in, px);
  return img;
}

}  // namespace

Image materialise(const Input& in, YearSpan span, std::optional<JobGrid>& grid,
                  raster::ThreadTeam& team, const char* program) {
  if (in.netcdf) return materialise_netcdf(in, span, grid, team, program);
  join_grid(grid, in);
  Image img;
  img.nyears = span.count;
  img.first = span.first;
  if (span.first == 0 && span.count == in.nyears) {
    img.path = in.path;
    return img;
  }
  img.mem = std::make_unique<MemFile>(in.label.empty() ? "input" : in.label);
  img.path = img.mem->path();
  const int64_t np = grid->npixel();
  const int64_t nb = span.count * in.bands_per_year;
  copy_raw_bands(in.path, np, span.first * in.bands_per_year, nb, img.mem->map_floats(nb * np));
  return img;
}

Image materialise_all(const Input& in, std::optional<JobGrid>& grid, raster::ThreadTeam& team,
                      const char* program) {
  return materialise(in, all_years(in), grid, team, program);
}

}  // namespace jobs
