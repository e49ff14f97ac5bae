#include "export_job.h"

int main(int argc, char** argv) { return interop::run_export(argc, argv); }
