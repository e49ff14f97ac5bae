// cdo, gdalinfo and R's terra read what change and climatology write, each peer started once
// (R's start-up dominates). Inputs hold 10 * month + year index (0..3) at every land cell, so
// the climatology's figures are known exactly: month 1 mean 1.5, deviation sqrt(1.25), annual
// mean 10 * 5.5 + 1.5 = 56.5; the land mask leaves 130 of 648 cells without a value.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "e2e.h"
#include "fixtures.h"
#include "jobs.h"
#include "jobs_support.h"

namespace {

const e2e::InProcess kChange("rastertools-change", jobs::run_change);
const e2e::InProcess kClimatology("rastertools-climatology", jobs::run_climatology);

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Peers, ReadChangeAndClimatology) {
  e2e::TempDir dir;
  jobs_test::write_nc(dir.file("tas_ref.nc"), {.exact = true});
  jobs_test::write_nc(dir.file("tas_fut.nc"), {.first_year = 2071, .seed = 2});
  jobs_test::write_nc(dir.file("pr_ref.nc"), {.var = "pr", .seed = 3});
  jobs_test::write_nc(dir.file("pr_fut.nc"), {.var = "pr", .first_year = 2071, .seed = 4});
  const e2e::Result c =
      e2e::run("rastertools-change",
               {"-o", dir.file("out"), "--ref-years", "1971-1972", "--fut-years", "2073-2074",
                "--param", "tas", "1", dir.file("tas_ref.nc"), dir.file("tas_fut.nc"), "--param",
                "pr", "1", dir.file("pr_ref.nc"), dir.file("pr_fut.nc")});
  ASSERT_EQ(c.status, 0) << c.err;
  const e2e::Result m =
      e2e::run("rastertools-climatology", {dir.file("tas_ref.nc"), "-o", dir.file("clim.nc"),
                                           "--years", "1971-1974", "--sd", "--annual"});
  ASSERT_EQ(m.status, 0) << m.err;

  // cdo: per step and variable "n : date time level size miss : min mean max : name".
  const auto cdo =
      fixtures::peer("cdo -s infon " + fixtures::quoted(dir.file("clim.nc")) + " && cdo -s ntime " +
                     fixtures::quoted(dir.file("out/magnitude_series.nc")));
  ASSERT_EQ(cdo.status, 0) << cdo.err;
  std::istringstream rows(cdo.out);
  std::string line;
  int seen = 0;
  while (std::getline(rows, line)) {
    char name[32] = "";
    double lo = 0, mean = 0, hi = 0;
    int miss = 0;
    if (std::sscanf(line.c_str(), " 1 : %*s %*s %*d %*d %d : %lf %lf %lf : %31s", &miss, &lo, &mean,
                    &hi, name) != 5 &&
        std::sscanf(line.c_str(), " %*d : 1971-01-%*s %*s %*d %*d %d : %lf %lf %lf : %31s", &miss,
                    &lo, &mean, &hi, name) != 5)
      continue;
    const double want = std::string(name) == "tas"      ? 1.5
                        : std::string(name) == "tas_sd" ? 1.1180
                                                        : 56.5;
    EXPECT_EQ(miss, 130) << line;
    EXPECT_NEAR(lo, want, 1e-4) << line;
    EXPECT_NEAR(hi, want, 1e-4) << line;
    ++seen;
  }
  EXPECT_EQ(seen, 3) << cdo.out;  // tas, tas_sd and tas_annual of the first month
  EXPECT_EQ(count_of(cdo.out, "\n"), 12 * 2 + 1 + 1 + 1) << cdo.out;  // + header, annual, ntime
  EXPECT_TRUE(cdo.out.ends_with("\n4\n")) << cdo.out;                 // the reference years

  const auto gdal = fixtures::peer("gdalinfo " + fixtures::quoted(dir.file("out/angle_series.nc")));
  ASSERT_EQ(gdal.status, 0) << gdal.err;
  EXPECT_NE(gdal.out.find("Size is 36, 18"), std::string::npos) << gdal.out;
  EXPECT_EQ(count_of(gdal.out, "\nBand "), 4) << gdal.out;
  EXPECT_NE(gdal.out.find("Origin = (-180.000000000000000,90.000000000000000)"), std::string::npos)
      << gdal.out;

  const std::string script =
      "r <- terra::rast('" + dir.file("out/angle_series.nc") +
      "'); cat(as.vector(terra::ext(r)), terra::nlyr(r), format(terra::time(r), '%Y'), '\\n'); "
      "k <- terra::rast('" +
      dir.file("clim.nc") +
      "', subds = 'tas'); cat(terra::nlyr(k), terra::global(k[[1]], 'max', na.rm = TRUE)[1, 1], "
      "terra::global(k[[1]], 'notNA')[1, 1], '\\n')";
  const auto r = fixtures::peer("Rscript -e " + fixtures::quoted(script));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "-180 180 -90 90 4 1971 1972 1973 1974 \n12 1.5 518 \n");
}

}  // namespace
