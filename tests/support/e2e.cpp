#include "e2e.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#ifndef TOOL_BIN_DIR
#error "TOOL_BIN_DIR must name the folder of the built tools"
#endif
#ifndef TEST_BIN_DIR
#error "TEST_BIN_DIR must name the folder of the built test programs"
#endif
#ifndef DATA_DIR
#error "DATA_DIR must name the repository's data folder"
#endif

namespace e2e {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/rt.XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string tool_path(const std::string& name) {
  return name.starts_with('/') ? name : std::string(TOOL_BIN_DIR "/") + name;
}
std::string test_program_path(const std::string& name) {
  return std::string(TEST_BIN_DIR "/") + name;
}
std::string data_path(const std::string& name) { return std::string(DATA_DIR "/") + name; }

// The sanitizer build reports an allocation it refuses on stderr before returning null; the
// tool's own message follows. Drop that one line so both builds are held to the same text.
static std::string without_sanitizer_alloc_warnings(const std::string& err) {
  std::string kept;
  std::size_t pos = 0;
  while (pos < err.size()) {
    std::size_t end = err.find('\n', pos);
    end = end == std::string::npos ? err.size() : end + 1;
    const std::string line = err.substr(pos, end - pos);
    const bool warning =
        line.rfind("==", 0) == 0 &&
        line.find("WARNING: AddressSanitizer failed to allocate") != std::string::npos;
    if (!warning) kept += line;
    pos = end;
  }
  return kept;
}

// A hung tool must fail its test, not stall the suite: runs get this long (E2E_TIMEOUT_SECONDS
// to change it).
int timeout_seconds() {
  const char* v = std::getenv("E2E_TIMEOUT_SECONDS");
  const int s = v != nullptr ? std::atoi(v) : 0;
  return s > 0 ? s : 300;
}

// Waits until the child ends or the time is up, when it is killed; false if it was killed.
static bool wait_with_timeout(pid_t pid) {
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return true;  // no pidfd here: the caller waits without a limit
  pollfd p{fd, POLLIN, 0};
  int n = 0;
  do {
    n = poll(&p, 1, timeout_seconds() * 1000);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n > 0) return true;
  kill(pid, SIGKILL);
  return false;
}

static std::map<std::string, Entry>& entries() {
  static std::map<std::string, Entry> registered;
  return registered;
}

InProcess::InProcess(const char* name, Entry entry) { entries()[name] = entry; }

// The command line as a tool's main receives it.
struct Argv {
  Argv(const std::string& name, const std::vector<std::string>& args, const std::string& argv0) {
    words.push_back(argv0.empty() ? name : argv0);
    words.insert(words.end(), args.begin(), args.end());
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(words.size()); }
  std::vector<std::string> words;
  std::vector<char*> argv;
};

// Points descriptor `fd` at `path` (opened with `flags`) until destroyed, then back.
class Redirect {
 public:
  Redirect(int fd, const std::string& path, int flags) : fd_(fd), saved_(dup(fd)) {
    const int f = ::open(path.c_str(), flags, 0644);
    if (saved_ < 0 || f < 0 || dup2(f, fd) < 0) throw std::runtime_error("cannot redirect " + path);
    ::close(f);
  }
  ~Redirect() {
    dup2(saved_, fd_);
    ::close(saved_);
  }
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;

 private:
  int fd_;
  int saved_;
};

// Runs in `workdir` until destroyed, then back where it was; nothing when `workdir` is empty.
class WorkDir {
 public:
  explicit WorkDir(const std::string& workdir)
      : saved_(workdir.empty() ? -1 : ::open(".", O_RDONLY | O_DIRECTORY)) {
    if (!workdir.empty() && (saved_ < 0 || chdir(workdir.c_str()) != 0))
      throw std::runtime_error("cannot run in " + workdir);
  }
  ~WorkDir() {
    if (saved_ >= 0 && fchdir(saved_) == 0) ::close(saved_);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

 private:
  int saved_;
};

static Result run_entry(Entry entry, const std::string& name, const std::vector<std::string>& args,
                        const std::string& argv0, const std::string& workdir) {
  TempDir io;
  Argv a(name, args, argv0);
  std::fflush(stdout);
  std::fflush(stderr);
  int status = 0;
  {
    const WorkDir in_workdir(workdir);
    const Redirect in(0, "/dev/null", O_RDONLY);
    const Redirect out(1, io.file("stdout"), O_WRONLY | O_CREAT | O_TRUNC);
    const Redirect err(2, io.file("stderr"), O_WRONLY | O_CREAT | O_TRUNC);
    status = entry(a.argc(), a.argv.data());
    // The entry flushed what it printed; anything left would be the test's own.
    std::fflush(stdout);
    std::fflush(stderr);
  }
  Result r;
  r.status = status & 0xff;  // as the shell sees it
  r.out = read_bytes(io.file("stdout"));
  r.err = without_sanitizer_alloc_warnings(read_bytes(io.file("stderr")));
  return r;
}

Result run(const std::string& name, const std::vector<std::string>& args, const std::string& argv0,
           const std::string& workdir) {
  const auto e = entries().find(name);
  if (e != entries().end()) return run_entry(e->second, name, args, argv0, workdir);
  return run_process(name, args, argv0, workdir);
}

Result run_process(const std::string& name, const std::vector<std::string>& args,
                   const std::string& argv0, const std::string& workdir) {
  TempDir io;
  const std::string out_path = io.file("stdout");
  const std::string err_path = io.file("stderr");
  const std::string exe = tool_path(name);
  Argv a(name, args, argv0);
  std::vector<char*>& argv = a.argv;

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(121);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!workdir.empty() && chdir(workdir.c_str()) != 0) _exit(122);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  const bool finished = wait_with_timeout(pid);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  Result r;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.out = read_bytes(out_path);
  r.err = without_sanitizer_alloc_warnings(read_bytes(err_path));
  if (!finished)
    r.err += "e2e: " + name + " was killed after " + std::to_string(timeout_seconds()) + " s\n";
  return r;
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void write_floats(const std::string& path, const std::vector<float>& v) {
  std::string bytes(v.size() * 4, '\0');
  if (!v.empty()) std::memcpy(bytes.data(), v.data(), bytes.size());
  write_bytes(path, bytes);
}

std::vector<float> read_floats(const std::string& path) {
  const std::string bytes = read_bytes(path);
  std::vector<float> v(bytes.size() / 4);
  if (!v.empty()) std::memcpy(v.data(), bytes.data(), v.size() * 4);
  return v;
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

int64_t file_size(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

uint32_t bits(float v) {
  uint32_t u = 0;
  std::memcpy(&u, &v, 4);
  return u;
}

std::vector<uint32_t> bits(const std::vector<float>& v) {
  std::vector<uint32_t> b;
  b.reserve(v.size());
  for (const float x : v) b.push_back(bits(x));
  return b;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_ = true;
    saved_ = old;
  }
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), saved_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace e2e
