// How the suite's programs end and what they print on the error stream: the exit statuses by
// name, the one fatal-error type, the one handler that turns it into a status, and one small
// set of writers whose names say what they print.
//
// A run never ends the process where a failure is found. The fatal writers (failu, fail_exact,
// fail_error, fail_status and the tools' usage texts built on them) throw a Fatal that carries
// the exact bytes for stderr and the status; run_program, the one handler every program's entry
// goes through, prints them and returns the status, which main returns. So every program is
// also a library entry (run_corvane and the like) that can be called in-process: it returns its
// status, its files closed, and prints nothing after returning.
//
// The band, change and statistics tools keep their historical messages byte for byte: failu
// adds one newline to a text that already ends in one (so an empty line follows), fail_exact
// adds nothing. The suite's own checks in those tools speak through fail_error ("Error: ...",
// then failu's empty line). The newer programs with named options (info, export, import, map)
// report as "<program>: error: ..." through print_tool_error and end with tool_status codes.
#pragma once

#include <cstdarg>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace raster {

/// Exit statuses of the suite's programs.
namespace status {
inline constexpr int ok = 0;
/// Every failure of the positional-argument tools: -1, seen by the shell as 255.
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

/// A failure that ends a run: the exact text for stderr and the exit status. Thrown where the
/// failure is found, caught by run_program (or, in the programs with named options, by their
/// run_tool), which prints the text and returns the status. Whatever the run had opened is
/// closed on the way out; outputs already created stay as they are, empty or partly written.
class Fatal : public std::runtime_error {
 public:
  Fatal(int status, const std::string& text) : std::runtime_error(text), status_(status) {}
  int status() const noexcept { return status_; }
  /// Exactly what goes to stderr.
  std::string_view text() const noexcept { return what(); }

 private:
  int status_;
};

/// The one top-level handler: runs `body` and returns its status; a Fatal's text goes to stderr
/// and its status is returned. Standard output is flushed before it returns, as the end of the
/// process flushed it after the message.
int run_program(const std::function<int()>& body);

/// Prints a Fatal's text on stderr and returns its status: the handler's own step, for the
/// handlers of the programs with named options.
int print_fatal(const Fatal& f);

/// printf into a string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list ap) __attribute__((format(printf, 1, 0)));

/// Ends the run with `str` and one newline, status::failure. The messages passed already end
/// in "\n", so an empty line follows them; callers rely on that.
[[noreturn]] void failu(const char* str);

/// Ends the run with the text exactly as formatted (usage texts, messages that carry their own
/// newlines), status::failure.
[[noreturn]] void fail_exact(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// The suite's own checks in the positional-argument tools: "Error: <text>\n" and failu's empty
/// line, status::failure. The text carries no newline of its own.
[[noreturn]] void fail_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// Ends the run with the text exactly as formatted and `status` (corvane's short fraction
/// file, the front command).
[[noreturn]] void fail_status(int status, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

/// "Warning: <text>\n" on stderr; the run goes on. The text carries no newline of its own.
void warn(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

/// The text exactly as formatted on stderr; the run goes on (reads that came up short and are
/// only reported).
void report(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

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
