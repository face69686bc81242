// Edge-preserving smoothing of the source picture before it is coded: each pass moves every pixel by
// half the sum of psi(neighbour - pixel) over its four neighbours inside the plane, where
// psi(x) = x / ((x * d)^2 + 1) with d = 2 / strength, so small differences are smoothed and large
// ones (edges) kept. Every pass is a simultaneous update of the whole plane.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "dsp/picture_conversion.h"
#include "picture/yuv_frame.h"

namespace rq43 {

// Filters the width x height plane at `plane` (a plane of `frame`, rows `frame.stride` apart) in place,
// `passes` times, using the frame's lineBuffer as its one-row delay. Strength 0, a non-positive pass
// count or a plane larger than the frame leaves the plane unchanged.
void PrefilterPlane(int32_t passes, YuvFrame& frame, uint8_t* plane, int32_t strength, uint32_t width,
                    uint32_t height);

// The source prefilter of the compression sequence: Y with `iterations` passes, U and V with
// (iterations + 1) / 2; nothing when strength is 0.
void PrefilterFrame(YuvFrame& frame, int32_t strength, int32_t iterations);

// psi[255 + x] = psi(x) for x = -255 .. 255, in single precision.
using PsiTable = std::array<float, 511>;
PsiTable BuildPsiTable(int32_t strength);

// One pass over the plane with `prefilterRow`. lineBuffer holds width bytes.
void PrefilterPass(uint8_t* plane, ptrdiff_t stride, uint32_t width, uint32_t height, const float* psi,
                   uint8_t* lineBuffer, dsp::PrefilterRowFn prefilterRow);

// The plain row kernel (see dsp/picture_conversion.h); the SIMD ones must match it.
void PrefilterRow(uint8_t* above, const uint8_t* row, const uint8_t* below, uint32_t width, const float* psi,
                  uint8_t* pending);

}  // namespace rq43
