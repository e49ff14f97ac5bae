// sum: see the kSum row of the tool table.
#include "tools.h"

int main(int argc, char** argv) { return bandmath::run(bandmath::kSum, argc, argv); }
