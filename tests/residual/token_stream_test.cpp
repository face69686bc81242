#include "residual/token_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace rq43 {
namespace {

using Token = std::pair<int, uint32_t>;  // token, extra bits as (count << 24) | value

std::vector<Token> TokensOf(const std::vector<int16_t>& levels) {
    TokenStream stream;
    TokeniseLevels(stream, levels.data(), levels.size());
    std::vector<Token> tokens;
    for (size_t i = 0; i < stream.tokens.size(); ++i)
        tokens.push_back({stream.tokens[i], stream.extraBits[i]});
    return tokens;
}

constexpr uint32_t Extra(uint32_t value, uint32_t bits) {
    return (bits << 24) | value;
}

TEST(TokenStreamTest, TokenExamples) {
    std::vector<int16_t> block(64, 0);
    block[3] = 5;
    EXPECT_EQ(TokensOf(block), (std::vector<Token>{{5, 0}, {14, Extra(0, 1)}, {8, 0}}));

    std::fill(block.begin(), block.end(), int16_t{0});
    block[0] = 1;
    block[41] = -2;
    EXPECT_EQ(TokensOf(block),
              (std::vector<Token>{
                  {9, Extra(0, 1)}, {0, Extra(15, 4)}, {2, Extra(1, 2)}, {10, Extra(1, 1)}, {8, 0}}));

    std::fill(block.begin(), block.end(), int16_t{0});
    block[0] = -69;
    block[1] = 580;
    block[2] = 700;     // beyond the widest token: clamped
    block[3] = -32768;  // likewise
    block[4] = 8;
    block[5] = -12;
    block[63] = 37;
    EXPECT_EQ(TokensOf(block), (std::vector<Token>{{21, Extra(0x200, 10)},
                                                   {21, Extra(0x1FF, 10)},
                                                   {21, Extra(0x1FF, 10)},
                                                   {21, Extra(0x3FF, 10)},
                                                   {16, Extra(1, 2)},
                                                   {17, Extra(7, 3)},
                                                   {0, Extra(15, 4)},
                                                   {0, Extra(10, 4)},
                                                   {20, Extra(0, 6)}}));
}

TEST(TokenStreamTest, EndOfBlockRuns) {
    std::vector<int16_t> levels(4 * 64, 0);
    levels[0] = 3;
    EXPECT_EQ(TokensOf(levels), (std::vector<Token>{{11, Extra(0, 1)}, {12, Extra(0b1100, 4)}}));

    levels.assign(2 * 64, 0);
    EXPECT_EQ(TokensOf(levels), (std::vector<Token>{{12, Extra(0, 1)}}));

    levels.assign(4098 * 64, 0);
    EXPECT_EQ(TokensOf(levels), (std::vector<Token>{{12, Extra(0xFFF7FF, 24)}, {8, 0}}));

    // A block ending in a level at position 63 is followed directly by the next block's tokens.
    levels.assign(3 * 64, 0);
    levels[63] = 1;
    levels[64] = 1;
    const std::vector<Token> tokens = TokensOf(levels);
    ASSERT_EQ(tokens.size(), 6u);
    EXPECT_EQ(tokens[3], (Token{9, Extra(0, 1)}));
    EXPECT_EQ(tokens[4], (Token{9, Extra(0, 1)}));
    EXPECT_EQ(tokens[5], (Token{12, Extra(0, 1)}));
}

std::vector<uint8_t> Encode(TokenStream& stream, const std::vector<int16_t>& levels) {
    std::vector<uint8_t> out(levels.size() / 64 * 192 + 64);
    EXPECT_TRUE(EncodeTokenStream(stream, levels.data(), levels.size(), out.data(), out.data() + out.size()));
    size_t size = 0;
    EXPECT_TRUE(FinishTokenStream(stream, &size));
    out.resize(size);
    return out;
}

// Decodes in rows of the given widths; returns false when any row is refused.
bool DecodeRows(const std::vector<uint8_t>& bytes, size_t blocks, const std::vector<uint32_t>& rows,
                std::vector<int16_t>* levels, std::vector<uint8_t>* lastIndex) {
    TokenStream stream;
    if (!OpenTokenStream(stream, bytes.data(), bytes.size(), blocks)) return false;
    levels->assign(blocks * 64, 0);
    lastIndex->assign(blocks, 0);
    size_t done = 0;
    for (uint32_t row : rows) {
        if (!DecodeBlockRow(stream, levels->data() + done * 64, row, lastIndex->data() + done)) return false;
        done += row;
    }
    return true;
}

TEST(TokenStreamTest, EndOfBlockRunCarriesIntoNextRows) {
    std::vector<int16_t> levels(10 * 64, 0);
    levels[64 + 7] = -4;  // block 1; blocks 2..9 form one end-of-block run with the end of block 1
    TokenStream stream;
    const std::vector<uint8_t> bytes = Encode(stream, levels);
    std::vector<int16_t> back;
    std::vector<uint8_t> lastIndex;
    ASSERT_TRUE(DecodeRows(bytes, 10, {3, 3, 2, 2}, &back, &lastIndex));
    EXPECT_EQ(back, levels);
    EXPECT_EQ(lastIndex, (std::vector<uint8_t>{0, 7, 0, 0, 0, 0, 0, 0, 0, 0}));

    // More blocks than the stream holds, or a run beyond the last block, is refused.
    EXPECT_FALSE(DecodeRows(bytes, 10, {3, 3, 5}, &back, &lastIndex));
    EXPECT_FALSE(DecodeRows(bytes, 9, {9}, &back, &lastIndex));
}

TEST(TokenStreamTest, RandomStreamsRoundTripInBothModes) {
    std::mt19937 random(2024);
    for (int trial = 0; trial < 120; ++trial) {
        const uint32_t across = 1 + static_cast<uint32_t>(random() % 40);
        const uint32_t down = 1 + static_cast<uint32_t>(random() % 12);
        const size_t blocks = size_t{across} * down;
        std::vector<int16_t> levels(blocks * 64, 0);
        const uint32_t density = static_cast<uint32_t>(random() % 5);
        for (size_t b = 0; b < blocks; ++b) {
            if (random() % 4 < density) continue;  // wholly empty blocks make end-of-block runs
            const int used = static_cast<int>(random() % 65);
            for (int i = 0; i < used; ++i) {
                if (random() % 3 != 0) continue;
                const int magnitude =
                    random() % 8 == 0 ? static_cast<int>(random() % 581) : 1 + static_cast<int>(random() % 6);
                levels[b * 64 + static_cast<size_t>(i)] =
                    static_cast<int16_t>(random() % 2 ? magnitude : -magnitude);
            }
        }
        std::vector<uint8_t> expectedLast(blocks, 0);
        for (size_t i = 0; i < levels.size(); ++i) {
            if (levels[i] != 0) expectedLast[i / 64] = static_cast<uint8_t>(i % 64);
        }
        for (uint8_t arithmetic : {uint8_t{0}, uint8_t{1}}) {
            TokenStream stream;
            stream.arithmetic = arithmetic;
            const std::vector<uint8_t> bytes = Encode(stream, levels);
            EXPECT_EQ(bytes[9 + (bytes[4] | bytes[5] << 8)], arithmetic);
            std::vector<int16_t> back;
            std::vector<uint8_t> lastIndex;
            ASSERT_TRUE(DecodeRows(bytes, blocks, std::vector<uint32_t>(down, across), &back, &lastIndex))
                << "trial " << trial;
            ASSERT_EQ(back, levels) << "trial " << trial;
            ASSERT_EQ(lastIndex, expectedLast);
        }
    }
}

// A stream written from a hand-made token list, for shapes the tokeniser never produces.
std::vector<uint8_t> StreamOf(const std::vector<Token>& tokens) {
    TokenStream stream;
    for (auto [token, extra] : tokens) {
        stream.tokens.push_back(static_cast<uint8_t>(token));
        stream.extraBits.push_back(extra);
    }
    std::vector<uint8_t> out(4096);
    EXPECT_TRUE(WriteTokenStream(stream, out.data(), out.data() + out.size()));
    size_t size = 0;
    EXPECT_TRUE(FinishTokenStream(stream, &size));
    out.resize(size);
    return out;
}

TEST(TokenStreamTest, CorruptStructureIsRefused) {
    std::vector<int16_t> levels;
    std::vector<uint8_t> lastIndex;
    // A zero run of 31 starting at position 40 leaves its block.
    const std::vector<uint8_t> longRun = StreamOf({{9, Extra(0, 1)}, {0, Extra(15, 4)}, {0, Extra(15, 4)}});
    EXPECT_FALSE(DecodeRows(longRun, 1, {1}, &levels, &lastIndex));
    const std::vector<uint8_t> fitting =
        StreamOf({{0, Extra(15, 4)}, {0, Extra(15, 4)}, {7, 0}, {9, Extra(1, 1)}});
    ASSERT_TRUE(DecodeRows(fitting, 1, {1}, &levels, &lastIndex));
    EXPECT_EQ(levels[63], -1);

    // Four end-of-blocks where three blocks are left.
    const std::vector<uint8_t> longEobRun = StreamOf({{12, Extra(0b1100, 4)}});
    EXPECT_FALSE(DecodeRows(longEobRun, 3, {2, 1}, &levels, &lastIndex));
    EXPECT_TRUE(DecodeRows(longEobRun, 4, {3, 1}, &levels, &lastIndex));

    // Tokens run out before the row is complete.
    const std::vector<uint8_t> shortStream = StreamOf({{8, 0}});
    EXPECT_FALSE(DecodeRows(shortStream, 2, {2}, &levels, &lastIndex));

    // Sizes and counts beyond the stream.
    TokenStream stream;
    std::vector<uint8_t> bytes = fitting;
    EXPECT_FALSE(OpenTokenStream(stream, bytes.data(), 8, 1));
    EXPECT_FALSE(OpenTokenStream(stream, bytes.data(), 9 + bytes[4], 1));  // token string missing
    EXPECT_FALSE(OpenTokenStream(stream, bytes.data(), bytes.size(), 0));  // more tokens than levels
    bytes[5] = 0x40;                                                       // table size
    EXPECT_FALSE(OpenTokenStream(stream, bytes.data(), bytes.size(), 1));
    bytes = fitting;
    bytes[8] = 1;  // token string size
    EXPECT_FALSE(OpenTokenStream(stream, bytes.data(), bytes.size(), 1));
}

TEST(TokenStreamTest, OutputBeyondTheBufferIsReported) {
    std::vector<int16_t> levels(64 * 8);
    for (size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<int16_t>(i % 7 == 0 ? 300 : 0);
    std::vector<uint8_t> out(40, 0xEE);
    TokenStream stream;
    EXPECT_FALSE(EncodeTokenStream(stream, levels.data(), levels.size(), out.data(), out.data() + 30));
    size_t size = 0;
    FinishTokenStream(stream, &size);
    for (size_t i = 30; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE);
}

// The extra bits are stored a word at a time, byte by byte near the end: a buffer cut anywhere must hold
// exactly the start of the whole stream and nothing behind its end.
TEST(TokenStreamTest, CutBuffersHoldTheStartOfTheWholeStream) {
    std::vector<int16_t> levels(64 * 6);
    for (size_t i = 0; i < levels.size(); ++i)
        levels[i] = static_cast<int16_t>(i % 5 == 0 ? static_cast<int>(i) - 200 : 0);
    TokenStream stream;
    const std::vector<uint8_t> whole = Encode(stream, levels);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        std::vector<uint8_t> out(whole.size() + 8, 0xEE);
        size_t size = 0;
        EXPECT_FALSE(WriteTokenStream(stream, out.data(), out.data() + cut) &&
                     FinishTokenStream(stream, &size));
        for (size_t i = 9; i < cut; ++i) ASSERT_EQ(out[i], whole[i]) << "cut at " << cut;
        for (size_t i = cut; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << "cut at " << cut;
    }
}

TEST(TokenStreamTest, DamagedStreamsNeverEscapeTheirBuffers) {
    std::mt19937 random(77);
    constexpr uint32_t kAcross = 12, kDown = 6, kBlocks = kAcross * kDown;
    std::vector<int16_t> levels(kBlocks * 64, 0);
    for (size_t i = 0; i < levels.size(); ++i) {
        if (random() % 9 == 0 && i % 64 < 30)
            levels[i] = static_cast<int16_t>(static_cast<int>(random() % 100) - 50);
    }
    for (size_t b = 20; b < 40; ++b)
        std::fill_n(levels.begin() + static_cast<ptrdiff_t>(b * 64), 64, int16_t{0});
    for (uint8_t arithmetic : {uint8_t{0}, uint8_t{1}}) {
        TokenStream encoder;
        encoder.arithmetic = arithmetic;
        const std::vector<uint8_t> bytes = Encode(encoder, levels);
        int refused = 0;
        for (int trial = 0; trial < 2000; ++trial) {
            std::vector<uint8_t> damaged(bytes);
            for (int flips = 1 + trial % 3; flips > 0; --flips) {
                damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
            }
            if (trial % 4 == 0) damaged.resize(random() % damaged.size());
            std::vector<int16_t> back;
            std::vector<uint8_t> lastIndex;
            refused +=
                !DecodeRows(damaged, kBlocks, std::vector<uint32_t>(kDown, kAcross), &back, &lastIndex);
        }
        EXPECT_GT(refused, 0);
    }
}

}  // namespace
}  // namespace rq43
