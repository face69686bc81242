// Some compilers' AVX-512 headers start intrinsics from a deliberately undefined register, then warn of it.
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"  // a warning clang does not have
#endif
#include <immintrin.h>

#include "dsp/ssd.h"
#include "dsp/x86/run_stacks.h"

namespace rq43::dsp {

namespace {

// Runs stacked `Height` rows deep: a reference row serves every run of the stack that reaches it, so its
// permutations are made once for up to four runs. Two sums per run, so that no sum waits long on the one
// before. The products of run j are those with the source biased to signed bytes.
template <int Height>
inline __attribute__((always_inline)) void StackProducts(const uint8_t* p, int32_t stride,
                                                         const int32_t* groups, const __m512i (&index)[4],
                                                         __m512i* products) {
    __m512i even[Height], odd[Height];
    for (int j = 0; j < Height; ++j) even[j] = odd[j] = _mm512_setzero_si512();
#pragma GCC unroll 19
    for (int r = 0; r < Height + 15; ++r) {
        const __m512i pixels = _mm512_maskz_loadu_epi8(0x7FFFFFFF, p + r * stride);
        __m512i gathered[4];
#pragma GCC unroll 4
        for (int g = 0; g < 4; ++g) gathered[g] = _mm512_permutexvar_epi8(index[g], pixels);
        // Hidden from the optimiser row by row: it would otherwise keep each source broadcast, which
        // several rows use, in a register of its own and spill them, where a broadcast from memory
        // within the multiply costs nothing.
        const int32_t* source = groups;
        __asm__("" : "+r"(source));
        x86::ForEachRunOfRow<Height>(
            r, [&](int j, int sourceRow) __attribute__((always_inline)) {
                const int32_t* g = source + 4 * sourceRow;
                even[j] = _mm512_dpbusd_epi32(even[j], gathered[0], _mm512_set1_epi32(g[0]));
                odd[j] = _mm512_dpbusd_epi32(odd[j], gathered[1], _mm512_set1_epi32(g[1]));
                even[j] = _mm512_dpbusd_epi32(even[j], gathered[2], _mm512_set1_epi32(g[2]));
                odd[j] = _mm512_dpbusd_epi32(odd[j], gathered[3], _mm512_set1_epi32(g[3]));
            });
    }
    for (int j = 0; j < Height; ++j) products[j] = _mm512_add_epi32(even[j], odd[j]);
}

// Rows 4k .. 4k+3 of a 16-byte-wide block, one to each 128-bit lane. Masked broadcasts from memory, which
// need not wait for the shuffle port as lane inserts do.
inline __m512i FourRows(const uint8_t* p, int32_t stride, int k) {
    const uint8_t* row = p + 4 * k * stride;
    auto load = [&](int r) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + r * stride)); };
    __m512i rows = _mm512_castsi128_si512(load(0));
    rows = _mm512_mask_broadcast_i32x4(rows, 0x00F0, load(1));
    rows = _mm512_mask_broadcast_i32x4(rows, 0x0F00, load(2));
    return _mm512_mask_broadcast_i32x4(rows, 0xF000, load(3));
}

// The sums of squared differences of four rows, [row 0, row 1, row 2, row 3].
inline __m128i FourRowSums(__m512i s, __m512i p) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i d = _mm512_or_si512(_mm512_subs_epu8(s, p), _mm512_subs_epu8(p, s));
    const __m512i lo = _mm512_unpacklo_epi8(d, zero), hi = _mm512_unpackhi_epi8(d, zero);
    __m512i q = _mm512_dpwssd_epi32(_mm512_madd_epi16(lo, lo), hi, hi);  // four lanes per row
    q = _mm512_add_epi32(q, _mm512_shuffle_epi32(q, _MM_PERM_BADC));
    q = _mm512_add_epi32(q, _mm512_shuffle_epi32(q, _MM_PERM_CDAB));
    const __m512i firstOfEachRow = _mm512_setr_epi32(0, 4, 8, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    return _mm512_castsi512_si128(_mm512_permutexvar_epi32(firstOfEachRow, q));
}

