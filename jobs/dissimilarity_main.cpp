// rastertools dissimilarity: the fennick job from NetCDF or raw files with their sidecar.
#include "band_jobs.h"

int main(int argc, char** argv) { return jobs::run_dissimilarity(argc, argv); }
