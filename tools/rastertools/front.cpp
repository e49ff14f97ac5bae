// rastertools: the front command. `rastertools TOOL ARGS...` runs one of the suite's programs,
// installed out of PATH's way (their names, `sum` among them, would shadow system programs),
// with exactly the arguments given and the tool's own name as its argv[0].
#include "front.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "report.h"
#include "toollist.h"

#ifndef RASTERTOOLS_VERSION
#error "RASTERTOOLS_VERSION must give the suite's version"
#endif
#ifndef RASTERTOOLS_TOOLDIR_FROM_BINDIR
#error "RASTERTOOLS_TOOLDIR_FROM_BINDIR must give the tools' folder relative to the front command"
#endif

namespace {

// Exit statuses of the front command itself (a tool's own status passes through unchanged).
constexpr int kStatusUsage = raster::status::tool_usage;  // unknown tool or option
constexpr int kStatusNotRunnable = raster::status::not_runnable;
constexpr int kStatusNotFound = raster::status::not_found;

namespace fs = std::filesystem;

// The tools' folder, found from this program's own location so that an installation can be
// moved (DESTDIR staging, relocated prefixes) and the build tree works as it is.
fs::path tool_dir() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::path(RASTERTOOLS_TOOLDIR_FROM_BINDIR);
  return (self.parent_path() / RASTERTOOLS_TOOLDIR_FROM_BINDIR).lexically_normal();
}

void print_help(std::FILE* out) {
  std::fprintf(out,
               "Usage: rastertools TOOL [ARGUMENTS...]\n"
               "       rastertools --help | --version\n"
               "\n"
               "Runs TOOL with exactly the ARGUMENTS given. Run a tool without arguments for its\n"
               "usage text.\n"
               "\n"
               "Tools:\n");
  for (const auto& t : rastertools::kTools) {
    std::fprintf(out, "  %-9s %s\n", t.name, t.summary);
  }
  std::fprintf(out, "\nTools folder: %s\n", tool_dir().c_str());
}

const rastertools::Tool* find_tool(std::string_view name) {
  for (const auto& t : rastertools::kTools) {
    if (name == t.name) return &t;
  }
  return nullptr;
}

// Replaces this process by the tool; returns only by failing to (the status says why).
[[noreturn]] void exec_tool(const rastertools::Tool& tool, int argc, char** argv) {
  const std::string exe = (tool_dir() / tool.program).string();
  std::vector<char*> args;
  args.push_back(const_cast<char*>(tool.program));
  for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execv(exe.c_str(), args.data());
  const int err = errno;
  raster::fail_status(err == ENOENT ? kStatusNotFound : kStatusNotRunnable,
                      "rastertools: cannot run %s: %s\n", exe.c_str(), std::strerror(err));
}

int front(int argc, char** argv) {
  if (argc < 2) {
    print_help(stdout);
    return 0;
  }
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    print_help(stdout);
    return 0;
  }
  if (first == "--version" || first == "-V") {
    std::printf("rastertools %s\n", RASTERTOOLS_VERSION);
    return 0;
  }
  if (first.starts_with("-")) {
    raster::fail_status(kStatusUsage,
                        "rastertools: unknown option '%s' (try 'rastertools --help')\n", argv[1]);
  }
  const rastertools::Tool* tool = find_tool(first);
  if (tool == nullptr) {
    raster::fail_status(kStatusUsage,
                        "rastertools: unknown tool '%s' (run 'rastertools --help' for the list)\n",
                        argv[1]);
  }
  exec_tool(*tool, argc, argv);
}

}  // namespace

namespace rastertools {

int run_rastertools(int argc, char** argv) {
  return raster::run_program([&] { return front(argc, argv); });
}

}  // namespace rastertools
