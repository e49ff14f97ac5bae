#include "entry_call.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tool.h"

namespace jobs {

using interop::ToolError;

namespace {

// Standard output sent to an in-memory file for the life of the object, then restored.
class CapturedStdout {
 public:
  CapturedStdout() {
    std::fflush(stdout);
    fd_ = memfd_create("rastertools-stdout", MFD_CLOEXEC);
    saved_ = dup(STDOUT_FILENO);
    if (fd_ < 0 || saved_ < 0 || dup2(fd_, STDOUT_FILENO) < 0) {
      const int e = errno;
      release();
      throw ToolError(std::string("cannot take in a tool's standard output: ") + std::strerror(e));
    }
  }
  ~CapturedStdout() { release(); }
  CapturedStdout(const CapturedStdout&) = delete;
  CapturedStdout& operator=(const CapturedStdout&) = delete;

  /// Restores standard output and returns what was written to it.
  std::string finish() {
    std::fflush(stdout);
    restore();
    std::string text;
    char buf[4096];
    if (lseek(fd_, 0, SEEK_SET) != 0) throw ToolError("cannot read a tool's standard output");
    for (;;) {
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw ToolError("cannot read a tool's standard output");
      if (n == 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    return text;
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      (void)dup2(saved_, STDOUT_FILENO);
      close(saved_);
      saved_ = -1;
    }
  }
  void release() {
    restore();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
  int saved_ = -1;
};

}  // namespace

EntryOutput call_entry(Entry entry, const char* name, const std::vector<std::string>& args) {
  std::vector<std::string> storage;
  storage.reserve(args.size() + 1);
  storage.emplace_back(name);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  CapturedStdout capture;
  const int status = entry(static_cast<int>(storage.size()), argv.data());
  const std::string text = capture.finish();
  EntryOutput out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) out.lines.push_back(line);
  if (status != 0) {
    // What it printed on standard output belongs with its message.
    for (const std::string& l : out.lines) std::printf("%s\n", l.c_str());
    throw ToolError(std::string(name) + " ended with status " + std::to_string(status));
  }
  return out;
}

std::string exact_text(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace jobs
