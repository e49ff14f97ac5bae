#include "stats.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "e2e.h"
#include "rasterfile.h"

using namespace raster;

namespace {

// Writes grid records (lon*100, lat*100) and opens the file for reading.
struct GridFile {
  e2e::TempDir dir;
  InFile in;
  FILE* f = nullptr;
  explicit GridFile(const std::vector<int16_t>& rec) {
    std::string bytes(rec.size() * 2, '\0');
    if (!rec.empty()) std::memcpy(bytes.data(), rec.data(), bytes.size());
    e2e::write_bytes(dir.file("grid"), bytes);
    in = InFile::open(dir.file("grid").c_str());
    f = in.get();
  }
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(TimeseriesMean, TwoYearsPopulationStd) {
  const std::vector<float> data = {1, 3};
  double mean = -1;
  double std = -1;
  timeseries_mean_bsq_float(data.data(), 1, 2, 1, &mean, &std);
  EXPECT_EQ(mean, 2.0);
  EXPECT_EQ(std, 1.0);
}

TEST(TimeseriesMean, NoBandsGiveZeros) {
  const float unused = 7;
  double mean[2] = {5, 5};
  double std[2] = {5, 5};
  timeseries_mean_bsq_float(&unused, 2, 0, 12, mean, std);
  EXPECT_EQ(mean[0], 0.0);
  EXPECT_EQ(mean[1], 0.0);
  EXPECT_EQ(std[0], 0.0);
  EXPECT_EQ(std[1], 0.0);
}

TEST(TimeseriesMean, WithoutStdOnlyMeansAreWritten) {
  const std::vector<float> data = {1, 10, 3, 20};  // 2 pixels, 2 bands
  double mean[2] = {};
  timeseries_mean_bsq_float(data.data(), 2, 1, 2, mean, nullptr);
  EXPECT_EQ(mean[0], 2.0);
  EXPECT_EQ(mean[1], 15.0);
}

TEST(TimeseriesMean, EachTermIsDividedBeforeItIsAdded) {
  // Dividing the sum instead would give 0.2000000054637591, one bit lower.
  const std::vector<float> data = {0.1f, 0.2f, 0.3f};
  double mean = 0;
  timeseries_mean_bsq_float(data.data(), 1, 3, 1, &mean, nullptr);
  EXPECT_EQ(mean, 0.20000000546375912);
}

TEST(TimeseriesMean, NanPropagatesOnlyToItsPixel) {
  const std::vector<float> data = {NAN, 1, 2, 3};
  double mean[2] = {};
  double std[2] = {};
  timeseries_mean_bsq_float(data.data(), 2, 2, 1, mean, std);
  EXPECT_TRUE(std::isnan(mean[0]));
  EXPECT_TRUE(std::isnan(std[0]));
  EXPECT_EQ(mean[1], 2.0);
}

TEST(GridGeometry, HalfDegreeMappingExamples) {
  const GridGeometry g(360, 720);
  int64_t r = 0;
  int64_t c = 0;
  ASSERT_TRUE(g.cell_of(-17950, 8950, &r, &c));
  EXPECT_EQ(c, 361);
  EXPECT_EQ(r, 1);
  ASSERT_TRUE(g.cell_of(0, 9000, &r, &c));
  EXPECT_EQ(c, 0);
  EXPECT_EQ(r, 0);
  ASSERT_TRUE(g.cell_of(-50, 0, &r, &c));
  EXPECT_EQ(c, 719);
  // The southern edge -90 gives k = 0 and row nlat: off the map.
  EXPECT_FALSE(g.cell_of(0, -9000, &r, &c));
  EXPECT_EQ(r, 360);
}

TEST(GridGeometry, SinglePrecisionRowQuotient) {
  for (int64_t n : {180, 360, 540, 720, 1080, 2160, 4320}) {
    const GridGeometry g(n, 2 * n);
    EXPECT_EQ(static_cast<double>(180.0f / g.res), static_cast<double>(n)) << n;
  }
  for (int64_t n : {675, 1350, 2700, 5400, 10800}) {
    const GridGeometry g(n, 2 * n);
    EXPECT_LT(static_cast<double>(180.0f / g.res), static_cast<double>(n)) << n;
  }
  const GridGeometry g(675, 1350);
  EXPECT_EQ(static_cast<double>(180.0f / g.res), 674.9999389648438);
  int64_t r = 0;
  int64_t c = 0;
  // Southern edge: k = 0 gives row 674 here, where an exact quotient would leave the map.
  ASSERT_TRUE(g.cell_of(0, -9000, &r, &c));
  EXPECT_EQ(r, 674);
  // Northern edge: k = nlat still gives row 0 (truncation toward zero of -0.00006).
  ASSERT_TRUE(g.cell_of(0, 9000, &r, &c));
  EXPECT_EQ(r, 0);
}

TEST(GlobalMean, OneRowWithUnitFractionsIsThePlainAverage) {
  GridFile grid({100, 4525, 200, 4525, 300, 4525});    // three pixels in one 0.5-degree row
  const std::vector<float> data = {1, 2, 6, 3, 4, 8};  // two bands
  const std::vector<float> frac = {1, 1, 1};
  double m = 0;
  double s = 0;
  global_mean_areaweighted_float(grid.f, data.data(), 3, 360, 720, 1, 2, &m, &s, frac.data());
  EXPECT_DOUBLE_EQ(m, 4.0);
  EXPECT_DOUBLE_EQ(s, std::sqrt((9 + 4 + 4 + 1 + 0 + 16) / 6.0));
}

TEST(GlobalMean, LaterPixelInTheSameCellReplacesTheEarlier) {
  GridFile grid({100, 4525, 100, 4525});
  const std::vector<float> data = {100, 3};
  const std::vector<float> frac = {1, 1};
  double m = 0;
  double s = -1;
  global_mean_areaweighted_float(grid.f, data.data(), 2, 360, 720, 1, 1, &m, &s, frac.data());
  EXPECT_EQ(m, 3.0);
  EXPECT_EQ(s, 0.0);
}

TEST(GlobalMean, RowsAreWeightedByCosineOfLatitude) {
  // Pixels on the equator row and at 60 N: weights cos(0.25 deg) and cos(59.75 deg).
  GridFile grid({0, 25, 0, 6025});
  const std::vector<float> data = {0, 1};
  const std::vector<float> frac = {1, 1};
  double m = 0;
  double s = 0;
  global_mean_areaweighted_float(grid.f, data.data(), 2, 360, 720, 1, 1, &m, &s, frac.data());
  // Records at 0.25 N and 60.25 N land in rows 180 and 60, centred at 0.25 S and 59.75 N.
  const double w0 = std::cos(0.25 / 180 * 3.141592653589793);
  const double w1 = std::cos(59.75 / 180 * 3.141592653589793);
  EXPECT_NEAR(m, w1 / (w0 + w1), 1e-15);
}

TEST(GlobalMean, ZeroWeightGivesNan) {
  GridFile grid({100, 4525});
  const std::vector<float> data = {5};
  const std::vector<float> frac = {0};
  double m = 0;
  double s = 0;
  global_mean_areaweighted_float(grid.f, data.data(), 1, 360, 720, 1, 1, &m, &s, frac.data());
  EXPECT_TRUE(std::isnan(m));
  EXPECT_TRUE(std::isnan(s));
}

TEST(GlobalMean, SecondGroupUsesItsOwnBands) {
  GridFile grid({100, 4525});
  std::vector<float> data(24);
  for (int b = 0; b < 24; ++b) data[static_cast<std::size_t>(b)] = b < 12 ? 1.0f : 5.0f;
  const std::vector<float> frac = {1};
  double m[2] = {};
  double s[2] = {};
  global_mean_areaweighted_float(grid.f, data.data(), 1, 360, 720, 2, 12, m, s, frac.data());
  EXPECT_EQ(m[0], 1.0);
  EXPECT_EQ(m[1], 5.0);
}

TEST(GlobalMean, ShortGridFileLeavesUnreadPixelsOffTheMap) {
  GridFile grid({100, 4525, 200, 4525, 300});  // third record incomplete
  const std::vector<float> data = {2, 4, 1e30f};
  const std::vector<float> frac = {1, 1, 1};
  double m = 0;
  double s = 0;
  global_mean_areaweighted_float(grid.f, data.data(), 3, 360, 720, 1, 1, &m, &s, frac.data());
  EXPECT_EQ(m, 3.0);
  AreaWeightedGrid prepared(grid.in, 3, 360, 720);
  EXPECT_EQ(prepared.size(), 2);
}

TEST(GlobalMean, LeavesGridStreamAfterLastRecordRead) {
  GridFile grid({100, 4525, 200, 4525, 300, 4525});
  const std::vector<float> data = {1, 2};
  const std::vector<float> frac = {1, 1};
  double m = 0;
  double s = 0;
  std::fseek(grid.f, 0, SEEK_END);
  global_mean_areaweighted_float(grid.f, data.data(), 2, 360, 720, 1, 1, &m, &s, frac.data());
  EXPECT_EQ(std::ftell(grid.f), 8);
  EXPECT_EQ(m, 1.5);
}

// The prepared grid must give the very bits of the per-call routine: random grids with
// duplicates, out-of-range records, zero and NaN-free fractions, several resolutions.
TEST(AreaWeightedGrid, BitIdenticalToPerCallRoutine) {
  std::mt19937_64 rng(20261208);
  for (const int64_t nlat : {36, 90, 180, 360, 675, 720}) {
    for (int trial = 0; trial < 4; ++trial) {
      const int64_t npixel = 50 + static_cast<int64_t>(rng() % 400);
      const int64_t nbands = 1 + static_cast<int64_t>(rng() % 13);
      const int64_t ngroups = 1 + static_cast<int64_t>(rng() % 9);  // batches of 4 and a rest
      std::uniform_int_distribution<int> lon(-18000, 17999);
      std::uniform_int_distribution<int> lat(-9000, 9000);
      std::vector<int16_t> rec;
      for (int64_t i = 0; i < npixel; ++i) {
        if (i > 0 && rng() % 8 == 0) {  // duplicate of an earlier record
          const auto j = static_cast<std::size_t>(rng() % static_cast<uint64_t>(i));
          rec.push_back(rec[2 * j]);
          rec.push_back(rec[2 * j + 1]);
        } else if (rng() % 16 == 0) {  // out of range
          rec.push_back(static_cast<int16_t>(rng() % 2 ? 32000 : -32000));
          rec.push_back(static_cast<int16_t>(lat(rng)));
        } else {
          rec.push_back(static_cast<int16_t>(lon(rng)));
          rec.push_back(static_cast<int16_t>(lat(rng)));
        }
      }
      GridFile grid(rec);
      std::uniform_real_distribution<float> val(-50.0f, 300.0f);
      std::vector<float> data(static_cast<std::size_t>(npixel * nbands * ngroups));
      for (auto& v : data) v = val(rng);
      std::vector<float> frac(static_cast<std::size_t>(npixel));
      for (auto& f : frac) f = rng() % 5 == 0 ? 0.0f : static_cast<float>(rng() % 1000) / 999.0f;

      std::vector<double> m1(static_cast<std::size_t>(ngroups)), s1(m1.size()), m2(m1.size()),
          s2(m1.size());
      global_mean_areaweighted_float(grid.f, data.data(), npixel, nlat, 2 * nlat, ngroups, nbands,
                                     m1.data(), s1.data(), frac.data());
      const AreaWeightedGrid prepared(grid.in, npixel, nlat, 2 * nlat);
      prepared.stats(data.data(), npixel, ngroups, nbands, m2.data(), s2.data(), frac.data());
      // The same groups in reverse memory order, passed by pointer.
      std::vector<const float*> groups;
      for (int64_t g = 0; g < ngroups; ++g) groups.push_back(data.data() + g * nbands * npixel);
      std::vector<float> reversed(data.size());
      for (int64_t g = 0; g < ngroups; ++g) {
        std::copy_n(groups[static_cast<std::size_t>(g)], nbands * npixel,
                    reversed.begin() + (ngroups - 1 - g) * nbands * npixel);
        groups[static_cast<std::size_t>(g)] = reversed.data() + (ngroups - 1 - g) * nbands * npixel;
      }
      std::vector<double> m3(m1.size()), s3(m1.size());
      prepared.stats_groups(groups.data(), npixel, ngroups, nbands, m3.data(), s3.data(),
                            frac.data());
      for (std::size_t g = 0; g < m1.size(); ++g) {
        EXPECT_TRUE(same_bits(m1[g], m2[g])) << nlat << " " << trial << " " << m1[g];
        EXPECT_TRUE(same_bits(s1[g], s2[g])) << nlat << " " << trial << " " << s1[g];
        EXPECT_TRUE(same_bits(m1[g], m3[g])) << nlat << " " << trial << " " << g;
        EXPECT_TRUE(same_bits(s1[g], s3[g])) << nlat << " " << trial << " " << g;
      }
    }
  }
}

TEST(AreaWeightedGrid, RealHalfDegreeLandGridBothVariants) {
  for (const char* name : {"grid_0.5deg_centre.bin", "grid_0.5deg_northedge.bin"}) {
    const InFile grid = InFile::open(e2e::data_path(name).c_str());
    FILE* f = grid.get();
    const int64_t npixel = 61534;
    const AreaWeightedGrid prepared(grid, npixel, 360, 720);
    EXPECT_EQ(prepared.size(), npixel) << name;  // no pixel off the map, no shared cell
    std::vector<float> data(static_cast<std::size_t>(npixel * 12));
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i % 977) * 0.37f;
    const std::vector<float> frac(static_cast<std::size_t>(npixel), 0.75f);
    double m1 = 0, s1 = 0, m2 = 0, s2 = 0;
    global_mean_areaweighted_float(f, data.data(), npixel, 360, 720, 1, 12, &m1, &s1, frac.data());
    prepared.stats(data.data(), npixel, 1, 12, &m2, &s2, frac.data());
    EXPECT_TRUE(same_bits(m1, m2)) << name;
    EXPECT_TRUE(same_bits(s1, s2)) << name;
  }
}

// Row weights are the correctly rounded cosines of the rows' centre latitudes (checked here at
// 200 bits, then rounded), at every row of the resolutions the field uses; the 0.5 degree rows
// at 73.75 N and S are among those where the C library's variants disagree.
TEST(GridGeometry, RowWeightsAreCorrectlyRounded) {
  for (const double res : {2.0, 0.5, 0.25, 0.1, 1.0 / 12}) {
    const auto nlat = static_cast<int64_t>(180.0 / res + 0.0001);
    const raster::GridGeometry geo(nlat, 2 * nlat);
    for (int64_t r = 0; r < nlat; ++r) {
      const float x = static_cast<float>(r) * geo.res + geo.lat0;
      mpfr_t v;
      mpfr_init2(v, 200);
      mpfr_set_d(v, static_cast<double>(x) / 180 * 3.141592653589793, MPFR_RNDN);
      mpfr_cos(v, v, MPFR_RNDN);
      const double want = mpfr_get_d(v, MPFR_RNDN);
      mpfr_clear(v);
      ASSERT_EQ(geo.row_weight(r), want) << "res " << res << " row " << r;
    }
  }
}

TEST(PixelArea, SinesAreCorrectlyRounded) {
  // A 0.5 degree cell from 73.5 to 74 N: the area from 200-bit sines, rounded as the routine
  // rounds each step.
  auto sin200 = [](double x) {
    mpfr_t v;
    mpfr_init2(v, 200);
    mpfr_set_d(v, x, MPFR_RNDN);
    mpfr_sin(v, v, MPFR_RNDN);
    const double d = mpfr_get_d(v, MPFR_RNDN);
    mpfr_clear(v);
    return d;
  };
  constexpr double pi = 3.141592653589793;
  for (const double lat : {73.75, -73.75, 0.25, 45.0, 89.75}) {
    const double n = lat + 0.25;
    const double s = lat - 0.25;
    const double a = (10.5 * pi) / 180 + (10.0 * pi) / (-180);
    const double want =
        (sin200((n * pi) / 180) + sin200((s * pi) / (-180))) * (a * 4.05897684201e13);
    EXPECT_EQ(raster::pixelarea(10.5, 10.0, n, s), want) << lat;
  }
}
