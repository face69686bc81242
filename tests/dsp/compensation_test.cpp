// Every SIMD entry of the compensation table against the plain C prediction, and nothing written
// outside the predicted block.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dsp/dsp_levels.h"
#include "motion/motion_compensation.h"

namespace rq43 {
namespace {

constexpr uint8_t kUntouched = 0xA5;

// The prediction into a block inside a larger output filled with kUntouched.
std::vector<uint8_t> Predict(dsp::TwoSampleFunction predict, const uint8_t* a, const uint8_t* b,
                             int32_t sourceStride, int size) {
    const int32_t outStride = size + 8;
    std::vector<uint8_t> out(static_cast<size_t>(outStride) * static_cast<size_t>(size + 2), kUntouched);
    predict(a, b, sourceStride, out.data() + outStride + 4, outStride);
    return out;
}

TEST(CompensationKernelsTest, CopiesAndMeansMatchPlainCAndStayInTheirBlock) {
    std::mt19937 random(99);
    const dsp::CompensationKernels& plain = CompensationKernelsFor(dsp::CpuLevel::C);
    for (int size : {16, 8}) {
        const int32_t stride = size + 13;
        // The sources' allocation ends with the last pixel read, so reading past it fails under the
        // sanitizers.
        std::vector<uint8_t> plane(static_cast<size_t>(stride) * static_cast<size_t>(size) + size + 1);
        for (int round = 0; round < 40; ++round) {
            for (size_t i = 0; i < plane.size(); ++i) {
                // Every third round pairs 0 with 255, so each mean's rounding is decided by truncation.
                plane[i] =
                    round % 3 == 0 ? static_cast<uint8_t>((i % 2) * 255) : static_cast<uint8_t>(random());
            }
            const uint8_t* a = plane.data();
            const int32_t offsets[] = {0, 1, stride, stride + 1};
            const uint8_t* b = a + offsets[round % 4];
            dsp::TwoSampleFunction reference = size == 16 ? plain.twoSample16 : plain.twoSample8;
            const std::vector<uint8_t> expected = Predict(reference, a, b, stride, size);
            ASSERT_EQ(expected[0], kUntouched);
            for (dsp::CpuLevel level : test::SimdLevelsToCheck()) {
                const dsp::CompensationKernels& kernels = CompensationKernelsFor(level);
                dsp::TwoSampleFunction predict = size == 16 ? kernels.twoSample16 : kernels.twoSample8;
                ASSERT_EQ(Predict(predict, a, b, stride, size), expected)
                    << dsp::CpuLevelName(level) << " size " << size << " round " << round;
            }
        }
    }
}

}  // namespace
}  // namespace rq43
