#include "sidecar.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tool.h"

namespace interop {

namespace fs = std::filesystem;

namespace {

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Key/value pairs of a header, keys lower-cased with single spaces, {} stripped from values.
std::map<std::string, std::string> header_fields(const std::string& text, const std::string& path) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || trim(line) != "ENVI")
    throw ToolError("sidecar " + path + " is not an ENVI header (its first line is not 'ENVI')");
  std::map<std::string, std::string> fields;
  while (std::getline(in, line)) {
    if (trim(line).empty()) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
      throw ToolError("sidecar " + path + ": line '" + trim(line) + "' is not 'key = value'");
    std::string key;
    for (const char c : lower(trim(line.substr(0, eq))))
      if (!(c == ' ' && !key.empty() && key.back() == ' ')) key += c;
    std::string value = trim(line.substr(eq + 1));
    if (!value.empty() && value.front() == '{') {
      std::string more;
      while (value.find('}') == std::string::npos && std::getline(in, more)) value += "\n" + more;
      const size_t close = value.find('}');
      if (close == std::string::npos)
        throw ToolError("sidecar " + path + ": the value of '" + key + "' has no closing '}'");
      value = trim(value.substr(1, close - 1));
    }
    fields[key] = value;
  }
  return fields;
}

int64_t int_field(const std::string& v, const std::string& key, const std::string& path) {
  int64_t x = 0;
  const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), x);
  if (ec != std::errc() || ptr != v.data() + v.size())
    throw ToolError("sidecar " + path + ": '" + key + "' is not a whole number: '" + v + "'");
  return x;
}

double double_field(const std::string& v, const std::string& key, const std::string& path) {
  // Fractions such as 2/3 are accepted (and written) for the resolution.
  const std::optional<double> x = parse_degrees(v);
  if (!x || !(*x > 0.0))
    throw ToolError("sidecar " + path + ": '" + key + "' is not a positive number: '" + v + "'");
  return *x;
}

Origin origin_field(const std::string& v, const std::string& path) {
  std::istringstream in(v);
  std::string w, n, more;
  const bool two = static_cast<bool>(in >> w >> n) && !(in >> more);
  const std::optional<double> west = two ? parse_degrees(w) : std::nullopt;
  const std::optional<double> north = two ? parse_degrees(n) : std::nullopt;
  if (!west || !north)
    throw ToolError("sidecar " + path +
                    ": 'rastertools lattice origin' is not two numbers W N (degrees): '" + v + "'");
  return {*west, *north};
}

}  // namespace

std::string sidecar_path(const std::string& raw_path) {
  fs::path p(raw_path);
  p.replace_extension(".hdr");
  return p.string();
}

std::string format_sidecar(const Sidecar& s) {
  std::ostringstream o;
  o << "ENVI\n"
    << "description = {" << s.description << "}\n"
    << "samples = " << s.samples << "\n"
    << "lines = " << s.lines << "\n"
    << "bands = " << s.bands << "\n"
    << "header offset = " << s.header_offset << "\n"
    << "file type = ENVI Standard\n"
    << "data type = " << s.data_type << "\n"
    << "interleave = " << s.interleave << "\n"
    << "byte order = " << s.byte_order << "\n";
  if (s.grid_file) o << "rastertools grid file = " << *s.grid_file << "\n";
  if (s.resolution) o << "rastertools resolution = " << format_degrees(*s.resolution) << "\n";
  if (s.origin && !(*s.origin == Origin{}))
    o << "rastertools lattice origin = " << format_degrees(s.origin->west) << " "
      << format_degrees(s.origin->north) << "\n";
  if (s.convention) o << "rastertools grid convention = " << convention_name(*s.convention) << "\n";
  if (s.bands_per_year) o << "rastertools bands per year = " << *s.bands_per_year << "\n";
  if (s.first_year) o << "rastertools first year = " << *s.first_year << "\n";
  if (s.calendar) o << "rastertools calendar = " << *s.calendar << "\n";
  if (s.variable) o << "rastertools variable = " << *s.variable << "\n";
  if (s.units) o << "rastertools units = " << *s.units << "\n";
  if (s.long_name) o << "rastertools long name = " << *s.long_name << "\n";
  return o.str();
}

