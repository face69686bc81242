#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "dsp/picture_conversion.h"
#include "dsp/x86/simd_bytes.h"

namespace rq43::dsp {
namespace {

// Eight pixel pairs a step: chroma pairs interleaved, then luma put beside them (YUY2) or between them
// (UYVY).
template <bool LumaFirst>
void PackRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out) {
    uint32_t k = 0;
    for (; k + 8 <= pairs; k += 8) {
        const __m128i luma = Load(y + 2 * k);
        const __m128i chroma = _mm_unpacklo_epi8(Load8(u + k), Load8(v + k));
        Store(out + 4 * k, LumaFirst ? _mm_unpacklo_epi8(luma, chroma) : _mm_unpacklo_epi8(chroma, luma));
        Store(out + 4 * k + 16,
              LumaFirst ? _mm_unpackhi_epi8(luma, chroma) : _mm_unpackhi_epi8(chroma, luma));
    }
    constexpr int lumaAt = LumaFirst ? 0 : 1;
    constexpr int chromaAt = 1 - lumaAt;
    for (; k < pairs; ++k) {
        out[4 * k + lumaAt] = y[2 * k];
        out[4 * k + chromaAt] = u[k];
        out[4 * k + lumaAt + 2] = y[2 * k + 1];
        out[4 * k + chromaAt + 2] = v[k];
    }
}

// Eight pixels: sums of table entries in 32-bit lanes, shifted, saturated to bytes by the packs.
void YuvToRgbEight(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t bytesPerPixel,
                   const RgbOutputTables& t, uint8_t* out) {
    const __m128i luma0 = _mm_setr_epi32(t.ty[y[0]], t.ty[y[1]], t.ty[y[2]], t.ty[y[3]]);
    const __m128i luma1 = _mm_setr_epi32(t.ty[y[4]], t.ty[y[5]], t.ty[y[6]], t.ty[y[7]]);
    const __m128i blue = _mm_setr_epi32(t.tbU[u[0]], t.tbU[u[1]], t.tbU[u[2]], t.tbU[u[3]]);
    const __m128i red = _mm_setr_epi32(t.trV[v[0]], t.trV[v[1]], t.trV[v[2]], t.trV[v[3]]);
    const __m128i green = _mm_setr_epi32(t.tgU[u[0]] + t.tgV[v[0]], t.tgU[u[1]] + t.tgV[v[1]],
                                         t.tgU[u[2]] + t.tgV[v[2]], t.tgU[u[3]] + t.tgV[v[3]]);
    auto channel = [&](__m128i chroma) {
        const __m128i lo = _mm_srai_epi32(_mm_add_epi32(luma0, _mm_unpacklo_epi32(chroma, chroma)), 18);
        const __m128i hi = _mm_srai_epi32(_mm_add_epi32(luma1, _mm_unpackhi_epi32(chroma, chroma)), 18);
        return _mm_packs_epi32(lo, hi);
    };
    const __m128i zero = _mm_setzero_si128();
    const __m128i blueRed = _mm_packus_epi16(channel(blue), channel(red));
    const __m128i greens = _mm_packus_epi16(channel(green), zero);
    const __m128i bg = _mm_unpacklo_epi8(blueRed, greens);
    const __m128i r0 = _mm_unpackhi_epi8(blueRed, zero);
    const __m128i first = _mm_unpacklo_epi16(bg, r0);  // B G R 0 of pixels 0..3
    const __m128i second = _mm_unpackhi_epi16(bg, r0);
    if (bytesPerPixel == 4) {
        const __m128i keep = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
        Store(out, _mm_or_si128(first, _mm_and_si128(Load(out), keep)));
        Store(out + 16, _mm_or_si128(second, _mm_and_si128(Load(out + 16), keep)));
        return;
    }
    // Squeeze each 64-bit lane to 6 bytes, then each register to 12.
    auto squeeze = [](__m128i pixels) {
        const __m128i pairs =
            _mm_or_si128(_mm_and_si128(pixels, _mm_set1_epi64x(0xFFFFFF)),
                         _mm_and_si128(_mm_srli_epi64(pixels, 8), _mm_set1_epi64x(0xFFFFFF000000)));
        const __m128i low = _mm_setr_epi32(-1, 0xFFFF, 0, 0);
        return _mm_or_si128(_mm_and_si128(pairs, low), _mm_andnot_si128(low, _mm_srli_si128(pairs, 2)));
    };
    const __m128i a = squeeze(first);   // bytes 0..11, zero above
    const __m128i b = squeeze(second);  // bytes 0..11, zero above
    Store(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
    Store8(out + 16, _mm_srli_si128(b, 4));
}

// YUV -> RGB over `width` pixels with `group`, a function converting Step pixels; the last width % Step
// pixels go through padded copies, so nothing beyond the row is read or written.
template <uint32_t Step, typename Group>
void YuvToRgbRowBy(Group group, const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width,
                   int32_t bytesPerPixel, const RgbOutputTables& tables, uint8_t* out) {
    const auto step = static_cast<size_t>(bytesPerPixel);
    uint32_t x = 0;
    for (; x + Step <= width; x += Step)
        group(y + x, u + x / 2, v + x / 2, bytesPerPixel, tables, out + x * step);
    if (x == width) return;
    const uint32_t left = width - x;
    uint8_t luma[Step] = {}, cu[Step / 2] = {}, cv[Step / 2] = {}, pixels[4 * Step] = {};
    CopyBytes(y + x, left, luma);
    CopyBytes(u + x / 2, (left + 1) / 2, cu);
    CopyBytes(v + x / 2, (left + 1) / 2, cv);
    CopyBytes(out + x * step, left * step, pixels);
    group(luma, cu, cv, bytesPerPixel, tables, pixels);
    CopyBytes(pixels, left * step, out + x * step);
}

}  // namespace

void PackUyvyRowSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out) {
    PackRow<false>(y, u, v, pairs, out);
}

