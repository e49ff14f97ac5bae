#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "tool.h"

namespace aggregate {

namespace fs = std::filesystem;

interop::RasterOptions InputArgs::resolved() const {
  interop::RasterOptions r = opt;
  if (!res.empty()) r.res = interop::parse_resolution(res);
  if (!convention.empty()) r.convention = interop::parse_convention(convention);
  return r;
}

void add_input_options(CLI::App& app, InputArgs& a) {
  app.add_option("--var", a.var, "NetCDF input: the variable (default: the file's only one)");
  app.add_option("--grid", a.opt.grid,
                 "Grid file of the input's pixels (default: the sidecar's; NetCDF: the cells "
                 "with a value)");
  app.add_option("--res", a.res, "Resolution in degrees, e.g. 0.5 or 1/12 (default: inferred)");
  app.add_option("--convention", a.convention, "centre or northedge (default: inferred)");
  app.add_option("--npixel", a.opt.npixel, "Pixels per band (default: the grid's pixel count)");
  app.add_option("--bands-per-year", a.opt.bands_per_year,
                 "Bands per year, 12 for monthly (default: the sidecar's)");
  app.add_option("--first-year", a.opt.first_year,
                 "Year of the first band (default: the sidecar's)");
}

namespace {

fs::path normal(const std::string& p) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(fs::absolute(p), ec);
  return ec ? fs::absolute(p).lexically_normal() : a;
}

}  // namespace

void check_outputs(const std::vector<std::string>& outputs,
                   const std::vector<std::string>& inputs) {
  for (size_t i = 0; i < outputs.size(); ++i) {
    interop::refuse_output_over_inputs(outputs[i], inputs);
    for (const std::string& in : inputs)
      if (!in.empty() && normal(outputs[i]) == normal(in))
        throw interop::usage_error("output " + outputs[i] + " is the input " + in +
                                   "; refusing to overwrite it");
    for (size_t j = 0; j < i; ++j)
      if (normal(outputs[i]) == normal(outputs[j]))
        throw interop::usage_error("outputs " + outputs[j] + " and " + outputs[i] +
                                   " are the same file");
    std::error_code ec;
    const fs::file_status st = fs::status(outputs[i], ec);
    if (!ec && fs::exists(st) && !fs::is_regular_file(st))
      throw interop::usage_error("output " + outputs[i] +
                                 " exists and is not a regular file; refusing to replace it");
  }
}

bool is_stream(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  return !ec && fs::exists(st) && !fs::is_regular_file(st) && !fs::is_directory(st);
}

void write_text_output(const std::string& path, const std::string& text) {
  const auto fail = [&](const std::string& what) {
    throw interop::ToolError("cannot write " + what + ": " + std::strerror(errno));
  };
  if (path.empty()) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
      fail("to standard output");
    return;
  }
  std::optional<interop::TempOutput> tmp;
  if (!is_stream(path)) tmp.emplace(path);
  FILE* f = std::fopen(tmp ? tmp->path().c_str() : path.c_str(), "wb");
  if (f == nullptr) fail(path);
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int err = errno;
  if (std::fclose(f) != 0 || !written) {
    if (!written) errno = err;
    fail(path);
  }
  if (tmp) tmp->commit();
}

}  // namespace aggregate
