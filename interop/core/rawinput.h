// A raw raster file given as input: the formats that are not raw, told by their first bytes
// (NetCDF classic and NetCDF-4/HDF5, TIFF and BigTIFF, PNG), and the sidecar that belongs to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sidecar.h"

namespace interop {

enum class FileFormat { raw, netcdf_classic, hdf5, tiff, png };

/// What a file's first bytes say it is: "CDF" and version 1, 2 or 5 with a dimension list tag
/// (NetCDF classic, 64-bit offset, 64-bit data); the HDF5 signature at byte 0, 512, 1024, ...
/// (NetCDF-4 and HDF5, which allow a user block before it); "II*\0" or "MM\0*" with a first
/// directory inside the file, or BigTIFF "II+\0" / "MM\0+" (TIFF and GeoTIFF); the PNG
/// signature. Anything else is raw. The file must be a regular file (check_input_file).
FileFormat sniff_format(const std::string& path);

/// "a NetCDF classic file", "a NetCDF-4/HDF5 file", "a TIFF/GeoTIFF file", "a PNG image".
const char* format_text(FileFormat f);

/// The command that makes a raw raster file of `path` beside it:
/// "rastertools import PATH -o STEM.bin", the names quoted for the shell where needed.
std::string import_command(const std::string& path);

/// Checks a raw raster input before anything reads it: a regular file (check_input_file) that
/// is not of a format told above; a ToolError names the format and, for NetCDF and TIFF, the
/// import command.
void check_raw_input(const std::string& path);

/// The sidecar PATH.hdr when it belongs to the raw file `path`: `path` is not of another format
/// (a sidecar describes raw files) and the sidecar's `samples` pixels make whole bands of the
/// file's size. A sidecar that exists but does not belong is not used and a warning under
/// `program` says why; a sidecar that is not a regular file is a ToolError.
std::optional<Sidecar> sidecar_for(const std::string& path, const char* program);

}  // namespace interop
