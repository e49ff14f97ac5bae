// The stages strung together: the command line and its inputs, the outputs, all working storage,
// the fraction and the grid, then the slices, the slice products and the series.
#include "corvane.h"

#include <algorithm>
#include <vector>

#include "cmdline.h"
#include "outputs.h"
#include "parallel.h"
#include "products.h"
#include "report.h"
#include "series.h"
#include "slices.h"
#include "stats.h"

namespace corvane {

namespace {

// Pixels below which another thread is not worth starting.
constexpr int64_t kPixelsPerThread = 8;

int max_reference_bands(const Settings& s, const Inputs& in) {
  int nb = 0;
  for (const ParameterFiles& f : in.params) nb = std::max(nb, reference_bands(s, f));
  return nb;
}

int run(int argc, char** argv) {
  Command cmd = read_command(argc, argv);
  const Settings& s = cmd.settings;
  OutputSet outputs(cmd.output_paths, cmd.input_paths, s.npixel);
  const GridSize dims = grid_size(s.res);
  const int nthreads =
      raster::threads_for(s.npixel, kPixelsPerThread, raster::default_thread_count());
  // All working storage first, then the fraction, as a run that cannot get its memory should
  // fail before it reads anything.
  SliceSums sums(s.npixel);
  std::vector<SeriesParam> params;
  params.reserve(static_cast<std::size_t>(s.npar));
  for (int i = 0; i < s.npar; ++i) params.emplace_back(s.npixel);
  SeriesWork series(s.npixel, max_reference_bands(s, cmd.inputs), nthreads, s.npar);
  const raster::Buffer<float> natvegfrac = load_natvegfrac(s, cmd.inputs.natveg);
  // The grid file is read once; every yearly statistic then visits only the mapped pixels.
  const raster::AreaWeightedGrid grid(cmd.inputs.grid, s.npixel, dims.nlat, dims.nlon);
  raster::ThreadTeam team(nthreads);

  Slices slices = add_slices(s, cmd.inputs.params, SliceContext{grid, natvegfrac.data(), team},
                             std::move(sums), std::move(params));
  write_slice_products(std::move(slices.sums), outputs);  // the series need none of it
  write_series(s, cmd.inputs.params, slices.params, team, series, outputs);
  outputs.close();
  return 0;
}

}  // namespace

int run_corvane(int argc, char** argv) {
  return raster::run_program([&] { return run(argc, argv); });
}

}  // namespace corvane
