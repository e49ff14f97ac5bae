// sum: see the kSum row of the tool table.
#include "bandmath.h"

int main(int argc, char** argv) { return bandmath::run_sum(argc, argv); }
