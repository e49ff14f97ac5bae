// The band engine behind sum, mult, div, add, scale, limits and logistic, and the pieces of it
// that slivet shares.
//
// Every range tool is one row (a Tool) of the table in tools.h: where its arguments sit, what
// it reports, how it judges its band range and which pixel kernel it applies. The engine runs
// any row; a tool's entry (bandmath.h) only names its row. slivet, which copies the same bands
// out of every block instead of walking one range, has an entry of its own (blockcopy.cpp).
#pragma once

#include <cstdint>

namespace bandmath {

/// Numbers that some tools take from the command line besides paths, npixel and bands.
struct Params {
  double constant = 0.0;  ///< add: the constant added; scale: the factor
  double lower = 0.0;     ///< limits: lower bound
  double upper = 0.0;     ///< limits: upper bound
  double nan = 0.0;       ///< div: result where the divisor counts as zero (-1: the dividend)
  double m = 0.0;         ///< logistic: input value of the steepest growth
  double g = 0.0;         ///< logistic: growth rate
  double a1 = 0.0;        ///< logistic: lower asymptote
  double a2 = 0.0;        ///< logistic: upper asymptote
};

/// Consecutive values of the processed range handed to a pixel kernel in one call: a thread's
/// share of a chunk of whole bands.
struct Chunk {
  const float* in1;     ///< values of the (first) input
  const float* in2;     ///< the matching values of the second input; null for one-input tools
  float* out;           ///< where the results go
  int64_t n;            ///< values in the chunk
  int64_t npixel;       ///< values per band
  int64_t first_value;  ///< position of the chunk's first value within the processed range
};

/// What a run counts across all kernel calls.
struct Tally {
  int64_t corrected = 0;  ///< limits: values replaced by a bound
};

/// A pixel rule applied to a chunk. Called once per chunk, never per value, so each rule is a
/// plain loop the compiler can vectorise. Threads apply it to disjoint parts of a chunk at
/// once, so it writes nothing but its output values and its own Tally.
using Kernel = void (*)(const Params&, const Chunk&, Tally&);
/// What a tool reports about the values of a chunk, in value order, after the kernel: run on
/// one thread over the whole chunk.
using Reporter = void (*)(const Params&, const Chunk&);

enum class ArgcRule { exactly, at_least };  ///< argc == n, or argc >= n

/// What the usage text needs besides the program name.
enum class UsageFill {
  name,               ///< "%s" only
  nan_default,        ///< "%s" and the default nanvalue as "%d"
  logistic_defaults,  ///< "%s" and g, m, a1, a2 as "%.1lf"
};

/// The band line on standard output.
enum class BandLine {
  none,
  one_range,       ///< "%d %d\n"
  two_ranges,      ///< "%d %d %d %d\n"
  two_ranges_nan,  ///< "%d %d %d %d %f\n", the last being nanvalue
};

/// How a band range is judged before the loop.
enum class RangeRule {
  equal_lengths,  ///< both ranges non-empty and of one length, else the band-count message
  whole_output,   ///< a negative length cannot be held as an output: allocation failure
  unchecked,      ///< a range of no or negative length simply processes nothing
};

/// What a read past the end of an input leaves in the output.
enum class OnShortRead {
  empty_output,   ///< nothing: the output stays empty
  keep_finished,  ///< every band finished before the failing one
};

/// An optional or required real, read with atof when argc > position.
struct RealArg {
  int position;
  double Params::*field;
};

/// Where a tool's arguments sit: the input paths from argv[1], the output path after them, then
/// npixel, reals and band arguments at their positions.
struct ArgLayout {
  int ninputs = 1;  ///< 1 or 2
  int npixel = 4;   ///< argv position of npixel
  int bands = 5;    ///< argv position of the first band argument
  int nbands = 2;   ///< band arguments: 2 (one range) or 4 (a range for each input)
  ArgcRule band_rule = ArgcRule::exactly;
  int band_argc = 7;      ///< with band_rule: the argument counts that make the band arguments read
  RealArg reals[4] = {};  ///< reals by position; position 0 ends the list
};

/// The layout of the two-file tools: ifile1 ifile2 ofile npixel [startband1 endband1
/// startband2 endband2], the bands read only at exactly argc == 9.
inline constexpr ArgLayout kTwoFiles = {.ninputs = 2, .nbands = 4, .band_argc = 9};

/// One band arithmetic tool. The defaults are what most rows share.
struct Tool {
  const char* name;  ///< shown in the usage text when the program name is missing
  const char* usage;
  UsageFill usage_fill = UsageFill::name;
  int usage_max_argc = 4;  ///< the usage text ends the run when argc <= this
  ArgLayout args = {};
  BandLine band_line = BandLine::one_range;
  RangeRule range_rule = RangeRule::whole_output;
  OnShortRead on_short_read = OnShortRead::empty_output;
  Kernel kernel = nullptr;
  Reporter report = nullptr;      ///< null where the kernel's values are final
  const char* closing = nullptr;  ///< printf text taking the count of corrected values, or null
  Params defaults = {};
};

/// Runs `tool` on the command line through the one error handler: returns the exit status,
/// its files closed, and prints nothing after returning.
int run(const Tool& tool, int argc, char** argv);

/// npixel from its argument; anything below 1 ends the run before a file is opened.
int read_npixel(const char* text);

/// Bands per read or write: about a MiB, at least one band, at most `nbands`.
int64_t chunk_bands(int64_t npixel, int64_t nbands);

}  // namespace bandmath
