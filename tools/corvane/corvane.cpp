#include "corvane.h"

namespace corvane {

int run_corvane(int argc, char** argv) {
  Run run;
  open_run(argc, argv, run);
  // Working storage first, then the fraction, as a run that cannot get its memory should fail
  // before it reads anything; the series sums, by far the largest, are taken first.
  Sums sums(run.npixel, run.nyear_ref);
  Work work(run.npixel, run.nbands_year, run.nyear_ref, run.nyear_avg);
  const raster::Buffer<float> natvegfrac = load_natvegfrac(run);
  // The grid file is read once; every yearly statistic then visits only the mapped pixels.
  const raster::AreaWeightedGrid grid(run.gridfile.get(), run.npixel, run.nlat, run.nlon);
  accumulate(run, grid, natvegfrac.data(), work, sums);
  write_products(run, sums);
  return 0;
}

}  // namespace corvane
