#include "transform/transform_frame.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "platform/worker_pair.h"
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
        if (differences != nullptr) {
            ASSERT_EQ(slot[64 + i], inter[i]) << "inter " << i;
        }
    }
}

void ExpectPlane(const std::vector<int16_t>& coefficients, int32_t across, int32_t down,
                 const uint8_t* pixels, int32_t stride, const int16_t* differences, int32_t pitch) {
    for (int32_t by = 0; by < down; ++by) {
        for (int32_t bx = 0; bx < across; ++bx) {
            const size_t block = static_cast<size_t>(by * across + bx);
            SCOPED_TRACE(::testing::Message() << "block " << bx << "," << by);
            ExpectBlock(&coefficients[block * kCoefficientsPerBlock], pixels + 8 * by * stride + 8 * bx,
                        stride, differences ? differences + 8 * by * pitch + 8 * bx : nullptr, pitch);
        }
    }
}

void ExpectTransformed(const FrameCoefficients& store, const YuvFrame& source,
                       const DifferenceFrame* difference) {
    const int32_t w = static_cast<int32_t>(source.width);
    ExpectPlane(store.y, store.blocksAcross, store.blocksDown, source.y, source.stride,
                difference ? difference->y : nullptr, w);
    ExpectPlane(store.u, store.chromaBlocksAcross, store.chromaBlocksDown, source.u, source.stride,
                difference ? difference->u : nullptr, w);
    ExpectPlane(store.v, store.chromaBlocksAcross, store.chromaBlocksDown, source.v, source.stride,
                difference ? difference->v : nullptr, w);
}

class TransformFrameTest : public ::testing::TestWithParam<bool> {};

// 240 lines: 30 luma block rows and an odd 15 chroma block rows.
TEST_P(TransformFrameTest, EveryBlockOfEveryPlaneIsTransformedOnce) {
    YuvFrame source;
    AllocateFrame(source, 64, 240, 16);
    testing::PaintFrame(source, 3, 40);
    DifferenceFrame difference;
    AllocateDifferenceFrame(difference, 64, 240);
    testing::PaintDifference(difference, 4, 60);

    platform::WorkerPair workers;
    FrameCoefficients store;
    ASSERT_TRUE(TransformFrame(source, &difference, store, GetParam() ? &workers : nullptr));
    EXPECT_EQ(store.chromaBlocksDown, 15);
    ExpectTransformed(store, source, &difference);

    // A key frame writes the intra halves only: nothing reads the inter halves of a key frame.
    testing::PaintFrame(source, 5, 40);
    ASSERT_TRUE(TransformFrame(source, nullptr, store, GetParam() ? &workers : nullptr));
    ExpectTransformed(store, source, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Workers, TransformFrameTest, ::testing::Bool());

TEST(TransformFrame, RefusesMismatchedFrames) {
    YuvFrame source;
    FrameCoefficients store;
    EXPECT_FALSE(TransformFrame(source, nullptr, store, nullptr));  // never allocated
    AllocateFrame(source, 32, 16, 16);
    DifferenceFrame difference;
    AllocateDifferenceFrame(difference, 16, 16);
    EXPECT_FALSE(TransformFrame(source, &difference, store, nullptr));
}

}  // namespace
}  // namespace rq43
