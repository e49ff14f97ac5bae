// The steps and pixels import takes from a source, shared with the commands that read NetCDF
// in-process (jobs/): whole years through the time axis, and the pixel rule (the lattice cells
// that hold a value in any step read, or a grid file's pixels).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "grid.h"
#include "import_lattice.h"
#include "import_source.h"
#include "import_time.h"

namespace interop::importer {

/// The steps read: whole years through the time axis (dated), or every step as one year.
struct StepPlan {
  YearSpan span;
  bool dated = false;
};

/// Whole years of `in` (or `years` of them); without a usable time axis every step as one year
/// (a warning under `program` when there are several; --years then is a ToolError).
StepPlan plan_steps(const SourceInfo& in, const std::optional<YearRange>& years,
                    const char* program);

/// The lattice cells the file covers, in lattice order (rows north to south, west to east), each
/// with its file cell (row * ncol + col) in a step's values.
struct Covered {
  std::vector<int64_t> cell;
  std::vector<int64_t> file_index;
};
Covered covered_cells(const GlobalGrid& g, const FilePlacement& fp, int64_t ncol);

/// Marks the file cells of `index` that hold a value in `step`; true when one of them held none
/// in the steps marked before.
bool mark_values(std::span<const float> step, std::span<const int64_t> index,
                 std::vector<uint8_t>& seen);

/// Pixels: their file cells and grid records.
struct Pixels {
  std::vector<int64_t> file_index;  // per pixel: index into a step's values, -1 for none
  std::vector<GridPoint> points;    // grid from the input only
};
/// The covered cells that held a value (marked in `seen`), with their records in convention c.
Pixels pixels_seen(const Covered& cov, const std::vector<uint8_t>& seen, const GlobalGrid& g,
                   Convention c);
/// A grid file's pixels in the file's cells (-1 where the file has no cell).
Pixels pixels_of_grid(const PlacedGrid& grid, const FilePlacement& fp, int64_t ncol);

}  // namespace interop::importer
