#include "transform/forward_dct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

namespace rq43 {
namespace {

// The lowest-bit settings of the column pass leave 5s and 2s in the first column of a flat block.
void ExpectFlatBlockPattern(const int16_t* block, int16_t dc) {
    for (int i = 0; i < 64; ++i) {
        int16_t expected = 4;
        if (i == 0)
            expected = dc;
        else if (i == 8 || i == 16 || i == 48)
            expected = 5;
        else if (i == 24 || i == 40)
            expected = 2;
        EXPECT_EQ(block[i], expected) << "index " << i;
    }
}

TEST(ForwardDct, ZeroAndConstantBlocks) {
    int16_t block[64] = {};
    ForwardDct(block);
    ExpectFlatBlockPattern(block, 4);

    for (auto& v : block) v = 10;
    ForwardDct(block);
    ExpectFlatBlockPattern(block, 644);
}

// About 8x the orthonormal DCT-II plus 4: checked against a float reference.
void ExpectNearReference(const int16_t* input) {
    double reference[64];
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            double sum = 0;
            for (int r = 0; r < 8; ++r)
                for (int c = 0; c < 8; ++c)
                    sum += input[8 * r + c] * std::cos((2 * r + 1) * u * M_PI / 16) *
                           std::cos((2 * c + 1) * v * M_PI / 16);
            const double cu = u == 0 ? std::sqrt(0.125) : 0.5, cv = v == 0 ? std::sqrt(0.125) : 0.5;
            reference[8 * u + v] = 8 * cu * cv * sum + 4;
        }
    }
    int16_t block[64];
    std::copy(input, input + 64, block);
    ForwardDct(block);
    for (int i = 0; i < 64; ++i) EXPECT_NEAR(block[i], reference[i], 4.0) << "index " << i;
}

TEST(ForwardDct, ApproximatesScaledOrthonormalTransform) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pixel(-128, 127);
    for (int trial = 0; trial < 200; ++trial) {
        int16_t block[64];
        for (auto& v : block) v = static_cast<int16_t>(pixel(random));
        ExpectNearReference(block);
    }
}

// Residuals reach +-255, twice the pixel range: the largest coefficients (flat blocks, stripes, the
// checkerboard and random signs) must come out without an intermediate wrapping.
TEST(ForwardDct, LargestResidualsDoNotWrap) {
    std::mt19937 random(11);
    for (int pattern = 0; pattern < 5; ++pattern) {
        for (int sign : {1, -1}) {
            int16_t block[64];
            for (int i = 0; i < 64; ++i) {
                const int r = i / 8, c = i % 8;
                const bool high = pattern == 0   ? true
                                  : pattern == 1 ? c % 2 != 0
                                  : pattern == 2 ? r % 2 != 0
                                  : pattern == 3 ? (r + c) % 2 != 0
                                                 : random() % 2 != 0;
                block[i] = static_cast<int16_t>(sign * (high ? 255 : -255));
            }
            SCOPED_TRACE(::testing::Message() << "pattern " << pattern << " sign " << sign);
            ExpectNearReference(block);
        }
    }
}

}  // namespace
}  // namespace rq43
