// The forward 8x8 DCT: about 8 times the orthonormal transform, plus 4 on every coefficient.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rq43 {

// In place: raster pixel order in (row r, column c at 8r + c), raster frequency order out.
void ForwardDct(int16_t block[64]);

// The transforms of `count` horizontally adjacent 8x8 blocks of source pixels (rows `stride` bytes apart)
// less 128, into blocks `blockStep` elements apart.
void ForwardDctOfPixels(const uint8_t* pixels, int32_t stride, int32_t count, int16_t* blocks,
                        ptrdiff_t blockStep);
// The same for difference samples (rows `pitch` apart) less 128, wrapping to 16 bits.
void ForwardDctOfDifferences(const int16_t* samples, int32_t pitch, int32_t count, int16_t* blocks,
                             ptrdiff_t blockStep);

}  // namespace rq43
