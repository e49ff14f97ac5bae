// Decoding one stored chunk of a NetCDF-4 variable without the libraries: its bytes read with
// pread, inflated (libdeflate), unshuffled and brought to the host's byte order while they are
// placed, row by row, into dense step arrays. Runs on the worker threads of a StepReader and
// touches neither libnetcdf nor HDF5.
#pragma once

#include <cstdint>
#include <vector>

struct libdeflate_decompressor;

namespace interop::stepread {

/// The stored element types the reader decodes itself.
enum class Stored { i8, u8, i16, u16, i32, u32, f32, f64 };
int64_t stored_size(Stored type);

/// How a variable's chunks are stored: element type and byte order, and the place of the
/// shuffle and deflate filters in the pipeline they were written through (-1: absent). Bit i
/// of a chunk's filter mask marks filter i as skipped for that chunk.
struct ChunkFormat {
  Stored type = Stored::f32;
  bool big_endian = false;
  int shuffle = -1;
  int deflate = -1;
};

/// A chunk's shape seen through a read: its extent along steps, rows and columns, the element
/// index steps take inside it, and where the plane of the held indices starts.
struct ChunkGeometry {
  int64_t steps = 1, rows = 1, cols = 1;
  int64_t step_stride = 0;       // elements from one step to the next inside a chunk
  int64_t plane_offset = 0;      // elements from a chunk's start to the plane of the held indices
  int64_t elements = 0;          // elements in a chunk
  int64_t nrows = 0, ncols = 0;  // the variable's rows and columns
  /// Each step of a chunk is a whole step of the variable, laid out as the output is.
  bool whole_steps() const {
    return rows == nrows && cols == ncols && step_stride == nrows * ncols && plane_offset == 0;
  }
};

/// One stored chunk and the steps a read takes from it.
struct ChunkJob {
  int64_t step0 = 0, row0 = 0, col0 = 0;  // the chunk's first step, row and column
  int64_t first = 0, last = 0;            // steps taken, [first, last)
  uint64_t addr = 0, size = 0;            // its bytes in the file
  unsigned filter_mask = 0;
};

/// A worker's decompressor and buffers, reused from chunk to chunk.
class ChunkDecoder {
 public:
  ChunkDecoder();
  ~ChunkDecoder();
  ChunkDecoder(const ChunkDecoder&) = delete;
  ChunkDecoder& operator=(const ChunkDecoder&) = delete;
  ChunkDecoder(ChunkDecoder&& other) noexcept;
  ChunkDecoder& operator=(ChunkDecoder&&) = delete;

  /// Reads `job` from `fd` and places its steps into `out`, which holds the steps of a read
  /// starting at step `out_first`. Throws std::runtime_error saying what failed (a short read,
  /// data that does not inflate, or inflates to another size than a chunk's).
  void decode(int fd, const ChunkFormat& format, const ChunkGeometry& geometry, const ChunkJob& job,
              int64_t out_first, float* out);
  void decode(int fd, const ChunkFormat& format, const ChunkGeometry& geometry, const ChunkJob& job,
              int64_t out_first, double* out);

 private:
  template <class Out>
  void decode_into(int fd, const ChunkFormat& format, const ChunkGeometry& geometry,
                   const ChunkJob& job, int64_t out_first, Out* out);
  void unpack(int fd, const ChunkFormat& format, const ChunkJob& job, uint64_t chunk_bytes,
              uint8_t* target);

  libdeflate_decompressor* inflater_ = nullptr;
  std::vector<uint8_t> packed_, raw_;
};

}  // namespace interop::stepread
