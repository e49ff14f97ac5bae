// mult: see the kMult row of the tool table.
#include "tools.h"

int main(int argc, char** argv) { return bandmath::run(bandmath::kMult, argc, argv); }
