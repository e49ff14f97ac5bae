// What `rastertools export` writes, settled from the command line, the sidecar and the grid,
// and the writers of each output format.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "grid.h"
#include "rawfile.h"
#include "timeaxis.h"
#include "tool.h"

namespace interop {

/// The value of cells that hold no pixel (as ISIMIP files use), in NetCDF and GeoTIFF.
inline constexpr float kFillValue = 1e20f;

enum class ExportFormat { netcdf, gtiff, cog };

struct ExportJob {
  const RawFile* raw = nullptr;
  const PlacedGrid* grid = nullptr;
  /// When set, band b comes from here (npixel values) instead of the raw file: outputs
  /// computed in memory, one band at a time.
  std::function<void(int64_t band, std::span<float> dst)> band_source;
  BandRange bands;        ///< steps: bands.count(); step k is band bands.first + k * band_step
  int64_t band_step = 1;  ///< of the raw file (or band_source)
  std::optional<int64_t> first_year;  ///< a time axis when set (with bands_per_year)
  /// When not empty, the time and bounds of each step, in days since the first year's
  /// 1 January, instead of band_time's (seasons, windows of months, climatologies).
  std::vector<BandTime> times;
  /// NetCDF: the time bounds are CF climatology bounds (climatology_bnds).
  bool climatology = false;
  std::optional<std::string> cell_methods;  ///< NetCDF: CF cell_methods of the variable
  /// NetCDF: more variables in the same file on the same time axis (their raw or band_source,
  /// bands, band_step, variable, units, long name and cell methods are theirs); one that is
  /// `timeless` has dimensions (lat, lon) and holds its band bands.first.
  std::vector<ExportJob> companions;
  bool timeless = false;
  int64_t bands_per_year = 1;
  /// The raw bands are `year_part.kept` consecutive bands of every year from band
  /// `year_part.offset` of the year (months 6-8, or a run starting in March): raw band b has
  /// the time of band (b / kept) * bands_per_year + offset + b % kept. Unset: band b's own.
  struct YearPart {
    int64_t offset = 0;
    int64_t kept = 1;
  };
  std::optional<YearPart> year_part;
  Calendar calendar;
  std::string variable = "value";
  std::optional<std::string> units;
  std::optional<std::string> long_name;
  std::string history;             ///< the command line, for NetCDF history
  std::string output;              ///< the temporary file the writer fills
  std::string shown;               ///< the output as the user named it, for messages
  bool keep_nan = false;           ///< NaN pixels keep their bits instead of becoming kFillValue
  mutable int64_t nan_filled = 0;  ///< NaN pixels written as kFillValue, counted by scatter_band
};

/// The band of the time axis (counted from the first year's first band) that raw band `band`
/// stands for.
int64_t time_band(const ExportJob& job, int64_t band);

/// The label of raw band `band`: its date when a first year is known, else "band N".
std::string export_band_label(const ExportJob& job, int64_t band);

/// Reads raw band `band` and spreads it over the full grid (kFillValue where no pixel, and for
/// NaN pixels unless job.keep_nan, counted in job.nan_filled); returns how many pixels held
/// exactly kFillValue (they will read as missing).
int64_t scatter_band(const ExportJob& job, int64_t band, std::vector<float>& full,
                     std::vector<float>& pixels);

/// The writers; each returns how many written pixel values equal kFillValue.
int64_t write_netcdf(const ExportJob& job);
int64_t write_gtiff(const ExportJob& job, ExportFormat format);

/// The whole `rastertools export` command: parse, check, write, rename. Returns the exit status.
int run_export(int argc, char** argv);

}  // namespace interop
