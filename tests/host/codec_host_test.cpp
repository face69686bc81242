#include "host/codec_host.h"

#include <gtest/gtest.h>

#include <cstring>

namespace rq43 {
namespace {

// A compressor that fills the whole buffer it is given and reports `reportedBytes` of it as the frame,
// which a faulty driver may put beyond the bound it gave.
constexpr LRESULT kBound = 64;
DWORD reportedBytes = 0;
uint8_t frameFill = 0;

LRESULT ClaimingDriver(DWORD_PTR, HDRVR, UINT message, LPARAM p1, LPARAM p2) {
    switch (message) {
        case DRV_OPEN:
            return 1;
        case ICM_COMPRESS_GET_FORMAT:
            if (p2 != 0) *reinterpret_cast<BITMAPINFOHEADER*>(p2) = *reinterpret_cast<BITMAPINFOHEADER*>(p1);
            return p2 == 0 ? LRESULT{sizeof(BITMAPINFOHEADER)} : ICERR_OK;
        case ICM_COMPRESS_GET_SIZE:
            return kBound;
        case ICM_COMPRESS: {
            auto* record = reinterpret_cast<ICCOMPRESS*>(p1);
            std::memset(record->lpOutput, frameFill, record->lpbiOutput->biSizeImage);
            record->lpbiOutput->biSizeImage = reportedBytes;
            *record->lpdwFlags = AVIIF_KEYFRAME;
            return ICERR_OK;
        }
        default:
            return ICERR_OK;
    }
}

TEST(EncoderSessionTest, FramesComeOutAtTheirOwnLengthAndNeverPastTheBound) {
    BITMAPINFOHEADER input{};
    input.biSize = sizeof input;
    input.biWidth = 16;
    input.biHeight = 16;
    EncoderSession session(FreshDriverHandle(), input, &ClaimingDriver);
    ASSERT_EQ(session.bound, kBound);
    CompressedFrame frame;
    reportedBytes = kBound;
    frameFill = 1;
    ASSERT_EQ(session.Compress(nullptr, 0, &frame), ICERR_OK);
    EXPECT_EQ(frame.bytes, std::vector<uint8_t>(kBound, 1));
    EXPECT_TRUE(frame.key);

    // The buffer is the session's for every frame: a shorter frame after a longer one is only its own bytes.
    reportedBytes = 10;
    frameFill = 2;
    ASSERT_EQ(session.Compress(nullptr, 1, &frame), ICERR_OK);
    EXPECT_EQ(frame.bytes, std::vector<uint8_t>(10, 2));

    reportedBytes = kBound + 1;
    EXPECT_EQ(session.Compress(nullptr, 2, &frame), ICERR_BADSIZE);
    EXPECT_EQ(frame.bytes, std::vector<uint8_t>(10, 2));  // untouched
}

}  // namespace
}  // namespace rq43
