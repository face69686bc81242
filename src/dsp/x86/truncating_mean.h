// The truncating mean (a + b) >> 1 of unsigned bytes, which prediction and its measure share.
#pragma once

#include <immintrin.h>

namespace rq43::dsp::x86 {
namespace {

// The rounded-up mean, less one where a + b is odd.
inline __m128i TruncatingMean(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

}  // namespace
}  // namespace rq43::dsp::x86
