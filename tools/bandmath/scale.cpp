// scale: see the kScale row of the tool table.
#include "bandmath.h"

int main(int argc, char** argv) { return bandmath::run_scale(argc, argv); }
