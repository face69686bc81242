#include <emmintrin.h>

#include <cstddef>

#include "dsp/prediction.h"

namespace rq43::dsp {

namespace {

// 32-bit sums per lane: a block adds at most 65535, so they are moved into the 64-bit totals often enough.
constexpr int32_t kBlocksPerFlush = 16384;

struct LaneSums {
    __m128i low = _mm_setzero_si128();
    __m128i high = _mm_setzero_si128();

    void Add(__m128i magnitudes) {  // eight unsigned 16-bit values
        const __m128i zero = _mm_setzero_si128();
        low = _mm_add_epi32(low, _mm_unpacklo_epi16(magnitudes, zero));
        high = _mm_add_epi32(high, _mm_unpackhi_epi16(magnitudes, zero));
    }
    void MoveInto(uint64_t* total) {
        alignas(16) uint32_t sums[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(sums), low);
        _mm_store_si128(reinterpret_cast<__m128i*>(sums + 4), high);
        for (int k = 0; k < 8; ++k) total[k] += sums[k];
        low = high = _mm_setzero_si128();
    }
};

// |a - b| of signed 16-bit values, exact as an unsigned 16-bit value.
__m128i AbsoluteDifference(__m128i a, __m128i b) {
    return _mm_sub_epi16(_mm_max_epi16(a, b), _mm_min_epi16(a, b));
}

__m128i Load(const int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

void MeasureModesSse2(const int16_t* lanes, int32_t across, int32_t down, int16_t limit, ModeMeasures* out) {
    *out = ModeMeasures{};
    LaneSums sums[4];
    __m128i outside[4] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
    const __m128i high = _mm_set1_epi16(limit);
    const __m128i low = _mm_set1_epi16(static_cast<int16_t>(-limit));
    const __m128i zero = _mm_setzero_si128();
    auto add = [&](int mode, __m128i value, __m128i predicted) {
        sums[mode].Add(AbsoluteDifference(value, predicted));
        const __m128i difference = _mm_sub_epi16(value, predicted);
        outside[mode] = _mm_or_si128(
            outside[mode], _mm_or_si128(_mm_cmpgt_epi16(difference, high), _mm_cmplt_epi16(difference, low)));
    };
    const ptrdiff_t rowStride = ptrdiff_t{across} * kPredictionLanes;
    for (int32_t y = 0; y < down; ++y) {
        const int16_t* row = lanes + y * rowStride;
        const int16_t* above = row - rowStride;  // read from the second row on
        for (int32_t x = 0; x < across; ++x) {
            const __m128i v = Load(row + x * kPredictionLanes);
            const __m128i magnitude = AbsoluteDifference(v, zero);
            sums[0].Add(magnitude);
            if (y == 0 && x == 0) {
                for (int mode = 1; mode < 4; ++mode) sums[mode].Add(magnitude);
            } else if (y == 0 || x == 0) {
                const __m128i predicted = Load(y == 0 ? row + (x - 1) * kPredictionLanes : above);
                for (int mode = 1; mode < 4; ++mode) add(mode, v, predicted);
            } else {
                const __m128i left = Load(row + (x - 1) * kPredictionLanes);
                const __m128i up = Load(above + x * kPredictionLanes);
                const __m128i upLeft = Load(above + (x - 1) * kPredictionLanes);
                const __m128i gradient = _mm_sub_epi16(_mm_add_epi16(left, up), upLeft);
                const __m128i median =
                    _mm_max_epi16(_mm_min_epi16(left, up), _mm_min_epi16(_mm_max_epi16(left, up), gradient));
                add(1, v, median);
                add(2, v, left);
                add(3, v, up);
            }
            if (x + 1 == across || (x + 1) % kBlocksPerFlush == 0) {
                for (int mode = 0; mode < 4; ++mode) sums[mode].MoveInto(out->cost[mode]);
            }
        }
    }
    for (int mode = 0; mode < 4; ++mode) {
        // One bit per 16-bit lane: the odd bits of the byte mask.
        const auto bytes = static_cast<uint32_t>(_mm_movemask_epi8(outside[mode]));
        uint8_t bits = 0;
        for (int k = 0; k < kPredictionLanes; ++k)
            bits = static_cast<uint8_t>(bits | ((bytes >> (2 * k)) & 1) << k);
        out->outOfRange[mode] = bits;
    }
}

}  // namespace rq43::dsp
