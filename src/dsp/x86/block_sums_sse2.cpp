#include <emmintrin.h>

#include <cstddef>

#include "dsp/block_sums.h"

namespace rq43::dsp {

namespace {

inline __m128i LoadEightWidened(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}
inline __m128i Load(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
inline void Store(void* p, __m128i v) {
    _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// Row r of the outputs becomes the column sums over pixel rows r..r+15: from scratch for row 0, else from
// row r - 1 plus the entering row less the leaving one. Sums stay below 2^16 and squares below 2^32, so
// the wrapping lane arithmetic is exact.
void ColumnSums(const uint8_t* pixels, int32_t stride, int32_t r, uint16_t* sums, uint32_t* squares) {
    const ptrdiff_t at = static_cast<ptrdiff_t>(r) * stride;
    const __m128i zero = _mm_setzero_si128();
    int32_t c = 0;
    for (; c + 8 <= stride; c += 8) {
        __m128i sum, squaresLow, squaresHigh;
        if (r == 0) {
            sum = squaresLow = squaresHigh = zero;
            for (int32_t k = 0; k < 16; ++k) {
                const __m128i p = LoadEightWidened(pixels + k * static_cast<ptrdiff_t>(stride) + c);
                const __m128i square = _mm_mullo_epi16(p, p);  // 255^2 fits 16 unsigned bits
                sum = _mm_add_epi16(sum, p);
                squaresLow = _mm_add_epi32(squaresLow, _mm_unpacklo_epi16(square, zero));
                squaresHigh = _mm_add_epi32(squaresHigh, _mm_unpackhi_epi16(square, zero));
            }
        } else {
            const __m128i entering = LoadEightWidened(pixels + at + 15 * static_cast<ptrdiff_t>(stride) + c);
            const __m128i leaving = LoadEightWidened(pixels + at - stride + c);
            const __m128i enteringSquare = _mm_mullo_epi16(entering, entering);
            const __m128i leavingSquare = _mm_mullo_epi16(leaving, leaving);
            sum = _mm_sub_epi16(_mm_add_epi16(Load(sums + at - stride + c), entering), leaving);
            squaresLow = _mm_sub_epi32(
                _mm_add_epi32(Load(squares + at - stride + c), _mm_unpacklo_epi16(enteringSquare, zero)),
                _mm_unpacklo_epi16(leavingSquare, zero));
            squaresHigh = _mm_sub_epi32(
                _mm_add_epi32(Load(squares + at - stride + c + 4), _mm_unpackhi_epi16(enteringSquare, zero)),
                _mm_unpackhi_epi16(leavingSquare, zero));
        }
        Store(sums + at + c, sum);
        Store(squares + at + c, squaresLow);
        Store(squares + at + c + 4, squaresHigh);
    }
    for (; c < stride; ++c) {
        uint32_t sum = 0, square = 0;
        for (int32_t k = 0; k < 16; ++k) {
            const uint32_t p = pixels[at + k * static_cast<ptrdiff_t>(stride) + c];
            sum += p;
            square += p * p;
        }
        sums[at + c] = static_cast<uint16_t>(sum);
        squares[at + c] = square;
    }
}

// Turns a row of column sums into sums of 16 neighbours, in place: pairs, then pairs of pairs, and so on.
// Each pass reads only at and ahead of what it writes, so it may overwrite as it goes.
void RowSums(int32_t stride, uint16_t* sums, uint32_t* squares) {
    int32_t valid = stride;
    for (int32_t shift = 1; shift < 16; shift *= 2) {
        valid -= shift;
        int32_t c = 0;
        for (; c + 8 <= valid; c += 8) Store(sums + c, _mm_add_epi16(Load(sums + c), Load(sums + c + shift)));
        for (; c < valid; ++c) sums[c] = static_cast<uint16_t>(sums[c] + sums[c + shift]);
        c = 0;
        for (; c + 4 <= valid; c += 4) {
            Store(squares + c, _mm_add_epi32(Load(squares + c), Load(squares + c + shift)));
        }
        for (; c < valid; ++c) squares[c] += squares[c + shift];
    }
}

}  // namespace

void SumBlocks16Sse2(const uint8_t* pixels, int32_t stride, int32_t rows, uint16_t* sums, uint32_t* squares) {
    if (stride < 16) return;
    for (int32_t r = 0; r + 16 <= rows; ++r) {
        ColumnSums(pixels, stride, r, sums, squares);
        // The row above has served as the start of this one: now it may become block sums.
        if (r > 0) {
            const ptrdiff_t above = static_cast<ptrdiff_t>(r - 1) * stride;
            RowSums(stride, sums + above, squares + above);
        }
    }
    if (rows >= 16) {
        const ptrdiff_t last = static_cast<ptrdiff_t>(rows - 16) * stride;
        RowSums(stride, sums + last, squares + last);
    }
}

}  // namespace rq43::dsp
