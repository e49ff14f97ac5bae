// The demo's sample generator on the 2 degree land grid: reproducible bytes, values in their
// physical ranges, and the patterns the demo's maps are meant to show (thresholds well inside
// the gaps the generator's formulas give, so that they test the patterns, not the decimals).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

constexpr int kYears = 2;
const char* const kGrid = "grid_2deg_centre.bin";

std::vector<double> latitudes() {
  const std::string bytes = e2e::read_bytes(e2e::data_path(kGrid));
  std::vector<double> lat(bytes.size() / 4);
  for (std::size_t p = 0; p < lat.size(); ++p) {
    const auto lo = static_cast<unsigned char>(bytes[4 * p + 2]);
    const auto hi = static_cast<unsigned char>(bytes[4 * p + 3]);
    lat[p] = static_cast<int16_t>(lo | (hi << 8)) / 100.0;
  }
  return lat;
}

class Sample : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new e2e::TempDir;
    const e2e::Result r = generate(dir_->path(), "1");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.err, "");
  }
  static void TearDownTestSuite() { delete dir_; }
  static e2e::Result generate(const std::string& dir, const char* seed) {
    return e2e::run(SAMPLEGEN, {e2e::data_path(kGrid), "2", dir, "--years", std::to_string(kYears),
                                "--seed", seed});
  }
  static std::vector<float> file(const std::string& name) {
    return e2e::read_floats(dir_->file(name));
  }
  // Mean of band `band` over the pixels whose latitude passes `where`.
  static double mean(const std::vector<float>& v, int band,
                     const std::function<bool(double)>& where) {
    const std::vector<double> lat = latitudes();
    double sum = 0;
    int n = 0;
    for (std::size_t p = 0; p < lat.size(); ++p) {
      if (!where(lat[p])) continue;
      sum += static_cast<double>(v[static_cast<std::size_t>(band) * lat.size() + p]);
      ++n;
    }
    EXPECT_GT(n, 50);
    return sum / n;
  }
  static e2e::TempDir* dir_;
};
e2e::TempDir* Sample::dir_ = nullptr;

const auto tropics = [](double lat) { return std::fabs(lat) < 10; };
const auto north = [](double lat) { return lat > 50; };
const auto south = [](double lat) { return lat < -25; };

TEST_F(Sample, EveryFileHasItsBandsAndValuesInRange) {
  const std::size_t npixel = latitudes().size();
  struct Range {
    const char* name;
    double lo, hi;
  };
  for (const Range& r : {Range{"tas_1971-1972.bin", 200, 330}, Range{"tas_2071-2072.bin", 200, 330},
                         Range{"pr_1971-1972.bin", 0, 2000}, Range{"pr_2071-2072.bin", 0, 2000},
                         Range{"npp_1971-1972.bin", 0, 400}, Range{"npp_2071-2072.bin", 0, 400},
                         Range{"natveg_fraction.bin", 0, 1}}) {
    const std::vector<float> v = file(r.name);
    const std::size_t bands = std::string(r.name).rfind("natveg", 0) == 0 ? 1 : 12 * kYears;
    ASSERT_EQ(v.size(), bands * npixel) << r.name;
    for (const float x : v) {
      const auto d = static_cast<double>(x);
      ASSERT_TRUE(d >= r.lo && d <= r.hi) << r.name << ": " << d;
    }
  }
}

TEST_F(Sample, SameArgumentsSameBytesAndTheSeedMatters) {
  e2e::TempDir again, other;
  ASSERT_EQ(generate(again.path(), "1").status, 0);
  ASSERT_EQ(generate(other.path(), "2").status, 0);
  for (const char* f : {"tas_2071-2072.bin", "pr_1971-1972.bin", "natveg_fraction.bin"}) {
    EXPECT_EQ(e2e::read_bytes(again.file(f)), e2e::read_bytes(dir_->file(f))) << f;
    EXPECT_NE(e2e::read_bytes(other.file(f)), e2e::read_bytes(dir_->file(f))) << f;
  }
}

TEST_F(Sample, TemperatureFallsPolewardsWithOppositeSeasons) {
  const std::vector<float> tas = file("tas_1971-1972.bin");
  const int jan = 0, jul = 6;
  EXPECT_GT(mean(tas, jul, tropics) - mean(tas, jul, north), 8);
  EXPECT_GT(mean(tas, jan, tropics) - mean(tas, jan, north), 30);
  EXPECT_GT(mean(tas, jul, north) - mean(tas, jan, north), 15);
  EXPECT_GT(mean(tas, jan, south) - mean(tas, jul, south), 4);
}

TEST_F(Sample, RainInTheTropicsDryBeltsAndTheFutureWarmerInTheNorth) {
  const std::vector<float> pr = file("pr_1971-1972.bin");
  const auto dry_belt = [](double lat) { return std::fabs(lat) > 18 && std::fabs(lat) < 32; };
  EXPECT_GT(mean(pr, 0, tropics), 2 * mean(pr, 0, dry_belt));
  EXPECT_GT(mean(pr, 6, tropics), 2 * mean(pr, 6, dry_belt));

  const std::vector<float> now = file("tas_1971-1972.bin");
  const std::vector<float> later = file("tas_2071-2072.bin");
  const double warming_tropics = mean(later, 0, tropics) - mean(now, 0, tropics);
  const double warming_north = mean(later, 0, north) - mean(now, 0, north);
  EXPECT_GT(warming_tropics, 1.0);
  EXPECT_GT(warming_north, 1.5 * warming_tropics);

  const std::vector<float> npp = file("npp_1971-1972.bin");
  EXPECT_GT(mean(npp, 6, north), 3 * mean(npp, 0, north));  // a northern growing season
}

TEST(SampleUse, BadArgumentsAreRefused) {
  e2e::TempDir dir;
  EXPECT_EQ(e2e::run(SAMPLEGEN, {e2e::data_path(kGrid)}).status, 2);
  EXPECT_EQ(e2e::run(SAMPLEGEN, {dir.file("none.bin"), "2", dir.path()}).status, 2);
  EXPECT_EQ(e2e::run(SAMPLEGEN, {e2e::data_path(kGrid), "2", dir.file("no/such")}).status, 2);
  EXPECT_EQ(e2e::run(SAMPLEGEN, {e2e::data_path(kGrid), "2", dir.path(), "--years", "0"}).status,
            2);
}

}  // namespace
