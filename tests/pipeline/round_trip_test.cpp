// Host pictures in every input format and orientation, compressed and decompressed to every output
// format: the decoder must hold exactly the encoder's reconstruction, frame after frame, and write it
// the right way up.
#include <gtest/gtest.h>

#include <string>

#include "config/settings_store.h"
#include "host/moving_clip.h"
#include "picture/output_conversion.h"
#include "support/codec_session.h"
#include "support/scratch_registry.h"

namespace rq43::testing {
namespace {

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 48;
constexpr int kFrames = 30;

// What the decoder must write for `picture`: the converters' own output for the orientation the format
// calls for (YUY2 and UYVY top-down for either sign, RGB by the sign).
std::vector<uint8_t> ExpectedOutput(const YuvFrame& picture, HostFormat format, bool topDown) {
    const int bytes = BytesPerPixel(format);
    const ptrdiff_t pitch = ptrdiff_t(picture.width) * bytes;
    std::vector<uint8_t> out(size_t(pitch) * picture.height, 0);
    uint8_t* last = out.data() + pitch * (ptrdiff_t(picture.height) - 1);
    switch (format) {
        case HostFormat::Yuy2:
            ConvertYuvToYuy2(last, picture, -pitch);
            break;
        case HostFormat::Uyvy:
            ConvertYuvToUyvy(last, picture, -pitch);
            break;
        default:
            if (topDown)
                ConvertYuvToRgb(picture, last, bytes, -pitch);
            else
                ConvertYuvToRgb(picture, out.data(), bytes, pitch);
    }
    return out;
}

struct EncodedClip {
    std::vector<CompressedFrame> frames;
    std::vector<std::vector<uint8_t>> sources;                // the host pictures
    std::vector<uint64_t> reconstructions;                    // checksum of the encoder's picture per frame
    std::vector<std::vector<uint8_t>> expectedOutputs[4][2];  // per output format and orientation
    BITMAPINFOHEADER compressed{};
};

EncodedClip EncodeClip(HostFormat format, bool topDown, uintptr_t handle) {
    EncodedClip clip;
    EncoderSession encoder(handle, HostHeader(format, kWidth, kHeight, topDown));
    EXPECT_TRUE(encoder.Begun());
    clip.compressed = encoder.CompressedFormat();
    for (int i = 0; i < kFrames; ++i) {
        auto rgb = ClipFrameRgb(kWidth, kHeight, i, 6);
        clip.sources.push_back(LayOut(rgb, kWidth, kHeight, format, topDown));
        CompressedFrame frame;
        testing::CompressOptions options;
        options.flags = i == 17 ? ICCOMPRESS_KEYFRAME : 0;  // a key frame in mid-sequence too
        EXPECT_EQ(encoder.Compress(clip.sources.back(), i, &frame, options), ICERR_OK);
        clip.frames.push_back(frame);
        clip.reconstructions.push_back(testing::PictureChecksum(encoder.Reconstruction()));
        for (HostFormat out : kHostFormats)
            for (int down = 0; down < 2; ++down)
                clip.expectedOutputs[int(out)][down].push_back(
                    ExpectedOutput(encoder.Reconstruction(), out, down));
    }
    return clip;
}

class RoundTripTest : public ::testing::TestWithParam<std::tuple<HostFormat, bool>> {
  protected:
    testing::ScratchRegistry registry;
};

TEST_P(RoundTripTest, DecoderHoldsTheEncodersPictureInEveryOutputFormat) {
    const auto [format, topDown] = GetParam();
    const EncodedClip clip = EncodeClip(format, topDown, 0x7100);
    ASSERT_EQ(clip.frames.size(), size_t(kFrames));
    EXPECT_TRUE(clip.frames[0].key);
    EXPECT_TRUE(clip.frames[17].key);
    int deltas = 0;
    for (const auto& frame : clip.frames) deltas += frame.key ? 0 : 1;
    EXPECT_GT(deltas, kFrames / 2);  // a slow pan is coded mostly as delta frames

    for (HostFormat out : kHostFormats) {
        for (int down = 0; down < 2; ++down) {
            SCOPED_TRACE(std::string(HostFormatName(out)) + (down ? " top-down" : " bottom-up"));
            DecoderSession decoder(0x7200, clip.compressed, HostHeader(out, kWidth, kHeight, down));
            ASSERT_TRUE(decoder.Begun());
            std::vector<uint8_t> pixels(decoder.OutputBytes());
            for (int i = 0; i < kFrames; ++i) {
                ASSERT_EQ(decoder.Decompress(clip.frames[size_t(i)].bytes, pixels), ICERR_OK) << i;
                ASSERT_EQ(testing::PictureChecksum(decoder.Picture()), clip.reconstructions[size_t(i)]) << i;
                ASSERT_EQ(pixels, clip.expectedOutputs[int(out)][down][size_t(i)]) << i;
                // The right way up, and close to what went in.
                auto decoded = DisplayLuma(pixels.data(), kWidth, kHeight, out, down);
                auto source = DisplayLuma(clip.sources[size_t(i)].data(), kWidth, kHeight, format, topDown);
                EXPECT_LT(MeanAbsoluteDifference(decoded, source), 6.0) << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllInputs, RoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(kHostFormats), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(HostFormatName(std::get<0>(info.param))) +
                                    (std::get<1>(info.param) ? "TopDown" : "BottomUp");
                         });

TEST(RoundTripTest, Yuy2ComesBackInTheOrderItWentIn) {
    testing::ScratchRegistry registry;
    for (bool topDown : {false, true}) {
        EncoderSession encoder(0x7300, HostHeader(HostFormat::Yuy2, kWidth, kHeight, topDown));
        DecoderSession decoder(0x7301, encoder.CompressedFormat(),
                               HostHeader(HostFormat::Yuy2, kWidth, kHeight, topDown));
        auto source = LayOut(ClipFrameRgb(kWidth, kHeight, 0, 0), kWidth, kHeight, HostFormat::Yuy2, topDown);
        CompressedFrame frame;
        ASSERT_EQ(encoder.Compress(source, 0, &frame, {0, 0, 10000}), ICERR_OK);
        std::vector<uint8_t> pixels(decoder.OutputBytes());
        ASSERT_EQ(decoder.Decompress(frame.bytes, pixels), ICERR_OK);
        // Same memory order as the input: the first buffer row is the top row in both.
        double firstRows = 0;
        for (int x = 0; x < 2 * kWidth; x += 2)
            firstRows += std::abs(int(pixels[size_t(x)]) - int(source[size_t(x)]));
        EXPECT_LT(firstRows / kWidth, 6.0) << topDown;
    }
}

// Each setting on and off: whatever the encoder decides, the decoder ends up with its picture.
struct SettingCase {
    const char* name;
    CodecSettings settings;
};

class SettingRoundTripTest : public ::testing::TestWithParam<SettingCase> {
  protected:
    testing::ScratchRegistry registry;
};

TEST_P(SettingRoundTripTest, DecoderFollowsTheEncoderFrameByFrame) {
    SaveCodecSettings(GetParam().settings);
    constexpr int32_t w = 176, h = 144;
    EncoderSession encoder(0x7400, HostHeader(HostFormat::Rgb24, w, h, false));
    ASSERT_TRUE(encoder.Begun());
    DecoderSession decoder(0x7401, encoder.CompressedFormat(), HostHeader(HostFormat::Rgb32, w, h, true));
    std::vector<uint8_t> pixels(decoder.OutputBytes());
    int keys = 0;
    for (int i = 0; i < 32; ++i) {
        auto source = ClipPictureRgb24(w, h, i * 3, 10, 5);
        CompressedFrame frame;
        ASSERT_EQ(encoder.Compress(source, i, &frame, {0, i % 7 == 3 ? 1500u : 0u, 8000}), ICERR_OK) << i;
        keys += frame.key ? 1 : 0;
        ASSERT_EQ(decoder.Decompress(frame.bytes, pixels), ICERR_OK) << i;
        ASSERT_TRUE(testing::SamePicture(decoder.Picture(), encoder.Reconstruction())) << i;
    }
    EXPECT_LT(keys, 32);
}

CodecSettings With(void (*change)(CodecSettings&)) {
    CodecSettings s;
    s.strongCompression = 0;
    s.autoKeyInsert = 0;
    change(s);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    EachSetting, SettingRoundTripTest,
    ::testing::Values(SettingCase{"AllOff", With([](CodecSettings&) {})},
                      SettingCase{"FastSearch", With([](CodecSettings& s) { s.fastSearch = 1; })},
                      SettingCase{"SubBlockMotion", With([](CodecSettings& s) { s.subBlockMotion = 1; })},
                      SettingCase{"AutoKeyInsert", With([](CodecSettings& s) { s.autoKeyInsert = 1; })},
                      SettingCase{"StrongCompression",
                                  With([](CodecSettings& s) { s.strongCompression = 1; })},
                      SettingCase{"Prefilter", With([](CodecSettings& s) {
                                      s.prefilterStrength = 12;
                                      s.prefilterIterations = 3;
                                  })},
                      SettingCase{"Defaults", CodecSettings{}},
                      SettingCase{"AllOn", CodecSettings{1, 1, 1, 1, 8, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rq43::testing
