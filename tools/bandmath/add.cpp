// add: see the kAdd row of the tool table.
#include "tools.h"

int main(int argc, char** argv) { return bandmath::run(bandmath::kAdd, argc, argv); }
