// NetCDF input through libnetcdf's C API: the data variable on a ([time,] [level,] lat, lon)
// grid, its coordinates, time axis (told from a level axis the CF way), fill values and packing.
// Reads of a classic-format file are checked against its size (import_classic.h).
#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>

#include "import_classic.h"
#include "import_source.h"
#include "parallel.h"
#include "step_reader.h"
#include "tool.h"

namespace interop::importer {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// An open NetCDF file, closed when it goes.
class NcFile {
 public:
  NcFile(int id, std::string path) : id_(id), path_(std::move(path)) {
    try {
      int format = 0;
      check(nc_inq_format_extended(id_, &format, nullptr), "the format");
      if (format == NC_FORMATX_NC3) layout_.emplace(path_);
    } catch (...) {
      nc_close(id_);
      throw;
    }
  }
  ~NcFile() { nc_close(id_); }
  NcFile(const NcFile&) = delete;
  NcFile& operator=(const NcFile&) = delete;
  int id() const { return id_; }
  const std::string& path() const { return path_; }

  void check(int status, const std::string& what) const {
    if (status != NC_NOERR)
      throw ToolError("cannot read " + what + " of '" + path_ + "': " + nc_strerror(status));
  }

  std::string var_name(int var) const {
    char name[NC_MAX_NAME + 1] = {};
    check(nc_inq_varname(id_, var, name), "a variable name");
    return name;
  }

  std::string dim_name(int dim) const {
    char name[NC_MAX_NAME + 1] = {};
    check(nc_inq_dimname(id_, dim, name), "a dimension name");
    return name;
  }

  size_t dim_len(int dim) const {
    size_t n = 0;
    check(nc_inq_dimlen(id_, dim, &n), "the length of dimension " + dim_name(dim));
    return n;
  }

  std::vector<int> var_dims(int var) const {
    int n = 0;
    check(nc_inq_varndims(id_, var, &n), "the dimensions of " + var_name(var));
    std::vector<int> dims(static_cast<size_t>(n));
    if (n > 0) check(nc_inq_vardimid(id_, var, dims.data()), "the dimensions of " + var_name(var));
    return dims;
  }

  nc_type var_type(int var) const {
    nc_type t = NC_NAT;
    check(nc_inq_vartype(id_, var, &t), "the type of " + var_name(var));
    return t;
  }

  /// The variable named like dimension `dim` (its coordinate variable), or -1.
  int coord_var(int dim) const {
    int var = -1;
    if (nc_inq_varid(id_, dim_name(dim).c_str(), &var) != NC_NOERR) return -1;
    const std::vector<int> dims = var_dims(var);
    return dims.size() == 1 && dims[0] == dim ? var : -1;
  }

  /// A text attribute (NC_CHAR or one NC_STRING), empty when missing.
  std::string text_att(int var, const char* name) const {
    nc_type t = NC_NAT;
    size_t len = 0;
    if (nc_inq_att(id_, var, name, &t, &len) != NC_NOERR) return "";
    if (t == NC_CHAR) {
      std::string s(len, '\0');
      check(nc_get_att_text(id_, var, name, s.data()), std::string("attribute ") + name);
      return std::string(s.c_str());
    }
    if (t == NC_STRING && len >= 1) {
      std::vector<char*> v(len, nullptr);
      check(nc_get_att_string(id_, var, name, v.data()), std::string("attribute ") + name);
      std::string s = v[0] ? v[0] : "";
      nc_free_string(len, v.data());
      return s;
    }
    return "";
  }

  /// A numeric attribute's values as double; empty when missing or text.
  std::vector<double> num_att(int var, const char* name) const {
    nc_type t = NC_NAT;
    size_t len = 0;
    if (nc_inq_att(id_, var, name, &t, &len) != NC_NOERR || t == NC_CHAR || t == NC_STRING)
      return {};
    std::vector<double> v(len);
    check(nc_get_att_double(id_, var, name, v.data()), std::string("attribute ") + name);
    return v;
  }

  bool has_att(int var, const char* name) const {
    return nc_inq_att(id_, var, name, nullptr, nullptr) == NC_NOERR;
  }

