#include "motion/block_sums.h"

#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rq43 {

namespace {

// Four-tap sums along rows, then down columns, in place: entry (X, Y) becomes the sum of the 4x4 entries
// from (X, Y). Entries whose taps leave the array are left as they were.
void SumFourByFour(uint16_t* values, int32_t stride, int32_t rows) {
    const int32_t across = stride - 3;
    for (int32_t r = 0; r < rows; ++r) {
        uint16_t* row = values + static_cast<ptrdiff_t>(r) * stride;
        for (int32_t c = 0; c < across; ++c)
            row[c] = static_cast<uint16_t>(row[c] + row[c + 1] + row[c + 2] + row[c + 3]);
    }
    const ptrdiff_t gap = stride;
    for (int32_t r = 0; r + 3 < rows; ++r) {
        uint16_t* row = values + static_cast<ptrdiff_t>(r) * stride;
        for (int32_t c = 0; c < across; ++c)
            row[c] = static_cast<uint16_t>(row[c] + row[c + gap] + row[c + 2 * gap] + row[c + 3 * gap]);
    }
}

}  // namespace

void ComputeBlockSums(const uint8_t* origin, int32_t stride, int32_t height, int32_t border,
                      BlockSums& sums) {
    const int32_t rows = height + 2 * border;
    const size_t entries = static_cast<size_t>(stride) * static_cast<size_t>(rows);
    sums.stride = stride;
    sums.border = border;
    sums.sums4.resize(entries);
    const uint8_t* first = origin - static_cast<ptrdiff_t>(border) * stride - border;
    for (size_t i = 0; i < entries; ++i) sums.sums4[i] = first[i];
    SumFourByFour(sums.sums4.data(), stride, rows);
}

SourceSums SumSourceBlock(const uint8_t* source, int32_t stride) {
    SourceSums sums{};
    for (int r = 0; r < 16; ++r) {
        const uint8_t* row = source + static_cast<ptrdiff_t>(r) * stride;
        for (int c = 0; c < 16; ++c) {
            uint16_t& part = sums.parts[(r / 4) * 4 + c / 4];
            part = static_cast<uint16_t>(part + row[c]);
        }
    }
    return sums;
}

void WindowBounds(const BlockSums& sums, const SourceSums& source, int32_t xlo, int32_t xhi, int32_t ylo,
                  int32_t yhi, uint32_t* bounds) {
    const int32_t pitch = WindowBoundsPitch(xlo, xhi);
    ptrdiff_t offsets[16];
    for (int part = 0; part < 16; ++part)
        offsets[part] = static_cast<ptrdiff_t>(4 * (part / 4)) * sums.stride + 4 * (part % 4);
#if defined(__SSE2__)
    __m128i wanted[16];
    for (int part = 0; part < 16; ++part)
        wanted[part] = _mm_set1_epi16(static_cast<int16_t>(source.parts[part]));
#endif
    for (int32_t y = ylo; y <= yhi; ++y, bounds += pitch) {
        const uint16_t* at = sums.sums4.data() + sums.At(xlo, y);
#if defined(__SSE2__)
        // Eight positions at a time, up to the pitch: the reads past the window stay inside the array
        // (its last rows lie below any window's lowest part) and their bounds are not used. A difference
        // of part sums lies within +-4080, a 16-bit lane; the squares of two parts are added pairwise into
        // 32-bit lanes, and 16 of them stay below 2^31.
        for (int32_t x = 0; x < pitch; x += 8) {
            __m128i low = _mm_setzero_si128(), high = _mm_setzero_si128();
            for (int part = 0; part < 16; part += 2) {
                const __m128i a = _mm_sub_epi16(
                    wanted[part], _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + offsets[part] + x)));
                const __m128i b = _mm_sub_epi16(
                    wanted[part + 1],
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + offsets[part + 1] + x)));
                const __m128i ab0 = _mm_unpacklo_epi16(a, b), ab1 = _mm_unpackhi_epi16(a, b);
                low = _mm_add_epi32(low, _mm_madd_epi16(ab0, ab0));
                high = _mm_add_epi32(high, _mm_madd_epi16(ab1, ab1));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(bounds + x), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(bounds + x + 4), high);
        }
#else
        for (int32_t x = 0; x <= xhi - xlo; ++x) {
            uint32_t bound = 0;
            for (int part = 0; part < 16; ++part) {
                const int32_t d = int32_t{source.parts[part]} - at[offsets[part] + x];
                bound += static_cast<uint32_t>(d * d);
            }
            bounds[x] = bound;
        }
#endif
    }
}

}  // namespace rq43
