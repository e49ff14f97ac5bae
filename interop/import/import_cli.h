// The library entry of rastertools import: parses the command line, imports, reports.
#pragma once

namespace interop {

/// rastertools import with this command line; returns the exit status.
int run_import(int argc, char** argv);

}  // namespace interop
