// 16-bit lane arithmetic shared by the transform kernels: saturating add and subtract, the high half of a
// signed product, and shifts that keep the low 16 bits, exactly as the vector instructions they model.
#pragma once

#include <cstdint>

namespace rq43 {

constexpr int16_t Saturate16(int32_t value) {
    return static_cast<int16_t>(value < -32768 ? -32768 : value > 32767 ? 32767 : value);
}

constexpr int16_t AddSat(int16_t a, int16_t b) {
    return Saturate16(int32_t{a} + b);
}
constexpr int16_t SubSat(int16_t a, int16_t b) {
    return Saturate16(int32_t{a} - b);
}

// (a * k) >> 16 with an arithmetic (floor) shift.
constexpr int16_t MulHi(int16_t a, int16_t k) {
    return static_cast<int16_t>((int32_t{a} * k) >> 16);
}

constexpr int16_t ShiftLeft16(int16_t a, int n) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(a) << n));
}

constexpr int16_t SetLowBit(int16_t a) {
    return static_cast<int16_t>(a | 1);
}

constexpr int16_t Wrap16(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(value));
}

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

// Multiply-accumulate in 32-bit lanes: products and sums wrap modulo 2^32 instead of overflowing.
constexpr uint32_t Mac32(uint32_t sum, int32_t a, int32_t b) {
    return sum + static_cast<uint32_t>(a) * static_cast<uint32_t>(b);
}

}  // namespace rq43
