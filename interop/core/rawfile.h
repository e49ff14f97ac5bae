// A raw raster file opened for reading bands by position (float32 LE, band after band).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "rasterfile.h"

namespace interop {

class RawFile {
 public:
  /// Opens `path` (check_raw_input: a regular file of no other known format); a ToolError names
  /// it otherwise. npixel is 1 to kMaxNpixel (a usage ToolError otherwise).
  RawFile(const std::string& path, int64_t npixel);

  const std::string& path() const { return path_; }
  int64_t npixel() const { return npixel_; }
  int64_t size() const { return size_; }
  /// Whole bands in the file.
  int64_t bands() const { return size_ / (npixel_ * 4); }
  /// Bytes after the last whole band.
  int64_t leftover() const { return size_ % (npixel_ * 4); }
  /// A warning under `program` when bytes after the last whole band are ignored.
  void warn_leftover(const char* program) const;
  /// Reads band `band` (0-based) into `dst` (npixel values); a ToolError on a short read.
  void read_band(int64_t band, std::span<float> dst) const;
  /// Reads dst.size() values of band `band` from pixel `pixel_begin` on (pread: safe from
  /// several threads at once); a ToolError on a short read.
  void read_pixels(int64_t band, int64_t pixel_begin, std::span<float> dst) const;

 private:
  std::string path_;
  int64_t npixel_;
  raster::InFile file_;
  int64_t size_ = 0;
};

}  // namespace interop
