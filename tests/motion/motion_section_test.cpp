#include "motion/motion_section.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "motion/vector_stream.h"
#include "picture/yuv_frame.h"

namespace rq43 {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr MotionMethod kAllMethods[] = {MotionMethod::Plain, MotionMethod::Temporal,
                                        MotionMethod::SubBlockPlain, MotionMethod::SubBlockTemporal,
                                        MotionMethod::Spatial};

Bytes Encode(const MotionField& field, MotionMethod method) {
    Bytes section;
    EXPECT_TRUE(EncodeMotionSectionWith(field, method, section));
    return section;
}

Bytes EncodeBest(const MotionField& field) {
    Bytes section;
    EXPECT_TRUE(EncodeMotionSection(field, section));
    return section;
}

struct Streams {
    Bytes xs;
    Bytes ys;
    size_t flagsAt = 0;  // offset of the flags part
};

Streams SplitSection(const Bytes& section) {
    Streams out;
    size_t len1 = section[1] | (section[2] << 8);
    bool plain = section[0] == 0;
    size_t xAt = plain ? 3 : 5;
    size_t len2 = plain ? section.size() - xAt - len1 : static_cast<size_t>(section[3] | (section[4] << 8));
    EXPECT_TRUE(DecodeVectorStream(section.data() + xAt, len1, 1 << 20, out.xs));
    EXPECT_TRUE(DecodeVectorStream(section.data() + xAt + len1, len2, 1 << 20, out.ys));
    out.flagsAt = xAt + len1 + len2;
    return out;
}

TEST(MotionSectionTest, OneZeroMacroblockGivesTheFifteenBytePlainSection) {
    MotionField field;
    AllocateMotionField(field, 16, 16, 16);
    Bytes section;
    ASSERT_TRUE(EncodeMotionSection(field, section));
    EXPECT_EQ(section, (Bytes{0x00, 0x06, 0x00, 0x01, 0x00, 0x00, 0x40, 0x01, 0x10, 0x01, 0x00, 0x00, 0x20,
                              0x01, 0x10}));
}

TEST(MotionSectionTest, AllZeroFieldsChoosePlain) {
    MotionField field;
    AllocateMotionField(field, 160, 96, 16);
    Bytes section;
    ASSERT_TRUE(EncodeMotionSection(field, section));
    EXPECT_EQ(section[0], 0);
    EXPECT_LT(section.size(), Encode(field, MotionMethod::Temporal).size());
    EXPECT_LT(section.size(), Encode(field, MotionMethod::Spatial).size());
}

TEST(MotionSectionTest, CodingDecisionAgainstTheTemporalPredictor) {
    struct Case {
        int16_t x, y, px, py;
        uint8_t symbolX;  // value + 64
    };
    const Case cases[] = {
        {10, 0, 9, 0, 65},   // difference 1 < 10
        {1, 0, 2, 0, 65},    // |-1| is not below |1|: raw 1
        {-60, 0, 10, 0, 4},  // difference -70 out of range: raw
        {0, 0, 0, 0, 64},    // equal to the predictor: always a difference
        {7, -3, 7, -3, 64},
    };
    for (const Case& c : cases) {
        MotionField field;
        AllocateMotionField(field, 16, 16, 16);
        field.current[0] = {c.x, c.y, 0.0f};
        field.previous[0] = {c.px, c.py, 0.0f};
        Streams streams = SplitSection(Encode(field, MotionMethod::Temporal));
        ASSERT_EQ(streams.xs.size(), 1u);
        EXPECT_EQ(streams.xs[0], c.symbolX) << c.x << " vs " << c.px;
    }
}

TEST(MotionSectionTest, SubBlockTemporalCodesAllFourRawWhenOneQuadrantFails) {
    MotionField field;
    AllocateMotionField(field, 16, 16, 16);
    field.subBlockSearch = 1;
    field.subBlockCount = 1;
    field.current[0] = {4, 2, kSubBlockMarker};
    field.previous[0] = {4, 2, 0.0f};
    const MotionEntry quadrants[4] = {{4, 2, 0}, {4, 2, 0}, {4, 2, 0}, {-40, 0, 0}};
    for (int k = 0; k < 4; ++k) field.subVectors[static_cast<size_t>(k)] = quadrants[k];
    Bytes section = Encode(field, MotionMethod::SubBlockTemporal);
    Streams streams = SplitSection(section);
    EXPECT_EQ(streams.xs, (Bytes{68, 68, 68, 24}));
    EXPECT_EQ(streams.ys, (Bytes{34, 34, 34, 32}));
    EXPECT_EQ(section[streams.flagsAt], 0);  // prediction bitmap: flag 0
    // RunFlags: first flag 1, one run of 1 (code of 0): bits 1 0, padded.
    EXPECT_EQ(section[streams.flagsAt + 1], 0x80);
    EXPECT_EQ(section.size(), streams.flagsAt + 2);

    // With all four passing, the flag is set and all four are differences.
    field.subVectors[3] = {4, 2, 0};
    section = Encode(field, MotionMethod::SubBlockTemporal);
    streams = SplitSection(section);
    EXPECT_EQ(streams.xs, (Bytes{64, 64, 64, 64}));
    EXPECT_EQ(section[streams.flagsAt], 1);
}

TEST(MotionSectionTest, RunFlagsOfThreeWholeThenOneSubBlockMacroblock) {
    MotionField field;
    AllocateMotionField(field, 64, 16, 16);
    field.current[3].cost = kSubBlockMarker;
    Bytes section = Encode(field, MotionMethod::SubBlockPlain);
    Streams streams = SplitSection(section);
    ASSERT_EQ(section.size(), streams.flagsAt + 1);
    EXPECT_EQ(section.back(), 0x60);
    EXPECT_EQ(streams.xs.size(), 7u);
}

TEST(MotionSectionTest, FlagMapProbabilityPerContext) {
    // 4 x 2 macroblocks. Flags 1 0 1 0 / 0 1 0 0 put four macroblocks in context 0 (no flagged left or
    // upper neighbour), three of them flagged: 3 * 256 / 4 = 192, stored as 191.
    MotionField field;
    AllocateMotionField(field, 64, 32, 16);
    const int flags[8] = {1, 0, 1, 0, 0, 1, 0, 0};
    for (size_t i = 0; i < 8; ++i) {
        field.current[i] = {5, 0, 0.0f};
        field.previous[i] = {static_cast<int16_t>(flags[i] != 0 ? 5 : 40), 0, 0.0f};
    }
    Bytes section = Encode(field, MotionMethod::Temporal);
    Streams streams = SplitSection(section);
    EXPECT_EQ(section[streams.flagsAt + 0], 191);
    // Context 1 (left flagged, upper not): r0c1, r0c3, both 0 -> 0 * 256 / 2 = 0, raised to 1, stored 0.
    EXPECT_EQ(section[streams.flagsAt + 1], 0);
    // Context 2 (upper flagged only): r1c0 (0). Context 3: r1c2 (0).
    EXPECT_EQ(section[streams.flagsAt + 2], 0);
    EXPECT_EQ(section[streams.flagsAt + 3], 0);
    EXPECT_EQ(section[streams.flagsAt + 4], 0);  // the range coder's first byte

    // A context that never occurs stands at 255.
    MotionField single;
    AllocateMotionField(single, 16, 16, 16);
    Bytes one = Encode(single, MotionMethod::Temporal);
    Streams oneStreams = SplitSection(one);
    EXPECT_EQ(one[oneStreams.flagsAt + 0], 255);  // the one macroblock, flagged (0 equals 0)
    EXPECT_EQ(one[oneStreams.flagsAt + 1], 255);
}

TEST(MotionSectionTest, SpatialNeverFlagsTheFirstMacroblock) {
    MotionField field;
    AllocateMotionField(field, 48, 32, 16);
    for (auto& entry : field.current) entry = {6, -2, 0.0f};
    Streams streams = SplitSection(Encode(field, MotionMethod::Spatial));
    ASSERT_EQ(streams.xs.size(), 6u);
    EXPECT_EQ(streams.xs[0], 70);  // raw 6
    for (size_t i = 1; i < 6; ++i) EXPECT_EQ(streams.xs[i], 64) << i;
}

TEST(MotionSectionTest, MethodChoiceFollowsTheSetting) {
    MotionField field;
    AllocateMotionField(field, 64, 32, 16);
    for (auto& entry : field.current) entry = {6, 2, 0.0f};
    for (auto& entry : field.previous) entry = {6, 2, 0.0f};
    field.current[2].cost = kSubBlockMarker;
    field.subBlockCount = 1;
    field.subBlockSearch = 0;
    // Without the setting the sub-block marker is ignored and whole vectors are coded.
    uint8_t method = EncodeBest(field)[0];
    EXPECT_TRUE(method == 0 || method == 1 || method == 4);
    field.subBlockSearch = 1;
    method = EncodeBest(field)[0];
    EXPECT_TRUE(method == 2 || method == 3);
    // The per-frame flag of the last decode does not matter.
    field.subBlockMotion = 0;
    EXPECT_EQ(EncodeBest(field)[0], method);
    field.subBlockCount = 0;
    method = EncodeBest(field)[0];
    EXPECT_TRUE(method == 0 || method == 1 || method == 4);
}

class SectionRoundTripTest : public ::testing::Test {
  protected:
    void Prepare(uint32_t width, uint32_t height) {
        AllocateFrame(target_, width, height, 16);
        AllocateFrame(reference_, width, height, 16);
        AllocateMotionField(encoder_, width, height, 16);
        AllocateMotionField(decoder_, width, height, 16);
    }

