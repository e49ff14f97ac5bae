// Per-pixel comparison of two vegetation compositions through the fixed group and trait tables.
//
// A composition has 10 slots: slot 0 the uncovered fraction, slots 1 to 9 the period-mean cover
// of plant types 1 to 9. Results are compared bit for bit, so every step below keeps the
// precision the tool has always used (single precision, with the trait and similarity sums
// formed in double and stored back in single).
#pragma once

#include <cstdint>

namespace fennick {

inline constexpr int kSlots = 10;
inline constexpr int kGroups = 3;
inline constexpr int kMaxTraits = 4;

// The three tables are fixed parts of the measure; no input changes them.
// clang-format off

/// Group membership of each slot: woody plant types (1-7), grasses (8, 9), uncovered (0).
inline constexpr float kGroup[kSlots][kGroups] = {
    {0, 0, 1},  // uncovered
    {1, 0, 0},  // plant type 1
    {1, 0, 0},  // 2
    {1, 0, 0},  // 3
    {1, 0, 0},  // 4
    {1, 0, 0},  // 5
    {1, 0, 0},  // 6
    {1, 0, 0},  // 7
    {0, 1, 0},  // 8
    {0, 1, 0},  // 9
};

/// Traits of each slot; one table serves every group.
inline constexpr float kTrait[kSlots][kMaxTraits] = {
    {0,     0, 0, 0},  // uncovered
    {0,     1, 1, 0},  // plant type 1
    {0,     0, 1, 0},  // 2
    {1,     1, 0, 0},  // 3
    {0,     1, 0, 0},  // 4
    {0,     0, 0, 0},  // 5
    {1,     1, 0, 1},  // 6
    {0.25f, 0, 0, 1},  // 7
    {0,     0, 0, 0},  // 8
    {1,     0, 0, 0},  // 9
};

/// How many leading traits each group compares, and their weights. The grass weight is 0.3,
/// not 1: that is how the measure has always been defined.
inline constexpr int kGroupTraits[kGroups] = {4, 1, 0};
inline constexpr float kWeight[kGroups][kMaxTraits] = {
    {0.2f, 0.2f, 0.3f, 0.3f},
    {0.3f, 0,    0,    0},
    {0,    0,    0,    0},
};

// clang-format on

/// Similarity S of two compositions (slot 0 already holding the uncovered fraction), one pixel
/// at a time. The vector loops in kernels.cpp give the same value wherever it is a number; a
/// NaN's bits depend on which NaN each operation passes on, so NaN values come from here.
float similarity(const float* c1, const float* c2);

/// Slot 0 of a composition: 1 minus the covers of slots 1 to 9 added in order. Not clamped:
/// covers above 1 give a negative uncovered fraction, which counts as it is.
float uncovered(const float* c);

}  // namespace fennick
