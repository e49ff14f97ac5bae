// The named jobs: commands that take the field's files (NetCDF, or raw files with their sidecar),
// derive and check what the positional tools are told by hand (npixel, the grid, the resolution,
// bands per year, calendar years), run the tool's own computation in-process through its library
// entry, and write NetCDF (CF) or raw files with grid file and sidecar.
#pragma once

namespace jobs {

/// rastertools change: the corvane job. Returns the exit status.
int run_change(int argc, char** argv);
/// rastertools climatology: the mean job. Returns the exit status.
int run_climatology(int argc, char** argv);

}  // namespace jobs
