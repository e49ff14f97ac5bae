// Shared pieces of the band arithmetic tests: reference roundings written from the rules (not
// taken from the tools' code), band builders and a few comparisons by bit pattern.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bandmath.h"
#include "e2e.h"
#include "halfoffset_model.h"

namespace bmt {

/// The tools run in this process, through their library entries.
inline const e2e::InProcess kInProcess[] = {
    {"sum", bandmath::run_sum},           {"mult", bandmath::run_mult},
    {"div", bandmath::run_div},           {"add", bandmath::run_add},
    {"scale", bandmath::run_scale},       {"limits", bandmath::run_limits},
    {"logistic", bandmath::run_logistic}, {"slivet", bandmath::run_slivet},
};

using Floats = std::vector<float>;

inline const float kNaN = std::numeric_limits<float>::quiet_NaN();
inline const float kInf = std::numeric_limits<float>::infinity();

inline float from_bits(uint32_t u) { return std::bit_cast<float>(u); }

/// nbands bands of npixel values, value (b, p) = f(b, p).
inline Floats make_bands(int nbands, int npixel, const std::function<float(int, int)>& f) {
  Floats v;
  for (int b = 0; b < nbands; ++b) {
    for (int p = 0; p < npixel; ++p) v.push_back(f(b, p));
  }
  return v;
}

/// Bands first..last (inclusive) of a band-sequential vector.
inline Floats bands(const Floats& v, int npixel, int first, int last) {
  return Floats(v.begin() + static_cast<std::ptrdiff_t>(first) * npixel,
                v.begin() + static_cast<std::ptrdiff_t>(last + 1) * npixel);
}

/// Values with awkward roundings: tiny, near 0.5 steps, odd integers above 2^23, signed zeros,
/// NaN and infinities.
inline Floats awkward_values() {
  return {0.1f,      -0.1f,     1e-9f,      -1e-9f,      0.3f,   0x1p-25f,   0x1.8p-25f,
          -0x1p-26f, 8388609.f, -8388609.f, 0.0f,        -0.0f,  16777218.f, 1234.5678f,
          -7.25f,    3.0f,      0.5f,       -0.5f,       1e30f,  -1e30f,     kNaN,
          kInf,      -kInf,     2.5e-6f,    0.99999994f, -2.75f, 42.0f,      -1.0f / 3.0f};
}

inline std::string lines(std::initializer_list<const char*> l) {
  std::string s;
  for (const char* x : l) s += x;
  return s;
}

/// The exact bits of an output file against the expected values.
inline void expect_file_floats(const std::string& path, const Floats& expected) {
  ASSERT_TRUE(e2e::exists(path)) << path;
  EXPECT_EQ(e2e::file_size(path), static_cast<int64_t>(expected.size() * 4)) << path;
  EXPECT_EQ(e2e::bits(e2e::read_floats(path)), e2e::bits(expected)) << path;
}

inline void expect_empty_file(const std::string& path) {
  ASSERT_TRUE(e2e::exists(path)) << path;
  EXPECT_EQ(e2e::file_size(path), 0) << path;
}

/// Runs `tool` with `args`, where the argument "PIPE" is a named pipe in `d` (d.file("fifo"))
/// through which `bytes` arrive, so the input is read as it comes and cannot be positioned.
inline e2e::Result run_reading_pipe(const std::string& tool, const e2e::TempDir& d,
                                    const std::string& bytes, std::vector<std::string> args) {
  const std::string fifo = d.file("fifo");
  if (mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  for (std::string& a : args) {
    if (a == "PIPE") a = fifo;
  }
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fd);
  });
  auto r = e2e::run(tool, args);
  writer.join();
  unlink(fifo.c_str());
  return r;
}

}  // namespace bmt