  /// A ToolError when values [start, start + count) of `var` lie past the end of a classic
  /// file cut short; what() names them ("step 3 of variable 'tas'").
  template <class What>
  void check_present(int var, const std::vector<size_t>& start, const std::vector<size_t>& count,
                     const What& what) const {
    if (!layout_) return;
    const int64_t end = layout_->end_of(var_name(var), start, count);
    if (end > layout_->file_size())
      throw ToolError("'" + path_ + "' is cut short: " + what() + " lies past its end (the " +
                      "values reach byte " + std::to_string(end) + ", the file has " +
                      std::to_string(layout_->file_size()) + " bytes)");
  }

  /// All n values of a coordinate-like variable. A record variable cut short names the first
  /// step missing.
  std::vector<double> values(int var, size_t n) const {
    const std::string name = var_name(var);
    std::vector<double> v;
    size_for(v, n, "variable '" + name + "' of '" + path_ + "'");
    if (n == 0) return v;
    std::vector<size_t> count;
    for (const int d : var_dims(var)) count.push_back(dim_len(d));
    std::vector<size_t> start(count.size(), 0);
    if (layout_ && layout_->is_record(name)) {
      std::vector<size_t> one = count;
      one[0] = 1;
      for (start[0] = 0; start[0] < count[0]; ++start[0])
        check_present(var, start, one, [&] {
          return "step " + std::to_string(start[0] + 1) + " of variable '" + name + "'";
        });
      start[0] = 0;
    } else {
      check_present(var, start, count, [&] { return "variable '" + name + "'"; });
    }
    check(nc_get_var_double(id_, var, v.data()), "the values of " + name);
    return v;
  }

  /// The attribute's type and length; false when the variable has no such attribute.
  bool att_type(int var, const char* name, nc_type* type, size_t* len) const {
    return nc_inq_att(id_, var, name, type, len) == NC_NOERR;
  }

 private:
  int id_;
  std::string path_;
  std::optional<ClassicLayout> layout_;
};

bool one_of(const std::string& s, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return s == n; });
}

// A dimension is latitude (or longitude) by its name or its coordinate variable's attributes.
bool is_axis(const NcFile& nc, int dim, bool lat) {
  const std::string name = lower(nc.dim_name(dim));
  if (lat ? one_of(name, {"lat", "latitude", "y"}) : one_of(name, {"lon", "longitude", "x"}))
    return true;
  const int var = nc.coord_var(dim);
  if (var < 0) return false;
  const std::string standard = lower(nc.text_att(var, "standard_name"));
  const std::string units = lower(nc.text_att(var, "units"));
  if (lat)
    return standard == "latitude" ||
           one_of(units, {"degrees_north", "degree_north", "degree_n", "degrees_n"});
  return standard == "longitude" ||
         one_of(units, {"degrees_east", "degree_east", "degree_e", "degrees_e"});
}

struct Layout {
  int lat_dim = -1, lon_dim = -1;
};

// The variable's place of lat and lon among its dimensions; lat_dim/lon_dim -1 when it has none.
Layout layout_of(const NcFile& nc, int var) {
  Layout l;
  for (const int d : nc.var_dims(var)) {
    if (l.lat_dim < 0 && is_axis(nc, d, true)) {
      l.lat_dim = d;
    } else if (l.lon_dim < 0 && is_axis(nc, d, false)) {
      l.lon_dim = d;
    }
  }
  return l;
}

bool is_coordinate(const NcFile& nc, int var) {
  const std::vector<int> dims = nc.var_dims(var);
  return dims.size() == 1 && nc.dim_name(dims[0]) == nc.var_name(var);
}

std::vector<int> data_variables(const NcFile& nc) {
  int nvars = 0;
  nc.check(nc_inq_nvars(nc.id(), &nvars), "the variables");
  std::vector<int> out;
  for (int v = 0; v < nvars; ++v) {
    if (is_coordinate(nc, v)) continue;
    const Layout l = layout_of(nc, v);
    if (l.lat_dim >= 0 && l.lon_dim >= 0) out.push_back(v);
  }
  return out;
}

std::string name_list(const NcFile& nc, const std::vector<int>& vars) {
  std::string s;
  for (const int v : vars) s += (s.empty() ? "" : ", ") + nc.var_name(v);
  return s;
}

std::string all_variable_names(const NcFile& nc) {
  int nvars = 0;
  nc.check(nc_inq_nvars(nc.id(), &nvars), "the variables");
  std::vector<int> all(static_cast<size_t>(nvars));
  for (int v = 0; v < nvars; ++v) all[static_cast<size_t>(v)] = v;
  return nvars ? name_list(nc, all) : "none";
}