    // A vector the search could have found for the block at (x, y) of size `size`.
    MotionEntry RandomVector(std::mt19937& random, int32_t x, int32_t y, int32_t size) {
        int32_t w = static_cast<int32_t>(encoder_.width);
        int32_t h = static_cast<int32_t>(encoder_.height);
        int32_t xlo = std::max(x - 32, -15), xhi = std::min(x + 32, w + 16 - size - 1);
        int32_t ylo = std::max(y - 16, -15), yhi = std::min(y + 16, h + 16 - size - 1);
        auto pick = [&](int32_t lo, int32_t hi) {
            return lo + static_cast<int32_t>(random() % (hi - lo + 1));
        };
        int32_t dx = pick(2 * xlo, 2 * xhi) - 2 * x;
        int32_t dy = pick(2 * ylo, 2 * yhi) - 2 * y;
        if (random() % 3 == 0) dx = dy = 0;
        return {static_cast<int16_t>(std::clamp(dx, -64, 64)), static_cast<int16_t>(std::clamp(dy, -32, 32)),
                0.0f};
    }

    void RandomField(std::mt19937& random, bool subBlocks) {
        int32_t count = 0;
        for (uint32_t i = 0; i < encoder_.MacroblockCount(); ++i) {
            int32_t x = static_cast<int32_t>(i % encoder_.mbCols) * 16;
            int32_t y = static_cast<int32_t>(i / encoder_.mbCols) * 16;
            encoder_.current[i] = RandomVector(random, x, y, 16);
            encoder_.current[i].cost = static_cast<float>(random() % 100);
            encoder_.previous[i] = random() % 2 == 0 ? encoder_.current[i] : RandomVector(random, x, y, 16);
            if (subBlocks && random() % 3 == 0) {
                encoder_.current[i].cost = kSubBlockMarker;
                ++count;
                for (int k = 0; k < 4; ++k) {
                    encoder_.subVectors[4 * i + static_cast<size_t>(k)] =
                        random() % 4 == 0 ? encoder_.previous[i]
                                          : RandomVector(random, x + 8 * (k % 2), y + 8 * (k / 2), 8);
                }
            }
        }
        encoder_.subBlockCount = count;
        encoder_.subBlockSearch = subBlocks ? 1 : 0;
        decoder_.previous = encoder_.previous;
    }

