// The command-line conventions shared by the suite's programs with named options (info, export,
// import, map): the error type their work throws, the thin main that maps it to an exit status,
// CLI11 parsing with help, --version and usage errors in the suite's form, band ranges "A-B",
// and outputs written under a temporary name and renamed on success.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "report.h"

// Declared only: CLI11's header costs seconds of compile time in every file that includes it, so
// only the files that build command lines include <CLI/CLI.hpp>.
namespace CLI {
class App;
}

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

/// An output file written under a temporary name in its final folder and renamed over the final
/// name by commit(); removed if never committed, so a failure leaves no half-written output.
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
  std::string tmp_;
  bool committed_ = false;
};

/// The command line as one text (for NetCDF history attributes), arguments with spaces quoted.
std::string command_line_text(int argc, char** argv);

}  // namespace interop
