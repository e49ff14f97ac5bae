#include "corvane.h"

#include <algorithm>
#include <optional>

namespace corvane {

namespace {
// Pixels below which another thread is not worth starting.
constexpr int64_t kPixelsPerThread = 8;

int max_reference_bands(const Run& run) {
  int nb = 0;
  for (int i = 0; i < run.npar; ++i) nb = std::max(nb, reference_bands(run, i));
  return nb;
}
}  // namespace

int run_corvane(int argc, char** argv) {
  Run run;
  open_run(argc, argv, run);
  const int nthreads =
      raster::threads_for(run.npixel, kPixelsPerThread, raster::default_thread_count());
  // All working storage first, then the fraction, as a run that cannot get its memory should
  // fail before it reads anything.
  std::optional<SliceSums> sums(std::in_place, run.npixel);
  std::vector<SeriesParam> params;
  params.reserve(static_cast<std::size_t>(run.npar));
  for (int i = 0; i < run.npar; ++i) params.emplace_back(run.npixel);
  SeriesWork series(run.npixel, max_reference_bands(run), nthreads, run.npar);
  const raster::Buffer<float> natvegfrac = load_natvegfrac(run);
  // The grid file is read once; every yearly statistic then visits only the mapped pixels.
  const raster::AreaWeightedGrid grid(run.gridfile, run.npixel, run.nlat, run.nlon);
  raster::ThreadTeam team(nthreads);
  const Context ctx{grid, natvegfrac.data(), team};
  add_slices(run, ctx, *sums, params);
  write_slice_products(run, *sums);
  sums.reset();  // the series need none of it
  write_series(run, ctx, params, series);
  return 0;
}

}  // namespace corvane
