#include <gtest/gtest.h>

#include <string>

extern "C" {
#include <libavcodec/codec_par.h>
}

#include "tools/cli_errors.h"
#include "tools/picture_limits.h"
#include "tools/stream_check.h"
#include "tools/video_input.h"

namespace rq43::cli {
namespace {

void CheckHeader(const std::string& text) {
    CheckY4mHeader(reinterpret_cast<const uint8_t*>(text.data()), text.size(), "in");
}

TEST(Y4mHeaderCheck, PassesWhatTheCodecCanTakeAndOtherData) {
    EXPECT_NO_THROW(
        CheckHeader("YUV4MPEG2 W176 H144 F30000:1001 It A1:1 C420mpeg2 XYSCSS=420MPEG2\nFRAME\n"));
    EXPECT_NO_THROW(CheckHeader("RIFF....AVI LIST"));
    EXPECT_NO_THROW(CheckHeader("YUV4MPEG2 W16 H16 F2147483647:1\n"));
}

TEST(Y4mHeaderCheck, RefusesRatesAndSizesBeforeAnythingIsSizedByThem) {
    for (const char* text :
         {"YUV4MPEG2 W16 H16 F1:4294967295\n", "YUV4MPEG2 W16 H16 F4294967295:1\n",
          "YUV4MPEG2 W16 H16 F25:0\n", "YUV4MPEG2 W16 H16 F99999999999999999999:1\n",
          "YUV4MPEG2 W16 H16 F25\n", "YUV4MPEG2 W0 H16\n", "YUV4MPEG2 W-16 H16\n", "YUV4MPEG2 W16x H16\n",
          "YUV4MPEG2 W32768 H32768 C444\n", "YUV4MPEG2 W65536 H16\n", "YUV4MPEG2 W16\n"}) {
        EXPECT_THROW(CheckHeader(text), Failure) << text;
    }
}

TEST(PictureLimits, PaddingCountsAndTheLimitIsSaid) {
    EXPECT_NO_THROW(CheckPictureSize(16384, 16384, "in"));
    EXPECT_NO_THROW(CheckPictureSize(65520, 8192, "in"));
    EXPECT_THROW(CheckPictureSize(65521, 16, "in"), Failure);  // 65536 after padding: no 16-bit side holds it
    try {
        CheckPictureSize(32768, 16385, "in");  // 16385 pads to 16400
        FAIL();
    } catch (const Failure& e) {
        EXPECT_NE(std::string(e.what()).find("at most 536870909 pixels"), std::string::npos) << e.what();
    }
    EXPECT_THROW(CheckFrameRate(3, 4294967294u, "in"), Failure);
    EXPECT_NO_THROW(CheckFrameRate(4294967294u, 2, "in"));  // 2147483647:1 once reduced
}

TEST(Rq43StreamFormat, TakesOnlyWhatTheCodecCouldHaveWritten) {
    AVCodecParameters* p = avcodec_parameters_alloc();
    p->codec_tag = FOURCC_RQ43;
    p->width = 176;
    p->height = -144;  // a top-down header: the codec's frames are the same
    BITMAPINFOHEADER format = Rq43StreamFormat(*p, "in");
    EXPECT_EQ(format.biWidth, 176);
    EXPECT_EQ(format.biHeight, 144);
    EXPECT_EQ(format.biBitCount, 24);
    for (auto [w, h] : {std::pair{170, 144}, std::pair{0, 144}, std::pair{176, 0}, std::pair{65536, 16},
                        std::pair{32768, 32768}}) {
        p->width = w;
        p->height = h;
        EXPECT_THROW(Rq43StreamFormat(*p, "in"), Failure) << w << "x" << h;
    }
    p->width = 176;
    p->height = 144;
    p->codec_tag = 0;
    EXPECT_THROW(Rq43StreamFormat(*p, "in"), Failure);
    avcodec_parameters_free(&p);
}

TEST(KeyFlag, ComesFromTheFramesOwnWellFormedHeader) {
    EXPECT_FALSE(IsKeyFrame(nullptr, 0));
    const uint8_t shortFrame[2] = {70, 1};
    EXPECT_FALSE(IsKeyFrame(shortFrame, sizeof shortFrame));
}

}  // namespace
}  // namespace rq43::cli
