// Where an imported file's rows and columns lie: the lattice its coordinates sit on (any regular
// cell-centred lon/lat lattice, its origin anywhere), and each coordinate's row or column of
// it. Node-registered grids (points on the poles) are refused with the command that remaps them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "grid.h"
#include "import_source.h"

namespace interop::importer {

/// The spacing of the file's cells: of its longitudes, or of its latitudes when it has one
/// column; nullopt for a single cell.
std::optional<double> file_spacing(const SourceInfo& in);

/// Whether two resolutions are the same within the rounding of stored coordinates.
bool same_resolution(double a, double b);

/// The lattice the file's coordinates lie on: the resolution `res` when given (it must match
/// their spacing), else their spacing read as the fraction it stands for (2/3, 1/12); the origin
/// from the first longitude and latitude. nullopt for a single cell without `res`. ToolErrors
/// for cells finer than grid files hold, latitudes off the globe and node-registered grids.
std::optional<GlobalGrid> file_lattice(const SourceInfo& in, std::optional<double> res);

/// Each lattice row's file row and each lattice column's file column (-1: none). A file column
/// 360 degrees from an earlier one (a repeated wrap-around column, such as 0 and 360) is left
/// out and listed in `repeats`.
struct FilePlacement {
  std::vector<int64_t> file_row;  // per lattice row
  std::vector<int64_t> file_col;  // per lattice column
  struct Repeat {
    int64_t col;  // the file column left out
    int64_t of;   // the file column it repeats
  };
  std::vector<Repeat> repeats;
};

/// Places every coordinate of the file on `g`; a ToolError names the first one that is not a
/// cell centre of it, and two rows or columns in one cell.
FilePlacement place_file(const SourceInfo& in, const GlobalGrid& g);

}  // namespace interop::importer
