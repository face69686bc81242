#include "dsp/ssd.h"
#include "dsp/x86/ssd_rows.h"
#include "dsp/x86/truncating_mean.h"

namespace rq43::dsp {

namespace {

using x86::Load16;
using x86::LoadRowPair;
using x86::RowSum;
using x86::SquaredDifferences;

// 8x8 against the row pairs `reference` gives: reference(k) holds prediction rows k and k + 1.
template <typename Reference>
uint32_t Sum8(const uint8_t* source, int32_t sourceStride, const Reference& reference, int32_t threshold) {
    RowSum sum(threshold);
    for (int row = 0; row < 8; row += 4) {
        __m128i r[4];
        x86::SquaredDifferencesOfRowPair(LoadRowPair(source + row * sourceStride, sourceStride),
                                         reference(row), r[0], r[1]);
        x86::SquaredDifferencesOfRowPair(LoadRowPair(source + (row + 2) * sourceStride, sourceStride),
                                         reference(row + 2), r[2], r[3]);
        if (sum.Add(x86::LaneSums(r[0], r[1], r[2], r[3]))) break;
    }
    return sum.Total();
}

}  // namespace

uint32_t M16Sse2(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                 int32_t referenceStride, uint32_t limit) {
    x86::PlainRows rows{reference, referenceStride};
    return x86::SumUntilReached(
        [&](int row) {
            return x86::HorizontalSum(SquaredDifferences(Load16(source + row * sourceStride), rows(row)));
        },
        limit);
}

uint32_t M16hSse2(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
                  int32_t referenceStride, uint32_t limit) {
    x86::RoundedMeanRows rows{a, b, referenceStride};
    return x86::SumUntilExceeded(
        [&](int row) {
            return x86::HorizontalSum(SquaredDifferences(Load16(source + row * sourceStride), rows(row)));
        },
        limit);
}

uint32_t M8Sse2(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                int32_t referenceStride, uint32_t limit) {
    return Sum8(
        source, sourceStride,
        [&](int row) { return LoadRowPair(reference + row * referenceStride, referenceStride); },
        x86::ExceedThreshold(limit));
}

uint32_t M8hSse2(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
                 int32_t referenceStride, uint32_t limit) {
    if (a == b) return M8Sse2(source, sourceStride, a, referenceStride, limit);
    return Sum8(
        source, sourceStride,
        [&](int row) {
            return x86::TruncatingMean(LoadRowPair(a + row * referenceStride, referenceStride),
                                       LoadRowPair(b + row * referenceStride, referenceStride));
        },
        x86::ExceedThreshold(limit));
}

uint32_t SquaredErrors16Sse2(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                             const uint32_t* referenceSquares, int32_t referenceStride,
                             const int32_t* offsets, int32_t count, uint32_t* errors) {
    // Products of two pixels summed pairwise stay below 2^17, sixteen rows of them below 2^22.
    const __m128i zero = _mm_setzero_si128();
    __m128i low[16], high[16];
    __m128i squares = zero;
    for (int row = 0; row < 16; ++row) {
        const __m128i pixels = Load16(source + row * sourceStride);
        low[row] = _mm_unpacklo_epi8(pixels, zero);
        high[row] = _mm_unpackhi_epi8(pixels, zero);
        squares = _mm_add_epi32(
            squares, _mm_add_epi32(_mm_madd_epi16(low[row], low[row]), _mm_madd_epi16(high[row], high[row])));
    }
    // Wrapping arithmetic: each error itself lies within 0 to 16,646,400.
    const uint32_t sourceSquares = x86::HorizontalSum(squares);
    auto product = [&](const uint16_t* p, int row) {
        return _mm_add_epi32(
            _mm_madd_epi16(low[row], _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
            _mm_madd_epi16(high[row], _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8))));
    };
    // Errors stay below 2^31, so that signed comparisons order them.
    __m128i least = _mm_set1_epi32(0x7FFFFFFF);
    int32_t i = 0;
    // Four blocks a row at a time, addressed from one pointer, as the AVX2 version.
    for (; i + 4 <= count; i += 4) {
        const uint16_t* p = reference + offsets[i];
        const std::ptrdiff_t d1 = offsets[i + 1] - offsets[i], d2 = offsets[i + 2] - offsets[i],
                             d3 = offsets[i + 3] - offsets[i];
        __m128i a = zero, b = zero, c = zero, d = zero;
#pragma GCC unroll 4
        for (int row = 0; row < 16; ++row, p += referenceStride) {
            a = _mm_add_epi32(a, product(p, row));
            b = _mm_add_epi32(b, product(p + d1, row));
            c = _mm_add_epi32(c, product(p + d2, row));
            d = _mm_add_epi32(d, product(p + d3, row));
        }
        const __m128i blockSquares = _mm_setr_epi32(static_cast<int32_t>(referenceSquares[offsets[i]]),
                                                    static_cast<int32_t>(referenceSquares[offsets[i + 1]]),
                                                    static_cast<int32_t>(referenceSquares[offsets[i + 2]]),
                                                    static_cast<int32_t>(referenceSquares[offsets[i + 3]]));
        const __m128i sums =
            _mm_sub_epi32(_mm_add_epi32(_mm_set1_epi32(static_cast<int32_t>(sourceSquares)), blockSquares),
                          _mm_slli_epi32(x86::LaneSums(a, b, c, d), 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(errors + i), sums);
        const __m128i above = _mm_cmpgt_epi32(least, sums);
        least = _mm_or_si128(_mm_and_si128(above, sums), _mm_andnot_si128(above, least));
    }
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), least);
    uint32_t leastOfAll = UINT32_MAX;
    for (int k = 0; k < 4 && i > 0; ++k) leastOfAll = lanes[k] < leastOfAll ? lanes[k] : leastOfAll;
    for (; i < count; ++i) {
        const uint16_t* p = reference + offsets[i];
        __m128i a = zero;
        for (int row = 0; row < 16; ++row, p += referenceStride) a = _mm_add_epi32(a, product(p, row));
        errors[i] = sourceSquares + referenceSquares[offsets[i]] - 2 * x86::HorizontalSum(a);
        leastOfAll = errors[i] < leastOfAll ? errors[i] : leastOfAll;
    }
    return leastOfAll;
}

}  // namespace rq43::dsp
