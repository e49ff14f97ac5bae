// corvane: cosine of the angle and magnitude of change between a reference and a future
// period of several weighted model variables; see the usage text.
#include "corvane.h"

int main(int argc, char** argv) { return corvane::run_corvane(argc, argv); }
