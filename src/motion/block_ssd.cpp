#include "motion/block_ssd.h"

#include <algorithm>

#include "motion/block_sums.h"

namespace rq43 {

namespace {

inline uint32_t Square(int difference) {
    return static_cast<uint32_t>(difference * difference);
}

template <int Size>
uint32_t RowSsd(const uint8_t* source, const uint8_t* reference) {
    uint32_t sum = 0;
    for (int i = 0; i < Size; ++i) sum += Square(source[i] - reference[i]);
    return sum;
}

template <int Size, bool RoundUp>
uint32_t RowSsdOfMean(const uint8_t* source, const uint8_t* a, const uint8_t* b) {
    uint32_t sum = 0;
    for (int i = 0; i < Size; ++i) sum += Square(source[i] - ((a[i] + b[i] + (RoundUp ? 1 : 0)) >> 1));
    return sum;
}

}  // namespace

uint32_t M16(const uint8_t* source, int32_t sourceStride, const uint8_t* reference, int32_t referenceStride,
             uint32_t limit) {
    uint32_t sum = 0;
    for (int row = 0; row < 16; ++row) {
        sum += RowSsd<16>(source, reference);
        if (sum >= limit) break;
        source += sourceStride;
        reference += referenceStride;
    }
    return sum;
}

uint32_t M16h(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
              int32_t referenceStride, uint32_t limit) {
    uint32_t sum = 0;
    for (int row = 0; row < 16; ++row) {
        sum += RowSsdOfMean<16, true>(source, a, b);
        if (sum > limit) break;
        source += sourceStride;
        a += referenceStride;
        b += referenceStride;
    }
    return sum;
}

uint32_t M8(const uint8_t* source, int32_t sourceStride, const uint8_t* reference, int32_t referenceStride,
            uint32_t limit) {
    uint32_t sum = 0;
    for (int row = 0; row < 8; ++row) {
        if (sum > limit) break;
        sum += RowSsd<8>(source, reference);
        source += sourceStride;
        reference += referenceStride;
    }
    return sum;
}

uint32_t M8h(const uint8_t* source, int32_t sourceStride, const uint8_t* a, const uint8_t* b,
             int32_t referenceStride, uint32_t limit) {
    if (a == b) return M8(source, sourceStride, a, referenceStride, limit);
    uint32_t sum = 0;
    for (int row = 0; row < 8; ++row) {
        if (sum > limit) break;
        sum += RowSsdOfMean<8, false>(source, a, b);
        source += sourceStride;
        a += referenceStride;
        b += referenceStride;
    }
    return sum;
}

uint32_t SquaredErrors16(const uint8_t* source, int32_t sourceStride, const uint16_t* reference,
                         const uint32_t* /*referenceSquares*/, int32_t referenceStride,
                         const int32_t* offsets, int32_t count, uint32_t* errors) {
    uint32_t least = UINT32_MAX;
    for (int32_t i = 0; i < count; ++i) {
        const uint16_t* block = reference + offsets[i];
        uint32_t sum = 0;
        for (int row = 0; row < 16; ++row) {
            for (int c = 0; c < 16; ++c) {
                const int32_t d = source[row * sourceStride + c] - block[row * referenceStride + c];
                sum += static_cast<uint32_t>(d * d);
            }
        }
        errors[i] = sum;
        least = std::min(least, sum);
    }
    return least;
}

void SquaredErrorRuns16(const uint8_t* source, int32_t sourceStride, const uint8_t* reference,
                        const uint16_t* /*referenceSums*/, const uint32_t* /*referenceSquares*/,
                        int32_t referenceStride, const int32_t* offsets, const int32_t* heights,
                        int32_t count, uint32_t* errors, uint32_t* least) {
    for (int32_t i = 0; i < count; ++i) {
        for (int32_t j = 0; j < heights[i]; ++j) {
            const int32_t run = dsp::kRunStack * i + j;
            least[run] = UINT32_MAX;
            for (int32_t k = 0; k < 16; ++k) {
                const uint8_t* block = reference + offsets[i] + j * referenceStride + k;
                errors[16 * run + k] = M16(source, sourceStride, block, referenceStride, UINT32_MAX);
                least[run] = std::min(least[run], errors[16 * run + k]);
            }
        }
    }
}

const dsp::SsdKernels& SsdKernelsFor(dsp::CpuLevel level) {
    static const dsp::SsdKernels plain{M16, M16h, M8, M8h, SquaredErrors16, nullptr, false};
#ifdef RQ43_X86_KERNELS
    static const dsp::SsdKernels sse2{
        dsp::M16Sse2, dsp::M16hSse2, dsp::M8Sse2, dsp::M8hSse2, dsp::SquaredErrors16Sse2, nullptr, false};
    static const dsp::SsdKernels avx2{dsp::M16Avx2,
                                      dsp::M16hAvx2,
                                      dsp::M8Sse2,
                                      dsp::M8hSse2,
                                      dsp::SquaredErrors16Avx2,
                                      dsp::SquaredErrorRuns16Avx2,
                                      true};
    static const dsp::SsdKernels avxVnni{dsp::M16Avx2,
                                         dsp::M16hAvx2,
                                         dsp::M8Sse2,
                                         dsp::M8hSse2,
                                         dsp::SquaredErrors16AvxVnni,
                                         dsp::SquaredErrorRuns16AvxVnni,
                                         false};
    static const dsp::SsdKernels avx512{dsp::M16Avx512,
                                        dsp::M16hAvx512,
                                        dsp::M8Sse2,
                                        dsp::M8hSse2,
                                        dsp::SquaredErrors16AvxVnni,
                                        dsp::SquaredErrorRuns16Avx512,
                                        false};
    if (level >= dsp::CpuLevel::Avx512) return avx512;
    if (level >= dsp::CpuLevel::AvxVnni) return avxVnni;
    if (level >= dsp::CpuLevel::Avx2) return avx2;
    if (level >= dsp::CpuLevel::Sse2) return sse2;
#else
    (void)level;
#endif
    return plain;
}

const dsp::SsdKernels& ActiveSsdKernels() {
    return SsdKernelsFor(dsp::ActiveCpuLevel());
}

}  // namespace rq43
