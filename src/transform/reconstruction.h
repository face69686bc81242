// Levels back into pixels: the full intra and inter paths, and the shortcuts for blocks whose only level
// is the DC level. Encoder and decoders take the same path for the same block, because the shortcuts are
// not always identical to the full transform.
#pragma once

#include <cstdint>

namespace rq43 {

// The pixel value of a DC-only intra block. Our encoder keeps it inside 0..255; a stream from elsewhere
// may not.
constexpr int32_t IntraDcValue(int16_t step, int16_t level) {
    return (int32_t{step} * level + 1028) >> 3;
}

// Fills the block with the 32-bit pattern value | value << 8 | value << 16 | value << 24 (little-endian,
// twice per row), which is the value itself for 0..255; stored streams were decoded with this fill.
void FillIntraDc(uint8_t* destination, int32_t stride, int32_t value);

// Adds the DC-only residual (step * level + 4) >> 3 to every pixel of the block.
void AddInterDc(uint8_t* destination, int32_t stride, int16_t step, int16_t level);

// Dequantise with one table's raster steps, inverse transform with level 128 and store.
void ReconstructIntraBlock(const int16_t* steps, const int16_t* levels, uint8_t* destination, int32_t stride);

// Whether an inter block of these levels leaves its prediction as it is: all levels zero, whose inverse
// transform is exactly zero. Callers skip such blocks.
inline bool AddsNothing(const int16_t* levels) {
    int32_t any = 0;
    for (int i = 0; i < 64; ++i) any |= levels[i];
    return any == 0;
}

// Dequantise, inverse transform without bias and add to the prediction in the block.
void ReconstructInterBlock(const int16_t* steps, const int16_t* levels, uint8_t* destination, int32_t stride);

}  // namespace rq43
