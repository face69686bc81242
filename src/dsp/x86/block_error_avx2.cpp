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

// Two rows, the one at p and the one `stride` below, each loaded on its own: the blocks measured are often
// written row by row just before, and a load spanning two such stores waits for them to retire.
__m128i TwoRows8(const uint8_t* p, ptrdiff_t stride) {
    return _mm_castpd_si128(
        _mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))),
                     reinterpret_cast<const double*>(p + stride)));
}
__m256i TwoRows16(const int16_t* p, ptrdiff_t stride) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride)), 1);
}

}  // namespace

uint32_t PixelErrorAvx2(const uint8_t* pixels, const uint8_t* source, int32_t stride) {
    __m256i sum = _mm256_setzero_si256();
    for (int r = 0; r < 8; r += 2) {
        const __m256i p = _mm256_cvtepu8_epi16(TwoRows8(pixels + 8 * r, 8));
        const __m256i s = _mm256_cvtepu8_epi16(TwoRows8(source + ptrdiff_t{r} * stride, stride));
        sum = AddSquares(sum, _mm256_sub_epi16(p, s));
    }
    return Total(sum);
}

uint32_t ResidualErrorAvx2(const int16_t* samples, const int16_t* residual, int32_t pitch) {
    __m256i sum = _mm256_setzero_si256();
    for (int r = 0; r < 8; r += 2) {
        const __m256i s = TwoRows16(samples + 8 * r, 8);
        const __m256i d = TwoRows16(residual + ptrdiff_t{r} * pitch, pitch);
        sum = AddSquares(sum, _mm256_sub_epi16(s, d));
    }
    return Total(sum);
}

}  // namespace rq43::dsp
