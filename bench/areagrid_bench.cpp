// Times the area-weighted global statistics both ways on a real grid: the per-call routine
// (grid file re-read and full cell map rebuilt at every call) and the prepared grid.
//   areagrid_bench GRIDFILE NPIXEL NLAT NLON NCALLS NBANDS
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "utilfunc.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "use: areagrid_bench GRIDFILE NPIXEL NLAT NLON NCALLS NBANDS\n");
    return 2;
  }
  const raster::InFile gridfile = raster::InFile::try_open(argv[1]);
  if (!gridfile.is_open()) return 2;
  FILE* grid = gridfile.get();
  const int64_t npixel = std::atoll(argv[2]);
  const int64_t nlat = std::atoll(argv[3]);
  const int64_t nlon = std::atoll(argv[4]);
  const int64_t ncalls = std::atoll(argv[5]);
  const int64_t nbands = std::atoll(argv[6]);

  std::vector<float> data(static_cast<std::size_t>(npixel * nbands));
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<float>(std::sin(static_cast<double>(i) * 1e-3) * 20.0 + 10.0);
  }
  std::vector<float> frac(static_cast<std::size_t>(npixel), 1.0f);
  for (std::size_t i = 0; i < frac.size(); i += 7) frac[i] = 0.5f;
  std::vector<double> m1(static_cast<std::size_t>(ncalls)), s1(m1.size()), m2(m1.size()),
      s2(m1.size());

  using clock = std::chrono::steady_clock;
  const auto t0 = clock::now();
  for (int64_t k = 0; k < ncalls; ++k) {
    raster::global_mean_areaweighted_float(grid, data.data(), npixel, nlat, nlon, 1, nbands,
                                           &m1[static_cast<std::size_t>(k)],
                                           &s1[static_cast<std::size_t>(k)], frac.data());
  }
  const auto t1 = clock::now();
  const raster::AreaWeightedGrid prepared(gridfile, npixel, nlat, nlon);
  for (int64_t k = 0; k < ncalls; ++k) {
    prepared.stats(data.data(), npixel, 1, nbands, &m2[static_cast<std::size_t>(k)],
                   &s2[static_cast<std::size_t>(k)], frac.data());
  }
  const auto t2 = clock::now();
  // Four years per call, as a caller with several years at hand makes it.
  std::vector<float> four(data.size() * 4);
  for (std::size_t k = 0; k < 4; ++k)
    std::copy(data.begin(), data.end(), four.begin() + k * data.size());
  std::vector<double> m3(4), s3(4);
  for (int64_t k = 0; k < ncalls; k += 4) {
    prepared.stats(four.data(), npixel, 4, nbands, m3.data(), s3.data(), frac.data());
  }
  const auto t3 = clock::now();

  const bool same = std::memcmp(m1.data(), m2.data(), m1.size() * 8) == 0 &&
                    std::memcmp(s1.data(), s2.data(), s1.size() * 8) == 0 &&
                    std::memcmp(&m3[3], &m1[0], 8) == 0 && std::memcmp(&s3[3], &s1[0], 8) == 0;
  const double a = std::chrono::duration<double>(t1 - t0).count();
  const double b = std::chrono::duration<double>(t2 - t1).count();
  std::printf("per-call routine : %8.3f s for %lld calls of %lld bands\n", a,
              static_cast<long long>(ncalls), static_cast<long long>(nbands));
  std::printf("prepared grid    : %8.3f s (grid read once, %lld mapped pixels)\n", b,
              static_cast<long long>(prepared.size()));
  const double c = std::chrono::duration<double>(t3 - t2).count();
  std::printf("  4 groups a call: %8.3f s\n", c);
  std::printf("speed-up         : %8.1fx (%.1fx with 4 groups a call)\n", a / b, a / c);
  std::printf("results          : %s (mean %.17g, std %.17g)\n",
              same ? "bit-identical" : "DIFFERENT", m1[0], s1[0]);
  return same ? 0 : 1;
}
