#include "info.h"

int main(int argc, char** argv) { return interop::run_info(argc, argv); }
