// The positional command line: what it fixes for the run, and the inputs it names, opened.
#pragma once

#include <cstdint>
#include <vector>

#include "buffer.h"
#include "rasterfile.h"

namespace corvane {

/// The numbers the command line fixes for the run.
struct Settings {
  int npar = 0;
  int is_range_spec = 0;
  int is_natveg_spec = 0;
  int nyear_ref = 0;
  int nyear_fut = 0;
  int nyear_avg = 0;
  int startyear_ref = 0;
  int startyear_fut = 0;
  double res = 0.0;
  int npixel = 0;
  std::vector<double> weight;    ///< normalised to sum 1
  std::vector<double> mean_par;  ///< the supplied ranges, with is_range_spec
  std::vector<double> std_par;
};

/// One parameter's two files.
struct ParameterFiles {
  raster::InFile ref;  ///< the reference (historical) file
  raster::InFile fut;  ///< the future (transient) file
};

/// The inputs, open.
struct Inputs {
  raster::InFile natveg;  ///< open only with is_natveg_spec
  raster::InFile grid;
  std::vector<ParameterFiles> params;
};

/// A command line read and checked, its inputs open, the outputs named.
struct Command {
  Settings settings;
  Inputs inputs;
  std::vector<const char*> input_paths;   ///< for the guard of the outputs
  std::vector<const char*> output_paths;  ///< ofile1 to ofile8
};

/// Reads the command line, opens every input in the documented order, prints the weight
/// report and normalises the weights. A bad command line ends the run with its message.
Command read_command(int argc, char** argv);

/// Rows and columns of the global grid at the resolution; a grid beyond int range ends the run
/// as its allocation would.
struct GridSize {
  int nlat = 0;
  int nlon = 0;
};
GridSize grid_size(double res);

/// Bands per year of a parameter's reference file, from its size.
int reference_bands(const Settings& s, const ParameterFiles& files);

/// Per-pixel weight of the global statistics: 1 everywhere, or the first band of the fraction
/// file with negative entries taken as 0. A short fraction file ends the run with status 1.
raster::Buffer<float> load_natvegfrac(const Settings& s, raster::InFile& natveg);

}  // namespace corvane
