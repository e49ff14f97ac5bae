// Time-slice statistics per pixel and area-weighted global statistics over a grid file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "buffer.h"
#include "rasterfile.h"

namespace raster {

/// Per-pixel mean and population standard deviation over all nyear x nbands bands of a block
/// (band y*nbands+b is year y, band b). Double precision; each term is divided by the band
/// count before it is added. `std` may be null, and is then not touched.
void timeseries_mean_bsq_float(const float* data, int64_t npixel, int64_t nyear, int64_t nbands,
                               double* mean, double* std);

/// Area-weighted mean and standard deviation of each group of nbands consecutive bands, over
/// the pixels that the grid file places on an nlat x nlon global grid, each weighted by the
/// cosine of its row's latitude and by natvegfrac. Reads the grid file from its start at every
/// call; pixels whose record could not be read are left off the map.
void global_mean_areaweighted_float(FILE* gridfile, const float* data, int64_t npixel, int64_t nlat,
                                    int64_t nlon, int64_t ngroups, int64_t nbands, double* gmean,
                                    double* gstd, const float* natvegfrac);

/// Where grid-file records land on an nlat x nlon global grid, and the rows' cosine weights.
struct GridGeometry {
  explicit GridGeometry(int64_t nlat_, int64_t nlon_);
  /// Cell of a record (hundredths of a degree); false when it falls outside the grid.
  bool cell_of(int16_t lon100, int16_t lat100, int64_t* row, int64_t* col) const;
  /// Cosine weight of row r (row 0 northernmost).
  double row_weight(int64_t r) const;

  int64_t nlat;
  int64_t nlon;
  float res;   ///< cell size in degrees, single precision
  float lat0;  ///< res / 2 - 90, single precision
};

/// Grid records (lon x 100, lat x 100 as int16, two values per pixel) and how many were read.
struct GridRecords {
  Buffer<int16_t> values;
  int64_t count = 0;
};

/// Reads up to npixel grid records from the start of the file; only records read whole count.
GridRecords read_grid_records(FILE* gridfile, int64_t npixel);

/// A grid file read once: only the cells that hold a pixel, in map order, with their row
/// weights. stats() then visits just those pixels and gives the same bits as
/// global_mean_areaweighted_float on the same inputs. Up to kSideBySide groups are swept
/// together, each group's running sums still strictly in map order, so that the additions of
/// several groups overlap instead of waiting on one chain.
class AreaWeightedGrid {
 public:
  static constexpr int64_t kSideBySide = 4;

  /// Reads the first npixel records of the grid file from its start.
  AreaWeightedGrid(const InFile& gridfile, int64_t npixel, int64_t nlat, int64_t nlon);

  /// As global_mean_areaweighted_float: ngroups groups of nbands consecutive bands of data.
  void stats(const float* data, int64_t npixel, int64_t ngroups, int64_t nbands, double* gmean,
             double* gstd, const float* natvegfrac) const;
  /// The same for groups that need not be adjacent: group g's bands start at groups[g], one
  /// band every npixel values. The counts in the order of stats().
  void stats_groups(const float* const* groups, int64_t npixel, int64_t ngroups, int64_t nbands,
                    double* gmean, double* gstd, const float* natvegfrac) const;

  /// Mapped pixels, in row-major cell order.
  int64_t size() const { return n_; }

 private:
  Buffer<int64_t> pixel_;  ///< pixel index of each mapped cell
  Buffer<double> weight_;  ///< row weight of each mapped cell
  int64_t n_ = 0;
};

}  // namespace raster
