// The reorders and the quantiser with a whole block in two 512-bit registers: one word permutation over
// both registers moves every level, where the 128-bit levels need a byte shuffle per pair of rows. The
// inverse transforms stay in eight 128-bit registers, which the block fills exactly, but the reconstructions
// start them from the transposed block the permutations give at no cost; the forward transform of a
// picture takes four neighbouring blocks at once. The inverse transform of coefficients gains nothing from
// a permutation in place of its transposition: that entry stays AVX2's.
// Some compilers' AVX-512 headers start intrinsics from a deliberately undefined register, then warn of it.
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // a warning clang does not have
#endif
#include <immintrin.h>

#include "dsp/transform.h"
#include "dsp/x86/transform_x86.h"

namespace rq43::dsp {
namespace {

// Word indices over a block's two registers: lane i of half h takes element table[32 h + i].
struct alignas(64) BlockPermutation {
    int16_t index[64];
};

constexpr BlockPermutation BuildPermutation(const uint8_t (&table)[64]) {
    BlockPermutation permutation{};
    for (int i = 0; i < 64; ++i) permutation.index[i] = static_cast<int16_t>(table[i]);
    return permutation;
}

// The transposed block (element 8c + r is raster 8r + c), where the inverse transform starts.
constexpr BlockPermutation BuildTransposed(const uint8_t (&table)[64]) {
    BlockPermutation permutation{};
    for (int i = 0; i < 64; ++i) permutation.index[i] = static_cast<int16_t>(table[8 * (i % 8) + i / 8]);
    return permutation;
}
constexpr uint8_t kIdentity[64] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                   16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31,
                                   32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47,
                                   48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63};

constexpr BlockPermutation kToZigzag = BuildPermutation(kZigzag);
constexpr BlockPermutation kToRaster = BuildPermutation(kZigzagInverse);
constexpr BlockPermutation kToColumns = BuildTransposed(kIdentity);
constexpr BlockPermutation kZigzagToColumns = BuildTransposed(kZigzagInverse);

inline __m512i Load512(const int16_t* p) {
    return _mm512_loadu_si512(p);
}
inline void Store512(int16_t* p, __m512i v) {
    _mm512_storeu_si512(p, v);
}

// Half h (0 or 1) of the reordered block.
inline __m512i Permute(const BlockPermutation& permutation, int h, __m512i first, __m512i second) {
    return _mm512_permutex2var_epi16(first, Load512(permutation.index + 32 * h), second);
}

// The 128-bit quantiser's steps on four rows at once; every step keeps to 128-bit lanes.
inline __m512i Quantise(__m512i x, const int16_t* reciprocals) {
    const __m512i offset = _mm512_set1_epi32(5461);
    const __m512i sign = _mm512_srai_epi16(x, 15);
    const __m512i magnitude = _mm512_sub_epi16(_mm512_xor_si512(x, sign), sign);  // 32768 read unsigned
    const __m512i m = Load512(reciprocals);
    const __m512i low = _mm512_mullo_epi16(magnitude, m), high = _mm512_mulhi_epu16(magnitude, m);
    const __m512i scaledLo =
        _mm512_srli_epi32(_mm512_add_epi32(_mm512_unpacklo_epi16(low, high), offset), 14);
    const __m512i scaledHi =
        _mm512_srli_epi32(_mm512_add_epi32(_mm512_unpackhi_epi16(low, high), offset), 14);
    const __m512i value = _mm512_packs_epi32(scaledLo, scaledHi);
    return _mm512_sub_epi16(_mm512_xor_si512(value, sign), sign);
}

// Rows 4h .. 4h+3 of a register into x.
inline void Split(__m512i rows, __m128i* x) {
    x[0] = _mm512_castsi512_si128(rows);
    x[1] = _mm512_extracti32x4_epi32(rows, 1);
    x[2] = _mm512_extracti32x4_epi32(rows, 2);
    x[3] = _mm512_extracti32x4_epi32(rows, 3);
}

// Element 0 plus 8 level, wrapping: the transforms fold the level into the DC coefficient.
inline __m512i WithLevel(__m512i first, int level) {
    return _mm512_mask_add_epi16(first, 1, first, _mm512_set1_epi16(static_cast<int16_t>(8 * level)));
}

// Zigzag levels times raster steps as columns: the steps take the same transposition.
inline void DequantisedColumns(const int16_t* steps, const int16_t* levels, int level, __m128i x[8]) {
    const __m512i first = Load512(levels), second = Load512(levels + 32);
    const __m512i stepsFirst = Load512(steps), stepsSecond = Load512(steps + 32);
    Split(WithLevel(_mm512_mullo_epi16(Permute(kZigzagToColumns, 0, first, second),
                                       Permute(kToColumns, 0, stepsFirst, stepsSecond)),
                    level),
          x);
    Split(_mm512_mullo_epi16(Permute(kZigzagToColumns, 1, first, second),
                             Permute(kToColumns, 1, stepsFirst, stepsSecond)),
          x + 4);
}

// Four blocks side by side, one to each 128-bit lane.
struct Lanes512 {
    using V = __m512i;
    static constexpr int kBlocks = 4;
    static V Adds(V a, V b) { return _mm512_adds_epi16(a, b); }
    static V Subs(V a, V b) { return _mm512_subs_epi16(a, b); }
    static V Sub(V a, V b) { return _mm512_sub_epi16(a, b); }
    template <int N>
    static V ShiftLeft(V a) {
        return _mm512_slli_epi16(a, N);
    }
    static V Or(V a, V b) { return _mm512_or_si512(a, b); }
    static V Set(int16_t k) { return _mm512_set1_epi16(k); }
    static V MulHi(V a, int16_t k) { return _mm512_mulhi_epi16(a, _mm512_set1_epi16(k)); }
    static V UnpackLo16(V a, V b) { return _mm512_unpacklo_epi16(a, b); }
    static V UnpackHi16(V a, V b) { return _mm512_unpackhi_epi16(a, b); }
    static V UnpackLo32(V a, V b) { return _mm512_unpacklo_epi32(a, b); }
    static V UnpackHi32(V a, V b) { return _mm512_unpackhi_epi32(a, b); }
    static V UnpackLo64(V a, V b) { return _mm512_unpacklo_epi64(a, b); }
    static V UnpackHi64(V a, V b) { return _mm512_unpackhi_epi64(a, b); }
    static V Madd(V a, const Weights& w) {
        return _mm512_madd_epi16(
            a, _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(w.lane))));
    }
    static V Add32(V a, V b) { return _mm512_add_epi32(a, b); }
    static V Sub32(V a, V b) { return _mm512_sub_epi32(a, b); }
    static V Set32(int32_t k) { return _mm512_set1_epi32(k); }
    template <int N>
    static V ShiftRight32(V a) {
        return _mm512_srai_epi32(a, N);
    }
    static V Pack32(V a, V b) { return _mm512_packs_epi32(a, b); }
    static V Row(const uint8_t* p) {
        return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
    static V Row(const int16_t* p) { return _mm512_loadu_si512(p); }
    static void StoreRow(int16_t* p, ptrdiff_t blockStep, V v) {
        Store(p, _mm512_castsi512_si128(v));
        Store(p + blockStep, _mm512_extracti32x4_epi32(v, 1));
        Store(p + 2 * blockStep, _mm512_extracti32x4_epi32(v, 2));
        Store(p + 3 * blockStep, _mm512_extracti32x4_epi32(v, 3));
    }
};

}  // namespace

