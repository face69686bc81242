#include "residual/residual_coder.h"

#include <gtest/gtest.h>

namespace rq43 {
namespace {

TEST(ResidualCoderTest, SmallestPictureGeometry) {
    ResidualCoder coder;
    InitResidualCoder(coder);
    EXPECT_EQ(coder.arithmeticTokens, 1);
    EXPECT_EQ(coder.lumaStream.arithmetic, 1);
    ASSERT_TRUE(SetupResidualCoder(16, coder, 16, 16));
    EXPECT_EQ(coder.stride, 48);
    EXPECT_EQ(coder.blocksAcross, 2);
    EXPECT_EQ(coder.blocksDown, 2);
    EXPECT_EQ(coder.chromaBlocksAcross, 1);
    EXPECT_EQ(coder.chromaBlocksDown, 1);
    EXPECT_EQ(coder.levels.size(), 8u * 64);
    EXPECT_EQ(coder.vFlags.size(), 1u);
}

TEST(ResidualCoderTest, UnchangedGeometryKeepsBuffersAndContents) {
    ResidualCoder coder;
    InitResidualCoder(coder);
    ASSERT_TRUE(SetupResidualCoder(64, coder, 16, 32));
    coder.levels[5] = 123;
    coder.yFlags[3] = kBlockFlagIntra;
    const int16_t* levels = coder.levels.data();
    ASSERT_TRUE(SetupResidualCoder(64, coder, 16, 32));
    EXPECT_EQ(coder.levels.data(), levels);
    EXPECT_EQ(coder.levels[5], 123);
    EXPECT_EQ(coder.yFlags[3], kBlockFlagIntra);

    ASSERT_TRUE(SetupResidualCoder(64, coder, 16, 48));
    EXPECT_EQ(coder.yFlags.size(), 8u * 6);

    ReleaseResidualCoder(coder);
    EXPECT_EQ(coder.width, 0);
    EXPECT_EQ(coder.blocksAcross, 0);
    EXPECT_TRUE(coder.levels.empty());
}

TEST(ResidualCoderTest, GeometryThatIsNotBlockAlignedIsRefused) {
    ResidualCoder coder;
    InitResidualCoder(coder);
    EXPECT_FALSE(SetupResidualCoder(24, coder, 16, 16));
    EXPECT_FALSE(SetupResidualCoder(0, coder, 16, 16));
    EXPECT_FALSE(SetupResidualCoder(16, coder, -1, 16));
    EXPECT_TRUE(coder.coefficients.y.empty());
    EXPECT_EQ(coder.width, 0);
}

// The frame is borrowed and transformed, and the intra bit of every flag says which kind of frame it is.
TEST(ResidualCoderTest, LoadFrameMarksEveryBlockAndClearIntraFlagsKeepsOtherBits) {
    YuvFrame source, reference;
    AllocateFrame(source, 32, 32, 16);
    AllocateFrame(reference, 32, 32, 16);
    DifferenceFrame difference;
    AllocateDifferenceFrame(difference, 32, 32);
    ResidualCoder coder;
    InitResidualCoder(coder);
    ASSERT_TRUE(LoadFrame(coder, source, nullptr, nullptr));
    for (const auto* flags : {&coder.yFlags, &coder.uFlags, &coder.vFlags})
        for (uint8_t flag : *flags) EXPECT_EQ(flag, kBlockFlagIntra);
    EXPECT_EQ(coder.coefficients.y.size(), 16u * kCoefficientsPerBlock);
    coder.yFlags[1] |= 4;
    ClearIntraFlags(coder);
    for (uint8_t flag : coder.uFlags) EXPECT_EQ(flag, 0);
    EXPECT_EQ(coder.yFlags[0], 0);
    EXPECT_EQ(coder.yFlags[1], 4);

    ASSERT_TRUE(LoadFrame(coder, source, &difference, &reference));
    EXPECT_EQ(coder.residualPlanes, &difference);
    EXPECT_EQ(coder.reference, &reference);
    EXPECT_EQ(coder.yFlags[1], 4);
    AllocateDifferenceFrame(difference, 16, 16);
    EXPECT_FALSE(LoadFrame(coder, source, &difference, nullptr));
}

}  // namespace
}  // namespace rq43
