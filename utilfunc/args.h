// Positional arguments as the tools read them: numbers as the C library's atoi and atof read
// them (text that is not a number reads as 0), without atoi's undefined behaviour on overflow,
// and the suite's checks of counts in one wording.
#pragma once

#include <cstdint>

namespace raster {

/// atoi's value (glibc: strtol narrowed to int; the narrowing wraps, it is not undefined).
int arg_int(const char* text);
/// atof's value (strtod).
double arg_real(const char* text);

/// Ends the run through fail_error when `value` < 1: "<name> must be at least 1 (got V)".
void require_at_least_one(const char* name, int64_t value);
/// Ends the run through fail_error when `value` < 0: "<name> must not be negative (got V)".
void require_not_negative(const char* name, int64_t value);

}  // namespace raster