int choose_variable(const NcFile& nc, const std::string& var) {
  const std::vector<int> data = data_variables(nc);
  const std::string where = "'" + nc.path() + "'";
  if (data.empty())
    throw ToolError(where + " holds no variable on a latitude/longitude grid (its variables: " +
                    all_variable_names(nc) + ")");
  const std::string listing = "; its data variables: " + name_list(nc, data);
  if (var.empty()) {
    if (data.size() > 1)
      throw ToolError(where + " holds several data variables (" + name_list(nc, data) +
                      "): choose one with --var");
    return data[0];
  }
  int id = -1;
  if (nc_inq_varid(nc.id(), var.c_str(), &id) != NC_NOERR)
    throw ToolError(where + " has no variable '" + var + "'" + listing);
  if (std::find(data.begin(), data.end(), id) == data.end())
    throw ToolError("variable '" + var + "' of " + where + " is not on a latitude/longitude grid" +
                    listing);
  return id;
}

std::string dims_text(const NcFile& nc, const std::vector<int>& dims) {
  std::string s;
  for (const int d : dims) s += (s.empty() ? "" : ", ") + nc.dim_name(d);
  return "(" + s + ")";
}

bool is_unlimited(const NcFile& nc, int dim) {
  int n = 0;
  nc.check(nc_inq_unlimdims(nc.id(), &n, nullptr), "the unlimited dimensions");
  std::vector<int> ids(static_cast<size_t>(n));
  if (n > 0) nc.check(nc_inq_unlimdims(nc.id(), &n, ids.data()), "the unlimited dimensions");
  return std::find(ids.begin(), ids.end(), dim) != ids.end();
}

// A time axis the CF way: its coordinate's units "<unit> since <date>" (or CDO's absolute "day
// as %Y%m%d.%f"), axis T, standard_name time; or the unlimited dimension, or one named time
// (whose units may be what is wrong with it).
bool is_time_axis(const NcFile& nc, int dim) {
  if (is_unlimited(nc, dim) || lower(nc.dim_name(dim)) == "time") return true;
  const int var = nc.coord_var(dim);
  if (var < 0) return false;
  const std::string units = lower(nc.text_att(var, "units"));
  return units.find(" since ") != std::string::npos || units.rfind("day as %y%m%d", 0) == 0 ||
         lower(nc.text_att(var, "axis")) == "t" ||
         lower(nc.text_att(var, "standard_name")) == "time";
}

