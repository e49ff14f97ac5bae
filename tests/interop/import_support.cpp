#include "import_support.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace imptest {

std::string on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::filesystem::path p = std::filesystem::path(dir.empty() ? "." : dir) / name;
    std::error_code ec;
    if (std::filesystem::is_regular_file(p, ec)) return std::filesystem::absolute(p).string();
  }
  throw std::runtime_error(name + " is not on PATH (scripts/install-deps.sh installs it)");
}

void run_peer(const std::string& name, const std::vector<std::string>& args,
              const std::string& workdir) {
  const e2e::Result r = e2e::run(on_path(name), args, name, workdir);
  if (r.status != 0)
    throw std::runtime_error(name + " failed with status " + std::to_string(r.status) + ": " +
                             r.err);
}

std::string ncgen(const e2e::TempDir& dir, const std::string& name, const std::string& cdl,
                  bool classic) {
  e2e::write_bytes(dir.file(name + ".cdl"), cdl);
  run_peer("ncgen", {"-k", classic ? "nc3" : "nc4", "-o", name + ".nc", name + ".cdl"}, dir.path());
  return dir.file(name + ".nc");
}

e2e::Result import(const e2e::TempDir& dir, const std::vector<std::string>& args) {
  return e2e::run("rastertools-import", args, "", dir.path());
}

std::string last_line(const std::string& text) {
  std::string t = text;
  if (!t.empty() && t.back() == '\n') t.pop_back();
  const size_t nl = t.rfind('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

Records read_grid(const std::string& path) {
  const std::string b = e2e::read_bytes(path);
  Records r;
  const auto i16 = [&](size_t at) {
    return static_cast<int>(static_cast<int16_t>(static_cast<uint16_t>(
        static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8))));
  };
  for (size_t at = 0; at + 4 <= b.size(); at += 4) r.emplace_back(i16(at), i16(at + 2));
  return r;
}

std::vector<uint32_t> bits_of(const std::vector<float>& v) { return e2e::bits(v); }

}  // namespace imptest
