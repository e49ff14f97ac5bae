#include "tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "report.h"

namespace interop {

namespace fs = std::filesystem;

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

std::string number_text(double v) {
  char buf[32];
  if (v == std::trunc(v) && std::fabs(v) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
  }
  std::snprintf(buf, sizeof buf, "%.17g", v);
  // The shortest text that reads back as the same value.
  for (int prec = 1; prec <= 17; ++prec) {
    char t[32];
    std::snprintf(t, sizeof t, "%.*g", prec, v);
    if (std::strtod(t, nullptr) == v) return t;
  }
  return buf;
}

// "--out" of "-o,--out": the name messages use.
std::string long_name(const std::string& name) {
  const size_t dashes = name.find("--");
  const std::string n = dashes == std::string::npos ? name : name.substr(dashes);
  return n.substr(0, n.find(','));
}

bool all_digits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

PathKind kind_of_mode(mode_t m) {
  if (S_ISREG(m)) return PathKind::regular;
  if (S_ISDIR(m)) return PathKind::folder;
  if (S_ISFIFO(m)) return PathKind::fifo;
  if (S_ISCHR(m)) return PathKind::char_device;
  if (S_ISBLK(m)) return PathKind::block_device;
  return PathKind::socket;
}

// `path` with its symbolic links followed to the name they lead to (which need not exist).
std::string follow_links(const std::string& path) {
  fs::path p(path);
  for (int i = 0; i < 40; ++i) {
    std::error_code ec;
    if (!fs::is_symlink(p, ec)) return p.string();
    const fs::path t = fs::read_symlink(p, ec);
    if (ec) return p.string();
    p = t.is_absolute() ? t : p.parent_path() / t;
  }
  return p.string();  // a loop of links: opening it fails and says so
}

// The descriptor of this process that `path` names (/dev/stdout, /dev/fd/N, /proc/self/fd/N,
// /proc/<pid>/fd/N), or -1.
int own_descriptor(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) return -1;
  const fs::path own_fds = fs::path("/proc") / std::to_string(getpid()) / "fd";
  for (int i = 0; i < 40; ++i) {
    const fs::path dir = fs::canonical(p.parent_path(), ec);
    if (ec) return -1;
    p = dir / p.filename();
    const std::string n = p.filename().string();
    if (dir == own_fds && all_digits(n) && n.size() < 9) return std::stoi(n);
    if (!fs::is_symlink(p, ec)) return -1;
    const fs::path t = fs::read_symlink(p, ec);
    if (ec) return -1;
    p = t.is_absolute() ? t : dir / t;
  }
  return -1;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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

int64_t parse_integer(const std::string& text, const std::string& what, int64_t min, int64_t max) {
  const std::string range = std::to_string(min) + " to " + std::to_string(max);
  std::string_view s = text;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  const std::string_view digits = !s.empty() && s[0] == '-' && text[0] != '+' ? s.substr(1) : s;
  if (!all_digits(digits))
    throw usage_error(what + " '" + text + "' is not a whole number: give decimal digits, " +
                      range);
  int64_t v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || v < min || v > max)
    throw usage_error(what + " " + text + " is out of range: give a whole number from " + range);
  return v;
}

double parse_number(const std::string& text, const std::string& what, double min, double max) {
  constexpr double kAny = std::numeric_limits<double>::max();
  const std::string range = min <= -kAny && max >= kAny
                                ? std::string("any finite number")
                                : "a number from " + number_text(min) + " to " + number_text(max);
  std::string_view s = text;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  // from_chars would also take "inf" and "nan": only digits, point, exponent and signs pass.
  const bool chars = !s.empty() && s.find_first_not_of("0123456789.eE+-") == std::string::npos &&
                     !(text[0] == '+' && (s[0] == '-' || s[0] == '+'));
  double v = 0;
  const auto [ptr, ec] =
      chars ? std::from_chars(s.data(), s.data() + s.size(), v) : std::from_chars_result{};
  if (!chars || ptr != s.data() + s.size() || ec == std::errc::invalid_argument)
    throw usage_error(what + " '" + text + "' is not a number: give " + range +
                      ", written in decimal such as 2.5 or -1e-3");
  if (ec != std::errc() || !(v >= min && v <= max))
    throw usage_error(what + " " + text + " is out of range: give " + range);
  return v;
}

