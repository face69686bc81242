#include <immintrin.h>

#include "dsp/ssd.h"
#include "dsp/x86/run_stacks.h"
#include "dsp/x86/squared_errors_avx2.h"
#include "dsp/x86/ssd_rows.h"

namespace rq43::dsp {

// One instruction multiplies and accumulates, where AVX2 takes two: the errors kernel is most of the full
// search.
uint32_t SquaredErrors16AvxVnni(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                                const uint32_t* referenceSquares, int32_t referenceStride,
                                const int32_t* offsets, int32_t count, uint32_t* errors) {
    return x86::SquaredErrors16(
        source, sourceStride, reference, referenceSquares, referenceStride, offsets, count, errors,
        [](__m256i sum, __m256i a, __m256i b) { return _mm256_dpwssd_avx_epi32(sum, a, b); });
}

namespace {

// Runs stacked `Height` rows deep, as the AVX-512 kernel does, with the sixteen lanes of a run in two
// registers: lanes 0-7 and 8-15. A byte shuffle reaches only within its 128-bit half, so each half takes
// its bytes from a 16-byte window of the row broadcast to both: the four lanes of a half that meet source
// group g need bytes 4 g + j + k of the row, eleven consecutive bytes. Lanes 0-7 of group g and lanes 8-15
// of group g - 2 need the same bytes, so six shuffles serve a row, each used at once so that few registers
// hold bytes. The shallow stacks split each sum in two, so that few sums do not wait on one another.
template <int Height>
inline __attribute__((always_inline)) void StackProducts(const uint8_t* p, int32_t stride,
                                                         const __m256i* groups, __m256i near,
                                                         __m256i (&products)[Height][2]) {
    constexpr int kSplit = Height <= 2 ? 2 : 1;
    // The last window starts at 15, not 16: a run's rows end at byte 30.
    const __m256i past16 = _mm256_add_epi8(near, _mm256_set1_epi8(1));
    const __m256i past20 = _mm256_add_epi8(near, _mm256_set1_epi8(5));
    __m256i sums[Height][2][kSplit];
    for (int j = 0; j < Height; ++j) {
        for (int h = 0; h < 2; ++h) {
            for (int s = 0; s < kSplit; ++s) sums[j][h][s] = _mm256_setzero_si256();
        }
    }
#pragma GCC unroll 19
    for (int r = 0; r < Height + 15; ++r) {
        const uint8_t* row = p + r * stride;
        auto window = [&](int at) {
            return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at)));
        };
        // Bytes 4 m + j + k for lane j: group m of lanes 0-7, group m - 2 of lanes 8-15.
#pragma GCC unroll 6
        for (int m = 0; m < 6; ++m) {
            const __m256i gathered = m < 4    ? _mm256_shuffle_epi8(window(4 * m), near)
                                     : m == 4 ? _mm256_shuffle_epi8(window(15), past16)
                                              : _mm256_shuffle_epi8(window(15), past20);
            // Hidden from the optimiser shuffle by shuffle, so that it takes each group from memory within
            // the multiply rather than keeping the groups two shuffles use in registers and spilling sums.
            const __m256i* source = groups;
            __asm__ volatile("" : "+r"(source));
            x86::ForEachRunOfRow<Height>(
                r, [&](int j, int sourceRow) __attribute__((always_inline)) {
                    const __m256i* g = source + 4 * sourceRow;
                    if (m < 4) {
                        __m256i& low = sums[j][0][m % kSplit];
                        low = _mm256_dpbusd_avx_epi32(low, gathered, g[m]);
                    }
                    if (m >= 2) {
                        __m256i& high = sums[j][1][m % kSplit];
                        high = _mm256_dpbusd_avx_epi32(high, gathered, g[m - 2]);
                    }
                });
        }
    }
    for (int j = 0; j < Height; ++j) {
        for (int h = 0; h < 2; ++h) {
            products[j][h] =
                kSplit == 2 ? _mm256_add_epi32(sums[j][h][0], sums[j][h][kSplit - 1]) : sums[j][h][0];
        }
    }
}

// The errors of a stack's runs, completed from the products, and each run's least.
template <int Height>
inline __attribute__((always_inline)) void MeasureStack(const uint8_t* p, int32_t stride,
                                                        const __m256i* groups, __m256i near,
                                                        __m256i sourceSquares, const uint16_t* referenceSums,
                                                        const uint32_t* referenceSquares, uint32_t* errors,
                                                        uint32_t* least) {
    __m256i products[Height][2];
    StackProducts<Height>(p, stride, groups, near, products);
    for (int j = 0; j < Height; ++j) {
        __m256i run[2];
        for (int h = 0; h < 2; ++h) {
            const int32_t at = j * stride + 8 * h;
            const __m256i sums =
                _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(referenceSums + at)));
            const __m256i unbiased = _mm256_add_epi32(products[j][h], _mm256_slli_epi32(sums, 7));
            const __m256i blockSquares =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(referenceSquares + at));
            // Wrapping arithmetic: the error itself lies within 0 to 16,646,400.
            run[h] = _mm256_sub_epi32(_mm256_add_epi32(sourceSquares, blockSquares),
                                      _mm256_slli_epi32(unbiased, 1));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(errors + 16 * j + 8 * h), run[h]);
        }
        least[j] = x86::Least(_mm256_min_epu32(run[0], run[1]));
    }
}

}  // namespace

// The AVX-512 kernel's method (SquaredErrorRuns16Avx512) at half the width, the source biased alike.
void SquaredErrorRuns16AvxVnni(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                               const uint16_t* referenceSums, const uint32_t* referenceSquares,
                               int32_t referenceStride, const int32_t* offsets, const int32_t* heights,
                               int32_t count, uint32_t* errors, uint32_t* least) {
    // Row r's group g, broadcast, at 4 r + g: the multiplies take them from memory.
    alignas(32) __m256i groups[64];
    const __m256i sourceSquares = _mm256_set1_epi32(
        static_cast<int32_t>(x86::BiasedSource(source, sourceStride, [&](int row, __m128i biased) {
            const __m256i both = _mm256_broadcastsi128_si256(biased);
            groups[4 * row] = _mm256_shuffle_epi32(both, 0x00);
            groups[4 * row + 1] = _mm256_shuffle_epi32(both, 0x55);
            groups[4 * row + 2] = _mm256_shuffle_epi32(both, 0xAA);
            groups[4 * row + 3] = _mm256_shuffle_epi32(both, 0xFF);
        })));
    // Byte k of lane j (0-3) of each half at j + k, and four further on in the upper half.
    const __m256i near = _mm256_add_epi8(_mm256_set1_epi32(0x03020100),
                                         _mm256_setr_epi32(0x00000000, 0x01010101, 0x02020202, 0x03030303,
                                                           0x04040404, 0x05050505, 0x06060606, 0x07070707));
    x86::ForEachStack(
        offsets, heights, count, errors,
        least, [&](auto height, int32_t offset, uint32_t* to, uint32_t* lows) __attribute__((always_inline)) {
            MeasureStack<decltype(height)::value>(reference + offset, referenceStride, groups, near,
                                                  sourceSquares, referenceSums + offset,
                                                  referenceSquares + offset, to, lows);
        });
}

}  // namespace rq43::dsp
