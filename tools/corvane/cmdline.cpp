// The positional command line: argument count, the checks that keep a run meaningful, the files
// opened in their fixed order, the weight report and the grid dimensions.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "corvane.h"

namespace corvane {

namespace {

[[noreturn]] void usage(const char* progname) {
  raster::fail_exact(
      "Use:\n%s npar is_range_spec (1: range is specified for each parameter, 0: mean/std for "
      "each parameter are determined internally) is_natveg_spec (1: natveg fraction is specified "
      "as input file, 0: no managed land fraction assumed) [natvegfile(supply only if "
      "is_natveg_spec=1)] nyear_ref(years in reference file) nyear_fut(years in future file) "
      "nyear_avg(time slice thickness) startyear_ref startyear_fut gridfile res(deg) weight_par1 "
      "file_ref_par1 (reference file) file_fut_par1(transient file) [mean1 std1][weight_par2 "
      "file1_par2 file2_par2 [mean2 std2]...] npixel ofile1(angle between vectors) "
      "ofile2(magnitude of change,4 bands) ofile3(time series of angle) ofile4(time series of "
      "magnitude) ofile5(angle, global normalization),ofile6(magnitude, global normalization) "
      "ofile7(time series of angle,global normalization) ofile8(time series of magnitude,global "
      "normalization)\n",
      progname);
}

using raster::arg_int;
using raster::arg_real;

// Where the arguments sit: the fixed ones, then the parameters' groups, npixel, the outputs.
struct Layout {
  int k = 0;             ///< 1 when a fraction file is given
  int per_param = 3;     ///< weight, reference and future file (+ mean and std)
  int par0 = 0;          ///< first parameter group
  int npixel_pos = 0;    ///< npixel, followed by the outputs
  int64_t expected = 0;  ///< the argument count this layout needs
};

// The fixed arguments besides the parameters' groups: program name, npar, is_range_spec,
// is_natveg_spec, five year counts, grid file, res, npixel and the outputs.
constexpr int64_t kFixedArgs = 12 + kNumOutputs;

// npar, is_range_spec and is_natveg_spec, the checks that the layout needs, and the layout.
Layout read_layout(char** argv, Run& run) {
  run.npar = arg_int(argv[1]);
  run.is_range_spec = arg_int(argv[2]);
  run.is_natveg_spec = arg_int(argv[3]);
  // Without a parameter there is no file to take the band count from, and any other range flag
  // would make the argument count and the parameter layout disagree.
  raster::require_at_least_one("npar", run.npar);
  if (run.is_range_spec != 0 && run.is_range_spec != 1) {
    raster::fail_error("is_range_spec must be 0 or 1 (got %d)", run.is_range_spec);
  }
  Layout l;
  l.k = run.is_natveg_spec != 0 ? 1 : 0;
  l.per_param = run.is_range_spec != 0 ? 5 : 3;
  // The count grows with npar without bound, so it is kept in 64 bits.
  l.expected = kFixedArgs + static_cast<int64_t>(l.per_param) * run.npar + l.k;
  l.par0 = 11 + l.k;
  return l;
}

void check_count(int argc, char** argv, const Run& run, const Layout& l) {
  if (argc == l.expected) return;
  const bool missing = argc < l.expected;
  std::fprintf(stderr,
               "Error: You have %" PRId64
               " %s argument(s). Please check again.\nRelevant parameters:\n\tnpar: "
               "%d\n\tis_range_spec: %d\n\tis_natveg_spec: %d\n",
               missing ? l.expected - argc : argc - l.expected, missing ? "missing" : "too many",
               run.npar, run.is_range_spec, run.is_natveg_spec);
  usage(argv[0]);
}

// The counts, start years, resolution and npixel, checked before any file is opened or created.
void read_counts(char** argv, Run& run, Layout& l) {
  const int k = l.k;
  run.nyear_ref = arg_int(argv[4 + k]);
  run.nyear_fut = arg_int(argv[5 + k]);
  run.nyear_avg = arg_int(argv[6 + k]);
  run.startyear_ref = arg_int(argv[7 + k]);
  run.startyear_fut = arg_int(argv[8 + k]);
  const char* res_text = argv[10 + k];
  run.res = arg_real(res_text);
  l.npixel_pos = l.par0 + l.per_param * run.npar;
  run.npixel = arg_int(argv[l.npixel_pos]);

  raster::require_at_least_one("nyear_ref", run.nyear_ref);
  raster::require_at_least_one("nyear_fut", run.nyear_fut);
  raster::require_at_least_one("nyear_avg", run.nyear_avg);
  raster::require_not_negative("startyear_ref", run.startyear_ref);
  raster::require_not_negative("startyear_fut", run.startyear_fut);
  // The slice average of the yearly global means must stay within the reference years.
  if (static_cast<int64_t>(run.startyear_ref) + run.nyear_avg > run.nyear_ref) {
    raster::fail_error(
        "the reference slice (startyear_ref %d, nyear_avg %d) reaches past the %d years of the "
        "reference file",
        run.startyear_ref, run.nyear_avg, run.nyear_ref);
  }
  if (!(run.res > 0.0)) {
    raster::fail_error("res must be a positive number of degrees (got %s)", res_text);
  }
  raster::require_at_least_one("npixel", run.npixel);
  double weight_sum = 0.0;
  for (int i = 0; i < run.npar; ++i) weight_sum += arg_real(argv[l.par0 + l.per_param * i]);
  // Dividing by a zero sum would make every weight infinite or NaN.
  if (weight_sum == 0.0) raster::fail_error("the parameter weights sum to 0");
}

// The grid file, then each parameter's reference and future file with its weight (and range);
// returns every input path, for the guard of the outputs.
std::vector<const char*> open_inputs(char** argv, Run& run, const Layout& l) {
  const char* gridpath = argv[9 + l.k];
  run.gridfile = raster::InFile::open(gridpath);
  const auto npar = static_cast<std::size_t>(run.npar);
  run.weight.assign(npar, 0.0);
  if (run.is_range_spec != 0) {
    run.mean_par.assign(npar, 0.0);
    run.std_par.assign(npar, 0.0);
  }
  run.ifiles_ref.resize(npar);
  run.ifiles_fut.resize(npar);
  std::vector<const char*> inputs;
  if (l.k == 1) inputs.push_back(argv[4]);
  inputs.push_back(gridpath);
  for (std::size_t i = 0; i < npar; ++i) {
    const int pos = l.par0 + l.per_param * static_cast<int>(i);
    run.weight[i] = arg_real(argv[pos]);
    run.ifiles_ref[i] = raster::InFile::open(argv[pos + 1]);
    run.ifiles_fut[i] = raster::InFile::open(argv[pos + 2]);
    inputs.push_back(argv[pos + 1]);
    inputs.push_back(argv[pos + 2]);
    if (run.is_range_spec != 0) {
      run.mean_par[i] = arg_real(argv[pos + 3]);
      run.std_par[i] = arg_real(argv[pos + 4]);
    }
  }
  return inputs;
}

void report_and_normalise_weights(Run& run) {
  double weight_sum = 0.0;
  for (const double w : run.weight) weight_sum += w;
  std::printf("Number of parameters: %d\nSum of parameter weights: %lf\n", run.npar, weight_sum);
  for (double& w : run.weight) w = w / weight_sum;
}

// The outputs, created in command-line order once no output names an input.
void open_outputs(char** argv, Run& run, const Layout& l, const std::vector<const char*>& inputs) {
  const std::vector<const char*> outputs(argv + l.npixel_pos + 1,
                                         argv + l.npixel_pos + 1 + kNumOutputs);
  raster::refuse_output_over_input(inputs, outputs);
  for (std::size_t j = 0; j < run.ofile.size(); ++j) {
    run.ofile[j] = raster::OutFile::open(outputs[j]);
  }
}

void grid_dimensions(Run& run) {
  const double qlat = 180.0 / run.res + 0.0001;
  const double qlon = 360.0 / run.res + 0.0001;
  // A grid beyond int range could never be mapped in memory.
  if (!(qlon < 2147483648.0)) raster::failu("Error allocating memory\n");
  run.nlat = static_cast<int>(qlat);
  run.nlon = static_cast<int>(qlon);
}

}  // namespace

void open_run(int argc, char** argv, Run& run) {
  if (argc < kFixedArgs) usage(argv[0]);
  Layout layout = read_layout(argv, run);
  // Opened before the count is checked, so a missing fraction file is what gets reported.
  if (layout.k == 1) run.natvegfile = raster::InFile::open(argv[4]);
  check_count(argc, argv, run, layout);
  read_counts(argv, run, layout);
  const std::vector<const char*> inputs = open_inputs(argv, run, layout);
  report_and_normalise_weights(run);
  open_outputs(argv, run, layout, inputs);
  grid_dimensions(run);
}

int reference_bands(const Run& run, int i) {
  const raster::InFile& ref = run.ifiles_ref[static_cast<std::size_t>(i)];
  return raster::bands_per_year(ref.size(), run.npixel, run.nyear_ref);
}

raster::Buffer<float> load_natvegfrac(Run& run) {
  raster::Buffer<float> frac(run.npixel);
  frac.fill(1.0f);
  if (run.is_natveg_spec != 0) {
    run.natvegfile.seek(0);
    if (run.natvegfile.read_floats(frac.data(), run.npixel) < run.npixel) {
      std::fprintf(stderr, "Error: cannot read natvegfrac from %s\n",
                   run.natvegfile.path().c_str());
      std::exit(raster::status::short_fraction);
    }
  }
  for (int64_t p = 0; p < frac.size(); ++p) {
    if (frac[p] < 0.0f) frac[p] = 0.0f;
  }
  return frac;
}

}  // namespace corvane
