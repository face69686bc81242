// The 16x16 squared errors of many candidates for the AVX2 files, whose instruction sets differ only in
// how products are summed. Internal linkage only (unnamed namespace), as ssd_rows.h, and intrinsics only.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "dsp/x86/ssd_rows.h"

namespace rq43::dsp::x86 {
namespace {

// `accumulate(sum, sourceRow, referenceRow)` adds the pairwise products of the two rows' 16-bit pixels to
// the sum's lanes: the instruction set of the including file decides how.
template <typename Accumulate>
inline uint32_t SquaredErrors16(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                                const uint32_t* referenceSquares, int32_t referenceStride,
                                const int32_t* offsets, int32_t count, uint32_t* errors,
                                Accumulate accumulate) {
    // Products of two pixels summed pairwise stay below 2^17, sixteen rows of them below 2^22.
    alignas(32) __m256i rows[16];
    __m256i squares = _mm256_setzero_si256();
    for (int row = 0; row < 16; ++row) {
        rows[row] = _mm256_cvtepu8_epi16(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + row * sourceStride)));
        squares = _mm256_add_epi32(squares, _mm256_madd_epi16(rows[row], rows[row]));
    }
    const __m128i folded =
        _mm_add_epi32(_mm256_castsi256_si128(squares), _mm256_extracti128_si256(squares, 1));
    const __m256i sourceSquares = _mm256_set1_epi32(static_cast<int32_t>(HorizontalSum(folded)));
    __m256i least = _mm256_set1_epi32(-1);
    // Eight blocks a row at a time share each source row and are addressed from one pointer: a pointer step
    // per block and row would cost a good part of the row.
    auto eight = [&](const int32_t* at, uint32_t* to) __attribute__((always_inline)) {
        const uint16_t* p = reference + at[0];
        const std::ptrdiff_t d[8] = {0,
                                     at[1] - at[0],
                                     at[2] - at[0],
                                     at[3] - at[0],
                                     at[4] - at[0],
                                     at[5] - at[0],
                                     at[6] - at[0],
                                     at[7] - at[0]};
        __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0, s4 = s0, s5 = s0, s6 = s0, s7 = s0;
        auto add = [&](__m256i& sum, const uint16_t* q, __m256i row) {
            sum = accumulate(sum, row, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)));
        };
#pragma GCC unroll 1
        for (int row = 0; row < 16; ++row, p += referenceStride) {
            const __m256i r = rows[row];
            add(s0, p, r);
            add(s1, p + d[1], r);
            add(s2, p + d[2], r);
            add(s3, p + d[3], r);
            add(s4, p + d[4], r);
            add(s5, p + d[5], r);
            add(s6, p + d[6], r);
            add(s7, p + d[7], r);
            // Keeps the sums in registers row by row: regrouped, the products would be spilled to memory.
            __asm__("" : "+x"(s0), "+x"(s1), "+x"(s2), "+x"(s3), "+x"(s4), "+x"(s5), "+x"(s6), "+x"(s7));
        }
        // Pairwise within each half, then the halves: block k's total lands in lane k.
        auto pairs = [](__m256i a, __m256i b) {
            return _mm256_add_epi32(_mm256_unpacklo_epi32(a, b), _mm256_unpackhi_epi32(a, b));
        };
        auto quads = [](__m256i a, __m256i b) {
            return _mm256_add_epi32(_mm256_unpacklo_epi64(a, b), _mm256_unpackhi_epi64(a, b));
        };
        const __m256i low = quads(pairs(s0, s1), pairs(s2, s3)), high = quads(pairs(s4, s5), pairs(s6, s7));
        const __m256i products = _mm256_add_epi32(_mm256_permute2x128_si256(low, high, 0x20),
                                                  _mm256_permute2x128_si256(low, high, 0x31));
        // Loaded one by one: a gather is slower on some processors.
        auto squaresAt = [&](int k) { return static_cast<int32_t>(referenceSquares[at[k]]); };
        const __m256i blockSquares =
            _mm256_setr_epi32(squaresAt(0), squaresAt(1), squaresAt(2), squaresAt(3), squaresAt(4),
                              squaresAt(5), squaresAt(6), squaresAt(7));
        // Wrapping arithmetic: the error itself lies within 0 to 16,646,400.
        const __m256i sums =
            _mm256_sub_epi32(_mm256_add_epi32(sourceSquares, blockSquares), _mm256_slli_epi32(products, 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), sums);
        least = _mm256_min_epu32(least, sums);
    };
    auto leastOfAll = [&] {
        __m128i m = _mm_min_epu32(_mm256_castsi256_si128(least), _mm256_extracti128_si256(least, 1));
        m = _mm_min_epu32(m, _mm_shuffle_epi32(m, 0x4E));
        m = _mm_min_epu32(m, _mm_shuffle_epi32(m, 0xB1));
        return static_cast<uint32_t>(_mm_cvtsi128_si32(m));
    };
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) eight(offsets + i, errors + i);
    if (i == count) return leastOfAll();
    // The last few padded with copies of the last block, whose sums are dropped (and cannot be less).
    int32_t at[8];
    alignas(32) uint32_t sums[8];
    for (int k = 0; k < 8; ++k) at[k] = offsets[i + k < count ? i + k : count - 1];
    eight(at, sums);
    for (int k = 0; i + k < count; ++k) errors[i + k] = sums[k];
    return leastOfAll();
}

}  // namespace
}  // namespace rq43::dsp::x86
