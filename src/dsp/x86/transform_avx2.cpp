// The SSE2 steps in three-operand form, with the zigzag reorders done by byte shuffles instead of one
// element at a time.
#include <immintrin.h>

#include "dsp/transform.h"
#include "dsp/x86/transform_x86.h"

namespace rq43::dsp {
namespace {

// out[k] = in[source[k]] over eight registers: output row j gathers from every source row it needs.
struct Reorder {
    struct alignas(16) {
        int8_t byte[16];
    } mask[8][8];  // [output row][source row]
    bool used[8][8];
};

constexpr Reorder BuildReorder(const uint8_t (&source)[64]) {
    Reorder reorder{};
    for (int j = 0; j < 8; ++j) {
        for (int r = 0; r < 8; ++r) {
            for (int i = 0; i < 8; ++i) {
                const int index = source[8 * j + i];
                const bool here = index / 8 == r;
                reorder.mask[j][r].byte[2 * i] = static_cast<int8_t>(here ? 2 * (index % 8) : -128);
                reorder.mask[j][r].byte[2 * i + 1] = static_cast<int8_t>(here ? 2 * (index % 8) + 1 : -128);
                reorder.used[j][r] = reorder.used[j][r] || here;
            }
        }
    }
    return reorder;
}

constexpr Reorder kToZigzag = BuildReorder(kZigzag);
constexpr Reorder kToRaster = BuildReorder(kZigzagInverse);

// Only the first Outputs rows, gathered from the first Sources rows (the others must not matter).
template <int Outputs = 8, int Sources = 8>
inline void Apply(const Reorder& reorder, const __m128i in[], __m128i out[]) {
#pragma GCC unroll 8
    for (int j = 0; j < Outputs; ++j) {
        __m128i gathered = _mm_setzero_si128();
#pragma GCC unroll 8
        for (int r = 0; r < Sources; ++r) {
            if (!reorder.used[j][r]) continue;
            const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(reorder.mask[j][r].byte));
            gathered = _mm_or_si128(gathered, _mm_shuffle_epi8(in[r], mask));
        }
        out[j] = gathered;
    }
}

// Levels reordered by the byte shuffles.
struct ShuffleOrder {
    static void ToRaster(const int16_t* levels, __m128i x[8]) {
        __m128i zigzag[8];
        LoadBlock(levels, zigzag);
        Apply(kToRaster, zigzag, x);
    }
    // Zigzag positions up to kTopLeftLastIndex lie in the first two zigzag rows and reach raster rows 0..3.
    static void ToRasterTopLeft(const int16_t* levels, __m128i x[8]) {
        const __m128i zigzag[2] = {Load(levels), Load(levels + 8)};
        Apply<4, 2>(kToRaster, zigzag, x);
    }
    static void ToZigzag(const __m128i x[8], int16_t* levels) {
        __m128i zigzag[8];
        Apply(kToZigzag, x, zigzag);
        StoreBlock(levels, zigzag);
    }
};
using Kernels = BlockKernels<ShuffleOrder>;

// Two blocks side by side, one to each 128-bit lane.
struct Lanes256 {
    using V = __m256i;
    static constexpr int kBlocks = 2;
    static V Adds(V a, V b) { return _mm256_adds_epi16(a, b); }
    static V Subs(V a, V b) { return _mm256_subs_epi16(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_epi16(a, b); }
    template <int N>
    static V ShiftLeft(V a) {
        return _mm256_slli_epi16(a, N);
    }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V Set(int16_t k) { return _mm256_set1_epi16(k); }
    static V MulHi(V a, int16_t k) { return _mm256_mulhi_epi16(a, _mm256_set1_epi16(k)); }
    static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static V UnpackLo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V UnpackHi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V UnpackLo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V UnpackHi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
    static V Madd(V a, const Weights& w) {
        return _mm256_madd_epi16(
            a, _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(w.lane))));
    }
    static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
    static V Sub32(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V Set32(int32_t k) { return _mm256_set1_epi32(k); }
    template <int N>
    static V ShiftRight32(V a) {
        return _mm256_srai_epi32(a, N);
    }
    static V Pack32(V a, V b) { return _mm256_packs_epi32(a, b); }
    static V Row(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static V Row(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void StoreRow(int16_t* p, ptrdiff_t blockStep, V v) {
        Store(p, _mm256_castsi256_si128(v));
        Store(p + blockStep, _mm256_extracti128_si256(v, 1));
    }
};

}  // namespace

void ForwardDctOfPixelsAvx2(const uint8_t* pixels, int32_t stride, int32_t count, int16_t* blocks,
                            ptrdiff_t blockStep) {
    ForwardDctOfBlocks<Lanes256>(pixels, stride, count, blocks, blockStep);
}

void ForwardDctOfDifferencesAvx2(const int16_t* samples, int32_t pitch, int32_t count, int16_t* blocks,
                                 ptrdiff_t blockStep) {
    ForwardDctOfBlocks<Lanes256>(samples, pitch, count, blocks, blockStep);
}

uint8_t QuantiseBlockAvx2(int16_t* levels, const int16_t* reciprocals, const int16_t* coefficients) {
    return Kernels::QuantiseBlock(levels, reciprocals, coefficients);
}

void DequantiseBlockAvx2(const int16_t* steps, const int16_t* levels, int16_t* coefficients) {
    Kernels::DequantiseBlock(steps, levels, coefficients);
}

void InverseDctAvx2(const int16_t* coefficients, int16_t* samples, int level) {
    Kernels::InverseDct(coefficients, samples, level);
}

void IdctPutAvx2(const int16_t* coefficients, uint8_t* destination, int32_t stride) {
    Kernels::IdctPut(coefficients, destination, stride);
}

void ReconstructIntraBlockAvx2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                               int32_t stride) {
    Kernels::ReconstructIntra<false>(steps, levels, destination, stride);
}

void ReconstructInterBlockAvx2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                               int32_t stride) {
    Kernels::ReconstructInter<false>(steps, levels, destination, stride);
}

void ReconstructIntraTopLeftAvx2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride) {
    Kernels::ReconstructIntra<true>(steps, levels, destination, stride);
}

void ReconstructInterTopLeftAvx2(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride) {
    Kernels::ReconstructInter<true>(steps, levels, destination, stride);
}

}  // namespace rq43::dsp
