// The sums the pruned full search relies on, against sums taken pixel by pixel: a wrong entry anywhere in
// the bordered plane would change a search result only for the odd macroblock that reads it.
#include "motion/block_sums.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/dsp_levels.h"
#include "platform/worker_pair.h"

namespace rq43 {
namespace {

// At every level, on widths whose rows end in part of a vector and on all-255 planes (the largest sums);
// with two workers on a plane tall enough to be summed in bands at once.
TEST(BlockSumsTest, SumsCoverEveryBlockWithOneWorkerOrTwo) {
    std::vector<dsp::CpuLevel> levels = test::SimdLevelsToCheck();
    levels.push_back(dsp::CpuLevel::C);
    std::mt19937 random(3);
    platform::WorkerPair pair;
    for (const dsp::CpuLevel level : levels) {
        SCOPED_TRACE(dsp::CpuLevelName(level));
        for (platform::WorkerPair* workers : {static_cast<platform::WorkerPair*>(nullptr), &pair}) {
            for (const int32_t width : {48, 40, 36}) {
                for (const bool extreme : {false, true}) {
                    const int32_t border = 16, height = workers == nullptr ? 32 : 96,
                                  stride = width + 2 * border;
                    const int32_t rows = height + 2 * border;
                    std::vector<uint8_t> plane(static_cast<size_t>(stride) * rows);
                    for (uint8_t& pixel : plane) pixel = extreme ? 255 : static_cast<uint8_t>(random());
                    BlockSums sums;
                    ComputeBlockSums(plane.data() + border * stride + border, stride, height, border, sums,
                                     level, workers);
                    ASSERT_TRUE(
                        std::equal(plane.begin(), plane.end(), sums.pixels.begin(), sums.pixels.end()));
                    for (int32_t y = -border; y + 16 <= height + border; ++y) {
                        for (int32_t x = -border; x + 16 <= width + border; ++x) {
                            uint32_t sum = 0, squares = 0;
                            for (int32_t r = 0; r < 16; ++r) {
                                for (int32_t c = 0; c < 16; ++c) {
                                    const uint32_t p = plane[static_cast<size_t>((y + border + r) * stride +
                                                                                 x + border + c)];
                                    sum += p;
                                    squares += p * p;
                                }
                            }
                            ASSERT_EQ(sums.sums16[sums.At(x, y)], sum) << width << ": " << x << "," << y;
                            ASSERT_EQ(sums.squares16[sums.At(x, y)], squares)
                                << width << ": " << x << "," << y;
                        }
                    }
                }
            }
        }
    }
}

// Runs across and down as the rings give them, of every length around a register's eight, against reaches
// from none to all, and below the smallest sum (the lowest bound then wraps round).
TEST(BlockSumsTest, WithinReachKeepsWhatThePlainLoopKeeps) {
    std::mt19937 random(11);
    const int32_t stride = 80;
    std::vector<uint16_t> sums(static_cast<size_t>(stride) * 64);
    for (uint16_t& sum : sums) sum = static_cast<uint16_t>(random() % 65281);
    const dsp::WithinReachKernel plain = WithinReachKernelFor(dsp::CpuLevel::C);
    for (int round = 0; round < 200; ++round) {
        std::vector<dsp::OffsetRun> runs;
        int32_t total = 0;
        for (int32_t k = static_cast<int32_t>(random() % 5); k > 0; --k) {
            const int32_t n = static_cast<int32_t>(random() % 40);
            const bool down = random() % 2 != 0;
            runs.push_back({static_cast<int32_t>(random() % 8) * stride + static_cast<int32_t>(random() % 32),
                            down ? stride : 1, down ? std::min(n, 56) : n});
            total += runs.back().n;
        }
        const auto span = static_cast<uint32_t>(round % 10 == 0   ? 0
                                                : round % 10 == 1 ? 0xFFFFFFFFu
                                                                  : random() % 70000);
        const uint32_t lowest = static_cast<uint32_t>(random() % 70000) - 2000;
        std::vector<int32_t> expected(static_cast<size_t>(total) + 7, -1);
        const int32_t count =
            plain(sums.data(), runs.data(), static_cast<int32_t>(runs.size()), lowest, span, expected.data());
        expected.resize(static_cast<size_t>(count));
        for (const dsp::CpuLevel level : test::SimdLevelsToCheck()) {
            std::vector<int32_t> kept(static_cast<size_t>(total) + 7, -1);
            const int32_t n = WithinReachKernelFor(level)(
                sums.data(), runs.data(), static_cast<int32_t>(runs.size()), lowest, span, kept.data());
            kept.resize(static_cast<size_t>(std::max(n, 0)));
            ASSERT_EQ(kept, expected) << dsp::CpuLevelName(level) << " round " << round;
        }
    }
}

}  // namespace
}  // namespace rq43
