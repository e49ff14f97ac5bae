#include "halfoffset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using raster::double_halfoffset;
using raster::float_halfoffset;
using raster::signed_halfoffset;

namespace {

uint32_t bits(float v) {
  uint32_t u = 0;
  std::memcpy(&u, &v, 4);
  return u;
}

const float kTwoM25 = std::ldexp(1.0f, -25);
const float kTwoM24 = std::ldexp(1.0f, -24);
const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

}  // namespace

TEST(HalfOffset, TinyValuesBecomeZeroUnderAllThree) {
  EXPECT_EQ(bits(float_halfoffset(1e-9f)), bits(0.0f));
  EXPECT_EQ(bits(signed_halfoffset(1e-9f)), bits(0.0f));
  EXPECT_EQ(bits(double_halfoffset(1e-9)), bits(0.0f));
  EXPECT_EQ(bits(float_halfoffset(kTwoM25)), bits(0.0f));
  EXPECT_EQ(bits(signed_halfoffset(kTwoM25)), bits(0.0f));
  EXPECT_EQ(bits(double_halfoffset(static_cast<double>(kTwoM25))), bits(0.0f));
}

TEST(HalfOffset, OneAndAHalfTimesTwoToMinus25RoundsUpToTwoToMinus24) {
  const float v = 1.5f * kTwoM25;
  EXPECT_EQ(float_halfoffset(v), kTwoM24);
  EXPECT_EQ(signed_halfoffset(v), kTwoM24);
  EXPECT_EQ(double_halfoffset(static_cast<double>(v)), kTwoM24);
}

TEST(HalfOffset, ValuesOnTheGridStay) {
  EXPECT_EQ(bits(float_halfoffset(0.3f)), bits(0.3f));
  EXPECT_EQ(bits(signed_halfoffset(0.3f)), bits(0.3f));
  EXPECT_EQ(bits(float_halfoffset(16777218.0f)), bits(16777218.0f));
  EXPECT_EQ(bits(signed_halfoffset(16777218.0f)), bits(16777218.0f));
  EXPECT_EQ(bits(double_halfoffset(16777218.0)), bits(16777218.0f));
}

TEST(HalfOffset, OddIntegersBetween2To23And2To24MoveUp) {
  EXPECT_EQ(float_halfoffset(8388609.0f), 8388610.0f);
  EXPECT_EQ(signed_halfoffset(8388609.0f), 8388610.0f);
  EXPECT_EQ(double_halfoffset(8388609.0), 8388610.0f);
  EXPECT_EQ(signed_halfoffset(-8388609.0f), -8388610.0f);
}

TEST(HalfOffset, PointOneAndMinusPointOne) {
  EXPECT_EQ(static_cast<double>(float_halfoffset(0.1f)), 0.10000002384185791);
  EXPECT_EQ(static_cast<double>(float_halfoffset(-0.1f)), -0.09999999403953552);
  EXPECT_EQ(static_cast<double>(signed_halfoffset(0.1f)), 0.10000002384185791);
  EXPECT_EQ(static_cast<double>(signed_halfoffset(-0.1f)), -0.10000002384185791);
  EXPECT_EQ(static_cast<double>(double_halfoffset(static_cast<double>(0.1f))), 0.10000002384185791);
  // The double offset rounds negative values like the float one.
  EXPECT_EQ(static_cast<double>(double_halfoffset(-0.1)), -0.09999999403953552);
  EXPECT_EQ(static_cast<double>(double_halfoffset(static_cast<double>(-0.1f))),
            -0.09999999403953552);
}

TEST(HalfOffset, NegativeZeroAndSmallNegativesGivePositiveZero) {
  EXPECT_EQ(bits(signed_halfoffset(-0.0f)), bits(0.0f));
  EXPECT_EQ(bits(signed_halfoffset(-1e-9f)), bits(0.0f));
  EXPECT_EQ(bits(signed_halfoffset(-kTwoM25)), bits(0.0f));
  EXPECT_EQ(bits(float_halfoffset(-0.0f)), bits(0.0f));
  EXPECT_EQ(bits(float_halfoffset(-std::ldexp(1.0f, -26))), bits(0.0f));
  EXPECT_EQ(bits(double_halfoffset(-0.0)), bits(0.0f));
}

TEST(HalfOffset, NegativeFloatOffsetUsesAFinerGrid) {
  // On [-0.25, 0) the sum v + 0.5 lies in [0.25, 0.5), where the step is 2^-25.
  const float v = -3.0f * kTwoM25;
  EXPECT_EQ(float_halfoffset(v), v);
  EXPECT_EQ(signed_halfoffset(v), -2.0f * kTwoM24);  // 1.5 steps of 2^-24, tie to even
}

TEST(HalfOffset, NanAndInfinitiesPassThrough) {
  EXPECT_TRUE(std::isnan(float_halfoffset(kNaN)));
  EXPECT_TRUE(std::isnan(signed_halfoffset(kNaN)));
  EXPECT_TRUE(std::isnan(double_halfoffset(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(float_halfoffset(kInf), kInf);
  EXPECT_EQ(signed_halfoffset(kInf), kInf);
  EXPECT_EQ(signed_halfoffset(-kInf), -kInf);
  EXPECT_EQ(double_halfoffset(static_cast<double>(kInf)), kInf);
  EXPECT_EQ(float_halfoffset(-kInf), -kInf);
}

TEST(HalfOffset, SignedOffsetIsSymmetric) {
  for (float v : {0.1f, 0.7f, 1.3f, 2.6f, 123.456f, 7e6f, 1e-5f}) {
    EXPECT_EQ(bits(signed_halfoffset(-v)), bits(-signed_halfoffset(v))) << v;
  }
}

// The single-precision overload must give the bits of the double steps for every float: every
// 4099th bit pattern, and dense runs where v +/- 0.5 stops being exact in double (|v| near 2^-29
// and 2^52).
TEST(HalfOffset, SignedFloatOverloadMatchesDoubleSteps) {
  auto same = [](uint32_t u) {
    float v = 0;
    std::memcpy(&v, &u, 4);
    return bits(signed_halfoffset(v)) == bits(signed_halfoffset(static_cast<double>(v)));
  };
  for (uint64_t u = 0; u <= 0xffffffffULL; u += 4099) {
    ASSERT_TRUE(same(static_cast<uint32_t>(u))) << std::hex << u;
  }
  for (const float edge : {0x1p-29f, 0x1p-30f, 0x1p51f, 0x1p52f, 0x1p53f}) {
    for (const float sign : {1.0f, -1.0f}) {
      const uint32_t mid = bits(edge * sign);
      for (uint32_t k = 0; k < 20000; ++k) {
        ASSERT_TRUE(same(mid + k)) << std::hex << mid + k;
        ASSERT_TRUE(same(mid - k)) << std::hex << mid - k;
      }
    }
  }
}

TEST(HalfOffset, WorkedValuesThroughTheDoubleOverload) {
  EXPECT_EQ(bits(signed_halfoffset(1e-9)), bits(0.0f));
  EXPECT_EQ(bits(signed_halfoffset(-0.0)), bits(0.0f));
  EXPECT_EQ(static_cast<double>(signed_halfoffset(static_cast<double>(-0.1f))),
            -0.10000002384185791);
  EXPECT_EQ(signed_halfoffset(-8388609.0), -8388610.0f);
  EXPECT_TRUE(std::isnan(signed_halfoffset(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(signed_halfoffset(-std::numeric_limits<double>::infinity()), -kInf);
}