Sidecar parse_sidecar(const std::string& text, const std::string& path) {
  const auto fields = header_fields(text, path);
  Sidecar s;
  const auto get = [&](const char* key) -> const std::string* {
    const auto it = fields.find(key);
    return it == fields.end() ? nullptr : &it->second;
  };
  if (const auto* v = get("description")) s.description = *v;
  if (const auto* v = get("samples")) s.samples = int_field(*v, "samples", path);
  if (const auto* v = get("lines")) s.lines = int_field(*v, "lines", path);
  if (const auto* v = get("bands")) s.bands = int_field(*v, "bands", path);
  if (const auto* v = get("header offset")) s.header_offset = int_field(*v, "header offset", path);
  if (const auto* v = get("data type"))
    s.data_type = static_cast<int>(int_field(*v, "data type", path));
  if (const auto* v = get("interleave")) s.interleave = lower(*v);
  if (const auto* v = get("byte order"))
    s.byte_order = static_cast<int>(int_field(*v, "byte order", path));
  if (s.data_type != 4 || s.byte_order != 0 || s.header_offset != 0 || s.lines != 1)
    throw ToolError("sidecar " + path +
                    " describes a layout other than the suite's (float32 little-endian, one line, "
                    "no header offset)");
  if (s.interleave != "bsq") throw ToolError("sidecar " + path + ": interleave is not bsq");
  if (const auto* v = get("rastertools grid file")) s.grid_file = *v;
  if (const auto* v = get("rastertools resolution"))
    s.resolution = double_field(*v, "rastertools resolution", path);
  if (const auto* v = get("rastertools lattice origin")) s.origin = origin_field(*v, path);
  if (const auto* v = get("rastertools grid convention")) {
    try {
      s.convention = parse_convention(*v);
    } catch (const ToolError&) {
      throw ToolError("sidecar " + path + ": unknown grid convention '" + *v + "'");
    }
  }
  if (const auto* v = get("rastertools bands per year"))
    s.bands_per_year = int_field(*v, "rastertools bands per year", path);
  if (const auto* v = get("rastertools first year"))
    s.first_year = int_field(*v, "rastertools first year", path);
  if (const auto* v = get("rastertools calendar")) s.calendar = *v;
  if (const auto* v = get("rastertools variable")) s.variable = *v;
  if (const auto* v = get("rastertools units")) s.units = *v;
  if (const auto* v = get("rastertools long name")) s.long_name = *v;
  return s;
}

std::optional<Sidecar> read_sidecar(const std::string& raw_path) {
  const std::string path = sidecar_path(raw_path);
  std::error_code ec;
  if (path == raw_path || !fs::exists(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open sidecar " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  return parse_sidecar(text.str(), path);
}

void write_sidecar(const std::string& raw_path, const Sidecar& s) {
  const std::string path = sidecar_path(raw_path);
  OutputTarget out(path, "sidecar", true);
  const std::string text = format_sidecar(s);
  out.write(text.data(), text.size());
  out.commit();
}

std::string sidecar_grid_path(const std::string& raw_path, const std::string& grid_file) {
  const fs::path g(grid_file);
  if (g.is_absolute()) return grid_file;
  const fs::path dir = fs::path(sidecar_path(raw_path)).parent_path();
  return dir.empty() ? grid_file : (dir / g).lexically_normal().string();
}

std::string grid_file_for_sidecar(const std::string& raw_path, const std::string& grid_path) {
  const fs::path g(grid_path);
  if (g.is_absolute()) return grid_path;
  fs::path dir = fs::path(sidecar_path(raw_path)).parent_path();
  if (dir.empty()) dir = ".";
  return g.lexically_normal().lexically_relative(dir.lexically_normal()).string();
}

RasterOptions resolve_defaults(const std::string& raw_path, const RasterOptions& given,
                               const std::optional<Sidecar>& sidecar) {
  RasterOptions r = given;
  if (sidecar) {
    const Sidecar& s = *sidecar;
    if (!r.npixel && s.samples > 0) r.npixel = s.samples;
    if (!r.grid && s.grid_file) r.grid = sidecar_grid_path(raw_path, *s.grid_file);
    if (!r.res) r.res = s.resolution;
    if (!r.origin) r.origin = s.origin;
    if (!r.convention) r.convention = s.convention;
    if (!r.bands_per_year) r.bands_per_year = s.bands_per_year;
    if (!r.first_year) r.first_year = s.first_year;
    if (!r.calendar) r.calendar = s.calendar;
    if (!r.variable) r.variable = s.variable;
    if (!r.units) r.units = s.units;
    if (!r.long_name) r.long_name = s.long_name;
  }
  if (r.grid) {
    const int64_t grid_npixel = grid_file_pixels(*r.grid);
    if (!r.npixel) r.npixel = grid_npixel;
    if (*r.npixel != grid_npixel)
      throw ToolError("npixel " + std::to_string(*r.npixel) + " does not match grid file " +
                      *r.grid + " (" + std::to_string(grid_npixel * 4) + " bytes, " +
                      std::to_string(grid_npixel) + " pixels)");
  }
  // Values from the sidecar keep the ranges of the command line's.
  const std::string from = sidecar ? " (from the sidecar " + sidecar_path(raw_path) + ")" : "";
  if (r.npixel && (*r.npixel <= 0 || *r.npixel > kMaxNpixel))
    throw ToolError("npixel " + std::to_string(*r.npixel) + from + " is out of range: give 1 to " +
                    std::to_string(kMaxNpixel));
  if (r.bands_per_year && (*r.bands_per_year <= 0 || *r.bands_per_year > kMaxBandsPerYear))
    throw ToolError("bands per year " + std::to_string(*r.bands_per_year) + from +
                    " is out of range: give 1 to " + std::to_string(kMaxBandsPerYear));
  if (r.first_year && (*r.first_year < kMinYear || *r.first_year > kMaxYear))
    throw ToolError("first year " + std::to_string(*r.first_year) + from +
                    " is out of range: give " + std::to_string(kMinYear) + " to " +
                    std::to_string(kMaxYear));
  if (r.res && !(*r.res >= kMinResolution && *r.res <= 180.0))
    throw ToolError("resolution " + std::to_string(*r.res) + from +
                    " is out of range: give 1/1000 to 180 degrees");
  return r;
}

}  // namespace interop
