// logistic: see the kLogistic row of the tool table.
#include "tools.h"

int main(int argc, char** argv) { return bandmath::run(bandmath::kLogistic, argc, argv); }
