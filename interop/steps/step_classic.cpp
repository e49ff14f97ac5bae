#include "step_classic.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "tool.h"

namespace interop::stepread {

namespace {

// Header tags and the external size of each type (the format's own numbers).
constexpr uint64_t tag_dimension = 0x0A, tag_variable = 0x0B, tag_attribute = 0x0C;

uint64_t type_size(uint64_t nc_type) {
  switch (nc_type) {
    case 1:  // byte
    case 2:  // char
    case 7:  // unsigned byte
      return 1;
    case 3:  // short
    case 8:  // unsigned short
      return 2;
    case 4:  // int
    case 5:  // float
    case 9:  // unsigned int
      return 4;
    case 6:   // double
    case 10:  // int64
    case 11:  // unsigned int64
      return 8;
    default:
      return 0;
  }
}

uint64_t round4(uint64_t n) { return (n + 3) / 4 * 4; }

// Big-endian fields read from the start of the file, fetched as far as they are needed.
class Header {
 public:
  Header(int fd, const std::string& path) : fd_(fd), path_(path) {}

  void magic() {
    need(4);
    if (std::memcmp(buf_.data(), "CDF", 3) != 0 || (buf_[3] != 1 && buf_[3] != 2 && buf_[3] != 5))
      fail("it does not start as a classic NetCDF file");
    version_ = buf_[3];
    pos_ = 4;
  }
  int version() const { return version_; }

  uint64_t u32() { return number(4); }
  uint64_t u64() { return number(8); }
  // Counts, lengths and sizes take 8 bytes in CDF-5, 4 before.
  uint64_t count() { return version_ == 5 ? u64() : u32(); }
  uint64_t offset() { return version_ == 1 ? u32() : u64(); }
  void skip(uint64_t n) {
    need(n);
    pos_ += n;
  }
  void skip_name() { skip(round4(count())); }

  [[noreturn]] void fail(const std::string& why) const {
    throw ToolError("cannot read the header of '" + path_ + "': " + why);
  }

 private:
  uint64_t number(int bytes) {
    need(static_cast<uint64_t>(bytes));
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | buf_[pos_++];
    return v;
  }

