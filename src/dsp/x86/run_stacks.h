// Stacks of runs for the product kernels of the full search, whose register widths differ: the
// source block as they take it, which source row meets which reference row, and a stack's height as a
// constant. Internal linkage only (unnamed namespace), as ssd_rows.h; AVX2 at least.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <type_traits>

#include "dsp/ssd.h"
#include "dsp/x86/ssd_rows.h"

namespace rq43::dsp::x86 {
namespace {

// The source block's sum of squared pixels; `keep(row, biased)` takes each row made signed by subtracting
// 128 from every byte, for the unsigned-by-signed byte dot products. The blocks' pixel sums give the bias
// back: sum r (s - 128) = sum r s - 128 sum r.
template <typename Keep>
inline __attribute__((always_inline)) uint32_t BiasedSource(const uint8_t* source, int32_t stride,
                                                            const Keep& keep) {
    __m256i squares = _mm256_setzero_si256();
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    for (int row = 0; row < 16; ++row) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + row * stride));
        const __m256i wide = _mm256_cvtepu8_epi16(s);
        squares = _mm256_add_epi32(squares, _mm256_madd_epi16(wide, wide));
        keep(row, _mm_xor_si128(s, bias));
    }
    return HorizontalSum(
        _mm_add_epi32(_mm256_castsi256_si128(squares), _mm256_extracti128_si256(squares, 1)));
}

// The least of eight unsigned lanes.
inline uint32_t Least(__m256i lanes) {
    __m128i m = _mm_min_epu32(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
    m = _mm_min_epu32(m, _mm_shuffle_epi32(m, 0x4E));
    m = _mm_min_epu32(m, _mm_shuffle_epi32(m, 0xB1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(m));
}

// Reference row r of a stack meets source row r - j in run j, for the runs that have such a row.
template <int Height, typename Multiply>
inline __attribute__((always_inline)) void ForEachRunOfRow(int r, const Multiply& multiply) {
#pragma GCC unroll 4
    for (int j = 0; j < Height; ++j) {
        const int sourceRow = r - j;
        if (sourceRow >= 0 && sourceRow <= 15) multiply(j, sourceRow);
    }
}

// `measure(height)` with the stack's height (1 to kRunStack) as a std::integral_constant, so that each
// height has its rows unrolled.
template <typename Measure>
inline __attribute__((always_inline)) void WithStackHeight(int32_t height, const Measure& measure) {
    static_assert(kRunStack == 4);
    switch (height) {
        case 1:
            measure(std::integral_constant<int, 1>{});
            break;
        case 2:
            measure(std::integral_constant<int, 2>{});
            break;
        case 3:
            measure(std::integral_constant<int, 3>{});
            break;
        default:
            measure(std::integral_constant<int, 4>{});
            break;
    }
}

// `measure(height, offset, errors, least)` for each stack: its height as WithStackHeight gives it, its
// offset, and where its runs' errors and least errors go.
template <typename Measure>
inline __attribute__((always_inline)) void ForEachStack(const int32_t* offsets, const int32_t* heights,
                                                        int32_t count, uint32_t* errors, uint32_t* least,
                                                        const Measure& measure) {
    for (int32_t i = 0; i < count; ++i) {
        WithStackHeight(
            heights[i], [&](auto height) __attribute__((always_inline)) {
                measure(height, offsets[i], errors + 16 * kRunStack * i, least + kRunStack * i);
            });
    }
}

}  // namespace
}  // namespace rq43::dsp::x86
