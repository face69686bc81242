#include "picture/input_conversion.h"

#include <gtest/gtest.h>

#include "picture/picture_samples.h"

namespace rq43 {
namespace {

using test::Bitmap;
using test::Pixel;

struct Yuv {
    int y, u, v;
};

// Converts a constant colour picture and checks that every sample of each plane holds one value.
Yuv ConvertConstant(uint8_t blue, uint8_t green, uint8_t red, int bytesPerPixel) {
    Bitmap bitmap(32, 16, bytesPerPixel);
    for (size_t i = 0; i < bitmap.bytes.size(); i += size_t(bytesPerPixel)) {
        bitmap.bytes[i] = blue;
        bitmap.bytes[i + 1] = green;
        bitmap.bytes[i + 2] = red;
        if (bytesPerPixel == 4) bitmap.bytes[i + 3] = static_cast<uint8_t>(i);
    }
    YuvFrame frame;
    AllocateFrame(frame, 32, 16, 16);
    ConvertRgbToYuv(bitmap.bytes.data(), frame, bytesPerPixel, bitmap.Pitch());
    const Yuv first{frame.y[0], frame.u[0], frame.v[0]};
    test::FillFrame(frame, [&](int plane, int x, int r) {
        uint8_t* p = plane == 0 ? frame.y : plane == 1 ? frame.u : frame.v;
        const int expected = plane == 0 ? first.y : plane == 1 ? first.u : first.v;
        EXPECT_EQ(Pixel(p, frame, x, r), expected) << "plane " << plane << " at " << x << "," << r;
        return Pixel(p, frame, x, r);
    });
    return first;
}

TEST(InputConversionTest, ReferenceColoursOfBothRgbDepths) {
    for (int bpp : {3, 4}) {
        const Yuv black = ConvertConstant(0, 0, 0, bpp);
        EXPECT_EQ(black.y, 16);
        EXPECT_EQ(black.u, 128);
        EXPECT_EQ(black.v, 128);
        const Yuv white = ConvertConstant(255, 255, 255, bpp);
        EXPECT_EQ(white.y, 235);
        EXPECT_EQ(white.u, 128);
        EXPECT_EQ(white.v, 128);
        // Constant chroma passes decimation unchanged, so the frame shows the full-resolution values.
        const Yuv red = ConvertConstant(0, 0, 255, bpp);
        EXPECT_EQ(red.y, 81);
        EXPECT_EQ(red.u, 90);
        EXPECT_EQ(red.v, 240);
    }
}

TEST(InputConversionTest, ASingleRedPixelReachesTheFirstChromaSampleThroughBothFilters) {
    Bitmap bitmap(32, 16, 3);
    bitmap.bytes[2] = 255;  // red at pixel (0, 0), black elsewhere
    YuvFrame frame;
    AllocateFrame(frame, 32, 16, 16);
    ConvertRgbToYuv(bitmap.bytes.data(), frame, 3, bitmap.Pitch());
    EXPECT_EQ(Pixel(frame.y, frame, 0, 0), 81);
    EXPECT_EQ(Pixel(frame.y, frame, 1, 0), 16);
    // Full-resolution U 90 and V 240 against 128, halved vertically (111, 178), then horizontally.
    EXPECT_EQ(Pixel(frame.u, frame, 0, 0), 120);
    EXPECT_EQ(Pixel(frame.v, frame, 0, 0), 150);
    EXPECT_EQ(Pixel(frame.u, frame, 1, 0), 128);
    EXPECT_EQ(Pixel(frame.u, frame, 0, 1), 128);
}

TEST(InputConversionTest, BottomUpAndTopDownRgbGiveTheSameFrame) {
    for (int bpp : {3, 4}) {
        for (int size : {16, 48}) {
            Bitmap bottomUp(size, 32, bpp);
            test::FillRandom(bottomUp.bytes, uint32_t(bpp * 100 + size));
            Bitmap topDown = bottomUp.Flipped();
            YuvFrame a;
            YuvFrame b;
            AllocateFrame(a, uint32_t(size), 32, 16);
            AllocateFrame(b, uint32_t(size), 32, 16);
            ConvertRgbToYuv(bottomUp.bytes.data(), a, bpp, bottomUp.Pitch());
            ConvertRgbToYuv(topDown.Row(31), b, bpp, -topDown.Pitch());
            EXPECT_TRUE(test::SamePicture(a, b)) << bpp << " " << size;
        }
    }
}

TEST(InputConversionTest, TheFourthByteOfRgb32IsIgnored) {
    Bitmap rgb24(32, 16, 3);
    test::FillRandom(rgb24.bytes, 7);
    Bitmap rgb32(32, 16, 4);
    test::FillRandom(rgb32.bytes, 8);
    for (size_t p = 0; p < 32 * 16; ++p) std::copy_n(&rgb24.bytes[3 * p], 3, &rgb32.bytes[4 * p]);
    YuvFrame a;
    YuvFrame b;
    AllocateFrame(a, 32, 16, 16);
    AllocateFrame(b, 32, 16, 16);
    ConvertRgbToYuv(rgb24.bytes.data(), a, 3, rgb24.Pitch());
    ConvertRgbToYuv(rgb32.bytes.data(), b, 4, rgb32.Pitch());
    EXPECT_TRUE(test::SamePicture(a, b));
}

// Builds the same 4:2:2 picture as YUY2 and as UYVY: luma from `luma`, U and V per pixel pair.
template <typename Luma, typename Chroma>
std::pair<Bitmap, Bitmap> PackedPair(int width, int rows, Luma luma, Chroma chroma) {
    Bitmap yuy2(width, rows, 2);
    Bitmap uyvy(width, rows, 2);
    for (int r = 0; r < rows; ++r) {
        for (int k = 0; k < width / 2; ++k) {
            const uint8_t y0 = luma(2 * k, r), y1 = luma(2 * k + 1, r);
            const uint8_t u = chroma(0, k, r), v = chroma(1, k, r);
            const uint8_t yuy2Bytes[4] = {y0, u, y1, v};
            const uint8_t uyvyBytes[4] = {u, y0, v, y1};
            std::copy_n(yuy2Bytes, 4, yuy2.Row(r) + 4 * k);
            std::copy_n(uyvyBytes, 4, uyvy.Row(r) + 4 * k);
        }
    }
    return {yuy2, uyvy};
}

TEST(InputConversionTest, PackedFormatsSplitLumaAndFilterEachChromaColumnAlone) {
    auto luma = [](int x, int r) { return static_cast<uint8_t>(x * 7 + r * 3); };
    // U is 200 in the first source row at the first pixel pair only; V is constant 50. A filter that
    // mixed U and V neighbours, or filtered 4:2:2 chroma horizontally, would disturb V or U(1, 0).
    auto chroma = [](int plane, int k, int r) {
        return static_cast<uint8_t>(plane == 1 ? 50 : (k == 0 && r == 0 ? 200 : 0));
    };
    auto [yuy2, uyvy] = PackedPair(32, 16, luma, chroma);
    YuvFrame a;
    YuvFrame b;
    AllocateFrame(a, 32, 16, 16);
    AllocateFrame(b, 32, 16, 16);
    ConvertYuy2ToYuv(yuy2.Pitch(), yuy2.bytes.data(), a);
    ConvertUyvyToYuv(uyvy.Pitch(), uyvy.bytes.data(), b);
    EXPECT_TRUE(test::SamePicture(a, b));
    for (int r = 0; r < 16; ++r)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(Pixel(a.y, a, x, r), luma(x, r)) << x << "," << r;
    EXPECT_EQ(Pixel(a.u, a, 0, 0), 89);
    EXPECT_EQ(Pixel(a.u, a, 1, 0), 0);
    EXPECT_EQ(Pixel(a.u, a, 0, 1), 0);
    for (int r = 0; r < 8; ++r)
        for (int k = 0; k < 16; ++k) ASSERT_EQ(Pixel(a.v, a, k, r), 50);

    // Read from the last buffer row upward, as the compression sequence does: the rows arrive reversed.
    YuvFrame c;
    AllocateFrame(c, 32, 16, 16);
    ConvertYuy2ToYuv(-yuy2.Pitch(), yuy2.Row(15), c);
    EXPECT_EQ(Pixel(c.y, c, 5, 0), luma(5, 15));
    EXPECT_EQ(Pixel(c.u, c, 0, 7), 101);
}

// Rows go in bands, a band of chroma rows waiting for the full rows it filters; 40 rows end in a part band.
TEST(InputConversionTest, TwoWorkersGiveTheSamePictureAsOne) {
    Bitmap rgb(48, 40, 4);
    test::FillRandom(rgb.bytes, 11);
    Bitmap packed(48, 40, 2);
    test::FillRandom(packed.bytes, 12);
    platform::WorkerPair pair;
    YuvFrame frames[2];
    for (int run = 0; run < 3; ++run) {
        for (int k = 0; k < 2; ++k) {
            AllocateFrame(frames[k], 48, 40, 16);
            platform::WorkerPair* workers = k == 0 ? nullptr : &pair;
            if (run == 2)
                ConvertUyvyToYuv(-packed.Pitch(), packed.Row(39), frames[k], workers);
            else
                ConvertRgbToYuv(rgb.bytes.data(), frames[k], 4, rgb.Pitch(), workers);
        }
        EXPECT_TRUE(test::SamePicture(frames[0], frames[1])) << run;
    }
}

TEST(InputConversionTest, ScratchFollowsAResizedFrame) {
    YuvFrame frame;
    for (uint32_t size : {64u, 16u, 96u}) {
        AllocateFrame(frame, size, size, 16);
        const int side = static_cast<int>(size);
        Bitmap rgb(side, side, 3);
        test::FillRandom(rgb.bytes, size);
        ConvertRgbToYuv(rgb.bytes.data(), frame, 3, rgb.Pitch());
        Bitmap packed(side, side, 2);
        test::FillRandom(packed.bytes, size + 1);
        ConvertUyvyToYuv(packed.Pitch(), packed.bytes.data(), frame);
        EXPECT_GE(frame.conversionScratch.size(), size_t{size} * size);
    }
}

}  // namespace
}  // namespace rq43
