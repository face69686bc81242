// 16-bit lane arithmetic shared by the transform kernels: saturating add and subtract, the high half of a
// signed product, and shifts that keep the low 16 bits, exactly as the vector instructions they model.
#pragma once

#include <cstdint>

#include "dsp/transform_constants.h"

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

// Multiply-accumulate in 32-bit lanes: products and sums wrap modulo 2^32 instead of overflowing.
constexpr uint32_t Mac32(uint32_t sum, int32_t a, int32_t b) {
    return sum + static_cast<uint32_t>(a) * static_cast<uint32_t>(b);
}

}  // namespace rq43
