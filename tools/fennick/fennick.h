// The vegetation-composition dissimilarity run: command line, period reading, output.
#pragma once

#include <cstdint>

namespace fennick {

/// The whole tool as a library entry: returns the exit status, its files closed, and prints
/// nothing after returning.
int run_fennick(int argc, char** argv);

struct Options {
  const char* fpcfile1 = nullptr;
  const char* fpcfile2 = nullptr;
  const char* outfile = nullptr;
  int64_t nyear_file1 = 0;
  int64_t nyear_file2 = 0;
  int64_t npixel = 0;
  int64_t startyear1 = 0;
  int64_t startyear2 = 0;  ///< below 0: period 2 comes from the end of file 1
  bool sim = false;        ///< write the similarity instead of the dissimilarity
};

/// Reads the positional arguments; too few ends the run with the usage text, counts below 1 or
/// a negative startyear1 with a message. Nothing has been opened when it returns.
Options parse_args(int argc, char** argv);

/// Reserves both period blocks, opens the files, reads both periods and writes one value per
/// pixel; returns the exit status of a successful run (a failure throws the Fatal that
/// run_fennick reports).
int run(const Options& opt);

}  // namespace fennick
