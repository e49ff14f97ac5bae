// The header of a classic-format NetCDF file, as the format's description lays it out: magic
// "CDF" and version (1, 2 or 5), record count, dimensions, global attributes, then per variable
// its name, dimension ids, attributes, type, size and the offset of its first value. Big-endian;
// counts are 32-bit (64-bit in CDF-5), offsets 32-bit in CDF-1 and 64-bit otherwise.
#include "import_classic.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "rasterfile.h"
#include "tool.h"

namespace interop::importer {

namespace {

constexpr uint32_t kDimensionTag = 0x0A;
constexpr uint32_t kVariableTag = 0x0B;
constexpr uint32_t kAttributeTag = 0x0C;

// Bytes of one value of a classic type (0 for an unknown type).
int64_t type_size(uint32_t type) {
  switch (type) {
    case 1:  // byte
    case 2:  // char
    case 7:  // ubyte
      return 1;
    case 3:  // short
    case 8:  // ushort
      return 2;
    case 4:  // int
    case 5:  // float
    case 9:  // uint
      return 4;
    case 6:   // double
    case 10:  // int64
    case 11:  // uint64
      return 8;
    default:
      return 0;
  }
}

int64_t pad4(int64_t n) { return (n + 3) / 4 * 4; }

// Sizes from a header may be absurd: products and sums stop at the largest int64, which lies
// past the end of any file.
constexpr int64_t kHuge = std::numeric_limits<int64_t>::max();
int64_t saturated_mul(int64_t a, int64_t b) {
  int64_t r = 0;
  return __builtin_mul_overflow(a, b, &r) ? kHuge : r;
}
int64_t saturated_add(int64_t a, int64_t b) {
  int64_t r = 0;
  return __builtin_add_overflow(a, b, &r) ? kHuge : r;
}

// Reads the header front to back, fetching the file in blocks as it goes.
class HeaderReader {
 public:
  HeaderReader(const std::string& path, int fd, int64_t size) : path_(path), fd_(fd), size_(size) {}

  void set_version(int v) { version_ = v; }
  int version() const { return version_; }

  uint32_t u32() {
    const unsigned char* p = take(4);
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
  }
  uint64_t u64() {
    const uint64_t hi = u32();
    return hi << 32 | u32();
  }
  /// A count: 32-bit, 64-bit in CDF-5.
  int64_t count() { return checked(version_ == 5 ? u64() : u32()); }
  /// A file offset: 32-bit in CDF-1, 64-bit otherwise.
  int64_t offset() { return checked(version_ == 1 ? u32() : u64()); }
  std::string name() {
    const int64_t n = count();
    const unsigned char* p = take(pad4(n));
    return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
  }
  void skip(int64_t n) { take(n); }
  const unsigned char* take(int64_t n) {
    if (n < 0 || n > size_ - pos_) bad("it ends inside its header");
    fetch(pos_ + n);
    const unsigned char* p = buf_.data() + (pos_ - buf_start_);
    pos_ += n;
    return p;
  }
  [[noreturn]] void bad(const std::string& why) const {
    throw ToolError("cannot read the header of classic NetCDF file '" + path_ + "': " + why);
  }

 private:
  int64_t checked(uint64_t v) {
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / 16))
      bad("a count or offset is out of range");
    return static_cast<int64_t>(v);
  }
  // Makes bytes [pos_, end) available in buf_.
  void fetch(int64_t end) {
    if (end <= buf_start_ + static_cast<int64_t>(buf_.size())) return;
    buf_.erase(buf_.begin(), buf_.begin() + (pos_ - buf_start_));
    buf_start_ = pos_;
    const int64_t want = std::min(size_ - buf_start_, std::max<int64_t>(end - buf_start_, 1 << 16));
    const size_t have = buf_.size();
    buf_.resize(static_cast<size_t>(want));
    int64_t got = 0;
    if (raster::pread_full(fd_, buf_.data() + have, want - static_cast<int64_t>(have),
                           buf_start_ + static_cast<int64_t>(have),
                           &got) != raster::PreadEnd::whole)
      bad(std::strerror(errno));
  }

  std::string path_;
  int fd_;
  int64_t size_;
  int version_ = 1;
  int64_t pos_ = 0;
  int64_t buf_start_ = 0;
  std::vector<unsigned char> buf_;
};

