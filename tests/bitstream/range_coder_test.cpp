#include "bitstream/range_coder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace rq43 {
namespace {

struct Decision {
    uint32_t bit;
    uint32_t p;
};

std::vector<uint8_t> Encode(const std::vector<Decision>& decisions, uint8_t firstByte = 1) {
    std::vector<uint8_t> bytes(decisions.size() + 16);
    RangeEncoder encoder;
    StartRangeEncoder(encoder, bytes.data(), bytes.data() + bytes.size(), firstByte);
    for (const Decision& d : decisions) EncodeDecision(encoder, d.bit, d.p);
    FlushRangeEncoder(encoder);
    EXPECT_FALSE(encoder.overflow);
    EXPECT_EQ(encoder.out - bytes.data(), encoder.byteCount);
    bytes.resize(static_cast<size_t>(encoder.byteCount));
    return bytes;
}

// Both decision readers, side by side: they must agree on every decision and every state.
bool DecodesBack(const std::vector<uint8_t>& stream, const std::vector<Decision>& decisions) {
    RangeDecoder decoder, branchless;
    StartRangeDecoder(decoder, stream.data(), stream.data() + stream.size());
    StartRangeDecoder(branchless, stream.data(), stream.data() + stream.size());
    for (const Decision& d : decisions) {
        if (DecodeDecision(decoder, d.p) != d.bit) return false;
        if (DecodeUnpredictableDecision(branchless, d.p) != 0u - d.bit) return false;
        if (branchless.value != decoder.value || branchless.range != decoder.range) return false;
    }
    return true;
}

TEST(RangeCoderTest, EmptyStreamIsThreeBytes) {
    std::vector<uint8_t> stream = Encode({}, 1);
    ASSERT_EQ(stream.size(), 3u);
    EXPECT_EQ(stream[0], 1);
    EXPECT_EQ(Encode({}, 0)[0], 0);
}

TEST(RangeCoderTest, CarryTurnsHeldFFBytesIntoZeros) {
    // A worked stream: two 0xFF bytes wait behind a cached 0xFD until a carry makes them 0xFE 00 00.
    const std::vector<Decision> decisions = {{1, 255}, {1, 255}, {0, 255}, {1, 255}, {0, 255},
                                             {1, 255}, {1, 255}, {0, 255}, {0, 255}};
    const std::vector<uint8_t> stream = Encode(decisions);
    EXPECT_EQ(stream, (std::vector<uint8_t>{0x01, 0xFE, 0x00, 0x00, 0x02, 0xFD, 0x33}));
    EXPECT_TRUE(DecodesBack(stream, decisions));
}

TEST(RangeCoderTest, LongFFRunsRoundTrip) {
    // Zeros at p = 255 drive low to the top of every interval: long runs of 0xFF held for a carry.
    std::vector<Decision> decisions(300, Decision{0, 255});
    decisions.push_back({1, 1});
    for (int i = 0; i < 100; ++i) decisions.push_back({0, 255});
    std::vector<uint8_t> stream = Encode(decisions);
    size_t ffCount = 0;
    for (uint8_t b : stream) ffCount += b == 0xFF;
    EXPECT_GT(ffCount, 100u);
    EXPECT_TRUE(DecodesBack(stream, decisions));
}

TEST(RangeCoderTest, StreamsDecodeWhateverBytesFollow) {
    std::mt19937 random(4321);
    int nearBoundary = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        std::vector<Decision> decisions;
        RangeEncoder probe;
        uint8_t scratch[1];
        StartRangeEncoder(probe, scratch, scratch, 1);
        const int style = trial % 4;
        const size_t limit = 1 + random() % (style == 0 ? 8 : 200);
        while (decisions.size() < limit) {
            Decision d;
            d.p = 1 + static_cast<uint32_t>(random() % 256);
            d.bit = static_cast<uint32_t>(random() % 2);
            if (style == 1)
                d.p = 250 + static_cast<uint32_t>(random() % 6);  // skewed: runs of 0xFF and carries
            if (style == 2 && random() % 3 == 0) d = {1, 256};    // p = 256 leaves the range as it is
            if (d.p == 256) d.bit = 1;
            decisions.push_back(d);
            EncodeDecision(probe, d.bit, d.p);
            // Stop at the ranges where the final byte is hardest to choose.
            if (style == 3 && probe.range <= 0x10400 && decisions.size() > 2) break;
        }
        if (probe.range <= 0x10400) ++nearBoundary;

        std::vector<uint8_t> stream = Encode(decisions);
        ASSERT_TRUE(DecodesBack(stream, decisions)) << "trial " << trial << ", stream end";
        for (int tail = 0; tail < 3; ++tail) {
            std::vector<uint8_t> followed = stream;
            for (int i = 0; i < 4; ++i) {
                followed.push_back(tail == 0 ? 0x00 : tail == 1 ? 0xFF : static_cast<uint8_t>(random()));
            }
            ASSERT_TRUE(DecodesBack(followed, decisions)) << "trial " << trial << ", tail " << tail;
        }
    }
    EXPECT_GT(nearBoundary, 2000);
}

TEST(RangeCoderTest, DecoderReadsZerosPastItsEnd) {
    const uint8_t bytes[] = {1, 0xFF, 0xFF, 0xFF};
    RangeDecoder decoder;
    StartRangeDecoder(decoder, bytes, bytes + 2);
    for (int i = 0; i < 100; ++i) DecodeDecision(decoder, 1 + static_cast<uint32_t>(i) % 256);
    EXPECT_TRUE(decoder.overrun);
    EXPECT_EQ(decoder.in, bytes + 2);
}

TEST(RangeCoderTest, EncoderDropsBytesBeyondItsEnd) {
    uint8_t bytes[5] = {0, 0, 0, 0, 0x77};
    RangeEncoder encoder;
    StartRangeEncoder(encoder, bytes, bytes + 4, 1);
    for (int i = 0; i < 50; ++i) EncodeDecision(encoder, static_cast<uint32_t>(i % 2), 128);
    FlushRangeEncoder(encoder);
    EXPECT_TRUE(encoder.overflow);
    EXPECT_GT(encoder.byteCount, 4);
    EXPECT_EQ(bytes[4], 0x77);
}

}  // namespace
}  // namespace rq43
