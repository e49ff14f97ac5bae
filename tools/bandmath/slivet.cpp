// slivet: see the kSlivet row of the tool table.
#include "tools.h"

int main(int argc, char** argv) { return bandmath::run(bandmath::kSlivet, argc, argv); }
