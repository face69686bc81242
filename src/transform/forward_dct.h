// The forward 8x8 DCT: about 8 times the orthonormal transform, plus 4 on every coefficient.
#pragma once

#include <cstdint>

namespace rq43 {

// In place: raster pixel order in (row r, column c at 8r + c), raster frequency order out.
void ForwardDct(int16_t block[64]);

// The transform of the 8x8 source pixels at `pixels` (rows `stride` bytes apart) less 128, into block.
void ForwardDctOfPixels(const uint8_t* pixels, int32_t stride, int16_t block[64]);
// The transform of the 8x8 difference samples at `samples` (rows `pitch` apart) less 128, wrapping to 16
// bits, into block.
void ForwardDctOfDifferences(const int16_t* samples, int32_t pitch, int16_t block[64]);

}  // namespace rq43
