#include "motion/vector_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace rq43 {
namespace {

std::vector<uint8_t> Encode(const std::vector<uint8_t>& symbols) {
    std::vector<uint8_t> out;
    uint32_t bits = EncodeVectorStream(symbols, out);
    EXPECT_EQ(bits, 8 * out.size());
    return out;
}

// The stream's bits after the 5 header bytes, as a string of 0 and 1.
std::string BitsAfterHeader(const std::vector<uint8_t>& stream) {
    std::string bits;
    for (size_t i = 5; i < stream.size(); ++i) {
        for (int b = 7; b >= 0; --b) bits += ((stream[i] >> b) & 1) != 0 ? '1' : '0';
    }
    return bits;
}

// "01 1" -> "011": bit strings written in groups.
std::string Bits(std::string grouped) {
    std::erase(grouped, ' ');
    return grouped;
}

std::vector<uint8_t> Repeat(uint8_t symbol, size_t count) {
    return std::vector<uint8_t>(count, symbol);
}

TEST(VectorStreamTest, OneRepeatedSymbolNeedsNoCodeBits) {
    std::vector<uint8_t> stream = Encode(Repeat(64, 3));
    EXPECT_EQ(stream, (std::vector<uint8_t>{3, 0, 0, 64, 1, 0x30}));  // weight entry 0 011, padding
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(DecodeVectorStream(stream.data(), stream.size(), 3, decoded));
    EXPECT_EQ(decoded, Repeat(64, 3));
}

TEST(VectorStreamTest, WeightEntriesUseTheShortFormUpToSeven) {
    // Symbols 0 and 2: entries for 0, the absent 1 and 2. 7 copies of 0 and 8 of 2: weights 7 and 8.
    std::vector<uint8_t> symbols = Repeat(0, 7);
    symbols.insert(symbols.end(), 8, 2);
    std::vector<uint8_t> stream = Encode(symbols);
    EXPECT_EQ(stream[0], 15);
    EXPECT_EQ(stream[3], 0);
    EXPECT_EQ(stream[4], 2);
    // 0 111 | 0 000 | 1 00001000, then codes: 0 is merged first (lighter) and becomes child 0.
    std::string expected = Bits("0111 0000 1 00001000") + std::string(7, '0') + std::string(8, '1');
    std::string bits = BitsAfterHeader(stream);
    EXPECT_EQ(bits.substr(0, expected.size()), expected);
    EXPECT_EQ(bits.size(), (expected.size() + 7) / 8 * 8);
}

TEST(VectorStreamTest, EqualWeightsMergeLowestIndexFirst) {
    // A = 1, B = 1, C = 2: A and B merge (A child 0), then C (index 2) with the new node (index 3).
    std::vector<uint8_t> stream = Encode({10, 11, 12, 12});
    std::string bits = BitsAfterHeader(stream);
    EXPECT_EQ(bits.substr(0, 12), Bits("0001 0001 0010"));
    EXPECT_EQ(bits.substr(12, 6), Bits("10 11 0 0"));
}

TEST(VectorStreamTest, LargeCountsAreScaledSoTheLargestWeighs255) {
    std::vector<uint8_t> symbols = Repeat(5, 300);
    symbols.insert(symbols.end(), 100, 6);
    symbols.insert(symbols.end(), 1, 7);
    std::vector<uint8_t> stream = Encode(symbols);
    EXPECT_EQ(stream[0], 401 & 0xFF);
    EXPECT_EQ(stream[1], 401 >> 8);
    // trunc(c * 0.85 + 0.4): 300 -> 255, 100 -> 85, 1 -> 1
    std::string bits = BitsAfterHeader(stream);
    EXPECT_EQ(bits.substr(0, 9), "111111111");
    EXPECT_EQ(bits.substr(9, 9), "101010101");
    EXPECT_EQ(bits.substr(18, 4), "0001");
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(DecodeVectorStream(stream.data(), stream.size(), 401, decoded));
    EXPECT_EQ(decoded, symbols);
}

TEST(VectorStreamTest, RandomStringsRoundTrip) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        size_t count = 1 + random() % 2000;
        uint32_t alphabet = trial % 2 == 0 ? 129 : 65;
        uint32_t spread = 1 + static_cast<uint32_t>(random() % alphabet);
        std::vector<uint8_t> symbols(count);
        for (auto& s : symbols) s = static_cast<uint8_t>(random() % spread);
        std::vector<uint8_t> stream = Encode(symbols);
        std::vector<uint8_t> decoded;
        ASSERT_TRUE(DecodeVectorStream(stream.data(), stream.size(), static_cast<uint32_t>(count), decoded));
        ASSERT_EQ(decoded, symbols) << trial;
    }
}

TEST(VectorStreamTest, DamagedStreamsAreRefused) {
    std::vector<uint8_t> good = Encode({1, 2, 3, 3, 3, 4, 4, 1});
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(DecodeVectorStream(good.data(), good.size(), 8, decoded));

    EXPECT_FALSE(DecodeVectorStream(good.data(), good.size(), 7, decoded)) << "count above the room";
    EXPECT_FALSE(DecodeVectorStream(good.data(), good.size() - 1, 8, decoded)) << "codes cut short";
    EXPECT_FALSE(DecodeVectorStream(good.data(), 4, 8, decoded)) << "header cut short";

    std::vector<uint8_t> zeroCount = good;
    zeroCount[0] = 0;
    EXPECT_FALSE(DecodeVectorStream(zeroCount.data(), zeroCount.size(), 8, decoded));

    std::vector<uint8_t> noSymbols = good;
    noSymbols[4] = 0;
    EXPECT_FALSE(DecodeVectorStream(noSymbols.data(), noSymbols.size(), 8, decoded));

    // Weights that add up to fewer symbols than the count describe a tree that does not cover it.
    std::vector<uint8_t> moreThanWeighed = good;
    moreThanWeighed[0] = 9;
    EXPECT_FALSE(DecodeVectorStream(moreThanWeighed.data(), moreThanWeighed.size(), 100, decoded));

    // Weight entries running past symbol 255.
    std::vector<uint8_t> pastTheAlphabet = Encode({255, 255});
    pastTheAlphabet[4] = 2;
    EXPECT_FALSE(DecodeVectorStream(pastTheAlphabet.data(), pastTheAlphabet.size(), 8, decoded));
    EXPECT_TRUE(decoded.empty());
}

TEST(VectorStreamTest, RandomBytesNeverCrashTheDecoder) {
    std::mt19937 random(11);
    std::vector<uint8_t> decoded;
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<uint8_t> bytes(3 + random() % 64);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        bytes[1] = bytes[2] = 0;  // keep counts small
        if (DecodeVectorStream(bytes.data(), bytes.size(), 512, decoded)) {
            EXPECT_EQ(decoded.size(), bytes[0]);
        }
    }
}

}  // namespace
}  // namespace rq43
