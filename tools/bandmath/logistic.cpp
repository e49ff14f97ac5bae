// logistic: see the kLogistic row of the tool table.
#include "bandmath.h"

int main(int argc, char** argv) { return bandmath::run_logistic(argc, argv); }
