// Building corvane runs on tiny files, and a literal, unoptimised model of the documented
// algorithm (whole slices read in one piece, the global statistics re-read per year through
// the per-call routine, the reference file read three times) to compare the tool against.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "corvane.h"
#include "e2e.h"

namespace cvtest {

/// The tool runs in this process, through its library entry.
inline const e2e::InProcess kInProcess{"corvane", corvane::run_corvane};

struct Param {
  std::vector<float> ref;  // contents of the reference file
  std::vector<float> fut;  // contents of the future file
  std::string fut_tail;    // raw bytes after the future file's values (a cut-off value)
  std::string weight = "1";
  std::string mean = "0";  // supplied range, used when the case has one
  std::string std = "0";
  std::string ref_path;  // instead of a written file, when not empty
  std::string fut_path;
};

struct Case {
  e2e::TempDir dir;
  int nyear_ref = 1;
  int nyear_fut = 1;
  int nyear_avg = 1;
  int startyear_ref = 0;
  int startyear_fut = 0;
  int npixel = 1;
  std::string res = "0.5";
  int range = 0;
  bool natveg = false;
  std::vector<float> natvegfrac;
  // Grid records, lon*100 then lat*100; empty: pixel p at longitude p degrees on the equator,
  // so all pixels share one row and each has its own cell.
  std::vector<int16_t> grid;
  std::vector<Param> params;

  std::string out(int n) const;
  std::string ref_file(std::size_t i) const;
  std::string fut_file(std::size_t i) const;
  std::string grid_file() const { return dir.file("grid"); }
  std::string natveg_file() const { return dir.file("natveg"); }

  /// Writes every input and returns the command line (without the program name).
  std::vector<std::string> args();
  e2e::Result run() { return e2e::run("corvane", args()); }
  std::vector<float> output(int n) const { return e2e::read_floats(out(n)); }
};

/// What the documented algorithm prints and writes for a case whose inputs are written.
struct Expected {
  std::string out;
  std::string err;
  std::array<std::vector<float>, 8> files;
};
Expected model(const Case& c);

/// printf into a string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
/// The NaN that sqrt(-1) gives at run time.
float sqrt_minus_one();
/// Bit patterns of a list of floats (a braced list would pick e2e::bits(float)).
inline std::vector<uint32_t> vbits(const std::vector<float>& v) { return e2e::bits(v); }
/// A new folder in the case's folder, as an input that opens but cannot be read; its size
/// (from the file system) into *size.
std::string unreadable_input(const Case& c, int64_t* size);
/// A float vector of n copies of v.
std::vector<float> filled(std::size_t n, float v);

}  // namespace cvtest
