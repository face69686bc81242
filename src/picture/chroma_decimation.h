// The 6-tap half-band filter (-127, 1977, 14534, 14534, 1977, -127) / 32768 that halves chroma
// resolution, centred between two input samples: output k reads inputs 2k-2 .. 2k+3. The two picture
// ends extend differently: before sample 0 both directions mirror around it (x[-1] = x[1],
// x[-2] = x[2]); after the last sample the vertical filter repeats it (x[h] = x[h-1], x[h+1] = x[h-2])
// while the horizontal one mirrors around it (x[w] = x[w-2], x[w+1] = x[w-3]).
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/picture_conversion.h"

namespace rq43 {

// The plain column kernel (see dsp/picture_conversion.h).
void DecimateColumns(const uint8_t* const* rows, uint32_t width, uint8_t* out);

// Output row `outputRow` (0 .. height/2-1) of the vertically halved plane: `width` samples into `out`.
// height >= 3.
void DecimateVertically(const uint8_t* plane, ptrdiff_t stride, uint32_t width, uint32_t height,
                        uint32_t outputRow, uint8_t* out,
                        dsp::DecimateColumnsFn decimateColumns = DecimateColumns);

// The plain pairs kernel (see dsp/picture_conversion.h).
void DecimatePairs(const uint8_t* in, uint32_t count, uint8_t* out);

// width/2 samples of the horizontally halved row into `out`. width even and >= 4.
void DecimateHorizontally(const uint8_t* row, uint32_t width, uint8_t* out,
                          dsp::DecimatePairsFn decimatePairs = DecimatePairs);

}  // namespace rq43
