// The positional command line: argument count, the checks that keep a run meaningful, the files
// opened in their fixed order, the weight report, the grid dimensions and the fraction file.
#include "cmdline.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "args.h"
#include "outputs.h"
#include "report.h"

namespace corvane {

namespace {

std::string usage_text(const char* progname) {
  return raster::format(
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

[[noreturn]] void usage(const char* progname) {
  raster::fail_exact("%s", usage_text(progname).c_str());
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
Layout read_layout(char** argv, Settings& s) {
  s.npar = arg_int(argv[1]);
  s.is_range_spec = arg_int(argv[2]);
  s.is_natveg_spec = arg_int(argv[3]);
  // Without a parameter there is no file to take the band count from, and any other range flag
  // would make the argument count and the parameter layout disagree.
  raster::require_at_least_one("npar", s.npar);
  if (s.is_range_spec != 0 && s.is_range_spec != 1) {
    raster::fail_error("is_range_spec must be 0 or 1 (got %d)", s.is_range_spec);
  }
  Layout l;
  l.k = s.is_natveg_spec != 0 ? 1 : 0;
  l.per_param = s.is_range_spec != 0 ? 5 : 3;
  // The count grows with npar without bound, so it is kept in 64 bits.
  l.expected = kFixedArgs + static_cast<int64_t>(l.per_param) * s.npar + l.k;
  l.par0 = 11 + l.k;
  return l;
}

// A count that does not fit the layout: what is wrong, then the usage text.
void check_count(int argc, char** argv, const Settings& s, const Layout& l) {
  if (argc == l.expected) return;
  const bool missing = argc < l.expected;
  raster::fail_exact("Error: You have %" PRId64
                     " %s argument(s). Please check again.\nRelevant parameters:\n\tnpar: "
                     "%d\n\tis_range_spec: %d\n\tis_natveg_spec: %d\n%s",
                     missing ? l.expected - argc : argc - l.expected,
                     missing ? "missing" : "too many", s.npar, s.is_range_spec, s.is_natveg_spec,
                     usage_text(argv[0]).c_str());
}

// The counts, start years, resolution and npixel, checked before any file is opened or created.
void read_counts(char** argv, Settings& s, Layout& l) {
  const int k = l.k;
  s.nyear_ref = arg_int(argv[4 + k]);
  s.nyear_fut = arg_int(argv[5 + k]);
  s.nyear_avg = arg_int(argv[6 + k]);
  s.startyear_ref = arg_int(argv[7 + k]);
  s.startyear_fut = arg_int(argv[8 + k]);
  const char* res_text = argv[10 + k];
  s.res = arg_real(res_text);
  l.npixel_pos = l.par0 + l.per_param * s.npar;
  s.npixel = arg_int(argv[l.npixel_pos]);

  raster::require_at_least_one("nyear_ref", s.nyear_ref);
  raster::require_at_least_one("nyear_fut", s.nyear_fut);
  raster::require_at_least_one("nyear_avg", s.nyear_avg);
  raster::require_not_negative("startyear_ref", s.startyear_ref);
  raster::require_not_negative("startyear_fut", s.startyear_fut);
  // The slice average of the yearly global means must stay within the reference years.
  if (static_cast<int64_t>(s.startyear_ref) + s.nyear_avg > s.nyear_ref) {
    raster::fail_error(
        "the reference slice (startyear_ref %d, nyear_avg %d) reaches past the %d years of the "
        "reference file",
        s.startyear_ref, s.nyear_avg, s.nyear_ref);
  }
  if (!(s.res > 0.0)) {
    raster::fail_error("res must be a positive number of degrees (got %s)", res_text);
  }
  raster::require_at_least_one("npixel", s.npixel);
  double weight_sum = 0.0;
  for (int i = 0; i < s.npar; ++i) weight_sum += arg_real(argv[l.par0 + l.per_param * i]);
  // Dividing by a zero sum would make every weight infinite or NaN.
  if (weight_sum == 0.0) raster::fail_error("the parameter weights sum to 0");
}

// The grid file, then each parameter's reference and future file with its weight (and range);
// every input path goes to cmd.input_paths, for the guard of the outputs.
void open_inputs(char** argv, const Layout& l, Command& cmd) {
  Settings& s = cmd.settings;
  const char* gridpath = argv[9 + l.k];
  cmd.inputs.grid = raster::InFile::open(gridpath);
  const auto npar = static_cast<std::size_t>(s.npar);
  s.weight.assign(npar, 0.0);
  if (s.is_range_spec != 0) {
    s.mean_par.assign(npar, 0.0);
    s.std_par.assign(npar, 0.0);
  }
  cmd.inputs.params.resize(npar);
  if (l.k == 1) cmd.input_paths.push_back(argv[4]);
  cmd.input_paths.push_back(gridpath);
  for (std::size_t i = 0; i < npar; ++i) {
    const int pos = l.par0 + l.per_param * static_cast<int>(i);
    s.weight[i] = arg_real(argv[pos]);
    cmd.inputs.params[i].ref = raster::InFile::open(argv[pos + 1]);
    cmd.inputs.params[i].fut = raster::InFile::open(argv[pos + 2]);
    cmd.input_paths.push_back(argv[pos + 1]);
    cmd.input_paths.push_back(argv[pos + 2]);
    if (s.is_range_spec != 0) {
      s.mean_par[i] = arg_real(argv[pos + 3]);
      s.std_par[i] = arg_real(argv[pos + 4]);
    }
  }
}

void report_and_normalise_weights(Settings& s) {
  double weight_sum = 0.0;
  for (const double w : s.weight) weight_sum += w;
  std::printf("Number of parameters: %d\nSum of parameter weights: %lf\n", s.npar, weight_sum);
  for (double& w : s.weight) w = w / weight_sum;
}

}  // namespace

Command read_command(int argc, char** argv) {
  if (argc < kFixedArgs) usage(argv[0]);
  Command cmd;
  Layout layout = read_layout(argv, cmd.settings);
  // Opened before the count is checked, so a missing fraction file is what gets reported.
  if (layout.k == 1) cmd.inputs.natveg = raster::InFile::open(argv[4]);
  check_count(argc, argv, cmd.settings, layout);
  read_counts(argv, cmd.settings, layout);
  open_inputs(argv, layout, cmd);
  report_and_normalise_weights(cmd.settings);
  char** const outputs = argv + layout.npixel_pos + 1;
  cmd.output_paths.assign(outputs, outputs + kNumOutputs);
  return cmd;
}

GridSize grid_size(double res) {
  const double qlat = 180.0 / res + 0.0001;
  const double qlon = 360.0 / res + 0.0001;
  // A grid beyond int range could never be mapped in memory.
  if (!(qlon < 2147483648.0)) raster::failu("Error allocating memory\n");
  return {static_cast<int>(qlat), static_cast<int>(qlon)};
}

int reference_bands(const Settings& s, const ParameterFiles& files) {
  return raster::bands_per_year(files.ref.size(), s.npixel, s.nyear_ref);
}

raster::Buffer<float> load_natvegfrac(const Settings& s, raster::InFile& natveg) {
  raster::Buffer<float> frac(s.npixel);
  frac.fill(1.0f);
  if (s.is_natveg_spec != 0) {
    natveg.seek(0);
    if (natveg.read_floats(frac.data(), s.npixel) < s.npixel) {
      raster::fail_status(raster::status::short_fraction, "Error: cannot read natvegfrac from %s\n",
                          natveg.path().c_str());
    }
  }
  for (int64_t p = 0; p < frac.size(); ++p) {
    if (frac[p] < 0.0f) frac[p] = 0.0f;
  }
  return frac;
}

}  // namespace corvane