void skip_attributes(HeaderReader& r) {
  const uint32_t tag = r.u32();
  const int64_t n = r.count();
  if (tag != kAttributeTag && !(tag == 0 && n == 0)) r.bad("its attribute list is malformed");
  for (int64_t i = 0; i < n; ++i) {
    r.name();
    const int64_t size = type_size(r.u32());
    const int64_t nelems = r.count();
    if (size == 0) r.bad("an attribute has an unknown type");
    r.skip(pad4(nelems * size));
  }
}

}  // namespace

int64_t ClassicLayout::record_bytes(const Var& v) {
  int64_t bytes = v.type_size;
  for (size_t d = 1; d < v.shape.size(); ++d) bytes = saturated_mul(bytes, v.shape[d]);
  return bytes;
}

ClassicLayout::ClassicLayout(const std::string& path) : path_(path) {
  raster::InFile f = raster::InFile::try_open(path.c_str());
  if (!f.is_open()) throw ToolError("cannot open '" + path + "': " + std::strerror(errno));
  file_size_ = f.size();
  HeaderReader r(path, fileno(f.get()), file_size_);
  const unsigned char* magic = r.take(4);
  if (std::memcmp(magic, "CDF", 3) != 0 || (magic[3] != 1 && magic[3] != 2 && magic[3] != 5))
    r.bad("it does not start with CDF and version 1, 2 or 5");
  r.set_version(magic[3]);
  r.count();  // the record count: the reads give the records they want

  std::vector<int64_t> dims;
  uint32_t tag = r.u32();
  int64_t n = r.count();
  if (tag != kDimensionTag && !(tag == 0 && n == 0)) r.bad("its dimension list is malformed");
  for (int64_t i = 0; i < n; ++i) {
    r.name();
    dims.push_back(r.count());  // 0: the record dimension
  }
  skip_attributes(r);

  tag = r.u32();
  n = r.count();
  if (tag != kVariableTag && !(tag == 0 && n == 0)) r.bad("its variable list is malformed");
  int64_t nrecord = 0;
  std::string record_var;
  for (int64_t i = 0; i < n; ++i) {
    const std::string name = r.name();
    Var v;
    const int64_t ndims = r.count();
    for (int64_t d = 0; d < ndims; ++d) {
      const int64_t id = r.count();
      if (id >= static_cast<int64_t>(dims.size())) r.bad("variable " + name + " has no dimension");
      v.shape.push_back(dims[static_cast<size_t>(id)]);
    }
    v.record = !v.shape.empty() && v.shape[0] == 0;
    skip_attributes(r);
    v.type_size = type_size(r.u32());
    if (v.type_size == 0) r.bad("variable " + name + " has an unknown type");
    r.count();  // vsize: worked out below as the library does (it overflows for large variables)
    v.begin = r.offset();
    if (v.record) {
      const int64_t bytes = record_bytes(v);
      record_size_ = saturated_add(record_size_, v.type_size < 4 ? pad4(bytes) : bytes);
      ++nrecord;
      record_var = name;
    }
    vars_.insert_or_assign(name, v);
  }
  // One record variable alone is not padded to 4 bytes a record.
  if (nrecord == 1) record_size_ = record_bytes(vars_.at(record_var));
}

bool ClassicLayout::is_record(const std::string& name) const {
  const auto it = vars_.find(name);
  return it != vars_.end() && it->second.record;
}

int64_t ClassicLayout::end_of(const std::string& name, std::span<const size_t> start,
                              std::span<const size_t> count) const {
  const auto it = vars_.find(name);
  if (it == vars_.end()) throw ToolError("the header of '" + path_ + "' holds no variable " + name);
  const Var& v = it->second;
  if (start.size() != v.shape.size() || count.size() != v.shape.size())
    throw ToolError("internal: a read of " + name + " with the wrong number of dimensions");
  for (const size_t c : count)
    if (c == 0) return 0;
  // The byte after the last value selected: its index in every dimension is start + count - 1.
  int64_t element = 0;
  for (size_t d = v.record ? 1 : 0; d < v.shape.size(); ++d)
    element = saturated_add(saturated_mul(element, v.shape[d]),
                            static_cast<int64_t>(start[d] + count[d] - 1));
  int64_t end = saturated_add(v.begin, saturated_mul(saturated_add(element, 1), v.type_size));
  if (v.record)
    end = saturated_add(end,
                        saturated_mul(static_cast<int64_t>(start[0] + count[0] - 1), record_size_));
  return end;
}

}  // namespace interop::importer
