#include "residual/token_section.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "platform/worker_pair.h"
#include "residual/residual_coder.h"
#include "support/picture_fixtures.h"

namespace rq43 {
namespace {

uint32_t Field32(const std::vector<uint8_t>& s, size_t at) {
    return uint32_t{s[at]} | uint32_t{s[at + 1]} << 8 | uint32_t{s[at + 2]} << 16 | uint32_t{s[at + 3]} << 24;
}
uint16_t Field16(const std::vector<uint8_t>& s, size_t at) {
    return static_cast<uint16_t>(s[at] | s[at + 1] << 8);
}

// The section, failing the test when it cannot be coded.
std::vector<uint8_t> Encoded(ResidualCoder& coder, uint8_t keyFrame) {
    std::vector<uint8_t> section;
    EXPECT_TRUE(EncodeTokenSection(coder, keyFrame, section));
    return section;
}

void CopyPlanes(const YuvFrame& from, YuvFrame& to) {
    std::memcpy(to.buffer, from.buffer, from.bufferSize);
}

bool SamePictures(const YuvFrame& a, const YuvFrame& b) {
    auto plane = [&](const uint8_t* p, const uint8_t* q, uint32_t w, uint32_t h) {
        for (uint32_t r = 0; r < h; ++r)
            if (std::memcmp(p + r * a.stride, q + r * b.stride, w) != 0) return false;
        return true;
    };
    return plane(a.y, b.y, a.width, a.height) && plane(a.u, b.u, a.width / 2, a.height / 2) &&
           plane(a.v, b.v, a.width / 2, a.height / 2);
}

// One frame to code: a source, the prediction a decoder holds before the section (delta frames), and the
// difference between them.
struct FrameToCode {
    YuvFrame source, prediction;
    DifferenceFrame difference;
    FrameToCode(uint32_t width, uint32_t height, uint32_t seed, int noise) {
        AllocateFrame(source, width, height, 16);
        AllocateFrame(prediction, width, height, 16);
        AllocateDifferenceFrame(difference, static_cast<int32_t>(width), static_cast<int32_t>(height));
        testing::PaintFrame(source, seed, noise);
        testing::PaintFrame(prediction, seed + 1, noise);
        testing::PaintDifference(difference, seed + 2, noise);
    }
};

// Makes the difference what motion compensation would give for the frame's prediction, so that intra and
// inter blocks both aim at the source.
void MatchDifferenceToPrediction(FrameToCode& frame) {
    const int32_t w = frame.difference.width, h = frame.difference.height;
    const YuvFrame& s = frame.source;
    const YuvFrame& p = frame.prediction;
    auto match = [&](const uint8_t* source, const uint8_t* prediction, int16_t* residual, int32_t width,
                     int32_t height) {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                residual[y * w + x] =
                    static_cast<int16_t>(128 + source[y * s.stride + x] - prediction[y * p.stride + x]);
    };
    match(s.y, p.y, frame.difference.y, w, h);
    match(s.u, p.u, frame.difference.u, w / 2, h / 2);
    match(s.v, p.v, frame.difference.v, w / 2, h / 2);
}

// Mean absolute difference of two pictures over all three planes.
double PictureError(const YuvFrame& a, const YuvFrame& b) {
    double sum = 0;
    auto plane = [&](const uint8_t* p, const uint8_t* q, uint32_t w, uint32_t h) {
        for (uint32_t r = 0; r < h; ++r)
            for (uint32_t c = 0; c < w; ++c) sum += std::abs(p[r * a.stride + c] - q[r * b.stride + c]);
    };
    plane(a.y, b.y, a.width, a.height);
    plane(a.u, b.u, a.width / 2, a.height / 2);
    plane(a.v, b.v, a.width / 2, a.height / 2);
    return sum / (1.5 * a.width * a.height);
}

// Overwrites a share of the coefficients with random values of up to `range`, for levels of every size
// (beyond the token range too) next to the natural ones.
void ScrambleCoefficients(ResidualCoder& coder, std::mt19937& random, int range, double share) {
    std::uniform_int_distribution<int> value(-range, range);
    std::bernoulli_distribution pick(share);
    for (auto* plane : {&coder.coefficients.y, &coder.coefficients.u, &coder.coefficients.v})
        for (int16_t& c : *plane)
            if (pick(random)) c = static_cast<int16_t>(value(random));
}

// Natural coefficients decode to a picture nearer the source than the decoder's starting point (a flat
// grey for key frames, the prediction for delta frames); levels of every size, beyond the token range
// too, still make a section the decoder accepts.
TEST(TokenSection, RoundTripsApproachTheSource) {
    std::mt19937 random(5);
    const int ranges[] = {0, 300, 3000, 32767};
    int intraSections = 0, predictedSections = 0;
    platform::WorkerPair workers;
    for (int trial = 0; trial < 48; ++trial) {
        const auto width = static_cast<uint32_t>(16 * (1 + random() % 4));
        const auto height = static_cast<uint32_t>(16 * (1 + random() % 3));
        FrameToCode frame(width, height, static_cast<uint32_t>(trial), static_cast<int>(random() % 50));
        const bool key = trial % 3 == 0;
        const int range = ranges[trial % 4];
        if (range == 0) MatchDifferenceToPrediction(frame);
        ResidualCoder encoder;
        InitResidualCoder(encoder);
        encoder.workers = trial % 2 != 0 ? &workers : nullptr;
        encoder.arithmeticTokens = static_cast<uint8_t>((trial / 2) % 2);
        encoder.quality = static_cast<int32_t>(random() % 101);
        ASSERT_TRUE(LoadFrame(encoder, frame.source, key ? nullptr : &frame.difference, nullptr));
        if (range > 0) ScrambleCoefficients(encoder, random, range, 0.2);

        const std::vector<uint8_t> section = Encoded(encoder, key ? 1 : 0);
        ASSERT_GE(section.size(), kTokenSectionHeaderSize);
        EXPECT_EQ(section.size(), 24 + Field32(section, 0) + Field32(section, 4) + Field32(section, 8));
        EXPECT_EQ(section[22], encoder.quality);
        EXPECT_EQ(section[23], key ? 1 : 0);
        if (Field32(section, 0) > 0) ++intraSections;
        if (Field16(section, 16) != 0) ++predictedSections;

        YuvFrame start;
        AllocateFrame(start, width, height, 16);
        if (key)
            std::memset(start.buffer, 128, start.bufferSize);
        else
            CopyPlanes(frame.prediction, start);
        YuvFrame decoded;
        AllocateFrame(decoded, width, height, 16);
        CopyPlanes(frame.prediction, decoded);
        ResidualCoder decoder;
        InitResidualCoder(decoder);
        ASSERT_TRUE(DecodeTokenSection(section.data(), section.size(), decoder, decoded))
            << "trial " << trial;
        // The encoder's reconstruction from the levels it holds gives the decoder's picture to the pixel,
        // also after the coder has coded another section, but not after two.
        for (int later = 0; later < (key ? 1 : 3); ++later) {
            if (later > 0) Encoded(encoder, 1);
            YuvFrame reconstructed;
            AllocateFrame(reconstructed, width, height, 16);
            CopyPlanes(frame.prediction, reconstructed);
            ASSERT_EQ(ReconstructCodedSection(section.data(), section.size(), encoder, reconstructed),
                      later < 2);
            if (later < 2) {
                EXPECT_TRUE(SamePictures(reconstructed, decoded)) << "trial " << trial;
            }
        }
        if (range == 0) {
            EXPECT_LT(PictureError(decoded, frame.source), PictureError(start, frame.source))
                << "trial " << trial << " quality " << encoder.quality;
        }
    }
    EXPECT_GT(intraSections, 0);  // the trials reach the block map
    EXPECT_GT(predictedSections, 0);
}

// Coefficient prediction can restore chroma levels behind a block's last coded one, even outside the
// top-left 4x4 (zigzag position 10, raster 32), and the block must still take the whole inverse transform.
// Every U and V block holds the same coefficients, so every one must decode to the same pixels.
TEST(TokenSection, ChromaLevelsRestoredByPredictionAreTransformed) {
    FrameToCode frame(64, 48, 4, 0);
    ResidualCoder encoder;
    InitResidualCoder(encoder);
    encoder.quality = 50;
    ASSERT_TRUE(LoadFrame(encoder, frame.source, nullptr, nullptr));
    for (auto* plane : {&encoder.coefficients.u, &encoder.coefficients.v}) {
        for (size_t block = 0; block < plane->size(); block += kCoefficientsPerBlock) {
            std::fill_n(plane->begin() + static_cast<ptrdiff_t>(block), 64, int16_t{0});
            (*plane)[block + 32] = 2000;
        }
    }
    const std::vector<uint8_t> section = Encoded(encoder, 1);
    ASSERT_EQ(Field16(section, 18) >> 14, Field16(section, 20) >> 14);
    ASSERT_NE(Field16(section, 18) >> 14, 0) << "position 10 of the U blocks is not predicted";

    YuvFrame decoded;
    AllocateFrame(decoded, 64, 48, 16);
    ResidualCoder decoder;
    InitResidualCoder(decoder);
    ASSERT_TRUE(DecodeTokenSection(section.data(), section.size(), decoder, decoded));
    for (const uint8_t* plane : {decoded.u, decoded.v}) {
        for (int32_t by = 0; by < 3; ++by) {
            for (int32_t bx = 0; bx < 4; ++bx) {
                for (int32_t r = 0; r < 8; ++r) {
                    EXPECT_EQ(std::memcmp(plane + (8 * by + r) * decoded.stride + 8 * bx,
                                          plane + r * decoded.stride, 8),
                              0)
                        << "block " << bx << "," << by << " row " << r;
                }
            }
        }
    }
}

TEST(TokenSection, KeySectionLayout) {
    FrameToCode frame(48, 32, 9, 10);
    ResidualCoder coder;
    InitResidualCoder(coder);
    coder.quality = 60;
    ASSERT_TRUE(LoadFrame(coder, frame.source, nullptr, nullptr));
    const std::vector<uint8_t> section = Encoded(coder, 1);
    EXPECT_EQ(Field32(section, 0), 0u);  // no block map: the luma stream starts at 24
    EXPECT_EQ(Field32(section, 12), 0u);
    EXPECT_EQ(section[24], 0);
    TokenStream luma;
    EXPECT_TRUE(OpenTokenStream(luma, section.data() + 24, Field32(section, 4), 6 * 4));
    TokenStream chroma;
    EXPECT_TRUE(
        OpenTokenStream(chroma, section.data() + 24 + Field32(section, 4), Field32(section, 8), 2 * 3 * 2));

    // Qualities outside the byte are stored as the byte with the same tables.
    coder.quality = -5;
    EXPECT_EQ(Encoded(coder, 1)[22], 0);
    coder.quality = 300;
    EXPECT_EQ(Encoded(coder, 1)[22], 255);
}

TEST(TokenSection, BlockMapOfAllIntraBlocks) {
    // A grey source that intra levels reproduce exactly and a residual they cannot: every block goes intra,
    // and every context (all four occur in 2 x 2 blocks) has probability 256, stored as 255.
    FrameToCode frame(16, 16, 1, 0);
    for (uint32_t r = 0; r < 16; ++r) std::memset(frame.source.y + r * frame.source.stride, 128, 16);
    ResidualCoder coder;
    InitResidualCoder(coder);
    coder.quality = 50;
    ASSERT_TRUE(LoadFrame(coder, frame.source, &frame.difference, nullptr));
    const std::vector<uint8_t> section = Encoded(coder, 0);
    ASSERT_GT(Field32(section, 0), 4u);
    for (size_t c = 0; c < 4; ++c) EXPECT_EQ(section[24 + c], 255);

    YuvFrame decoded;
    AllocateFrame(decoded, 16, 16, 16);
    CopyPlanes(frame.prediction, decoded);
    ResidualCoder decoder;
    InitResidualCoder(decoder);
    ASSERT_TRUE(DecodeTokenSection(section.data(), section.size(), decoder, decoded));
    for (uint32_t r = 0; r < 16; ++r)
        for (uint32_t c = 0; c < 16; ++c) EXPECT_EQ(decoded.y[r * decoded.stride + c], 128);

    // A later attempt with a residual of zero has no intra blocks and no map.
    std::fill(frame.difference.y, frame.difference.y + 16 * 16 * 3 / 2, int16_t{128});
    ASSERT_TRUE(LoadFrame(coder, frame.source, &frame.difference, nullptr));
    EXPECT_EQ(Field32(Encoded(coder, 0), 0), 0u);
}

// Either section takes the intra luma levels the other section of the same attempt quantised; another
// quality or another frame's coefficients must not.
TEST(TokenSection, SameBytesWithOneWorkerOrTwoAndAfterTheKeySection) {
    FrameToCode frames[2] = {FrameToCode(64, 48, 21, 30), FrameToCode(64, 48, 5, 40)};
    auto alone = [&](const FrameToCode& frame, bool key, int quality) {
        ResidualCoder coder;
        InitResidualCoder(coder);
        coder.quality = quality;
        EXPECT_TRUE(LoadFrame(coder, frame.source, &frame.difference, nullptr));
        return Encoded(coder, key ? 1 : 0);
    };
    platform::WorkerPair pair;
    for (platform::WorkerPair* workers : {static_cast<platform::WorkerPair*>(nullptr), &pair}) {
        ResidualCoder coder;
        InitResidualCoder(coder);
        coder.workers = workers;
        for (const FrameToCode& frame : frames) {
            ASSERT_TRUE(LoadFrame(coder, frame.source, &frame.difference, nullptr));
            coder.quality = 40;
            EXPECT_EQ(Encoded(coder, 0), alone(frame, false, 40));
            for (int quality : {70, 20, 55}) {
                ClearIntraFlags(coder);
                coder.quality = quality;
                const std::vector<uint8_t> key = alone(frame, true, quality),
                                           delta = alone(frame, false, quality);
                if (quality != 55) {
                    EXPECT_EQ(Encoded(coder, 1), key);
                    EXPECT_EQ(Encoded(coder, 0), delta);
                } else {  // the delta section first, as the compression sequence codes them
                    EXPECT_EQ(Encoded(coder, 0), delta);
                    EXPECT_EQ(Encoded(coder, 1), key);
                }
            }
        }
    }
}

// A section held to a size limit is left unfinished (true, and empty: not a failure) only when it would
// have come out at the limit or above; otherwise it is the same section.
TEST(TokenSection, SizeLimitStopsOnlySectionsThatCannotComeInUnder) {
    FrameToCode frame(64, 48, 21, 30);
    ResidualCoder coder;
    InitResidualCoder(coder);
    coder.quality = 70;
    ASSERT_TRUE(LoadFrame(coder, frame.source, &frame.difference, nullptr));
    for (uint8_t keyFrame : {uint8_t{0}, uint8_t{1}}) {
        const std::vector<uint8_t> whole = Encoded(coder, keyFrame);
        size_t unfinished = 0;
        for (size_t limit = kTokenSectionHeaderSize; limit <= whole.size() + 1; limit += 5) {
            std::vector<uint8_t> section;
            ASSERT_TRUE(EncodeTokenSection(coder, keyFrame, section, limit));
            if (section.empty()) {
                EXPECT_GE(whole.size(), limit);
                ++unfinished;
            } else {
                EXPECT_EQ(section, whole);
            }
        }
        EXPECT_GT(unfinished, 0u);
    }
}

// Code and reconstruct a frame, as the compression sequence does on each attempt it keeps.
std::vector<uint8_t> CodeFrame(FrameToCode& frame, ResidualCoder& encoder, ResidualCoder& decoder,
                               int32_t quality, YuvFrame& decoded) {
    encoder.quality = quality;
    EXPECT_TRUE(LoadFrame(encoder, frame.source, &frame.difference, nullptr));
    std::vector<uint8_t> section = Encoded(encoder, 0);
    CopyPlanes(frame.prediction, decoded);
    EXPECT_TRUE(DecodeTokenSection(section.data(), section.size(), decoder, decoded));
    return section;
}

// Each coder owns its quantiser tables: two coders at different qualities on two threads at once give the
// bytes and pictures each gives alone.
TEST(TokenSection, ConcurrentCodersDoNotInterfere) {
    FrameToCode frames[2] = {FrameToCode(64, 64, 31, 40), FrameToCode(64, 64, 41, 40)};
    const int32_t qualities[2] = {15, 95};
    std::vector<uint8_t> alone[2];
    YuvFrame aloneDecoded[2];
    for (int i = 0; i < 2; ++i) {
        ResidualCoder encoder, decoder;
        InitResidualCoder(encoder);
        InitResidualCoder(decoder);
        AllocateFrame(aloneDecoded[i], 64, 64, 16);
        alone[i] = CodeFrame(frames[i], encoder, decoder, qualities[i], aloneDecoded[i]);
    }
    bool same[2] = {true, true};
    auto run = [&](int i) {
        ResidualCoder encoder, decoder;
        InitResidualCoder(encoder);
        InitResidualCoder(decoder);
        YuvFrame decoded;
        AllocateFrame(decoded, 64, 64, 16);
        for (int round = 0; round < 20; ++round) {
            if (CodeFrame(frames[i], encoder, decoder, qualities[i], decoded) != alone[i] ||
                !SamePictures(decoded, aloneDecoded[i])) {
                same[i] = false;
            }
        }
    };
    std::thread first(run, 0), second(run, 1);
    first.join();
    second.join();
    EXPECT_TRUE(same[0]);
    EXPECT_TRUE(same[1]);
}

class CorruptSection : public ::testing::Test {
  protected:
    void SetUp() override {
        FrameToCode frame(32, 32, 51, 60);
        ResidualCoder coder;
        InitResidualCoder(coder);
        coder.quality = 90;
        ASSERT_TRUE(LoadFrame(coder, frame.source, &frame.difference, nullptr));
        ScrambleCoefficients(coder, random, 2000, 0.1);
        section = Encoded(coder, 0);
        InitResidualCoder(decoder);
        AllocateFrame(frame32, 32, 32, 16);
    }
    bool Decode(const std::vector<uint8_t>& bytes, size_t length) {
        return DecodeTokenSection(bytes.data(), length, decoder, frame32);
    }
    std::mt19937 random{3};
    std::vector<uint8_t> section;
    ResidualCoder decoder;
    YuvFrame frame32;
};

TEST_F(CorruptSection, TruncatedSectionsAreRefused) {
    ASSERT_TRUE(Decode(section, section.size()));
    for (size_t length = 0; length < section.size(); ++length)
        EXPECT_FALSE(Decode(section, length)) << length;
    EXPECT_FALSE(DecodeTokenSection(nullptr, 100, decoder, frame32));
}

TEST_F(CorruptSection, ImpossibleSizesAreRefused) {
    for (size_t field : {0u, 4u, 8u}) {
        std::vector<uint8_t> bad = section;
        bad[field + 3] = 0x80;  // a size far beyond the section
        EXPECT_FALSE(Decode(bad, bad.size()));
    }
    std::vector<uint8_t> shortMap = section;
    shortMap[0] = 3;  // a block map too short for its probabilities
    shortMap[1] = shortMap[2] = shortMap[3] = 0;
    EXPECT_FALSE(Decode(shortMap, shortMap.size()));

    // The section of a 32x32 frame does not hold the blocks of a larger one.
    YuvFrame larger;
    AllocateFrame(larger, 64, 64, 16);
    EXPECT_FALSE(DecodeTokenSection(section.data(), section.size(), decoder, larger));
    YuvFrame unallocated;
    EXPECT_FALSE(DecodeTokenSection(section.data(), section.size(), decoder, unallocated));
}

// Damaged bytes anywhere: the decoder may accept or refuse, but stays inside its buffers (the sanitizer
// build checks that) and leaves the frame's border alone.
TEST_F(CorruptSection, DamagedBytesStayInsideTheFrame) {
    std::uniform_int_distribution<size_t> where(0, section.size() - 1);
    const size_t total = frame32.bufferSize;
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<uint8_t> bad = section;
        const int flips = 1 + trial % 4;
        for (int i = 0; i < flips; ++i)
            bad[trial % 5 == 0 ? 16 + where(random) % 8 : where(random)] ^=
                static_cast<uint8_t>(1 + random() % 255);
        std::memset(frame32.buffer, 0xA5, total);
        (void)Decode(bad, bad.size());
        // Left border of the first luma row and the area above the picture are untouched.
        EXPECT_EQ(frame32.y[-1], 0xA5);
        EXPECT_EQ(frame32.y[32], 0xA5);
        EXPECT_EQ(frame32.y[32 * frame32.stride], 0xA5);
    }
}

}  // namespace
}  // namespace rq43
