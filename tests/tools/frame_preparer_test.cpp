#include "tools/frame_preparer.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <algorithm>
#include <memory>

#include "tools/cli_errors.h"

namespace rq43::cli {
namespace {

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

// A yuv420p picture whose luma is x + 10·y (distinct everywhere) and chroma 100 + x / 200 - y.
std::unique_ptr<AVFrame, FrameDeleter> Source(int width, int height) {
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(16 + x + 10 * y);
    for (int y = 0; y < (height + 1) / 2; ++y)
        for (int x = 0; x < (width + 1) / 2; ++x) {
            frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(100 + x);
            frame->data[2][y * frame->linesize[2] + x] = static_cast<uint8_t>(200 - y);
        }
    return frame;
}

uint8_t Luma(const std::vector<uint8_t>& uyvy, int width, int x, int y) {
    return uyvy[static_cast<size_t>(y) * 2 * static_cast<size_t>(width) + 2 * static_cast<size_t>(x) + 1];
}

TEST(FramePreparer, PadsByRepeatingTheEdgesInEveryFormat) {
    auto source = Source(21, 13);  // odd on both axes
    for (HostFormat format : {HostFormat::Rgb24, HostFormat::Rgb32, HostFormat::Yuy2, HostFormat::Uyvy}) {
        FramePreparer preparer(21, 13, format, FitMode::Pad);
        ASSERT_EQ(preparer.Width(), 32);
        ASSERT_EQ(preparer.Height(), 16);
        EXPECT_TRUE(preparer.Resized());
        // A recycled picture still holding an earlier one comes out the same: every byte is written.
        std::vector<uint8_t> host(HostPictureBytes(format, 32, 16)), recycled(host.size(), 0xA5);
        preparer.Prepare(*source, host.data(), nullptr);
        preparer.Prepare(*source, recycled.data(), nullptr);
        EXPECT_EQ(recycled, host);
        const size_t bpp = static_cast<size_t>(BytesPerPixel(format)), pitch = 32 * bpp;
        auto pixel = [&](int x, int y) {
            return std::vector<uint8_t>(&host[y * pitch + x * bpp], &host[y * pitch + (x + 1) * bpp]);
        };
        if (format == HostFormat::Rgb24 || format == HostFormat::Rgb32) {
            for (int y = 0; y < 16; ++y)
                for (int x = 21; x < 32; ++x)
                    EXPECT_EQ(pixel(x, y), pixel(20, std::min(y, 12))) << x << "," << y;
            for (int x = 0; x < 21; ++x) EXPECT_EQ(pixel(x, 15), pixel(x, 12)) << x;
        } else {
            const size_t luma = format == HostFormat::Uyvy ? 1 : 0;
            for (int y = 0; y < 16; ++y) {
                const uint8_t* row = &host[y * pitch];
                const uint8_t* edge = &host[std::min(y, 12) * pitch];
                for (int x = 21; x < 32; ++x)
                    EXPECT_EQ(row[2 * x + luma], edge[2 * 20 + luma]) << x << "," << y;
                for (int pair = 11; pair < 16; ++pair)  // chroma of the pair holding the last column
                    for (size_t c = 1 - luma; c < 4; c += 2) EXPECT_EQ(row[4 * pair + c], edge[4 * 10 + c]);
            }
        }
    }
    // Inside the visible area the luma is the source's exactly.
    FramePreparer preparer(21, 13, HostFormat::Uyvy, FitMode::Pad);
    std::vector<uint8_t> host(HostPictureBytes(HostFormat::Uyvy, 32, 16));
    preparer.Prepare(*source, host.data(), nullptr);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 21; ++x) EXPECT_EQ(Luma(host, 32, x, y), 16 + x + 10 * y);
}

// Whole rows are converted straight into the host picture: the conversion must stay inside it, and the
// rows below still repeat the last one.
TEST(FramePreparer, WholeRowsConvertInPlaceWithinThePicture) {
    auto source = Source(32, 13);
    for (HostFormat format : {HostFormat::Rgb24, HostFormat::Rgb32, HostFormat::Yuy2, HostFormat::Uyvy}) {
        FramePreparer preparer(32, 13, format, FitMode::Pad);
        const size_t bytes = HostPictureBytes(format, 32, 16), pitch = bytes / 16;
        std::vector<uint8_t> host(bytes + 64, 0xA5);
        preparer.Prepare(*source, host.data(), nullptr);
        EXPECT_EQ(std::vector<uint8_t>(host.begin() + static_cast<ptrdiff_t>(bytes), host.end()),
                  std::vector<uint8_t>(64, 0xA5));
        for (size_t row = 13; row < 16; ++row)
            EXPECT_TRUE(std::equal(&host[row * pitch], &host[(row + 1) * pitch], &host[12 * pitch])) << row;
        if (format != HostFormat::Uyvy) continue;
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 32; ++x) EXPECT_EQ(Luma(host, 32, x, y), 16 + x + 10 * y);
    }
}

