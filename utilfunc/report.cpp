#include "report.h"

#include <cstdio>

namespace raster {
namespace {

void put(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }

void vprint(const char* prefix1, const char* prefix2, const char* fmt, va_list ap,
            const char* suffix) {
  put(prefix1 + (prefix2 + vformat(fmt, ap)) + suffix);
}

}  // namespace

std::string vformat(const char* fmt, va_list ap) {
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, again);
  va_end(again);
  return s;
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vformat(fmt, ap);
  va_end(ap);
  return s;
}

int print_fatal(const Fatal& f) {
  put(f.text());
  return f.status();
}

int run_program(const std::function<int()>& body) {
  int status = status::ok;
  try {
    status = body();
  } catch (const Fatal& f) {
    status = print_fatal(f);
  }
  std::fflush(stdout);
  return status;
}

void failu(const char* str) { throw Fatal(status::failure, std::string(str) + "\n"); }

void fail_exact(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = vformat(fmt, ap);
  va_end(ap);
  throw Fatal(status::failure, std::move(text));
}

void fail_error(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = "Error: " + vformat(fmt, ap) + "\n\n";
  va_end(ap);
  throw Fatal(status::failure, std::move(text));
}

void fail_status(int status, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = vformat(fmt, ap);
  va_end(ap);
  throw Fatal(status, std::move(text));
}

void warn(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprint("Warning: ", "", fmt, ap, "\n");
  va_end(ap);
}

void report(const char* fmt, ...) {
  // Straight to the stream: a run may report millions of values (div's capped quotients).
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
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
