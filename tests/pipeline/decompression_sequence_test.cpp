// The decompression sequence as a host drives it: begin and size checks, skipped frames, the timing
// lines, and damaged frames that are refused without harm.
#include "pipeline/decompression_sequence.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <vector>

#include "host/moving_clip.h"
#include "pipeline/frame_header.h"
#include "platform/processor.h"
#include "support/codec_session.h"
#include "support/debug_capture.h"
#include "support/scratch_registry.h"

namespace rq43::testing {
namespace {

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 48;

struct Stream {
    BITMAPINFOHEADER format{};
    std::vector<CompressedFrame> frames;
    std::vector<uint64_t> pictures;  // the encoder's reconstruction of each frame
};

// Frame 0 and frame `keyAt` are key frames, the others delta frames of a slow pan.
Stream EncodeStream(int count, int keyAt) {
    Stream stream;
    EncoderSession encoder(0x9000, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    stream.format = encoder.CompressedFormat();
    for (int i = 0; i < count; ++i) {
        auto pixels = ClipPictureRgb24(kWidth, kHeight, i, 5);
        CompressedFrame frame;
        EXPECT_EQ(encoder.Compress(pixels, i, &frame, {i == keyAt ? ICCOMPRESS_KEYFRAME : 0u, 0, 8000}),
                  ICERR_OK);
        stream.frames.push_back(frame);
        stream.pictures.push_back(testing::PictureChecksum(encoder.Reconstruction()));
    }
    return stream;
}

class DecompressionSequenceTest : public ::testing::Test {
  protected:
    testing::ScratchRegistry registry;
    Stream stream = EncodeStream(8, 5);
};

TEST_F(DecompressionSequenceTest, FramesNeedABeginOfTheirSize) {
    testing::OpenInstance host(0x9001);
    BITMAPINFOHEADER input = stream.format;
    input.biSizeImage = DWORD(stream.frames[0].bytes.size());
    BITMAPINFOHEADER output = HostHeader(HostFormat::Rgb24, kWidth, kHeight, false);
    std::vector<uint8_t> pixels(kWidth * kHeight * 3);
    ICDECOMPRESS record{0, &input, stream.frames[0].bytes.data(), &output, pixels.data(), 0};
    EXPECT_EQ(host.Message(ICM_DECOMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);  // no Begin

    BITMAPINFOHEADER odd = HostHeader(HostFormat::Rgb24, kWidth, 40, false);
    EXPECT_EQ(host.Message(ICM_DECOMPRESS_BEGIN, Param(&input), Param(&odd)), ICERR_BADFORMAT);
    BITMAPINFOHEADER rgb16 = HostHeader(HostFormat::Rgb24, kWidth, kHeight, false);
    rgb16.biBitCount = 16;
    EXPECT_EQ(host.Message(ICM_DECOMPRESS_BEGIN, Param(&input), Param(&rgb16)), ICERR_BADFORMAT);
    BITMAPINFOHEADER wider = HostHeader(HostFormat::Rgb24, kWidth + 16, kHeight, false);
    EXPECT_EQ(host.Message(ICM_DECOMPRESS_BEGIN, Param(&input), Param(&wider)), ICERR_BADFORMAT);
    EXPECT_EQ(host.Message(ICM_DECOMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);

    ASSERT_EQ(host.Message(ICM_DECOMPRESS_BEGIN, Param(&input), Param(&output)), ICERR_OK);
    BITMAPINFOHEADER taller = HostHeader(HostFormat::Rgb24, kWidth, kHeight + 16, false);
    record.lpbiOutput = &taller;
    EXPECT_EQ(host.Message(ICM_DECOMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);
    BITMAPINFOHEADER deeper = HostHeader(HostFormat::Rgb32, kWidth, kHeight, false);
    record.lpbiOutput = &deeper;  // would write past a buffer sized for RGB24
    EXPECT_EQ(host.Message(ICM_DECOMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);
    BITMAPINFOHEADER flipped = HostHeader(HostFormat::Rgb24, kWidth, kHeight, true);
    record.lpbiOutput = &flipped;  // only the orientation may change from frame to frame
    EXPECT_EQ(host.Message(ICM_DECOMPRESS, Param(&record), sizeof record), ICERR_OK);
    EXPECT_EQ(host.Message(ICM_DECOMPRESS_END), ICERR_OK);
    EXPECT_EQ(host.Message(ICM_DECOMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);  // ended
}

TEST_F(DecompressionSequenceTest, SkippedFramesChangeNothing) {
    DecoderSession decoder(0x9002, stream.format, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    std::vector<uint8_t> pixels(decoder.OutputBytes());
    ASSERT_EQ(decoder.Decompress(stream.frames[0].bytes, pixels), ICERR_OK);
    std::vector<uint8_t> sentinel(pixels.size(), 0x3C);
    std::vector<uint8_t> untouched = sentinel;
    EXPECT_EQ(decoder.Decompress(stream.frames[1].bytes, untouched, ICDECOMPRESS_NULLFRAME), ICERR_OK);
    EXPECT_EQ(decoder.Decompress(stream.frames[1].bytes, untouched, ICDECOMPRESS_UPDATE), ICERR_OK);
    EXPECT_EQ(untouched, sentinel);
    ASSERT_EQ(decoder.Decompress(stream.frames[1].bytes, pixels, ICDECOMPRESS_HURRYUP), ICERR_OK);
    EXPECT_EQ(testing::PictureChecksum(decoder.Picture()), stream.pictures[1]);
}

// An empty chunk (biSizeImage 0) is a dropped frame: nothing of it is read, the host's picture stands and
// the next frame still decodes against the last one decoded.
TEST_F(DecompressionSequenceTest, AnEmptyChunkIsADroppedFrame) {
    DecoderSession decoder(0x9005, stream.format, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    std::vector<uint8_t> pixels(decoder.OutputBytes());
    ASSERT_EQ(decoder.Decompress(stream.frames[0].bytes, pixels), ICERR_OK);
    const std::vector<uint8_t> shown = pixels;
    // A whole frame behind the pointer must not be decoded, nor an empty allocation read.
    EXPECT_EQ(decoder.Decompress(stream.frames[1].bytes, pixels, 0, 0), ICERR_OK);
    EXPECT_EQ(decoder.Decompress(std::vector<uint8_t>(1, 0), pixels, 0, 0), ICERR_OK);
    EXPECT_EQ(pixels, shown);
    EXPECT_EQ(testing::PictureChecksum(decoder.Picture()), stream.pictures[0]);
    ASSERT_EQ(decoder.Decompress(stream.frames[1].bytes, pixels), ICERR_OK);
    EXPECT_EQ(testing::PictureChecksum(decoder.Picture()), stream.pictures[1]);
}

TEST_F(DecompressionSequenceTest, DecompressExWritesRgb32AfterAnExBegin) {
    testing::OpenInstance host(0x9003);
    BITMAPINFOHEADER input = stream.format;
    BITMAPINFOHEADER output = HostHeader(HostFormat::Rgb32, kWidth, kHeight, true);
    std::vector<uint8_t> pixels(kWidth * kHeight * 4, 0xEE);
    ICDECOMPRESSEX record{};
    record.lpbiSrc = &input;
    record.lpbiDst = &output;
    record.lpDst = pixels.data();
    ASSERT_EQ(host.Message(ICM_DECOMPRESSEX_BEGIN, Param(&record), sizeof record), ICERR_OK);
    for (size_t i = 0; i < 3; ++i) {
        input.biSizeImage = DWORD(stream.frames[i].bytes.size());
        record.lpSrc = stream.frames[i].bytes.data();
        ASSERT_EQ(host.Message(ICM_DECOMPRESSEX, Param(&record), sizeof record), ICERR_OK);
        const auto& codec = *reinterpret_cast<Codec*>(host.instance);
        EXPECT_EQ(testing::PictureChecksum(*codec.decompression.decPrevious), stream.pictures[i]);
    }
    for (size_t p = 3; p < pixels.size(); p += 4) ASSERT_EQ(pixels[p], 0xEE);  // fourth bytes left alone
    EXPECT_EQ(host.Message(ICM_DECOMPRESSEX_END), ICERR_OK);
}

uint64_t fakeCounter = 0;
uint64_t SteppingCounter() {
    return fakeCounter += 75000000;
}

TEST_F(DecompressionSequenceTest, EndReportsTheThreeStageTotals) {
    platform::OverrideTimeStampCounter(SteppingCounter);
    std::optional<testing::DebugCapture> report;
    {
        DecoderSession decoder(0x9004, stream.format, HostHeader(HostFormat::Uyvy, kWidth, kHeight, false));
        std::vector<uint8_t> pixels(decoder.OutputBytes());
        for (size_t i = 0; i < 4; ++i)
            ASSERT_EQ(decoder.Decompress(stream.frames[i].bytes, pixels), ICERR_OK);
        const DecoderTiming totals = DecoderTimingTotals();  // each stage: one step per frame
        EXPECT_EQ(totals.motion, 300000000u);
        EXPECT_EQ(totals.tokens, 300000000u);
        EXPECT_EQ(totals.yuv, 300000000u);
        report.emplace();
    }  // DecompressEnd
    platform::OverrideTimeStampCounter(nullptr);
    // Names right-aligned in 16 characters; 300,000,000 ticks make 200.
    EXPECT_EQ(report->Lines(),
              (std::vector<std::string>{" tDecMotionTotal : 200.0000\n", " tDecTokensTotal : 200.0000\n",
                                        "    tDecYUVTotal : 200.0000\n"}));
    // The next Begin starts the totals afresh.
    DecoderSession again(0x9005, stream.format, HostHeader(HostFormat::Uyvy, kWidth, kHeight, false));
    EXPECT_EQ(DecoderTimingTotals().tokens, 0u);
}

// A damaged chunk must be refused or decoded without reading or writing outside any buffer (the
// sanitizer build checks); a refused one leaves the output and the reference as they were, and the next
// key frame decodes exactly.
class DamagedFrameTest : public DecompressionSequenceTest {
  protected:
    DecoderSession decoder{0x9006, stream.format, HostHeader(HostFormat::Yuy2, kWidth, kHeight, false)};
    std::vector<uint8_t> pixels = std::vector<uint8_t>(decoder.OutputBytes());

    void StartAt(size_t frames) {
        for (size_t i = 0; i < frames; ++i)
            ASSERT_EQ(decoder.Decompress(stream.frames[i].bytes, pixels), ICERR_OK);
    }
    // Decodes a damaged frame; if refused, the output and the reference must be untouched.
    void Feed(const std::vector<uint8_t>& frame, int64_t chunkSize = -1) {
        const uint64_t before = testing::PictureChecksum(decoder.Picture());
        std::vector<uint8_t> output(pixels.size(), 0x77);
        const LRESULT result = decoder.Decompress(frame, output, 0, chunkSize);
        ASSERT_TRUE(result == ICERR_OK || result == ICERR_BADFORMAT) << result;
        if (result != ICERR_OK) {
            EXPECT_EQ(testing::PictureChecksum(decoder.Picture()), before);
            EXPECT_EQ(output, std::vector<uint8_t>(pixels.size(), 0x77));
        }
    }
    void ExpectKeyFrameRecovers() {
        ASSERT_EQ(decoder.Decompress(stream.frames[5].bytes, pixels), ICERR_OK);
        EXPECT_EQ(testing::PictureChecksum(decoder.Picture()), stream.pictures[5]);
        ASSERT_EQ(decoder.Decompress(stream.frames[6].bytes, pixels), ICERR_OK);
        EXPECT_EQ(testing::PictureChecksum(decoder.Picture()), stream.pictures[6]);
    }
};

TEST_F(DamagedFrameTest, TruncatedChunksAreRefusedAndTheStreamGoesOn) {
    StartAt(2);
    for (size_t frame : {size_t(0), size_t(2)}) {
        const auto& bytes = stream.frames[frame].bytes;
        for (size_t length :
             {size_t(0), size_t(7), size_t(8), size_t(20), bytes.size() / 2, bytes.size() - 1})
            Feed(std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(length)));
    }
    // Nothing was taken from the refused frames: frame 2 still decodes from frame 1.
    ASSERT_EQ(decoder.Decompress(stream.frames[2].bytes, pixels), ICERR_OK);
    EXPECT_EQ(testing::PictureChecksum(decoder.Picture()), stream.pictures[2]);
    ExpectKeyFrameRecovers();
}

TEST_F(DamagedFrameTest, LyingLengthsAreRefused) {
    StartAt(2);
    auto lie = [&](size_t frame, uint8_t key, uint16_t motion, uint32_t tokens) {
        std::vector<uint8_t> bytes = stream.frames[frame].bytes;
        FrameHeader header = ReadFrameHeader(bytes.data());
        header.keyFrame = key;
        header.motionSize = motion;
        header.tokenSize = tokens;
        WriteFrameHeader(header, bytes.data());
        Feed(bytes);
    };
    const FrameHeader delta = ReadFrameHeader(stream.frames[2].bytes.data());
    const uint32_t size = uint32_t(stream.frames[2].bytes.size());
    lie(2, 0, delta.motionSize, delta.tokenSize + 1);
    lie(2, 0, uint16_t(delta.motionSize + 1), delta.tokenSize);
    lie(2, 0, uint16_t(delta.motionSize - 1), delta.tokenSize + 1);
    lie(2, 0, 0, size - 8);
    lie(2, 0, uint16_t(size - 8), 0);
    lie(2, 1, 0, size - 8);
    lie(2, 3, delta.motionSize, delta.tokenSize);
    lie(2, 0, 0xFFFF, 0xFFFFFFFF);
    lie(0, 0, 0, uint32_t(stream.frames[0].bytes.size() - 8));  // a key frame's body read as a delta frame
    // The chunk size the host reports is believed over the bytes in the header.
    Feed(stream.frames[2].bytes, int64_t(size) - 1);
    ExpectKeyFrameRecovers();
}

TEST_F(DamagedFrameTest, FlippedBitsNeverReachOutsideABuffer) {
    StartAt(2);
    std::mt19937 random(7);
    for (size_t frame : {size_t(0), size_t(2), size_t(3)}) {
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<uint8_t> bytes = stream.frames[frame].bytes;
            const int flips = 1 + trial % 4;
            for (int f = 0; f < flips; ++f) {
                // Mostly the section headers and streams' starts, where damage does most harm.
                const size_t span = trial % 2 ? std::min<size_t>(bytes.size(), 64) : bytes.size();
                bytes[random() % span] ^= uint8_t(1u << (random() % 8));
            }
            Feed(bytes);
        }
    }
    ExpectKeyFrameRecovers();
}

TEST_F(DamagedFrameTest, RandomBodiesBehindPlausibleHeaders) {
    StartAt(2);
    std::mt19937 random(11);
    for (int trial = 0; trial < 80; ++trial) {
        std::vector<uint8_t> bytes(8 + 24 + random() % 600);
        for (auto& byte : bytes) byte = uint8_t(random());
        FrameHeader header;
        header.quality = uint8_t(random() % 101);
        header.keyFrame = uint8_t(trial % 2);
        header.motionSize = header.keyFrame ? uint16_t{0} : uint16_t(random() % (bytes.size() - 8));
        header.tokenSize = uint32_t(bytes.size() - 8 - header.motionSize);
        WriteFrameHeader(header, bytes.data());
        // Token sections that at least name the sizes they hold.
        uint8_t* tokens = bytes.data() + 8 + header.motionSize;
        if (header.tokenSize >= 24) {
            tokens[0] = tokens[1] = tokens[2] = tokens[3] = 0;
            tokens[23] = header.keyFrame;
        }
        Feed(bytes);
    }
    ExpectKeyFrameRecovers();
}

}  // namespace
}  // namespace rq43::testing
