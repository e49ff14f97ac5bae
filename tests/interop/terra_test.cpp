// R's terra reads the exported NetCDF and GeoTIFF files with the extent of the whole globe. A
// test program of its own: loading terra takes R several seconds of CPU, which ctest can then
// overlap with the other tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e.h"
#include "fixtures.h"

namespace {

TEST(Terra, ReadsNetcdfAndGeotiffWithTheWholeGlobe) {
  e2e::TempDir dir;
  const fixtures::GridCase& g = fixtures::bundled_grids()[0];
  e2e::write_floats(dir.file("tas.bin"), fixtures::sample_bands(g.npixel, 3));
  for (const char* out : {"tas.nc", "tas.tif"}) {
    const e2e::Result r =
        e2e::run("rastertools-export", {dir.file("tas.bin"), "-o", dir.file(out), "--grid",
                                        e2e::data_path(g.file), "--var", "tas"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  // One R session for both files.
  const std::string script =
      "for (f in c('" + dir.file("tas.nc") + "', '" + dir.file("tas.tif") +
      "')) { r <- terra::rast(f); cat(as.vector(terra::ext(r)), terra::nlyr(r), "
      "terra::res(r), '\\n') }";
  const auto r = fixtures::peer("Rscript -e " + fixtures::quoted(script));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "-180 180 -90 90 3 2 2 \n-180 180 -90 90 3 2 2 \n");
}

}  // namespace
