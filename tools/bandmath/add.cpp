// add: see the kAdd row of the tool table.
#include "bandmath.h"

int main(int argc, char** argv) { return bandmath::run_add(argc, argv); }
