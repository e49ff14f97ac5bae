// A positional tool called in-process through its library entry by a named job: the arguments
// the job derived, the tool's standard output captured (it holds the numbers the job reports
// in its own form), its error stream passed through.
#pragma once

#include <string>
#include <vector>

namespace jobs {

struct ToolRun {
  int status = 0;
  std::string out;  ///< what the tool printed on standard output
};

/// Calls entry(argc, argv) with `args` (args[0] is the tool's name); standard output goes into
/// memory during the call. A ToolError when the capture cannot be set up or read back.
ToolRun call_tool(int (*entry)(int, char**), const std::vector<std::string>& args);

/// "%.17g": a number the positional tools read back (atof) as the same double.
std::string exact_number(double v);

}  // namespace jobs
