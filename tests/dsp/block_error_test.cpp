// The vector error measures against the plain ones: random blocks, the largest differences (whose squares
// wrap the 32-bit sum) and strided sources.
#include "dsp/block_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/dsp_levels.h"
#include "residual/block_error.h"

namespace rq43 {
namespace {

TEST(BlockErrorKernels, EveryLevelMatchesThePlainKernels) {
    const dsp::BlockErrorKernels& plain = BlockErrorKernelsFor(dsp::CpuLevel::C);
    std::mt19937 random(43);
    std::uniform_int_distribution<int> byte(0, 255);
    constexpr int32_t kStride = 24;
    std::vector<uint8_t> pixels(64), source(8 * kStride);
    std::vector<int16_t> samples(64), residual(8 * kStride);
    for (dsp::CpuLevel level : test::SimdLevelsToCheck()) {
        SCOPED_TRACE(dsp::CpuLevelName(level));
        const dsp::BlockErrorKernels& kernels = BlockErrorKernelsFor(level);
        for (int n = 0; n < 400; ++n) {
            // One case in four takes the extremes: bytes 0 against 255, and samples from -32768, 0 and 32767,
            // whose wrapped differences square to 2^30 and wrap the sum.
            const bool extreme = n % 4 == 3;
            const int scale = n % 2 == 0 ? 300 : 32768;
            std::uniform_int_distribution<int> sample(-scale, scale - 1), corner(-1, 1);
            for (uint8_t& v : pixels) v = static_cast<uint8_t>(extreme ? 255 * (n % 8 == 3) : byte(random));
            for (uint8_t& v : source) v = static_cast<uint8_t>(extreme ? 255 * (n % 8 != 3) : byte(random));
            for (std::vector<int16_t>* block : {&samples, &residual}) {
                for (int16_t& v : *block)
                    v = static_cast<int16_t>(extreme ? std::clamp(32768 * corner(random), -32768, 32767)
                                                     : sample(random));
            }
            ASSERT_EQ(kernels.pixelError(pixels.data(), source.data(), kStride),
                      plain.pixelError(pixels.data(), source.data(), kStride));
            ASSERT_EQ(kernels.residualError(samples.data(), residual.data(), kStride),
                      plain.residualError(samples.data(), residual.data(), kStride));
        }
    }
}

}  // namespace
}  // namespace rq43
