#include "engine.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <span>
#include <vector>

#include "utilfunc.h"

namespace bandmath {
namespace {

using raster::Buffer;
using raster::InFile;
using raster::OutFile;

// Reads and writes move about this many bytes per call, and never less than one band.
constexpr int64_t kChunkBytes = int64_t{1} << 20;

struct Range {
  int start = 0;  // first band, counted from 0
  int end = 0;    // last band, inclusive
};

[[noreturn]] void show_usage(const Tool& t, const char* progname) {
  switch (t.usage_fill) {
    case UsageFill::nan_default:
      raster::fail_exact(t.usage, progname, static_cast<int>(t.defaults.nan));
    case UsageFill::logistic_defaults:
      raster::fail_exact(t.usage, progname, t.defaults.g, t.defaults.m, t.defaults.a1,
                         t.defaults.a2);
    case UsageFill::name:
      break;
  }
  raster::fail_exact(t.usage, progname);
}

Params read_reals(const Tool& t, int argc, char** argv) {
  Params p = t.defaults;
  for (const RealArg& r : t.args.reals) {
    if (r.position == 0) break;
    if (argc > r.position) p.*r.field = raster::arg_real(argv[r.position]);
  }
  return p;
}

// Replaces the ranges by the band arguments when the argument count calls for them.
bool read_band_args(const ArgLayout& a, int argc, char** argv, Range& r1, Range& r2) {
  const bool given = a.band_rule == ArgcRule::exactly ? argc == a.band_argc : argc >= a.band_argc;
  if (!given) return false;
  r1 = {raster::arg_int(argv[a.bands]), raster::arg_int(argv[a.bands + 1])};
  if (a.nbands == 4) r2 = {raster::arg_int(argv[a.bands + 2]), raster::arg_int(argv[a.bands + 3])};
  return true;
}

void print_band_line(const Tool& t, const Range& r1, const Range& r2, const Params& p) {
  switch (t.band_line) {
    case BandLine::none:
      break;
    case BandLine::one_range:
      std::printf("%d %d\n", r1.start, r1.end);
      break;
    case BandLine::two_ranges:
      std::printf("%d %d %d %d\n", r1.start, r1.end, r2.start, r2.end);
      break;
    case BandLine::two_ranges_nan:
      std::printf("%d %d %d %d %f\n", r1.start, r1.end, r2.start, r2.end, p.nan);
      break;
  }
}

// Positioning before the start of a file would fail and leave reading wherever the stream is.
void refuse_negative_bands(const Tool& t, const Range& r1, const Range& r2) {
  const int given[4] = {r1.start, r1.end, r2.start, r2.end};
  for (int i = 0; i < t.args.nbands; ++i) {
    if (given[i] < 0)
      raster::fail_error("band number %d is negative; bands are counted from 0", given[i]);
  }
}

void check_range(const Tool& t, int64_t nbands, const Range& r1, const Range& r2) {
  switch (t.range_rule) {
    case RangeRule::equal_lengths:
      if (nbands <= 0 || int64_t{r1.end} - r1.start != int64_t{r2.end} - r2.start) {
        raster::fail_exact(
            "different number of bands for differencing in file1 and file2! Exit.\n");
      }
      break;
    case RangeRule::whole_output:
      // The output is streamed, but a range that no output could hold still fails as its
      // allocation would.
      if (nbands < 0) raster::failu("Error allocating memory\n");
      break;
    case RangeRule::unchecked:
      break;
  }
}

// Thread shares of a chunk start on whole cache lines of values.
constexpr int64_t kShareAlign = 16;
// Values below which another thread is not worth starting.
constexpr int64_t kValuesPerThread = 16384;

// The kernel over `n` values starting at value `first` of the range, the threads each taking a
// contiguous share; then the report, if any, over all of them in order.
void apply_kernel(const Tool& t, const Params& p, raster::ThreadTeam& team, const float* in1,
                  const float* in2, float* res, int64_t n, int64_t npixel, int64_t first,
                  Tally& tally) {
  std::vector<Tally> part(static_cast<std::size_t>(team.size()));
  team.for_member_blocks(n, kShareAlign, [&](int k, int64_t b0, int64_t b1) {
    t.kernel(
        p,
        Chunk{in1 + b0, in2 != nullptr ? in2 + b0 : nullptr, res + b0, b1 - b0, npixel, first + b0},
        part[static_cast<std::size_t>(k)]);
  });
  for (const Tally& pt : part) tally.corrected += pt.corrected;
  if (t.report != nullptr) t.report(p, Chunk{in1, in2, res, n, npixel, first});
}

// Reads `bands` whole bands from band `band` of a regular file, each thread its share (so
// reading runs on every core); the count of whole bands that arrived, as one sequential read
// would count them.
int64_t pread_whole_bands(raster::ThreadTeam& team, const raster::BandReader& in, int64_t band,
                          float* dst, int64_t bands, int64_t npixel) {
  const int64_t n = bands * npixel;
  std::vector<int64_t> arrived(static_cast<std::size_t>(team.size()), n);
  team.for_member_blocks(n, kShareAlign, [&](int k, int64_t v0, int64_t v1) {
    int64_t got = 0;
    in.read_values(band, v0, v1, dst + v0, &got);
    if (v0 + got < v1) arrived[static_cast<std::size_t>(k)] = v0 + got;
  });
  // The values of a sequential read end where the first share came up short.
  return *std::min_element(arrived.begin(), arrived.end()) / npixel;
}

// Ends a run whose read of band `band` + `whole` failed: the output keeps what the tool's rule
// says (`written` bytes of finished bands, or nothing).
[[noreturn]] void fail_short_read(const Tool& t, OutFile& out, int64_t written, int64_t got1,
                                  int64_t got2, bool direct) {
  if (t.on_short_read == OnShortRead::empty_output) {
    out.discard();
  } else {
    if (direct) out.cut_to(written);
    out.close();
  }
  // Each band reads file1 first.
  raster::fail_exact(got1 <= got2 ? "error reading from file1\n" : "Error reading from file2\n");
}

// Whether `in` holds bands first..first+bands-1 whole, by its size.
bool holds_bands(const InFile& in, int64_t first, int64_t bands, int64_t npixel) {
  int64_t end = 0;
  return raster::value_offset(0, 0, first + bands, npixel, 0, &end) && end <= in.size();
}

// Regular files in and out: every thread reads its share of a chunk by position, applies the
// kernel to it and writes it where it belongs, all in one step where the sizes say the chunk
// is there; a chunk that is not goes step by step so that only whole bands are written.
void transform_direct(const Tool& t, const Params& p, raster::ThreadTeam& team, int64_t npixel,
                      int64_t nbands, const InFile& in1, int64_t start1, const InFile* in2,
                      int64_t start2, OutFile& out, Buffer<float>& buf1, Buffer<float>& buf2,
                      Tally& tally) {
  const int64_t per_chunk = buf1.size() / npixel;
  Buffer<float> res(buf1.size());
  const int members = team.size();
  std::vector<Tally> part(static_cast<std::size_t>(members));
  const raster::BandReader read1(in1, npixel);
  const raster::BandReader read2 = in2 != nullptr ? raster::BandReader(*in2, npixel) : read1;
  raster::BlockWriter writer(out, members, true);
  float* b2 = in2 != nullptr ? buf2.data() : nullptr;
  int64_t written = 0;
  for (int64_t b = 0; b < nbands; b += per_chunk) {
    const int64_t want = std::min(per_chunk, nbands - b);
    const int64_t n = want * npixel;
    const bool there = holds_bands(in1, start1 + b, want, npixel) &&
                       (in2 == nullptr || holds_bands(*in2, start2 + b, want, npixel));
    if (there && t.report == nullptr) {
      std::vector<int64_t> arrived(static_cast<std::size_t>(members), n);
      team.for_member_blocks(n, kShareAlign, [&](int k, int64_t v0, int64_t v1) {
        const auto kk = static_cast<std::size_t>(k);
        int64_t a1 = 0;
        int64_t a2 = v1 - v0;
        read1.read_values(start1 + b, v0, v1, buf1.data() + v0, &a1);
        if (b2 != nullptr) read2.read_values(start2 + b, v0, v1, b2 + v0, &a2);
        if (std::min(a1, a2) < v1 - v0) {  // the file changed since its size was taken
          arrived[kk] = v0 + std::min(a1, a2);
          return;
        }
        t.kernel(p,
                 Chunk{buf1.data() + v0, b2 != nullptr ? b2 + v0 : nullptr, res.data() + v0,
                       v1 - v0, npixel, b * npixel + v0},
                 part[kk]);
        writer.write_at(k, res.data() + v0, (v1 - v0) * 4, written + v0 * 4);
      });
      writer.check();
      if (*std::min_element(arrived.begin(), arrived.end()) == n) {
        written += n * 4;
        continue;
      }
      // Rare: a file cut short during the run. The chunk is done again step by step below.
      out.cut_to(written);
    }
    const int64_t got1 = pread_whole_bands(team, read1, start1 + b, buf1.data(), want, npixel);
    const int64_t got2 =
        in2 != nullptr ? pread_whole_bands(team, read2, start2 + b, b2, want, npixel) : want;
    const int64_t done = std::min(got1, got2) * npixel;
    if (done > 0) {
      apply_kernel(t, p, team, buf1.data(), b2, res.data(), done, npixel, b * npixel, tally);
      if (const int e = out.write_at(res.data(), done * 4, written); e != 0) out.fail_write(e);
      written += done * 4;
    }
    if (done < n) fail_short_read(t, out, written, got1, got2, true);
  }
  for (const Tally& pt : part) tally.corrected += pt.corrected;
}

// Reads the range in chunks of whole bands, applies the kernel and appends the results.
void transform_range(const Tool& t, const Params& p, int64_t npixel, int64_t nbands, InFile& in1,
                     int64_t start1, InFile* in2, int64_t start2, OutFile& out, Tally& tally) {
  if (nbands <= 0) return;
  const int64_t per_chunk = chunk_bands(npixel, nbands);
  const int64_t nvalues = raster::alloc_count({per_chunk, npixel});
  raster::ThreadTeam team(
      raster::threads_for(nvalues, kValuesPerThread, raster::default_thread_count()));
  Buffer<float> buf1(nvalues);
  Buffer<float> buf2(in2 != nullptr ? nvalues : 0);
  if (in1.is_regular() && (in2 == nullptr || in2->is_regular()) && out.is_regular()) {
    transform_direct(t, p, team, npixel, nbands, in1, start1, in2, start2, out, buf1, buf2, tally);
    return;
  }
  Buffer<float> res(nvalues);
  for (int64_t b = 0; b < nbands; b += per_chunk) {
    const int64_t want = std::min(per_chunk, nbands - b);
    const int64_t got1 = raster::read_stream_bands(in1, start1 + b, npixel, buf1.data(), want);
    const int64_t got2 =
        in2 != nullptr ? raster::read_stream_bands(*in2, start2 + b, npixel, buf2.data(), want)
                       : want;
    const int64_t whole = std::min(got1, got2);
    if (whole > 0) {
      apply_kernel(t, p, team, buf1.data(), in2 != nullptr ? buf2.data() : nullptr, res.data(),
                   whole * npixel, npixel, b * npixel, tally);
      out.write_floats(res.data(), whole * npixel);
    }
    if (whole < want) fail_short_read(t, out, 0, got1, got2, false);
  }
}

}  // namespace

int64_t chunk_bands(int64_t npixel, int64_t nbands) {
  return std::clamp<int64_t>(kChunkBytes / (npixel * 4), 1, std::max<int64_t>(nbands, 1));
}

int read_npixel(const char* text) {
  const int npixel = raster::arg_int(text);
  raster::require_at_least_one("npixel", npixel);
  return npixel;
}

namespace {

int transform(const Tool& t, int argc, char** argv) {
  const char* progname = argc > 0 && argv[0] != nullptr ? argv[0] : t.name;
  if (argc <= t.usage_max_argc) show_usage(t, progname);

  const ArgLayout& a = t.args;
  const char* inputs[2] = {argv[1], a.ninputs == 2 ? argv[2] : nullptr};
  const char* outputs[1] = {argv[a.ninputs + 1]};
  const int npixel = read_npixel(argv[a.npixel]);
  const Params p = read_reals(t, argc, argv);

  InFile in1 = InFile::open(inputs[0]);
  InFile in2;
  if (a.ninputs == 2) in2 = InFile::open(inputs[1]);
  raster::refuse_output_over_input(std::span(inputs, static_cast<std::size_t>(a.ninputs)), outputs);
  OutFile out = OutFile::open(outputs[0]);

  const int nbands1 = raster::band_count(in1.size(), npixel);
  const int nbands2 = a.ninputs == 2 ? raster::band_count(in2.size(), npixel) : 0;
  Range r1{0, nbands1 - 1};
  Range r2{0, nbands2 - 1};
  const bool given = read_band_args(a, argc, argv, r1, r2);
  print_band_line(t, r1, r2, p);
  if (given) refuse_negative_bands(t, r1, r2);
  const int64_t nbands = int64_t{r1.end} - r1.start + 1;
  check_range(t, nbands, r1, r2);
  Tally tally;
  transform_range(t, p, npixel, nbands, in1, r1.start, a.ninputs == 2 ? &in2 : nullptr, r2.start,
                  out, tally);
  if (t.closing != nullptr) std::printf(t.closing, static_cast<long long>(tally.corrected));
  out.close();
  return 0;
}

}  // namespace

int run(const Tool& t, int argc, char** argv) {
  return raster::run_program([&] { return transform(t, argc, argv); });
}

}  // namespace bandmath
