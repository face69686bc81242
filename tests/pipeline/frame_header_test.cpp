#include "pipeline/frame_header.h"

#include <gtest/gtest.h>

#include <vector>

namespace rq43 {
namespace {

TEST(FrameHeaderTest, LayoutIsLittleEndian) {
    uint8_t bytes[8];
    WriteFrameHeader({75, 0, 37, 0x01020304}, bytes);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 8), (std::vector<uint8_t>{75, 0, 37, 0, 4, 3, 2, 1}));
    FrameHeader back = ReadFrameHeader(bytes);
    EXPECT_EQ(back.quality, 75);
    EXPECT_EQ(back.motionSize, 37);
    EXPECT_EQ(back.tokenSize, 0x01020304u);
}

TEST(FrameHeaderTest, CheckedReadRefusesLayoutsThatLeaveTheChunk) {
    std::vector<uint8_t> frame(8 + 37 + 100);
    WriteFrameHeader({50, 0, 37, 100}, frame.data());
    FrameHeader header;
    EXPECT_TRUE(ReadCheckedFrameHeader(frame.data(), frame.size(), &header));
    EXPECT_FALSE(ReadCheckedFrameHeader(frame.data(), frame.size() - 1, &header));
    EXPECT_FALSE(ReadCheckedFrameHeader(frame.data(), 7, &header));

    WriteFrameHeader({50, 1, 37, 100}, frame.data());  // key frames carry no motion section
    EXPECT_FALSE(ReadCheckedFrameHeader(frame.data(), frame.size(), &header));
    WriteFrameHeader({50, 2, 0, 100}, frame.data());
    EXPECT_FALSE(ReadCheckedFrameHeader(frame.data(), frame.size(), &header));
    WriteFrameHeader({50, 0, 0, 0xFFFFFFFF}, frame.data());  // no wrap-around of the sum
    EXPECT_FALSE(ReadCheckedFrameHeader(frame.data(), frame.size(), &header));
}

}  // namespace
}  // namespace rq43
