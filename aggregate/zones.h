// The zones of rastertools fldstat: all pixels, latitude bands, or regions (a raster of region
// ids on the input's lattice, or polygons of a vector file rasterised onto it), each a list of
// pixels in pixel order; and the per-pixel weights.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "band_source.h"
#include "grid.h"

namespace aggregate {

struct Zone {
  std::string name;
  std::vector<int64_t> pixels;  ///< ascending
};

struct Zones {
  std::vector<Zone> zones;
  int64_t outside = 0;  ///< pixels in no zone
};

/// One zone "global" of every pixel.
Zones global_zone(int64_t npixel);

/// Bands of `deg` degrees from 90N southwards (the last one ends at 90S), each holding the
/// pixels whose cell centre lies in it (a centre on a boundary goes to the band south of it),
/// named like "30N-60N", "0-30N", "30S-0"; bands without a pixel are left out.
Zones latitude_zones(const interop::PlacedGrid& grid, double deg);

/// "lat:DEG" -> DEG (positive, at most 180; a fraction such as 1/2 allowed); a usage ToolError
/// otherwise.
double parse_zones(const std::string& text);

/// The first band of `other` placed on the pixels of `grid` by cell: the value of the pixel of
/// `other` in the same cell, NaN where `other` has no pixel (counted in *missing). A ToolError
/// naming `what` and both files when the two are not on the same lattice.
std::vector<float> values_on_grid(const BandSource& other, const interop::PlacedGrid& grid,
                                  const std::string& what, int64_t* missing);

/// Regions from a raster of whole-number region ids (NaN: no region), zones in ascending id,
/// named by the id. A ToolError names the first pixel whose id is not a whole number.
Zones raster_regions(const std::vector<float>& ids, const std::string& file);

/// Regions from the polygons of the first layer of a vector file (GeoPackage, shapefile,
/// GeoJSON, any GDAL vector format), each rasterised onto the lattice of `grid` by cell centre
/// (GDALRasterizeGeometries without ALL_TOUCHED). Named by `name_field` (default: a field
/// called "name", any case; else "feature FID"); features of the same name make one region, in
/// the order of their first feature. A pixel may lie in several regions. Geometries in another
/// reference system are transformed to longitude/latitude. Warnings under `program` count
/// features without a geometry and regions without a pixel.
Zones vector_regions(const std::string& path, const std::optional<std::string>& name_field,
                     const interop::PlacedGrid& grid, const char* program);

/// Whether GDAL opens `path` as a vector file.
bool is_vector_file(const std::string& path);

/// The western edge of the lattice's column 0 and the northern edge of its row 0, in degrees.
struct LatticeOrigin {
  double west = -180.0;
  double north = 90.0;
};
LatticeOrigin lattice_origin(const interop::GlobalGrid& g);

/// The cell edges of a pixel's cell on its lattice, in degrees (latitudes within the poles).
struct CellBox {
  double west = 0, east = 0, north = 0, south = 0;
};
CellBox cell_box(const interop::GlobalGrid& g, int64_t cell);

enum class Weights { area, coslat, none };
/// area, coslat or none; a usage ToolError otherwise.
Weights parse_weights(const std::string& text);
const char* weights_name(Weights w);

/// Each pixel's weight: its cell's area in m^2 (raster::pixelarea on the cell's edges), the
/// cosine of its cell centre's latitude, or 1.
std::vector<double> pixel_weights(const interop::PlacedGrid& grid, Weights w);

}  // namespace aggregate
