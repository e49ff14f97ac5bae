// The command-line conventions shared by the suite's programs with named options (info, export,
// import, map): the error type their work throws, the thin main that maps it to an exit status,
// CLI11 parsing with help, --version and usage errors in the suite's form, numbers parsed
// strictly within their range, band ranges "A-B", the inputs they accept (regular files only)
// and their outputs (a temporary name renamed on success, or a device or FIFO written through).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "report.h"

// Declared only: CLI11's header costs seconds of compile time in every file that includes it, so
// only the files that build command lines include <CLI/CLI.hpp>.
namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace interop {

/// A failure a tool reports as "<program>: error: <message>" and ends with `status`
/// (raster::status::tool_error for a failure while running, tool_usage for a bad command line):
/// the suite's one fatal-error type, whose text run_tool frames with the program's name.
class ToolError : public raster::Fatal {
 public:
  explicit ToolError(const std::string& message, int status = 1) : raster::Fatal(status, message) {}
};

/// A ToolError with status raster::status::tool_usage: a command line that cannot be used.
ToolError usage_error(const std::string& message);

/// "rastertools VERSION".
const char* version_text();

/// A CLI11 app for `program` with --version, `description` and an `example` footer; the
/// options are added by the caller.
void setup_app(CLI::App& app, const std::string& description, const std::string& example);

/// Runs body(): returns its status; a ToolError (or a CLI11 parse error, help and version
/// excepted) is printed through raster::print_tool_error and ends with its status. Usage
/// errors add "run 'rastertools <command> --help' for usage" (the form that works after
/// installation, for a program named rastertools-<command>). Another Fatal (from the shared raster
/// code) is printed as it is, with its status; any other exception is a tool_error.
int run_tool(const char* program, const std::function<int()>& body);

/// Parses argv; help and --version print to stdout and end the run with status 0 (through
/// run_tool), a parse error becomes a usage ToolError with CLI11's message.
void parse_command_line(CLI::App& app, int argc, char** argv);

// ---- numbers on the command line ----------------------------------------------------------

/// The largest pixel count of a band: its size in bytes, npixel * 4, fits in 64 bits.
inline constexpr int64_t kMaxNpixel = std::numeric_limits<int64_t>::max() / 4;
/// Calendar years the tools label and export: 1 to 9999, the four-digit years that every CF
/// reader (udunits, cftime, CDO) takes alike.
inline constexpr int64_t kMinYear = 1;
inline constexpr int64_t kMaxYear = 9999;
/// Bands per year: 1 (annual) to 8784 (hourly bands of a leap year).
inline constexpr int64_t kMaxBandsPerYear = 8784;

/// A whole number written in decimal digits with an optional sign ("61534", "-3"; no "0x10",
/// "1e3", "10.0" or spaces; leading zeros do not make it octal), within [min, max]. A usage
/// ToolError names `what` (such as "--npixel"), the text and the range otherwise.
int64_t parse_integer(const std::string& text, const std::string& what, int64_t min, int64_t max);

/// A finite decimal number ("2.5", "-1e-3", "+4"; no hex, inf, nan or spaces) within [min, max];
/// a usage ToolError names `what`, the text and the range otherwise.
double parse_number(const std::string& text, const std::string& what, double min, double max);

/// Options whose text goes through parse_integer / parse_number while the command line is
/// parsed (`name` as for CLI11, e.g. "--npixel"; messages use its long form). The number
/// options take `count` values each (such as 4 for --extent W E S N).
CLI::Option* add_integer_option(CLI::App& app, const std::string& name,
                                std::optional<int64_t>& target, const std::string& help,
                                int64_t min, int64_t max);
CLI::Option* add_number_option(CLI::App& app, const std::string& name,
                               std::optional<double>& target, const std::string& help, double min,
                               double max);
CLI::Option* add_numbers_option(CLI::App& app, const std::string& name, std::vector<double>& target,
                                const std::string& help, int count, double min, double max);

/// A usage ToolError unless a first year and `bands_per_year` put every band up to `last_band`
/// (0-based) into a year kMinYear .. kMaxYear; `file` is named in the message.
void check_years(int64_t first_year, int64_t bands_per_year, int64_t last_band,
                 const std::string& file);

/// An inclusive range of 0-based band numbers.
struct BandRange {
  int64_t first = 0;
  int64_t last = 0;
  int64_t count() const { return last - first + 1; }
};

/// Parses "A-B" or "B" (0-based band numbers, A <= B); a usage ToolError names the text.
BandRange parse_band_range(const std::string& text);

/// The range given, or all `nbands` bands; a usage ToolError when it reaches past the last band
/// of `file` (which holds `nbands`).
BandRange check_band_range(const BandRange* given, int64_t nbands, const std::string& file);

/// A usage ToolError when `output` names the same file as one of `inputs` (empty entries and
/// files that do not exist are skipped).
void refuse_output_over_inputs(const std::string& output, const std::vector<std::string>& inputs);

// ---- inputs ----------------------------------------------------------------------------------

/// What a path names, links followed: nothing, a regular file, a folder, a FIFO (named pipe), a
/// character device (/dev/null), a block device, a socket.
enum class PathKind { none, regular, folder, fifo, char_device, block_device, socket };
PathKind path_kind(const std::string& path);
/// "a FIFO (named pipe)", "a character device", ... for messages.
const char* path_kind_text(PathKind k);

/// A ToolError unless `path` is a regular file: "cannot open <what> PATH: ..." when it is
/// missing, "<what> PATH is a folder / a FIFO ..." otherwise. Checked without opening, so a
/// FIFO without a writer is refused at once instead of waiting; the tools read regular files
/// only, whose size tells their bands. `what` is "" or a noun with a trailing space.
void check_input_file(const std::string& path, const std::string& what = "");

// ---- outputs ---------------------------------------------------------------------------------

/// An output file written under a temporary name in its final folder and renamed over the final
/// name by commit(); removed if never committed, so a failure leaves no half-written output.
/// A final name that is a symbolic link is followed: the file it leads to is replaced and the
/// link stays. A final name that exists and is not a regular file (device, FIFO, socket) is
/// refused: it is never renamed over (OutputTarget writes through it where a format allows).
class TempOutput {
 public:
  /// Picks the temporary name; checks that the folder exists (ToolError otherwise).
  explicit TempOutput(const std::string& final_path);
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  const std::string& path() const { return tmp_; }
  const std::string& final_path() const { return final_; }
  /// Renames the temporary file to the final name; a ToolError names both on failure.
  void commit();

 private:
  std::string final_;
  std::string target_;  // final_ with symbolic links followed
  std::string tmp_;
  bool committed_ = false;
};

/// One output of a tool: a regular file or a new name (written as a TempOutput, renamed over the
/// final name on commit), or a stream: an existing character device or FIFO, or a descriptor of
/// the process named as /dev/stdout, /dev/fd/N or /proc/self/fd/N, which is written straight
/// through and never replaced, renamed or removed. A stream is refused (ToolError, before
/// anything is opened) for formats that need a regular file (`streamable` false: NetCDF,
/// GeoTIFF), and always when it is a block device or a socket.
class OutputTarget {
 public:
  /// `format` names what is written, for messages ("NetCDF", "PNG map", "raw raster file").
  OutputTarget(const std::string& path, const std::string& format, bool streamable);
  ~OutputTarget();
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;

  /// The output as the user named it.
  const std::string& path() const { return path_; }
  bool is_stream() const { return stream_; }
  /// "a FIFO (named pipe)", "a character device" or "standard output" for a stream.
  const std::string& stream_text() const { return stream_text_; }
  /// Whether it is the process's standard output (reports then go to standard error).
  bool is_stdout() const { return is_stdout_; }
  /// The name a library writes to by name (NetCDF, GDAL): the temporary file. Files only.
  const std::string& write_path() const;

  /// Checked writing through a stdio stream: the first write opens the temporary file or the
  /// stream; a failed write is a ToolError naming the output.
  void write(const void* data, size_t bytes);
  /// Flushes and closes what write() opened (checked, as in commit), leaving the rename to
  /// commit(): for a tool that writes several outputs and renames them all at the end.
  void close();
  /// Flushes and closes what write() opened (a device that refuses the bytes, such as
  /// /dev/full, fails here with a ToolError), then renames the temporary file over the final
  /// name. A target never written becomes an empty file (or nothing is written to a stream).
  void commit();

 private:
  void open_stream();
  [[noreturn]] void fail(const char* what, int err) const;
  std::string path_;
  std::string format_;
  bool stream_ = false;
  bool is_stdout_ = false;
  std::string stream_text_;
  int descriptor_ = -1;  // a descriptor of the process the path names, or -1
  std::optional<TempOutput> tmp_;
  FILE* f_ = nullptr;
};

/// Whether an OutputTarget for `path` would be a stream (a character device, a FIFO or a
/// descriptor of the process), not a file.
bool names_stream(const std::string& path);

/// Whether `path` names the process's standard output (a tool then prints its report on
/// standard error, so that the output stream holds only the output).
bool is_standard_output(const std::string& path);

/// The command line as one text (for NetCDF history attributes), arguments with spaces quoted.
std::string command_line_text(int argc, char** argv);

}  // namespace interop
