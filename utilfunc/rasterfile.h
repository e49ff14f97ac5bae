// Raw raster files: headerless float32 values, band after band, npixel values per band.
// Streams that own their FILE*, band counts from the file status, 64-bit offsets, checked
// output, and the guard that keeps an output from being opened over one of the run's inputs.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace raster {

/// Byte offset of band `band` in a file of `npixel` values per band.
constexpr int64_t band_offset(int64_t band, int64_t npixel) { return band * npixel * 4; }

/// Byte offset of band `band` of year `year` in a file of `nbands` bands per year.
constexpr int64_t year_band_offset(int64_t year, int64_t nbands, int64_t band, int64_t npixel) {
  return (year * nbands + band) * npixel * 4;
}

/// Byte offset of value `pixel` of band `band` of year `year` (`nbands` bands a year, `npixel`
/// values a band) into *offset; false when it does not fit in 64 bits, which puts it past the end
/// of any file.
inline bool value_offset(int64_t year, int64_t nbands, int64_t band, int64_t npixel, int64_t pixel,
                         int64_t* offset) {
  int64_t v = 0;
  return !__builtin_mul_overflow(year, nbands, &v) && !__builtin_add_overflow(v, band, &v) &&
         !__builtin_mul_overflow(v, npixel, &v) && !__builtin_add_overflow(v, pixel, &v) &&
         !__builtin_mul_overflow(v, 4, offset);
}

/// Whole bands in `size` bytes: size / npixel / 4, each division truncating, held as int
/// (trailing bytes that make no whole band are ignored). npixel must be positive.
inline int band_count(int64_t size, int64_t npixel) { return static_cast<int>(size / npixel / 4); }

/// Bands per year of a file of `nyear` whole years: size / npixel / 4 / nyear, each division
/// truncating, held as int. npixel and nyear must be positive.
inline int bands_per_year(int64_t size, int64_t npixel, int64_t nyear) {
  return static_cast<int>(size / npixel / 4 / nyear);
}

/// A stream that owns its FILE* and remembers its path; closed (unchecked) when destroyed.
/// The base of InFile and OutFile, which add what reading and checked writing need.
class StreamFile {
 public:
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;

  bool is_open() const { return f_ != nullptr; }
  FILE* get() const { return f_; }
  const std::string& path() const { return path_; }
  /// Whether it is a regular file (whose size tells what reads will deliver, and which can be
  /// positioned and written anywhere), rather than a pipe, a device or a folder.
  bool is_regular() const;

 protected:
  StreamFile() = default;
  StreamFile(const char* path, const char* mode);
  StreamFile(StreamFile&& o) noexcept : f_(o.f_), path_(std::move(o.path_)) { o.f_ = nullptr; }
  StreamFile& operator=(StreamFile&& o) noexcept;
  ~StreamFile();
  /// Gives up the stream without closing it.
  FILE* release() {
    FILE* f = f_;
    f_ = nullptr;
    return f;
  }

 private:
  FILE* f_ = nullptr;
  std::string path_;
};

/// An input stream opened "rb". Closes itself.
class InFile : public StreamFile {
 public:
  InFile() = default;
  /// Opens `path`; on failure ends the run through failu("Error opening file\n").
  static InFile open(const char* path);
  /// Opens `path`; returns a closed InFile on failure, for tools that go on without it.
  static InFile try_open(const char* path);

  InFile(InFile&&) noexcept = default;
  InFile& operator=(InFile&&) noexcept = default;

  /// File size in bytes from the status of the open descriptor (fstat).
  int64_t size() const;
  /// 64-bit positioning; whence as for fseek. Returns false when the stream refused it.
  bool seek(int64_t offset, int whence = SEEK_SET);
  /// Reads up to n floats into dst; returns how many whole values arrived.
  int64_t read_floats(float* dst, int64_t n);
  /// The stream's error indicator (0 when a short read only met the end of the file).
  int error() const;

 private:
  using StreamFile::StreamFile;
};

/// An output stream opened "wb" whose every write and the close are checked: a failure ends
/// the run with a message naming the file and status 255, never passes silently.
class OutFile : public StreamFile {
 public:
  OutFile() = default;
  /// Creates or truncates `path`; on failure ends the run through failu("Error opening file\n").
  static OutFile open(const char* path);
  /// As open(), but returns a closed OutFile on failure, for tools that go on without it.
  static OutFile try_open(const char* path);

  OutFile(OutFile&&) noexcept = default;
  OutFile& operator=(OutFile&&) noexcept = default;
  // Destroyed without close(), it closes without a check; that happens only where the run is
  // failing anyway. Normal runs call close().

  void write(const void* data, int64_t bytes);
  void write_floats(const float* data, int64_t n) { write(data, n * 4); }
  /// Writes `bytes` at byte `offset` without using the stream (pwrite), safe from several
  /// threads at once; returns 0, or the errno of the failure for fail_write. For an output that
  /// is written through write_at alone.
  int write_at(const void* data, int64_t bytes, int64_t offset);
  /// Cuts a file written through write_at back to its first `bytes` bytes.
  void cut_to(int64_t bytes);
  /// Ends the run with the message of a failed write for `err`.
  [[noreturn]] void fail_write(int err) const;
  /// Empties the file (what was written so far is dropped); used before a failure exit where
  /// the output must be left empty.
  void discard();
  /// Flushes and closes; a failure ends the run.
  void close();

 private:
  using StreamFile::StreamFile;
  [[noreturn]] void fail_write() const { fail_write(errno); }
};

/// How a positional read ended.
enum class PreadEnd { whole, at_end, error };

/// Reads `bytes` bytes at byte `offset` of descriptor `fd` (pread, retried until all arrived,
/// the file ended or a read failed), safe from several threads at once; the bytes that arrived
/// go to *got.
PreadEnd pread_full(int fd, void* dst, int64_t bytes, int64_t offset, int64_t* got);

/// Ends the run (status 255, message through failu) if any output path names the same regular
/// file (device and inode) as any input path. Call before the first output is opened: opening
/// it would truncate the input before it is read.
void refuse_output_over_input(std::span<const char* const> inputs,
                              std::span<const char* const> outputs);

/// Size of the stream's file from a seek to its end; the position is restored.
uint64_t getfilesize(FILE* file);

/// Area in m^2 of the cell between meridians lon_e, lon_w and parallels lat_n, lat_s (degrees)
/// on a sphere of radius 6371010 m. Unchecked: swapped bounds give a negative area.
double pixelarea(double lon_e, double lon_w, double lat_n, double lat_s);

}  // namespace raster
