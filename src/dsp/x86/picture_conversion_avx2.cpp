#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "dsp/picture_conversion.h"
#include "dsp/x86/simd_bytes.h"

namespace rq43::dsp {
namespace {

__m256i Load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
void Store32(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
__m256i Gather(const int32_t* table, __m256i indexes) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), indexes, 4);
}

// Sixteen pixel pairs a step: chroma pairs interleaved per 128-bit lane, luma put beside them, the two
// lanes' halves put back in order.
template <bool LumaFirst>
void PackRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out) {
    uint32_t k = 0;
    for (; k + 16 <= pairs; k += 16) {
        const __m256i luma = Load32(y + 2 * k);
        const __m256i us = _mm256_permute4x64_epi64(_mm256_castsi128_si256(Load(u + k)), 0x50);
        const __m256i vs = _mm256_permute4x64_epi64(_mm256_castsi128_si256(Load(v + k)), 0x50);
        const __m256i chroma = _mm256_unpacklo_epi8(us, vs);
        const __m256i lo =
            LumaFirst ? _mm256_unpacklo_epi8(luma, chroma) : _mm256_unpacklo_epi8(chroma, luma);
        const __m256i hi =
            LumaFirst ? _mm256_unpackhi_epi8(luma, chroma) : _mm256_unpackhi_epi8(chroma, luma);
        Store32(out + 4 * k, _mm256_permute2x128_si256(lo, hi, 0x20));
        Store32(out + 4 * k + 32, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    if (LumaFirst) {
        PackYuy2RowSse2(y + 2 * k, u + k, v + k, pairs - k, out + 4 * k);
    } else {
        PackUyvyRowSse2(y + 2 * k, u + k, v + k, pairs - k, out + 4 * k);
    }
}

// Eight pixels to Y, U and V bytes 0..7 of three registers.
void RgbToYuvEight(const uint8_t* pixels, int32_t bytesPerPixel, const RgbInputTables& t, uint8_t* y,
                   uint8_t* u, uint8_t* v) {
    __m256i words;
    if (bytesPerPixel == 4) {
        words = Load32(pixels);
    } else {
        // Pixels 4..7 come from bytes 12..23, read as bytes 4..15 of a load at 8 so nothing past 24 is read.
        const __m256i bytes =
            _mm256_inserti128_si256(_mm256_castsi128_si256(Load(pixels)), Load(pixels + 8), 1);
        words = _mm256_shuffle_epi8(
            bytes, _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                    4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1));
    }
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    const __m256i b = _mm256_and_si256(words, byteMask);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi32(words, 8), byteMask);
    const __m256i r = _mm256_and_si256(_mm256_srli_epi32(words, 16), byteMask);
    // Y and U come a pair to a gather element, which costs as much as a single: pixels 0, 1, 4 and 5 in
    // one register and 2, 3, 6 and 7 in the other, so that taking the halves of both gives pixel order.
    auto pairs = [](const int64_t* table, __m256i indexes, int half) {
        const __m128i low = _mm256_castsi256_si128(indexes), high = _mm256_extracti128_si256(indexes, 1);
        return _mm256_i32gather_epi64(
            reinterpret_cast<const long long*>(table),
            half == 0 ? _mm_unpacklo_epi64(low, high) : _mm_unpackhi_epi64(low, high), 8);
    };
    __m256 yuPairs[2];
    for (int half = 0; half < 2; ++half) {
        yuPairs[half] = _mm256_castsi256_ps(_mm256_add_epi64(
            _mm256_add_epi64(pairs(t.tyuR, r, half), pairs(t.tyuG, g, half)), pairs(t.tyuB, b, half)));
    }
    const __m256i yTotal =
        _mm256_castps_si256(_mm256_shuffle_ps(yuPairs[0], yuPairs[1], _MM_SHUFFLE(2, 0, 2, 0)));
    const __m256i uTotal =
        _mm256_castps_si256(_mm256_shuffle_ps(yuPairs[0], yuPairs[1], _MM_SHUFFLE(3, 1, 3, 1)));
    const __m256i vTotal =
        _mm256_add_epi32(_mm256_add_epi32(Gather(t.tvR, r), Gather(t.tvG, g)), Gather(t.tvB, b));
    const __m256i ys = _mm256_srai_epi32(yTotal, 18);
    const __m256i us = _mm256_srai_epi32(uTotal, 18);
    const __m256i vs = _mm256_srai_epi32(vTotal, 18);
    // Per lane: Y0-3 U0-3 V0-3 V0-3, then lanes interleaved by 32-bit groups.
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(ys, us), _mm256_packs_epi32(vs, vs));
    const __m256i ordered = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    const __m128i yu = _mm256_castsi256_si128(ordered);
    Store8(y, yu);
    Store8(u, _mm_unpackhi_epi64(yu, yu));
    Store8(v, _mm256_extracti128_si256(ordered, 1));
}

