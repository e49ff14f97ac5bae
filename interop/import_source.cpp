#include "import_source.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "tool.h"

namespace interop::importer {

bool Unpacking::is_missing(double stored) const {
  for (const double m : missing)
    if (stored == m || (std::isnan(m) && std::isnan(stored))) return true;
  return false;
}

float Unpacking::unpack(double stored) const {
  if (is_missing(stored)) return std::numeric_limits<float>::quiet_NaN();
  return packed ? static_cast<float>(stored * scale + offset) : static_cast<float>(stored);
}

void Unpacking::apply(float* v, size_t n) const {
  // One pass per missing value, in float (a loop that vectorises): a float equals a missing
  // value exactly when that value is a float and equal to it as a float; a NaN marks NaNs.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (size_t k = 0; k < missing.size(); ++k) {
    const double m = missing[k];
    if (std::find(missing.begin(), missing.begin() + static_cast<std::ptrdiff_t>(k), m) !=
        missing.begin() + static_cast<std::ptrdiff_t>(k))
      continue;  // the same value again (_FillValue and missing_value alike)
    if (std::isnan(m)) {
      for (size_t i = 0; i < n; ++i) v[i] = std::isnan(v[i]) ? nan : v[i];
      continue;
    }
    const auto mf = static_cast<float>(m);
    if (static_cast<double>(mf) != m) continue;
    for (size_t i = 0; i < n; ++i) v[i] = v[i] == mf ? nan : v[i];
  }
}

void Unpacking::apply(const double* in, float* out, size_t n) const {
  for (size_t i = 0; i < n; ++i) out[i] = unpack(in[i]);
}

LevelChoice parse_level(const std::string& text) {
  LevelChoice c;
  c.text = text;
  const bool by_index = text.rfind("index:", 0) == 0;
  const std::string num = by_index ? text.substr(6) : text;
  char* end = nullptr;
  errno = 0;
  if (by_index) {
    const long long k = num.empty() || !std::isdigit(static_cast<unsigned char>(num[0]))
                            ? -1
                            : std::strtoll(num.c_str(), &end, 10);
    if (k < 0 || errno != 0 || *end != '\0')
      throw usage_error("--level '" + text + "': give index:K with K a level index from 0");
    c.index = k;
    return c;
  }
  const double v = std::strtod(num.c_str(), &end);
  if (num.empty() || *end != '\0' || !std::isfinite(v))
    throw usage_error("--level '" + text +
                      "' is neither a level's coordinate value (such as 850 or 2.5) nor index:K");
  c.value = v;
  return c;
}

namespace {}  // namespace

void Source::read_steps(int64_t first, int64_t count, float* out, raster::ThreadTeam& team) {
  (void)team;
  std::vector<float> step;
  for (int64_t t = 0; t < count; ++t) {
    read_step(first + t, step);
    std::copy(step.begin(), step.end(), out + t * static_cast<int64_t>(step.size()));
  }
}

// Beyond MemAvailable an allocation would only succeed on paper (overcommit) and the system
// would kill the run while the buffer is filled.
uint64_t available_memory() {
  if (FILE* f = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    unsigned long long kb = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f))
      found = std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1;
    std::fclose(f);
    if (found) return static_cast<uint64_t>(kb) * 1024;
  }
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  return pages > 0 && page > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(page) : 0;
}

namespace {

[[noreturn]] void refuse_size(uint64_t n, const std::string& bytes, const std::string& what,
                              const std::string& why) {
  throw ToolError("allocation refused for a declared size: " + what + " declares " +
                  std::to_string(n) + " values" + (bytes.empty() ? "" : " (" + bytes + " bytes)") +
                  ", " + why);
}

}  // namespace

void check_declared_size(uint64_t n, size_t value_size, const std::string& what) {
  if (value_size == 0) refuse_size(n, "", what, "more than can be allocated now");
  if (n > std::numeric_limits<uint64_t>::max() / value_size ||
      n * value_size > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
    refuse_size(n, "", what, "more bytes than a 64-bit size holds");
  const uint64_t bytes = n * value_size;
  const uint64_t memory = available_memory();
  if (memory > 0 && bytes > memory)
    refuse_size(n, std::to_string(bytes), what,
                "more than the memory available (" + std::to_string(memory) + " bytes)");
}

uint64_t cells_of(uint64_t nrow, uint64_t ncol, const std::string& what) {
  if (ncol != 0 && nrow > std::numeric_limits<uint64_t>::max() / ncol)
    throw ToolError("allocation refused for a declared size: " + what + " declares " +
                    std::to_string(nrow) + " x " + std::to_string(ncol) +
                    " values, more than a 64-bit count holds");
  return nrow * ncol;
}

std::unique_ptr<Source> open_source(const std::string& path, const std::string& var,
                                    const std::optional<LevelChoice>& level) {
  // A file that cannot be read is reported as such, not as "not a NetCDF or GDAL file".
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw ToolError("cannot read '" + path + "': " + std::strerror(errno));
  std::fclose(f);
  if (auto nc = open_netcdf(path, var, level)) return nc;
  return open_gdal(path, var, level);
}

}  // namespace interop::importer
