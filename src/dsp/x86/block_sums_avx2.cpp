#include <immintrin.h>

#include <cstdint>

#include "dsp/block_sums.h"

namespace rq43::dsp {

namespace {

// For each 8-bit mask of kept lanes, the kept lanes' numbers packed to the front (a byte each), and how
// many there are.
struct Packing {
    uint64_t lanes[256];
    uint8_t counts[256];
};
constexpr Packing MakePacking() {
    Packing p{};
    for (uint32_t mask = 0; mask < 256; ++mask) {
        uint32_t n = 0;
        for (uint32_t lane = 0; lane < 8; ++lane) {
            if ((mask >> lane & 1) != 0) p.lanes[mask] |= uint64_t{lane} << (8 * n++);
        }
        p.counts[mask] = static_cast<uint8_t>(n);
    }
    return p;
}
constexpr Packing kPacking = MakePacking();

}  // namespace

int32_t KeepWithinReachAvx2(const uint16_t* sums, const OffsetRun* runs, int32_t runCount, uint32_t lowest,
                            uint32_t span, int32_t* kept) {
    if (span == 0) return 0;
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i low = _mm256_set1_epi32(static_cast<int32_t>(lowest));
    const __m256i last = _mm256_set1_epi32(static_cast<int32_t>(span - 1));
    int32_t count = 0;
    for (const OffsetRun* run = runs; run != runs + runCount; ++run) {
        int32_t k = 0;
        // Eight sums a load along a row; down a column, and at a row's end, one at a time (gathers are
        // slower than that on some processors).
        for (; run->step == 1 && k + 8 <= run->n; k += 8) {
            const __m256i values = _mm256_cvtepu16_epi32(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + run->from + k)));
            // d < span as d <= span - 1, unsigned.
            const __m256i d = _mm256_sub_epi32(values, low);
            const __m256i within = _mm256_cmpeq_epi32(_mm256_min_epu32(d, last), d);
            const auto mask = static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(within)));
            const __m256i order = _mm256_cvtepu8_epi32(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kPacking.lanes[mask])));
            const __m256i offsets = _mm256_add_epi32(_mm256_set1_epi32(run->from + k), lanes);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(kept + count),
                                _mm256_permutevar8x32_epi32(offsets, order));
            count += kPacking.counts[mask];
        }
        for (int32_t offset = run->from + k * run->step; k < run->n; ++k, offset += run->step) {
            kept[count] = offset;
            count += sums[offset] - lowest < span ? 1 : 0;
        }
    }
    return count;
}

}  // namespace rq43::dsp
