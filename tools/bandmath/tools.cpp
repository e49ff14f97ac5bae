// The seven range tools' entries: each names its row of the table.
#include "tools.h"

#include "bandmath.h"

namespace bandmath {

int run_sum(int argc, char** argv) { return run(kSum, argc, argv); }
int run_mult(int argc, char** argv) { return run(kMult, argc, argv); }
int run_div(int argc, char** argv) { return run(kDiv, argc, argv); }
int run_add(int argc, char** argv) { return run(kAdd, argc, argv); }
int run_scale(int argc, char** argv) { return run(kScale, argc, argv); }
int run_limits(int argc, char** argv) { return run(kLimits, argc, argv); }
int run_logistic(int argc, char** argv) { return run(kLogistic, argc, argv); }

}  // namespace bandmath
