// Every SIMD entry of the SSD table against the plain C measures: the same sums, and the same partial
// sums wherever an early stop cuts a measurement short (the search keeps some of them as its best cost).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "dsp/dsp_levels.h"
#include "motion/block_ssd.h"
#include "motion/block_sums.h"
#include "motion/motion_compensation.h"

namespace rq43 {
namespace {

// A size x size block whose allocation ends with its last pixel, so that a kernel reading past the
// block fails under the sanitizers; the prediction blocks get one spare row and column for b.
struct Blocks {
    int size;
    int32_t stride;
    std::vector<uint8_t> source;
    std::vector<uint8_t> reference;

    Blocks(int n, int32_t s) : size(n), stride(s), source(Bytes(n)), reference(Bytes(n + 1)) {}
    size_t Bytes(int rows) const {
        return static_cast<size_t>(stride) * static_cast<size_t>(rows - 1) + rows;
    }
    const uint8_t* Source() const { return source.data(); }
    const uint8_t* A() const { return reference.data(); }
};

enum class Pattern { Random, Noise, Extremes, Equal, OddMeans };

void Fill(Blocks& blocks, Pattern pattern, std::mt19937& random) {
    const auto base = static_cast<uint8_t>(random());
    auto value = [&](size_t i, bool source) -> uint8_t {
        switch (pattern) {
            case Pattern::Random:
                return static_cast<uint8_t>(random());
            case Pattern::Noise:
                return static_cast<uint8_t>(base + random() % 9);
            case Pattern::Extremes:
                return source ? 255 : 0;
            case Pattern::Equal:
                return 77;
            case Pattern::OddMeans:
                return source ? 77 : static_cast<uint8_t>((i % 2) * 255);  // rounding decides
        }
        return 0;
    };
    for (size_t i = 0; i < blocks.source.size(); ++i) blocks.source[i] = value(i, true);
    for (size_t i = 0; i < blocks.reference.size(); ++i) blocks.reference[i] = value(i, false);
}

// Calls measure(kernels, blocks, b, limit) for C and every SIMD level over many block sets, and expects
// the same result from each.
template <typename Measure>
void ExpectSameAsPlainC(int size, bool withMean, const Measure& measure) {
    std::mt19937 random(1234u + static_cast<unsigned>(size));
    const dsp::SsdKernels& plain = SsdKernelsFor(dsp::CpuLevel::C);
    for (int round = 0; round < 120; ++round) {
        const Pattern pattern = static_cast<Pattern>(round % 5);
        const int32_t strides[] = {size, size + 1, 37, 64, 333};
        Blocks blocks(size, strides[round % 5]);
        Fill(blocks, pattern, random);
        // The mean partner: right, below, diagonal (the half-pel cases) or the same block.
        const int32_t offsets[] = {1, blocks.stride, blocks.stride + 1, 0};
        const uint8_t* b = blocks.A() + (withMean ? offsets[round % 4] : 0);

        // Limits at and around every partial sum a stop can return (found by stopping the C measure just
        // past the previous one), the first search measurement's limit and the ends of the unsigned range.
        std::vector<uint32_t> limits{0, 1, 589823, 589824, 589825, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
        const uint32_t full = measure(plain, blocks, b, UINT32_MAX);
        uint32_t partial = measure(plain, blocks, b, 0);
        for (int row = 0; row < size; ++row) {
            for (uint32_t limit : {partial - 1, partial, partial + 1}) limits.push_back(limit);
            if (partial == full) break;
            partial = measure(plain, blocks, b, partial + 1);
        }
        for (dsp::CpuLevel level : test::SimdLevelsToCheck()) {
            const dsp::SsdKernels& kernels = SsdKernelsFor(level);
            for (uint32_t limit : limits) {
                const uint32_t expected = measure(plain, blocks, b, limit);
                const uint32_t got = measure(kernels, blocks, b, limit);
                ASSERT_EQ(got, expected)
                    << dsp::CpuLevelName(level) << " round " << round << " limit " << limit;
            }
        }
    }
}

TEST(SsdKernelsTest, M16MatchesPlainC) {
    ExpectSameAsPlainC(16, false,
                       [](const dsp::SsdKernels& k, const Blocks& blocks, const uint8_t*, uint32_t l) {
                           return k.m16(blocks.Source(), blocks.stride, blocks.A(), blocks.stride, l);
                       });
}

TEST(SsdKernelsTest, M16hMatchesPlainC) {
    ExpectSameAsPlainC(16, true,
                       [](const dsp::SsdKernels& k, const Blocks& blocks, const uint8_t* b, uint32_t l) {
                           return k.m16h(blocks.Source(), blocks.stride, blocks.A(), b, blocks.stride, l);
                       });
}

TEST(SsdKernelsTest, M8MatchesPlainC) {
    ExpectSameAsPlainC(8, false,
                       [](const dsp::SsdKernels& k, const Blocks& blocks, const uint8_t*, uint32_t l) {
                           return k.m8(blocks.Source(), blocks.stride, blocks.A(), blocks.stride, l);
                       });
}

TEST(SsdKernelsTest, M8hMatchesPlainC) {
    ExpectSameAsPlainC(8, true,
                       [](const dsp::SsdKernels& k, const Blocks& blocks, const uint8_t* b, uint32_t l) {
                           return k.m8h(blocks.Source(), blocks.stride, blocks.A(), b, blocks.stride, l);
                       });
}

// Runs of candidates as the search passes them, at any offset from the base (before it too), and counts
// from none to more than a ring holds; pixels at random, at one level, and all 255 in the source, the
// reference or both, where products, squares and errors reach their extremes (16,646,400 a block).
TEST(SsdKernelsTest, SquaredErrorsMatchPlainC) {
    std::mt19937 random(7);
    const dsp::SsdKernels& plain = SsdKernelsFor(dsp::CpuLevel::C);
    for (int round = 0; round < 30; ++round) {
        const int32_t stride = 48 + round;
        std::vector<uint8_t> source(static_cast<size_t>(stride) * 16);
        std::vector<uint16_t> plane(static_cast<size_t>(stride) * 48);  // widened reference pixels
        auto value = [&]() -> uint8_t {
            return round % 3 == 0 ? 255 : round % 3 == 1 ? static_cast<uint8_t>(random()) : 0;
        };
        for (uint8_t& pixel : source) pixel = round % 6 == 5 ? 255 : value();
        for (uint16_t& pixel : plane) pixel = value();
        // Each block's sum of squared pixels, at its top-left pixel, as the search keeps them.
        std::vector<uint32_t> squares(plane.size());
        for (int32_t y = 0; y + 16 <= 48; ++y) {
            for (int32_t x = 0; x + 16 <= stride; ++x) {
                uint32_t sum = 0;
                for (int32_t r = 0; r < 16; ++r) {
                    for (int32_t c = 0; c < 16; ++c) {
                        const uint32_t p = plane[static_cast<size_t>((y + r) * stride + x + c)];
                        sum += p * p;
                    }
                }
                squares[static_cast<size_t>(y * stride + x)] = sum;
            }
        }
        // Offsets reach 16 rows and columns either way.
        const uint16_t* base = plane.data() + 16 * stride + 16;
        const uint32_t* baseSquares = squares.data() + 16 * stride + 16;
        const int32_t count = round * 7 % 200;
        std::vector<int32_t> offsets(static_cast<size_t>(count));
        for (int32_t& offset : offsets) {
            offset = (static_cast<int32_t>(random() % 33) - 16) * stride +
                     static_cast<int32_t>(random() % 33) - 16;
        }
        std::vector<uint32_t> expected(offsets.size() + 1, 0xDEADBEEF);
        const uint32_t least = plain.squaredErrors16(source.data(), stride, base, baseSquares, stride,
                                                     offsets.data(), count, expected.data());
        for (dsp::CpuLevel level : test::SimdLevelsToCheck()) {
            std::vector<uint32_t> errors(offsets.size() + 1, 0xDEADBEEF);
            EXPECT_EQ(SsdKernelsFor(level).squaredErrors16(source.data(), stride, base, baseSquares, stride,
                                                           offsets.data(), count, errors.data()),
                      least);
            ASSERT_EQ(errors, expected) << dsp::CpuLevelName(level) << " round " << round;
        }
    }
}

// Stacks of one to four runs of sixteen positions anywhere in a bordered plane, up to the last one whose
// blocks all fit (its last pixel the allocation's last byte), with the sums and squares of the search's
// own ComputeBlockSums; pixels at random, nearly flat, and at the extremes of the biased byte products
// (source 255 or 0 against reference 0 or 255).
TEST(SsdKernelsTest, SquaredErrorRunsMatchPlainC) {
    std::mt19937 random(11);
    constexpr int32_t kBorder = 16, kHeight = 16;
    for (int round = 0; round < 24; ++round) {
        const int32_t width = 16 + 16 * (round % 3);
        const int32_t stride = width + 2 * kBorder;
        std::vector<uint8_t> source(static_cast<size_t>(stride) * 16);
        std::vector<uint8_t> plane(static_cast<size_t>(stride) * (kHeight + 2 * kBorder));
        const auto level = static_cast<uint8_t>(random());
        auto value = [&](int kind) -> uint8_t {
            switch (kind) {
                case 0:
                    return static_cast<uint8_t>(random());
                case 1:
                    return static_cast<uint8_t>(level + random() % 5);
                case 2:
                    return 255;
                default:
                    return 0;
            }
        };
        const int kind = round % 6;
        for (uint8_t& pixel : source) pixel = value(kind < 2 ? kind : kind < 4 ? 2 : 3);
        for (uint8_t& pixel : plane) pixel = value(kind < 2 ? kind : kind % 2 == 0 ? 3 : 2);
        BlockSums sums;
        const uint8_t* origin = plane.data() + kBorder * stride + kBorder;
        ComputeBlockSums(origin, stride, kHeight, kBorder, sums, dsp::CpuLevel::C);
        // The last position whose block fits is (width, kHeight); a run's first 15 columns before it.
        const int32_t lastX = width - 15;
        std::vector<int32_t> offsets, heights;
        for (int32_t height = 1; height <= dsp::kRunStack; ++height) {
            offsets.push_back((kHeight - height + 1) * stride + lastX);
            heights.push_back(height);
            offsets.push_back(
                static_cast<int32_t>(random() % static_cast<uint32_t>(kHeight + kBorder - height + 2)) *
                    stride -
                kBorder * stride + static_cast<int32_t>(random() % (lastX + kBorder + 1)) - kBorder);
            heights.push_back(height);
        }
        const auto count = static_cast<int32_t>(offsets.size());
        const uint16_t* blockSums = sums.sums16.data() + sums.At(0, 0);
        const uint32_t* blockSquares = sums.squares16.data() + sums.At(0, 0);
        const size_t runs = offsets.size() * dsp::kRunStack;
        std::vector<uint32_t> expected(runs * 16, 0xDEADBEEF), expectedLeast(runs, 0xDEADBEEF);
        SquaredErrorRuns16(source.data(), stride, origin, blockSums, blockSquares, stride, offsets.data(),
                           heights.data(), count, expected.data(), expectedLeast.data());
        for (dsp::CpuLevel level : test::SimdLevelsToCheck()) {
            const dsp::SquaredErrorRunsFunction kernel = SsdKernelsFor(level).squaredErrorRuns16;
            if (kernel == nullptr) continue;
            std::vector<uint32_t> errors(expected.size(), 0xDEADBEEF), least(runs, 0xDEADBEEF);
            kernel(source.data(), stride, origin, blockSums, blockSquares, stride, offsets.data(),
                   heights.data(), count, errors.data(), least.data());
            ASSERT_EQ(errors, expected) << dsp::CpuLevelName(level) << " round " << round;
            ASSERT_EQ(least, expectedLeast) << dsp::CpuLevelName(level) << " round " << round;
        }
    }
}

// The tables in use are those of the level RQ43_CPU asks for, never above the processor's.
TEST(KernelTablesTest, ActiveTablesAreThoseOfTheForcedLevel) {
    const char* forced = std::getenv("RQ43_CPU");
    dsp::CpuLevel wanted = dsp::CpuLevel::Avx512;
    if (forced != nullptr && !dsp::ParseCpuLevel(forced, wanted)) wanted = dsp::CpuLevel::Avx512;
    const dsp::CpuLevel level = std::min(wanted, dsp::DetectCpuLevel());
    EXPECT_EQ(dsp::ActiveCpuLevel(), level);
    EXPECT_EQ(&ActiveSsdKernels(), &SsdKernelsFor(level));
    EXPECT_EQ(&ActiveCompensationKernels(), &CompensationKernelsFor(level));
}

}  // namespace
}  // namespace rq43
