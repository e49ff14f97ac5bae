// Fatal-error and usage conventions shared by every tool: message to stderr, status 255.
#pragma once

/// Writes str and one newline to stderr and ends the process with status -1 (255).
/// Messages already end in "\n", so an empty line follows them; callers rely on that.
[[noreturn]] void failu(const char* str);

/// As failu, for a message built printf-style (the extra newline is added the same way).
[[noreturn]] void failu_fmt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// Prints a tool's usage text (printf-style, no newline added) to stderr and exits -1.
[[noreturn]] void usage_exit(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// Writes a message exactly as given (printf-style) to stderr and exits -1.
[[noreturn]] void fail_plain(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
