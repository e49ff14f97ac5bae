// splitmix64: the same numbers on every machine (unlike std:: distributions), for the
// generators of sample data and test values under bench/.
#pragma once

#include <cmath>
#include <cstdint>

struct Rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }  // [0, 1)
  double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
  double normal() {
    const double u = unit() + 1e-300;
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * unit());
  }
};
