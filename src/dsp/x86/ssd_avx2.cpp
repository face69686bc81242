#include "dsp/ssd.h"
#include "dsp/x86/ssd_rows.h"

namespace rq43::dsp {

namespace {

using x86::Load16;

// One row's squared differences against a prediction row: sixteen 16-bit lanes make one register.
inline uint32_t RowSsd(const uint8_t* source, __m128i prediction) {
    __m256i d = _mm256_sub_epi16(_mm256_cvtepu8_epi16(Load16(source)), _mm256_cvtepu8_epi16(prediction));
    __m256i squares = _mm256_madd_epi16(d, d);
    return x86::HorizontalSum(
        _mm_add_epi32(_mm256_castsi256_si128(squares), _mm256_extracti128_si256(squares, 1)));
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

}  // namespace rq43::dsp
