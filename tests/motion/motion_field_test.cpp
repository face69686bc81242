#include "motion/motion_field.h"

#include <gtest/gtest.h>

namespace rq43 {
namespace {

MotionEntry Vector(int16_t dx, int16_t dy) {
    return {dx, dy, 0.0f};
}

TEST(MotionFieldTest, AllocationKeepsVectorsOnlyForUnchangedGeometry) {
    MotionField field;
    AllocateMotionField(field, 16, 16, 16);
    ASSERT_EQ(field.current.size(), 1u);
    EXPECT_EQ(field.subVectors.size(), 4u);
    EXPECT_EQ(field.stride, 48);
    field.current[0] = Vector(3, -2);
    field.previous[0] = Vector(1, 1);
    field.subVectors[3] = Vector(5, 5);
    field.subBlockMotion = 1;
    field.subBlockCount = 7;

    AllocateMotionField(field, 16, 16, 16);
    EXPECT_EQ(field.current[0].dx, 3);
    EXPECT_EQ(field.subVectors[3].dx, 5);

    AllocateMotionField(field, 16, 16, 8);
    EXPECT_EQ(field.current[0].dx, 0);
    EXPECT_EQ(field.previous[0].dx, 0);
    EXPECT_EQ(field.subVectors[3].dx, 0);
    EXPECT_EQ(field.stride, 32);
    // Flags and counts belong to the sequence, not to the geometry.
    EXPECT_EQ(field.subBlockMotion, 1);
    EXPECT_EQ(field.subBlockCount, 7);

    AllocateMotionField(field, 64, 32, 8);
    EXPECT_EQ(field.mbCols, 4u);
    EXPECT_EQ(field.mbRows, 2u);
    EXPECT_EQ(field.current.size(), 8u);
    EXPECT_EQ(field.subVectors.size(), 32u);
}

TEST(MotionFieldTest, CarryAveragesQuadrantsTowardZeroAfterSubBlockFrames) {
    MotionField field;
    AllocateMotionField(field, 48, 16, 16);
    field.current[0] = {-1, 4, kSubBlockMarker};
    field.current[1] = {-2, 0, kSubBlockMarker};
    field.current[2] = {7, -3, 2.5f};
    const MotionEntry q0[4] = {Vector(-1, 1), Vector(-1, 2), Vector(-1, 3), Vector(0, 3)};
    const MotionEntry q1[4] = {Vector(-2, -2), Vector(-2, -2), Vector(-2, -2), Vector(-2, -2)};
    for (int k = 0; k < 4; ++k) {
        field.subVectors[static_cast<size_t>(k)] = q0[k];
        field.subVectors[static_cast<size_t>(4 + k)] = q1[k];
    }

    field.subBlockMotion = 1;
    CarryMotionVectors(field);
    EXPECT_EQ(field.previous[0].dx, 0);  // -3 / 4 rounds toward zero
    EXPECT_EQ(field.previous[0].dy, 2);  // 9 / 4
    EXPECT_EQ(field.previous[0].cost, kSubBlockMarker);
    EXPECT_EQ(field.previous[1].dx, -2);
    EXPECT_EQ(field.previous[1].dy, -2);
    EXPECT_EQ(field.previous[2].dx, 7);
    EXPECT_EQ(field.previous[2].dy, -3);
    EXPECT_EQ(field.previous[2].cost, 2.5f);
    // current is copied, never changed
    EXPECT_EQ(field.current[0].dx, -1);

    // After a frame without sub-block vectors the entries are copied as they are.
    field.subBlockMotion = 0;
    CarryMotionVectors(field);
    EXPECT_EQ(field.previous[0].dx, -1);
    EXPECT_EQ(field.previous[0].dy, 4);
}

TEST(MotionFieldTest, ClearZeroesVectorsAndPredictorsButKeepsQuadrants) {
    MotionField field;
    AllocateMotionField(field, 32, 32, 16);
    for (auto& entry : field.current) entry = {4, 4, kSubBlockMarker};
    for (auto& entry : field.previous) entry = Vector(2, 2);
    field.subVectors[5] = Vector(9, 9);
    ClearMotionVectors(field);
    for (const auto& entry : field.current) {
        EXPECT_EQ(entry.dx, 0);
        EXPECT_EQ(entry.cost, 0.0f);
    }
    for (const auto& entry : field.previous) EXPECT_EQ(entry.dy, 0);
    EXPECT_EQ(field.subVectors[5].dx, 9);
}

}  // namespace
}  // namespace rq43