std::string number_text(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

// A numeric attribute the values depend on (_FillValue, missing_value, scale_factor,
// add_offset): empty when missing; a ToolError when it is text, which CF does not allow and a
// reader cannot take as the number it may look like.
std::vector<double> value_att(const NcFile& nc, int var, const char* name) {
  nc_type type = NC_NAT;
  size_t len = 0;
  if (!nc.att_type(var, name, &type, &len)) return {};
  const std::string where = "attribute " + std::string(name) + " of variable '" + nc.var_name(var) +
                            "' in '" + nc.path() + "'";
  if (type == NC_CHAR || type == NC_STRING)
    throw ToolError(where + " is text ('" + nc.text_att(var, name) +
                    "'), not a number: import cannot tell which values it means (store it as a "
                    "number, as CF asks)");
  if (len == 0) throw ToolError(where + " holds no value");
  return nc.num_att(var, name);
}

// Step times: the middle of each step's bounds when the coordinate names bounds of shape (n, 2).
std::vector<double> step_times(const NcFile& nc, int tvar, size_t n) {
  std::vector<double> t = nc.values(tvar, n);
  int bvar = -1;
  const std::string bounds = nc.text_att(tvar, "bounds");
  if (bounds.empty() || nc_inq_varid(nc.id(), bounds.c_str(), &bvar) != NC_NOERR) return t;
  const std::vector<int> bdims = nc.var_dims(bvar);
  if (bdims.size() != 2 || nc.dim_len(bdims[0]) != n || nc.dim_len(bdims[1]) != 2) return t;
  const std::vector<double> b = nc.values(bvar, 2 * n);
  for (size_t i = 0; i < n; ++i) t[i] = b[2 * i] / 2 + b[2 * i + 1] / 2;
  return t;
}

// Fill and missing values (CF: in the stored type), and packing.
Unpacking unpacking_of(const NcFile& nc, int var) {
  Unpacking u;
  u.missing = value_att(nc, var, "_FillValue");
  const nc_type type = nc.var_type(var);
  if (u.missing.empty()) {
    // Without _FillValue, unwritten values hold the library's default fill (not for bytes,
    // whose every value may be data).
    switch (type) {
      case NC_SHORT:
        u.missing.push_back(NC_FILL_SHORT);
        break;
      case NC_INT:
        u.missing.push_back(NC_FILL_INT);
        break;
      case NC_FLOAT:
        u.missing.push_back(static_cast<double>(NC_FILL_FLOAT));
        break;
      case NC_DOUBLE:
        u.missing.push_back(NC_FILL_DOUBLE);
        break;
      default:
        break;
    }
  }
  for (const double m : value_att(nc, var, "missing_value")) u.missing.push_back(m);
  const std::vector<double> scale = value_att(nc, var, "scale_factor");
  const std::vector<double> offset = value_att(nc, var, "add_offset");
  for (const auto* att : {&scale, &offset}) {
    const char* name = att == &scale ? "scale_factor" : "add_offset";
    if (att->size() > 1 || (att->size() == 1 && !std::isfinite((*att)[0])))
      throw ToolError("attribute " + std::string(name) + " of variable '" + nc.var_name(var) +
                      "' in '" + nc.path() + "' is not one finite number (" +
                      std::to_string(att->size()) + " values, the first " + number_text((*att)[0]) +
                      ")");
  }
  if (!scale.empty()) u.scale = scale[0];
  if (!offset.empty()) u.offset = offset[0];
  u.packed = !scale.empty() || !offset.empty();
  return u;
}

// 2^bits for an integer variable marked _Unsigned = "true" (netCDF-3's way of storing unsigned
// values): stored negatives stand for v + 2^bits. 0 otherwise.
double unsigned_wrap(const NcFile& nc, int var) {
  if (lower(nc.text_att(var, "_Unsigned")) != "true") return 0;
  switch (nc.var_type(var)) {
    case NC_BYTE:
      return 256.0;
    case NC_SHORT:
      return 65536.0;
    case NC_INT:
      return 4294967296.0;
    default:
      return 0;
  }
}

class NetcdfSource : public Source {
 public:
  NetcdfSource(int id, const std::string& path, const std::string& var,
               const std::optional<LevelChoice>& level)
      : nc_(id, path) {
    var_ = choose_variable(nc_, var);
    describe(level);
    unpacking_ = unpacking_of(nc_, var_);
    wrap_ = unsigned_wrap(nc_, var_);
    for (double& m : unpacking_.missing)
      if (wrap_ > 0 && m < 0) m += wrap_;
    float_direct_ = nc_.var_type(var_) == NC_FLOAT && !unpacking_.packed;
    size_chunk_cache();
  }

  void read_step(int64_t t, std::vector<float>& out) override {
    const size_t nlat = info_.lat.size(), nlon = info_.lon.size();
    const uint64_t n = cells_of(nlat, nlon, "a step of variable '" + info_.variable + "'");
    size_for(out, n, "a step of variable '" + info_.variable + "' of '" + info_.path + "'");
    const std::vector<int> dims = nc_.var_dims(var_);
    std::vector<size_t> start(dims.size(), 0), count(dims.size(), 1);
    count[dims.size() - 2] = nlat;
    count[dims.size() - 1] = nlon;
    if (time_pos_ >= 0) start[static_cast<size_t>(time_pos_)] = static_cast<size_t>(t);
    if (level_pos_ >= 0) start[static_cast<size_t>(level_pos_)] = level_index_;
    const std::string what = "step " + std::to_string(t + 1) + " of variable '" + info_.variable +
                             "'" + (info_.level.empty() ? "" : " at " + info_.level);
    nc_.check_present(var_, start, count, [&] { return what; });
    if (float_direct_) {
      nc_.check(nc_get_vara_float(nc_.id(), var_, start.data(), count.data(), out.data()), what);
      unpacking_.apply(out.data(), n);
      return;
    }
    size_for(stored_, n, "a step of variable '" + info_.variable + "' of '" + info_.path + "'");
    nc_.check(nc_get_vara_double(nc_.id(), var_, start.data(), count.data(), stored_.data()), what);
    if (wrap_ > 0)
      for (double& v : stored_)
        if (v < 0) v += wrap_;
    unpacking_.apply(stored_.data(), out.data(), n);
  }

  // Whole blocks through StepReader (chunks inflated on the threads), then the same unpacking
  // as read_step. A level axis before the time axis is left to read_step.
  void read_steps(int64_t first, int64_t count, float* out, raster::ThreadTeam& team) override {
    if (time_pos_ > 0) return Source::read_steps(first, count, out, team);
    if (!steps_) {
      std::vector<int64_t> fixed;
      if (level_pos_ >= 0) fixed.push_back(static_cast<int64_t>(level_index_));
      steps_ = std::make_unique<StepReader>(info_.path, info_.variable, fixed);
    }
    const int64_t n = count * steps_->variable().step_size();
    const auto each = [&](const std::function<void(size_t, size_t)>& f) {
      team.for_blocks(n, 4096, [&](int64_t b, int64_t e) {
        f(static_cast<size_t>(b), static_cast<size_t>(e - b));
      });
    };
    if (float_direct_) {
      steps_->read(first, count, out, team);
      each([&](size_t b, size_t k) { unpacking_.apply(out + b, k); });
      return;
    }
    size_for(stored_, static_cast<uint64_t>(n),
             "steps of variable '" + info_.variable + "' of '" + info_.path + "'");
    steps_->read(first, count, stored_.data(), team);
    each([&](size_t b, size_t k) {
      if (wrap_ > 0)
        for (size_t i = b; i < b + k; ++i)
          if (stored_[i] < 0) stored_[i] += wrap_;
      unpacking_.apply(stored_.data() + b, out + b, k);
    });
  }

  void keep_steps(int64_t first, int64_t count) override {
    (void)first;  // the chunks of any `count` steps take the same room
    const std::optional<Chunking> c = chunking();
    if (!c || count <= 0) return;
    const double rows =
        std::ceil(static_cast<double>(count) / static_cast<double>(c->per_step)) + 1;
    const double chunks = static_cast<double>(c->across) * rows;
    const double bytes = chunks * static_cast<double>(c->bytes);
    if (bytes <= static_cast<double>(cache_bytes_) ||
        bytes > static_cast<double>(available_memory()) / 4)
      return;
    // Least recently used goes first (preemption 0): a chunk read whole is read again later.
    cache_bytes_ = static_cast<size_t>(bytes) + c->bytes;
    nc_set_var_chunk_cache(nc_.id(), var_, cache_bytes_,
                           next_prime(static_cast<size_t>(chunks) * 4 + 1), 0.0f);
  }

 private:
  std::string where() const { return "variable '" + info_.variable + "' of '" + info_.path + "'"; }

  void describe(const std::optional<LevelChoice>& level) {
    info_.path = nc_.path();
    info_.format = "NetCDF";
    info_.variable = nc_.var_name(var_);
    info_.units = nc_.text_att(var_, "units");
    info_.long_name = nc_.text_att(var_, "long_name");
    if (info_.long_name.empty()) info_.long_name = nc_.text_att(var_, "standard_name");
    const Layout l = layout_of(nc_, var_);
    const std::vector<int> dims = nc_.var_dims(var_);
    const size_t nd = dims.size();
    if (nd < 2 || nd > 4 || dims[nd - 2] != l.lat_dim || dims[nd - 1] != l.lon_dim)
      throw ToolError(where() + " has dimensions " + dims_text(nc_, dims) +
                      ": import reads (time, lat, lon) or (lat, lon), and one level (--level) of "
                      "(time, level, lat, lon) or (level, lat, lon)");
    for (size_t i = 0; i + 2 < nd; ++i) {
      int& pos = is_time_axis(nc_, dims[i]) ? time_pos_ : level_pos_;
      if (pos >= 0)
        throw ToolError(where() + " has dimensions " + dims_text(nc_, dims) + ": " +
                        nc_.dim_name(dims[static_cast<size_t>(pos)]) + " and " +
                        nc_.dim_name(dims[i]) + " are both " +
                        (&pos == &time_pos_ ? "time axes" : "axes other than time") +
                        "; import reads one time axis and one level axis at most");
      pos = static_cast<int>(i);
    }
    for (const int d : {l.lat_dim, l.lon_dim})
      if (nc_.dim_len(d) == 0)
        throw ToolError(where() + " has no cells: its dimension " + nc_.dim_name(d) +
                        " has length 0");
    info_.lat = axis_values(l.lat_dim);
    info_.lon = axis_values(l.lon_dim);
    choose_level(dims, level);
    if (time_pos_ >= 0) describe_time(dims[static_cast<size_t>(time_pos_)]);
  }

  // The level read: --level's, or the only one; a level axis of several levels needs --level.
  void choose_level(const std::vector<int>& dims, const std::optional<LevelChoice>& level) {
    if (level_pos_ < 0) {
      if (level)
        throw ToolError("--level " + level->text + ": " + where() + " has no level axis (its " +
                        "dimensions are " + dims_text(nc_, dims) + ")");
      return;
    }
    const int dim = dims[static_cast<size_t>(level_pos_)];
    const size_t n = nc_.dim_len(dim);
    const int cvar = nc_.coord_var(dim);
    const std::vector<double> coords = cvar >= 0 ? nc_.values(cvar, n) : std::vector<double>{};
    const std::string axis = "'" + nc_.dim_name(dim) + "' (" + std::to_string(n) + " level" +
                             (n == 1 ? "" : "s") + levels_listed(coords) + ")";
    if (n == 0) throw ToolError(where() + " has no levels: its level axis " + axis + " is empty");
    if (!level && n > 1 && time_pos_ >= 0)
      throw ToolError(where() + " has dimensions " + dims_text(nc_, dims) + " with the level " +
                      "axis " + axis + ": choose one level with --level VALUE or --level index:K");
    if (!level && n > 1)
      throw ToolError(where() + " has dimensions " + dims_text(nc_, dims) + ": " + axis +
                      " is not a time axis (no units '<unit> since <date>', axis T, "
                      "standard_name time, nor the unlimited dimension or the name time); choose "
                      "one level with --level VALUE or --level index:K");
    size_t k = 0;
    if (level && level->value) {
      if (coords.empty())
        throw ToolError("--level " + level->text + ": the level axis " + axis + " of " + where() +
                        " has no coordinate variable; give --level index:K");
      const auto same = [&](double c) {
        return c == *level->value || static_cast<float>(c) == static_cast<float>(*level->value);
      };
      k = static_cast<size_t>(std::find_if(coords.begin(), coords.end(), same) - coords.begin());
      if (k == n)
        throw ToolError("--level " + level->text + " is none of the levels of " + axis + " of " +
                        where());
    } else if (level) {
      if (level->index >= static_cast<int64_t>(n))
        throw ToolError("--level " + level->text + " is past the last level of " + axis + " of " +
                        where() + " (index 0 to " + std::to_string(n - 1) + ")");
      k = static_cast<size_t>(level->index);
    }
    level_index_ = k;
    info_.level = nc_.dim_name(dim);
    if (!coords.empty()) {
      info_.level += " = " + number_text(coords[k]);
      const std::string units = nc_.text_att(cvar, "units");
      if (!units.empty()) info_.level += " " + units;
    }
    info_.level += " (index " + std::to_string(k) + " of " + std::to_string(n) + ")";
  }

  static std::string levels_listed(const std::vector<double>& coords) {
    if (coords.empty()) return "";
    std::string s;
    for (size_t i = 0; i < coords.size() && i < 6; ++i)
      s += (i ? ", " : ": ") + number_text(coords[i]);
    return s + (coords.size() > 6 ? ", ..." : "");
  }

  struct Chunking {
    size_t across = 1;    // chunks across one step (of one level)
    size_t bytes = 0;     // of one chunk
    size_t per_step = 1;  // steps a chunk holds along time
  };

  std::optional<Chunking> chunking() const {
    const std::vector<int> dims = nc_.var_dims(var_);
    std::vector<size_t> chunk(dims.size(), 0);
    int storage = 0;
    if (nc_inq_var_chunking(nc_.id(), var_, &storage, chunk.data()) != NC_NOERR ||
        storage != NC_CHUNKED)
      return std::nullopt;
    size_t type_size = 0;
    nc_.check(nc_inq_type(nc_.id(), nc_.var_type(var_), nullptr, &type_size), "a type size");
    const size_t nd = dims.size();
    Chunking c;
    c.across = ((info_.lat.size() + chunk[nd - 2] - 1) / chunk[nd - 2]) *
               ((info_.lon.size() + chunk[nd - 1] - 1) / chunk[nd - 1]);
    c.bytes = type_size;
    for (const size_t n : chunk) c.bytes *= n;
    if (time_pos_ >= 0) c.per_step = chunk[static_cast<size_t>(time_pos_)];
    return c;
  }

  static size_t next_prime(size_t n) {
    const auto prime = [](size_t k) {
      for (size_t d = 2; d * d <= k; ++d)
        if (k % d == 0) return false;
      return k >= 2;
    };
    while (!prime(n)) ++n;
    return n;
  }

  // A file chunked along time (chunks of many steps) would be decompressed again for every
  // step unless the cache holds all chunks one step passes through: size it so (up to 4 GiB).
  void size_chunk_cache() {
    const std::vector<int> dims = nc_.var_dims(var_);
    std::vector<size_t> chunk(dims.size(), 0);
    int storage = 0;
    if (nc_inq_var_chunking(nc_.id(), var_, &storage, chunk.data()) != NC_NOERR ||
        storage != NC_CHUNKED)
      return;
    size_t type_size = 0;
    nc_.check(nc_inq_type(nc_.id(), nc_.var_type(var_), nullptr, &type_size), "a type size");
    const size_t nd = dims.size();
    const size_t across = ((info_.lat.size() + chunk[nd - 2] - 1) / chunk[nd - 2]) *
                          ((info_.lon.size() + chunk[nd - 1] - 1) / chunk[nd - 1]);
    size_t chunk_bytes = type_size;
    for (const size_t c : chunk) chunk_bytes *= c;
    const double need = static_cast<double>(across) * static_cast<double>(chunk_bytes);
    size_t size = 0, nelems = 0;
    float preemption = 0;
    if (nc_get_var_chunk_cache(nc_.id(), var_, &size, &nelems, &preemption) != NC_NOERR) return;
    cache_bytes_ = size;
    if (need <= static_cast<double>(size) || need > 4.0 * 1024 * 1024 * 1024) return;
    cache_bytes_ = static_cast<size_t>(need) + chunk_bytes;
    nc_set_var_chunk_cache(nc_.id(), var_, cache_bytes_, std::max(nelems, 4 * across + 1),
                           preemption);
  }

  std::vector<double> axis_values(int dim) const {
    const int var = nc_.coord_var(dim);
    if (var < 0)
      throw ToolError("'" + info_.path + "' has no coordinate variable for dimension " +
                      nc_.dim_name(dim));
    return nc_.values(var, nc_.dim_len(dim));
  }

  void describe_time(int dim) {
    info_.nsteps = static_cast<int64_t>(nc_.dim_len(dim));
    if (info_.nsteps == 0)
      throw ToolError(where() + " has no time steps: its time axis '" + nc_.dim_name(dim) +
                      "' has length 0");
    const int tvar = nc_.coord_var(dim);
    if (tvar < 0) {
      info_.time_problem = "it has no coordinate variable '" + nc_.dim_name(dim) + "'";
      return;
    }
    info_.time_units = nc_.text_att(tvar, "units");
    info_.calendar = nc_.text_att(tvar, "calendar");
    if (info_.calendar.empty()) info_.calendar = "standard";
    info_.time = step_times(nc_, tvar, static_cast<size_t>(info_.nsteps));
  }

  NcFile nc_;
  int var_ = -1;
  int time_pos_ = -1;   // place of the time axis among the variable's dimensions
  int level_pos_ = -1;  // place of the level axis
  size_t level_index_ = 0;
  size_t cache_bytes_ = 0;  // the variable's chunk cache
  double wrap_ = 0;
  bool float_direct_ = false;
  Unpacking unpacking_;
  std::vector<double> stored_;
  std::unique_ptr<StepReader> steps_;  // read_steps, opened at its first call
};

}  // namespace

std::unique_ptr<Source> open_netcdf(const std::string& path, const std::string& var,
                                    const std::optional<LevelChoice>& level) {
  int id = -1;
  const int status = nc_open(path.c_str(), NC_NOWRITE, &id);
  if (status == NC_ENOTNC) return nullptr;
  if (status != NC_NOERR)
    throw ToolError("cannot open '" + path + "' as NetCDF: " + nc_strerror(status));
  return std::make_unique<NetcdfSource>(id, path, var, level);
}

}  // namespace interop::importer
