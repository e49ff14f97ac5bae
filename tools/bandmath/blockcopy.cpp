// slivet's run: keeps bands startband..endband of every block of nbands bands, copied bit for
// bit. It shares the band tools' npixel rule and chunk size, but walks blocks instead of one
// range.
#include <algorithm>
#include <cstdio>
#include <limits>

#include "bandmath.h"
#include "engine.h"
#include "utilfunc.h"

namespace {

using raster::Buffer;
using raster::InFile;
using raster::OutFile;

void write_nan(OutFile& out, Buffer<float>& buf, int64_t n) {
  buf.fill(std::numeric_limits<float>::quiet_NaN());
  for (int64_t done = 0; done < n;) {
    const int64_t step = std::min(buf.size(), n - done);
    out.write_floats(buf.data(), step);
    done += step;
  }
}

// The input of copy_blocks, read in segments. On a regular file the segments that are not
// kept are stepped over instead of read: how many of their values a read would have delivered
// follows from the file's size.
class BlockReader {
 public:
  explicit BlockReader(InFile& in)
      : in_(in), skips_(in.is_regular()), available_(skips_ ? in.size() / 4 : 0) {}
  bool steps_over() const { return skips_; }
  // Reads (or, for a segment not kept, steps over) up to `want` values; how many arrived.
  int64_t next(float* dst, int64_t want, bool keep) {
    if (keep || !skips_) {
      const int64_t got = in_.read_floats(dst, want);
      pos_ += got;
      return got;
    }
    const int64_t got = std::clamp<int64_t>(available_ - pos_, 0, want);
    pos_ += got;
    in_.seek(pos_ * 4);
    return got;
  }

 private:
  InFile& in_;
  bool skips_;
  int64_t available_;  // whole values in the file
  int64_t pos_ = 0;    // values delivered so far
};

// Cuts bands start..end out of every block of `block` bands until the input ends. A block is
// read in segments (before, inside and after the kept bands), so memory stays at one chunk
// however large the block; the kept values are written exactly as read.
void copy_blocks(InFile& in, OutFile& out, int64_t npixel, int64_t block, int64_t start,
                 int64_t end) {
  const int64_t per_chunk = bandmath::chunk_bands(npixel, block);
  Buffer<float> buf(raster::alloc_count({per_chunk, npixel}));
  const int64_t keep_from = start * npixel;  // kept values, as positions within a block
  const int64_t keep_to = (end + 1) * npixel;
  BlockReader reader(in);
  for (;;) {
    bool started = false;
    for (int64_t band = 0; band < block;) {
      const bool keep = start <= band && band <= end;
      const int64_t segment_end = band < start ? start : (keep ? end + 1 : block);
      // A segment that is stepped over goes in one step; what is read passes through the
      // buffer a chunk at a time.
      const bool step = !keep && reader.steps_over();
      const int64_t bands = step ? segment_end - band : std::min(per_chunk, segment_end - band);
      const int64_t want = bands * npixel;
      const int64_t got = reader.next(buf.data(), want, keep);
      if (got < want) {
        if (got == 0 && !started) return;  // the input ended with a whole block
        // A short last block is still written whole, the kept values it lacks as NaN.
        int64_t pos = band * npixel;
        if (keep) {
          out.write_floats(buf.data(), got);
          pos += got;
        }
        write_nan(out, buf, keep_to - std::max(pos, keep_from));
        raster::warn(
            "%s ends inside a block of %lld bands; kept values missing from its last block are "
            "written as NaN",
            in.path().c_str(), static_cast<long long>(block));
        return;
      }
      started = true;
      if (keep) out.write_floats(buf.data(), want);
      band += want / npixel;
    }
  }
}

// ifile ofile npixel nbands startband endband, all read and the range checked before any file
// is opened.
int slivet(int argc, char** argv) {
  if (argc <= 6) {
    raster::fail_exact(
        "Use:\n%s ifile ofile npixel nbands startband(0...nbands-1) endband(0...nbands-1)\n",
        argc > 0 && argv[0] != nullptr ? argv[0] : "slivet");
  }
  const char* inputs[] = {argv[1]};
  const char* outputs[] = {argv[2]};
  const int npixel = bandmath::read_npixel(argv[3]);
  const int64_t block = raster::arg_int(argv[4]);
  const int start = raster::arg_int(argv[5]);
  const int end = raster::arg_int(argv[6]);
  if (end < start || start < 0 || end > block - 1) {
    raster::fail_exact("Please make sure that 0<=startband<=endband<=nbands-1\nExit.\n");
  }
  InFile in = InFile::open(inputs[0]);
  raster::refuse_output_over_input(inputs, outputs);
  OutFile out = OutFile::open(outputs[0]);
  copy_blocks(in, out, npixel, block, start, end);
  out.close();
  return 0;
}

}  // namespace

namespace bandmath {

int run_slivet(int argc, char** argv) {
  return raster::run_program([&] { return slivet(argc, argv); });
}

}  // namespace bandmath
