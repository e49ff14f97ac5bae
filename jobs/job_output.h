// The outputs of a named job (see job_input.h for the layer): each is written by the positional
// tool into a raw image (a MemFile for NetCDF, a temporary file in the output folder for
// --format raw), then, once the tool has succeeded, converted: NetCDF (CF) through export's
// writer, or the raw file with one grid file and a sidecar per output. Nothing is renamed into
// place before every output is complete; an output path that is a device, a pipe or a folder is
// refused before the tool runs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "export_job.h"
#include "job_input.h"

namespace jobs {

enum class Format { netcdf, raw };
/// "netcdf" or "raw"; a usage ToolError otherwise.
Format parse_format(const std::string& text);

/// One NetCDF variable taken from an output's raw image: steps k = 0 .. nsteps - 1 are raw bands
/// first + k * step; `timeless`: one band, no time dimension.
struct OutputVariable {
  std::string name, units, long_name, cell_methods;
  int64_t first = 0;
  int64_t step = 1;
  int64_t nsteps = 1;
  bool timeless = false;
};

/// A CF climatology: the steps are one year's worth of statistics over the years first..last;
/// each step's bounds run from its start in the first year to its end in the last.
struct ClimatologyYears {
  int64_t first = 0;
  int64_t last = 0;
};

struct OutputDesc {
  std::string path;                       ///< the final file (NAME.nc, or NAME.bin beside NAME.hdr)
  int64_t nbands = 0;                     ///< bands of the raw image
  std::vector<OutputVariable> variables;  ///< the first is the main one (raw: its description)
  std::optional<int64_t> first_year;      ///< a time axis when set
  int64_t bands_per_year = 1;
  /// The bands are part of every year (see ExportJob::year_part): NetCDF times follow it; a
  /// raw sidecar gives `kept` bands a year, and no time axis for a run that starts mid-year.
  std::optional<interop::ExportJob::YearPart> year_part;
  std::string calendar;  ///< CF name; empty: proleptic_gregorian
  std::optional<ClimatologyYears> climatology;
};

class OutputSet {
 public:
  /// `grid_path`: the grid file written beside raw outputs (unused for NetCDF); `inputs`: files
  /// that no output may name; `history`: the NetCDF history attribute.
  OutputSet(Format format, const JobGrid& grid, std::string grid_path,
            std::vector<std::string> inputs, std::string history);
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  /// Checks the output's path and returns the path the tool writes its raw image to.
  std::string add(OutputDesc desc);
  /// Converts every output and renames them into place; ToolErrors name the output.
  void finish(const char* program);
  /// The final paths, in the order added.
  std::vector<std::string> finals() const;

 private:
  struct Item;
  Format format_;
  const JobGrid& grid_;
  std::string grid_path_;
  std::vector<std::string> inputs_;
  std::string history_;
  std::vector<std::unique_ptr<Item>> items_;
};

/// The history attribute: "<UTC time>: rastertools <job> <arguments>".
std::string job_history(const char* job, int argc, char** argv);

}  // namespace jobs
