#include "tool.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "report.h"

namespace interop {

namespace {

// Help or --version printed: the run ends with status 0.
struct EarlyExit {
  int status;
};

bool parse_int64(const std::string& s, int64_t* v) {
  if (s.empty()) return false;
  const char* end = s.data() + s.size();
  const auto [ptr, ec] = std::from_chars(s.data(), end, *v);
  return ec == std::errc() && ptr == end;
}

// The programs are installed off PATH, so hints name the front command's form of them:
// "rastertools-info" becomes "rastertools info"; another name stays as it is.
std::string help_command(const char* program) {
  const std::string name = program;
  const std::string prefix = "rastertools-";
  if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
    return "rastertools " + name.substr(prefix.size());
  return name;
}

}  // namespace

ToolError usage_error(const std::string& message) {
  return ToolError(message, raster::status::tool_usage);
}

const char* version_text() { return "rastertools " RASTERTOOLS_VERSION; }

void setup_app(CLI::App& app, const std::string& description, const std::string& example) {
  app.description(description);
  app.footer("Example:\n" + example);
  app.set_version_flag("--version", version_text(), "Print the version and exit");
  app.get_formatter()->column_width(34);
}

void parse_command_line(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    throw EarlyExit{app.exit(e)};
  } catch (const CLI::ParseError& e) {
    throw usage_error(e.what());
  }
}

int run_tool(const char* program, const std::function<int()>& body) {
  try {
    return body();
  } catch (const EarlyExit& e) {
    return e.status;
  } catch (const ToolError& e) {
    raster::print_tool_error(program, "%s", e.what());
    if (e.status() == raster::status::tool_usage)
      std::fprintf(stderr, "run '%s --help' for usage\n", help_command(program).c_str());
    return e.status();
  } catch (const raster::Fatal& e) {
    return raster::print_fatal(e);
  } catch (const std::bad_alloc&) {
    raster::print_tool_error(program, "out of memory");
    return raster::status::tool_error;
  } catch (const std::exception& e) {
    raster::print_tool_error(program, "%s", e.what());
    return raster::status::tool_error;
  }
}

BandRange parse_band_range(const std::string& text) {
  BandRange r;
  const size_t dash = text.find('-', 1);
  bool ok = false;
  if (dash == std::string::npos) {
    ok = parse_int64(text, &r.first);
    r.last = r.first;
  } else {
    ok = parse_int64(text.substr(0, dash), &r.first) && parse_int64(text.substr(dash + 1), &r.last);
  }
  if (!ok || r.first < 0 || r.last < 0)
    throw usage_error("bad band range '" + text +
                      "': give FIRST-LAST or one band, 0-based band numbers");
  if (r.first > r.last)
    throw usage_error("bad band range '" + text + "': the first band comes after the last");
  return r;
}

BandRange check_band_range(const BandRange* given, int64_t nbands, const std::string& file) {
  if (nbands <= 0) throw ToolError(file + " holds no whole band");
  if (given == nullptr) return BandRange{0, nbands - 1};
  if (given->last >= nbands)
    throw usage_error("band range " + std::to_string(given->first) + "-" +
                      std::to_string(given->last) + " reaches past the last band of " + file +
                      " (it holds bands 0-" + std::to_string(nbands - 1) + ")");
  return *given;
}

void refuse_output_over_inputs(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& in : inputs) {
    if (in.empty()) continue;
    std::error_code ec;
    if (std::filesystem::equivalent(output, in, ec) && !ec)
      throw usage_error("output " + output + " is the input " + in + "; refusing to overwrite it");
  }
}

TempOutput::TempOutput(const std::string& final_path) : final_(final_path) {
  const std::filesystem::path p(final_path);
  const std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : ".";
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec))
    throw ToolError("cannot write " + final_path + ": folder " + dir.string() + " does not exist");
  if (std::filesystem::is_directory(p, ec))
    throw ToolError("cannot write " + final_path + ": it is a folder");
  tmp_ = (dir / ("." + p.filename().string() + ".tmp" + std::to_string(getpid()))).string();
}

TempOutput::~TempOutput() {
  if (!committed_) std::remove(tmp_.c_str());
}

void TempOutput::commit() {
  if (std::rename(tmp_.c_str(), final_.c_str()) != 0)
    throw ToolError("cannot rename " + tmp_ + " to " + final_ + ": " + std::strerror(errno));
  committed_ = true;
}

std::string command_line_text(int argc, char** argv) {
  std::string s;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (i > 0) s += ' ';
    if (a.find_first_of(" \t'\"") != std::string::npos)
      s += "'" + a + "'";
    else
      s += a;
  }
  return s;
}

}  // namespace interop
