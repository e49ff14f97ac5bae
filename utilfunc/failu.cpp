#include "failu.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

void failu(const char* str) {
  std::fprintf(stderr, "%s\n", str);
  std::exit(-1);
}

static std::string vformat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string s(n > 0 ? static_cast<std::size_t>(n) : 0U, '\0');
  if (n > 0) std::vsnprintf(s.data(), s.size() + 1, fmt, ap);
  return s;
}

void failu_fmt(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const std::string msg = vformat(fmt, ap);
  va_end(ap);
  failu(msg.c_str());
}

void usage_exit(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::exit(-1);
}

void fail_plain(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::exit(-1);
}
