#include <emmintrin.h>

#include <cstddef>

#include "dsp/block_error.h"

namespace rq43::dsp {
namespace {

// pmaddwd pairs the squares; a pair of two -32768 differences wraps to 0x80000000, which is their sum
// modulo 2^32 as the plain kernel keeps it.
__m128i AddSquares(__m128i sum, __m128i difference) {
    return _mm_add_epi32(sum, _mm_madd_epi16(difference, difference));
}

uint32_t Total(__m128i sum) {
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
}

}  // namespace

uint32_t PixelErrorSse2(const uint8_t* pixels, const uint8_t* source, int32_t stride) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero;
    for (int r = 0; r < 8; ++r) {
        const __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels + 8 * r));
        const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + ptrdiff_t{r} * stride));
        sum = AddSquares(sum, _mm_sub_epi16(_mm_unpacklo_epi8(p, zero), _mm_unpacklo_epi8(s, zero)));
    }
    return Total(sum);
}

uint32_t ResidualErrorSse2(const int16_t* samples, const int16_t* residual, int32_t pitch) {
    __m128i sum = _mm_setzero_si128();
    for (int r = 0; r < 8; ++r) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 8 * r));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + ptrdiff_t{r} * pitch));
        sum = AddSquares(sum, _mm_sub_epi16(s, d));
    }
    return Total(sum);
}

}  // namespace rq43::dsp
