// Pixel and squared-pixel sums of every 16x16 block of a plane, as a kernel. Entry (X, Y) of `sums` and
// `squares` (rows `stride` apart, as the pixels) becomes the sum over the block whose top-left pixel is
// (X, Y), for every block that lies inside the `stride` by `rows` pixels; the other entries are left
// unspecified, and no entry of the last 15 rows is written, so bands of a plane may be summed at once.
// motion/block_sums.cpp holds the plain C version.
#pragma once

#include <cstdint>

#include "dsp/x86_kernels.h"

namespace rq43::dsp {

using BlockSumsKernel = void (*)(const uint8_t* pixels, int32_t stride, int32_t rows, uint16_t* sums,
                                 uint32_t* squares);

// Candidate offsets from, from + step, ..., n of them.
struct OffsetRun {
    int32_t from;
    int32_t step;
    int32_t n;
};

// The candidates the sums bound keeps: of the runs' offsets, those whose block sum sums[offset] lies
// within reach, sums[offset] - lowest < span in unsigned arithmetic, written in order to `kept`; returns
// how many. `kept` has room for 7 entries beyond all the runs' offsets: a SIMD version writes whole
// registers.
using WithinReachKernel = int32_t (*)(const uint16_t* sums, const OffsetRun* runs, int32_t runCount,
                                      uint32_t lowest, uint32_t span, int32_t* kept);

#ifdef RQ43_X86_KERNELS
// AVX2 would gain little: the passes are bound by loads and stores, so that level keeps this one.
void SumBlocks16Sse2(const uint8_t* pixels, int32_t stride, int32_t rows, uint16_t* sums, uint32_t* squares);
// SSE2 has neither the gathers nor the lane permutes that pay here: that level keeps the plain C.
int32_t KeepWithinReachAvx2(const uint16_t* sums, const OffsetRun* runs, int32_t runCount, uint32_t lowest,
                            uint32_t span, int32_t* kept);
#endif

}  // namespace rq43::dsp
