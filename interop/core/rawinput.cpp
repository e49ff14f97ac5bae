#include "rawinput.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>

#include "rasterfile.h"
#include "report.h"
#include "tool.h"

namespace interop {

namespace {

namespace fs = std::filesystem;

constexpr unsigned char kHdf5[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
constexpr unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// A file opened for reading a few bytes by position.
class Peek {
 public:
  explicit Peek(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK)) {
    if (fd_ < 0) throw ToolError("cannot open " + path + ": " + std::strerror(errno));
    size_ = lseek(fd_, 0, SEEK_END);
  }
  ~Peek() { ::close(fd_); }
  Peek(const Peek&) = delete;
  Peek& operator=(const Peek&) = delete;
  int64_t size() const { return size_; }
  // Whether the n bytes at `offset` exist and equal `want`.
  bool has(int64_t offset, const unsigned char* want, size_t n) const {
    std::array<unsigned char, 16> b{};
    return read(offset, b.data(), n) && std::memcmp(b.data(), want, n) == 0;
  }
  bool read(int64_t offset, unsigned char* dst, size_t n) const {
    int64_t got = 0;
    return raster::pread_full(fd_, dst, static_cast<int64_t>(n), offset, &got) ==
           raster::PreadEnd::whole;
  }
  uint64_t uint(int64_t offset, int bytes, bool big_endian) const {
    std::array<unsigned char, 8> b{};
    if (!read(offset, b.data(), static_cast<size_t>(bytes))) return 0;
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= static_cast<uint64_t>(b[static_cast<size_t>(big_endian ? bytes - 1 - i : i)]) << (8 * i);
    return v;
  }

 private:
  int fd_;
  int64_t size_ = 0;
};

// "CDF" and a version; the dimension list tag (absent 0, or NC_DIMENSION 10) after the record
// count confirms it in a file long enough to hold it.
bool is_netcdf_classic(const Peek& p) {
  unsigned char b[4] = {};
  if (!p.read(0, b, 4) || std::memcmp(b, "CDF", 3) != 0) return false;
  if (b[3] != 1 && b[3] != 2 && b[3] != 5) return false;
  const int64_t tag_at = b[3] == 5 ? 12 : 8;
  if (p.size() < tag_at + 4) return true;  // cut short inside its header: still NetCDF
  const uint64_t tag = p.uint(tag_at, 4, true);
  return tag == 0 || tag == 10;
}

// The HDF5 signature at 0, 512, 1024, 2048, ... (a user block of 2^k bytes may come first).
bool is_hdf5(const Peek& p) {
  if (p.has(0, kHdf5, 8)) return true;
  for (int64_t at = 512; at + 8 <= p.size() && at > 0; at *= 2)
    if (p.has(at, kHdf5, 8)) return true;
  return false;
}

bool is_tiff(const Peek& p) {
  unsigned char b[4] = {};
  if (!p.read(0, b, 4)) return false;
  const bool le = b[0] == 'I' && b[1] == 'I' && b[3] == 0;
  const bool be = b[0] == 'M' && b[1] == 'M' && b[2] == 0;
  if (!le && !be) return false;
  const unsigned char version = le ? b[2] : b[3];
  if (version == 42) {  // classic TIFF: the first directory lies inside the file
    if (p.size() < 8) return true;
    const uint64_t ifd = p.uint(4, 4, be);
    return ifd >= 8 && static_cast<int64_t>(ifd) < p.size();
  }
  if (version == 43) {  // BigTIFF: offsets of 8 bytes
    if (p.size() < 8) return true;
    return p.uint(4, 2, be) == 8 && p.uint(6, 2, be) == 0;
  }
  return false;
}

bool plain_shell_word(const std::string& s) {
  return !s.empty() && s.find_first_not_of(
                           "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                           "0123456789_./+-,:=@%") == std::string::npos;
}

std::string shell_word(const std::string& s) {
  if (plain_shell_word(s)) return s;
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

FileFormat sniff_format(const std::string& path) {
  const Peek p(path);
  if (is_netcdf_classic(p)) return FileFormat::netcdf_classic;
  if (is_hdf5(p)) return FileFormat::hdf5;
  if (is_tiff(p)) return FileFormat::tiff;
  if (p.has(0, kPng, 8)) return FileFormat::png;
  return FileFormat::raw;
}

const char* format_text(FileFormat f) {
  switch (f) {
    case FileFormat::raw:
      return "a raw raster file";
    case FileFormat::netcdf_classic:
      return "a NetCDF classic file";
    case FileFormat::hdf5:
      return "a NetCDF-4/HDF5 file";
    case FileFormat::tiff:
      return "a TIFF/GeoTIFF file";
    case FileFormat::png:
      return "a PNG image";
  }
  return "a file of another format";
}

std::string import_command(const std::string& path) {
  fs::path out(path);
  out.replace_extension(".bin");
  if (out == fs::path(path)) out.replace_extension(".raw.bin");
  return "rastertools import " + shell_word(path) + " -o " + shell_word(out.string());
}

void check_raw_input(const std::string& path) {
  check_input_file(path);
  const FileFormat f = sniff_format(path);
  if (f == FileFormat::raw) return;
  const std::string what = path + " is " + format_text(f) + ", not a raw raster file";
  if (f == FileFormat::png)
    throw ToolError(what + " (float32 values band after band); a PNG holds no values to read");
  fs::path raw(path);
  raw.replace_extension(".bin");
  const std::string maybe = raw != fs::path(path) && path_kind(raw.string()) == PathKind::regular
                                ? " (or did you mean " + raw.string() + "?)"
                                : "";
  throw ToolError(what + "; import it first: " + import_command(path) +
                  " (add --var NAME to choose a variable)" + maybe + "; 'rastertools info " +
                  shell_word(path) + "' describes it");
}

std::optional<Sidecar> sidecar_for(const std::string& path, const char* program) {
  const std::string hdr = sidecar_path(path);
  const PathKind hk = path_kind(hdr);
  if (hdr == path || hk == PathKind::none || path_kind(path) != PathKind::regular)
    return std::nullopt;
  if (hk != PathKind::regular)
    throw ToolError("sidecar " + hdr + " is " + path_kind_text(hk) + ", not a regular file");
  const FileFormat f = sniff_format(path);
  if (f != FileFormat::raw) {
    raster::print_tool_warning(program,
                               "sidecar %s is not used: %s is %s, and a sidecar describes a raw "
                               "raster file",
                               hdr.c_str(), path.c_str(), format_text(f));
    return std::nullopt;
  }
  std::optional<Sidecar> s = read_sidecar(path);
  if (!s) return s;
  if (s->samples < 0 || s->samples > kMaxNpixel)
    throw ToolError("sidecar " + hdr + ": samples " + std::to_string(s->samples) +
                    " is not a pixel count (1 to " + std::to_string(kMaxNpixel) + ")");
  const int64_t size = static_cast<int64_t>(fs::file_size(path));
  if (s->samples > 0 && size % (s->samples * 4) != 0) {
    raster::print_tool_warning(
        program,
        "sidecar %s is not used for %s: its %lld pixels a band (%lld bytes) do not divide the "
        "file's %lld bytes, so it describes another file; give --npixel and --grid",
        hdr.c_str(), path.c_str(), static_cast<long long>(s->samples),
        static_cast<long long>(s->samples * 4), static_cast<long long>(size));
    return std::nullopt;
  }
  return s;
}

}  // namespace interop
