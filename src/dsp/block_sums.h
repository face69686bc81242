// Pixel and squared-pixel sums of every 16x16 block of a plane, as a kernel. Entry (X, Y) of `sums` and
// `squares` (rows `stride` apart, as the pixels) becomes the sum over the block whose top-left pixel is
// (X, Y), for every block that lies inside the `stride` by `rows` pixels; the other entries are left
// unspecified. motion/block_sums.cpp holds the plain C version.
#pragma once

#include <cstdint>

#include "dsp/x86_kernels.h"

namespace rq43::dsp {

using BlockSumsKernel = void (*)(const uint8_t* pixels, int32_t stride, int32_t rows, uint16_t* sums,
                                 uint32_t* squares);

#ifdef RQ43_X86_KERNELS
// AVX2 would gain little: the passes are bound by loads and stores, so that level keeps this one.
void SumBlocks16Sse2(const uint8_t* pixels, int32_t stride, int32_t rows, uint16_t* sums, uint32_t* squares);
#endif

}  // namespace rq43::dsp
