// How the suite's programs end and what they print on the error stream: the exit statuses by
// name, and one small set of writers whose names say what they print.
//
// The band, change and statistics tools keep their historical messages byte for byte: failu
// adds one newline to a text that already ends in one (so an empty line follows), fail_exact
// adds nothing. The suite's own checks in those tools speak through fail_error ("Error: ...",
// then failu's empty line). The newer programs with named options (info, export, import, map)
// report as "<program>: error: ..." through print_tool_error and end with tool_status codes.
#pragma once

namespace raster {

/// Exit statuses of the suite's programs.
namespace status {
inline constexpr int ok = 0;
/// Every failure of the positional-argument tools: exit(-1), seen by the shell as 255.
inline constexpr int failure = -1;
/// corvane's natural-vegetation fraction file shorter than one band.
inline constexpr int short_fraction = 1;
/// The programs with named options (and the front command): a failure while running.
inline constexpr int tool_error = 1;
/// The programs with named options (and the front command): a command line they cannot use.
inline constexpr int tool_usage = 2;
/// The front command: a tool that exists but cannot be started, or is missing.
inline constexpr int not_runnable = 126;
inline constexpr int not_found = 127;
}  // namespace status

/// Writes `str` and one newline to stderr and ends the run with status::failure. The messages
/// passed already end in "\n", so an empty line follows them; callers rely on that.
[[noreturn]] void failu(const char* str);

/// failu for a text built printf-style: the text, one newline, status::failure.
[[noreturn]] void failu_format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// Writes the text exactly as formatted (usage texts, messages that carry their own newlines)
/// and ends the run with status::failure.
[[noreturn]] void fail_exact(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// The suite's own checks in the positional-argument tools: "Error: <text>\n" and failu's empty
/// line, status::failure. The text carries no newline of its own.
[[noreturn]] void fail_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// "Warning: <text>\n" on stderr; the run goes on. The text carries no newline of its own.
void warn(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// The programs with named options: "<program>: error: <text>\n" on stderr. The caller ends
/// the run with the status that fits (status::tool_usage or status::tool_error).
void print_tool_error(const char* program, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

/// The programs with named options: "<program>: warning: <text>\n" on stderr.
void print_tool_warning(const char* program, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

/// The programs with named options: "<program>: note: <text>\n" on stderr, for what a run did
/// that is no fault but changes what comes out (such as a duplicate column left out).
void print_tool_note(const char* program, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace raster
