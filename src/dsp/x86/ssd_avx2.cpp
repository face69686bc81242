#include "dsp/ssd.h"
#include "dsp/x86/run_stacks.h"
#include "dsp/x86/squared_errors_avx2.h"
#include "dsp/x86/ssd_rows.h"

namespace rq43::dsp {

namespace {

using x86::Least;
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

namespace {

// A stack's reference rows widened to 16 bits, 31 pixels a row (a run's row ends at its byte 30).
constexpr int32_t kWidePitch = 32;

// Products of a stack's runs `Height` rows deep. AVX2 has no byte products that cannot saturate, so the
// pixels are multiplied as 16-bit pairs: a source pair broadcast meets the reference pairs of eight
// positions at once, the even positions from one load and the odd ones from a load a pixel further on.
// `even[j]` holds positions 0, 2, ... 14 of run j and `odd[j]` positions 1, 3, ... 15.
template <int Height>
inline __attribute__((always_inline)) void StackProducts(const uint16_t* wide, const uint32_t* sourcePairs,
                                                         __m256i (&even)[Height], __m256i (&odd)[Height]) {
    for (int j = 0; j < Height; ++j) even[j] = odd[j] = _mm256_setzero_si256();
    auto at = [](const uint16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); };
#pragma GCC unroll 1
    for (int row = 0; row < 16; ++row, wide += kWidePitch, sourcePairs += 8) {
        // Hidden from the optimiser row by row: it would otherwise keep the loads a later row repeats (run
        // j + 1 reads the rows of run j one row on), which do not fit in registers, and spill them.
        const uint16_t* rows = wide;
        __asm__("" : "+r"(rows));
#pragma GCC unroll 8
        for (int c = 0; c < 8; ++c) {
            const __m256i pair = _mm256_set1_epi32(static_cast<int32_t>(sourcePairs[c]));
#pragma GCC unroll 4
            for (int j = 0; j < Height; ++j) {
                const uint16_t* p = rows + j * kWidePitch + 2 * c;
                even[j] = _mm256_add_epi32(even[j], _mm256_madd_epi16(pair, at(p)));
                odd[j] = _mm256_add_epi32(odd[j], _mm256_madd_epi16(pair, at(p + 1)));
                // Keeps the sums in registers pair by pair: regrouped, the products would be spilled.
                __asm__("" : "+x"(even[j]), "+x"(odd[j]));
            }
        }
    }
}

template <int Height>
inline __attribute__((always_inline)) void MeasureStack(const uint8_t* p, int32_t stride,
                                                        const uint32_t* sourcePairs, __m256i sourceSquares,
                                                        const uint32_t* referenceSquares, uint32_t* errors,
                                                        uint32_t* least) {
    // Aligned to a cache line, as the rows are: no load then spans two lines.
    alignas(64) uint16_t wide[(Height + 15) * kWidePitch];
    for (int r = 0; r < Height + 15; ++r) {
        const uint8_t* row = p + r * stride;
        _mm256_store_si256(reinterpret_cast<__m256i*>(wide + r * kWidePitch),
                           _mm256_cvtepu8_epi16(Load16(row)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(wide + r * kWidePitch + 15),
                            _mm256_cvtepu8_epi16(Load16(row + 15)));
    }
    __m256i even[Height], odd[Height];
    StackProducts<Height>(wide, sourcePairs, even, odd);
    for (int j = 0; j < Height; ++j) {
        // Positions 0-3 and 8-11, then 4-7 and 12-15, then in order.
        const __m256i low = _mm256_unpacklo_epi32(even[j], odd[j]),
                      high = _mm256_unpackhi_epi32(even[j], odd[j]);
        const __m256i products[2] = {_mm256_permute2x128_si256(low, high, 0x20),
                                     _mm256_permute2x128_si256(low, high, 0x31)};
        __m256i run[2];
        for (int h = 0; h < 2; ++h) {
            const __m256i blockSquares =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(referenceSquares + j * stride + 8 * h));
            // Wrapping arithmetic: the error itself lies within 0 to 16,646,400.
            run[h] = _mm256_sub_epi32(_mm256_add_epi32(sourceSquares, blockSquares),
                                      _mm256_slli_epi32(products[h], 1));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(errors + 16 * j + 8 * h), run[h]);
        }
        least[j] = Least(_mm256_min_epu32(run[0], run[1]));
    }
}

}  // namespace

void SquaredErrorRuns16Avx2(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                            const uint16_t* /*referenceSums*/, const uint32_t* referenceSquares,
                            int32_t referenceStride, const int32_t* offsets, const int32_t* heights,
                            int32_t count, uint32_t* errors, uint32_t* least) {
    // Row r's pixels 2 c and 2 c + 1 at 8 r + c, as the 16-bit pairs the multiplies take.
    alignas(32) uint32_t sourcePairs[16 * 8];
    __m256i squares = _mm256_setzero_si256();
    for (int row = 0; row < 16; ++row) {
        const __m256i wide = _mm256_cvtepu8_epi16(Load16(source + row * sourceStride));
        squares = _mm256_add_epi32(squares, _mm256_madd_epi16(wide, wide));
        _mm256_store_si256(reinterpret_cast<__m256i*>(sourcePairs + 8 * row), wide);
    }
    const __m256i sourceSquares = _mm256_set1_epi32(static_cast<int32_t>(Total(squares)));
    x86::ForEachStack(
        offsets, heights, count, errors,
        least, [&](auto height, int32_t offset, uint32_t* to, uint32_t* lows) __attribute__((always_inline)) {
            MeasureStack<decltype(height)::value>(reference + offset, referenceStride, sourcePairs,
                                                  sourceSquares, referenceSquares + offset, to, lows);
        });
}

}  // namespace rq43::dsp
