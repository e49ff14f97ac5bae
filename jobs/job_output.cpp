#include "job_output.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "rawfile.h"
#include "report.h"
#include "sidecar.h"
#include "timeaxis.h"
#include "tool.h"

namespace jobs {

using interop::ToolError;

Format parse_format(const std::string& text) {
  if (text == "netcdf") return Format::netcdf;
  if (text == "raw") return Format::raw;
  throw interop::usage_error("--format " + text + ": give netcdf or raw");
}

std::string job_history(const char* job, int argc, char** argv) {
  const std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  std::string args = interop::command_line_text(argc, argv);
  const size_t first_space = args.find(' ');
  args = first_space == std::string::npos ? "" : args.substr(first_space);
  return std::string(stamp) + ": rastertools " + job + args;
}

namespace {

// An output path may be new or a regular file (replaced by a rename); a device, a pipe or a
// folder is never replaced.
void check_target(const std::string& path) {
  struct stat st = {};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    throw ToolError("cannot use the output " + quote(path) + ": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode))
    throw interop::usage_error("output " + quote(path) +
                               " exists and is not a regular file (a device, a pipe or a "
                               "folder): refusing to replace it");
}

interop::Calendar calendar_of(const std::string& name) {
  return name.empty() ? interop::Calendar{} : interop::parse_calendar(name);
}

}  // namespace

struct OutputSet::Item {
  OutputDesc desc;
  std::unique_ptr<MemFile> mem;               // NetCDF: the tool's raw image
  std::unique_ptr<interop::TempOutput> temp;  // the final file under its temporary name
  std::string tool_path;
};

OutputSet::OutputSet(Format format, const JobGrid& grid, std::string grid_path,
                     std::vector<std::string> inputs, std::string history)
    : format_(format),
      grid_(grid),
      grid_path_(std::move(grid_path)),
      inputs_(std::move(inputs)),
      history_(std::move(history)) {
  if (format_ == Format::raw) {
    check_target(grid_path_);
    interop::refuse_output_over_inputs(grid_path_, inputs_);
  }
}

OutputSet::~OutputSet() = default;

std::string OutputSet::add(OutputDesc desc) {
  check_target(desc.path);
  interop::refuse_output_over_inputs(desc.path, inputs_);
  if (format_ == Format::raw) {
    const std::string hdr = interop::sidecar_path(desc.path);
    check_target(hdr);
    interop::refuse_output_over_inputs(hdr, inputs_);
  }
  for (const auto& it : items_)
    if (it->desc.path == desc.path)
      throw interop::usage_error("two outputs are named " + quote(desc.path));
  auto item = std::make_unique<Item>();
  item->temp = std::make_unique<interop::TempOutput>(desc.path);
  if (format_ == Format::netcdf) {
    item->mem = std::make_unique<MemFile>(std::filesystem::path(desc.path).filename().string());
    item->tool_path = item->mem->path();
  } else {
    item->tool_path = item->temp->path();
  }
  item->desc = std::move(desc);
  items_.push_back(std::move(item));
  return items_.back()->tool_path;
}

std::vector<std::string> OutputSet::finals() const {
  std::vector<std::string> v;
  for (const auto& it : items_) v.push_back(it->desc.path);
  return v;
}

namespace {

// The tool wrote `nbands` whole bands, or the output is not what the job describes.
void check_size(const std::string& shown, int64_t size, int64_t nbands, int64_t npixel) {
  if (size != nbands * npixel * 4)
    throw ToolError("the output for " + quote(shown) + " holds " + std::to_string(size) +
                    " bytes, not " + std::to_string(nbands) + " bands of " +
                    std::to_string(npixel) + " pixels");
}

interop::ExportJob variable_job(const OutputVariable& v, const interop::RawFile& raw,
                                const interop::PlacedGrid& grid) {
  interop::ExportJob job;
  job.raw = &raw;
  job.grid = &grid;
  job.bands = {v.first, v.first + v.nsteps - 1};
  job.band_step = v.step;
  job.timeless = v.timeless;
  job.variable = v.name;
  if (!v.units.empty()) job.units = v.units;
  if (!v.long_name.empty()) job.long_name = v.long_name;
  if (!v.cell_methods.empty()) job.cell_methods = v.cell_methods;
  return job;
}

// Step k of a climatology: its time in the first year, its bounds from there to its end in the
// last year.
std::vector<interop::BandTime> climatology_times(const interop::ExportJob& job,
                                                 const ClimatologyYears& years) {
  std::vector<interop::BandTime> times;
  const int64_t later = (years.last - years.first) * job.bands_per_year;
  for (int64_t k = 0; k < job.bands.count(); ++k) {
    interop::BandTime t =
        interop::band_time(job.calendar.kind, *job.first_year, job.bands_per_year, k);
    t.end =
        interop::band_time(job.calendar.kind, *job.first_year, job.bands_per_year, later + k).end;
    times.push_back(t);
  }
  return times;
}

int64_t write_one_netcdf(const OutputDesc& d, const std::string& raw_path,
                         const std::string& tmp_path, const JobGrid& grid,
                         const std::string& history) {
  const interop::RawFile raw(raw_path, grid.npixel());
  check_size(d.path, raw.size(), d.nbands, grid.npixel());
  interop::ExportJob job = variable_job(d.variables.front(), raw, grid.placed);
  job.first_year = d.first_year;
  job.bands_per_year = d.bands_per_year;
  job.year_part = d.year_part;
  job.calendar = calendar_of(d.calendar);
  if (d.climatology && d.first_year) {
    job.times = climatology_times(job, *d.climatology);
    job.climatology = true;
  }
  job.history = history;
  job.output = tmp_path;
  job.shown = d.path;
  for (size_t i = 1; i < d.variables.size(); ++i)
    job.companions.push_back(variable_job(d.variables[i], raw, grid.placed));
  return interop::write_netcdf(job);
}

void write_one_raw(const OutputDesc& d, const std::string& tmp_path, const JobGrid& grid,
                   const std::string& grid_path) {
  const interop::RawFile raw(tmp_path, grid.npixel());
  check_size(d.path, raw.size(), d.nbands, grid.npixel());
  interop::Sidecar sc;
  sc.samples = grid.npixel();
  sc.bands = d.nbands;
  sc.grid_file = interop::grid_file_for_sidecar(d.path, grid_path);
  sc.resolution = grid.placed.global.res;
  sc.origin = grid.placed.global.origin();
  sc.convention = grid.placed.convention;
  const bool mid_year =
      d.year_part && d.year_part->kept == d.bands_per_year && d.year_part->offset != 0;
  if (d.first_year && !d.climatology && !mid_year) {
    sc.bands_per_year = d.year_part ? d.year_part->kept : d.bands_per_year;
    sc.first_year = d.first_year;
    if (!d.calendar.empty()) sc.calendar = d.calendar;
  }
  const OutputVariable& v = d.variables.front();
  sc.variable = v.name;
  if (!v.units.empty()) sc.units = v.units;
  if (!v.long_name.empty()) sc.long_name = v.long_name;
  interop::write_sidecar(d.path, sc);
}

}  // namespace

void OutputSet::finish(const char* program) {
  if (format_ == Format::raw) interop::write_grid(grid_path_, grid_.placed.points);
  for (const auto& it : items_) {
    if (format_ == Format::raw) {
      write_one_raw(it->desc, it->temp->path(), grid_, grid_path_);
      continue;
    }
    const int64_t fills =
        write_one_netcdf(it->desc, it->mem->path(), it->temp->path(), grid_, history_);
    if (fills > 0)
      raster::print_tool_warning(program,
                                 "%lld values of %s equal the fill value 1e20 and read "
                                 "as missing",
                                 static_cast<long long>(fills), quote(it->desc.path).c_str());
    it->mem.reset();  // its memory goes as soon as it is written out
  }
  for (const auto& it : items_) it->temp->commit();
}

}  // namespace jobs
