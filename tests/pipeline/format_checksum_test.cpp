// The format's regression guard: checksums of the compressed and the decoded frames of two fixed
// inputs. Any change to these values changes what the codec writes or shows, and must be explained in
// the commit that changes them.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <vector>

#include "config/settings_store.h"
#include "host/moving_clip.h"
#include "support/checksum.h"
#include "support/codec_session.h"
#include "support/scratch_registry.h"

namespace rq43 {
namespace {

struct FrameChecksums {
    uint64_t compressed;
    uint64_t decoded;
};

struct FixedInput {
    HostFormat format;
    int32_t width, height;
    uint32_t seed;
    int32_t noise;
    CodecSettings settings;
    DWORD frameSize;  // per-frame target, 0 = none
};

std::vector<FrameChecksums> CodeAndDecode(const FixedInput& input, int frames) {
    SaveCodecSettings(input.settings);
    testing::EncoderSession encoder(0xA000, HostHeader(input.format, input.width, input.height, false));
    testing::DecoderSession decoder(0xA001, encoder.CompressedFormat(),
                                    HostHeader(HostFormat::Rgb24, input.width, input.height, false));
    std::vector<uint8_t> pixels(decoder.OutputBytes());
    std::vector<FrameChecksums> sums;
    for (int i = 0; i < frames; ++i) {
        auto rgb = ClipFrameRgb(input.width, input.height, i * 2, input.noise, input.seed);
        testing::CompressedFrame frame;
        EXPECT_EQ(encoder.Compress(LayOut(rgb, input.width, input.height, input.format, false), i, &frame,
                                   {0, input.frameSize, 8000}),
                  ICERR_OK);
        EXPECT_EQ(decoder.Decompress(frame.bytes, pixels), ICERR_OK);
        sums.push_back({testing::Fnv1a(frame.bytes), testing::Fnv1a(pixels)});
    }
    return sums;
}

// On a mismatch the actual table is printed, ready to paste once the change is understood.
void ExpectChecksums(const std::vector<FrameChecksums>& actual, const std::vector<FrameChecksums>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    bool same = true;
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].compressed, expected[i].compressed) << "compressed frame " << i;
        EXPECT_EQ(actual[i].decoded, expected[i].decoded) << "decoded frame " << i;
        same = same && actual[i].compressed == expected[i].compressed &&
               actual[i].decoded == expected[i].decoded;
    }
    if (!same)
        for (const auto& sums : actual)
            std::printf("        {0x%016" PRIx64 "ull, 0x%016" PRIx64 "ull},\n", sums.compressed,
                        sums.decoded);
}

TEST(FormatChecksumTest, SmallRgbPanWithDefaultSettings) {
    testing::ScratchRegistry registry;
    const FixedInput input{HostFormat::Rgb24, 64, 48, 1, 6, CodecSettings{}, 0};
    ExpectChecksums(CodeAndDecode(input, 6), {
                                                 {0xe275a007ea88e235ull, 0xefe82e3b70350972ull},
                                                 {0xce785371e41bd84cull, 0x2350c2057d912db9ull},
                                                 {0x7c97548738e5ee43ull, 0x7d044f566bee0fe1ull},
                                                 {0x2c9b6520aa22888eull, 0xa380cbd87621de7dull},
                                                 {0x8d3ed1f2888a8f2eull, 0x92a039f2dad38149ull},
                                                 {0x86ffb1b0f3e3b5e5ull, 0x522ba3eed99fca58ull},
                                             });
}

TEST(FormatChecksumTest, NoisyYuy2WithSubBlocksPrefilterAndATarget) {
    testing::ScratchRegistry registry;
    const FixedInput input{HostFormat::Yuy2, 176, 144, 9, 12, CodecSettings{0, 1, 1, 0, 6, 2}, 1500};
    ExpectChecksums(CodeAndDecode(input, 5), {
                                                 {0xd279b9f02d5e7b91ull, 0x64dbf16619136dd4ull},
                                                 {0x7c0fbdba5d828c01ull, 0x56cc9550636f8872ull},
                                                 {0x28916ffee2a54d55ull, 0x5eab63ea1553907dull},
                                                 {0x330c303c450e8756ull, 0xeb7ae78beeeea624ull},
                                                 {0x2cbde835be381c2dull, 0xf49ef6a2ce9f09d2ull},
                                             });
}

}  // namespace
}  // namespace rq43
