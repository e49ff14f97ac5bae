// The front command as a library entry. It replaces its process by the tool it runs, so it is
// called from its own main only.
#pragma once

namespace rastertools {

/// `rastertools TOOL ARGS...`: help, version, or the tool run in this process's place; returns
/// the exit status only where it runs no tool (help, version, a name or option it does not
/// know, a tool that cannot be started).
int run_rastertools(int argc, char** argv);

}  // namespace rastertools
