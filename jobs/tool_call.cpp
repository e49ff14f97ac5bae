#include "tool_call.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "job_input.h"
#include "tool.h"

namespace jobs {

using interop::ToolError;

namespace {

// Standard output sent into `mem` while the object lives, then put back.
class StdoutTo {
 public:
  explicit StdoutTo(const MemFile& mem) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ < 0 || dup2(mem.fd(), STDOUT_FILENO) < 0)
      throw ToolError(std::string("cannot capture the tool's output: ") + std::strerror(errno));
  }
  ~StdoutTo() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  StdoutTo(const StdoutTo&) = delete;
  StdoutTo& operator=(const StdoutTo&) = delete;

 private:
  int saved_ = -1;
};

std::string read_back(const MemFile& mem) {
  std::string text(static_cast<size_t>(mem.size()), '\0');
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t r =
        pread(mem.fd(), text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) throw ToolError("cannot read back the tool's output");
    done += static_cast<size_t>(r);
  }
  return text;
}

}  // namespace

ToolRun call_tool(int (*entry)(int, char**), const std::vector<std::string>& args) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const MemFile mem("stdout");
  ToolRun run;
  {
    const StdoutTo redirect(mem);
    run.status = entry(static_cast<int>(copy.size()), argv.data());
  }
  run.out = read_back(mem);
  return run;
}

std::string exact_number(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

}  // namespace jobs
