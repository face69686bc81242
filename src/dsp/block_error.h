// Squared errors of an 8x8 block against what it stands for, as the coder's block decisions measure them:
// each difference squared and summed in one 32-bit lane that wraps, as the vector code they model does.
// Every entry gives exactly the sums of the plain kernel it replaces.
#pragma once

#include <cstdint>

namespace rq43::dsp {

struct BlockErrorKernels {
    // Pixels (8 rows of 8 bytes, packed) against source rows `stride` bytes apart.
    uint32_t (*pixelError)(const uint8_t* pixels, const uint8_t* source, int32_t stride);
    // Samples (64 packed) against residual rows `pitch` elements apart, each difference wrapped to 16 bits.
    uint32_t (*residualError)(const int16_t* samples, const int16_t* residual, int32_t pitch);
};

uint32_t PixelErrorSse2(const uint8_t* pixels, const uint8_t* source, int32_t stride);
uint32_t ResidualErrorSse2(const int16_t* samples, const int16_t* residual, int32_t pitch);
// Two rows to a register; the higher levels gain nothing more over eight 8-element rows.
uint32_t PixelErrorAvx2(const uint8_t* pixels, const uint8_t* source, int32_t stride);
uint32_t ResidualErrorAvx2(const int16_t* samples, const int16_t* residual, int32_t pitch);

}  // namespace rq43::dsp
