// scale: see the kScale row of the tool table.
#include "tools.h"

int main(int argc, char** argv) { return bandmath::run(bandmath::kScale, argc, argv); }