// The 6-tap filter of sixteen outputs from their tap sums a + f, b + e and c + d, in words in output order.
__m128i FilterSixteen(__m256i af, __m256i be, __m256i cd) {
    const __m256i outer = _mm256_set1_epi32(static_cast<int32_t>((1977u << 16) | 0xFF81u));  // (-127, 1977)
    const __m256i inner = _mm256_set1_epi32((16384 << 16) | 14534);
    const __m256i one = _mm256_set1_epi16(1);
    auto filter = [&](__m256i outerPairs, __m256i innerPairs) {
        return _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(outerPairs, outer), _mm256_madd_epi16(innerPairs, inner)), 15);
    };
    const __m256i lo = filter(_mm256_unpacklo_epi16(af, be), _mm256_unpacklo_epi16(cd, one));
    const __m256i hi = filter(_mm256_unpackhi_epi16(af, be), _mm256_unpackhi_epi16(cd, one));
    const __m256i words = _mm256_packs_epi32(lo, hi);  // lane order undone by the unpacks: outputs in order
    const __m256i bytes = _mm256_packus_epi16(words, words);
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08));
}

// Sixteen columns, as the SSE2 kernel but with sixteen 16-bit lanes.
__m128i DecimateSixteen(const uint8_t* const* rows, size_t x) {
    __m256i r[6];
    for (int t = 0; t < 6; ++t) r[t] = _mm256_cvtepu8_epi16(Load(rows[t] + x));
    return FilterSixteen(_mm256_add_epi16(r[0], r[5]), _mm256_add_epi16(r[1], r[4]),
                         _mm256_add_epi16(r[2], r[3]));
}

// Eight pixels of a prefilter row. Each neighbour pointer gives the old values the eight pixels see in
// that direction; a missing neighbour is given as the pixel itself, whose difference 0 adds psi(0) = +0,
// which leaves the running sum (never -0) as skipping the term would. Sum order: above, below, right,
// left, as the plain kernel adds them.
__m256i PrefilterEight(const uint8_t* above, const uint8_t* row, const uint8_t* below, const uint8_t* right,
                       const uint8_t* left, const float* psi) {
    const __m256i p = _mm256_cvtepu8_epi32(Load8(row));
    const __m256i offset = _mm256_set1_epi32(255);
    auto influence = [&](const uint8_t* neighbour) {
        const __m256i index =
            _mm256_add_epi32(_mm256_sub_epi32(_mm256_cvtepu8_epi32(Load8(neighbour)), p), offset);
        return _mm256_i32gather_ps(psi, index, 4);
    };
    __m256 sum = _mm256_setzero_ps();
    sum = _mm256_add_ps(sum, influence(above));
    sum = _mm256_add_ps(sum, influence(below));
    sum = _mm256_add_ps(sum, influence(right));
    sum = _mm256_add_ps(sum, influence(left));
    const __m256 scaled = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(0.5f), sum), _mm256_set1_ps(0.49f));
    return _mm256_add_epi32(p, _mm256_cvttps_epi32(scaled));
}

// Eight new values, saturated, as bytes 0..7.
__m128i PackEight(__m256i values) {
    const __m128i words =
        _mm_packs_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
    return _mm_packus_epi16(words, words);
}

}  // namespace

void PackUyvyRowAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out) {
    PackRow<false>(y, u, v, pairs, out);
}

void PackYuy2RowAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out) {
    PackRow<true>(y, u, v, pairs, out);
}

void RgbToYuvRowAvx2(const uint8_t* pixels, uint32_t width, int32_t bytesPerPixel,
                     const RgbInputTables& tables, uint8_t* y, uint8_t* u, uint8_t* v) {
    const auto step = static_cast<size_t>(bytesPerPixel);
    uint32_t x = 0;
    for (; x + 8 <= width; x += 8)
        RgbToYuvEight(pixels + x * step, bytesPerPixel, tables, y + x, u + x, v + x);
    if (x == width) return;
    const uint32_t left = width - x;
    uint8_t in[32] = {}, ys[8], us[8], vs[8];
    CopyBytes(pixels + x * step, left * step, in);
    RgbToYuvEight(in, bytesPerPixel, tables, ys, us, vs);
    CopyBytes(ys, left, y + x);
    CopyBytes(us, left, u + x);
    CopyBytes(vs, left, v + x);
}

