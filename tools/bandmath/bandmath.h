// The band tools as library entries: each runs one tool on its command line, returns the exit
// status, its files closed, and prints nothing after returning. Each program's main is one call.
#pragma once

namespace bandmath {

int run_sum(int argc, char** argv);
int run_mult(int argc, char** argv);
int run_div(int argc, char** argv);
int run_add(int argc, char** argv);
int run_scale(int argc, char** argv);
int run_limits(int argc, char** argv);
int run_logistic(int argc, char** argv);
int run_slivet(int argc, char** argv);

}  // namespace bandmath
