// Unaligned byte loads and stores for the SSE2 and AVX2 kernels, and the column filter's row driver,
// which runs a row's last few columns through padded copies. Everything has internal linkage: each kernel
// file keeps its own copy, compiled for its own instruction set, so none of the AVX2 code can stand in for
// another file's.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

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

}  // namespace
}  // namespace rq43::dsp
