// limits: see the kLimits row of the tool table.
#include "tools.h"

int main(int argc, char** argv) { return bandmath::run(bandmath::kLimits, argc, argv); }
