#include "band_sink.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "export_job.h"
#include "import_run.h"
#include "sidecar.h"
#include "tool.h"

namespace aggregate {

namespace {

using interop::ToolError;

// A raw output file under its temporary name: every write and the close checked.
class CheckedFile {
 public:
  explicit CheckedFile(const std::string& final_path) : out_(final_path) {
    f_ = std::fopen(out_.path().c_str(), "wb");
    if (f_ == nullptr) fail("cannot create");
  }
  ~CheckedFile() {
    if (f_ != nullptr) std::fclose(f_);
  }
  CheckedFile(const CheckedFile&) = delete;
  CheckedFile& operator=(const CheckedFile&) = delete;

  void write(std::span<const float> v) {
    if (v.empty()) return;  // fwrite takes no null pointer, even for nothing
    if (std::fwrite(v.data(), sizeof(float), v.size(), f_) != v.size()) fail("cannot write");
  }
  void close_and_commit() {
    FILE* f = f_;
    f_ = nullptr;
    const bool flushed = std::fflush(f) == 0 && std::ferror(f) == 0;
    const int err = errno;
    if (std::fclose(f) != 0 || !flushed) {
      if (!flushed) errno = err;
      fail("cannot write");
    }
    out_.commit();
  }

 private:
  [[noreturn]] void fail(const char* what) const {
    throw ToolError(std::string(what) + " " + out_.final_path() + ": " + std::strerror(errno));
  }
  interop::TempOutput out_;
  FILE* f_ = nullptr;
};

int64_t write_raw(const std::string& path, const OutputBands& out) {
  const interop::PlacedGrid& grid = *out.grid;
  std::vector<float> band(grid.points.size());
  CheckedFile file(path);
  for (int64_t b = 0; b < out.nbands; ++b) {
    out.band(b, band);
    file.write(band);
  }
  const std::string grid_path = interop::importer::default_grid_out(path);
  interop::write_grid(grid_path, grid.points);
  interop::Sidecar sc;
  sc.samples = static_cast<int64_t>(grid.points.size());
  sc.bands = out.nbands;
  sc.grid_file = interop::grid_file_for_sidecar(path, grid_path);
  sc.resolution = grid.global.res;
  sc.convention = grid.convention;
  if (out.first_year) {
    sc.bands_per_year = 1;
    sc.first_year = out.first_year;
  }
  if (!out.variable.empty()) sc.variable = out.variable;
  sc.units = out.units;
  sc.long_name = out.long_name;
  if (!out.description.empty()) sc.description = out.description;
  interop::write_sidecar(path, sc);
  // The data last: a run that fails before leaves no data file that looks complete.
  file.close_and_commit();
  return 0;
}

int64_t write_netcdf(const std::string& path, const OutputBands& out) {
  interop::ExportJob job;
  job.grid = out.grid;
  job.band_source = out.band;
  job.bands = interop::BandRange{0, out.nbands - 1};
  job.first_year = out.first_year;
  job.bands_per_year = 1;
  job.times = out.times;
  if (out.calendar) job.calendar = interop::parse_calendar(*out.calendar);
  if (!out.variable.empty()) job.variable = out.variable;
  job.units = out.units;
  job.long_name = out.long_name;
  job.cell_methods = out.cell_methods;
  job.history = out.history;
  // NaN results stay NaN bit for bit (yearly counts them in its own warnings).
  job.keep_nan = true;
  interop::TempOutput tmp(path);
  job.output = tmp.path();
  job.shown = path;
  const int64_t fills = interop::write_netcdf(job);
  tmp.commit();
  return fills;
}

}  // namespace

OutputFormat pick_output_format(const std::string& path, const std::string& given) {
  if (given == "netcdf") return OutputFormat::netcdf;
  if (given == "raw") return OutputFormat::raw;
  if (!given.empty())
    throw interop::usage_error("unknown output format '" + given + "': give netcdf or raw");
  return std::filesystem::path(path).extension() == ".bin" ? OutputFormat::raw
                                                           : OutputFormat::netcdf;
}

std::vector<std::string> output_files(const std::string& path, OutputFormat format) {
  if (format == OutputFormat::netcdf) return {path};
  return {path, interop::importer::default_grid_out(path), interop::sidecar_path(path)};
}

int64_t write_output(const std::string& path, OutputFormat format, const OutputBands& out) {
  return format == OutputFormat::raw ? write_raw(path, out) : write_netcdf(path, out);
}

std::string history_text(const char* command, int argc, char** argv) {
  const std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  std::string args = interop::command_line_text(argc, argv);
  const size_t first_space = args.find(' ');
  args = first_space == std::string::npos ? "" : args.substr(first_space);
  return std::string(stamp) + ": rastertools " + command + args;
}

}  // namespace aggregate
