// Unaligned byte loads and stores for the SSE2 and AVX2 kernels, and the row drivers they share, which
// run a row's last few columns through padded copies. Everything has internal linkage: each kernel file keeps
// its own copy, compiled for its own instruction set, so none of the AVX2 code can stand in for another
// file's.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "dsp/picture_conversion.h"

namespace rq43::dsp {
namespace {

inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m128i Load8(const uint8_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
inline void Store(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline void Store8(uint8_t* p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

inline void CopyBytes(const uint8_t* from, size_t count, uint8_t* to) {
    for (size_t i = 0; i < count; ++i) to[i] = from[i];
}

// The 6-tap column filter over `width` columns with `sixteen`, a function of (rows, x) giving columns
// x .. x+15; the last width % 16 columns go through zero-padded copies, so nothing beyond them is read.
template <typename Sixteen>
void DecimateColumnsBy(Sixteen sixteen, const uint8_t* const* rows, uint32_t width, uint8_t* out) {
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) Store(out + x, sixteen(rows, x));
    if (x == width) return;
    uint8_t padded[6][16] = {};
    const uint8_t* paddedRows[6];
    for (int t = 0; t < 6; ++t) {
        CopyBytes(rows[t] + x, width - x, padded[t]);
        paddedRows[t] = padded[t];
    }
    uint8_t result[16];
    Store(result, sixteen(paddedRows, 0));
    CopyBytes(result, width - x, out + x);
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
}  // namespace rq43::dsp
