// Time steps of one NetCDF variable as dense arrays, decoded on several threads. Deflated and
// shuffled NetCDF-4 chunks are read with pread and inflated by the reader itself on the threads
// (libnetcdf and HDF5 serialise every call behind one lock); every other storage goes through
// libnetcdf on the calling thread. Either way the values are those nc_get_vara_* returns, bit
// for bit, and nothing that is not in the file is ever delivered: a cut or damaged file, a
// chunk that does not inflate to its size, or never-written data without a fill value is a
// ToolError naming the file, the variable and the steps.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace raster {
class ThreadTeam;
}

namespace interop {

/// The variable a StepReader reads. Its dimensions are (step, fixed..., row, column) or
/// (fixed..., row, column): an optional first dimension of steps (time), dimensions held at one
/// index each (a level), then rows and columns in the file's own order (usually lat, lon).
struct StepVariable {
  std::string path;
  std::string name;
  int nc_type = 0;            // stored type: NC_FLOAT, NC_SHORT, ... (netcdf.h)
  bool float_values = false;  // stored as float: read(float*) delivers it bit for bit
  bool has_steps = false;     // the first dimension is the step dimension
  int64_t nsteps = 1;         // its length; 1 without one
  int64_t nrows = 0, ncols = 0;
  std::vector<int64_t> fixed;  // the index held for each dimension between
  /// Steps per chunk along the step dimension (1 for unchunked storage). A chunk is decoded
  /// once per read() that touches it: read blocks of whole chunks (first and count multiples
  /// of it) to decode every chunk once.
  int64_t chunk_steps = 1;
  /// Whether the reader decodes the chunks itself on the threads; otherwise libnetcdf reads on
  /// the calling thread and `serial_reason` says why (classic format, contiguous storage, a
  /// filter other than deflate and shuffle, ...).
  bool parallel = false;
  std::string serial_reason;

  int64_t step_size() const { return nrows * ncols; }
};

/// One read at a time: libnetcdf and HDF5 are called on the thread that calls the constructor
/// or read() only, and no other thread may call libnetcdf meanwhile.
class StepReader {
 public:
  /// Opens `variable` (of the root group) of the NetCDF file `path` (classic, 64-bit offset,
  /// CDF-5 or NetCDF-4) read-only. `fixed` holds an index for each dimension between the step
  /// dimension and the last two; the variable has a step dimension when it has one dimension more
  /// than that. A classic file shorter than its header says is refused here. Throws ToolError.
  StepReader(const std::string& path, const std::string& variable,
             const std::vector<int64_t>& fixed = {});
  ~StepReader();
  StepReader(const StepReader&) = delete;
  StepReader& operator=(const StepReader&) = delete;

  const StepVariable& variable() const;

  /// Steps [first, first + count) into `out`: count * step_size() values, step after step,
  /// each row after row. The stored float values bit for bit, NaN payloads included (as
  /// nc_get_vara_float gives them); only for float variables (std::logic_error otherwise).
  void read(int64_t first, int64_t count, float* out, raster::ThreadTeam& team);
  /// The same for any numeric type, as double, as nc_get_vara_double gives them (exact but for
  /// 64-bit integers beyond 2^53). Unpacking (fill and missing values, scale_factor, add_offset)
  /// is the caller's.
  void read(int64_t first, int64_t count, double* out, raster::ThreadTeam& team);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace interop
