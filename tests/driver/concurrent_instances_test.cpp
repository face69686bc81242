// Hosts open and close instances on one thread while others code on theirs (a recorder opening a codec
// while another thread encodes). Each instance's work must stay its own, and an instance closed while
// one of its messages runs must outlive that message.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "driver/codec_base.h"
#include "driver/instance_table.h"
#include "host/moving_clip.h"
#include "support/codec_session.h"
#include "support/scratch_registry.h"

namespace rq43::testing {
namespace {

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 48;
constexpr int kFrames = 6;

using Chunks = std::vector<std::vector<uint8_t>>;

std::vector<std::vector<uint8_t>> SourcePictures() {
    std::vector<std::vector<uint8_t>> pictures;
    for (int i = 0; i < kFrames; ++i) pictures.push_back(ClipPictureRgb24(kWidth, kHeight, i, 9));
    return pictures;
}

Chunks Encode(uintptr_t handle, const std::vector<std::vector<uint8_t>>& pictures, DWORD quality,
              BITMAPINFOHEADER* format = nullptr) {
    EncoderSession encoder(handle, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    if (format) *format = encoder.CompressedFormat();
    Chunks chunks;
    for (int i = 0; i < kFrames; ++i) {
        CompressedFrame frame;
        if (encoder.Compress(pictures[size_t(i)], i, &frame, {0, 0, quality}) != ICERR_OK) return {};
        chunks.push_back(frame.bytes);
    }
    return chunks;
}

Chunks Decode(uintptr_t handle, const BITMAPINFOHEADER& format, const Chunks& chunks) {
    DecoderSession decoder(handle, format, HostHeader(HostFormat::Rgb32, kWidth, kHeight, true));
    Chunks pictures;
    std::vector<uint8_t> pixels(decoder.OutputBytes());
    for (const auto& chunk : chunks) {
        if (decoder.Decompress(chunk, pixels) != ICERR_OK) return {};
        pictures.push_back(pixels);
    }
    return pictures;
}

TEST(ConcurrentInstancesTest, OpeningAndClosingWhileOthersCodeLeavesTheirWorkAlone) {
    testing::ScratchRegistry registry;
    const auto pictures = SourcePictures();
    BITMAPINFOHEADER format{};
    const Chunks low = Encode(0xC000, pictures, 2000, &format);
    const Chunks high = Encode(0xC001, pictures, 9500);
    const Chunks decoded = Decode(0xC002, format, high);
    ASSERT_EQ(low.size(), size_t(kFrames));
    ASSERT_EQ(decoded.size(), size_t(kFrames));

    // Entries opened before the coders' and closed while they work move the coders' entries.
    std::atomic<bool> coding{true};
    std::thread churn([&] {
        uintptr_t oldest = 0xD000, next = 0xD000;
        Send(testing::Handle(next++), DRV_OPEN);
        while (coding.load()) {
            Send(testing::Handle(next++), DRV_OPEN);
            DWORD quality = 0;
            Send(testing::Handle(oldest), ICM_GETQUALITY, Param(&quality));
            Send(testing::Handle(oldest++), DRV_CLOSE);
        }
        while (oldest < next) Send(testing::Handle(oldest++), DRV_CLOSE);
    });
    for (int round = 0; round < 3; ++round) {
        Chunks lowAgain, highAgain, decodedAgain;
        std::thread a([&] { lowAgain = Encode(0xC010, pictures, 2000); });
        std::thread b([&] { highAgain = Encode(0xC011, pictures, 9500); });
        std::thread c([&] { decodedAgain = Decode(0xC012, format, high); });
        a.join();
        b.join();
        c.join();
        EXPECT_EQ(lowAgain, low) << round;
        EXPECT_EQ(highAgain, high) << round;
        EXPECT_EQ(decodedAgain, decoded) << round;
    }
    coding.store(false);
    churn.join();
}

// The host's status callback closes the instance in the middle of a frame, as another thread of the
// host could: the frame completes and the instance goes only when the message returns.
LONG RQ43_CALLBACK CloseOnStart(LPARAM driver, UINT message, LONG) {
    if (message == ICSTATUS_START) Send(reinterpret_cast<HDRVR>(driver), DRV_CLOSE);
    return 0;
}

TEST(ConcurrentInstancesTest, AnInstanceClosedDuringItsMessageOutlivesIt) {
    testing::ScratchRegistry registry;
    const auto pictures = SourcePictures();
    EncoderSession encoder(0xC020, HostHeader(HostFormat::Rgb24, kWidth, kHeight, false));
    ASSERT_TRUE(encoder.Begun());
    ICSETSTATUSPROC status{0, reinterpret_cast<LPARAM>(encoder.host.driver), CloseOnStart};
    ASSERT_EQ(encoder.host.Message(ICM_SET_STATUS_PROC, Param(&status), sizeof status), ICERR_OK);
    const std::weak_ptr<CodecBase> instance = Instances().Find(encoder.host.driver);
    CompressedFrame frame;
    EXPECT_EQ(encoder.Compress(pictures[0], 0, &frame), ICERR_OK);
    EXPECT_FALSE(frame.bytes.empty());
    EXPECT_TRUE(instance.expired());
    EXPECT_EQ(encoder.host.Message(ICM_COMPRESS_END), ICERR_UNSUPPORTED);  // gone
}

}  // namespace
}  // namespace rq43::testing
