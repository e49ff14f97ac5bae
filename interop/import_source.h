// What import reads: one variable of a gridded file (NetCDF through libnetcdf, other raster
// formats such as GeoTIFF through GDAL) as rows of latitude and columns of longitude, one time
// step at a time, with missing values as NaN and packed values unpacked.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace interop::importer {

/// The variable's grid, time axis and description as the file gives them.
struct SourceInfo {
  std::string path;
  std::string format;  // "NetCDF" or GDAL's driver name
  std::string variable, units, long_name;
  std::vector<double> lat;  // latitude of each row (any order)
  std::vector<double> lon;  // longitude of each column (-180..180 or 0..360)
  int64_t nsteps = 1;       // time steps (bands); 1 for a variable without time
  /// Time of each step (the middle of its bounds when the file gives bounds), with its CF
  /// units and calendar; empty when the file has no usable time coordinate.
  std::vector<double> time;
  std::string time_units, calendar;
  std::string time_problem;  // why `time` is empty although there are steps (for messages)
};

/// Turns stored values into the values meant: fill and missing values become NaN, packed
/// values are unpacked as stored * scale + offset (in double, rounded once to float).
struct Unpacking {
  std::vector<double> missing;  // stored values that mean "no value"
  double scale = 1.0;
  double offset = 0.0;
  bool packed = false;  // scale or offset given

  bool is_missing(double stored) const;
  float unpack(double stored) const;
  /// Stored float values without packing: kept bit for bit unless missing.
  void apply(float* v, size_t n) const;
  /// Any stored values: missing -> NaN, else unpacked.
  void apply(const double* in, float* out, size_t n) const;
};

class Source {
 public:
  virtual ~Source() = default;
  const SourceInfo& info() const { return info_; }
  /// Values of step t, row after row (row i is lat[i], column j is lon[j]), NaN where missing.
  virtual void read_step(int64_t t, std::vector<float>& out) = 0;

 protected:
  SourceInfo info_;
};

/// Opens `path` as NetCDF, or else through GDAL; `var` chooses the variable (NetCDF; empty:
/// the only one). Throws ToolError with a message naming the file.
std::unique_ptr<Source> open_source(const std::string& path, const std::string& var);

/// NetCDF through libnetcdf; nullptr when the file is not NetCDF.
std::unique_ptr<Source> open_netcdf(const std::string& path, const std::string& var);
/// A raster file through GDAL; throws when GDAL cannot open it either.
std::unique_ptr<Source> open_gdal(const std::string& path, const std::string& var);

}  // namespace interop::importer
