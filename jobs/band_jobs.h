// The named jobs over fennick and the band tools: `rastertools dissimilarity` and
// `rastertools calc`. Each takes NetCDF or raw files with their sidecar (jobs_core), derives and
// checks what the positional tool is told by hand, runs the tool's own entry in-process on the
// inputs' pixel images and writes NetCDF or raw + grid + sidecar.
#pragma once

namespace jobs {

/// rastertools dissimilarity: the fennick job. Returns the exit status.
int run_dissimilarity(int argc, char** argv);
/// rastertools calc: the band tools' job. Returns the exit status.
int run_calc(int argc, char** argv);

}  // namespace jobs
