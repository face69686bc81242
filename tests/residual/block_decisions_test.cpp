#include "residual/block_decisions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "residual/residual_coder.h"
#include "transform/forward_dct.h"
#include "transform/inverse_dct.h"
#include "transform/quantiser.h"
#include "transform/reconstruction.h"
#include "transform/transform_frame.h"

namespace rq43 {
namespace {

// A 16x16 delta frame whose four luma blocks and one chroma block per plane get hand-made coefficients
// and planes. The measures compare intra coefficients with the source and inter coefficients with the
// difference planes, so each side can be set up on its own.
struct DecisionBench {
    YuvFrame source;
    DifferenceFrame difference;
    ResidualCoder coder;
    std::vector<int16_t> out;

    explicit DecisionBench(int32_t quality) {
        AllocateFrame(source, 16, 16, 16);
        AllocateDifferenceFrame(difference, 16, 16);
        std::fill(difference.y, difference.y + 16 * 16 * 3 / 2, int16_t{128});
        InitResidualCoder(coder);
        EXPECT_TRUE(LoadFrame(coder, source, &difference, nullptr));
        coder.quality = quality;
        BuildQuantiserTables(quality, coder.quantiserTables);
        out.assign(6 * 64, 77);
        // By default a block is never worth coding intra: its intra levels (none) reconstruct mid-grey, far
        // from the dark source.
        for (int block = 0; block < 4; ++block) std::fill(Intra(block), Intra(block) + 64, int16_t{0});
        for (int r = 0; r < 16; ++r) std::memset(source.y + r * source.stride, 20, 16);
    }
    // A mid-grey source block, which intra levels of zero reproduce exactly.
    void GreySource(int block) {
        for (int r = 0; r < 8; ++r)
            std::memset(source.y + ((block / 2) * 8 + r) * source.stride + (block % 2) * 8, 128, 8);
    }
    int16_t* Intra(int block) {
        return &coder.coefficients.y[static_cast<size_t>(block) * kCoefficientsPerBlock];
    }
    int16_t* Inter(int block) { return Intra(block) + 64; }
    int16_t* Residual(int block) { return difference.y + (block / 2) * 8 * 16 + (block % 2) * 8; }
    const int16_t* Levels(int block) const { return out.data() + block * 64; }
    bool IsIntra(int block) const {
        return (coder.yFlags[static_cast<size_t>(block)] & kBlockFlagIntra) != 0;
    }