  void need(uint64_t n) {
    if (n > (uint64_t{1} << 40)) fail("a length in it is out of range");
    if (pos_ + n <= buf_.size()) return;
    const uint64_t want = std::max<uint64_t>(pos_ + n, 2 * buf_.size() + 65536);
    const uint64_t have = buf_.size();
    buf_.resize(want);
    uint64_t got = have;
    while (got < want) {
      const ssize_t r = pread(fd_, buf_.data() + got, want - got, static_cast<off_t>(got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) fail(std::strerror(errno));
      if (r == 0) break;
      got += static_cast<uint64_t>(r);
    }
    buf_.resize(got);
    if (pos_ + n > got) fail("the file ends inside it");
  }

  int fd_;
  const std::string& path_;
  std::vector<uint8_t> buf_;
  uint64_t pos_ = 0;
  int version_ = 0;
};

void skip_attributes(Header& h) {
  const uint64_t tag = h.u32();
  const uint64_t n = h.count();
  if (tag != tag_attribute && !(tag == 0 && n == 0)) h.fail("an attribute list is malformed");
  for (uint64_t i = 0; i < n; ++i) {
    h.skip_name();
    const uint64_t size = type_size(h.u32());
    if (size == 0) h.fail("an attribute has an unknown type");
    h.skip(round4(h.count() * size));
  }
}

struct Var {
  std::vector<uint64_t> dims;  // dimension ids
  uint64_t type_size = 0;
  uint64_t begin = 0;
};

uint64_t product(const std::vector<uint64_t>& lens, size_t from) {
  uint64_t p = 1;
  for (size_t i = from; i < lens.size(); ++i) p *= lens[i];
  return p;
}

}  // namespace

int64_t ClassicExtent::first_cut_slab(uint64_t file_size) const {
  if (nslabs == 0 || slab_bytes == 0) return nslabs;
  if (slab_end(0) > file_size) return 0;
  if (stride == 0) return nslabs;
  const uint64_t fit = (file_size - slab_end(0)) / stride + 1;
  return static_cast<int64_t>(std::min<uint64_t>(fit, static_cast<uint64_t>(nslabs)));
}

ClassicExtent classic_extent(int fd, const std::string& path, int varid) {
  Header h(fd, path);
  h.magic();
  const uint64_t numrecs = h.count();
  const bool streaming = numrecs == (h.version() == 5 ? ~uint64_t{0} : 0xFFFFFFFFu);

  std::vector<uint64_t> dim_len;
  const uint64_t dim_tag = h.u32();
  const uint64_t ndims = h.count();
  if (dim_tag != tag_dimension && !(dim_tag == 0 && ndims == 0))
    h.fail("its dimension list is malformed");
  for (uint64_t i = 0; i < ndims; ++i) {
    h.skip_name();
    dim_len.push_back(h.count());  // 0 for the record dimension
  }
  skip_attributes(h);

  const uint64_t var_tag = h.u32();
  const uint64_t nvars = h.count();
  if (var_tag != tag_variable && !(var_tag == 0 && nvars == 0))
    h.fail("its variable list is malformed");
  std::vector<Var> vars;
  for (uint64_t i = 0; i < nvars; ++i) {
    Var v;
    h.skip_name();
    const uint64_t n = h.count();
    for (uint64_t k = 0; k < n; ++k) {
      v.dims.push_back(h.count());
      if (v.dims.back() >= dim_len.size()) h.fail("a variable names an unknown dimension");
    }
    skip_attributes(h);
    v.type_size = type_size(h.u32());
    if (v.type_size == 0) h.fail("a variable has an unknown type");
    h.count();  // vsize: recomputed below as libnetcdf does
    v.begin = h.offset();
    vars.push_back(std::move(v));
  }
  if (varid < 0 || static_cast<uint64_t>(varid) >= vars.size())
    h.fail("it lists fewer variables than libnetcdf");

  // Lengths of each variable's dimensions; a record variable's first is the record count.
  const auto lens = [&](const Var& v) {
    std::vector<uint64_t> l;
    for (const uint64_t d : v.dims) l.push_back(dim_len[d]);
    return l;
  };
  const auto is_record = [&](const Var& v) { return !v.dims.empty() && dim_len[v.dims[0]] == 0; };
  // A record holds each record variable's slab, padded to 4 bytes; a lone record variable's
  // records are not padded.
  uint64_t recsize = 0;
  const Var* first_rec = nullptr;
  uint64_t first_rec_len = 0;
  for (const Var& v : vars) {
    if (!is_record(v)) continue;
    const uint64_t len = round4(product(lens(v), 1) * v.type_size);
    if (!first_rec) {
      first_rec = &v;
      first_rec_len = len;
    }
    recsize += len;
  }
  if (first_rec && recsize == first_rec_len)
    recsize = product(lens(*first_rec), 1) * first_rec->type_size;

  const Var& v = vars[static_cast<size_t>(varid)];
  const std::vector<uint64_t> l = lens(v);
  ClassicExtent e;
  e.begin = v.begin;
  if (l.empty()) {
    e.slab_bytes = v.type_size;
    e.stride = e.slab_bytes;
    e.nslabs = 1;
  } else if (is_record(v)) {
    e.slab_bytes = product(l, 1) * v.type_size;
    e.stride = recsize;
    e.nslabs = static_cast<int64_t>(numrecs);
    e.promised = !streaming;
  } else {
    e.slab_bytes = product(l, 1) * v.type_size;
    e.stride = e.slab_bytes;
    e.nslabs = static_cast<int64_t>(l[0]);
  }
  return e;
}

}  // namespace interop::stepread
