#include "dsp/ssd.h"
#include "dsp/x86/ssd_rows.h"

namespace rq43::dsp {

namespace {

using x86::Load16;

// One row's squared differences against a prediction row in lanes: sixteen 16-bit lanes make one register.
inline __m256i RowSquares(const uint8_t* source, __m128i prediction) {
    __m256i d = _mm256_sub_epi16(_mm256_cvtepu8_epi16(Load16(source)), _mm256_cvtepu8_epi16(prediction));
    return _mm256_madd_epi16(d, d);
}

inline uint32_t Total(__m256i lanes) {
    return x86::HorizontalSum(
        _mm_add_epi32(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1)));
}

inline uint32_t RowSsd(const uint8_t* source, __m128i prediction) {
    return Total(RowSquares(source, prediction));
}

}  // namespace

uint32_t M16Avx2(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                 int32_t referenceStride, uint32_t limit) {
    x86::PlainRows rows{reference, referenceStride};
    return x86::SumUntilReached([&](int row) { return RowSsd(source + row * sourceStride, rows(row)); },
                                limit);
}

uint32_t M16hAvx2(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
                  int32_t referenceStride, uint32_t limit) {
    x86::RoundedMeanRows rows{a, b, referenceStride};
    return x86::SumUntilExceeded([&](int row) { return RowSsd(source + row * sourceStride, rows(row)); },
                                 limit);
}

void ProductSums16Avx2(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                       int32_t referenceStride, const int32_t* offsets, int32_t count, uint32_t* products) {
    // Products of two pixels summed pairwise stay below 2^17, sixteen rows of them below 2^22.
    __m256i rows[16];
    for (int row = 0; row < 16; ++row) rows[row] = _mm256_cvtepu8_epi16(Load16(source + row * sourceStride));
    auto product = [&](const uint16_t* p, int row) {
        return _mm256_madd_epi16(rows[row], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    };
    auto folded = [](__m256i v) {
        return _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    };
    int32_t i = 0;
    // Four blocks a row at a time, addressed from one pointer: a pointer step per block and row would cost
    // a good part of the row.
    for (; i + 4 <= count; i += 4) {
        const uint16_t* p = reference + offsets[i];
        const std::ptrdiff_t d1 = offsets[i + 1] - offsets[i], d2 = offsets[i + 2] - offsets[i],
                             d3 = offsets[i + 3] - offsets[i];
        __m256i a = _mm256_setzero_si256(), b = a, c = a, d = a;
#pragma GCC unroll 4
        for (int row = 0; row < 16; ++row, p += referenceStride) {
            a = _mm256_add_epi32(a, product(p, row));
            b = _mm256_add_epi32(b, product(p + d1, row));
            c = _mm256_add_epi32(c, product(p + d2, row));
            d = _mm256_add_epi32(d, product(p + d3, row));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(products + i),
                         x86::LaneSums(folded(a), folded(b), folded(c), folded(d)));
    }
    for (; i < count; ++i) {
        const uint16_t* p = reference + offsets[i];
        __m256i a = _mm256_setzero_si256();
        for (int row = 0; row < 16; ++row, p += referenceStride) a = _mm256_add_epi32(a, product(p, row));
        products[i] = x86::HorizontalSum(folded(a));
    }
}

}  // namespace rq43::dsp