void PackYuy2RowSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t pairs, uint8_t* out) {
    PackRow<true>(y, u, v, pairs, out);
}

void YuvToRgbRowSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width,
                     int32_t bytesPerPixel, const RgbOutputTables& tables, uint8_t* out) {
    YuvToRgbRowBy<8>(YuvToRgbEight, y, u, v, width, bytesPerPixel, tables, out);
}

void DeinterleaveRowSse2(const uint8_t* in, uint32_t pairs, uint8_t* even, uint8_t* odd) {
    const __m128i low = _mm_set1_epi16(0xFF);
    uint32_t i = 0;
    for (; i + 16 <= pairs; i += 16) {
        const __m128i a = Load(in + 2 * i);
        const __m128i b = Load(in + 2 * i + 16);
        Store(even + i, _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
        Store(odd + i, _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
    }
    for (; i < pairs; ++i) {
        even[i] = in[2 * i];
        odd[i] = in[2 * i + 1];
    }
}

namespace {

// Sixteen columns. Pairs of rows with equal taps are summed in 16 bits first; pmaddwd then forms
// -127 (a + f) + 1977 (b + e) and 14534 (c + d) + 16384 in exact 32-bit sums.
__m128i DecimateSixteen(const uint8_t* const* rows, size_t x) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i outer = _mm_setr_epi16(-127, 1977, -127, 1977, -127, 1977, -127, 1977);
    const __m128i inner = _mm_setr_epi16(14534, 16384, 14534, 16384, 14534, 16384, 14534, 16384);
    const __m128i one = _mm_set1_epi16(1);
    __m128i r[6];
    for (int t = 0; t < 6; ++t) r[t] = Load(rows[t] + x);
    auto sum = [&](int a, int b, bool high) {
        return high ? _mm_add_epi16(_mm_unpackhi_epi8(r[a], zero), _mm_unpackhi_epi8(r[b], zero))
                    : _mm_add_epi16(_mm_unpacklo_epi8(r[a], zero), _mm_unpacklo_epi8(r[b], zero));
    };
    __m128i halves[2];
    for (int h = 0; h < 2; ++h) {
        const __m128i af = sum(0, 5, h == 1), be = sum(1, 4, h == 1), cd = sum(2, 3, h == 1);
        auto filter = [&](__m128i outerPairs, __m128i innerPairs) {
            const __m128i total =
                _mm_add_epi32(_mm_madd_epi16(outerPairs, outer), _mm_madd_epi16(innerPairs, inner));
            return _mm_srai_epi32(total, 15);
        };
        halves[h] = _mm_packs_epi32(filter(_mm_unpacklo_epi16(af, be), _mm_unpacklo_epi16(cd, one)),
                                    filter(_mm_unpackhi_epi16(af, be), _mm_unpackhi_epi16(cd, one)));
    }
    return _mm_packus_epi16(halves[0], halves[1]);
}

}  // namespace

void DecimateColumnsSse2(const uint8_t* const* rows, uint32_t width, uint8_t* out) {
    DecimateColumnsBy(DecimateSixteen, rows, width, out);
}

}  // namespace rq43::dsp
