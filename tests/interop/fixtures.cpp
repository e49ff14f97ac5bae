#include "fixtures.h"

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "e2e.h"

namespace fixtures {

const std::vector<GridCase>& bundled_grids() {
  static const std::vector<GridCase> g = {
      {"grid_2deg_northedge.bin", 200, true, 3862},
      {"grid_2deg_centre.bin", 200, false, 3862},
      {"grid_0.5deg_northedge.bin", 50, true, 61534},
      {"grid_0.5deg_centre.bin", 50, false, 61534},
  };
  return g;
}

std::vector<std::pair<int, int>> grid_records(const std::string& path) {
  const std::string bytes = e2e::read_bytes(path);
  std::vector<std::pair<int, int>> r(bytes.size() / 4);
  for (size_t i = 0; i < r.size(); ++i) {
    int16_t v[2];
    std::memcpy(v, bytes.data() + 4 * i, 4);
    r[i] = {v[0], v[1]};
  }
  return r;
}

int64_t nlat(const GridCase& g) { return 18000 / g.res100; }
int64_t nlon(const GridCase& g) { return 36000 / g.res100; }

std::vector<int64_t> expected_cells(const GridCase& g) {
  const auto rec = grid_records(e2e::data_path(g.file));
  std::vector<int64_t> cells(rec.size());
  const int half = g.res100 / 2;
  for (size_t i = 0; i < rec.size(); ++i) {
    const int col = (rec[i].first + 18000 - half) / g.res100;
    const int north = g.northedge ? rec[i].second : rec[i].second + half;
    const int row = (9000 - north) / g.res100;
    cells[i] = row * nlon(g) + col;
  }
  return cells;
}

const std::vector<uint32_t>& special_bits() {
  static const std::vector<uint32_t> b = {
      0x7fc00000u,  // quiet NaN
      0xffc00000u,  // negative quiet NaN
      0x7fc12345u,  // NaN with a payload
      0x80000000u,  // -0
      0x00000001u,  // smallest denormal
      0x807fffffu,  // largest negative denormal
      0x7f800000u,  // +inf
      0xff800000u,  // -inf
      0x7f7fffffu,  // largest float
      0x3fc00000u,  // 1.5
  };
  return b;
}

std::vector<float> sample_bands(int64_t npixel, int64_t nbands) {
  std::vector<float> v(static_cast<size_t>(npixel * nbands));
  for (int64_t b = 0; b < nbands; ++b) {
    for (int64_t p = 0; p < npixel; ++p) {
      float x = static_cast<float>(250.0 + 40.0 * std::sin(0.001 * static_cast<double>(p)) +
                                   static_cast<double>(b) * 0.25);
      const size_t k = static_cast<size_t>(p);
      if (k < special_bits().size()) std::memcpy(&x, &special_bits()[k], 4);
      v[static_cast<size_t>(b * npixel + p)] = x;
    }
  }
  return v;
}

PeerResult peer(const std::string& command) {
  e2e::TempDir dir;
  const std::string err = dir.file("err");
  PeerResult r;
  FILE* p = popen((command + " 2>" + quoted(err)).c_str(), "r");
  if (p == nullptr) throw std::runtime_error("popen failed: " + command);
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
  r.err = e2e::read_bytes(err);
  return r;
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace fixtures