TEST(FramePreparer, CropsTheCentreAtEvenOffsets) {
    auto source = Source(40, 37);
    FramePreparer preparer(40, 37, HostFormat::Uyvy, FitMode::Crop);
    ASSERT_EQ(preparer.Width(), 32);
    ASSERT_EQ(preparer.Height(), 32);
    std::vector<uint8_t> host(HostPictureBytes(HostFormat::Uyvy, 32, 32));
    Picture420 reference;
    preparer.Prepare(*source, host.data(), &reference);
    // (40 - 32) / 2 = 4 columns and (37 - 32) / 2 = 2 rows (even) are cut from the left and top.
    EXPECT_EQ(Luma(host, 32, 0, 0), 16 + 4 + 10 * 2);
    EXPECT_EQ(Luma(host, 32, 31, 31), static_cast<uint8_t>(16 + 35 + 10 * 33));
    ASSERT_EQ(reference.width, 32);
    EXPECT_EQ(reference.y[0], 16 + 4 + 20);
    EXPECT_EQ(reference.u[0], 100 + 2);
    EXPECT_EQ(reference.v[0], 200 - 1);
    EXPECT_THROW(FramePreparer(15, 40, HostFormat::Uyvy, FitMode::Crop), Failure);
}

TEST(FramePreparer, ReferenceIsTheVisibleSourceUnpadded) {
    auto source = Source(21, 13);
    FramePreparer preparer(21, 13, HostFormat::Rgb24, FitMode::Pad);
    std::vector<uint8_t> host(HostPictureBytes(HostFormat::Rgb24, 32, 16));
    Picture420 reference;
    preparer.Prepare(*source, host.data(), &reference);
    ASSERT_EQ(reference.width, 21);
    ASSERT_EQ(reference.height, 13);
    ASSERT_EQ(reference.u.size(), 11u * 7u);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 21; ++x) ASSERT_EQ(reference.y[y * 21 + x], 16 + x + 10 * y);
    EXPECT_EQ(reference.u[10], 110);
    EXPECT_EQ(reference.v[6 * 11], 194);
}

TEST(HostFormat, UyvyChromaComesFromEveryOtherRow) {
    // UYVY whose chroma differs on odd rows: those repeat the row above in the codec's output. 4 wide, and
    // 70 wide for the vector kernels' whole steps and a tail.
    for (int width : {4, 70}) {
        const int pairs = width / 2;
        std::vector<uint8_t> uyvy(static_cast<size_t>(width) * 4 * 2);
        for (int y = 0; y < 4; ++y)
            for (int pair = 0; pair < pairs; ++pair) {
                uint8_t* p = &uyvy[static_cast<size_t>((y * pairs + pair) * 4)];
                p[0] = static_cast<uint8_t>(10 * y + pair);  // U
                p[1] = static_cast<uint8_t>(100 + y + 2 * pair);
                p[2] = static_cast<uint8_t>(50 + 10 * y + pair);  // V
                p[3] = static_cast<uint8_t>(101 + y + 2 * pair);
            }
        Picture420 picture;
        UyvyToPicture420(uyvy.data(), width, 4, picture);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(picture.y[static_cast<size_t>(y * width + x)], 100 + y + x);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < pairs; ++x) {
                ASSERT_EQ(picture.u[static_cast<size_t>(y * pairs + x)], 20 * y + x);
                ASSERT_EQ(picture.v[static_cast<size_t>(y * pairs + x)], 50 + 20 * y + x);
            }
        // A recycled picture may be one moved from: it keeps its size but not its planes.
        Picture420 moved = std::move(picture);
        UyvyToPicture420(uyvy.data(), width, 4, picture);
        EXPECT_EQ(picture.y, moved.y);
        EXPECT_EQ(picture.v, moved.v);
    }
}

TEST(HostFormat, UyvyOfOddWidthStaysInsideItsRows) {
    // 3x2: the last pixel of a row has a U and no V; the picture's is taken from its neighbour, not from
    // the byte after the row (past the buffer's end on the last row).
    const std::vector<uint8_t> uyvy = {10, 100, 50, 101, 11, 102, /* next row */ 20, 103, 60, 104, 21, 105};
    Picture420 picture;
    UyvyToPicture420(uyvy.data(), 3, 2, picture);
    EXPECT_EQ(picture.y, (std::vector<uint8_t>{100, 101, 102, 103, 104, 105}));
    EXPECT_EQ(picture.u, (std::vector<uint8_t>{10, 11}));
    EXPECT_EQ(picture.v, (std::vector<uint8_t>{50, 50}));
}

TEST(HostFormat, HeadersSayTopRowFirst) {
    // RGB input is top-first only with a negative height; packed 4:2:2 input is read bottom-up anyway.
    EXPECT_EQ(CompressorInputHeader(HostFormat::Rgb24, 32, 16).biHeight, -16);
    EXPECT_EQ(CompressorInputHeader(HostFormat::Uyvy, 32, 16).biHeight, 16);
    EXPECT_EQ(CompressorInputHeader(HostFormat::Yuy2, 32, 16).biCompression, FOURCC_YUY2);
    for (HostFormat f : {HostFormat::Rgb24, HostFormat::Rgb32, HostFormat::Yuy2, HostFormat::Uyvy}) {
        BITMAPINFOHEADER h = DecompressorOutputHeader(f, 32, 16);
        EXPECT_EQ(h.biHeight, -16);
        EXPECT_EQ(h.biSizeImage, HostPictureBytes(f, 32, 16));
        EXPECT_EQ(h.biBitCount, 8 * BytesPerPixel(f));
    }
}

}  // namespace
}  // namespace rq43::cli
