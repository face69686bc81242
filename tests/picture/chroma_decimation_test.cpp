#include "picture/chroma_decimation.h"

#include <gtest/gtest.h>

#include <vector>

namespace rq43 {
namespace {

TEST(ChromaDecimationTest, TheTwoEndsOfAColumnExtendDifferently) {
    std::vector<uint8_t> column(16, 0);
    std::vector<uint8_t> out(8);
    column[0] = 200;
    for (uint32_t k = 0; k < 8; ++k) DecimateVertically(column.data(), 1, 1, 16, k, &out[k]);
    EXPECT_EQ(out, (std::vector<uint8_t>{89, 0, 0, 0, 0, 0, 0, 0}));

    column[0] = 0;
    column[15] = 200;
    for (uint32_t k = 0; k < 8; ++k) DecimateVertically(column.data(), 1, 1, 16, k, &out[k]);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 101}));
}

TEST(ChromaDecimationTest, BothEndsOfARowGiveTheSameWeight) {
    std::vector<uint8_t> row(16, 0);
    std::vector<uint8_t> out(8);
    row[0] = 200;
    DecimateHorizontally(row.data(), 16, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{89, 0, 0, 0, 0, 0, 0, 0}));
    row[0] = 0;
    row[15] = 200;
    DecimateHorizontally(row.data(), 16, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 89}));
}

TEST(ChromaDecimationTest, ConstantAndExtremeLinesSaturateCleanly) {
    for (uint8_t value : {uint8_t{0}, uint8_t{1}, uint8_t{173}, uint8_t{255}}) {
        std::vector<uint8_t> line(16, value);
        std::vector<uint8_t> out(8);
        DecimateHorizontally(line.data(), 16, out.data());
        EXPECT_EQ(out, std::vector<uint8_t>(8, value));
        for (uint32_t k = 0; k < 8; ++k) DecimateVertically(line.data(), 1, 1, 16, k, &out[k]);
        EXPECT_EQ(out, std::vector<uint8_t>(8, value));
    }
    // Overshoot beside a step is clamped rather than wrapped: 0 0 255 255 .. rings below 0 and above 255.
    std::vector<uint8_t> step(16, 255);
    step[0] = step[1] = step[2] = 0;
    std::vector<uint8_t> out(8);
    DecimateHorizontally(step.data(), 16, out.data());
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2], 255);
}

}  // namespace
}  // namespace rq43
