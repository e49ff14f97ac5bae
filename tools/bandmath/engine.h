// The band engine behind sum, mult, div, add, scale, limits, logistic and slivet.
//
// Every tool is one row (a Tool) of the table in tools.h: what its command line looks like,
// when each argument is read, what it reports, how it walks the bands and which pixel kernel
// it applies. The engine runs any row; a tool's main only names its row.
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
enum class Stage { before_open, after_open };

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
  within_block,   ///< 0 <= start <= end <= block - 1, checked before any file is opened
};

enum class Positioning {
  every_read,  ///< each read is positioned at its band's offset
  once,        ///< the inputs are positioned at the range's start, then read in sequence
  none,        ///< read from the start of the input as it comes
};

/// What a read past the end of an input leaves in the output.
enum class OnShortRead {
  empty_output,   ///< nothing: the output stays empty
  keep_finished,  ///< every band finished before the failing one
};

enum class Loop {
  range,   ///< the bands of one range, each read, transformed and written
  blocks,  ///< the same bands cut out of every block of the input, copied bit for bit
};

/// An optional or required real, read with atof when argc > position.
struct RealArg {
  int position;
  double Params::*field;
};

/// One band arithmetic tool.
struct Tool {
  const char* name;  ///< shown in the usage text when the program name is missing
  const char* usage;
  UsageFill usage_fill;
  int usage_max_argc;  ///< the usage text ends the run when argc <= this

  int ninputs;     ///< 1 or 2; the output path follows the inputs
  int npixel_pos;  ///< argv position of npixel

  RealArg reals[4];  ///< reals in the order they are read; position 0 ends the list
  Stage reals_read;

  int block_pos;  ///< argv position of the bands per block (blocks loop only), else 0
  int band_pos;   ///< argv position of the first band argument
  int band_args;  ///< 2 (one range) or 4 (a range for each input)
  ArgcRule band_rule;
  int band_argc;  ///< with band_rule: when the band arguments are read
  Stage bands_read;

  BandLine band_line;
  RangeRule range_rule;
  Positioning positioning;
  OnShortRead on_short_read;
  Loop loop;
  Kernel kernel;        ///< null for the blocks loop, which copies
  Reporter report;      ///< null where the kernel's values are final
  const char* closing;  ///< printf text taking the count of corrected values, or null
  Params defaults;
};

/// Runs `tool` on the command line; returns the exit status of a complete run (every failure
/// ends the process where it is found).
int run(const Tool& tool, int argc, char** argv);

}  // namespace bandmath
