#include "fennick.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "composition.h"
#include "period_block.h"
#include "utilfunc.h"

namespace fennick {

namespace {

[[noreturn]] void usage(const char* progname) {
  usage_exit(
      "Use: %s fpcfile1 fpcfile2 outfile nyear_file1 nyear_file2 npixel startyear1 startyear2 "
      "[sim(to calculate similarity measure)]\n"
      "Notice: if startyear2 < 0, data is read from input file 1 instead of input file 2 "
      "assuming that both files are continuous.\n",
      progname);
}

/// Byte offset of year `year` (may be negative); false when it does not fit in 64 bits.
bool year_offset(int64_t npixel, int64_t year, int64_t* offset) {
  return !__builtin_mul_overflow(int64_t{4} * kSlots * npixel, year, offset);
}

/// One read request for a whole period; true when every value arrived.
bool read_period(raster::InFile& in, PeriodBlock& block) {
  return in.is_open() && in.read_floats(block.data(), block.count()) == block.count();
}

}  // namespace

Options parse_args(int argc, char** argv) {
  if (argc - 1 < 8) usage(argc > 0 ? argv[0] : "fennick");
  Options o;
  o.fpcfile1 = argv[1];
  o.fpcfile2 = argv[2];
  o.outfile = argv[3];
  o.nyear_file1 = std::atoi(argv[4]);
  o.nyear_file2 = std::atoi(argv[5]);
  o.npixel = std::atoi(argv[6]);
  o.startyear1 = std::atoi(argv[7]);
  o.startyear2 = std::atoi(argv[8]);
  o.sim = argc - 1 >= 9;  // the ninth argument's text is never looked at

  // The band-0 test reads the last year of period 1, and empty periods or bands would divide
  // by zero or write nothing: refuse them before anything is opened.
  const struct {
    const char* name;
    int64_t value;
  } counts[] = {
      {"nyear_file1", o.nyear_file1}, {"nyear_file2", o.nyear_file2}, {"npixel", o.npixel}};
  for (const auto& c : counts) {
    if (c.value < 1) {
      fail_plain("Error: %s must be at least 1, got %lld\n", c.name,
                 static_cast<long long>(c.value));
    }
  }
  if (o.startyear1 < 0) {
    fail_plain("Error: startyear1 must not be negative, got %lld\n",
               static_cast<long long>(o.startyear1));
  }
  return o;
}

namespace {

/// Reads period 1 from file 1, and period 2 from file 2 or from the end of file 1; every
/// failure ends the run with its message.
void read_periods(const Options& opt, raster::InFile& file1, raster::InFile& file2,
                  PeriodBlock& block1, PeriodBlock& block2) {
  // The positioning is not tested: a year past the end shows up as a short read.
  int64_t offset = 0;
  bool placed = year_offset(opt.npixel, opt.startyear1, &offset);
  if (placed && file1.is_open()) (void)file1.seek(offset, SEEK_SET);
  if (!placed || !read_period(file1, block1)) {
    fail_plain("Error reading data from input file 1\n");
  }

  if (opt.startyear2 >= 0) {
    placed = year_offset(opt.npixel, opt.startyear2, &offset);
    if (placed && file2.is_open()) (void)file2.seek(offset, SEEK_SET);
    if (!placed || !read_period(file2, block2)) {
      fail_plain("Error reading data from input file 2\n");
    }
    return;
  }
  // -startyear2 years before the end of file 1; file 2 is not used at all. Here the
  // positioning is tested, since a target before the start would silently read year 0.
  if (!year_offset(opt.npixel, opt.startyear2, &offset) || !file1.seek(offset, SEEK_END)) {
    fail_plain("Error: cannot go to position %lld years before end of input file 1\n",
               -static_cast<long long>(opt.startyear2));
  }
  if (!read_period(file1, block2)) fail_plain("Error reading data from end of input file 1\n");
}

/// Computes and writes the value of every pixel, a batch of pixels at a time.
void write_values(const Options& opt, const PeriodBlock& block1, const PeriodBlock& block2,
                  raster::OutFile& out) {
  const int64_t npixel = opt.npixel;
  const float* test_band = block1.data() + (opt.nyear_file1 - 1) * kSlots * npixel;
  std::vector<float> means1(static_cast<std::size_t>(kSlots * kChunk));
  std::vector<float> means2(static_cast<std::size_t>(kSlots * kChunk));
  std::vector<float> values(static_cast<std::size_t>(kChunk));
  for (int64_t p0 = 0; p0 < npixel; p0 += kChunk) {
    const int64_t n = npixel - p0 < kChunk ? npixel - p0 : kChunk;
    period_means(block1.data(), npixel, opt.nyear_file1, p0, n, means1.data());
    period_means(block2.data(), npixel, opt.nyear_file2, p0, n, means2.data());
    for (int64_t i = 0; i < n; ++i) {
      float s = 1.0f;
      // Band 0 of the last year of period 1 gates the pixel; NaN does not pass.
      if (static_cast<double>(test_band[p0 + i]) > 0.001) {
        float c1[kSlots];
        float c2[kSlots];
        for (int k = 1; k < kSlots; ++k) {
          c1[k] = means1[static_cast<std::size_t>(k * kChunk + i)];
          c2[k] = means2[static_cast<std::size_t>(k * kChunk + i)];
        }
        c1[0] = uncovered(c1);
        c2[0] = uncovered(c2);
        s = similarity(c1, c2);
      }
      values[static_cast<std::size_t>(i)] = opt.sim ? s : 1.0f - s;
    }
    out.write_floats(values.data(), n);
  }
}

}  // namespace

void run(const Options& opt) {
  // Both blocks are requested before either is tested.
  PeriodBlock block1 = PeriodBlock::reserve(opt.npixel, opt.nyear_file1);
  PeriodBlock block2 = PeriodBlock::reserve(opt.npixel, opt.nyear_file2);
  if (!block1.ok() || !block2.ok()) fail_plain("Error in memory allocation\n");

  // Opening the output truncates it; an input named again as the output would be lost.
  const char* inputs[] = {opt.fpcfile1, opt.fpcfile2};
  const char* outputs[] = {opt.outfile};
  raster::refuse_output_over_input(inputs, outputs);

  // A file that cannot be opened is only reported here; the read that needs it fails later.
  raster::InFile file1 = raster::InFile::try_open(opt.fpcfile1);
  if (!file1.is_open()) std::fputs("Warning: File open failed on input file1\n", stderr);
  raster::InFile file2 = raster::InFile::try_open(opt.fpcfile2);
  if (!file2.is_open()) std::fputs("Warning: File open failed on input file2\n", stderr);
  raster::OutFile out = raster::OutFile::try_open(opt.outfile);
  if (!out.is_open()) std::fputs("Warning: File open failed on output file\n", stderr);

  read_periods(opt, file1, file2, block1, block2);
  // A run that could write nothing must not end as a success.
  if (!out.is_open()) {
    fail_plain("Error: output file %s could not be opened; no values written\n", opt.outfile);
  }
  write_values(opt, block1, block2, out);
  out.close();
}

}  // namespace fennick
