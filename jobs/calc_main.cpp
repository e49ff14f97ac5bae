// rastertools calc: the band tools' job from NetCDF or raw files with their sidecar.
#include "band_jobs.h"

int main(int argc, char** argv) { return jobs::run_calc(argc, argv); }
