#include "import_source.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
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
  if (missing.empty()) return;
  for (size_t i = 0; i < n; ++i)
    if (is_missing(static_cast<double>(v[i]))) v[i] = std::numeric_limits<float>::quiet_NaN();
}

void Unpacking::apply(const double* in, float* out, size_t n) const {
  for (size_t i = 0; i < n; ++i) out[i] = unpack(in[i]);
}

std::unique_ptr<Source> open_source(const std::string& path, const std::string& var) {
  // A file that cannot be read is reported as such, not as "not a NetCDF or GDAL file".
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw ToolError("cannot read '" + path + "': " + std::strerror(errno));
  std::fclose(f);
  if (auto nc = open_netcdf(path, var)) return nc;
  return open_gdal(path, var);
}

}  // namespace interop::importer
