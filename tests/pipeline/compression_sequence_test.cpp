// The compression sequence as a host drives it: begin checks, key-frame flags, status calls, the rate
// control against targets, and output that does not depend on the number of workers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <vector>

// A sanitizer reserves its shadow memory up front: capping the address space would starve it, not the codec.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RQ43_SHADOW_MEMORY 1
#endif
#endif
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && \
    !defined(RQ43_SHADOW_MEMORY)
#define RQ43_ADDRESS_SPACE_CAP 1
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "config/settings_store.h"
#include "host/moving_clip.h"
#include "pipeline/frame_header.h"
#include "platform/processor.h"
#include "support/codec_session.h"
#include "support/scratch_registry.h"

namespace rq43::testing {
namespace {

constexpr int32_t kWidth = 176;
constexpr int32_t kHeight = 144;

std::vector<uint8_t> Picture(int index, uint32_t seed = 3, int32_t w = kWidth, int32_t h = kHeight) {
    return ClipPictureRgb24(w, h, index, 8, seed);
}

struct StatusCall {
    LPARAM param;
    UINT message;
    LONG value;
};
std::vector<StatusCall> statusCalls;
LONG RQ43_CALLBACK RecordStatus(LPARAM param, UINT message, LONG value) {
    statusCalls.push_back({param, message, value});
    return 1;  // asks to stop; the encoder must not care
}

void SetStatus(EncoderSession& encoder) {
    ICSETSTATUSPROC status{0, 0x5157, RecordStatus};
    encoder.host.Message(ICM_SET_STATUS_PROC, Param(&status), sizeof status);
    statusCalls.clear();
}

int Attempts() {
    int attempts = 0;
    for (const auto& call : statusCalls) attempts += call.message == ICSTATUS_STATUS && call.value == 60;
    return attempts;
}

class CompressionSequenceTest : public ::testing::Test {
  protected:
    testing::ScratchRegistry registry;
};

TEST_F(CompressionSequenceTest, RefusesPicturesItWasNotBegunFor) {
    testing::OpenInstance host(0x8001);
    auto pixels = Picture(0, 3, 64, 48);
    BITMAPINFOHEADER input = HostHeader(HostFormat::Rgb24, 64, 48, false);
    BITMAPINFOHEADER output{};
    host.Message(ICM_COMPRESS_GET_FORMAT, Param(&input), Param(&output));
    std::vector<uint8_t> buffer(64 * 48 * 4 + 8);
    DWORD flags = 0;
    ICCOMPRESS record{0, &output, buffer.data(), &input,  pixels.data(), nullptr, &flags,
                      0, 0,       7500,          nullptr, nullptr};
    EXPECT_EQ(host.Message(ICM_COMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);  // no Begin

    BITMAPINFOHEADER odd = HostHeader(HostFormat::Rgb24, 72, 48, false);
    EXPECT_EQ(host.Message(ICM_COMPRESS_BEGIN, Param(&odd), Param(&output)), ICERR_BADFORMAT);
    BITMAPINFOHEADER rgb16 = HostHeader(HostFormat::Rgb24, 64, 48, false);
    rgb16.biBitCount = 16;
    EXPECT_EQ(host.Message(ICM_COMPRESS_BEGIN, Param(&rgb16), Param(&output)), ICERR_BADFORMAT);
    EXPECT_EQ(host.Message(ICM_COMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);

    ASSERT_EQ(host.Message(ICM_COMPRESS_BEGIN, Param(&input), Param(&output)), ICERR_OK);
    BITMAPINFOHEADER smaller = HostHeader(HostFormat::Rgb24, 64, 32, false);
    record.lpbiInput = &smaller;
    EXPECT_EQ(host.Message(ICM_COMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);
    BITMAPINFOHEADER deeper = HostHeader(HostFormat::Rgb32, 64, 48, false);
    record.lpbiInput = &deeper;
    EXPECT_EQ(host.Message(ICM_COMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);
    record.lpbiInput = &input;
    EXPECT_EQ(host.Message(ICM_COMPRESS, Param(&record), sizeof record), ICERR_OK);
    EXPECT_EQ(host.Message(ICM_COMPRESS_END), ICERR_OK);
    EXPECT_EQ(host.Message(ICM_COMPRESS, Param(&record), sizeof record), ICERR_BADFORMAT);  // ended
}

TEST_F(CompressionSequenceTest, FramesCarryTheirLayoutAndKeyFlag) {
    EncoderSession encoder(0x8002, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    CompressedFrame key, delta, forced;
    ASSERT_EQ(encoder.Compress(Picture(0), 0, &key), ICERR_OK);
    ASSERT_EQ(encoder.Compress(Picture(1), 1, &delta), ICERR_OK);
    ASSERT_EQ(encoder.Compress(Picture(2), 2, &forced, {ICCOMPRESS_KEYFRAME}), ICERR_OK);

    FrameHeader header = ReadFrameHeader(key.bytes.data());
    EXPECT_TRUE(key.key);
    EXPECT_EQ(header.keyFrame, 1);
    EXPECT_EQ(header.motionSize, 0);
    EXPECT_EQ(key.bytes.size(), 8 + header.tokenSize);
    EXPECT_EQ(header.quality, key.bytes[8 + 22]);  // the token section's own copy
    EXPECT_EQ(key.bytes[8 + 23], 1);

    header = ReadFrameHeader(delta.bytes.data());
    EXPECT_FALSE(delta.key);
    EXPECT_EQ(header.keyFrame, 0);
    EXPECT_GT(header.motionSize, 0);
    EXPECT_EQ(delta.bytes.size(), 8u + header.motionSize + header.tokenSize);
    EXPECT_EQ(delta.bytes[8 + header.motionSize + 23], 0);

    EXPECT_TRUE(forced.key);
    EXPECT_EQ(ReadFrameHeader(forced.bytes.data()).keyFrame, 1);
}

TEST_F(CompressionSequenceTest, NoTargetCodesEachFrameOnceAtTheCarriedQuality) {
    EncoderSession encoder(0x8003, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    DWORD quality = 6000;
    encoder.host.Message(ICM_SETQUALITY, Param(&quality));
    encoder.host.Message(ICM_COMPRESS_BEGIN, Param(&encoder.input), Param(&encoder.output));  // starts at 60
    SetStatus(encoder);
    for (int i = 0; i < 3; ++i) {
        CompressedFrame frame;
        ASSERT_EQ(encoder.Compress(Picture(i), i, &frame, {0, 0, 9000}), ICERR_OK);
        EXPECT_EQ(frame.bytes[0], 60) << i;
    }
    EXPECT_EQ(Attempts(), 3);
    DWORD reported = 0;
    encoder.host.Message(ICM_GETQUALITY, Param(&reported));
    EXPECT_EQ(reported, 9000u);  // the last frame's dwQuality / 100
    ASSERT_EQ(encoder.Compress(Picture(3), 3, nullptr, {0, 0, 0xFFFFFFFF}), ICERR_OK);
    encoder.host.Message(ICM_GETQUALITY, Param(&reported));
    EXPECT_EQ(reported, 4000u);  // the "default" quality: low byte of 42949672
}

TEST_F(CompressionSequenceTest, StatusCallsComeInOrderAndAnswersAreIgnored) {
    EncoderSession encoder(0x8004, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    SetStatus(encoder);
    CompressedFrame frame;
    ASSERT_EQ(encoder.Compress(Picture(0), 0, &frame, {0, 600, 9000}),
              ICERR_OK);  // far below: several attempts
    ASSERT_GE(statusCalls.size(), 4u);
    EXPECT_EQ(statusCalls.front().message, ICSTATUS_START);
    EXPECT_EQ(statusCalls.back().message, ICSTATUS_END);
    EXPECT_EQ(statusCalls[statusCalls.size() - 2].value, 90);
    for (size_t i = 1; i + 2 < statusCalls.size(); ++i) {
        EXPECT_EQ(statusCalls[i].message, ICSTATUS_STATUS);
        EXPECT_EQ(statusCalls[i].value, 60);
    }
    for (const auto& call : statusCalls) EXPECT_EQ(call.param, 0x5157);
    EXPECT_GT(Attempts(), 1);
}

TEST_F(CompressionSequenceTest, WithoutAutoKeyInsertOnlyForcedFramesAreKeyFrames) {
    CodecSettings settings;
    settings.autoKeyInsert = 0;
    SaveCodecSettings(settings);
    EncoderSession encoder(0x8005, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    CompressedFrame frame;
    ASSERT_EQ(encoder.Compress(Picture(0, 3), 0, &frame), ICERR_OK);
    EXPECT_TRUE(frame.key);
    for (int i = 1; i < 4; ++i) {  // scene cuts: a new texture every frame
        ASSERT_EQ(encoder.Compress(Picture(i, 40 + uint32_t(i)), i, &frame), ICERR_OK);
        EXPECT_FALSE(frame.key) << i;
    }
}

// A host that hands back the same flags word every frame (as the manager's sequence calls do) still gets
// delta frames: the word reports the frame's kind and is cleared for delta frames.
TEST_F(CompressionSequenceTest, ReusedIndexFlagsWordIsNotAKeyFrameRequest) {
    EncoderSession encoder(0x8012, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    ASSERT_TRUE(encoder.Begun());
    BITMAPINFOHEADER input = encoder.input, output = encoder.output;
    std::vector<uint8_t> buffer(size_t(kWidth) * kHeight * 4 + 8);
    DWORD flags = 0;
    for (LONG i = 0; i < 4; ++i) {
        auto picture = Picture(i);
        ICCOMPRESS record{0, &output, buffer.data(), &input,  picture.data(), nullptr, &flags,
                          i, 0,       7500,          nullptr, nullptr};
        ASSERT_EQ(encoder.host.Message(ICM_COMPRESS, Param(&record), sizeof record), ICERR_OK);
        EXPECT_EQ((flags & AVIIF_KEYFRAME) != 0, i == 0) << i;
        EXPECT_EQ(buffer[1], i == 0 ? 1 : 0) << i;  // the frame header's key flag agrees
    }
}

TEST_F(CompressionSequenceTest, WithAutoKeyInsertASceneCutBecomesAKeyFrame) {
    EncoderSession encoder(0x8006, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    CompressedFrame frame;
    ASSERT_EQ(encoder.Compress(Picture(0, 3), 0, &frame), ICERR_OK);
    ASSERT_EQ(encoder.Compress(Picture(1, 3), 1, &frame), ICERR_OK);
    EXPECT_FALSE(frame.key);
    ASSERT_EQ(encoder.Compress(Picture(2, 77), 2, &frame), ICERR_OK);
    EXPECT_TRUE(frame.key);
}

TEST_F(CompressionSequenceTest, SettingsAreReloadedAtEveryBeginAndEditsApplyFromTheNextFrame) {
    EncoderSession encoder(0x8010, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    Codec& codec = encoder.Instance();
    EXPECT_EQ(codec.settings.strongCompression, 1);  // the store's default, not the instance's initial 0
    CodecSettings stored;
    stored.autoKeyInsert = 0;
    stored.prefilterStrength = 5;
    SaveCodecSettings(stored);
    EXPECT_EQ(codec.settings.autoKeyInsert, 1);  // nothing changes until the next Begin
    ASSERT_EQ(encoder.host.Message(ICM_COMPRESS_BEGIN, Param(&encoder.input), Param(&encoder.output)),
              ICERR_OK);
    EXPECT_EQ(codec.settings.autoKeyInsert, 0);
    EXPECT_EQ(codec.settings.prefilterStrength, 5);

    CompressedFrame frame;
    ASSERT_EQ(encoder.Compress(Picture(0, 3), 0, &frame), ICERR_OK);
    ASSERT_EQ(encoder.Compress(Picture(1, 60), 1, &frame), ICERR_OK);
    EXPECT_FALSE(frame.key);           // a scene cut, but automatic key frames are off
    codec.settings.autoKeyInsert = 1;  // as the Configure dialog edits it during a sequence
    ASSERT_EQ(encoder.Compress(Picture(2, 61), 2, &frame), ICERR_OK);
    EXPECT_TRUE(frame.key);
}

TEST_F(CompressionSequenceTest, TopDownAndBottomUpPicturesGiveTheSameFrames) {
    EncoderSession up(0x8007, HostHeader(HostFormat::Rgb32, kWidth, kHeight, false));
    EncoderSession down(0x8008, HostHeader(HostFormat::Rgb32, kWidth, kHeight, true));
    for (int i = 0; i < 3; ++i) {
        auto rgb = ClipFrameRgb(kWidth, kHeight, i, 8);
        CompressedFrame a, b;
        ASSERT_EQ(up.Compress(LayOut(rgb, kWidth, kHeight, HostFormat::Rgb32, false), i, &a), ICERR_OK);
        ASSERT_EQ(down.Compress(LayOut(rgb, kWidth, kHeight, HostFormat::Rgb32, true), i, &b), ICERR_OK);
        EXPECT_EQ(a.bytes, b.bytes) << i;
    }
}

TEST_F(CompressionSequenceTest, SameFrameNumberRecodesAgainstTheSameReference) {
    EncoderSession encoder(0x8009, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    testing::DecoderSession decoder(0x800A, encoder.CompressedFormat(),
                                    HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    std::vector<uint8_t> pixels(decoder.OutputBytes());
    CompressedFrame first, second;
    ASSERT_EQ(encoder.Compress(Picture(0), 0, &first), ICERR_OK);
    ASSERT_EQ(encoder.Compress(Picture(1), 1, &second), ICERR_OK);
    ASSERT_EQ(encoder.Compress(Picture(2), 1, &second), ICERR_OK);  // the host codes frame 1 again
    ASSERT_FALSE(second.key);
    ASSERT_EQ(decoder.Decompress(first.bytes, pixels), ICERR_OK);
    ASSERT_EQ(decoder.Decompress(second.bytes, pixels), ICERR_OK);
    EXPECT_TRUE(testing::SamePicture(decoder.Picture(), encoder.Reconstruction()));
}

// The bytes must not depend on how many workers share the frame work.
TEST_F(CompressionSequenceTest, OneWorkerAndTwoWorkersWriteTheSameBytes) {
    for (uint8_t fast : {uint8_t{0}, uint8_t{1}}) {
        CodecSettings settings;
        settings.fastSearch = fast;
        settings.subBlockMotion = 1;
        SaveCodecSettings(settings);
        std::vector<std::vector<uint8_t>> streams[2];
        for (uint32_t workers : {1u, 2u}) {
            platform::OverrideProcessorCount(workers);
            EncoderSession encoder(0x800B, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
            EXPECT_EQ(encoder.Instance().compression.TwoWorkers(), workers > 1);
            // Frame 7 is a scene cut: the key alternative, which two workers code on a coder of its own,
            // is the one written, and the frames after it predict from its reconstruction.
            for (int i = 0; i < 10; ++i) {
                CompressedFrame frame;
                ASSERT_EQ(encoder.Compress(Picture(i * 2, i < 7 ? 3 : 77), i, &frame,
                                           {0, i < 5 ? 2500u : 0u, 8500}),
                          ICERR_OK);
                EXPECT_EQ(frame.key, i == 0 || i == 7) << i;
                streams[workers - 1].push_back(frame.bytes);
            }
        }
        platform::OverrideProcessorCount(0);
        EXPECT_EQ(streams[0], streams[1]) << "fast search " << int(fast);
    }
}

TEST_F(CompressionSequenceTest, RunningOvershootCountsOnlyAgainstTheDefaultTarget) {
    EncoderSession encoder(0x800C, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    const auto& sequence = encoder.Instance().compression;
    for (int i = 0; i < 4; ++i) ASSERT_EQ(encoder.Compress(Picture(i), i, nullptr, {0, 0, 8000}), ICERR_OK);
    EXPECT_EQ(sequence.RunningOvershoot(), 0);  // no default target: nothing to overshoot
    for (int i = 4; i < 8; ++i)
        ASSERT_EQ(encoder.Compress(Picture(i), i, nullptr, {0, 3000, 8000}), ICERR_OK);
    EXPECT_EQ(sequence.RunningOvershoot(), 0);  // the host's own targets do not count

    ICCOMPRESSFRAMES info{};
    info.lQuality = 8000;
    info.lDataRate = 30000;  // 1000 bytes per frame at 30 frames per second
    info.dwRate = 30;
    info.dwScale = 1;
    encoder.host.Message(ICM_COMPRESS_FRAMES_INFO, Param(&info), sizeof info);
    CompressedFrame frame;
    ASSERT_EQ(encoder.Compress(Picture(8), 8, &frame, {0, 0, 8000}), ICERR_OK);
    EXPECT_EQ(sequence.RunningOvershoot(), int32_t(frame.bytes.size()) - 1000);
    encoder.host.Message(ICM_COMPRESS_END);
    EXPECT_EQ(encoder.Instance().defaultFrameSize, 0);
}

// A data-rate encode settles on its target instead of spiralling away from it.
TEST_F(CompressionSequenceTest, DataRateEncodeConvergesOnItsTarget) {
    EncoderSession encoder(0x800D, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    const int32_t target = 2500;
    ICCOMPRESSFRAMES info{};
    info.lQuality = 10000;
    info.lDataRate = target * 25;
    info.dwRate = 25;
    info.dwScale = 1;
    encoder.host.Message(ICM_COMPRESS_FRAMES_INFO, Param(&info), sizeof info);
    ASSERT_EQ(encoder.Instance().defaultFrameSize, target);
    const int frames = 120;
    int64_t lateBytes = 0;
    int minQuality = 255, maxQuality = 0;
    for (int i = 0; i < frames; ++i) {
        CompressedFrame frame;
        ASSERT_EQ(encoder.Compress(Picture(i), i, &frame, {i % 25 == 0 ? ICCOMPRESS_KEYFRAME : 0u, 0, 10000}),
                  ICERR_OK);
        if (i >= frames / 2) {
            lateBytes += int64_t(frame.bytes.size());
            minQuality = std::min<int>(minQuality, frame.bytes[0]);
            maxQuality = std::max<int>(maxQuality, frame.bytes[0]);
        }
    }
    const double lateMean = double(lateBytes) / (frames / 2);
    EXPECT_NEAR(lateMean, target, target * 0.1);
    EXPECT_LT(std::abs(encoder.Instance().compression.RunningOvershoot()), 3 * target);
    EXPECT_GT(minQuality, 1);    // no spiral down to the floor
    EXPECT_LT(maxQuality, 100);  // nor up to the ceiling
}

#if defined(RQ43_ADDRESS_SPACE_CAP)
// Caps the address space a little above what the process uses now, so the next large allocations fail.
void LimitAddressSpace(size_t headroom) {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    rlimit cap{};
    getrlimit(RLIMIT_AS, &cap);
    cap.rlim_cur = pages * size_t(sysconf(_SC_PAGESIZE)) + headroom;  // soft limit only: it can be lifted
    setrlimit(RLIMIT_AS, &cap);
}

void LiftAddressSpaceLimit() {
    rlimit cap{};
    getrlimit(RLIMIT_AS, &cap);
    cap.rlim_cur = cap.rlim_max;
    setrlimit(RLIMIT_AS, &cap);
}

// Out of memory, the sequence answers ICERR_MEMORY instead of crashing, and recovers with a key frame.
int StarveTheEncoder() {
    platform::OverrideProcessorCount(1);
    constexpr int32_t w = 1024, h = 1024;
    auto pixels = Picture(0, 3, w, h);
    auto later = Picture(1, 3, w, h);
    {
        testing::OpenInstance host(0x800E);
        BITMAPINFOHEADER input = HostHeader(HostFormat::Rgb24, w, h, false), output{};
        host.Message(ICM_COMPRESS_GET_FORMAT, Param(&input), Param(&output));
        LimitAddressSpace(size_t(1) << 20);
        const LRESULT begin = host.Message(ICM_COMPRESS_BEGIN, Param(&input), Param(&output));
        LiftAddressSpaceLimit();
        if (begin != ICERR_MEMORY) return 1;
    }
    // Buffers of the host are had before the cap, so only the codec's own allocations can fail.
    testing::OpenInstance host(0x800F);
    BITMAPINFOHEADER input = HostHeader(HostFormat::Rgb24, w, h, false), output{};
    host.Message(ICM_COMPRESS_GET_FORMAT, Param(&input), Param(&output));
    if (host.Message(ICM_COMPRESS_BEGIN, Param(&input), Param(&output)) != ICERR_OK) return 2;
    std::vector<uint8_t> buffer(size_t(w) * h * 4 + 8);
    DWORD flags = 0;
    auto compress = [&](std::vector<uint8_t>& picture, LONG number) {
        flags = 0;
        ICCOMPRESS record{0,      &output, buffer.data(), &input,  picture.data(), nullptr, &flags,
                          number, 0,       7500,          nullptr, nullptr};
        return host.Message(ICM_COMPRESS, Param(&record), sizeof record);
    };
    // Begin sizes the frame work; the first frame still needs room to code its sections in.
    LimitAddressSpace(size_t(1) << 20);
    const LRESULT starved = compress(pixels, 0);
    LiftAddressSpaceLimit();
    if (starved != ICERR_MEMORY) return 4;
    if (compress(later, 1) != ICERR_OK || (flags & AVIIF_KEYFRAME) == 0) return 5;
    return 0;
}

// In a child process, so the cap cannot disturb other tests.
TEST_F(CompressionSequenceTest, AllocationFailureAnswersMemoryError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(StarveTheEncoder()), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace rq43::testing
