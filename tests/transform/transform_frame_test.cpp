#include "transform/transform_frame.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "residual/residual_coder.h"
#include "support/picture_fixtures.h"
#include "transform/forward_dct.h"

namespace rq43 {
namespace {

// The block's intra and inter transforms, computed directly.
void ExpectBlock(const int16_t* slot, const uint8_t* pixels, int32_t stride, const int16_t* differences,
                 int32_t pitch) {
    int16_t intra[64], inter[64] = {};
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) intra[8 * r + c] = static_cast<int16_t>(pixels[r * stride + c] - 128);
    ForwardDct(intra);
    if (differences != nullptr) {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                inter[8 * r + c] = static_cast<int16_t>(differences[r * pitch + c] - 128);
        ForwardDct(inter);
    }
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(slot[i], intra[i]) << "intra " << i;
        ASSERT_EQ(slot[64 + i], inter[i]) << "inter " << i;
    }
}

void ExpectPlane(const std::vector<int16_t>& coefficients, const std::vector<uint8_t>& flags, int32_t across,
                 int32_t down, const uint8_t* pixels, int32_t stride, const int16_t* differences,
                 int32_t pitch) {
    for (int32_t by = 0; by < down; ++by) {
        for (int32_t bx = 0; bx < across; ++bx) {
            const size_t block = static_cast<size_t>(by * across + bx);
            SCOPED_TRACE(::testing::Message() << "block " << bx << "," << by);
            ExpectBlock(&coefficients[block * kCoefficientsPerBlock], pixels + 8 * by * stride + 8 * bx,
                        stride, differences ? differences + 8 * by * pitch + 8 * bx : nullptr, pitch);
            EXPECT_EQ(flags[block] & kBlockFlagIntra, differences ? 0 : 1);
        }
    }
}

void ExpectTransformed(const ResidualCoder& coder, const YuvFrame& source,
                       const DifferenceFrame* difference) {
    const int32_t w = static_cast<int32_t>(source.width);
    ExpectPlane(coder.yCoefficients, coder.yFlags, coder.blocksAcross, coder.blocksDown, source.y,
                source.stride, difference ? difference->y : nullptr, w);
    ExpectPlane(coder.uCoefficients, coder.uFlags, coder.chromaBlocksAcross, coder.chromaBlocksDown, source.u,
                source.stride, difference ? difference->u : nullptr, w);
    ExpectPlane(coder.vCoefficients, coder.vFlags, coder.chromaBlocksAcross, coder.chromaBlocksDown, source.v,
                source.stride, difference ? difference->v : nullptr, w);
}

class TransformFrameTest : public ::testing::TestWithParam<bool> {};

// 240 lines: 30 luma block rows split 15/15 and an odd 15 chroma block rows split 8/7.
TEST_P(TransformFrameTest, EveryBlockOfEveryPlaneIsTransformedOnce) {
    YuvFrame source, reference;
    AllocateFrame(source, 64, 240, 16);
    AllocateFrame(reference, 64, 240, 16);
    testing::PaintFrame(source, 3, 40);
    DifferenceFrame difference;
    AllocateDifferenceFrame(difference, 64, 240);
    testing::PaintDifference(difference, 4, 60);

    ResidualCoder coder;
    InitResidualCoder(coder);
    coder.useTwoThreads = GetParam() ? 1 : 0;
    ASSERT_TRUE(TransformFrame(source, coder, nullptr, nullptr));
    EXPECT_EQ(coder.chromaBlocksDown, 15);
    ExpectTransformed(coder, source, nullptr);

    ASSERT_TRUE(TransformFrame(source, coder, &difference, &reference));
    EXPECT_EQ(coder.residualPlanes, &difference);
    EXPECT_EQ(coder.reference, &reference);
    ExpectTransformed(coder, source, &difference);

    // A key frame after a delta frame leaves no inter coefficients behind.
    ASSERT_TRUE(TransformFrame(source, coder, nullptr, nullptr));
    ExpectTransformed(coder, source, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Workers, TransformFrameTest, ::testing::Bool());

TEST(TransformFrame, RefusesMismatchedFrames) {
    YuvFrame source;
    ResidualCoder coder;
    InitResidualCoder(coder);
    EXPECT_FALSE(TransformFrame(source, coder, nullptr, nullptr));  // never allocated
    AllocateFrame(source, 32, 16, 16);
    DifferenceFrame difference;
    AllocateDifferenceFrame(difference, 16, 16);
    EXPECT_FALSE(TransformFrame(source, coder, &difference, nullptr));
}

TEST(ClearIntraFlags, ClearsOnlyTheIntraBit) {
    YuvFrame source;
    AllocateFrame(source, 32, 32, 16);
    ResidualCoder coder;
    InitResidualCoder(coder);
    ASSERT_TRUE(TransformFrame(source, coder, nullptr, nullptr));
    coder.yFlags[1] |= 4;
    ClearIntraFlags(coder);
    for (uint8_t flag : coder.uFlags) EXPECT_EQ(flag, 0);
    for (uint8_t flag : coder.vFlags) EXPECT_EQ(flag, 0);
    EXPECT_EQ(coder.yFlags[0], 0);
    EXPECT_EQ(coder.yFlags[1], 4);
}

}  // namespace
}  // namespace rq43
