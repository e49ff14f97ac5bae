#include "args.h"

#include <cstdlib>

#include "report.h"

namespace raster {

int arg_int(const char* text) { return static_cast<int>(std::strtol(text, nullptr, 10)); }

double arg_real(const char* text) { return std::strtod(text, nullptr); }

void require_at_least_one(const char* name, int64_t value) {
  if (value < 1)
    fail_error("%s must be at least 1 (got %lld)", name, static_cast<long long>(value));
}

void require_not_negative(const char* name, int64_t value) {
  if (value < 0) {
    fail_error("%s must not be negative (got %lld)", name, static_cast<long long>(value));
  }
}

}  // namespace raster
