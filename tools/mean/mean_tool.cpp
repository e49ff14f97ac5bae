#include "mean_tool.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utilfunc.h"

namespace meantool {

namespace {

[[noreturn]] void usage(const char* progname) {
  usage_exit(
      "Use:\n%s ifile ofile npixel startyear endyear nbandsyear [-gm][-sd] \n"
      "calculates monthly means/standard deviation(sd), annual mean (gm)\n",
      progname);
}

/// Values read at a time: small enough to stay in the cache between the read and the
/// accumulation, large enough that the reads stay cheap.
constexpr int64_t kChunkValues = int64_t{1} << 16;

/// One pass over years first..last, each positioned at its own offset and read in order, in
/// chunks. fn(b, p, v, n) receives values v[0..n) of band b from pixel p on, each band segment
/// whole. A year that cannot be reached or is not there in full is a read error (the year's
/// offset is checked, so no product can wrap around); nothing has been written by then.
template <class Fn>
void read_pass(raster::InFile& in, raster::Buffer<float>& rbuf, int64_t first, int64_t last,
               int64_t npixel, int64_t nvalues, Fn fn) {
  for (int64_t y = first; y <= last; ++y) {
    int64_t offset = 0;
    if (__builtin_mul_overflow(y, nvalues, &offset) || __builtin_mul_overflow(offset, 4, &offset) ||
        !in.seek(offset)) {
      fail_plain("Error reading from file\n");
    }
    for (int64_t i0 = 0; i0 < nvalues; i0 += rbuf.size()) {
      const int64_t n = std::min(rbuf.size(), nvalues - i0);
      if (in.read_floats(rbuf.data(), n) != n) fail_plain("Error reading from file\n");
      for (int64_t i = i0; i < i0 + n;) {
        const int64_t b = i / npixel;
        const int64_t p = i % npixel;
        const int64_t len = std::min(npixel - p, i0 + n - i);
        fn(b, p, rbuf.data() + (i - i0), len);
        i += len;
      }
    }
  }
}

}  // namespace

Args parse_args(int argc, char** argv) {
  if (argc <= 6) usage(argv[0]);
  Args a;
  a.ifile = argv[1];
  a.ofile = argv[2];
  a.npixel = std::atoi(argv[3]);
  a.startyear = std::atoi(argv[4]);
  a.endyear = std::atoi(argv[5]);
  a.nbandsyear = std::atoi(argv[6]);
  for (int i = 7; i < argc; ++i) {
    if (std::strcmp(argv[i], "-gm") == 0) {
      a.gm = true;
    } else if (std::strcmp(argv[i], "-sd") == 0) {
      a.sd = true;
    }
  }
  return a;
}

void add_values(float* sum, const float* v, int64_t n) {
  for (int64_t p = 0; p < n; ++p) sum[p] = sum[p] + raster::signed_halfoffset(v[p]);
}

void finish_means(float* sum, int64_t n, int64_t nyear) {
  const double div = static_cast<double>(nyear);
  for (int64_t p = 0; p < n; ++p) {
    sum[p] = raster::signed_halfoffset(static_cast<double>(sum[p]) / div);
  }
}

void add_annual(float* annual, const float* mean, int64_t n, float nbandsyear) {
  for (int64_t p = 0; p < n; ++p) {
    const float q = mean[p] / nbandsyear;
    annual[p] = annual[p] + raster::signed_halfoffset(q);
  }
}

void add_squared_deviations(float* sq, const float* v, const float* mean, int64_t n) {
  for (int64_t p = 0; p < n; ++p) {
    const float d = v[p] - mean[p];
    sq[p] = sq[p] + raster::float_halfoffset(d * d);
  }
}

void finish_sds(float* sq, int64_t n, int64_t nyear) {
  const double div = static_cast<double>(nyear);
  for (int64_t p = 0; p < n; ++p) {
    sq[p] = raster::signed_halfoffset(std::sqrt(static_cast<double>(sq[p]) / div));
  }
}

int run(const Args& a) {
  // 64-bit, so that extreme years cannot wrap into a positive count.
  const int64_t nyear = int64_t{a.endyear} - a.startyear + 1;
  std::printf("%d %d %" PRId64 "\n", a.startyear, a.endyear, nyear);
  std::fflush(stdout);  // the line comes before any message, also when both streams are merged
  if (nyear <= 0) fail_plain("endyear < startyear! Exit.\n");
  // A negative year would be read from wherever a refused seek leaves the stream.
  if (a.startyear < 0) failu_fmt("Error: startyear must not be negative (got %d)\n", a.startyear);
  if (a.npixel <= 0) failu_fmt("Error: npixel must be positive (got %d)\n", a.npixel);
  if (a.nbandsyear <= 0) failu_fmt("Error: nbandsyear must be positive (got %d)\n", a.nbandsyear);

  raster::InFile in = raster::InFile::open(a.ifile);
  const char* const inputs[] = {a.ifile};
  const char* const outputs[] = {a.ofile};
  raster::refuse_output_over_input(inputs, outputs);
  raster::OutFile out = raster::OutFile::open(a.ofile);

  const int64_t npixel = a.npixel;
  const int64_t nbands = a.nbandsyear;
  const int64_t stride = a.sd ? 2 : 1;  // output bands per input band
  const int64_t nvalues = raster::alloc_count({npixel, nbands});
  const int64_t noutbands = nbands * stride + (a.gm ? 1 : 0);
  raster::Buffer<float> rbuf(std::min(nvalues, kChunkValues));
  raster::Buffer<float> wbuf(raster::alloc_count({noutbands, npixel}));
  wbuf.fill(0.0f);

  // Mean of band b is output band b * stride, its sd band 2b + 1, the annual mean band
  // nbands * stride.
  auto mean_band = [&](int64_t b) { return wbuf.data() + b * stride * npixel; };
  auto sd_band = [&](int64_t b) { return wbuf.data() + (2 * b + 1) * npixel; };

  read_pass(
      in, rbuf, a.startyear, a.endyear, npixel, nvalues,
      [&](int64_t b, int64_t p, const float* v, int64_t n) { add_values(mean_band(b) + p, v, n); });
  for (int64_t b = 0; b < nbands; ++b) finish_means(mean_band(b), npixel, nyear);

  if (a.gm) {
    float* annual = wbuf.data() + nbands * stride * npixel;
    const float div = static_cast<float>(a.nbandsyear);
    for (int64_t b = 0; b < nbands; ++b) add_annual(annual, mean_band(b), npixel, div);
  }

  if (a.sd) {
    read_pass(in, rbuf, a.startyear, a.endyear, npixel, nvalues,
              [&](int64_t b, int64_t p, const float* v, int64_t n) {
                add_squared_deviations(sd_band(b) + p, v, mean_band(b) + p, n);
              });
    for (int64_t b = 0; b < nbands; ++b) finish_sds(sd_band(b), npixel, nyear);
  }

  out.write_floats(wbuf.data(), wbuf.size());
  in = raster::InFile();  // the input is closed first, then the output (checked)
  out.close();
  return 0;
}

}  // namespace meantool
