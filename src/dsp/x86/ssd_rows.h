// Pieces shared by the SSE2 and AVX2 sums of squared differences. Internal linkage only (unnamed
// namespace): a file compiled for AVX2 includes this, and its copies must never stand in for the SSE2 file's.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace rq43::dsp::x86 {
namespace {

// The stop threshold as a signed lane: sums stay below 2^31, so a larger limit can never be passed.
inline int32_t SignedLimit(uint32_t limit) {
    return limit > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(limit);
}

// Lanes summing to the squared differences of 16 bytes of s and r.
inline __m128i SquaredDifferences(__m128i s, __m128i r) {
    const __m128i zero = _mm_setzero_si128();
    __m128i d = _mm_or_si128(_mm_subs_epu8(s, r), _mm_subs_epu8(r, s));
    __m128i lo = _mm_unpacklo_epi8(d, zero);
    __m128i hi = _mm_unpackhi_epi8(d, zero);
    return _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi));
}

// Squared differences of two 8-byte rows packed in s and r: the first row's lanes, then the second's.
inline void SquaredDifferencesOfRowPair(__m128i s, __m128i r, __m128i& first, __m128i& second) {
    const __m128i zero = _mm_setzero_si128();
    __m128i d = _mm_or_si128(_mm_subs_epu8(s, r), _mm_subs_epu8(r, s));
    __m128i lo = _mm_unpacklo_epi8(d, zero);
    __m128i hi = _mm_unpackhi_epi8(d, zero);
    first = _mm_madd_epi16(lo, lo);
    second = _mm_madd_epi16(hi, hi);
}

inline uint32_t HorizontalSum(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

// The plain C loop over 16 rows, checked after every row: most measurements of a search stop after one to
// three rows, so summing more rows before a check costs more than it saves. `rowSum(k)` is row k's sum.
template <typename RowSum16>
uint32_t SumUntilReached(const RowSum16& rowSum, uint32_t limit) {
    uint32_t sum = 0;
    for (int row = 0; row < 16; ++row) {
        sum += rowSum(row);
        if (sum >= limit) break;
    }
    return sum;
}
template <typename RowSum16>
uint32_t SumUntilExceeded(const RowSum16& rowSum, uint32_t limit) {
    uint32_t sum = 0;
    for (int row = 0; row < 16; ++row) {
        sum += rowSum(row);
        if (sum > limit) break;
    }
    return sum;
}

// [sum of a's lanes, sum of b's, sum of c's, sum of d's].
inline __m128i LaneSums(__m128i a, __m128i b, __m128i c, __m128i d) {
    __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));
    __m128i cd = _mm_add_epi32(_mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d));
    return _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
}

// An 8x8 sum built four rows at a time that still stops exactly after the first row at which it passes
// `threshold`, as the row-by-row loop does.
class RowSum {
  public:
    explicit RowSum(int32_t threshold) : threshold_(_mm_set1_epi32(threshold)) {}

    // Adds the sums of the next four rows; true when the sum passed the threshold at one of them.
    bool Add(__m128i rows) {
        __m128i prefix = _mm_add_epi32(rows, _mm_slli_si128(rows, 4));
        prefix = _mm_add_epi32(prefix, _mm_slli_si128(prefix, 8));
        prefix = _mm_add_epi32(prefix, total_);
        int passed = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(prefix, threshold_)));
        if (passed != 0) {
            alignas(16) int32_t lanes[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), prefix);
            total_ = _mm_set1_epi32(lanes[__builtin_ctz(static_cast<unsigned>(passed))]);
            return true;
        }
        total_ = _mm_shuffle_epi32(prefix, 0xFF);
        return false;
    }
    uint32_t Total() const { return static_cast<uint32_t>(_mm_cvtsi128_si32(total_)); }

  private:
    __m128i threshold_;
    __m128i total_ = _mm_setzero_si128();
};

// The stop threshold of "exceeds the limit".
inline int32_t ExceedThreshold(uint32_t limit) {
    return SignedLimit(limit);
}

inline __m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Two 8-byte rows, the one at p then the one a stride below.
inline __m128i LoadRowPair(const uint8_t* p, int32_t stride) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + stride)));
}

// Prediction rows of the measures, 16 bytes each: the block at p, or the rounded-up mean of a and b.
struct PlainRows {
    const uint8_t* p;
    int32_t stride;
    __m128i operator()(int row) const { return Load16(p + row * stride); }
};
struct RoundedMeanRows {
    const uint8_t* a;
    const uint8_t* b;
    int32_t stride;
    __m128i operator()(int row) const {
        return _mm_avg_epu8(Load16(a + row * stride), Load16(b + row * stride));
    }
};

}  // namespace
}  // namespace rq43::dsp::x86
