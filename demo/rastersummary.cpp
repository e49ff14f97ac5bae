// A short readable summary of raw raster files, for the demo:
//
//   rastersummary GRIDFILE NPIXEL FILE...
//
// prints, per file, its number of bands and, for band 1, the mean weighted by the cosine of
// each pixel's latitude (from the grid file), the minimum and the maximum. Missing values
// (NaN) are left out and counted.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "report.h"

namespace {

[[noreturn]] void die(const std::string& msg) {
  raster::fail_status(2, "rastersummary: %s\n", msg.c_str());
}

struct File {
  explicit File(const char* path) : f(std::fopen(path, "rb")) {}
  ~File() {
    if (f != nullptr) std::fclose(f);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  FILE* f;
};

std::string base_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int summarise(int argc, char** argv) {
  if (argc < 4) die("use: rastersummary GRIDFILE NPIXEL FILE...");
  const int64_t npixel = std::atoll(argv[2]);
  if (npixel <= 0) die("NPIXEL must be positive");
  const auto n = static_cast<std::size_t>(npixel);

  std::vector<double> weight(n, 0.0);
  {
    File grid(argv[1]);
    if (grid.f == nullptr) die(std::string("cannot open ") + argv[1]);
    std::vector<int16_t> rec(2 * n);
    if (std::fread(rec.data(), 4, n, grid.f) != n) die("the grid file has too few records");
    for (std::size_t p = 0; p < n; ++p) {
      weight[p] = std::cos(static_cast<double>(rec[2 * p + 1]) / 100.0 * 3.141592653589793 / 180.0);
    }
  }

  std::printf("%-34s %6s %14s %12s %12s\n", "file", "bands", "mean (band 1)", "min", "max");
  std::vector<float> band(n);
  for (int i = 3; i < argc; ++i) {
    File in(argv[i]);
    if (in.f == nullptr) die(std::string("cannot open ") + argv[i]);
    std::fseek(in.f, 0, SEEK_END);
    const long size = std::ftell(in.f);
    std::fseek(in.f, 0, SEEK_SET);
    const int64_t bands = size / npixel / 4;
    const std::string name = base_name(argv[i]);
    if (bands < 1 || std::fread(band.data(), 4, n, in.f) != n) {
      std::printf("%-34s %6lld   (no whole band)\n", name.c_str(), static_cast<long long>(bands));
      continue;
    }
    double wsum = 0.0;
    double vsum = 0.0;
    float lo = INFINITY;
    float hi = -INFINITY;
    int64_t missing = 0;
    for (std::size_t p = 0; p < n; ++p) {
      const float v = band[p];
      if (std::isnan(v)) {
        ++missing;
        continue;
      }
      wsum += weight[p];
      vsum += weight[p] * static_cast<double>(v);
      lo = std::fmin(lo, v);
      hi = std::fmax(hi, v);
    }
    std::printf("%-34s %6lld %14.6f %12.6f %12.6f", name.c_str(), static_cast<long long>(bands),
                wsum > 0 ? vsum / wsum : std::nan(""), static_cast<double>(lo),
                static_cast<double>(hi));
    if (missing > 0) std::printf("  (%lld missing)", static_cast<long long>(missing));
    std::printf("\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return raster::run_program([&] { return summarise(argc, argv); });
}
