#include "dsp/transform.h"
#include "dsp/x86/transform_x86.h"

namespace rq43::dsp {

namespace {

// SSE2 has no byte shuffle: levels are reordered one element at a time.
struct ElementOrder {
    static void ToRaster(const int16_t* levels, __m128i x[8]) { RasterFromZigzag(levels, x); }
    static void ToRasterTopLeft(const int16_t* levels, __m128i x[8]) { RasterTopLeftFromZigzag(levels, x); }
    static void ToZigzag(const __m128i x[8], int16_t* levels) { ZigzagFromRaster(x, levels); }
};
using Kernels = BlockKernels<ElementOrder>;

}  // namespace

void ForwardDctOfPixelsSse2(const uint8_t* pixels, int32_t stride, int32_t count, int16_t* blocks,
                            ptrdiff_t blockStep) {
    ForwardDctOfBlocks<Lanes128>(pixels, stride, count, blocks, blockStep);
}

void ForwardDctOfDifferencesSse2(const int16_t* samples, int32_t pitch, int32_t count, int16_t* blocks,
                                 ptrdiff_t blockStep) {
    ForwardDctOfBlocks<Lanes128>(samples, pitch, count, blocks, blockStep);
}

uint8_t QuantiseBlockSse2(int16_t* levels, const int16_t* reciprocals, const int16_t* coefficients) {
    return Kernels::QuantiseBlock(levels, reciprocals, coefficients);
}

void DequantiseBlockSse2(const int16_t* steps, const int16_t* levels, int16_t* coefficients) {
    Kernels::DequantiseBlock(steps, levels, coefficients);
}

void InverseDctSse2(const int16_t* coefficients, int16_t* samples, int level) {
    Kernels::InverseDct(coefficients, samples, level);
}

void IdctPutSse2(const int16_t* coefficients, uint8_t* destination, int32_t stride) {
    Kernels::IdctPut(coefficients, destination, stride);
}

void AddBlockSse2(uint8_t* destination, int32_t stride, const int16_t* residual) {
    __m128i x[8];
    LoadBlock(residual, x);
    AddRows(x, destination, stride);
}

void ReconstructIntraBlockSse2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                               int32_t stride) {
    Kernels::ReconstructIntra<false>(steps, levels, destination, stride);
}

void ReconstructInterBlockSse2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                               int32_t stride) {
    Kernels::ReconstructInter<false>(steps, levels, destination, stride);
}

void ReconstructIntraTopLeftSse2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride) {
    Kernels::ReconstructIntra<true>(steps, levels, destination, stride);
}

void ReconstructInterTopLeftSse2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride) {
    Kernels::ReconstructInter<true>(steps, levels, destination, stride);
}

void FillIntraDcSse2(uint8_t* destination, int32_t stride, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    const __m128i pattern = _mm_set1_epi32(static_cast<int32_t>(v | v << 8 | v << 16 | v << 24));
    for (int r = 0; r < 8; ++r)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(RowAt(destination, stride, r)), pattern);
}

void AddInterDcSse2(uint8_t* destination, int32_t stride, int16_t step, int16_t level) {
    const int32_t value = (int32_t{step} * level + 4) >> 3;
    const __m128i residual = _mm_set1_epi16(static_cast<int16_t>(value < -32768  ? -32768
                                                                 : value > 32767 ? 32767
                                                                                 : value));
    const __m128i x[8] = {residual, residual, residual, residual, residual, residual, residual, residual};
    AddRows(x, destination, stride);
}

}  // namespace rq43::dsp
