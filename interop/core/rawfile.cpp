#include "rawfile.h"

#include <cerrno>
#include <cstring>

#include "rawinput.h"
#include "report.h"
#include "tool.h"

namespace interop {

RawFile::RawFile(const std::string& path, int64_t npixel) : path_(path), npixel_(npixel) {
  if (npixel <= 0 || npixel > kMaxNpixel)
    throw usage_error("npixel " + std::to_string(npixel) + " is out of range: give 1 to " +
                      std::to_string(kMaxNpixel));
  check_raw_input(path);
  file_ = raster::InFile::try_open(path.c_str());
  if (!file_.is_open()) throw ToolError("cannot open " + path + ": " + std::strerror(errno));
  if (!file_.is_regular()) throw ToolError(path + " is not a regular file");
  size_ = file_.size();
}

void RawFile::warn_leftover(const char* program) const {
  if (leftover() != 0)
    raster::print_tool_warning(program,
                               "%s: the last %lld bytes make no whole band of %lld pixels and "
                               "are ignored",
                               path_.c_str(), static_cast<long long>(leftover()),
                               static_cast<long long>(npixel_));
}

void RawFile::read_band(int64_t band, std::span<float> dst) const {
  read_pixels(band, 0, dst.first(static_cast<size_t>(npixel_)));
}

void RawFile::read_pixels(int64_t band, int64_t pixel_begin, std::span<float> dst) const {
  const int64_t bytes = static_cast<int64_t>(dst.size()) * 4;
  const int64_t offset = raster::band_offset(band, npixel_) + pixel_begin * 4;
  int64_t got = 0;
  const raster::PreadEnd end =
      raster::pread_full(fileno(file_.get()), dst.data(), bytes, offset, &got);
  if (end == raster::PreadEnd::error)
    throw ToolError("cannot read band " + std::to_string(band) + " of " + path_ + ": " +
                    std::strerror(errno));
  if (end != raster::PreadEnd::whole)
    throw ToolError(path_ + " ends inside band " + std::to_string(band));
}

}  // namespace interop