// The row-by-row loop of the plain C four rows at a time: the running sums after each of the four rows,
// compared at once, give exactly the partial sum at which the C loop stops. Stops(sums, limit) gives the
// lanes whose running sum stops the loop.
template <typename Prediction, typename Stops>
inline uint32_t SumInFours(const uint8_t* source, int32_t sourceStride, const Prediction& prediction,
                           uint32_t limit, const Stops& stops) {
    const __m128i limits = _mm_set1_epi32(static_cast<int32_t>(limit));
    __m128i total = _mm_setzero_si128();
    for (int k = 0; k < 4; ++k) {
        __m128i running = FourRowSums(FourRows(source, sourceStride, k), prediction(k));
        running = _mm_add_epi32(running, _mm_slli_si128(running, 4));
        running = _mm_add_epi32(running, _mm_slli_si128(running, 8));
        running = _mm_add_epi32(running, total);
        const __mmask8 stopped = stops(running, limits);
        if (stopped != 0) {
            const auto first = static_cast<__mmask8>(stopped & -stopped);  // the lane of the stopping row
            return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_maskz_compress_epi32(first, running)));
        }
        total = _mm_shuffle_epi32(running, 0xFF);
    }
    return static_cast<uint32_t>(_mm_cvtsi128_si32(total));
}

}  // namespace

// Sums reach 16,646,400 at most, so the unsigned lane compares never see a wrapped sum.
uint32_t M16Avx512(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                   int32_t referenceStride, uint32_t limit) {
    return SumInFours(
        source, sourceStride, [&](int k) { return FourRows(reference, referenceStride, k); }, limit,
        [](__m128i sums, __m128i limits) { return _mm_cmpge_epu32_mask(sums, limits); });
}

uint32_t M16hAvx512(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
                    int32_t referenceStride, uint32_t limit) {
    return SumInFours(
        source, sourceStride,
        [&](int k) {
            return _mm512_avg_epu8(FourRows(a, referenceStride, k), FourRows(b, referenceStride, k));
        },
        limit, [](__m128i sums, __m128i limits) { return _mm_cmpgt_epu32_mask(sums, limits); });
}

// Lane j of a register stands for the block at column j of the run. Per source row, the four source
// bytes of group g meet in lane j the reference bytes 4g + j to 4g + j + 3, which one byte permutation
// of the row gathers for all sixteen lanes; a byte dot product (unsigned by signed, four products to a
// lane, exact) multiplies them by the group broadcast. The source is made signed by subtracting 128,
// which the blocks' pixel sums give back: sum r (s - 128) = sum r s - 128 sum r.
void SquaredErrorRuns16Avx512(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                              const uint16_t* referenceSums, const uint32_t* referenceSquares,
                              int32_t referenceStride, const int32_t* offsets, const int32_t* heights,
                              int32_t count, uint32_t* errors, uint32_t* least) {
    alignas(64) int32_t groups[64];  // row r's group g at 4 r + g
    const __m512i sourceSquares = _mm512_set1_epi32(
        static_cast<int32_t>(x86::BiasedSource(source, sourceStride, [&](int row, __m128i biased) {
            _mm_store_si128(reinterpret_cast<__m128i*>(groups + 4 * row), biased);
        })));

    // Byte k of lane j in group g's permutation: 4 g + j + k, at most 30: a row's load stops there.
    const __m512i step = _mm512_add_epi8(
        _mm512_set1_epi32(0x03020100),
        _mm512_setr_epi32(0x00000000, 0x01010101, 0x02020202, 0x03030303, 0x04040404, 0x05050505, 0x06060606,
                          0x07070707, 0x08080808, 0x09090909, 0x0A0A0A0A, 0x0B0B0B0B, 0x0C0C0C0C, 0x0D0D0D0D,
                          0x0E0E0E0E, 0x0F0F0F0F));
    const __m512i index[4] = {step, _mm512_add_epi8(step, _mm512_set1_epi8(4)),
                              _mm512_add_epi8(step, _mm512_set1_epi8(8)),
                              _mm512_add_epi8(step, _mm512_set1_epi8(12))};
    for (int32_t i = 0; i < count; ++i) {
        __m512i products[kRunStack];
        x86::WithStackHeight(
            heights[i], [&](auto height) __attribute__((always_inline)) {
                StackProducts<decltype(height)::value>(reference + offsets[i], referenceStride, groups, index,
                                                       products);
            });
        for (int32_t j = 0; j < heights[i]; ++j) {
            const int32_t at = offsets[i] + j * referenceStride;
            const __m512i sums = _mm512_cvtepu16_epi32(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(referenceSums + at)));
            const __m512i unbiased = _mm512_add_epi32(products[j], _mm512_slli_epi32(sums, 7));
            const __m512i blockSquares = _mm512_loadu_si512(referenceSquares + at);
            // Wrapping arithmetic: the error itself lies within 0 to 16,646,400.
            const __m512i run = _mm512_sub_epi32(_mm512_add_epi32(sourceSquares, blockSquares),
                                                 _mm512_slli_epi32(unbiased, 1));
            _mm512_storeu_si512(errors + 16 * (kRunStack * i + j), run);
            least[kRunStack * i + j] = _mm512_reduce_min_epu32(run);
        }
    }
}

}  // namespace rq43::dsp
