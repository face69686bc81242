#include "transform/inverse_dct.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "dsp/transform_constants.h"
#include "transform/quantiser.h"

namespace rq43 {
namespace {

TEST(InverseDct, FlatBlocksCarryTheLevel) {
    int16_t coefficients[64] = {};
    int16_t samples[64];
    InverseDct(coefficients, samples, 128);
    for (int16_t s : samples) EXPECT_EQ(s, 128);
    // Without the level, zeros give zeros: reconstruction skips inter blocks without levels for that.
    InverseDct(coefficients, samples, 0);
    for (int16_t s : samples) EXPECT_EQ(s, 0);
    coefficients[0] = 80;
    InverseDct(coefficients, samples, 128);
    for (int16_t s : samples) EXPECT_EQ(s, 138);
    EXPECT_EQ(coefficients[0], 80);  // input left alone when the output is separate
}

TEST(InverseDct, SingleFirstAcCoefficient) {
    const int16_t expected[8] = {17, 15, 10, 3, -3, -10, -15, -17};
    int16_t block[64] = {};
    block[1] = 100;
    InverseDct(block, block, 0);  // in place
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) EXPECT_EQ(block[8 * r + c], expected[c]) << r << "," << c;

    int16_t vertical[64] = {};
    vertical[8] = 100;
    InverseDct(vertical, vertical, 0);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) EXPECT_EQ(vertical[8 * r + c], expected[r]) << r << "," << c;
}

// A crafted stream may overflow the row pass's 32-bit sums: they wrap as the multiply-add instruction
// does (computed without signed overflow, which the sanitizer build checks). In row 0 of all 32767,
// a0 + b0 = 4011533766 wraps to -283433530, so sample 0 is -512 rather than the unwrapped 511.
TEST(InverseDct, OverflowingRowSumsWrap) {
    int16_t block[64] = {};
    for (int c = 0; c < 8; ++c) block[c] = 32767;
    InverseDct(block, block, 0);
    EXPECT_EQ(block[0], -512);
}

TEST(IdctPut, SaturatesToPixelRange) {
    int16_t coefficients[64] = {};
    uint8_t picture[8 * 12] = {};
    coefficients[0] = 8 * 200;  // 128 + 200
    IdctPut(coefficients, picture, 12);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 12; ++c) EXPECT_EQ(picture[12 * r + c], c < 8 ? 255 : 0);
    coefficients[0] = -8 * 200;
    IdctPut(coefficients, picture, 12);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) EXPECT_EQ(picture[12 * r + c], 0);
}

TEST(AddBlock, SaturatesToPixelRange) {
    uint8_t picture[8 * 8];
    int16_t residual[64];
    for (auto& p : picture) p = 200;
    for (int i = 0; i < 64; ++i) residual[i] = static_cast<int16_t>(i < 32 ? -300 : 100);
    AddBlock(picture, 8, residual);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(picture[i], i < 32 ? 0 : 255);
    for (auto& p : picture) p = 100;
    for (auto& r : residual) r = 32767;  // the 16-bit sum saturates rather than wrapping to black
    AddBlock(picture, 8, residual);
    for (auto p : picture) EXPECT_EQ(p, 255);
}

TEST(DequantiseBlock, ProductsKeepTheirLow16Bits) {
    QuantiserTables tables;
    BuildQuantiserTables(50, tables);
    int16_t levels[64] = {};
    int16_t coefficients[64];
    levels[0] = 2048;  // times luma inter step 16 at index 0: 32768 wraps
    levels[kZigzagInverse[8 * 7 + 7]] = 3;
    levels[kZigzagInverse[8 * 1 + 2]] = -5;  // raster 10: inter step 20
    DequantiseBlock(tables.quantiserTable[1], levels, coefficients);
    EXPECT_EQ(coefficients[0], -32768);
    EXPECT_EQ(coefficients[63], 3 * 128);
    EXPECT_EQ(coefficients[10], -100);

    // Level 2048 with step 32 is 65536: exactly zero after wrapping.
    QuantiserTables doubled = tables;
    doubled.quantiserTable[1][0] = 32;
    DequantiseBlock(doubled.quantiserTable[1], levels, coefficients);
    EXPECT_EQ(coefficients[0], 0);
}

}  // namespace
}  // namespace rq43
