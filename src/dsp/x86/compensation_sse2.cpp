#include "dsp/compensation.h"
#include "dsp/x86/truncating_mean.h"

namespace rq43::dsp {

namespace {

template <int Size>
__m128i LoadRow(const uint8_t* p) {
    if constexpr (Size == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

template <int Size>
void StoreRow(uint8_t* p, __m128i row) {
    if constexpr (Size == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), row);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), row);
    }
}

template <int Size>
void TwoSample(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out, int32_t outStride) {
    if (a == b) {
        for (int row = 0; row < Size; ++row, a += sourceStride, out += outStride)
            StoreRow<Size>(out, LoadRow<Size>(a));
        return;
    }
    for (int row = 0; row < Size; ++row, a += sourceStride, b += sourceStride, out += outStride)
        StoreRow<Size>(out, x86::TruncatingMean(LoadRow<Size>(a), LoadRow<Size>(b)));
}

}  // namespace

void TwoSample16Sse2(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out,
                     int32_t outStride) {
    TwoSample<16>(a, b, sourceStride, out, outStride);
}

void TwoSample8Sse2(const uint8_t* a, const uint8_t* b, int32_t sourceStride, uint8_t* out,
                    int32_t outStride) {
    TwoSample<8>(a, b, sourceStride, out, outStride);
}

}  // namespace rq43::dsp
