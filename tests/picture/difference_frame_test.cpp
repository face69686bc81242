#include "picture/difference_frame.h"

#include <gtest/gtest.h>

#include <new>

namespace rq43 {
namespace {

TEST(DifferenceFrameTest, PlaneOffsetsOfA32By16Picture) {
    DifferenceFrame frame;
    AllocateDifferenceFrame(frame, 32, 16);
    const auto* y = reinterpret_cast<const uint8_t*>(frame.y);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(y) % 16, 0u);
    EXPECT_GE(y, frame.block);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(frame.u) - y, 1024);
    EXPECT_EQ(frame.v - frame.u, 16);
    // The last V sample of the last chroma row lies inside the block of 3 * 32 * 16 + 16 bytes.
    const auto* lastV = reinterpret_cast<const uint8_t*>(frame.v + 7 * 32 + 15);
    EXPECT_LE(lastV + 2, frame.block + 3 * 32 * 16 + 16);
}

TEST(DifferenceFrameTest, SameSizeKeepsTheBlockAndItsSamples) {
    DifferenceFrame frame;
    AllocateDifferenceFrame(frame, 32, 16);
    frame.v[3] = -5;
    uint8_t* block = frame.block;
    AllocateDifferenceFrame(frame, 32, 16);
    EXPECT_EQ(frame.block, block);
    EXPECT_EQ(frame.v[3], -5);

    AllocateDifferenceFrame(frame, 48, 32);
    EXPECT_EQ(frame.width, 48);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(frame.u) - reinterpret_cast<uint8_t*>(frame.y), 2 * 48 * 32);

    EXPECT_THROW(AllocateDifferenceFrame(frame, -16, 16), std::bad_alloc);
    EXPECT_EQ(frame.block, nullptr);
    AllocateDifferenceFrame(frame, 16, 16);
    ReleaseDifferenceFrame(frame);
    EXPECT_EQ(frame.block, nullptr);
    EXPECT_EQ(frame.width, 0);
    EXPECT_EQ(frame.y, nullptr);
}

}  // namespace
}  // namespace rq43
