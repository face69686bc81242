#include "motion/motion_compensation.h"

#include <gtest/gtest.h>

#include <vector>

#include "motion_test_frames.h"

namespace rq43 {
namespace {

using test::Pixel;

class CompensationTest : public ::testing::Test {
  protected:
    void SetUp() override { Prepare(96, 64); }

    void Prepare(uint32_t width, uint32_t height) {
        test::MakeFrame(reference_, width, height, test::Texture,
                        [](int32_t x, int32_t y) { return static_cast<uint8_t>(x * 5 + y * 11 + 1); });
        AllocateFrame(target_, width, height, 16);
        AllocateMotionField(field_, width, height, 16);
        field_.target = &target_;
        field_.reference = &reference_;
    }

    // Luma of the target at (x + i, y + j) for the 16x16 block at (x, y).
    uint8_t TargetY(int32_t x, int32_t y) const { return Pixel(target_, target_.y, x, y); }
    uint8_t TargetU(int32_t x, int32_t y) const { return Pixel(target_, target_.u, x, y); }
    uint8_t RefY(int32_t x, int32_t y) const { return Pixel(reference_, reference_.y, x, y); }
    uint8_t RefU(int32_t x, int32_t y) const { return Pixel(reference_, reference_.u, x, y); }
    uint8_t RefV(int32_t x, int32_t y) const { return Pixel(reference_, reference_.v, x, y); }

