#include "dsp/ssd.h"
#include "dsp/x86/squared_errors_avx2.h"

namespace rq43::dsp {

// One instruction multiplies and accumulates, where AVX2 takes two: the errors kernel is most of the full
// search.
uint32_t SquaredErrors16AvxVnni(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                                const uint32_t* referenceSquares, int32_t referenceStride,
                                const int32_t* offsets, int32_t count, uint32_t* errors) {
    return x86::SquaredErrors16(
        source, sourceStride, reference, referenceSquares, referenceStride, offsets, count, errors,
        [](__m256i sum, __m256i a, __m256i b) { return _mm256_dpwssd_avx_epi32(sum, a, b); });
}

}  // namespace rq43::dsp
