#include "step_decode.h"

#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace interop::stepread {

namespace {

constexpr bool host_big_endian = std::endian::native == std::endian::big;

std::string where(const ChunkJob& job) {
  return "the chunk at byte " + std::to_string(job.addr) + " (" + std::to_string(job.size) +
         " bytes)";
}

// pread until `size` bytes are in: a file that ends early or fails is an error, never a
// partly filled chunk.
void read_exact(int fd, const ChunkJob& job, uint8_t* to) {
  uint64_t done = 0;
  while (done < job.size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(job.size - done, 1u << 30));
    const ssize_t n = pread(fd, to + done, want, static_cast<off_t>(job.addr + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("cannot read " + where(job) + ": " + std::strerror(errno));
    if (n == 0)
      throw std::runtime_error("the file ends at byte " + std::to_string(job.addr + done) +
                               ", inside " + where(job));
    done += static_cast<uint64_t>(n);
  }
}

// Element i of a chunk of n elements: its bytes are consecutive, or with the shuffle filter
// byte k of every element lies in plane k; Swap reverses them into the host's order.
template <class T, bool Shuffled, bool Swap>
T load(const uint8_t* raw, int64_t n, int64_t i) {
  uint8_t b[sizeof(T)];
  for (size_t k = 0; k < sizeof(T); ++k) {
    const uint8_t v = Shuffled ? raw[static_cast<int64_t>(k) * n + i]
                               : raw[i * static_cast<int64_t>(sizeof(T)) + static_cast<int64_t>(k)];
    b[Swap ? sizeof(T) - 1 - k : k] = v;
  }
  T x;
  std::memcpy(&x, b, sizeof(T));
  return x;
}

// Copies (or widens) the wanted steps of a decoded chunk, row segment by row segment, into the
// output; the chunk's parts beyond the last row or column (edge chunks) are left out.
template <class T, bool Shuffled, bool Swap, class Out>
void place_rows(const uint8_t* raw, const ChunkGeometry& g, const ChunkJob& job, int64_t out_first,
                Out* out) {
  const int64_t rows = std::min(g.rows, g.nrows - job.row0);
  const int64_t cols = std::min(g.cols, g.ncols - job.col0);
  for (int64_t t = job.first; t < job.last; ++t) {
    for (int64_t r = 0; r < rows; ++r) {
      const int64_t src = g.plane_offset + (t - job.step0) * g.step_stride + r * g.cols;
      Out* dst = out + ((t - out_first) * g.nrows + job.row0 + r) * g.ncols + job.col0;
      for (int64_t c = 0; c < cols; ++c)
        dst[c] = static_cast<Out>(load<T, Shuffled, Swap>(raw, g.elements, src + c));
    }
  }
}

template <class T, class Out>
void place_as(bool shuffled, bool swap, const uint8_t* raw, const ChunkGeometry& g,
              const ChunkJob& job, int64_t out_first, Out* out) {
  if (shuffled) {
    if (swap) return place_rows<T, true, true>(raw, g, job, out_first, out);
    return place_rows<T, true, false>(raw, g, job, out_first, out);
  }
  if (swap) return place_rows<T, false, true>(raw, g, job, out_first, out);
  place_rows<T, false, false>(raw, g, job, out_first, out);
}

template <class Out>
void place(Stored type, bool shuffled, bool swap, const uint8_t* raw, const ChunkGeometry& g,
           const ChunkJob& job, int64_t out_first, Out* out) {
  if constexpr (std::is_same_v<Out, float>) {
    // Only float variables are read as float (StepReader checks it).
    if (type != Stored::f32) throw std::logic_error("float output from a non-float variable");
    place_as<float>(shuffled, swap, raw, g, job, out_first, out);
  } else {
    switch (type) {
      case Stored::i8:
        return place_as<int8_t>(shuffled, swap, raw, g, job, out_first, out);
      case Stored::u8:
        return place_as<uint8_t>(shuffled, swap, raw, g, job, out_first, out);
      case Stored::i16:
        return place_as<int16_t>(shuffled, swap, raw, g, job, out_first, out);
      case Stored::u16:
        return place_as<uint16_t>(shuffled, swap, raw, g, job, out_first, out);
      case Stored::i32:
        return place_as<int32_t>(shuffled, swap, raw, g, job, out_first, out);
      case Stored::u32:
        return place_as<uint32_t>(shuffled, swap, raw, g, job, out_first, out);
      case Stored::f32:
        return place_as<float>(shuffled, swap, raw, g, job, out_first, out);
      case Stored::f64:
        return place_as<double>(shuffled, swap, raw, g, job, out_first, out);
    }
  }
}

template <class Out>
bool same_type(Stored type) {
  return std::is_same_v<Out, float> ? type == Stored::f32 : type == Stored::f64;
}

}  // namespace

int64_t stored_size(Stored type) {
  switch (type) {
    case Stored::i8:
    case Stored::u8:
      return 1;
    case Stored::i16:
    case Stored::u16:
      return 2;
    case Stored::i32:
    case Stored::u32:
    case Stored::f32:
      return 4;
    case Stored::f64:
      return 8;
  }
  return 0;
}

ChunkDecoder::ChunkDecoder() : inflater_(libdeflate_alloc_decompressor()) {
  if (!inflater_) throw std::bad_alloc();
}

ChunkDecoder::~ChunkDecoder() {
  if (inflater_) libdeflate_free_decompressor(inflater_);
}

ChunkDecoder::ChunkDecoder(ChunkDecoder&& other) noexcept
    : inflater_(other.inflater_), packed_(std::move(other.packed_)), raw_(std::move(other.raw_)) {
  other.inflater_ = nullptr;
}

// The chunk's bytes as they were before the filters, into `target` (chunk_bytes long).
void ChunkDecoder::unpack(int fd, const ChunkFormat& format, const ChunkJob& job,
                          uint64_t chunk_bytes, uint8_t* target) {
  const bool deflated = format.deflate >= 0 && !((job.filter_mask >> format.deflate) & 1u);
  if (!deflated) {
    if (job.size != chunk_bytes)
      throw std::runtime_error(where(job) + " holds " + std::to_string(job.size) +
                               " bytes, not the " + std::to_string(chunk_bytes) +
                               " bytes of a chunk");
    read_exact(fd, job, target);
    return;
  }
  packed_.resize(job.size);
  read_exact(fd, job, packed_.data());
  size_t got = 0;
  const libdeflate_result r =
      libdeflate_zlib_decompress(inflater_, packed_.data(), job.size, target, chunk_bytes, &got);
  if (r == LIBDEFLATE_INSUFFICIENT_SPACE)
    throw std::runtime_error(where(job) + " inflates to more than the " +
                             std::to_string(chunk_bytes) + " bytes of a chunk");
  if (r != LIBDEFLATE_SUCCESS)
    throw std::runtime_error(where(job) + " does not inflate: its deflate data are corrupt");
  if (got != chunk_bytes)
    throw std::runtime_error(where(job) + " inflates to " + std::to_string(got) +
                             " bytes, not the " + std::to_string(chunk_bytes) +
                             " bytes of a chunk");
}

template <class Out>
void ChunkDecoder::decode_into(int fd, const ChunkFormat& format, const ChunkGeometry& geometry,
                               const ChunkJob& job, int64_t out_first, Out* out) {
  const uint64_t chunk_bytes =
      static_cast<uint64_t>(geometry.elements) * static_cast<uint64_t>(stored_size(format.type));
  const bool shuffled = format.shuffle >= 0 && !((job.filter_mask >> format.shuffle) & 1u);
  const bool swap = format.big_endian != host_big_endian;
  // A chunk of whole steps, all wanted, stored as the output holds them: straight into place.
  if (!shuffled && !swap && same_type<Out>(format.type) && geometry.whole_steps() &&
      job.first == job.step0 && job.last == job.step0 + geometry.steps) {
    Out* to = out + (job.step0 - out_first) * geometry.nrows * geometry.ncols;
    unpack(fd, format, job, chunk_bytes, reinterpret_cast<uint8_t*>(to));
    return;
  }
  raw_.resize(chunk_bytes);
  unpack(fd, format, job, chunk_bytes, raw_.data());
  place(format.type, shuffled, swap, raw_.data(), geometry, job, out_first, out);
}

void ChunkDecoder::decode(int fd, const ChunkFormat& format, const ChunkGeometry& geometry,
                          const ChunkJob& job, int64_t out_first, float* out) {
  decode_into(fd, format, geometry, job, out_first, out);
}

void ChunkDecoder::decode(int fd, const ChunkFormat& format, const ChunkGeometry& geometry,
                          const ChunkJob& job, int64_t out_first, double* out) {
  decode_into(fd, format, geometry, job, out_first, out);
}

}  // namespace interop::stepread