void DeinterleaveRowAvx2(const uint8_t* in, uint32_t pairs, uint8_t* even, uint8_t* odd) {
    const __m256i low = _mm256_set1_epi16(0xFF);
    uint32_t i = 0;
    for (; i + 32 <= pairs; i += 32) {
        const __m256i a = Load32(in + 2 * i);
        const __m256i b = Load32(in + 2 * i + 32);
        // packus works per 128-bit lane; the 64-bit reorder puts the lanes' halves back in order.
        const __m256i evens = _mm256_packus_epi16(_mm256_and_si256(a, low), _mm256_and_si256(b, low));
        const __m256i odds = _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8));
        Store32(even + i, _mm256_permute4x64_epi64(evens, 0xD8));
        Store32(odd + i, _mm256_permute4x64_epi64(odds, 0xD8));
    }
    DeinterleaveRowSse2(in + 2 * i, pairs - i, even + i, odd + i);
}

void DecimateColumnsAvx2(const uint8_t* const* rows, uint32_t width, uint8_t* out) {
    DecimateColumnsBy(DecimateSixteen, rows, width, out);
}

void DecimatePairsAvx2(const uint8_t* in, uint32_t count, uint8_t* out) {
    const __m256i low = _mm256_set1_epi16(0xFF);
    // Outputs k .. k+15 from inputs 2k .. 2k+35: the pairs (in[2i], in[2i+1]) at offsets 0, 2 and 4 split
    // into even and odd words are the taps a, b; c, d; e, f of each output.
    auto sixteen = [&](const uint8_t* p) {
        __m256i even[3], odd[3];
        for (int t = 0; t < 3; ++t) {
            const __m256i bytes = Load32(p + 2 * t);
            even[t] = _mm256_and_si256(bytes, low);
            odd[t] = _mm256_srli_epi16(bytes, 8);
        }
        return FilterSixteen(_mm256_add_epi16(even[0], odd[2]), _mm256_add_epi16(odd[0], even[2]),
                             _mm256_add_epi16(even[1], odd[1]));
    };
    uint32_t k = 0;
    for (; k + 16 <= count; k += 16) Store(out + k, sixteen(in + 2 * k));
    if (k == count) return;
    // The last outputs through a zero-padded copy, so that nothing beyond input 2 count + 3 is read.
    uint8_t padded[36] = {};
    CopyBytes(in + 2 * k, 2 * (count - k) + 4, padded);
    uint8_t result[16];
    Store(result, sixteen(padded));
    CopyBytes(result, count - k, out + k);
}

void PrefilterRowAvx2(uint8_t* above, const uint8_t* row, const uint8_t* below, uint32_t width,
                      const float* psi, uint8_t* pending) {
    // Columns 1 .. width-2 in steps of eight read their neighbours in place; the row's two ends, and any
    // columns left over, go through padded copies in which a missing neighbour is the pixel itself.
    auto padded = [&](uint32_t x, uint32_t count) {
        uint8_t up[8], here[10], down[8], pendingCopy[8];
        for (uint32_t i = 0; i < 8; ++i) {
            const uint32_t column = x + (i < count ? i : count - 1);
            up[i] = above != nullptr ? above[column] : row[column];
            down[i] = below != nullptr ? below[column] : row[column];
            pendingCopy[i] = pending[column];
            here[i + 1] = row[column];
        }
        here[0] = x > 0 ? row[x - 1] : row[x];
        here[9] = x + 8 < width ? row[x + 8] : here[8];
        if (count < 8) here[count + 1] = here[count];
        const __m128i values = PackEight(PrefilterEight(up, here + 1, down, here + 2, here, psi));
        uint8_t result[8];
        Store8(result, values);
        for (uint32_t i = 0; i < count; ++i) {
            if (above != nullptr) above[x + i] = pendingCopy[i];
            pending[x + i] = result[i];
        }
    };
    if (width == 0) return;
    uint32_t x = 0;
    padded(0, width < 8 ? width : 8);
    for (x = 8; x + 9 <= width; x += 8) {
        const __m128i values =
            PackEight(PrefilterEight(above != nullptr ? above + x : row + x, row + x,
                                     below != nullptr ? below + x : row + x, row + x + 1, row + x - 1, psi));
        if (above != nullptr) Store8(above + x, Load8(pending + x));
        Store8(pending + x, values);
    }
    for (; x < width; x += 8) padded(x, width - x < 8 ? width - x : 8);
}

}  // namespace rq43::dsp
