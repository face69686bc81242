// Sums of squared luma differences with early stops: the table the motion search calls through, and the
// SIMD versions of its entries. Every entry gives exactly the plain C result (motion/block_ssd.h holds
// those and the stop rules), partial sums included.
#pragma once

#include <cstdint>

#include "dsp/x86_kernels.h"

namespace rq43::dsp {

// source against one block; `limit` as the entry's stop rule says.
using SsdFunction = uint32_t (*)(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                                 int32_t referenceStride, uint32_t limit);
// source against the mean of the blocks at a and b.
using SsdOfMeanFunction = uint32_t (*)(const uint8_t* source, int32_t sourceStride, const uint8_t* a,
                                       const uint8_t* b, int32_t referenceStride, uint32_t limit);

// For each of `count` reference blocks, at reference + offsets[i], the whole 16x16 squared error against
// the source, in a loop that keeps the source block at hand. The reference pixels come widened to 16 bits
// (values 0 to 255), once per picture, so that no candidate row needs widening; referenceSquares, indexed
// as they are, holds each block's sum of squared pixels, so that only the products of source and reference
// pixels need measuring: the error is the source's squares plus the block's less twice the products.
// Returns the least of the errors (UINT32_MAX for none): what the search decides by.
using SquaredErrorsFunction = uint32_t (*)(const uint8_t* source, int32_t sourceStride,
                                           const uint16_t* reference, const uint32_t* referenceSquares,
                                           int32_t referenceStride, const int32_t* offsets, int32_t count,
                                           uint32_t* errors);

// Stacks of runs of sixteen horizontally adjacent reference blocks: stack i is heights[i] runs (1 to
// kRunStack), one below the other, the first starting at reference + offsets[i]. For run j of stack i,
// the whole 16x16 squared errors against the source go to errors[16 (kRunStack i + j)] onwards and their
// least to least[kRunStack i + j]. Neighbouring blocks share most of their pixels, which a kernel can load
// once for all of them; the blocks' pixel sums and sums of squared pixels (indexed as the pixels)
// complete the error from the products, as above. A run's rows are read up to 31 pixels from its start.
constexpr int32_t kRunStack = 4;
using SquaredErrorRunsFunction = void (*)(const uint8_t* source, int32_t sourceStride,
                                          const uint8_t* reference, const uint16_t* referenceSums,
                                          const uint32_t* referenceSquares, int32_t referenceStride,
                                          const int32_t* offsets, const int32_t* heights, int32_t count,
                                          uint32_t* errors, uint32_t* least);

struct SsdKernels {
    SsdFunction m16;
    SsdOfMeanFunction m16h;
    SsdFunction m8;
    SsdOfMeanFunction m8h;
    SquaredErrorsFunction squaredErrors16;
    // Null where a level has no faster way to runs than squaredErrors16 position by position.
    SquaredErrorRunsFunction squaredErrorRuns16;
    // Where runs cost about what the bound-pruned search does per position kept: they take over only where
    // the bound prunes few.
    bool pruneBeforeRuns;
};

#ifdef RQ43_X86_KERNELS
uint32_t M16Sse2(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                 int32_t referenceStride, uint32_t limit);
uint32_t M16hSse2(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
                  int32_t referenceStride, uint32_t limit);
uint32_t M8Sse2(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                int32_t referenceStride, uint32_t limit);
uint32_t M8hSse2(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
                 int32_t referenceStride, uint32_t limit);
uint32_t SquaredErrors16Sse2(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                             const uint32_t* referenceSquares, int32_t referenceStride,
                             const int32_t* offsets, int32_t count, uint32_t* errors);
// 8x8 rows are too short to gain from AVX2: that level keeps the SSE2 entries for them.
uint32_t M16Avx2(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                 int32_t referenceStride, uint32_t limit);
uint32_t M16hAvx2(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
                  int32_t referenceStride, uint32_t limit);
uint32_t SquaredErrors16Avx2(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                             const uint32_t* referenceSquares, int32_t referenceStride,
                             const int32_t* offsets, int32_t count, uint32_t* errors);
// 16-bit pair products, eight positions to a register and two registers to a run.
void SquaredErrorRuns16Avx2(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                            const uint16_t* referenceSums, const uint32_t* referenceSquares,
                            int32_t referenceStride, const int32_t* offsets, const int32_t* heights,
                            int32_t count, uint32_t* errors, uint32_t* least);
// The AVX-VNNI level differs from AVX2 in this entry and the runs.
uint32_t SquaredErrors16AvxVnni(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                                const uint32_t* referenceSquares, int32_t referenceStride,
                                const int32_t* offsets, int32_t count, uint32_t* errors);
// Byte products, eight positions to a register and two registers to a run.
void SquaredErrorRuns16AvxVnni(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                               const uint16_t* referenceSums, const uint32_t* referenceSquares,
                               int32_t referenceStride, const int32_t* offsets, const int32_t* heights,
                               int32_t count, uint32_t* errors, uint32_t* least);
// AVX-512 (F, BW, VL, VNNI, VBMI): four rows to a register for the measures with stops.
uint32_t M16Avx512(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                   int32_t referenceStride, uint32_t limit);
uint32_t M16hAvx512(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
                    int32_t referenceStride, uint32_t limit);
// Byte products, sixteen positions to a register.
void SquaredErrorRuns16Avx512(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                              const uint16_t* referenceSums, const uint32_t* referenceSquares,
                              int32_t referenceStride, const int32_t* offsets, const int32_t* heights,
                              int32_t count, uint32_t* errors, uint32_t* least);
#endif

}  // namespace rq43::dsp
