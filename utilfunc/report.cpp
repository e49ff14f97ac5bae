#include "report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace raster {
namespace {

void vprint(const char* prefix1, const char* prefix2, const char* fmt, va_list ap,
            const char* suffix) {
  std::fputs(prefix1, stderr);
  std::fputs(prefix2, stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputs(suffix, stderr);
}

}  // namespace

void failu(const char* str) {
  std::fprintf(stderr, "%s\n", str);
  std::exit(status::failure);
}

void failu_format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprint("", "", fmt, ap, "\n");
  va_end(ap);
  std::exit(status::failure);
}

void fail_exact(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprint("", "", fmt, ap, "");
  va_end(ap);
  std::exit(status::failure);
}

void fail_error(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprint("Error: ", "", fmt, ap, "\n\n");
  va_end(ap);
  std::exit(status::failure);
}

void warn(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprint("Warning: ", "", fmt, ap, "\n");
  va_end(ap);
}

void print_tool_error(const char* program, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprint(program, ": error: ", fmt, ap, "\n");
  va_end(ap);
}

void print_tool_warning(const char* program, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprint(program, ": warning: ", fmt, ap, "\n");
  va_end(ap);
}

void print_tool_note(const char* program, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprint(program, ": note: ", fmt, ap, "\n");
  va_end(ap);
}

}  // namespace raster