    void ExpectDecodedEqual(MotionMethod method) {
        bool subBlocks = method == MotionMethod::SubBlockPlain || method == MotionMethod::SubBlockTemporal;
        for (uint32_t i = 0; i < encoder_.MacroblockCount(); ++i) {
            const MotionEntry& sent = encoder_.current[i];
            const MotionEntry& got = decoder_.current[i];
            if (subBlocks && IsSubBlockMode(sent)) {
                ASSERT_EQ(got.cost, kSubBlockMarker) << i;
                for (size_t k = 0; k < 4; ++k) {
                    ASSERT_EQ(decoder_.subVectors[4 * i + k].dx, encoder_.subVectors[4 * i + k].dx);
                    ASSERT_EQ(decoder_.subVectors[4 * i + k].dy, encoder_.subVectors[4 * i + k].dy);
                }
                continue;
            }
            ASSERT_EQ(got.dx, sent.dx) << i;
            ASSERT_EQ(got.dy, sent.dy) << i;
            ASSERT_EQ(got.cost, 0.0f);
        }
        EXPECT_EQ(decoder_.subBlockMotion, subBlocks ? 1 : 0);
        if (subBlocks) {
            EXPECT_EQ(decoder_.subBlockCount, 1);
        }
        EXPECT_EQ(decoder_.target, &target_);
        EXPECT_EQ(decoder_.reference, &reference_);
    }