CLI::Option* add_integer_option(CLI::App& app, const std::string& name,
                                std::optional<int64_t>& target, const std::string& help,
                                int64_t min, int64_t max) {
  const std::string what = long_name(name);
  return app
      .add_option_function<std::string>(
          name,
          [&target, what, min, max](const std::string& s) {
            target = parse_integer(s, what, min, max);
          },
          help)
      ->type_name("INT");
}

CLI::Option* add_number_option(CLI::App& app, const std::string& name,
                               std::optional<double>& target, const std::string& help, double min,
                               double max) {
  const std::string what = long_name(name);
  return app
      .add_option_function<std::string>(
          name,
          [&target, what, min, max](const std::string& s) {
            target = parse_number(s, what, min, max);
          },
          help)
      ->type_name("NUM");
}

CLI::Option* add_numbers_option(CLI::App& app, const std::string& name, std::vector<double>& target,
                                const std::string& help, int count, double min, double max) {
  const std::string what = long_name(name);
  return app
      .add_option_function<std::vector<std::string>>(
          name,
          [&target, what, min, max](const std::vector<std::string>& v) {
            target.clear();
            for (const std::string& s : v) target.push_back(parse_number(s, what, min, max));
          },
          help)
      ->expected(count)
      ->type_name("NUM");
}

void check_years(int64_t first_year, int64_t bands_per_year, int64_t last_band,
                 const std::string& file) {
  const int64_t last_year = first_year + last_band / bands_per_year;
  if (first_year < kMinYear || last_year > kMaxYear)
    throw usage_error("the bands of " + file + " would fall in the years " +
                      std::to_string(first_year) + " to " + std::to_string(last_year) + " (" +
                      std::to_string(bands_per_year) + " band(s) a year): years run from " +
                      std::to_string(kMinYear) + " to " + std::to_string(kMaxYear));
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

PathKind path_kind(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return PathKind::none;
  return kind_of_mode(st.st_mode);
}

const char* path_kind_text(PathKind k) {
  switch (k) {
    case PathKind::none:
      return "missing";
    case PathKind::regular:
      return "a regular file";
    case PathKind::folder:
      return "a folder";
    case PathKind::fifo:
      return "a FIFO (named pipe)";
    case PathKind::char_device:
      return "a character device";
    case PathKind::block_device:
      return "a block device";
    case PathKind::socket:
      return "a socket";
  }
  return "not a regular file";
}

void check_input_file(const std::string& path, const std::string& what) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw ToolError("cannot open " + what + path + ": " + std::strerror(errno));
  const PathKind k = kind_of_mode(st.st_mode);
  if (k == PathKind::regular) return;
  throw ToolError(what + path + " is " + path_kind_text(k) +
                  ", not a regular file: rastertools reads regular files only" +
                  (k == PathKind::fifo || k == PathKind::char_device
                       ? " (a pipe or device gives no size and cannot be read twice; save what it "
                         "gives to a file first)"
                       : ""));
}

TempOutput::TempOutput(const std::string& final_path)
    : final_(final_path), target_(follow_links(final_path)) {
  if (final_path.empty()) throw usage_error("an output needs a name, not an empty text");
  std::error_code ec;
  if (fs::is_symlink(target_, ec))
    throw ToolError("cannot write " + final_path + ": its symbolic links go round in a loop");
  const fs::path p(target_);
  const fs::path dir = p.has_parent_path() ? p.parent_path() : ".";
  if (!fs::is_directory(dir, ec))
    throw ToolError("cannot write " + final_path + ": folder " + dir.string() + " does not exist");
  const PathKind k = path_kind(target_);
  if (k == PathKind::folder) throw ToolError("cannot write " + final_path + ": it is a folder");
  if (k != PathKind::none && k != PathKind::regular)
    throw ToolError("cannot write " + final_path + ": it is " + path_kind_text(k) +
                    ", which is never replaced by a file");
  tmp_ = (dir / ("." + p.filename().string() + ".tmp" + std::to_string(getpid()))).string();
}

