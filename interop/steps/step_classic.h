// Where a variable's data lie in a classic, 64-bit offset or CDF-5 file, from the file's header.
// libnetcdf reads zeros past the end of a cut file without a word, and its API does not give
// where a variable's data begin; the header, whose format is public and fixed, does.
#pragma once

#include <cstdint>
#include <string>

namespace interop::stepread {

/// The data of one variable: slab k of its first dimension (a record, or one index of a fixed
/// first dimension) lies at begin + k * stride and is slab_bytes long; there are nslabs.
struct ClassicExtent {
  uint64_t begin = 0, stride = 0, slab_bytes = 0;
  int64_t nslabs = 0;
  /// False for a streamed file (no record count in its header: it comes from the file's size).
  bool promised = true;
  /// The first slab that does not fit in `file_size` bytes; nslabs when all do.
  int64_t first_cut_slab(uint64_t file_size) const;
  uint64_t slab_end(int64_t k) const {
    return begin + static_cast<uint64_t>(k) * stride + slab_bytes;
  }
};

/// Reads the header of the classic-format file `path` (open as `fd`) for variable number
/// `varid`. Throws ToolError naming the file when the header cannot be read.
ClassicExtent classic_extent(int fd, const std::string& path, int varid);

}  // namespace interop::stepread
