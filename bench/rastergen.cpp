// Deterministic generator of plausible raw raster files for benchmarks and the demo.
//
//   rastergen OUT NPIXEL NBANDS_YEAR NYEARS KIND [--seed N] [--grid FILE] [--trend X]
//             [--firstyear N] [--offset X]
//
// KIND: seasonal  temperature-like: latitude gradient, seasonal cycle (opposite in the two
//                 hemispheres), a trend of X per year (default 0.03) and noise;
//       precip    positive, skewed, seasonal;
//       fpc       10 bands per year: band 0 a test value of 1, bands 1-9 covers that add up
//                 to at most 1 (NBANDS_YEAR must be 10);
//       frac      fractions in [0, 1] with some negative values (-0.2) mixed in;
//       uniform   values uniform in [-100, 100);
//       npp       productivity-like: never negative, highest in the humid tropics, a growing
//                 season that follows the local summer, rising by X/10 of its size per year.
// With --grid, latitudes come from the grid file (int16 lon*100, lat*100 per pixel); without
// it, pixels are spread evenly from 80 N to 55 S. --firstyear shifts the years so that a
// future period continues a reference one. --offset adds X to every value (273.15 turns the
// seasonal kind into kelvin).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "report.h"
#include "splitmix.h"

namespace {

[[noreturn]] void die(const char* msg) { raster::fail_status(2, "rastergen: %s\n", msg); }

int generate(int argc, char** argv) {
  if (argc < 6) {
    die("use: rastergen OUT NPIXEL NBANDS_YEAR NYEARS KIND [--seed N] [--grid FILE] "
        "[--trend X] [--firstyear N] [--offset X]");
  }
  const char* out = argv[1];
  const int64_t npixel = std::atoll(argv[2]);
  const int64_t nbands = std::atoll(argv[3]);
  const int64_t nyears = std::atoll(argv[4]);
  const std::string kind = argv[5];
  uint64_t seed = 1;
  double trend = 0.03;
  double offset = 0.0;
  int64_t firstyear = 0;
  const char* grid = nullptr;
  for (int i = 6; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seed") == 0) {
      seed = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (std::strcmp(argv[i], "--grid") == 0) {
      grid = argv[i + 1];
    } else if (std::strcmp(argv[i], "--offset") == 0) {
      offset = std::atof(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--trend") == 0) {
      trend = std::atof(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--firstyear") == 0) {
      firstyear = std::atoll(argv[i + 1]);
    } else {
      die("unknown option");
    }
  }
  if (npixel <= 0 || nbands <= 0 || nyears < 0) die("NPIXEL and NBANDS_YEAR must be positive");
  if (kind == "fpc" && nbands != 10) die("fpc files have 10 bands per year");

  std::vector<double> lat(static_cast<std::size_t>(npixel));
  for (int64_t p = 0; p < npixel; ++p) {
    lat[static_cast<std::size_t>(p)] =
        80.0 - 135.0 * static_cast<double>(p) / static_cast<double>(npixel);
  }
  if (grid != nullptr) {
    FILE* g = std::fopen(grid, "rb");
    if (g == nullptr) die("cannot open grid file");
    std::vector<int16_t> rec(static_cast<std::size_t>(2 * npixel));
    const std::size_t got = std::fread(rec.data(), 4, static_cast<std::size_t>(npixel), g);
    std::fclose(g);
    for (std::size_t p = 0; p < got; ++p) lat[p] = rec[2 * p + 1] / 100.0;
  }

  FILE* f = std::fopen(out, "wb");
  if (f == nullptr) die("cannot create output");
  std::vector<float> band(static_cast<std::size_t>(npixel));
  std::vector<float> cover(static_cast<std::size_t>(npixel * 10));
  Rng rng{seed * 0x2545f4914f6cdd1dULL + 7};
  constexpr double deg = 3.141592653589793 / 180.0;
  for (int64_t y = 0; y < nyears; ++y) {
    const double year = static_cast<double>(y + firstyear);
    if (kind == "fpc") {
      for (int64_t p = 0; p < npixel; ++p) {
        const double l = lat[static_cast<std::size_t>(p)];
        double left = 0.3 + 0.6 * std::cos(l * deg) * (0.9 + 0.1 * rng.unit());
        float* c = &cover[static_cast<std::size_t>(p * 10)];
        c[0] = 1.0f;
        for (int k = 1; k < 10; ++k) {
          const double share = left * rng.unit() * 0.6;
          c[k] = static_cast<float>(share);
          left -= share;
        }
      }
    }
    for (int64_t b = 0; b < nbands; ++b) {
      const double season = std::sin(6.283185307179586 * (static_cast<double>(b) + 0.5) /
                                     static_cast<double>(nbands));
      for (int64_t p = 0; p < npixel; ++p) {
        const double l = lat[static_cast<std::size_t>(p)];
        double v = 0.0;
        if (kind == "seasonal") {
          v = 28.0 - 0.55 * std::fabs(l) - 12.0 * season * std::sin(l * deg) + trend * year +
              1.5 * rng.normal();
        } else if (kind == "precip") {
          const double wet = 80.0 * std::cos(l * deg) * (1.0 + 0.5 * season);
          v = wet * (1.0 + trend * year / 30.0) * (-std::log(rng.unit() + 1e-12));
        } else if (kind == "fpc") {
          v = static_cast<double>(cover[static_cast<std::size_t>(p * 10 + b)]);
        } else if (kind == "frac") {
          v = rng.unit() < 0.02 ? -0.2 : std::fmin(1.0, 0.2 + 0.8 * rng.unit());
        } else if (kind == "uniform") {
          v = -100.0 + 200.0 * rng.unit();
        } else if (kind == "npp") {
          // The local summer is the warm half of the seasonal kind's cycle.
          const double summer = l >= 0.0 ? -season : season;
          const double c = std::cos(l * deg);
          const double base = 90.0 * c * c + 10.0;
          v = base * (1.0 + 0.8 * summer * std::fabs(std::sin(l * deg))) *
                  (1.0 + trend * year / 10.0) +
              8.0 * rng.normal();
          v = std::fmax(0.0, v);
        } else {
          die("unknown KIND");
        }
        band[static_cast<std::size_t>(p)] = static_cast<float>(v + offset);
      }
      if (std::fwrite(band.data(), 4, band.size(), f) != band.size()) die("write failed");
    }
  }
  if (std::fclose(f) != 0) die("write failed");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return raster::run_program([&] { return generate(argc, argv); });
}
