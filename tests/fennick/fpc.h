// Small FPC files for the fennick tests: 10 bands per year, band 0 the test value, bands 1-9
// the plant-type covers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "e2e.h"
#include "fennick.h"

namespace fpc {

/// The tool runs in this process, through its library entry.
inline const e2e::InProcess kInProcess{"fennick", fennick::run_fennick};

/// One pixel of one year: [0] the band-0 test value, [1..9] the covers of plant types 1-9.
using Pixel = std::array<float, 10>;
/// All pixels of one year.
using Year = std::vector<Pixel>;

/// A pixel with band 0 equal to 1 and the given covers (plant type -> cover).
inline Pixel pixel(std::initializer_list<std::pair<int, float>> covers, float band0 = 1.0f) {
  Pixel px{};
  px[0] = band0;
  for (const auto& [type, cover] : covers) px[static_cast<std::size_t>(type)] = cover;
  return px;
}

/// Writes the years band-sequentially: year after year, band 0 to 9, pixel after pixel.
inline void write(const std::string& path, const std::vector<Year>& years) {
  std::vector<float> v;
  for (const Year& y : years) {
    for (std::size_t k = 0; k < 10; ++k) {
      for (const Pixel& p : y) v.push_back(p[k]);
    }
  }
  e2e::write_floats(path, v);
}

/// Runs fennick on file1/file2 with the given counts; `extra` follows startyear2.
inline e2e::Result run(const std::string& f1, const std::string& f2, const std::string& out,
                       int64_t ny1, int64_t ny2, int64_t npixel, int64_t sy1, int64_t sy2,
                       const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {f1,
                                   f2,
                                   out,
                                   std::to_string(ny1),
                                   std::to_string(ny2),
                                   std::to_string(npixel),
                                   std::to_string(sy1),
                                   std::to_string(sy2)};
  args.insert(args.end(), extra.begin(), extra.end());
  return e2e::run("fennick", args);
}

}  // namespace fpc
