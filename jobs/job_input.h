// The shared layer of the named jobs (library jobs_core): their inputs, the checks that a set of
// inputs agree, the raw pixel images handed to a positional tool, and their outputs.
//
// Inputs. open_input() describes a job input without reading its values:
//   - a NetCDF file (any file `import` reads; the variable by name, one --level when needed):
//     its lattice, time axis (CF units and calendar, whole years), units and long name, through
//     import's own code (import_source, import_lattice, import_plan);
//   - a raw raster file with its sidecar NAME.hdr: npixel, bands per year, first year, calendar,
//     units and long name from the sidecar, its pixels from the grid file the sidecar names (or
//     the job's --grid).
// Every input has whole years of bands: `first_year` is the calendar year of band 0.
//
// Years. select_years() maps calendar years "A-B" to the input's year positions, refusing years
// the file does not hold with the years it has. same_bands_per_year() refuses two files of one
// quantity that differ in bands per year.
//
// Pixels. All inputs of a job share one JobGrid: the pixels of --grid when given, else those of
// the first input materialised (a raw input's grid file, or the cells of a NetCDF input that hold
// a value in any step read: import's pixel rule). join_grid() adds a raw input (same lattice and
// the same cells, else refused naming both files); a NetCDF input joins when materialised: a
// cell with a value outside the pixels, or a pixel without a value in any step read, is refused
// as "on a different grid" (with --grid they are counted in a warning instead, as import does).
//
// Images. materialise() gives a positional tool the selected years of an input as a raw raster
// file it opens by path: a raw input whose years are all wanted is passed by its own path; any
// other selection is a MemFile (memfd_create) filled in-process, NetCDF steps decoded on the
// team's threads by StepReader, and passed as /proc/self/fd/N, so the tool reads it as it
// reads any file and its bytes are unchanged. Nothing is copied to disk.
//
// Outputs (job_output.h): OutputSet receives the tool's raw outputs (MemFiles for NetCDF,
// temporary files in the output folder for --format raw) and turns them into NetCDF through
// export's writer or into raw + grid file + sidecar, renamed into place only when all succeeded.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "grid.h"
#include "import_time.h"

namespace raster {
class ThreadTeam;
}

namespace jobs {

/// A file in memory (memfd) that a tool opens by path() = /proc/self/fd/N; gone when the object
/// is. Every failure is a ToolError naming `name`.
class MemFile {
 public:
  explicit MemFile(const std::string& name);
  ~MemFile();
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  const std::string& name() const { return name_; }
  int64_t size() const;
  /// The values mapped by the last map_floats (nullptr before); readable from any thread.
  const float* floats() const { return static_cast<const float*>(map_); }
  /// Sets the size (the new bytes read as zeros) and maps it read-write; the mapping stays
  /// valid until the next resize or the end of the object.
  float* map_floats(int64_t nvalues);

 private:
  void unmap();
  std::string name_, path_;
  int fd_ = -1;
  void* map_ = nullptr;
  size_t map_bytes_ = 0;
};

/// The pixels all inputs of a job share.
struct JobGrid {
  interop::PlacedGrid placed;  ///< lattice, convention (of its records), points, cells
  std::string from;            ///< the file they came from (the grid file, or an input)
  bool given = false;          ///< from --grid: values outside it are counted, not refused
  int64_t npixel() const { return static_cast<int64_t>(placed.points.size()); }
};

/// The grid file `path` placed (its lattice and convention inferred) as the job's pixels.
JobGrid grid_from_file(const std::string& path);

struct Input {
  std::string path;
  std::string label;  ///< the variable name (NetCDF), or the name given for a raw input
  bool netcdf = false;
  std::string units, long_name;
  std::string calendar;               ///< CF calendar as spelled by the file; empty without time
  std::optional<int64_t> first_year;  ///< calendar year of band 0; unset without a time axis
  int64_t bands_per_year = 1;
  int64_t nyears = 0;
  std::optional<interop::GlobalGrid> lattice;  ///< NetCDF: the lattice its cells lie on
  std::optional<JobGrid> raw_grid;             ///< raw: its pixels (grid file placed)

  struct NetcdfPart;  ///< the open NetCDF source and its placement
  std::shared_ptr<NetcdfPart> nc;

  std::string years_text() const;  ///< "1971-2000", or "no time axis"
};

/// Describes `path`: NetCDF when libnetcdf opens it (variable `name`; empty: its only data
/// variable), else a raw raster file with its sidecar (then `name` is only its label, and
/// `grid` the grid file to use instead of the sidecar's). `program` frames warnings.
Input open_input(const std::string& path, const std::string& name,
                 const std::optional<std::string>& grid, const char* program);
/// open_input for a NetCDF file only: std::nullopt when libnetcdf does not open `path`.
std::optional<Input> open_netcdf_input(const std::string& path, const std::string& name,
                                       const char* program);

/// Year positions in an input: years [first, first + count) counted from its band 0's year.
struct YearSpan {
  int64_t first = 0;
  int64_t count = 0;
};
/// `range` (calendar years) in `in`; `option` ("--ref-years") names it in the refusal, which
/// lists the years the file holds.
YearSpan select_years(const Input& in, const interop::importer::YearRange& range,
                      const std::string& option);
/// All years of `in`.
inline YearSpan all_years(const Input& in) { return {0, in.nyears}; }

/// A ToolError unless `a` and `b` have the same bands per year (`what` says why they must).
void same_bands_per_year(const Input& a, const Input& b, const std::string& what);

/// Adds a raw input's pixels to the job's grid (the first sets it); a ToolError when its
/// lattice or cells differ. NetCDF inputs join in materialise().
void join_grid(std::optional<JobGrid>& grid, const Input& in);

/// Selected years of an input as a raw raster file for a positional tool.
struct Image {
  std::string path;              ///< the raw input's own path, or the MemFile's
  std::unique_ptr<MemFile> mem;  ///< when made in memory
  int64_t nyears = 0;            ///< years of bands the image holds
  int64_t first = 0;             ///< the input's year position of the image's first year
};

/// The years `span` of `in` on the job's pixels (a NetCDF input without a grid yet sets it).
Image materialise(const Input& in, YearSpan span, std::optional<JobGrid>& grid,
                  raster::ThreadTeam& team, const char* program);
/// All years of `in`: a raw input by its own path.
Image materialise_all(const Input& in, std::optional<JobGrid>& grid, raster::ThreadTeam& team,
                      const char* program);

/// "'path'", as messages quote files.
std::string quote(const std::string& path);

}  // namespace jobs
