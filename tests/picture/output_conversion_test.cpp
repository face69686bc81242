#include "picture/output_conversion.h"

#include <gtest/gtest.h>

#include <array>

#include "picture/colour_tables.h"
#include "picture/input_conversion.h"
#include "picture/picture_samples.h"

namespace rq43 {
namespace {

using test::Bitmap;
using test::Pixel;

std::array<int, 3> RgbOf(uint8_t y, uint8_t u, uint8_t v) {
    YuvFrame frame;
    AllocateFrame(frame, 16, 16, 16);
    test::FillFrame(frame, [&](int plane, int, int) { return plane == 0 ? y : plane == 1 ? u : v; });
    Bitmap out(16, 16, 3);
    ConvertYuvToRgb(frame, out.bytes.data(), 3, out.Pitch());
    return {out.bytes[0], out.bytes[1], out.bytes[2]};
}

TEST(OutputConversionTest, ReferenceColoursAndSaturatedBlue) {
    EXPECT_EQ(RgbOf(16, 128, 128), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(RgbOf(235, 128, 128), (std::array<int, 3>{255, 255, 255}));
    // Blue sums of 534 and -277 lie outside the clamp table and saturate.
    const ColourTables& t = GetColourTables();
    EXPECT_EQ((t.ty[255] + t.tbU[255]) >> 18, 534);
    EXPECT_EQ((t.ty[0] + t.tbU[0]) >> 18, -277);
    EXPECT_EQ(RgbOf(255, 255, 128)[0], 255);
    EXPECT_EQ(RgbOf(0, 0, 128)[0], 0);
    EXPECT_EQ(RgbOf(255, 128, 255)[2], 255);
    EXPECT_EQ(RgbOf(0, 128, 0)[2], 0);
}

// A frame whose every sample tells where it came from: Y = 8 * row + column (mod 256), U and V
// distinct per chroma sample.
void FillLabelled(YuvFrame& frame) {
    test::FillFrame(frame, [](int plane, int x, int r) {
        return static_cast<uint8_t>(plane == 0 ? 8 * r + x : plane == 1 ? 100 + 4 * r + x : 20 + 4 * r + x);
    });
}

TEST(OutputConversionTest, PackedFormatsInterleaveInTheirByteOrderAndShareChromaOverTwoByTwo) {
    YuvFrame frame;
    AllocateFrame(frame, 16, 16, 16);
    FillLabelled(frame);
    Bitmap uyvy(16, 16, 2);
    Bitmap yuy2(16, 16, 2);
    ConvertYuvToUyvy(uyvy.bytes.data(), frame, uyvy.Pitch());
    ConvertYuvToYuy2(yuy2.bytes.data(), frame, yuy2.Pitch());
    for (int r = 0; r < 16; ++r) {
        for (int k = 0; k < 8; ++k) {
            const uint8_t y0 = Pixel(frame.y, frame, 2 * k, r), y1 = Pixel(frame.y, frame, 2 * k + 1, r);
            const uint8_t u = Pixel(frame.u, frame, k, r / 2), v = Pixel(frame.v, frame, k, r / 2);
            const uint8_t* a = uyvy.Row(r) + 4 * k;
            const uint8_t* b = yuy2.Row(r) + 4 * k;
            ASSERT_EQ((std::array<uint8_t, 4>{a[0], a[1], a[2], a[3]}),
                      (std::array<uint8_t, 4>{u, y0, v, y1}));
            ASSERT_EQ((std::array<uint8_t, 4>{b[0], b[1], b[2], b[3]}),
                      (std::array<uint8_t, 4>{y0, u, y1, v}));
        }
    }
}

TEST(OutputConversionTest, NegativePitchWritesRowZeroToTheLastBufferRow) {
    YuvFrame frame;
    AllocateFrame(frame, 16, 16, 16);
    FillLabelled(frame);
    for (int bpp : {2, 3}) {
        Bitmap up(16, 16, bpp);
        Bitmap down(16, 16, bpp);
        if (bpp == 2) {
            ConvertYuvToYuy2(up.bytes.data(), frame, up.Pitch());
            ConvertYuvToYuy2(down.Row(15), frame, -down.Pitch());
        } else {
            ConvertYuvToRgb(frame, up.bytes.data(), 3, up.Pitch());
            ConvertYuvToRgb(frame, down.Row(15), 3, -down.Pitch());
        }
        EXPECT_EQ(up.Flipped().bytes, down.bytes) << bpp;
    }
}

TEST(OutputConversionTest, Rgb32KeepsTheFourthByteAndMatchesRgb24) {
    YuvFrame frame;
    AllocateFrame(frame, 32, 16, 16);
    std::vector<uint8_t> noise(32 * 16 * 3);
    test::FillRandom(noise, 3);
    test::FillFrame(frame, [&](int plane, int x, int r) { return noise[size_t(plane * 512 + r * 32 + x)]; });
    Bitmap rgb24(32, 16, 3);
    Bitmap rgb32(32, 16, 4);
    test::FillRandom(rgb32.bytes, 4);
    const Bitmap before = rgb32;
    ConvertYuvToRgb(frame, rgb24.bytes.data(), 3, rgb24.Pitch());
    ConvertYuvToRgb(frame, rgb32.bytes.data(), 4, rgb32.Pitch());
    for (size_t p = 0; p < 32 * 16; ++p) {
        ASSERT_EQ(rgb32.bytes[4 * p + 3], before.bytes[4 * p + 3]) << p;
        for (size_t c = 0; c < 3; ++c) ASSERT_EQ(rgb32.bytes[4 * p + c], rgb24.bytes[3 * p + c]) << p;
    }
    // Adjacent pixels of one 2 x 2 block with equal luma get equal colours.
    Pixel(frame.y, frame, 1, 0) = Pixel(frame.y, frame, 0, 0);
    Pixel(frame.y, frame, 0, 1) = Pixel(frame.y, frame, 0, 0);
    ConvertYuvToRgb(frame, rgb24.bytes.data(), 3, rgb24.Pitch());
    EXPECT_TRUE(std::equal(rgb24.Row(0), rgb24.Row(0) + 3, rgb24.Row(0) + 3));
    EXPECT_TRUE(std::equal(rgb24.Row(0), rgb24.Row(0) + 3, rgb24.Row(1)));
}

// Random pictures whose pixels differ only by a grey offset have one hue, so chroma decimation has
// (almost) nothing to lose and the round trip shows the matrices' own error: luma is rounded by at most
// half a step, decimated chroma lies within one step of the true value, and the output is rounded by
// half a step again. Red errs by at most 0.58 + 1.596 + 0.5, green by 0.58 + 0.813 + 0.392 + 0.5 and
// blue by 0.58 + 2.017 + 0.5: whole-step errors of 2, 2 and 3.
TEST(OutputConversionTest, RgbRoundTripStaysWithinTheMatrixRoundingError) {
    std::mt19937 random(11);
    const int tolerance[3] = {3, 2, 2};  // blue, green, red
    int worst[3] = {0, 0, 0};
    for (int picture = 0; picture < 40; ++picture) {
        const int bpp = picture % 2 ? 4 : 3;
        const bool topDown = picture % 4 >= 2;
        int base[3];
        for (int& c : base) c = int(random() % 256);
        const int low = -std::min({base[0], base[1], base[2]});
        const int high = 255 - std::max({base[0], base[1], base[2]});
        Bitmap in(32, 32, bpp);
        for (int p = 0; p < 32 * 32; ++p) {
            const int grey = low + int(random() % uint32_t(high - low + 1));
            for (int c = 0; c < 3; ++c) in.bytes[size_t(p * bpp + c)] = static_cast<uint8_t>(base[c] + grey);
        }
        YuvFrame frame;
        AllocateFrame(frame, 32, 32, 16);
        const uint8_t* first = topDown ? in.Row(31) : in.bytes.data();
        const ptrdiff_t pitch = topDown ? -in.Pitch() : in.Pitch();
        ConvertRgbToYuv(first, frame, bpp, pitch);
        Bitmap out(32, 32, bpp);
        ConvertYuvToRgb(frame, topDown ? out.Row(31) : out.bytes.data(), bpp, pitch);
        for (int p = 0; p < 32 * 32; ++p) {
            for (int c = 0; c < 3; ++c) {
                const int error = std::abs(out.bytes[size_t(p * bpp + c)] - in.bytes[size_t(p * bpp + c)]);
                worst[c] = std::max(worst[c], error);
                ASSERT_LE(error, tolerance[c]) << "picture " << picture << " pixel " << p << " channel " << c;
            }
        }
    }
    // The bound is not vacuous: exact round trips would mean the test exercised nothing.
    EXPECT_GT(worst[0] + worst[1] + worst[2], 0);
}

}  // namespace
}  // namespace rq43
