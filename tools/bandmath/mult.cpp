// mult: see the kMult row of the tool table.
#include "bandmath.h"

int main(int argc, char** argv) { return bandmath::run_mult(argc, argv); }
