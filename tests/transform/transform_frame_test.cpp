#include "transform/transform_frame.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "platform/worker_pair.h"

namespace rq43 {
namespace {

// Every 8x8 block of every plane is painted flat with a value of its own. A flat block of c (after the bias
// of 128) transforms to a DC of 64c + 4, so each slot's DC names the block that reached it.
int BlockValue(int plane, int32_t block, int salt) {
    return 20 + (static_cast<int>(block) * 7 + plane * 61 + salt) % 200;
}
int16_t FlatDc(int value) {
    return static_cast<int16_t>(64 * (value - 128) + 4);
}

struct Plane {
    int32_t across, down;
};

void PaintFlatBlocks(YuvFrame& source, DifferenceFrame* difference, int salt) {
    const int32_t w = static_cast<int32_t>(source.width), h = static_cast<int32_t>(source.height);
    const Plane planes[3] = {{w / 8, h / 8}, {w / 16, h / 16}, {w / 16, h / 16}};
    uint8_t* pixels[3] = {source.y, source.u, source.v};
    int16_t* residuals[3] = {};
    if (difference != nullptr) {
        residuals[0] = difference->y;
        residuals[1] = difference->u;
        residuals[2] = difference->v;
    }
    for (int p = 0; p < 3; ++p) {
        for (int32_t block = 0; block < planes[p].across * planes[p].down; ++block) {
            const int32_t x0 = 8 * (block % planes[p].across), y0 = 8 * (block / planes[p].across);
            for (int32_t r = y0; r < y0 + 8; ++r) {
                for (int32_t c = x0; c < x0 + 8; ++c) {
                    pixels[p][r * source.stride + c] = static_cast<uint8_t>(BlockValue(p, block, salt));
                    if (difference != nullptr)
                        residuals[p][r * w + c] = static_cast<int16_t>(BlockValue(p, block, salt + 1));
                }
            }
        }
    }
}

void ExpectFlatBlocks(const FrameCoefficients& store, bool inter, int salt) {
    const std::vector<int16_t>* planes[3] = {&store.y, &store.u, &store.v};
    for (int p = 0; p < 3; ++p) {
        const int32_t blocks = p == 0 ? store.blocksAcross * store.blocksDown
                                      : store.chromaBlocksAcross * store.chromaBlocksDown;
        ASSERT_EQ(planes[p]->size(), static_cast<size_t>(blocks) * kCoefficientsPerBlock);
        for (int32_t block = 0; block < blocks; ++block) {
            const int16_t* slot = planes[p]->data() + static_cast<size_t>(block) * kCoefficientsPerBlock;
            EXPECT_EQ(slot[0], FlatDc(BlockValue(p, block, salt))) << "plane " << p << " block " << block;
            if (inter) {
                EXPECT_EQ(slot[64], FlatDc(BlockValue(p, block, salt + 1)))
                    << "plane " << p << " block " << block;
            }
        }
    }
}

class TransformFrameTest : public ::testing::TestWithParam<bool> {};

// 240 lines: 30 luma block rows and an odd 15 chroma block rows.
TEST_P(TransformFrameTest, EveryBlockOfEveryPlaneLandsInItsOwnSlot) {
    YuvFrame source;
    AllocateFrame(source, 64, 240, 16);
    DifferenceFrame difference;
    AllocateDifferenceFrame(difference, 64, 240);
    PaintFlatBlocks(source, &difference, 0);

    platform::WorkerPair workers;
    FrameCoefficients store;
    ASSERT_TRUE(TransformFrame(source, &difference, store, GetParam() ? &workers : nullptr));
    EXPECT_EQ(store.blocksDown, 30);
    EXPECT_EQ(store.chromaBlocksDown, 15);
    ExpectFlatBlocks(store, true, 0);

    // A key frame writes the intra halves only: nothing reads the inter halves of a key frame.
    PaintFlatBlocks(source, nullptr, 5);
    ASSERT_TRUE(TransformFrame(source, nullptr, store, GetParam() ? &workers : nullptr));
    ExpectFlatBlocks(store, false, 5);
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
