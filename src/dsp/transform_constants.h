// Fixed numbers of the 8x8 transforms, shared by the plain kernels and their vector versions: the zigzag
// order, the row-pass weights and the column-pass multipliers. All of them are part of the format.
#pragma once

#include <cstdint>

namespace rq43 {

// Levels travel in zigzag order; the transforms work in raster order (index = 8 * row + column).
// kZigzag[k]: raster index of zigzag position k.
inline constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                        12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                        35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                        58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Zigzag positions 0..kTopLeftLastIndex all lie in the top-left 4x4, and position 10 does not.
inline constexpr int kTopLeftLastIndex = 9;
static_assert(kZigzag[kTopLeftLastIndex + 1] / 8 >= 4);

// kZigzagInverse[i]: zigzag position of raster index i.
inline constexpr uint8_t kZigzagInverse[64] = {
    0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42, 3,  8,  12, 17, 25, 30,
    41, 43, 9,  11, 18, 24, 31, 40, 44, 53, 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38,
    46, 51, 55, 60, 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

// Row-pass constants of the four row groups (rows 0/4, 1/7, 2/6, 3/5): P, Q1, Q2, Q3, Q5, Q6, Q7.
struct DctRowConstants {
    int32_t p, q1, q2, q3, q5, q6, q7;
};

inline constexpr DctRowConstants kDctRowConstants[4] = {
    {16384, 22725, 21407, 19266, 12873, 8867, 4520},
    {22725, 31521, 29692, 26722, 17855, 12299, 6270},
    {21407, 29692, 27969, 25172, 16819, 11585, 5906},
    {19266, 26722, 25172, 22654, 15137, 10426, 5315},
};

inline constexpr int kDctRowGroup[8] = {0, 1, 2, 3, 0, 3, 2, 1};

// Column-pass multipliers, used as the high half of a 16-bit product: tan(pi/16), tan(2pi/16),
// tan(3pi/16) - 1 and cos(pi/4) scaled by 2^16 (cos(pi/4) - 1 for the inverse's), and cos(pi/4) by 2^15.
inline constexpr int16_t kTan1 = 13036;
inline constexpr int16_t kTan2 = 27146;
inline constexpr int16_t kTan3Minus1 = -21746;
inline constexpr int16_t kCos4Half = 23170;
inline constexpr int16_t kCos4Minus1 = -19195;

}  // namespace rq43