    YuvFrame target_;
    YuvFrame reference_;
    MotionField encoder_;
    MotionField decoder_;
};

TEST_F(SectionRoundTripTest, RandomFieldsThroughEveryMethod) {
    std::mt19937 random(3);
    const uint32_t sizes[][2] = {{16, 16}, {64, 48}, {176, 144}, {320, 240}};
    for (const auto& size : sizes) {
        Prepare(size[0], size[1]);
        for (int trial = 0; trial < 6; ++trial) {
            for (MotionMethod method : kAllMethods) {
                RandomField(random, true);
                Bytes section = Encode(encoder_, method);
                ASSERT_TRUE(
                    DecodeMotionSection(target_, reference_, section.data(), section.size(), decoder_))
                    << static_cast<int>(method) << " " << size[0];
                ExpectDecodedEqual(method);
            }
            RandomField(random, trial % 2 == 0);
            Bytes best;
            ASSERT_TRUE(EncodeMotionSection(encoder_, best));
            ASSERT_TRUE(DecodeMotionSection(target_, reference_, best.data(), best.size(), decoder_));
            ExpectDecodedEqual(static_cast<MotionMethod>(best[0]));
            for (MotionMethod method : kAllMethods) {
                bool comparable =
                    (method == MotionMethod::SubBlockPlain || method == MotionMethod::SubBlockTemporal) ==
                    (encoder_.subBlockSearch != 0 && encoder_.subBlockCount > 0);
                if (comparable) {
                    EXPECT_LE(best.size(), Encode(encoder_, method).size());
                }
            }
        }
    }
}

TEST_F(SectionRoundTripTest, DamagedSectionsAreRefusedAndLeaveTheFieldAlone) {
    Prepare(64, 48);
    std::mt19937 random(5);
    RandomField(random, true);
    for (auto& entry : decoder_.current) entry = {1, 1, 3.0f};
    std::vector<MotionEntry> before = decoder_.current;
    auto refused = [&](const Bytes& section, const char* what) {
        EXPECT_FALSE(DecodeMotionSection(target_, reference_, section.data(), section.size(), decoder_))
            << what;
        ASSERT_EQ(decoder_.current.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i) ASSERT_EQ(decoder_.current[i].dx, before[i].dx) << what;
        EXPECT_EQ(decoder_.target, nullptr) << what;
    };

    Bytes temporal = Encode(encoder_, MotionMethod::Temporal);
    Bytes method5 = temporal;
    method5[0] = 5;
    refused(method5, "method above 4");
    refused(Bytes(temporal.begin(), temporal.begin() + 4), "header cut short");
    Bytes longX = temporal;
    longX[1] = 0xFF;
    longX[2] = 0xFF;
    refused(longX, "X length beyond the section");
    Bytes longY = temporal;
    longY[4] = 0x7F;
    refused(longY, "Y length beyond the section");
    size_t flagsAt = 5 + (temporal[1] | (temporal[2] << 8)) + (temporal[3] | (temporal[4] << 8));
    refused(Bytes(temporal.begin(), temporal.begin() + static_cast<std::ptrdiff_t>(flagsAt + 2)),
            "flag map cut");

    Bytes plain = Encode(encoder_, MotionMethod::Plain);
    Bytes shortCount = plain;
    shortCount[3] = static_cast<uint8_t>(shortCount[3] - 1);  // X stream one symbol short of n
    refused(shortCount, "stream count below the macroblocks");

    // Runs that overrun the macroblock count.
    MotionField overrun;
    AllocateMotionField(overrun, 64, 48, 16);
    Bytes subPlain = Encode(overrun, MotionMethod::SubBlockPlain);
    Streams streams = SplitSection(subPlain);
    subPlain.resize(streams.flagsAt);
    // First flag 0, run code 1111 0 000 (8: a run of 9), then 1101 (3: a run of 4): 13 > 12 macroblocks.
    subPlain.push_back(0x78);
    subPlain.push_back(0x68);
    refused(subPlain, "runs overrun n");
    Bytes cutRuns = Encode(overrun, MotionMethod::SubBlockPlain);
    cutRuns.resize(SplitSection(cutRuns).flagsAt);
    refused(cutRuns, "run flags missing");

    // A spatial flag on the first macroblock: a temporal section whose flags are all 1 (every vector
    // equals its predictor), relabelled.
    MotionField allEqual;
    AllocateMotionField(allEqual, 64, 48, 16);
    Bytes spatial = Encode(allEqual, MotionMethod::Temporal);
    spatial[0] = static_cast<uint8_t>(MotionMethod::Spatial);
    decoder_.previous.assign(decoder_.previous.size(), MotionEntry{});
    refused(spatial, "spatial flag on the first macroblock");

    // A vector whose compensation would read outside the reference allocation.
    MotionField far;
    AllocateMotionField(far, 64, 48, 16);
    far.current[0] = {-64, -32, 0.0f};
    Bytes outside = Encode(far, MotionMethod::Plain);
    refused(outside, "vector outside the allocation");

    // Mismatched frames.
    YuvFrame other;
    AllocateFrame(other, 32, 48, 16);
    Bytes good = Encode(encoder_, MotionMethod::Plain);
    EXPECT_FALSE(DecodeMotionSection(target_, other, good.data(), good.size(), decoder_));
    EXPECT_FALSE(DecodeMotionSection(target_, target_, good.data(), good.size(), decoder_));
    EXPECT_TRUE(DecodeMotionSection(target_, reference_, good.data(), good.size(), decoder_));
}

TEST_F(SectionRoundTripTest, CorruptedSectionsNeverReadOrWriteOutOfBounds) {
    Prepare(96, 64);
    std::mt19937 random(9);
    int accepted = 0;
    for (int trial = 0; trial < 400; ++trial) {
        RandomField(random, true);
        MotionMethod method = kAllMethods[trial % 5];
        Bytes section = Encode(encoder_, method);
        int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f)
            section[random() % section.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
        if (random() % 4 == 0) section.resize(random() % section.size());
        // Exactly sized heap copy, so the sanitizer sees any read past the end.
        std::vector<uint8_t> exact(section);
        exact.shrink_to_fit();
        if (DecodeMotionSection(target_, reference_, exact.data(), exact.size(), decoder_)) ++accepted;
    }
    EXPECT_GT(accepted, 0);
}

TEST(MotionSectionLimitTest, SectionsBeyondSixteenBitsAreReportedToTheCaller) {
    MotionField field;
    AllocateMotionField(field, 4096, 4096, 16);
    std::mt19937 random(1);
    for (auto& entry : field.current) {
        entry = {static_cast<int16_t>(static_cast<int32_t>(random() % 129) - 64),
                 static_cast<int16_t>(static_cast<int32_t>(random() % 65) - 32), 0.0f};
    }
    Bytes section;
    EXPECT_FALSE(EncodeMotionSection(field, section));

    MotionField small;
    AllocateMotionField(small, 32, 32, 16);
    small.current[1] = {65, 0, 0.0f};  // not representable
    EXPECT_FALSE(EncodeMotionSectionWith(small, MotionMethod::Plain, section));
    small.current[1] = {64, -32, 0.0f};
    EXPECT_TRUE(EncodeMotionSection(small, section));
}

}  // namespace
}  // namespace rq43
