#include "picture/yuv_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace rq43 {
namespace {

bool Aligned16(const uint8_t* pointer) {
    return reinterpret_cast<uintptr_t>(pointer) % 16 == 0;
}

TEST(YuvFrameTest, GeometryOfTheSmallestFrame) {
    YuvFrame frame;
    AllocateFrame(frame, 16, 16, 16);
    EXPECT_EQ(frame.stride, 48);
    EXPECT_EQ(frame.bufferSize, 3488u);
    EXPECT_EQ(frame.v - frame.u, 24);
    EXPECT_TRUE(Aligned16(frame.y));
    EXPECT_TRUE(Aligned16(frame.u));
    EXPECT_EQ(frame.allocated, 1);
    // The top-left corner of the luma border starts inside the buffer, and the luma bottom border ends
    // before the chroma top border begins.
    EXPECT_GE(frame.y - 16 * 48 - 16, frame.buffer);
    EXPECT_LE(frame.y + (16 + 16) * 48 - 16, frame.u - 8 * 48 - 8);
    EXPECT_LE(frame.u + (8 + 8) * 48 - 8, frame.buffer + frame.bufferSize);
    for (size_t i = 0; i < frame.bufferSize; ++i) ASSERT_EQ(frame.buffer[i], 0) << i;
}

TEST(YuvFrameTest, OddGeometriesStillFitTheirBuffer) {
    for (uint32_t border : {4u, 8u, 12u, 20u}) {
        for (uint32_t width : {8u, 24u, 40u}) {
            YuvFrame frame;
            AllocateFrame(frame, width, 8, border);
            const uint32_t cb = border / 2;
            const uint8_t* chromaEnd = frame.v + (8 / 2 + cb - 1) * frame.stride + width / 2 + cb;
            EXPECT_LE(chromaEnd, frame.buffer + frame.bufferSize) << border << " " << width;
            EXPECT_TRUE(Aligned16(frame.y) && Aligned16(frame.u));
        }
    }
}

TEST(YuvFrameTest, ReallocatesOnlyWhenTheGeometryChanges) {
    YuvFrame frame;
    AllocateFrame(frame, 32, 16, 16);
    frame.y[5] = 77;
    uint8_t* before = frame.buffer;
    AllocateFrame(frame, 32, 16, 16);
    EXPECT_EQ(frame.buffer, before);
    EXPECT_EQ(frame.y[5], 77);

    AllocateFrame(frame, 32, 16, 8);
    EXPECT_EQ(frame.border, 8u);
    EXPECT_EQ(frame.stride, 48);
    EXPECT_EQ(frame.y[5], 0);

    // A size whose stride cannot be represented fails like an allocation and leaves the frame released.
    EXPECT_THROW(AllocateFrame(frame, 0xFFFFFFF0u, 16, 16), std::bad_alloc);
    EXPECT_EQ(frame.allocated, 0);
    AllocateFrame(frame, 32, 16, 16);
    ReleaseFrame(frame);
    EXPECT_EQ(frame.allocated, 0);
    EXPECT_EQ(frame.buffer, nullptr);
    EXPECT_EQ(frame.lineBuffer, nullptr);
    EXPECT_EQ(frame.bufferSize, 0u);
}

// Every border byte must equal the picture pixel nearest to it.
void ExpectPlaneExtended(const uint8_t* plane, int32_t stride, int width, int height, int border,
                         const char* name) {
    for (int r = -border; r < height + border; ++r) {
        for (int x = -border; x < width + border; ++x) {
            const int nr = std::clamp(r, 0, height - 1);
            const int nx = std::clamp(x, 0, width - 1);
            ASSERT_EQ(plane[r * stride + x], plane[nr * stride + nx]) << name << " row " << r << " col " << x;
        }
    }
}

TEST(YuvFrameTest, ExtendBordersReplicatesTheNearestPixelOfEveryPlane) {
    YuvFrame frame;
    AllocateFrame(frame, 32, 48, 16);
    for (int r = 0; r < 48; ++r)
        for (int x = 0; x < 32; ++x) frame.y[r * frame.stride + x] = static_cast<uint8_t>(r * 5 + x);
    for (int r = 0; r < 24; ++r) {
        for (int x = 0; x < 16; ++x) {
            frame.u[r * frame.stride + x] = static_cast<uint8_t>(100 + r * 3 + x);
            frame.v[r * frame.stride + x] = static_cast<uint8_t>(200 - r * 3 - x);
        }
    }
    ExtendBorders(frame);
    ExpectPlaneExtended(frame.y, frame.stride, 32, 48, 16, "Y");
    ExpectPlaneExtended(frame.u, frame.stride, 16, 24, 8, "U");
    ExpectPlaneExtended(frame.v, frame.stride, 16, 24, 8, "V");

    // U's right border and V's left border are neighbours in memory; each keeps its own plane's edge.
    const int32_t s = frame.stride;
    for (int r = -8; r < 24 + 8; ++r) {
        const int nr = std::clamp(r, 0, 23);
        EXPECT_EQ(frame.u[r * s + 16 + 7], frame.u[nr * s + 15]);
        EXPECT_EQ(frame.v[r * s - 8], frame.v[nr * s]);
        EXPECT_EQ(frame.u + 16 + 8, frame.v - 8);
    }
}

}  // namespace
}  // namespace rq43
