// corvane: multi-variable change metric between a reference and a future period.
//
// The run has five stages, each in a file of its own and each taking what it needs and
// returning what it makes; run_corvane() in corvane.cpp strings them together:
//   cmdline   the command line, its checks and the inputs opened in their order (Command);
//   outputs   the eight outputs, opened, written and closed in one place (OutputSet);
//   slices    every parameter's slices: the slice sums and each parameter's constants for the
//             series (Slices);
//   products  the four slice products from the slice sums;
//   series    the per-year series, year by year over all parameters, each year's four bands
//             written as soon as it is complete.
// The messages of reads that come up short are all in messages.cpp, in their order; the hot
// loops are in kernels.cpp, the per-value rules in rules.h.
//
// Every output value depends only on its own element's sums, and every element receives its
// terms in one fixed order, parameter by parameter and within a parameter band by band. The
// stages keep that order whatever the schedule: threads take contiguous pixel blocks, and the
// series of year y need nothing but year y of every parameter.
#pragma once

namespace corvane {

/// The whole tool as a library entry: returns the exit status, its files closed, and prints
/// nothing after returning.
int run_corvane(int argc, char** argv);

}  // namespace corvane
