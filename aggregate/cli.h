// Command-line pieces shared by yearly and fldstat: the options that describe a raw input, and
// the checks that keep outputs off the inputs and off pipes and devices.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "sidecar.h"

namespace aggregate {

/// --var: the variable of a NetCDF input. --grid, --res, --convention, --npixel,
/// --bands-per-year, --first-year: a raw input's layout where its sidecar does not give it (or
/// to override the sidecar); --grid also picks a NetCDF input's pixels.
struct InputArgs {
  std::string var;  ///< --var: the NetCDF variable of IN
  interop::RasterOptions opt;
  std::string res;
  std::string convention;
  /// The options with the resolution and convention parsed (usage ToolErrors).
  interop::RasterOptions resolved() const;
};
void add_input_options(CLI::App& app, InputArgs& a);

/// Usage ToolErrors when an output names an input or another output, or an existing file that
/// is not a regular file (a pipe or a device is never replaced).
void check_outputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs);

/// Whether `path` names an existing pipe, socket or device (written through, never replaced).
bool is_stream(const std::string& path);

/// Writes `text` to `path`: empty for standard output; a pipe or device straight through; a
/// file under a temporary name, renamed when complete. Every write and close checked.
void write_text_output(const std::string& path, const std::string& text);

}  // namespace aggregate
