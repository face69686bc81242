// The 8x8 transform family as a table of kernels over explicit buffers, and its vector versions. Blocks
// are 64 int16_t in raster order unless said otherwise; levels are in zigzag order; steps and reciprocals
// are one quantiser table's 64 raster entries (reciprocals 0..32767). Every entry gives exactly the
// results of the plain kernel it replaces.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/transform_constants.h"

namespace rq43::dsp {

struct TransformKernels {
    // Samples to coefficients: `count` horizontally adjacent 8x8 blocks of source pixels (rows `stride`
    // bytes apart) or difference samples (rows `pitch` apart), less 128, transformed into blocks
    // `blockStep` elements apart. The samples go straight into registers (a block written in small pieces
    // and read back at once waits on the stores), and wide registers take neighbouring blocks together.
    void (*forwardDctOfPixels)(const uint8_t* pixels, int32_t stride, int32_t count, int16_t* blocks,
                               ptrdiff_t blockStep);
    void (*forwardDctOfDifferences)(const int16_t* samples, int32_t pitch, int32_t count, int16_t* blocks,
                                    ptrdiff_t blockStep);
    // Coefficients to levels; returns the smallest raster index 1..63 with a non-zero level, else 0.
    uint8_t (*quantise)(int16_t* levels, const int16_t* reciprocals, const int16_t* coefficients);
    // Levels times steps, low 16 bits, into raster coefficients.
    void (*dequantise)(const int16_t* steps, const int16_t* levels, int16_t* coefficients);
    // Coefficients to samples plus `level`; samples may be coefficients.
    void (*inverseDct)(const int16_t* coefficients, int16_t* samples, int level);
    // Inverse with level 128, saturated to bytes, into 8 rows `stride` bytes apart.
    void (*idctPut)(const int16_t* coefficients, uint8_t* destination, int32_t stride);
    // Adds a residual to the 8x8 pixels there, saturating.
    void (*addBlock)(uint8_t* destination, int32_t stride, const int16_t* residual);
    // Dequantise then put (intra) or inverse and add (inter).
    void (*reconstructIntra)(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                             int32_t stride);
    void (*reconstructInter)(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                             int32_t stride);
    // The same for levels that are zero beyond zigzag position kTopLeftLastIndex (all inside the
    // top-left 4x4); the plain level uses the full kernels.
    void (*reconstructIntraTopLeft)(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                    int32_t stride);
    void (*reconstructInterTopLeft)(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                    int32_t stride);
    // The DC-only shortcuts: fill with a 32-bit pattern of the value; add (step * level + 4) >> 3.
    void (*fillIntraDc)(uint8_t* destination, int32_t stride, int32_t value);
    void (*addInterDc)(uint8_t* destination, int32_t stride, int16_t step, int16_t level);
};

void ForwardDctOfPixelsSse2(const uint8_t* pixels, int32_t stride, int32_t count, int16_t* blocks,
                            ptrdiff_t blockStep);
void ForwardDctOfDifferencesSse2(const int16_t* samples, int32_t pitch, int32_t count, int16_t* blocks,
                                 ptrdiff_t blockStep);
uint8_t QuantiseBlockSse2(int16_t* levels, const int16_t* reciprocals, const int16_t* coefficients);
void DequantiseBlockSse2(const int16_t* steps, const int16_t* levels, int16_t* coefficients);
void InverseDctSse2(const int16_t* coefficients, int16_t* samples, int level);
void IdctPutSse2(const int16_t* coefficients, uint8_t* destination, int32_t stride);
void AddBlockSse2(uint8_t* destination, int32_t stride, const int16_t* residual);
void ReconstructIntraBlockSse2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                               int32_t stride);
void ReconstructInterBlockSse2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                               int32_t stride);
void ReconstructIntraTopLeftSse2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride);
void ReconstructInterTopLeftSse2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride);
void FillIntraDcSse2(uint8_t* destination, int32_t stride, int32_t value);
void AddInterDcSse2(uint8_t* destination, int32_t stride, int16_t step, int16_t level);

// The same steps in AVX2 encoding, with byte shuffles for the zigzag reorders.
void ForwardDctOfPixelsAvx2(const uint8_t* pixels, int32_t stride, int32_t count, int16_t* blocks,
                            ptrdiff_t blockStep);
void ForwardDctOfDifferencesAvx2(const int16_t* samples, int32_t pitch, int32_t count, int16_t* blocks,
                                 ptrdiff_t blockStep);
uint8_t QuantiseBlockAvx2(int16_t* levels, const int16_t* reciprocals, const int16_t* coefficients);
void DequantiseBlockAvx2(const int16_t* steps, const int16_t* levels, int16_t* coefficients);
void InverseDctAvx2(const int16_t* coefficients, int16_t* samples, int level);
void IdctPutAvx2(const int16_t* coefficients, uint8_t* destination, int32_t stride);
void ReconstructIntraBlockAvx2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                               int32_t stride);
void ReconstructInterBlockAvx2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                               int32_t stride);
void ReconstructIntraTopLeftAvx2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride);
void ReconstructInterTopLeftAvx2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride);

// AVX-512: the reorders as word permutations over a block in two registers (x86-64 only). The top-left
// reconstructions reorder ten levels, which the byte shuffles of the AVX2 level do as fast.
void ForwardDctOfPixelsAvx512(const uint8_t* pixels, int32_t stride, int32_t count, int16_t* blocks,
                              ptrdiff_t blockStep);
void ForwardDctOfDifferencesAvx512(const int16_t* samples, int32_t pitch, int32_t count, int16_t* blocks,
                                   ptrdiff_t blockStep);
uint8_t QuantiseBlockAvx512(int16_t* levels, const int16_t* reciprocals, const int16_t* coefficients);
void DequantiseBlockAvx512(const int16_t* steps, const int16_t* levels, int16_t* coefficients);
void ReconstructIntraBlockAvx512(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride);
void ReconstructInterBlockAvx512(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride);

}  // namespace rq43::dsp
