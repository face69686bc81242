#include "dsp/ssd.h"
#include "dsp/x86/ssd_rows.h"

namespace rq43::dsp {

namespace {

using x86::Load16;

// One row's squared differences against a prediction row, in eight lanes.
inline __m256i RowSquares(const uint8_t* source, __m128i prediction) {
    __m256i d = _mm256_sub_epi16(_mm256_cvtepu8_epi16(Load16(source)), _mm256_cvtepu8_epi16(prediction));
    return _mm256_madd_epi16(d, d);
}

template <typename Reference>
uint32_t Sum16(const uint8_t* source, int32_t sourceStride, const Reference& reference, int32_t threshold) {
    x86::RowSum sum(threshold);
    for (int row = 0; row < 16; row += 4) {
        __m256i r0 = RowSquares(source + row * sourceStride, reference(row));
        __m256i r1 = RowSquares(source + (row + 1) * sourceStride, reference(row + 1));
        __m256i r2 = RowSquares(source + (row + 2) * sourceStride, reference(row + 2));
        __m256i r3 = RowSquares(source + (row + 3) * sourceStride, reference(row + 3));
        __m256i halves = _mm256_hadd_epi32(_mm256_hadd_epi32(r0, r1), _mm256_hadd_epi32(r2, r3));
        __m128i rows = _mm_add_epi32(_mm256_castsi256_si128(halves), _mm256_extracti128_si256(halves, 1));
        if (sum.Add(rows)) break;
    }
    return sum.Total();
}

}  // namespace

uint32_t M16Avx2(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                 int32_t referenceStride, uint32_t limit) {
    return Sum16(source, sourceStride, x86::PlainRows{reference, referenceStride},
                 x86::ReachThreshold(limit));
}

uint32_t M16hAvx2(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
                  int32_t referenceStride, uint32_t limit) {
    return Sum16(source, sourceStride, x86::RoundedMeanRows{a, b, referenceStride},
                 x86::ExceedThreshold(limit));
}

}  // namespace rq43::dsp