    YuvFrame reference_;
    YuvFrame target_;
    MotionField field_;
};

TEST_F(CompensationTest, ZeroVectorCopiesTheColocatedBlocks) {
    PredictMacroblock(field_, 32, 16, MotionEntry{});
    for (int32_t j = 0; j < 16; ++j) {
        for (int32_t i = 0; i < 16; ++i) ASSERT_EQ(TargetY(32 + i, 16 + j), RefY(32 + i, 16 + j));
    }
    for (int32_t j = 0; j < 8; ++j) {
        for (int32_t i = 0; i < 8; ++i) {
            ASSERT_EQ(TargetU(16 + i, 8 + j), RefU(16 + i, 8 + j));
            ASSERT_EQ(Pixel(target_, target_.v, 16 + i, 8 + j), RefV(16 + i, 8 + j));
        }
    }
}

TEST_F(CompensationTest, HalfPelLumaAndQuarterChromaFollowTheTwoSampleRule) {
    struct Case {
        int16_t dx, dy;
        int32_t lumaBx, lumaBy;      // offset of the second luma sample (0, 0: plain copy)
        int32_t lumaAx;              // column offset of the first sample
        int32_t chromaAx, chromaBx;  // chroma columns averaged
    };
    const Case cases[] = {
        {1, 0, 1, 0, 0, 0, 0},    // luma mean of i and i+1, chroma a copy
        {3, 0, 1, 0, 1, 0, 1},    // luma columns 1 and 2, chroma columns 0 and 1
        {1, 1, 1, 1, 0, 0, 0},    // diagonal pair only, never four samples
        {-3, 0, 0, 0, -1, 0, 0},  // T(-3/2) = T(-2/2): a plain copy from the border column -1
    };
    for (const Case& c : cases) {
        PredictMacroblock(field_, 0, 16, MotionEntry{c.dx, c.dy, 0.0f});
        for (int32_t j = 0; j < 16; ++j) {
            for (int32_t i = 0; i < 16; ++i) {
                int a = RefY(c.lumaAx + i, 16 + j);
                int b = RefY(c.lumaAx + c.lumaBx + i, 16 + j + c.lumaBy);
                ASSERT_EQ(TargetY(i, 16 + j), (a + b) >> 1) << c.dx << "," << c.dy << " at " << i << "," << j;
            }
        }
        for (int32_t j = 0; j < 8; ++j) {
            for (int32_t i = 0; i < 8; ++i) {
                int expected = (RefU(c.chromaAx + i, 8 + j) + RefU(c.chromaBx + i, 8 + j)) >> 1;
                ASSERT_EQ(TargetU(i, 8 + j), expected) << c.dx;
            }
        }
    }
}

TEST(TwoSampleRuleTest, MeanTruncates) {
    const uint8_t a[2] = {1, 254};
    const uint8_t b[2] = {2, 255};
    uint8_t out[2] = {};
    PredictTwoSample(a, b, 2, out, 2, 1);
    EXPECT_EQ(out[0], 1);
    PredictTwoSample(a + 1, b + 1, 2, out, 2, 1);
    EXPECT_EQ(out[0], 254);
}

TEST_F(CompensationTest, SubBlockChromaComesFromThePlaneOrigin) {
    uint32_t index = 2 * field_.mbCols + 4;  // the macroblock at (64, 32)
    field_.current[index] = {0, 0, kSubBlockMarker};
    for (int k = 0; k < 4; ++k) field_.subVectors[4 * index + static_cast<size_t>(k)] = {8, 4, 0.0f};
    ASSERT_TRUE(CompensateMotion(field_));
    for (int32_t j = 0; j < 8; ++j) {
        for (int32_t i = 0; i < 8; ++i) {
            ASSERT_EQ(TargetU(32 + i, 16 + j), RefU(2 + i, 1 + j));
            ASSERT_EQ(Pixel(target_, target_.v, 32 + i, 16 + j), RefV(2 + i, 1 + j));
        }
    }
    // Luma quadrants each take their own vector: (8, 4) half-pels is 4 columns, 2 rows, no averaging.
    for (int32_t j = 0; j < 16; ++j) {
        for (int32_t i = 0; i < 16; ++i) ASSERT_EQ(TargetY(64 + i, 32 + j), RefY(68 + i, 34 + j));
    }
}

TEST_F(CompensationTest, QuadrantsKeepTheirOwnPredictions) {
    const MotionEntry quadrants[4] = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {-2, -2, 0}};
    uint32_t index = field_.mbCols + 1;  // (16, 16)
    field_.current[index].cost = kSubBlockMarker;
    for (int k = 0; k < 4; ++k) field_.subVectors[4 * index + static_cast<size_t>(k)] = quadrants[k];
    ASSERT_TRUE(CompensateMotion(field_));
    for (int k = 0; k < 4; ++k) {
        int32_t qx = 16 + 8 * (k % 2);
        int32_t qy = 16 + 8 * (k / 2);
        for (int32_t j = 0; j < 8; ++j) {
            for (int32_t i = 0; i < 8; ++i) {
                ASSERT_EQ(TargetY(qx + i, qy + j),
                          RefY(qx + i + quadrants[k].dx / 2, qy + j + quadrants[k].dy / 2))
                    << k;
            }
        }
    }
}

TEST_F(CompensationTest, ChromaBeyondTheUBorderReadsWhatTheLayoutHoldsThere) {
    // Four quadrant vectors of -40 give chroma column T(-40/4) = -10 from the plane origin: two columns
    // past U's border, in the V border of the row above. Stored streams decode it so.
    uint32_t index = 1;
    field_.current[index].cost = kSubBlockMarker;
    for (int k = 0; k < 4; ++k) field_.subVectors[4 + static_cast<size_t>(k)] = {-40, 0, 0.0f};
    ASSERT_TRUE(CompensateMotion(field_));
    const uint8_t* u = reference_.u;
    for (int32_t j = 0; j < 8; ++j) {
        for (int32_t i = 0; i < 8; ++i) {
            const uint8_t* a = u + j * reference_.stride - 10 + i;
            ASSERT_EQ(TargetU(8 + i, j), (a[0] + a[1]) >> 1);  // T(-39/4) = -9
        }
    }
}

TEST_F(CompensationTest, VectorsReadingOutsideTheAllocationAreRefusedBeforeAnyWrite) {
    std::vector<uint8_t> before(target_.buffer, target_.buffer + target_.bufferSize);
    field_.current[0] = {-64, -32, 0.0f};  // 32 columns and 16 rows up-left of (0, 0)
    EXPECT_FALSE(
        MacroblockReadsInside(reference_, 0, field_.mbCols, field_.current[0], &field_.subVectors[0]));
    EXPECT_FALSE(CompensateMotion(field_));
    EXPECT_EQ(std::vector<uint8_t>(target_.buffer, target_.buffer + target_.bufferSize), before);

    // The same for a quadrant vector far below the last row.
    field_.current[0] = MotionEntry{};
    uint32_t last = field_.MacroblockCount() - 1;
    field_.current[last].cost = kSubBlockMarker;
    field_.subVectors[4 * last + 3] = {0, 30000, 0.0f};
    EXPECT_FALSE(CompensateMotion(field_));

    // Frames that do not match the field are refused too.
    field_.subVectors[4 * last + 3] = MotionEntry{};
    EXPECT_TRUE(CompensateMotion(field_));
    YuvFrame small;
    AllocateFrame(small, 32, 32, 16);
    field_.reference = &small;
    EXPECT_FALSE(CompensateMotion(field_));
}

// The check of a whole frame passes short vectors on a margin argument alone: at the corners, where the
// allocation ends close to the planes' borders, it must agree with the check of each macroblock.
TEST_F(CompensationTest, WholeFrameCheckAgreesWithEachMacroblocksOwn) {
    Prepare(32, 32);
    const uint32_t count = field_.MacroblockCount();
    for (uint32_t i = 0; i < count; ++i) {
        for (int mode = 0; mode < 3; ++mode) {  // whole, one quadrant, all four quadrants
            for (int dx = -40; dx <= 40; ++dx) {
                for (int dy = -40; dy <= 40; ++dy) {
                    for (MotionEntry& entry : field_.current) entry = MotionEntry{};
                    for (MotionEntry& entry : field_.subVectors) entry = MotionEntry{};
                    const MotionEntry vector{static_cast<int16_t>(dx), static_cast<int16_t>(dy), 0.0f};
                    if (mode == 0) {
                        field_.current[i] = vector;
                    } else {
                        field_.current[i].cost = kSubBlockMarker;
                        for (uint32_t k = 0; k < (mode == 1 ? 1u : 4u); ++k)
                            field_.subVectors[4 * i + (i + k) % 4] = vector;
                    }
                    ASSERT_EQ(AllReadsInside(reference_, field_.mbCols, field_.current.data(),
                                             field_.subVectors.data(), count),
                              MacroblockReadsInside(reference_, i, field_.mbCols, field_.current[i],
                                                    &field_.subVectors[4 * i]))
                        << "macroblock " << i << " mode " << mode << " vector " << dx << "," << dy;
                }
            }
        }
    }
}

TEST_F(CompensationTest, EncoderRangeVectorsStayInsideAtEveryCorner) {
    Prepare(16, 16);
    for (int dx : {-30, -29, 0, 29, 30}) {
        for (int dy : {-30, -29, 0, 29, 30}) {
            field_.current[0] = {static_cast<int16_t>(dx), static_cast<int16_t>(dy), 0.0f};
            EXPECT_TRUE(CompensateMotion(field_)) << dx << "," << dy;
        }
    }
}

}  // namespace
}  // namespace rq43
