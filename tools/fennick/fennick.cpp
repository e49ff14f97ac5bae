#include "fennick.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "composition.h"
#include "periods.h"
#include "utilfunc.h"

namespace fennick {

namespace {

// Pixels below which another thread is not worth starting.
constexpr int64_t kPixelsPerThread = 1024;
// Values per write, as the output has always been written.
constexpr int64_t kWritePiece = 4096;

[[noreturn]] void usage(const char* progname) {
  raster::fail_exact(
      "Use: %s fpcfile1 fpcfile2 outfile nyear_file1 nyear_file2 npixel startyear1 startyear2 "
      "[sim(to calculate similarity measure)]\n"
      "Notice: if startyear2 < 0, data is read from input file 1 instead of input file 2 "
      "assuming that both files are continuous.\n",
      progname);
}

/// Byte offset of year `year` (may be negative); false when it does not fit in 64 bits.
bool year_offset(int64_t npixel, int64_t year, int64_t* offset) {
  return raster::value_offset(year, kSlots, 0, npixel, 0, offset);
}

/// Memory for one period held whole (10 bands x npixel x nyear values in file order); empty
/// when no such block can exist (its size overflows 64 bits) or the system refuses it. Nothing
/// in it is touched until the period is read into it.
raster::Workspace reserve_period(int64_t npixel, int64_t nyear) {
  raster::Workspace block;
  int64_t bytes = 0;
  if (!__builtin_mul_overflow(int64_t{4 * kSlots}, npixel, &bytes) &&
      !__builtin_mul_overflow(bytes, nyear, &bytes)) {
    const int64_t parts[] = {bytes};
    (void)block.map(parts, 1);
  }
  return block;
}

/// Reads a whole period from year `year` through the stream (positioned at the year where the
/// stream can be positioned; the positioning is not tested: a year past the end shows up as a
/// short read); true when every value arrived.
bool read_period(raster::InFile& in, int64_t npixel, int64_t year, int64_t nyear,
                 raster::Workspace& block) {
  return in.is_open() && raster::read_stream_bands(in, year * kSlots, npixel, block.part<float>(0),
                                                   nyear * kSlots) == nyear * kSlots;
}

}  // namespace

Options parse_args(int argc, char** argv) {
  if (argc - 1 < 8) usage(argc > 0 ? argv[0] : "fennick");
  Options o;
  o.fpcfile1 = argv[1];
  o.fpcfile2 = argv[2];
  o.outfile = argv[3];
  o.nyear_file1 = raster::arg_int(argv[4]);
  o.nyear_file2 = raster::arg_int(argv[5]);
  o.npixel = raster::arg_int(argv[6]);
  o.startyear1 = raster::arg_int(argv[7]);
  o.startyear2 = raster::arg_int(argv[8]);
  o.sim = argc - 1 >= 9;  // the ninth argument's text is never looked at

  // The band-0 test reads the last year of period 1, and empty periods or bands would divide
  // by zero or write nothing: refuse them before anything is opened.
  raster::require_at_least_one("nyear_file1", o.nyear_file1);
  raster::require_at_least_one("nyear_file2", o.nyear_file2);
  raster::require_at_least_one("npixel", o.npixel);
  raster::require_not_negative("startyear1", o.startyear1);
  return o;
}

namespace {

/// Reads period 1 from file 1, and period 2 from file 2 or from the end of file 1, through the
/// streams; every failure ends the run with its message.
void read_periods(const Options& opt, raster::InFile& file1, raster::InFile& file2,
                  raster::Workspace& block1, raster::Workspace& block2) {
  if (!read_period(file1, opt.npixel, opt.startyear1, opt.nyear_file1, block1)) {
    raster::fail_exact("Error reading data from input file 1\n");
  }
  if (opt.startyear2 >= 0) {
    if (!read_period(file2, opt.npixel, opt.startyear2, opt.nyear_file2, block2)) {
      raster::fail_exact("Error reading data from input file 2\n");
    }
    return;
  }
  // -startyear2 years before the end of file 1; file 2 is not used at all. Here the
  // positioning is tested, since a target before the start would silently read year 0.
  int64_t offset = 0;
  if (!year_offset(opt.npixel, opt.startyear2, &offset) || !file1.seek(offset, SEEK_END)) {
    raster::fail_exact("Error: cannot go to position %lld years before end of input file 1\n",
                       -static_cast<long long>(opt.startyear2));
  }
  const int64_t count = opt.nyear_file2 * kSlots * opt.npixel;
  if (file1.read_floats(block2.part<float>(0), count) != count) {
    raster::fail_exact("Error reading data from end of input file 1\n");
  }
}

/// Where a stream read of the file would start: its position after the seeks above.
int64_t stream_position(raster::InFile& f) { return static_cast<int64_t>(ftello(f.get())); }

/// A period beyond the last offset of any file (its end does not fit in 64 bits) cannot be
/// read whole, as a stream read that meets the end of the file would find.
void mark_unreachable(int64_t npixel, Period& p) {
  int64_t end = 0;
  // The size of the period fits: it was checked when its block was requested.
  p.unreachable = __builtin_add_overflow(p.base, int64_t{4} * kSlots * npixel * p.nyear, &end);
}

/// Places both periods in regular files, to be read by position as the values are computed:
/// each starts where a stream read would start, after the same seeks (the seek of a start year
/// is not tested, so one that the file system refuses leaves the stream at its start). False
/// when an input is not open or not a regular file, or a position cannot be reached or told;
/// the periods are then read as streams, with every failure reported as such reads report it,
/// from streams in the state they were opened in.
bool place_periods(const Options& opt, raster::InFile& file1, raster::InFile& file2, Period& p1,
                   Period& p2) {
  int64_t offset1 = 0;
  int64_t offset2 = 0;
  if (!file1.is_open() || !file1.is_regular() ||
      !year_offset(opt.npixel, opt.startyear1, &offset1) ||
      !year_offset(opt.npixel, opt.startyear2, &offset2)) {
    return false;
  }
  const bool from_file2 = opt.startyear2 >= 0;
  if (from_file2 && (!file2.is_open() || !file2.is_regular())) return false;
  // The seeks move nothing when they fail; a seek to the end of file 1 that fails is only
  // reported after period 1 has been read, which the stream reads do.
  (void)file1.seek(offset1, SEEK_SET);
  const auto at = [&](raster::InFile& f, int64_t nyear) {
    const int64_t base = stream_position(f);
    return Period{nullptr, raster::BandReader(fileno(f.get()), opt.npixel, base), base, nyear,
                  false};
  };
  p1 = at(file1, opt.nyear_file1);
  if (from_file2) {
    (void)file2.seek(offset2, SEEK_SET);
    p2 = at(file2, opt.nyear_file2);
  } else {
    if (!file1.seek(offset2, SEEK_END)) return false;
    p2 = at(file1, opt.nyear_file2);
  }
  if (p1.base < 0 || p2.base < 0) {
    rewind(file1.get());
    if (file2.is_open()) rewind(file2.get());
    return false;
  }
  mark_unreachable(opt.npixel, p1);
  mark_unreachable(opt.npixel, p2);
  return true;
}

}  // namespace

int run(const Options& opt) {
  // The threads start first: a thread that starts on an idle processor can take milliseconds
  // to run, which the setting up below then hides.
  const int nthreads =
      raster::threads_for(opt.npixel, kPixelsPerThread, raster::default_thread_count());
  raster::ThreadTeam team(nthreads);

  // The blocks hold the periods only where they are read as streams (a pipe, a device); they
  // are requested in every run all the same, before either is tested, so that a run is refused
  // for its memory exactly where it always was. Nothing in them is touched otherwise.
  raster::Workspace block1 = reserve_period(opt.npixel, opt.nyear_file1);
  raster::Workspace block2 = reserve_period(opt.npixel, opt.nyear_file2);
  Work work;
  if (!block1.ok() || !block2.ok() || !work.reserve(opt.npixel, nthreads)) {
    raster::fail_exact("Error in memory allocation\n");
  }

  // Opening the output truncates it; an input named again as the output would be lost.
  const char* inputs[] = {opt.fpcfile1, opt.fpcfile2};
  const char* outputs[] = {opt.outfile};
  raster::refuse_output_over_input(inputs, outputs);

  // A file that cannot be opened is only reported here; the read that needs it fails later.
  raster::InFile file1 = raster::InFile::try_open(opt.fpcfile1);
  if (!file1.is_open()) raster::warn("File open failed on input file1");
  raster::InFile file2 = raster::InFile::try_open(opt.fpcfile2);
  if (!file2.is_open()) raster::warn("File open failed on input file2");
  raster::OutFile out = raster::OutFile::try_open(opt.outfile);
  if (!out.is_open()) raster::warn("File open failed on output file");

  Period p1;
  Period p2;
  if (!place_periods(opt, file1, file2, p1, p2)) {
    read_periods(opt, file1, file2, block1, block2);
    p1 = Period{block1.part<float>(0), {}, 0, opt.nyear_file1, false};
    p2 = Period{block2.part<float>(0), {}, 0, opt.nyear_file2, false};
  }
  const Outcome outcome = compute_values(team, p1, p2, opt.npixel, opt.sim, work);
  // The messages of reads that come up short, period 1 first, as read_periods gives them.
  if (outcome == Outcome::period1_short)
    raster::fail_exact("Error reading data from input file 1\n");
  if (outcome == Outcome::period2_short) {
    raster::fail_exact(opt.startyear2 >= 0 ? "Error reading data from input file 2\n"
                                           : "Error reading data from end of input file 1\n");
  }
  // A run that could write nothing must not end as a success.
  if (!out.is_open()) {
    raster::fail_error("output file %s could not be opened; no values written", opt.outfile);
  }
  const float* values = work.values();
  for (int64_t p0 = 0; p0 < opt.npixel; p0 += kWritePiece) {
    out.write_floats(values + p0, std::min(kWritePiece, opt.npixel - p0));
  }
  out.close();
  return 0;
}

int run_fennick(int argc, char** argv) {
  return raster::run_program([&] { return run(parse_args(argc, argv)); });
}

}  // namespace fennick
