// Sums of squared luma differences between a source block and a reference prediction, with the early
// stops that keep rejected search candidates cheap. A measurement that passes its limit returns its
// partial sum, which never wins a comparison against that limit.
#pragma once

#include <cstdint>

#include "dsp/cpu_level.h"
#include "dsp/ssd.h"

namespace rq43 {

// 16x16 against the block at `reference`; stops after the first row at which the sum reaches `limit`.
uint32_t M16(const uint8_t* source, int32_t sourceStride, const uint8_t* reference, int32_t referenceStride,
             uint32_t limit);

// 16x16 against the rounded-up mean (a + b + 1) >> 1 of the blocks at `a` and `b`; stops after the first
// row at which the sum exceeds `limit`.
uint32_t M16h(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
              int32_t referenceStride, uint32_t limit);

// 8x8 against the block at `reference`; stops before a row when the sum already exceeds `limit`.
uint32_t M8(const uint8_t* source, int32_t sourceStride, const uint8_t* reference, int32_t referenceStride,
            uint32_t limit);

// 8x8 against the exact compensation prediction: the block at `a` when a == b, else the truncating
// mean (a + b) >> 1; stops before a row when the sum already exceeds `limit`.
uint32_t M8h(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
             int32_t referenceStride, uint32_t limit);

// For each i < count, the 16x16 squared error against the block at reference + offsets[i], pixel by
// pixel: the SIMD versions' other route to it, through referenceSquares, must arrive at the same sum.
// Returns the least of them, UINT32_MAX for none.
uint32_t SquaredErrors16(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                         const uint32_t* referenceSquares, int32_t referenceStride, const int32_t* offsets,
                         int32_t count, uint32_t* errors);

// The squared errors of stacks of runs of sixteen adjacent blocks, pixel by pixel, as dsp::SsdKernels'
// squaredErrorRuns16 says; the SIMD versions reach them through the blocks' sums and sums of squares.
// The table's entry is null where a level has no such kernel.
void SquaredErrorRuns16(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                        const uint16_t* referenceSums, const uint32_t* referenceSquares,
                        int32_t referenceStride, const int32_t* offsets, const int32_t* heights,
                        int32_t count, uint32_t* errors, uint32_t* least);

// The measures above as a table of the given level's kernels, each giving exactly these results. Callers
// fetch a table once per search and call through it.
const dsp::SsdKernels& SsdKernelsFor(dsp::CpuLevel level);
// The table of the level in use (dsp::ActiveCpuLevel).
const dsp::SsdKernels& ActiveSsdKernels();

}  // namespace rq43
