// div: see the kDiv row of the tool table.
#include "tools.h"

int main(int argc, char** argv) { return bandmath::run(bandmath::kDiv, argc, argv); }
