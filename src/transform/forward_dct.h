// The forward 8x8 DCT: about 8 times the orthonormal transform, plus 4 on every coefficient.
#pragma once

#include <cstdint>

namespace rq43 {

// In place: raster pixel order in (row r, column c at 8r + c), raster frequency order out.
void ForwardDct(int16_t block[64]);

}  // namespace rq43
