// Where the values of a classic-format NetCDF file (CDF-1, CDF-2, CDF-5) lie, read from its
// header. libnetcdf reads such a file cut short without an error (the values past its end come
// back as zeros, or the buffer keeps what it held), so import checks every read against the
// file's size with this.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace interop::importer {

class ClassicLayout {
 public:
  /// Reads the header of `path` (a file libnetcdf opened as classic format); a ToolError names
  /// the file when the header cannot be read.
  explicit ClassicLayout(const std::string& path);

  /// One past the last byte of the values [start, start + count) of variable `name` (0 for an
  /// empty selection); a ToolError for a name the header does not hold.
  int64_t end_of(const std::string& name, std::span<const size_t> start,
                 std::span<const size_t> count) const;
  int64_t file_size() const { return file_size_; }
  /// Whether `name` is a record variable (along the unlimited dimension).
  bool is_record(const std::string& name) const;

 private:
  struct Var {
    std::vector<int64_t> shape;  // record dimension first (its length unused) for record vars
    bool record = false;
    int64_t type_size = 0;
    int64_t begin = 0;
  };
  static int64_t record_bytes(const Var& v);  // of one record of a record variable
  std::string path_;
  int64_t file_size_ = 0;
  int64_t record_size_ = 0;
  std::map<std::string, Var> vars_;
};

}  // namespace interop::importer
