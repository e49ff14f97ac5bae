// The sidecar of a raw raster file: an ENVI header NAME.hdr beside NAME.bin, which GDAL and
// QGIS use to open the raw file, with the suite's own optional "rastertools ..." keys that give
// the other tools their defaults (grid file, resolution, lattice origin, convention, time axis,
// calendar, variable).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "grid.h"

namespace interop {

struct Sidecar {
  int64_t samples = 0;  ///< npixel
  int64_t lines = 1;
  int64_t bands = 0;  ///< whole bands of the raw file
  int64_t header_offset = 0;
  int data_type = 4;  ///< ENVI code of float32
  std::string interleave = "bsq";
  int byte_order = 0;  ///< little-endian
  std::string description = "rastertools raster file";
  std::optional<std::string>
      grid_file;                     ///< as written: relative to the header's folder, or absolute
  std::optional<double> resolution;  ///< written exactly: "2/3", "0.5"
  std::optional<Origin> origin;      ///< lattice origin; written only when not the default
  std::optional<Convention> convention;
  std::optional<int64_t> bands_per_year;
  std::optional<int64_t> first_year;
  std::optional<std::string> calendar;  ///< CF calendar of the time axis, as the input spelled it
  std::optional<std::string> variable;
  std::optional<std::string> units;
  std::optional<std::string> long_name;
};

/// NAME.hdr for NAME.EXT (the last extension replaced), NAME.hdr for NAME without extension.
std::string sidecar_path(const std::string& raw_path);

/// The header text in the suite's layout (the rastertools keys only when set).
std::string format_sidecar(const Sidecar& s);
/// Parses a header text: "ENVI" first, then case-insensitive "key = value" lines, values in {}
/// may span lines, unknown keys ignored. A ToolError names `path` for malformed text or a
/// layout the suite cannot read (data type other than 4, interleave other than bsq, big-endian).
Sidecar parse_sidecar(const std::string& text, const std::string& path);

/// Reads the sidecar of `raw_path` if it exists (nullopt when there is none).
std::optional<Sidecar> read_sidecar(const std::string& raw_path);
/// Writes the sidecar of `raw_path` (temporary name, then rename; every write checked).
void write_sidecar(const std::string& raw_path, const Sidecar& s);

/// The grid file a sidecar names, as a path usable from the working folder: a relative name is
/// taken relative to the sidecar's folder.
std::string sidecar_grid_path(const std::string& raw_path, const std::string& grid_file);
/// The name to write for `grid_path` into the sidecar of `raw_path`: relative to the header's
/// folder when the user gave a relative path, as given when absolute.
std::string grid_file_for_sidecar(const std::string& raw_path, const std::string& grid_path);

/// What the command line gave about a raw file; unset fields take the sidecar's values.
struct RasterOptions {
  std::optional<int64_t> npixel;
  std::optional<std::string> grid;  ///< grid file path
  std::optional<double> res;
  std::optional<Origin> origin;
  std::optional<Convention> convention;
  std::optional<int64_t> bands_per_year;
  std::optional<int64_t> first_year;
  std::optional<std::string> calendar;
  std::optional<std::string> variable;
  std::optional<std::string> units;
  std::optional<std::string> long_name;
};

/// Command-line values first, then the sidecar's; npixel last of all from the grid file size
/// (size / 4) when a grid is known. Fields stay unset where nothing gives them. A ToolError when
/// --npixel and the grid's pixel count disagree.
RasterOptions resolve_defaults(const std::string& raw_path, const RasterOptions& given,
                               const std::optional<Sidecar>& sidecar);

}  // namespace interop
