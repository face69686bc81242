// Two rows to a register; the sums wrap exactly as the SSE2 and plain kernels' do.
#include <immintrin.h>

#include <cstddef>

#include "dsp/block_error.h"

namespace rq43::dsp {
namespace {

__m256i AddSquares(__m256i sum, __m256i difference) {
    return _mm256_add_epi32(sum, _mm256_madd_epi16(difference, difference));
}

uint32_t Total(__m256i sum) {
    __m128i half = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(1, 0, 3, 2)));
    half = _mm_add_epi32(half, _mm_shuffle_epi32(half, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(half));
}

}  // namespace

uint32_t PixelErrorAvx2(const uint8_t* pixels, const uint8_t* source, int32_t stride) {
    __m256i sum = _mm256_setzero_si256();
    for (int r = 0; r < 8; r += 2) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 8 * r));
        const __m128i s = _mm_castpd_si128(_mm_loadh_pd(
            _mm_castsi128_pd(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + ptrdiff_t{r} * stride))),
            reinterpret_cast<const double*>(source + ptrdiff_t{r + 1} * stride)));
        sum = AddSquares(sum, _mm256_sub_epi16(_mm256_cvtepu8_epi16(p), _mm256_cvtepu8_epi16(s)));
    }
    return Total(sum);
}

uint32_t ResidualErrorAvx2(const int16_t* samples, const int16_t* residual, int32_t pitch) {
    __m256i sum = _mm256_setzero_si256();
    for (int r = 0; r < 8; r += 2) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + 8 * r));
        const __m256i d = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + ptrdiff_t{r} * pitch))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(residual + ptrdiff_t{r + 1} * pitch)), 1);
        sum = AddSquares(sum, _mm256_sub_epi16(s, d));
    }
    return Total(sum);
}

}  // namespace rq43::dsp
