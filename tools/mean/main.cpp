// mean: per-band means over a range of years, optional standard deviations and annual mean.
#include "mean_tool.h"

int main(int argc, char** argv) { return meantool::run_mean(argc, argv); }
