#include "import_cli.h"

int main(int argc, char** argv) { return interop::run_import(argc, argv); }
