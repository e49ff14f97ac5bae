// The colour tables of the map tool (data in colormap_tables.cpp, with their origins).
#pragma once

#include <cstdint>

namespace maps::tables {

/// One colour of a table: 8-bit sRGB.
struct Rgb8 {
  uint8_t r, g, b;
};

extern const Rgb8 viridis[256];
extern const Rgb8 cividis[256];
extern const Rgb8 magma[256];
extern const Rgb8 inferno[256];
extern const Rgb8 plasma[256];
extern const Rgb8 rdbu[11];
extern const Rgb8 puor[11];

}  // namespace maps::tables
