// The tool's vectorisable forms of the signed half-offset against the shared operation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "e2e.h"
#include "mean_tool.h"
#include "utilfunc.h"

namespace {

float from_bits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

}  // namespace

// Single-precision form: every sign and exponent, the mantissas near both ends and a spread in
// between (an exhaustive run over all 2^32 patterns also finds no difference).
TEST(SignedHalfOffsetForms, FloatFormMatchesSharedOperation) {
  int64_t checked = 0;
  for (uint32_t top = 0; top < 512; ++top) {
    for (uint32_t k = 0; k < 3000; ++k) {
      const uint32_t low = k < 1000 ? k : k < 2000 ? 0x7fffffu - (k - 1000) : (k - 2000) * 8387u;
      const float v = from_bits((top << 23) | (low & 0x7fffffu));
      ASSERT_EQ(e2e::bits(meantool::signed_halfoffset_f(v)),
                e2e::bits(raster::signed_halfoffset(v)))
          << std::hex << ((top << 23) | low);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 512 * 3000);
}

TEST(SignedHalfOffsetForms, LaneFormMatchesSharedOperationOnDoubles) {
  const double specials[] = {0.0,
                             -0.0,
                             1e-9,
                             -1e-9,
                             0x1p-25,
                             -0x1p-25,
                             0x1.8p-25,
                             0.1,
                             -0.1,
                             8388609,
                             -8388609,
                             1e300,
                             -1e300,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
  for (const double v : specials) {
    EXPECT_EQ(e2e::bits(meantool::signed_halfoffset_lanes(v)),
              e2e::bits(raster::signed_halfoffset(v)))
        << v;
  }
  // Quotients like those of the means: sums over a number of years.
  for (int i = -20000; i <= 20000; ++i) {
    const double v = static_cast<double>(static_cast<float>(i) * 0.37f) / 7.0;
    ASSERT_EQ(e2e::bits(meantool::signed_halfoffset_lanes(v)),
              e2e::bits(raster::signed_halfoffset(v)))
        << v;
  }
}
