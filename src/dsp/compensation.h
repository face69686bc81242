// The copies and averages of motion-compensated prediction: the table compensation calls through, and
// the SIMD versions of its entries. Every entry gives exactly the plain C prediction
// (motion/motion_compensation.h holds it).
#pragma once

#include <cstdint>

#include "dsp/x86_kernels.h"

namespace rq43::dsp {

// One block from two sources of a plane: a copy when a == b, else the truncating mean (a + b) >> 1.
using TwoSampleFunction = void (*)(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out,
                                   int32_t outStride);

struct CompensationKernels {
    TwoSampleFunction twoSample16;  // 16x16
    TwoSampleFunction twoSample8;   // 8x8
};

#ifdef RQ43_X86_KERNELS
// 16-byte rows gain nothing from AVX2: that level uses these too.
void TwoSample16Sse2(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out,
                     int32_t outStride);
void TwoSample8Sse2(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out,
                    int32_t outStride);
#endif

}  // namespace rq43::dsp
