// The forward transform of a whole frame, computed once before the rate-control attempts: every block's
// intra coefficients (source pixels - 128) and, in delta frames, its inter coefficients (motion-compensated
// difference - 128), side by side in the frame's coefficient store.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/difference_frame.h"
#include "picture/yuv_frame.h"

namespace rq43 {

namespace platform {
class WorkerPair;
}

// Per block: 64 intra-transform coefficients, then 64 inter-transform coefficients.
constexpr int32_t kCoefficientsPerBlock = 128;

// One frame's coefficients: kCoefficientsPerBlock per 8x8 block of each plane, blocks in raster order.
struct FrameCoefficients {
    int32_t blocksAcross = 0;
    int32_t blocksDown = 0;
    int32_t chromaBlocksAcross = 0;
    int32_t chromaBlocksDown = 0;
    std::vector<int16_t> y;
    std::vector<int16_t> u;
    std::vector<int16_t> v;
};

// Sizes `coefficients` for the source frame (keeping the arrays when the block counts are unchanged) and
// fills every block's intra half and, with a difference frame (delta frames), its inter half; a key frame
// leaves the inter halves as they were, for nothing reads them. With `workers` the block rows are shared
// by two workers. False, nothing transformed, for a source whose size is not a positive multiple of 16 or
// a difference frame of another size.
bool TransformFrame(const YuvFrame& source, const DifferenceFrame* difference,
                    FrameCoefficients& coefficients, platform::WorkerPair* workers);

// Sizes `coefficients` for a picture of width x height (multiples of 16), as TransformFrame does, keeping
// the arrays when the block counts are unchanged.
void SizeFrameCoefficients(FrameCoefficients& coefficients, int32_t width, int32_t height);

}  // namespace rq43
