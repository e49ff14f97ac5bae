// End-to-end test support: temporary folders, raw raster files, running a tool: in this process
// through its library entry where the test program links it, otherwise as a built program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

/// What a finished tool run left: exit status (128 + signal if killed), stdout and stderr.
struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

/// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  /// Path of `name` inside the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// Path of a built tool (bin/<name> of the build tree); an absolute path is kept as it is.
std::string tool_path(const std::string& name);
/// Path of a test helper program (tests/<name> of the build tree), to pass to run().
std::string test_program_path(const std::string& name);
/// Seconds a run may take: 300, or E2E_TIMEOUT_SECONDS.
int timeout_seconds();
/// Path of a file in the repository's data/ folder.
std::string data_path(const std::string& name);

/// A tool's library entry (run_corvane and the like): returns the exit status.
using Entry = int (*)(int argc, char** argv);

/// Registers `entry` as the tool `name` for run() in this test program; one static object per
/// tool the program links.
struct InProcess {
  InProcess(const char* name, Entry entry);
};

/// Runs the tool `name` with `args`; argv[0] is `argv0` (the tool's name if empty), in
/// `workdir` when given. A tool registered with InProcess is called in this process, with
/// descriptors 0, 1 and 2 redirected for the call (standard input /dev/null, the two outputs
/// to files), and its status taken as the shell sees it (-1 is 255); any other runs as
/// run_process().
Result run(const std::string& name, const std::vector<std::string>& args,
           const std::string& argv0 = "", const std::string& workdir = "");

/// Runs the built program `name` in a process of its own, for what depends on one: the C
/// library's start-up tunables, limits of the process, the guard against a hung run. Standard
/// input is /dev/null. Runs in `workdir` when given. A run that outlives timeout_seconds() is
/// killed (status 137) and says so on its stderr.
Result run_process(const std::string& name, const std::vector<std::string>& args,
                   const std::string& argv0 = "", const std::string& workdir = "");

void write_floats(const std::string& path, const std::vector<float>& v);
std::vector<float> read_floats(const std::string& path);
void write_bytes(const std::string& path, const std::string& bytes);
std::string read_bytes(const std::string& path);
bool exists(const std::string& path);
int64_t file_size(const std::string& path);

/// Sets an environment variable (a null value clears it) for the runs started while it lives,
/// such as OMP_NUM_THREADS; the previous setting comes back after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ScopedEnv(const char* name, int value) : ScopedEnv(name, std::to_string(value).c_str()) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string saved_;
};

/// Bit pattern of a float, to compare values exactly (NaN and -0 included).
uint32_t bits(float v);
/// Bit patterns of a vector of floats.
std::vector<uint32_t> bits(const std::vector<float>& v);

}  // namespace e2e
