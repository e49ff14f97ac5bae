// Regions from the polygons of a vector file, rasterised onto the input's lattice with GDAL.
#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>

#include "report.h"
#include "tool.h"
#include "zones.h"

namespace aggregate {

namespace {

using interop::ToolError;

struct DatasetCloser {
  void operator()(GDALDatasetH d) const { GDALClose(d); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;
struct GeometryDeleter {
  void operator()(OGRGeometryH g) const { OGR_G_DestroyGeometry(g); }
};
using Geometry = std::unique_ptr<void, GeometryDeleter>;
struct FeatureDeleter {
  void operator()(OGRFeatureH f) const { OGR_F_Destroy(f); }
};
using Feature = std::unique_ptr<void, FeatureDeleter>;
struct SrsDeleter {
  void operator()(OGRSpatialReferenceH s) const { OSRDestroySpatialReference(s); }
};
using Srs = std::unique_ptr<void, SrsDeleter>;
struct TransformDeleter {
  void operator()(OGRCoordinateTransformationH t) const { OCTDestroyCoordinateTransformation(t); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

Dataset open_vector(const std::string& path) {
  GDALAllRegister();
  CPLPushErrorHandler(CPLQuietErrorHandler);
  Dataset ds(
      GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
  CPLPopErrorHandler();
  return ds;
}

// The transformation of the layer's geometries to longitude/latitude (WGS 84), or none when
// they are in it already (or the layer names no reference system).
Transform to_lonlat(OGRLayerH layer, const std::string& path) {
  OGRSpatialReferenceH given = OGR_L_GetSpatialRef(layer);
  if (given == nullptr) return nullptr;
  Srs src(OSRClone(given));
  Srs dst(OSRNewSpatialReference(nullptr));
  OSRSetWellKnownGeogCS(dst.get(), "WGS84");
  OSRSetAxisMappingStrategy(src.get(), OAMS_TRADITIONAL_GIS_ORDER);
  OSRSetAxisMappingStrategy(dst.get(), OAMS_TRADITIONAL_GIS_ORDER);
  if (OSRIsSame(src.get(), dst.get())) return nullptr;
  Transform t(OCTNewCoordinateTransformation(src.get(), dst.get()));
  if (!t)
    throw ToolError("cannot transform the polygons of " + path +
                    " to longitude/latitude: " + CPLGetLastErrorMsg());
  return t;
}

int name_index(OGRFeatureDefnH defn, const std::optional<std::string>& field,
               const std::string& path) {
  const int i = OGR_FD_GetFieldIndex(defn, field.value_or("name").c_str());
  if (i >= 0 || !field) return i;
  std::string names;
  for (int k = 0; k < OGR_FD_GetFieldCount(defn); ++k)
    names += std::string(k ? ", " : "") + OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(defn, k));
  throw interop::usage_error("--region-name " + *field + ": " + path + " has no such attribute" +
                             (names.empty() ? " (it has none)" : " (it has " + names + ")"));
}

bool is_polygon(OGRGeometryH g) {
  const OGRwkbGeometryType t = wkbFlatten(OGR_G_GetGeometryType(g));
  return t == wkbPolygon || t == wkbMultiPolygon || t == wkbCurvePolygon || t == wkbMultiSurface;
}

// The cells whose centre lies inside the polygon: rasterised on a window of the lattice over
// its envelope (columns past either end of the lattice wrap round), as pixels of the grid.
std::vector<int64_t> burn(OGRGeometryH g, const interop::PlacedGrid& grid,
                          const std::unordered_map<int64_t, int64_t>& pixel_of_cell,
                          const std::string& path) {
  const interop::GlobalGrid& lat = grid.global;
  const LatticeOrigin o = lattice_origin(lat);
  OGREnvelope env;
  OGR_G_GetEnvelope(g, &env);
  const auto c0 = static_cast<int64_t>(std::floor((env.MinX - o.west) / lat.res));
  const auto c1 = std::max(c0 + 1, static_cast<int64_t>(std::ceil((env.MaxX - o.west) / lat.res)));
  const int64_t r0 =
      std::max<int64_t>(0, static_cast<int64_t>(std::floor((o.north - env.MaxY) / lat.res)));
  const int64_t r1 = std::min(
      lat.nlat, std::max(r0 + 1, static_cast<int64_t>(std::ceil((o.north - env.MinY) / lat.res))));
  std::vector<int64_t> pixels;
  if (r0 >= lat.nlat || r1 <= 0) return pixels;
  const int64_t ncol = c1 - c0, nrow = r1 - r0;
  if (ncol > 4 * lat.nlon || ncol * nrow > (int64_t{1} << 31))
    throw ToolError("a polygon of " + path + " spans more than the globe");
  Dataset mem(GDALCreate(GDALGetDriverByName("MEM"), "", static_cast<int>(ncol),
                         static_cast<int>(nrow), 1, GDT_Byte, nullptr));
  if (!mem)
    throw ToolError(std::string("cannot make a raster to burn polygons into: ") +
                    CPLGetLastErrorMsg());
  double gt[6] = {o.west + static_cast<double>(c0) * lat.res,  lat.res, 0,
                  o.north - static_cast<double>(r0) * lat.res, 0,       -lat.res};
  GDALSetGeoTransform(mem.get(), gt);
  const int band = 1;
  const double value = 1;
  OGRGeometryH geoms[1] = {g};
  if (GDALRasterizeGeometries(mem.get(), 1, &band, 1, geoms, nullptr, nullptr, &value, nullptr,
                              nullptr, nullptr) != CE_None)
    throw ToolError("cannot rasterise a polygon of " + path + ": " + CPLGetLastErrorMsg());
  std::vector<uint8_t> cells(static_cast<size_t>(ncol * nrow));
  if (GDALRasterIO(GDALGetRasterBand(mem.get(), 1), GF_Read, 0, 0, static_cast<int>(ncol),
                   static_cast<int>(nrow), cells.data(), static_cast<int>(ncol),
                   static_cast<int>(nrow), GDT_Byte, 0, 0) != CE_None)
    throw ToolError(std::string("cannot read the rasterised polygons: ") + CPLGetLastErrorMsg());
  for (int64_t i = 0; i < nrow; ++i) {
    for (int64_t j = 0; j < ncol; ++j) {
      if (cells[static_cast<size_t>(i * ncol + j)] == 0) continue;
      const int64_t col = ((c0 + j) % lat.nlon + lat.nlon) % lat.nlon;
      const auto it = pixel_of_cell.find((r0 + i) * lat.nlon + col);
      if (it != pixel_of_cell.end()) pixels.push_back(it->second);
    }
  }
  return pixels;
}

std::string feature_name(OGRFeatureH f, int field) {
  if (field >= 0 && OGR_F_IsFieldSetAndNotNull(f, field)) return OGR_F_GetFieldAsString(f, field);
  return "feature " + std::to_string(OGR_F_GetFID(f));
}

}  // namespace

bool is_vector_file(const std::string& path) { return open_vector(path) != nullptr; }

Zones vector_regions(const std::string& path, const std::optional<std::string>& name_field,
                     const interop::PlacedGrid& grid, const char* program) {
  const Dataset ds = open_vector(path);
  if (!ds) throw ToolError("cannot open " + path + " as a vector file");
  const int nlayers = GDALDatasetGetLayerCount(ds.get());
  if (nlayers == 0) throw ToolError(path + " holds no layer");
  OGRLayerH layer = GDALDatasetGetLayer(ds.get(), 0);
  if (nlayers > 1)
    raster::print_tool_warning(program,
                               "%s holds %d layers: the regions are those of the first, %s",
                               path.c_str(), nlayers, OGR_L_GetName(layer));
  const Transform transform = to_lonlat(layer, path);
  const int field = name_index(OGR_L_GetLayerDefn(layer), name_field, path);

  std::unordered_map<int64_t, int64_t> pixel_of_cell;
  pixel_of_cell.reserve(grid.cells.size());
  for (size_t p = 0; p < grid.cells.size(); ++p)
    pixel_of_cell.emplace(grid.cells[p], static_cast<int64_t>(p));

  Zones z;
  std::unordered_map<std::string, size_t> zone_of_name;
  int64_t no_polygon = 0;
  OGR_L_ResetReading(layer);
  while (const Feature f{OGR_L_GetNextFeature(layer)}) {
    OGRGeometryH given = OGR_F_GetGeometryRef(f.get());
    if (given == nullptr || OGR_G_IsEmpty(given) || !is_polygon(given)) {
      ++no_polygon;
      continue;
    }
    const Geometry g(OGR_G_Clone(given));
    if (transform && OGR_G_Transform(g.get(), transform.get()) != OGRERR_NONE)
      throw ToolError("cannot transform feature " + std::to_string(OGR_F_GetFID(f.get())) + " of " +
                      path + " to longitude/latitude");
    const std::string name = feature_name(f.get(), field);
    auto [it, added] = zone_of_name.emplace(name, z.zones.size());
    if (added) z.zones.push_back({name, {}});
    std::vector<int64_t> px = burn(g.get(), grid, pixel_of_cell, path);
    std::vector<int64_t>& members = z.zones[it->second].pixels;
    members.insert(members.end(), px.begin(), px.end());
  }
  if (no_polygon > 0)
    raster::print_tool_warning(program, "%lld feature(s) of %s hold no polygon and are left out",
                               static_cast<long long>(no_polygon), path.c_str());
  if (z.zones.empty()) throw ToolError(path + " holds no polygon");
  std::vector<uint8_t> in_zone(grid.cells.size(), 0);
  for (Zone& zone : z.zones) {
    std::sort(zone.pixels.begin(), zone.pixels.end());
    zone.pixels.erase(std::unique(zone.pixels.begin(), zone.pixels.end()), zone.pixels.end());
    for (const int64_t p : zone.pixels) in_zone[static_cast<size_t>(p)] = 1;
    if (zone.pixels.empty())
      raster::print_tool_warning(program, "region %s of %s holds no pixel", zone.name.c_str(),
                                 path.c_str());
  }
  z.outside = static_cast<int64_t>(std::count(in_zone.begin(), in_zone.end(), 0));
  return z;
}

}  // namespace aggregate
