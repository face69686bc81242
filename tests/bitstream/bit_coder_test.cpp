#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bitstream/bit_reader.h"
#include "bitstream/bit_writer.h"
#include "bitstream/word_reader.h"

namespace rq43 {
namespace {

std::string RunCodeBits(uint32_t value) {
    uint8_t bytes[8] = {};
    BitWriter writer;
    StartBitWriter(writer, bytes, bytes + sizeof bytes);
    WriteEobRun(writer, value);
    int32_t bits = writer.totalBits;
    FlushBitWriter(writer);
    std::string text;
    for (int32_t i = 0; i < bits; ++i) text += ((bytes[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
    return text;
}

TEST(BitCoderTest, RunCodes) {
    EXPECT_EQ(RunCodeBits(0), "0");
    EXPECT_EQ(RunCodeBits(1), "10");
    EXPECT_EQ(RunCodeBits(2), "1100");
    EXPECT_EQ(RunCodeBits(3), "1101");
    EXPECT_EQ(RunCodeBits(4), "111000");
    EXPECT_EQ(RunCodeBits(4095).size(), 24u);

    std::vector<uint8_t> bytes(160);
    BitWriter writer;
    StartBitWriter(writer, bytes.data(), bytes.data() + bytes.size());
    for (uint32_t v = 0; v < 40; ++v) WriteEobRun(writer, v * 97 % 4096);
    FlushBitWriter(writer);
    EXPECT_FALSE(writer.overflow);
    BitReader reader;
    StartBitReader(reader, bytes.data(), bytes.data() + bytes.size());
    for (uint32_t v = 0; v < 40; ++v) EXPECT_EQ(ReadEobRun(reader), v * 97 % 4096);
    // The word-at-a-time reader of the token decoder reads the same codes.
    WordReader words(bytes.data(), bytes.data() + bytes.size());
    for (uint32_t v = 0; v < 40; ++v) {
        words.Refill();
        EXPECT_EQ(ReadEobRun(words), v * 97 % 4096);
    }
}

TEST(BitCoderTest, FieldsAreMostSignificantFirstAndZeroPadded) {
    uint8_t bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    BitWriter writer;
    StartBitWriter(writer, bytes, bytes + 4);
    WriteBits(writer, 5, 3);       // 101
    WriteBits(writer, 0x3FF, 10);  // 1111111111
    WriteBits(writer, 0, 0);
    EXPECT_EQ(writer.totalBits, 13);
    FlushBitWriter(writer);
    EXPECT_EQ(writer.totalBits, 16);
    EXPECT_EQ(bytes[0], 0xBF);
    EXPECT_EQ(bytes[1], 0xF8);
    EXPECT_EQ(bytes[2], 0xAA);

    // A value wider than its field must not spill into the fields before it.
    StartBitWriter(writer, bytes, bytes + 4);
    WriteBits(writer, 1, 1);
    WriteBits(writer, 0x1FF, 3);
    FlushBitWriter(writer);
    EXPECT_EQ(bytes[0], 0xF0);
}

TEST(BitCoderTest, WriterDropsBytesBeyondItsEnd) {
    uint8_t bytes[3] = {0, 0, 0x55};
    BitWriter writer;
    StartBitWriter(writer, bytes, bytes + 2);
    WriteBits(writer, 0xFFFFFF, 24);
    FlushBitWriter(writer);
    EXPECT_TRUE(writer.overflow);
    EXPECT_EQ(writer.totalBits, 24);
    EXPECT_EQ(bytes[2], 0x55);
}

TEST(BitCoderTest, ReadBitAndReadBitsShareOneAccumulator) {
    const uint8_t bytes[] = {0xA5, 0x3C, 0x0F, 0xF0, 0x12, 0x34, 0x56};
    BitReader reader;
    StartBitReader(reader, bytes, bytes + sizeof bytes);
    EXPECT_EQ(ReadBits(reader, 3), 0x5u);  // 101, leaves 00101 of the first byte
    EXPECT_EQ(reader.count, 5);
    const uint8_t* afterFirst = reader.in;
    uint32_t five = 0;
    for (int i = 0; i < 5; ++i) five = five * 2 + ReadBit(reader);
    EXPECT_EQ(five, 0x05u);
    EXPECT_EQ(reader.in, afterFirst);  // no refill while bits were held
    EXPECT_EQ(ReadBit(reader), 0u);    // takes a whole word: 3C 0F F0 12
    EXPECT_EQ(reader.in, afterFirst + 4);
    EXPECT_EQ(ReadBits(reader, 15), 0x3C0Fu & 0x7FFF);
    EXPECT_EQ(ReadBits(reader, 16), 0xF012u);
    EXPECT_EQ(ReadBits(reader, 16), 0x3456u);
    EXPECT_FALSE(reader.overrun);
}

TEST(BitCoderTest, ReaderPastItsEndReadsZeros) {
    const uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    BitReader reader;
    StartBitReader(reader, bytes, bytes + 2);
    EXPECT_EQ(ReadBits(reader, 12), 0xFFFu);
    EXPECT_FALSE(reader.overrun);
    EXPECT_EQ(ReadBits(reader, 12), 0xF00u);
    EXPECT_TRUE(reader.overrun);

    StartBitReader(reader, bytes, bytes + 1);
    EXPECT_EQ(ReadBit(reader), 1u);
    EXPECT_TRUE(reader.overrun);
    for (int i = 0; i < 7; ++i) ReadBit(reader);
    EXPECT_EQ(ReadBits(reader, 24), 0u);

    // An endless prefix of ones is refused with a value no caller accepts.
    StartBitReader(reader, bytes, bytes + sizeof bytes);
    EXPECT_GT(ReadEobRun(reader), 1u << 24);
    WordReader words(bytes, bytes + sizeof bytes);
    words.Refill();
    EXPECT_GT(ReadEobRun(words), 1u << 24);
}

TEST(BitCoderTest, RandomFieldsRoundTrip) {
    std::mt19937 random(7);
    std::vector<std::pair<uint32_t, int>> fields;
    std::vector<uint8_t> bytes(4000);
    BitWriter writer;
    StartBitWriter(writer, bytes.data(), bytes.data() + bytes.size());
    for (int i = 0; i < 1000; ++i) {
        int n = 1 + static_cast<int>(random() % 24);
        uint32_t value = static_cast<uint32_t>(random()) & ((1u << n) - 1u);
        fields.push_back({value, n});
        WriteBits(writer, value, n);
    }
    FlushBitWriter(writer);
    BitReader reader;
    StartBitReader(reader, bytes.data(), bytes.data() + writer.totalBits / 8);
    for (auto [value, n] : fields) {
        uint32_t got = 0;
        if (random() % 2 == 0) {
            got = ReadBits(reader, n);
        } else {
            for (int i = 0; i < n; ++i) got = got * 2 + ReadBit(reader);
        }
        ASSERT_EQ(got, value);
    }
}

}  // namespace
}  // namespace rq43
