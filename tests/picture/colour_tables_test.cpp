#include "picture/colour_tables.h"

#include <gtest/gtest.h>

namespace rq43 {
namespace {

int64_t WeightedSum(const ColourTables::Table& table) {
    int64_t sum = 0;
    for (size_t i = 0; i < table.size(); ++i) sum += static_cast<int64_t>(i + 1) * table[i];
    return sum;
}

// Weighted sums from an independent computation of the tables. Every table has entries where single
// and double precision disagree, so a table built in the wrong precision, with its terms in another
// order or with fused multiply-adds changes its sum.
TEST(ColourTablesTest, EveryTableMatchesItsPrecisionBitForBit) {
    const ColourTables& t = GetColourTables();
    EXPECT_EQ(WeightedSum(t.tyR), 518736992227);
    EXPECT_EQ(WeightedSum(t.tyG), 739049640901);
    EXPECT_EQ(WeightedSum(t.tyB), 143529514735);
    EXPECT_EQ(WeightedSum(t.tuR), 890824423016);
    EXPECT_EQ(WeightedSum(t.tuG), -426593724124);
    EXPECT_EQ(WeightedSum(t.tuB), 643887623924);
    EXPECT_EQ(WeightedSum(t.tvR), 1752005963508);
    EXPECT_EQ(WeightedSum(t.tvG), -539174666378);
    EXPECT_EQ(WeightedSum(t.tvB), -104711475299);
    EXPECT_EQ(WeightedSum(t.ty), 1550632587524);
    EXPECT_EQ(WeightedSum(t.trV), 578059501666);
    EXPECT_EQ(WeightedSum(t.tgV), -294446072112);
    EXPECT_EQ(WeightedSum(t.tgU), -141890917235);
    EXPECT_EQ(WeightedSum(t.tbU), 730614254204);
    // Spot entries where the other precision would be one off.
    EXPECT_EQ(t.tyR[2], 4460007);
    EXPECT_EQ(t.tuR[5], 33491225);
    EXPECT_EQ(t.ty[40], 7456737);
    EXPECT_EQ(t.tbU[0], -67687072);
}

TEST(ColourTablesTest, ClampTableSaturatesEveryIndex) {
    const ClampTable& clamp = GetClampTable();
    EXPECT_EQ(clamp[-256], 0);
    EXPECT_EQ(clamp[-1], 0);
    EXPECT_EQ(clamp[0], 0);
    EXPECT_EQ(clamp[137], 137);
    EXPECT_EQ(clamp[255], 255);
    EXPECT_EQ(clamp[510], 255);
    // The blue sums of the output conversion reach past both ends of the table.
    EXPECT_EQ(clamp[-277], 0);
    EXPECT_EQ(clamp[534], 255);
}

}  // namespace
}  // namespace rq43
