// What import reads: one variable of a gridded file (NetCDF through libnetcdf, other raster
// formats such as GeoTIFF through GDAL) as rows of latitude and columns of longitude, one time
// step (of one level) at a time, with missing values as NaN and packed values unpacked. Every
// value handed on was read from the file: a file cut short is refused, never read as zeros.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace raster {
class ThreadTeam;
}

namespace interop::importer {

/// --level: one level of a level axis, by its coordinate value or by its 0-based index.
struct LevelChoice {
  std::string text;  // as given, for messages
  std::optional<double> value;
  int64_t index = -1;  // when no value
};
/// Parses --level: "VALUE" (a number) or "index:K"; a usage ToolError otherwise.
LevelChoice parse_level(const std::string& text);

/// The memory a buffer may take now: MemAvailable (Linux), else the physical memory; 0 when
/// unknown.
uint64_t available_memory();

/// Sizes `v` for `n` values the file declares: a ToolError ("allocation refused for a declared
/// size: WHAT ...", with the size) when n values overflow, exceed the memory available or
/// cannot be allocated, instead of a bare "out of memory" or a run the system kills.
void check_declared_size(uint64_t n, size_t value_size, const std::string& what);
template <class T>
void size_for(std::vector<T>& v, uint64_t n, const std::string& what) {
  check_declared_size(n, sizeof(T), what);
  try {
    v.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    check_declared_size(n, 0, what);  // throws the refusal
  }
}
/// nrow * ncol, or a ToolError (as check_declared_size) when it overflows.
uint64_t cells_of(uint64_t nrow, uint64_t ncol, const std::string& what);

/// The variable's grid, time axis and description as the file gives them.
struct SourceInfo {
  std::string path;
  std::string format;  // "NetCDF" or GDAL's driver name
  std::string variable, units, long_name;
  std::vector<double> lat;  // latitude of each row (any order)
  std::vector<double> lon;  // longitude of each column (-180..180 or 0..360)
  int64_t nsteps = 1;       // time steps (bands); 1 for a variable without time
  /// Time of each step (the middle of its bounds when the file gives bounds), with its CF
  /// units and calendar; empty when the file has no usable time coordinate.
  std::vector<double> time;
  std::string time_units, calendar;
  std::string time_problem;  // why `time` is empty although there are steps (for messages)
  std::string level;         // the level read, as "depth = 5 m (index 0 of 10)"; empty: none
};

/// Turns stored values into the values meant: fill and missing values become NaN, packed
/// values are unpacked as stored * scale + offset (in double, rounded once to float).
struct Unpacking {
  std::vector<double> missing;  // stored values that mean "no value"
  double scale = 1.0;
  double offset = 0.0;
  bool packed = false;  // scale or offset given

  bool is_missing(double stored) const;
  float unpack(double stored) const;
  /// Stored float values without packing: kept bit for bit unless missing.
  void apply(float* v, size_t n) const;
  /// Any stored values: missing -> NaN, else unpacked.
  void apply(const double* in, float* out, size_t n) const;
};

class Source {
 public:
  virtual ~Source() = default;
  const SourceInfo& info() const { return info_; }
  /// Values of step t, row after row (row i is lat[i], column j is lon[j]), NaN where missing.
  virtual void read_step(int64_t t, std::vector<float>& out) = 0;
  /// Steps [first, first + count) as read_step gives them, one after the other into `out`
  /// (count * lat.size() * lon.size() values); NetCDF decodes them on the team's threads
  /// (StepReader), other sources read them one by one.
  virtual void read_steps(int64_t first, int64_t count, float* out, raster::ThreadTeam& team);
  /// A hint: steps [first, first + count) will be read again; a compressed file keeps them
  /// decompressed in memory from their next reading on when they fit (in a quarter of the
  /// memory available).
  virtual void keep_steps(int64_t first, int64_t count) {
    (void)first;
    (void)count;
  }

 protected:
  SourceInfo info_;
};

/// Opens `path` as NetCDF, or else through GDAL; `var` chooses the variable (NetCDF; empty:
/// the only one), `level` one level of its level axis. Throws ToolError with a message naming
/// the file.
std::unique_ptr<Source> open_source(const std::string& path, const std::string& var,
                                    const std::optional<LevelChoice>& level);

/// NetCDF through libnetcdf; nullptr when the file is not NetCDF.
std::unique_ptr<Source> open_netcdf(const std::string& path, const std::string& var,
                                    const std::optional<LevelChoice>& level);
/// A raster file through GDAL; throws when GDAL cannot open it either (or a level is asked for).
std::unique_ptr<Source> open_gdal(const std::string& path, const std::string& var,
                                  const std::optional<LevelChoice>& level);

}  // namespace interop::importer