void ForwardDctOfPixelsAvx512(const uint8_t* pixels, int32_t stride, int32_t count, int16_t* blocks,
                              ptrdiff_t blockStep) {
    ForwardDctOfBlocks<Lanes512>(pixels, stride, count, blocks, blockStep);
}

void ForwardDctOfDifferencesAvx512(const int16_t* samples, int32_t pitch, int32_t count, int16_t* blocks,
                                   ptrdiff_t blockStep) {
    ForwardDctOfBlocks<Lanes512>(samples, pitch, count, blocks, blockStep);
}

uint8_t QuantiseBlockAvx512(int16_t* levels, const int16_t* reciprocals, const int16_t* coefficients) {
    const __m512i first = Quantise(Load512(coefficients), reciprocals);
    const __m512i second = Quantise(Load512(coefficients + 32), reciprocals + 32);
    Store512(levels, Permute(kToZigzag, 0, first, second));
    Store512(levels + 32, Permute(kToZigzag, 1, first, second));
    const uint64_t nonZero = (uint64_t{_mm512_test_epi16_mask(first, first)} |
                              uint64_t{_mm512_test_epi16_mask(second, second)} << 32) &
                             ~uint64_t{1};  // the DC level does not count
    return nonZero != 0 ? static_cast<uint8_t>(__builtin_ctzll(nonZero)) : 0;
}

void DequantiseBlockAvx512(const int16_t* steps, const int16_t* levels, int16_t* coefficients) {
    const __m512i first = Load512(levels), second = Load512(levels + 32);
    Store512(coefficients, _mm512_mullo_epi16(Permute(kToRaster, 0, first, second), Load512(steps)));
    Store512(coefficients + 32,
             _mm512_mullo_epi16(Permute(kToRaster, 1, first, second), Load512(steps + 32)));
}

void ReconstructIntraBlockAvx512(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride) {
    __m128i x[8];
    DequantisedColumns(steps, levels, 128, x);
    InverseDctOfColumns(x);
    PutRows(x, destination, stride);
}

void ReconstructInterBlockAvx512(const int16_t* steps, const int16_t* levels, uint8_t* destination,
                                 int32_t stride) {
    __m128i x[8];
    DequantisedColumns(steps, levels, 0, x);
    InverseDctOfColumns(x);
    AddRows(x, destination, stride);
}

}  // namespace rq43::dsp
