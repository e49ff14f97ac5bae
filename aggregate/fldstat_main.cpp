#include "fldstat.h"

int main(int argc, char** argv) { return aggregate::run_fldstat(argc, argv); }
