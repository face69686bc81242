#include "transform/quantiser.h"

#include <gtest/gtest.h>

namespace rq43 {
namespace {

TEST(Quantiser, TablesAtQualityFiftyAreTheBaseTables) {
    QuantiserTables tables;
    BuildQuantiserTables(50, tables);
    EXPECT_EQ(tables.quantiserTable[0][0], 16);
    EXPECT_EQ(tables.quantiserTable[0][8 * 4 + 5], 87);
    EXPECT_EQ(tables.quantiserTable[0][63], 99);
    EXPECT_EQ(tables.quantiserTable[2][3], 47);
    EXPECT_EQ(tables.quantiserTable[2][63], 99);
    // Inter tables follow row + column.
    EXPECT_EQ(tables.quantiserTable[1][0], 16);
    EXPECT_EQ(tables.quantiserTable[1][8 * 1 + 2], 20);
    EXPECT_EQ(tables.quantiserTable[3][8 * 6 + 6], 96);
    EXPECT_EQ(tables.quantiserTable[3][63], 128);
    EXPECT_EQ(tables.reciprocalTable[0][0], 16384 / (8 * 16));
    EXPECT_EQ(tables.reciprocalTable[3][63], 16);
}

TEST(Quantiser, TablesAtTheEndsOfTheQualityRange) {
    QuantiserTables tables;
    BuildQuantiserTables(100, tables);
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 64; ++i) {
            const bool lowFrequency = i == 0 || i == 1 || i == 8 || i == 9;
            EXPECT_EQ(tables.quantiserTable[t][i], lowFrequency ? 4 : 2) << t << " " << i;
        }
    }
    EXPECT_EQ(tables.reciprocalTable[0][2], 1024);

    BuildQuantiserTables(0, tables);
    EXPECT_EQ(tables.quantiserTable[0][0], 800);
    EXPECT_EQ(tables.quantiserTable[3][63], 6400);
    EXPECT_EQ(tables.reciprocalTable[3][63], 0);  // steps above 2048 quantise everything to zero
    QuantiserTables negative;
    BuildQuantiserTables(-5, negative);
    EXPECT_EQ(negative.quantiserTable[0][0], 800);

    BuildQuantiserTables(25, tables);  // scale 200
    EXPECT_EQ(tables.quantiserTable[0][0], 32);
}

// A section's quality byte is unsigned: anything above 100 gives the finest steps.
TEST(Quantiser, QualitiesAboveOneHundredUseScaleZero) {
    QuantiserTables high, byte;
    BuildQuantiserTables(100, high);
    BuildQuantiserTables(200, byte);
    EXPECT_EQ(byte.quantiserTable[0][2], 2);
    EXPECT_EQ(byte.quantiserTable[0][9], 4);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 64; ++i) EXPECT_EQ(byte.quantiserTable[t][i], high.quantiserTable[t][i]);
}

TEST(Quantiser, QuantiseRoundsWithAThirdAndReportsTheFirstAcIndex) {
    QuantiserTables tables;
    BuildQuantiserTables(50, tables);  // inter table: step 16 at index 0 and 1 (m = 128)
    int16_t in[64] = {};
    int16_t out[64];
    in[0] = 100;
    EXPECT_EQ(QuantiseBlock(out, tables.reciprocalTable[1], in), 0);
    EXPECT_EQ(out[0], 1);
    in[0] = -100;
    in[1] = 4;
    EXPECT_EQ(QuantiseBlock(out, tables.reciprocalTable[1], in), 0);
    EXPECT_EQ(out[0], -1);
    EXPECT_EQ(out[1], 0);

    // Levels land in zigzag order; the result is the smallest raster index with a level.
    in[0] = 0;
    in[1] = 0;
    in[16] = -400;  // zigzag position 3
    in[9] = 300;    // zigzag position 4
    EXPECT_EQ(QuantiseBlock(out, tables.reciprocalTable[1], in), 9);
    EXPECT_EQ(out[3], -3);
    EXPECT_EQ(out[4], 2);

    in[9] = 0;
    in[16] = -32768;  // the magnitude of the most negative coefficient still quantises
    EXPECT_EQ(QuantiseBlock(out, tables.reciprocalTable[1], in), 16);
    EXPECT_LT(out[3], 0);
}

}  // namespace
}  // namespace rq43
