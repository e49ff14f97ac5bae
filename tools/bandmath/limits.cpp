// limits: see the kLimits row of the tool table.
#include "bandmath.h"

int main(int argc, char** argv) { return bandmath::run_limits(argc, argv); }
