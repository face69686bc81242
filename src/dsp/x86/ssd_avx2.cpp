#include "dsp/ssd.h"
#include "dsp/x86/squared_errors_avx2.h"
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

uint32_t SquaredErrors16Avx2(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                             const uint32_t* referenceSquares, int32_t referenceStride,
                             const int32_t* offsets, int32_t count, uint32_t* errors) {
    return x86::SquaredErrors16(
        source, sourceStride, reference, referenceSquares, referenceStride, offsets, count, errors,
        [](__m256i sum, __m256i a, __m256i b) { return _mm256_add_epi32(sum, _mm256_madd_epi16(a, b)); });
}

}  // namespace rq43::dsp