TempOutput::~TempOutput() {
  if (!committed_) std::remove(tmp_.c_str());
}

void TempOutput::commit() {
  if (std::rename(tmp_.c_str(), target_.c_str()) != 0)
    throw ToolError("cannot rename " + tmp_ + " to " + target_ + ": " + std::strerror(errno));
  committed_ = true;
}

OutputTarget::OutputTarget(const std::string& path, const std::string& format, bool streamable)
    : path_(path), format_(format), descriptor_(path.empty() ? -1 : own_descriptor(path)) {
  const PathKind k = path_kind(path);
  if (descriptor_ >= 0) {
    if (fcntl(descriptor_, F_GETFL) == -1)
      throw ToolError("cannot write " + path + ": descriptor " + std::to_string(descriptor_) +
                      " is not open");
    stream_ = true;
    stream_text_ = descriptor_ == 1   ? "standard output"
                   : descriptor_ == 2 ? "standard error"
                                      : "descriptor " + std::to_string(descriptor_);
  } else if (k == PathKind::fifo || k == PathKind::char_device) {
    stream_ = true;
    stream_text_ = path_kind_text(k);
  } else if (k == PathKind::block_device || k == PathKind::socket) {
    throw ToolError("cannot write " + path + ": it is " + path_kind_text(k) +
                    "; outputs are regular files, or character devices and FIFOs written "
                    "through");
  }
  if (stream_ && !streamable)
    throw ToolError("cannot write " + format + " to " + path + ": it is " + stream_text_ +
                    ", and " + format +
                    " is written into a regular file by seeking back and forth; write it to a "
                    "file and copy that");
  if (!stream_) tmp_.emplace(path);
  is_stdout_ = stream_ && is_standard_output(path);
}

OutputTarget::~OutputTarget() {
  if (f_ != nullptr) std::fclose(f_);
}

const std::string& OutputTarget::write_path() const {
  if (!tmp_) throw ToolError("cannot write " + format_ + " to " + path_ + ": it is a stream");
  return tmp_->path();
}

void OutputTarget::fail(const char* what, int err) const {
  throw ToolError(std::string(what) + " " + path_ + ": " + std::strerror(err));
}

void OutputTarget::open_stream() {
  if (!stream_) {
    f_ = std::fopen(tmp_->path().c_str(), "wb");
    if (f_ == nullptr) fail("cannot create", errno);
    return;
  }
  // A stream is opened as it is: never created, never truncated (a FIFO waits for its reader).
  const int fd = descriptor_ >= 0 ? dup(descriptor_) : ::open(path_.c_str(), O_WRONLY | O_NOCTTY);
  if (fd < 0) fail("cannot open", errno);
  f_ = fdopen(fd, "wb");
  if (f_ == nullptr) {
    const int err = errno;
    ::close(fd);
    fail("cannot open", err);
  }
}

void OutputTarget::write(const void* data, size_t bytes) {
  if (f_ == nullptr) open_stream();
  if (bytes > 0 && std::fwrite(data, 1, bytes, f_) != bytes) fail("cannot write", errno);
}

void OutputTarget::close() {
  if (f_ == nullptr) return;
  FILE* f = f_;
  f_ = nullptr;
  if (std::fflush(f) != 0 || std::ferror(f) != 0) {
    const int err = errno;
    std::fclose(f);
    fail("cannot write", err);
  }
  if (std::fclose(f) != 0) fail("cannot write", errno);
}

void OutputTarget::commit() {
  close();
  if (tmp_) tmp_->commit();
}

bool names_stream(const std::string& path) {
  const PathKind k = path_kind(path);
  return own_descriptor(path) >= 0 || k == PathKind::fifo || k == PathKind::char_device;
}

bool is_standard_output(const std::string& path) {
  if (own_descriptor(path) == 1) return true;
  struct stat out {};
  struct stat st {};
  if (fstat(1, &out) != 0 || ::stat(path.c_str(), &st) != 0) return false;
  const PathKind k = kind_of_mode(st.st_mode);
  return (k == PathKind::fifo || k == PathKind::char_device) && same_file(out, st);
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
