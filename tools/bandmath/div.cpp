// div: see the kDiv row of the tool table.
#include "bandmath.h"

int main(int argc, char** argv) { return bandmath::run_div(argc, argv); }
