#include "residual/block_error.h"

#include <cstddef>

#include "transform/fixed_point.h"

namespace rq43 {
namespace {

uint32_t Square(int16_t difference) {
    const int32_t d = difference;
    return static_cast<uint32_t>(d * d);
}

constexpr dsp::BlockErrorKernels kPlain = {PixelError, ResidualError};

#ifdef RQ43_X86_KERNELS
constexpr dsp::BlockErrorKernels kSse2 = {dsp::PixelErrorSse2, dsp::ResidualErrorSse2};
constexpr dsp::BlockErrorKernels kAvx2 = {dsp::PixelErrorAvx2, dsp::ResidualErrorAvx2};
#endif

}  // namespace

uint32_t PixelError(const uint8_t* pixels, const uint8_t* source, int32_t stride) {
    uint32_t sum = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            sum += Square(static_cast<int16_t>(pixels[8 * r + c] - source[ptrdiff_t{r} * stride + c]));
    return sum;
}

uint32_t ResidualError(const int16_t* samples, const int16_t* residual, int32_t pitch) {
    uint32_t sum = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            sum += Square(Wrap16(int32_t{samples[8 * r + c]} - residual[ptrdiff_t{r} * pitch + c]));
    return sum;
}

const dsp::BlockErrorKernels& BlockErrorKernelsFor(dsp::CpuLevel level) {
#ifdef RQ43_X86_KERNELS
    if (level >= dsp::CpuLevel::Avx2) return kAvx2;
    if (level >= dsp::CpuLevel::Sse2) return kSse2;
#endif
    static_cast<void>(level);
    return kPlain;
}

const dsp::BlockErrorKernels& ActiveBlockErrorKernels() {
    static const dsp::BlockErrorKernels& active = BlockErrorKernelsFor(dsp::ActiveCpuLevel());
    return active;
}

}  // namespace rq43