    // Makes the residual block exactly what its quantised inter coefficients reconstruct to.
    void ResidualFromInter(int block) {
        int16_t levels[64], samples[64];
        QuantiseBlock(levels, coder.quantiserTables.reciprocalTable[kInterLumaTable], Inter(block));
        DequantiseBlock(coder.quantiserTables.quantiserTable[kInterLumaTable], levels, samples);
        InverseDct(samples, samples, 128);
        for (int r = 0; r < 8; ++r) std::copy(samples + 8 * r, samples + 8 * r + 8, Residual(block) + r * 16);
    }
};

bool AllZero(const int16_t* levels) {
    return std::all_of(levels, levels + 64, [](int16_t v) { return v == 0; });
}

// The row steps over whole planes, as the token section's workers share them out.
int32_t DecideLuma(ResidualCoder& coder, int16_t* out) {
    return DecideLumaRows(coder, out, 0, coder.blocksDown);
}
void DecideChroma(const ResidualCoder& coder, int16_t* out) {
    for (int plane = 0; plane < 2; ++plane)
        for (int32_t row = 0; row < coder.chromaBlocksDown; ++row) DecideChromaRow(coder, plane, row, out);
}

TEST(BlockDecisions, PerfectPredictionLeavesNoResidual) {
    DecisionBench bench(50);
    // Transform of an all-128 difference: the rounding leaves a DC of 4, not 0, so v = 4 and the block
    // goes through the skip test, which drops nothing but zeros.
    int16_t zero[64] = {};
    ForwardDct(zero);
    std::copy(zero, zero + 64, bench.Inter(0));
    EXPECT_EQ(bench.Inter(0)[0], 4);
    bench.coder.yFlags[0] = kBlockFlagIntra;  // left over from an earlier attempt
    EXPECT_EQ(DecideLuma(bench.coder, bench.out.data()), 0);
    EXPECT_TRUE(AllZero(bench.Levels(0)));
    EXPECT_FALSE(bench.IsIntra(0));
}

TEST(BlockDecisions, LumaTestsRunInOrder) {
    DecisionBench bench(50);
    // Block 0, rule a: a source the intra levels reproduce exactly, a residual the inter levels miss.
    bench.GreySource(0);
    for (int r = 0; r < 8; ++r) bench.Residual(0)[r * 16 + 3] = 200;
    // Block 1, rule b: both errors small, the inter error the larger, and fewer intra AC levels.
    bench.GreySource(1);
    bench.source.y[8 + 2] = 138;  // intra error 100 / 64
    bench.Inter(1)[1] = 256;      // level 2 of step 16
    // Block 2, rule d: one AC level of 1 and an unquantised DC of 1 give v = 2, dropped although coding it
    // would be exact (the residual matches its reconstruction).
    bench.Inter(2)[1] = 128;
    bench.Inter(2)[0] = 1;
    bench.ResidualFromInter(2);
    // Block 3: the same with a DC of 2 (v = 3) passes the skip test and is kept.
    bench.Inter(3)[1] = 128;
    bench.Inter(3)[0] = 2;
    bench.ResidualFromInter(3);

    EXPECT_EQ(DecideLuma(bench.coder, bench.out.data()), 2);
    EXPECT_TRUE(bench.IsIntra(0));
    EXPECT_TRUE(bench.IsIntra(1));
    EXPECT_FALSE(bench.IsIntra(2));
    EXPECT_FALSE(bench.IsIntra(3));
    // Intra blocks carry their intra levels even when all of them are zero.
    EXPECT_TRUE(AllZero(bench.Levels(0)));
    EXPECT_TRUE(AllZero(bench.Levels(2)));
    EXPECT_EQ(bench.Levels(3)[1], 1);
    EXPECT_EQ(bench.Levels(3)[0], 0);

    // With more intra AC levels than inter ones, rule b no longer applies to block 1.
    bench.Intra(1)[9] = 2000;
    EXPECT_EQ(DecideLuma(bench.coder, bench.out.data()), 1);
    EXPECT_FALSE(bench.IsIntra(1));
}

TEST(BlockDecisions, SkipThresholdFollowsQuality) {
    // A small residual (its skip error between the margin 0.3 and 10) that quality 100's levels describe
    // exactly: kept there (Tl = 0.001), dropped at quality 1 (Tl = 10) without looking at the coding.
    DecisionBench fine(100);
    fine.Inter(0)[1] = 100;
    fine.Inter(0)[0] = 40;
    fine.ResidualFromInter(0);
    const float skip = SkipError(fine.Residual(0), 16);
    ASSERT_GT(skip, 0.3f);
    ASSERT_LT(skip, 10.0f);
    EXPECT_EQ(DecideLuma(fine.coder, fine.out.data()), 0);
    EXPECT_FALSE(AllZero(fine.Levels(0)));

    DecisionBench coarse(1);
    coarse.Inter(0)[1] = 100;
    coarse.Inter(0)[0] = 40;
    for (int r = 0; r < 8; ++r)
        std::copy(fine.Residual(0) + 16 * r, fine.Residual(0) + 16 * r + 8, coarse.Residual(0) + 16 * r);
    EXPECT_EQ(DecideLuma(coarse.coder, coarse.out.data()), 0);
    EXPECT_TRUE(AllZero(coarse.Levels(0)));
}

TEST(BlockDecisions, CodedResidualMustBeatTheSkipByTheMargin) {
    DecisionBench bench(100);
    // Residual far from what the levels reconstruct: coding it is worse than dropping it.
    bench.Inter(0)[1] = 400;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) bench.Residual(0)[r * 16 + c] = static_cast<int16_t>(c < 4 ? 126 : 130);
    EXPECT_EQ(DecideLuma(bench.coder, bench.out.data()), 0);
    EXPECT_TRUE(AllZero(bench.Levels(0)));
}

TEST(BlockDecisions, ChromaKeepsOnlyResidualsWorthCoding) {
    DecisionBench bench(50);
    int16_t* u = &bench.coder.coefficients.u[64];
    int16_t* v = &bench.coder.coefficients.v[64];
    // U: levels that reconstruct the residual exactly; V: no levels at all.
    u[0] = 400;
    u[8] = -300;
    int16_t levels[64], samples[64];
    QuantiseBlock(levels, bench.coder.quantiserTables.reciprocalTable[kInterChromaTable], u);
    DequantiseBlock(bench.coder.quantiserTables.quantiserTable[kInterChromaTable], levels, samples);
    InverseDct(samples, samples, 128);
    for (int r = 0; r < 8; ++r) std::copy(samples + 8 * r, samples + 8 * r + 8, bench.difference.u + r * 16);
    for (int r = 0; r < 8; ++r) bench.difference.v[r * 16] = 250;  // a residual, but no levels for it
    v[0] = 0;
    DecideChroma(bench.coder, bench.out.data());
    EXPECT_TRUE(std::equal(levels, levels + 64, bench.out.data()));
    EXPECT_TRUE(AllZero(bench.out.data() + 64));

    // A tiny residual falls below Tc (5 at quality 1).
    DecisionBench coarse(1);
    int16_t* cu = &coarse.coder.coefficients.u[64];
    cu[0] = 2000;
    coarse.difference.u[0] = 140;
    DecideChroma(coarse.coder, coarse.out.data());
    EXPECT_TRUE(AllZero(coarse.out.data()));
}

TEST(BlockDecisions, IntraDcFillStaysInsideThePixelRange) {
    QuantiserTables tables;
    BuildQuantiserTables(27, tables);  // luma DC step 30
    ASSERT_EQ(tables.quantiserTable[kIntraLumaTable][0], 30);
    int16_t white[64];
    std::fill(white, white + 64, int16_t{127});  // pixels of 255
    ForwardDct(white);
    int16_t plain[64], mended[64];
    QuantiseBlock(plain, tables.reciprocalTable[kIntraLumaTable], white);
    EXPECT_EQ(IntraDcValue(30, plain[0]), 256);  // would decode as the pattern 0, 1, 1, 1
    EXPECT_EQ(QuantiseIntraLuma(mended, tables, white), 0);
    EXPECT_EQ(mended[0], 1019 / 30);
    EXPECT_EQ(IntraDcValue(30, mended[0]), 252);

    int16_t dark[64] = {};
    dark[0] = -9000;
    QuantiseIntraLuma(mended, tables, dark);
    EXPECT_EQ(mended[0], -(1028 / 30));
    EXPECT_GE(IntraDcValue(30, mended[0]), 0);

    // Blocks with AC levels take the full path, which saturates: left as they are.
    white[1] = 2000;
    QuantiseIntraLuma(mended, tables, white);
    EXPECT_EQ(mended[0], plain[0]);
}

TEST(BlockDecisions, KeyLevelsAreClampedToTheTokenRange) {
    DecisionBench bench(100);
    bench.Intra(0)[2] = 32767;  // step 2: level 2048
    bench.Intra(0)[0] = -32768;
    QuantiseKeyLumaRows(bench.coder, bench.out.data(), 0, bench.coder.blocksDown);
    EXPECT_EQ(bench.Levels(0)[5], 580);  // raster 2 is zigzag position 5
    EXPECT_EQ(bench.Levels(0)[0], -580);

    std::fill(bench.coder.coefficients.u.begin(), bench.coder.coefficients.u.end(), int16_t{0});
    std::fill(bench.coder.coefficients.v.begin(), bench.coder.coefficients.v.end(), int16_t{0});
    bench.coder.coefficients.u[1] = -32768;
    QuantiseKeyChromaRow(bench.coder, 0, 0, bench.out.data());
    QuantiseKeyChromaRow(bench.coder, 1, 0, bench.out.data());
    EXPECT_EQ(bench.out[1], -580);
    EXPECT_TRUE(AllZero(bench.out.data() + 64));  // the V block follows the U block
}

}  // namespace
}  // namespace rq43
