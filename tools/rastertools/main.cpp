// rastertools: the front command that runs the suite's tools.
#include "front.h"

int main(int argc, char** argv) { return rastertools::run_rastertools(argc, argv); }
