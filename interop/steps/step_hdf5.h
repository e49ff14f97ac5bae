// The HDF5 side of a NetCDF-4 variable, seen through a second read-only HDF5 handle on the file
// libnetcdf has open (HDF5 shares one open file between both): how its chunks are stored and
// where each lies in the file. Used on the reading thread only, like libnetcdf.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "step_decode.h"

namespace interop::stepread {

/// Where a chunk lies in the file; not allocated when it was never written.
struct ChunkPlace {
  bool allocated = false;
  uint64_t addr = 0, size = 0;
  unsigned filter_mask = 0;
};

class Hdf5Variable {
 public:
  /// The dataset of NetCDF-4 variable `name` of `path`, whose NetCDF dimension lengths are
  /// `dims`; nullptr, with `why` set, when HDF5 does not show it as such.
  static std::unique_ptr<Hdf5Variable> open(const std::string& path, const std::string& name,
                                            const std::vector<int64_t>& dims, std::string& why);
  ~Hdf5Variable();
  Hdf5Variable(const Hdf5Variable&) = delete;
  Hdf5Variable& operator=(const Hdf5Variable&) = delete;

  /// Chunk dimensions; empty for contiguous or compact storage.
  const std::vector<int64_t>& chunk() const { return chunk_; }
  /// The dataset's dimensions now: an unlimited one may be shorter than NetCDF's dimension,
  /// whose length is the longest of its variables.
  const std::vector<int64_t>& extent() const { return extent_; }
  /// False for contiguous storage never written.
  bool allocated() const { return allocated_; }
  /// Empty when ChunkDecoder decodes the chunks with format(); otherwise why it cannot.
  const std::string& why_serial() const { return why_serial_; }
  const ChunkFormat& format() const { return format_; }
  /// The chunk whose first element is at `origin` (multiples of chunk()). Throws ToolError.
  ChunkPlace locate(const std::vector<int64_t>& origin) const;

 private:
  Hdf5Variable(std::string path, std::string name)
      : path_(std::move(path)), name_(std::move(name)) {}
  std::string describe(const std::vector<int64_t>& dims);
  std::string describe_filters(int64_t dcpl);
  std::string describe_type();

  std::string path_, name_;
  int64_t file_ = -1, dataset_ = -1;  // HDF5 identifiers
  std::vector<int64_t> chunk_, extent_;
  bool allocated_ = true;
  ChunkFormat format_;
  std::string why_serial_;
};

/// What HDF5 says when it opens `path` (for instance "truncated file: eof = ..."); empty when
/// it opens it.
std::string hdf5_open_problem(const std::string& path);

}  // namespace interop::stepread
