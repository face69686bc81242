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
    EXPECT_EQ(coder.yCoefficients.size(), 4u * kCoefficientsPerBlock);
    EXPECT_EQ(coder.uCoefficients.size(), 1u * kCoefficientsPerBlock);
    EXPECT_EQ(coder.vFlags.size(), 1u);
    EXPECT_EQ(coder.predictionScratch.size(), 4u);
}

TEST(ResidualCoderTest, UnchangedGeometryKeepsBuffersAndContents) {
    ResidualCoder coder;
    InitResidualCoder(coder);
    ASSERT_TRUE(SetupResidualCoder(64, coder, 16, 32));
    coder.yCoefficients[5] = 123;
    coder.yFlags[3] = kBlockFlagIntra;
    const int16_t* coefficients = coder.yCoefficients.data();
    ASSERT_TRUE(SetupResidualCoder(64, coder, 16, 32));
    EXPECT_EQ(coder.yCoefficients.data(), coefficients);
    EXPECT_EQ(coder.yCoefficients[5], 123);
    EXPECT_EQ(coder.yFlags[3], kBlockFlagIntra);

    ASSERT_TRUE(SetupResidualCoder(64, coder, 16, 48));
    EXPECT_EQ(coder.yCoefficients.size(), 8u * 6 * kCoefficientsPerBlock);

    ReleaseResidualCoder(coder);
    EXPECT_EQ(coder.width, 0);
    EXPECT_EQ(coder.blocksAcross, 0);
    EXPECT_TRUE(coder.yCoefficients.empty());
}

TEST(ResidualCoderTest, GeometryThatIsNotBlockAlignedIsRefused) {
    ResidualCoder coder;
    InitResidualCoder(coder);
    EXPECT_FALSE(SetupResidualCoder(24, coder, 16, 16));
    EXPECT_FALSE(SetupResidualCoder(0, coder, 16, 16));
    EXPECT_FALSE(SetupResidualCoder(16, coder, -1, 16));
    EXPECT_TRUE(coder.yCoefficients.empty());
    EXPECT_EQ(coder.width, 0);
}

}  // namespace
}  // namespace rq43
