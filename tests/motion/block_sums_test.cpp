// The sums the pruned full search relies on, against sums taken pixel by pixel: a wrong entry anywhere in
// the bordered plane would change a search result only for the odd macroblock that reads it.
#include "motion/block_sums.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dsp/dsp_levels.h"

namespace rq43 {
namespace {

// At every level, on widths whose rows end in part of a vector and on all-255 planes (the largest sums).
TEST(BlockSumsTest, SumsCoverEveryBlockOfTheBorderedPlane) {
    std::vector<dsp::CpuLevel> levels = test::SimdLevelsToCheck();
    levels.push_back(dsp::CpuLevel::C);
    std::mt19937 random(3);
    for (const dsp::CpuLevel level : levels) {
        SCOPED_TRACE(dsp::CpuLevelName(level));
        for (const int32_t width : {48, 40, 36}) {
            for (const bool extreme : {false, true}) {
                const int32_t border = 16, height = 32, stride = width + 2 * border;
                const int32_t rows = height + 2 * border;
                std::vector<uint8_t> plane(static_cast<size_t>(stride) * rows);
                for (uint8_t& pixel : plane) pixel = extreme ? 255 : static_cast<uint8_t>(random());
                BlockSums sums;
                ComputeBlockSums(plane.data() + border * stride + border, stride, height, border, sums,
                                 level);
                for (int32_t y = -border; y + 16 <= height + border; ++y) {
                    for (int32_t x = -border; x + 16 <= width + border; ++x) {
                        uint32_t sum = 0, squares = 0;
                        for (int32_t r = 0; r < 16; ++r) {
                            for (int32_t c = 0; c < 16; ++c) {
                                const uint32_t p =
                                    plane[static_cast<size_t>((y + border + r) * stride + x + border + c)];
                                sum += p;
                                squares += p * p;
                            }
                        }
                        ASSERT_EQ(sums.sums16[sums.At(x, y)], sum) << width << ": " << x << "," << y;
                        ASSERT_EQ(sums.squares16[sums.At(x, y)], squares) << width << ": " << x << "," << y;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace rq43
