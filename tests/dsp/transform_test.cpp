// Every vector transform kernel against the plain one: random blocks and the values where 16-bit lanes
// saturate, 32-bit row sums wrap and quantiser steps reach their ends.
#include "dsp/transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "dsp/dsp_levels.h"
#include "transform/quantiser.h"
#include "transform/transform_kernels.h"

namespace rq43 {
namespace {

using Block = std::vector<int16_t>;

// Random blocks of every kind the kernels meet, then the extremes.
std::vector<Block> Blocks(int16_t typical, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Block> blocks;
    for (int16_t range : {typical, int16_t{32767}}) {
        std::uniform_int_distribution<int> value(-range, range);
        for (int n = 0; n < 300; ++n) {
            Block block(64);
            for (int16_t& v : block) v = static_cast<int16_t>(value(random));
            blocks.push_back(block);
        }
    }
    // Sparse blocks, as most coded blocks are.
    std::uniform_int_distribution<int> index(0, 63), value(-typical, typical);
    for (int n = 0; n < 200; ++n) {
        Block block(64, 0);
        for (int k = n % 4; k >= 0; --k)
            block[static_cast<size_t>(index(random))] = static_cast<int16_t>(value(random));
        blocks.push_back(block);
    }
    for (int16_t v : {int16_t{0}, int16_t{-128}, int16_t{127}, int16_t{32767}, int16_t{-32768}})
        blocks.push_back(Block(64, v));
    Block checker(64), rows(64);
    for (int i = 0; i < 64; ++i) {
        checker[static_cast<size_t>(i)] = ((i / 8 + i) % 2) ? int16_t{32767} : int16_t{-32768};
        rows[static_cast<size_t>(i)] = (i < 8) ? int16_t{32767} : int16_t{0};
    }
    blocks.push_back(checker);
    blocks.push_back(rows);
    return blocks;
}

// The quantiser tables at the qualities where the steps reach their ends.
std::vector<QuantiserTables> AllTables() {
    std::vector<QuantiserTables> all;
    for (int32_t quality : {0, 1, 50, 100, 101}) {
        QuantiserTables tables;
        BuildQuantiserTables(quality, tables);
        all.push_back(tables);
    }
    return all;
}

// Calls check(plain, simd) for every level this processor runs.
void ForEachLevel(
    const std::function<void(const dsp::TransformKernels&, const dsp::TransformKernels&)>& check) {
    const dsp::TransformKernels& plain = TransformKernelsFor(dsp::CpuLevel::C);
    for (dsp::CpuLevel level : test::SimdLevelsToCheck()) {
        SCOPED_TRACE(dsp::CpuLevelName(level));
        check(plain, TransformKernelsFor(level));
    }
}

// Rows of one to seven blocks, so that the wide and the single-block paths of every level run, read from
// rows wider than the blocks and written to slots apart (what lies between must stay untouched).
// Differences less 128 wrap to every 16-bit input of the transform; pixels give the byte range.
TEST(TransformKernels, ForwardDctMatchesPlain) {
    constexpr int32_t kMost = 7, kPitch = 8 * kMost + 5;
    constexpr ptrdiff_t kStep = 80;
    const std::vector<Block> blocks = Blocks(255, 1);
    ForEachLevel([&](const auto& plain, const auto& simd) {
        for (size_t first = 0; first + kMost <= blocks.size(); first += kMost) {
            const auto count = static_cast<int32_t>(1 + first / kMost % kMost);
            Block samples(8 * kPitch, 0);
            std::vector<uint8_t> pixels(8 * kPitch, 0);
            for (int32_t b = 0; b < count; ++b) {
                for (size_t i = 0; i < 64; ++i) {
                    const size_t at = i / 8 * kPitch + 8 * static_cast<size_t>(b) + i % 8;
                    samples[at] = blocks[first + static_cast<size_t>(b)][i];
                    pixels[at] = static_cast<uint8_t>(samples[at]);
                }
            }
            Block expected(kStep * kMost, 0), actual(kStep * kMost, 0);
            plain.forwardDctOfDifferences(samples.data(), kPitch, count, expected.data(), kStep);
            simd.forwardDctOfDifferences(samples.data(), kPitch, count, actual.data(), kStep);
            ASSERT_EQ(actual, expected);
            plain.forwardDctOfPixels(pixels.data(), kPitch, count, expected.data(), kStep);
            simd.forwardDctOfPixels(pixels.data(), kPitch, count, actual.data(), kStep);
            ASSERT_EQ(actual, expected);
        }
    });
}

TEST(TransformKernels, QuantiseMatchesPlainOnEveryTable) {
    std::vector<Block> blocks = Blocks(2000, 2);
    for (int j = 1; j < 64; ++j) {  // the first AC index at every position
        Block block(64, 0);
        block[0] = 500;
        block[static_cast<size_t>(j)] = -32768;
        blocks.push_back(block);
    }
    ForEachLevel([&](const auto& plain, const auto& simd) {
        for (const QuantiserTables& tables : AllTables()) {
            for (int table = 0; table < 4; ++table) {
                for (const Block& block : blocks) {
                    Block expected(64), actual(64);
                    const uint8_t expectedFirst =
                        plain.quantise(expected.data(), tables.reciprocalTable[table], block.data());
                    const uint8_t actualFirst =
                        simd.quantise(actual.data(), tables.reciprocalTable[table], block.data());
                    ASSERT_EQ(actual, expected);
                    ASSERT_EQ(actualFirst, expectedFirst);
                }
            }
        }
    });
}

// Levels from a crafted stream may be anything: products wrap, row sums wrap, columns saturate.
TEST(TransformKernels, ReconstructionMatchesPlain) {
    const std::vector<Block> levels = Blocks(40, 3);
    const std::vector<QuantiserTables> allTables = AllTables();
    std::mt19937 random(4);
    std::uniform_int_distribution<int> pixel(0, 255);
    ForEachLevel([&](const auto& plain, const auto& simd) {
        for (const QuantiserTables& tables : allTables) {
            for (int table = 0; table < 4; ++table) {
                const int16_t* steps = tables.quantiserTable[table];
                for (const Block& block : levels) {
                    Block expected(64), actual(64);
                    plain.dequantise(steps, block.data(), expected.data());
                    simd.dequantise(steps, block.data(), actual.data());
                    ASSERT_EQ(actual, expected);

                    constexpr int32_t kStride = 24;  // the block inside a wider picture
                    std::vector<uint8_t> prediction(8 * kStride);
                    for (uint8_t& p : prediction) p = static_cast<uint8_t>(pixel(random));
                    std::vector<uint8_t> expectedPixels = prediction, actualPixels = prediction;
                    plain.reconstructInter(steps, block.data(), expectedPixels.data() + 5, kStride);
                    simd.reconstructInter(steps, block.data(), actualPixels.data() + 5, kStride);
                    ASSERT_EQ(actualPixels, expectedPixels);
                    plain.reconstructIntra(steps, block.data(), expectedPixels.data() + 3, kStride);
                    simd.reconstructIntra(steps, block.data(), actualPixels.data() + 3, kStride);
                    ASSERT_EQ(actualPixels, expectedPixels);

                    // The top-left shortcuts on the same levels cut after kTopLeftLastIndex.
                    Block topLeft = block;
                    std::fill(topLeft.begin() + kTopLeftLastIndex + 1, topLeft.end(), int16_t{0});
                    plain.reconstructInter(steps, topLeft.data(), expectedPixels.data() + 5, kStride);
                    simd.reconstructInterTopLeft(steps, topLeft.data(), actualPixels.data() + 5, kStride);
                    ASSERT_EQ(actualPixels, expectedPixels);
                    plain.reconstructIntra(steps, topLeft.data(), expectedPixels.data() + 3, kStride);
                    simd.reconstructIntraTopLeft(steps, topLeft.data(), actualPixels.data() + 3, kStride);
                    ASSERT_EQ(actualPixels, expectedPixels);
                }
            }
        }
    });
}

TEST(TransformKernels, InverseDctPutAndAddMatchPlain) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> pixel(0, 255);
    ForEachLevel([&](const auto& plain, const auto& simd) {
        for (const Block& block : Blocks(2000, 6)) {
            for (int level : {0, 128, -4096}) {
                Block expected(64), actual = block;
                plain.inverseDct(block.data(), expected.data(), level);
                simd.inverseDct(actual.data(), actual.data(), level);  // in place
                ASSERT_EQ(actual, expected) << "level " << level;
            }
            for (uint8_t base : {uint8_t{0}, uint8_t{255}, uint8_t{1}}) {
                std::vector<uint8_t> picture(8 * 16);
                for (uint8_t& p : picture) p = base == 1 ? static_cast<uint8_t>(pixel(random)) : base;
                std::vector<uint8_t> expected = picture, actual = picture;
                plain.addBlock(expected.data(), 16, block.data());
                simd.addBlock(actual.data(), 16, block.data());
                ASSERT_EQ(actual, expected);
                plain.idctPut(block.data(), expected.data() + 8, 16);
                simd.idctPut(block.data(), actual.data() + 8, 16);
                ASSERT_EQ(actual, expected);
            }
        }
    });
}

TEST(TransformKernels, DcShortcutsMatchPlain) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pixel(0, 255), any(-32768, 32767);
    ForEachLevel([&](const auto& plain, const auto& simd) {
        for (int32_t value : {-300, -1, 0, 1, 128, 255, 256, 70000, -70000}) {
            std::vector<uint8_t> expected(8 * 12, 7), actual(8 * 12, 7);
            plain.fillIntraDc(expected.data() + 2, 12, value);
            simd.fillIntraDc(actual.data() + 2, 12, value);
            ASSERT_EQ(actual, expected) << value;
        }
        for (int n = 0; n < 2000; ++n) {
            const auto step = static_cast<int16_t>(n < 4 ? (n % 2 ? 32767 : 2) : any(random));
            const auto level = static_cast<int16_t>(n < 4 ? (n / 2 ? 32767 : -32768) : any(random) / 64);
            std::vector<uint8_t> picture(8 * 8);
            for (uint8_t& p : picture) p = static_cast<uint8_t>(pixel(random));
            std::vector<uint8_t> expected = picture, actual = picture;
            plain.addInterDc(expected.data(), 8, step, level);
            simd.addInterDc(actual.data(), 8, step, level);
            ASSERT_EQ(actual, expected) << step << " * " << level;
        }
    });
}

}  // namespace
}  // namespace rq43
