#include "residual/code_tables.h"

#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

namespace rq43 {
namespace {

ContextHistogram HistogramOf(std::vector<uint32_t> counts) {
    ContextHistogram histogram;
    histogram.countSize = static_cast<uint32_t>(counts.size());
    histogram.counts = std::move(counts);
    return histogram;
}

TEST(CodeTablesTest, EqualCountsTreeAndProbabilities) {
    CodeTree tree;
    BuildHuffmanTree(tree, HistogramOf({3, 3, 3}));
    AssignCodes(tree);
    ASSERT_EQ(tree.nodeCount, 5u);
    EXPECT_EQ(tree.root, 4);
    EXPECT_EQ(tree.nodes[3].child0, 0);
    EXPECT_EQ(tree.nodes[3].child1, 1);
    EXPECT_EQ(tree.nodes[3].weight, 6u);
    EXPECT_EQ(tree.nodes[4].child0, 2);
    EXPECT_EQ(tree.nodes[4].child1, 3);
    EXPECT_EQ(tree.nodes[4].p, 171);
    EXPECT_EQ(tree.nodes[3].p, 128);
    EXPECT_EQ(tree.codes[2].value, 0u);
    EXPECT_EQ(tree.codes[2].length, 1u);
    EXPECT_EQ(tree.codes[0].value, 2u);
    EXPECT_EQ(tree.codes[0].length, 2u);
    EXPECT_EQ(tree.codes[1].value, 3u);
    EXPECT_EQ(tree.codes[1].length, 2u);
}

TEST(CodeTablesTest, NormalisationKeepsEveryUsedTokenAndTopsAt255) {
    ContextHistogram small = HistogramOf({255, 0, 7});
    NormaliseCounts(small);
    EXPECT_EQ(small.counts, (std::vector<uint32_t>{255, 0, 7}));

    ContextHistogram large = HistogramOf({1000, 1, 500, 0});
    NormaliseCounts(large);
    EXPECT_EQ(large.counts, (std::vector<uint32_t>{255, 1, 127, 0}));
}

// Size of the tables when context 8 is followed by tokens 0..7, each c times (then nothing else counts).
size_t TableSizeWithCounts(uint32_t c) {
    std::vector<uint8_t> tokens;
    for (uint8_t t = 0; t < 8; ++t) {
        for (uint32_t i = 0; i < c; ++i) {
            tokens.push_back(8);
            tokens.push_back(t);
        }
    }
    CodeTableSet set;
    BuildCodeTables(set, tokens.data(), tokens.size());
    // Only context 8 is kept, so each count costs what its size class says.
    for (uint32_t ctx = 0; ctx < set.contextCount; ++ctx) {
        if (ctx != 8) set.histograms[ctx].total = 0;
    }
    std::vector<uint8_t> out(1000);
    return WriteCodeTables(set, out.data(), out.data() + out.size());
}

TEST(CodeTablesTest, CountsCostTwoSixOrTenBits) {
    // 5 bits context count, 21 empty contexts, 11 bits range, then 8 counts.
    EXPECT_EQ(TableSizeWithCounts(1), (5 + 21 + 11 + 8 * 2 + 7) / 8u);
    EXPECT_EQ(TableSizeWithCounts(17), (5 + 21 + 11 + 8 * 6 + 7) / 8u);
    EXPECT_EQ(TableSizeWithCounts(18), (5 + 21 + 11 + 8 * 10 + 7) / 8u);
}

void ExpectSameTrees(const CodeTableSet& a, const CodeTableSet& b) {
    ASSERT_EQ(a.contextCount, b.contextCount);
    for (uint32_t c = 0; c < a.contextCount; ++c) {
        EXPECT_EQ(a.histograms[c].counts, b.histograms[c].counts) << "context " << c;
        EXPECT_EQ(a.histograms[c].total != 0, b.histograms[c].total != 0);
        ASSERT_EQ(a.trees[c].leafCount, b.trees[c].leafCount);
        for (uint32_t t = 0; t < a.contextCount && a.trees[c].leafCount != 0; ++t) {
            if (a.histograms[c].counts[t] == 0) continue;
            EXPECT_EQ(a.trees[c].codes[t].value, b.trees[c].codes[t].value);
            EXPECT_EQ(a.trees[c].codes[t].length, b.trees[c].codes[t].length);
        }
    }
}

std::vector<uint8_t> RandomTokens(std::mt19937& random, size_t count) {
    std::vector<uint8_t> tokens(count);
    for (uint8_t& t : tokens) {
        // Skewed towards small tokens, like real streams; sometimes long repeats.
        uint32_t r = static_cast<uint32_t>(random() % 100);
        t = static_cast<uint8_t>(r < 40 ? 8 + r % 3 : r < 90 ? r % 8 : r % kTokenAlphabetSize);
    }
    return tokens;
}

TEST(CodeTablesTest, TablesAndStringsRoundTripInBothModes) {
    std::mt19937 random(99);
    for (int trial = 0; trial < 200; ++trial) {
        const size_t count = trial % 10 == 0 ? 1 + random() % 3 : static_cast<size_t>(random() % 20000);
        std::vector<uint8_t> tokens = RandomTokens(random, count);
        if (trial % 7 == 0) std::fill(tokens.begin(), tokens.end(), uint8_t{21});
        // Skewed: branch probabilities near 255, where the coder's truncation costs most.
        if (trial % 7 == 3)
            for (uint8_t& t : tokens) t = random() % 300 == 0 ? t : uint8_t{0};
        CodeTableSet set;
        BuildCodeTables(set, tokens.data(), tokens.size());
        std::vector<uint8_t> tables(1024);
        const size_t tableSize = WriteCodeTables(set, tables.data(), tables.data() + tables.size());
        CodeTableSet read;
        ASSERT_TRUE(ReadCodeTables(read, tables.data(), tables.data() + tableSize));
        ExpectSameTrees(set, read);

        for (bool arithmetic : {false, true}) {
            std::vector<uint8_t> string(count * 3 + 16);
            const size_t size = EncodeTokenString(set, tokens.data(), tokens.size(), arithmetic,
                                                  string.data(), string.data() + string.size());
            ASSERT_LE(size, string.size());
            EXPECT_EQ(string[0], arithmetic ? 1 : 0);
            // The bound decides that a section cannot win: above the size, it would drop a smaller frame.
            const size_t least = TokenStringSizeAtLeast(set, arithmetic);
            if (arithmetic)
                EXPECT_LE(least, size) << "trial " << trial;
            else
                EXPECT_EQ(least, size) << "trial " << trial;
            std::vector<uint8_t> back(count);
            ASSERT_TRUE(DecodeTokenString(read, string.data(), string.data() + size, count, back.data()));
            ASSERT_EQ(back, tokens) << "trial " << trial << (arithmetic ? " range" : " prefix");
        }
    }
}

// Prefix codes are read several bits at a time: codes longer than one look-up, and strings that end in
// their last byte or one bit short of it. The range coder copies a fixed number of a path's decisions, so
// long codes must round-trip there too.
TEST(CodeTablesTest, StringsOfLongCodesRoundTripAndPrefixStringsEndAtTheirLastByte) {
    std::mt19937 random(7);
    uint32_t longest = 0;
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<uint8_t> tokens(1 + random() % 5000);
        for (uint8_t& t : tokens) t = static_cast<uint8_t>(std::countr_zero(random() | (1u << 21)));
        CodeTableSet set;
        BuildCodeTables(set, tokens.data(), tokens.size());
        for (const CodeTree& tree : set.trees)
            for (const TokenCode& code : tree.codes) longest = std::max(longest, code.length);
        std::vector<uint8_t> string(tokens.size() * 3 + 16);
        string.resize(EncodeTokenString(set, tokens.data(), tokens.size(), false, string.data(),
                                        string.data() + string.size()));
        std::vector<uint8_t> back(tokens.size());
        ASSERT_TRUE(
            DecodeTokenString(set, string.data(), string.data() + string.size(), back.size(), back.data()));
        ASSERT_EQ(back, tokens) << "trial " << trial;
        std::vector<uint8_t> ranged(tokens.size() * 3 + 16);
        ranged.resize(EncodeTokenString(set, tokens.data(), tokens.size(), true, ranged.data(),
                                        ranged.data() + ranged.size()));
        EXPECT_LE(TokenStringSizeAtLeast(set, true), ranged.size());
        std::vector<uint8_t> rangedBack(tokens.size());
        ASSERT_TRUE(DecodeTokenString(set, ranged.data(), ranged.data() + ranged.size(), rangedBack.size(),
                                      rangedBack.data()));
        ASSERT_EQ(rangedBack, tokens) << "trial " << trial << " range";
        if (string.size() < 2) continue;
        const std::vector<uint8_t> shorter(string.begin(), string.end() - 1);
        EXPECT_FALSE(
            DecodeTokenString(set, shorter.data(), shorter.data() + shorter.size(), back.size(), back.data()))
            << "trial " << trial;
    }
    EXPECT_GT(longest, 8u);  // beyond one look-up
}

TEST(CodeTablesTest, ContextWithOneFollowerCostsNoBits) {
    const std::vector<uint8_t> tokens(500, uint8_t{8});
    CodeTableSet set;
    BuildCodeTables(set, tokens.data(), tokens.size());
    EXPECT_EQ(set.trees[8].codes[8].length, 0u);
    uint8_t out[8];
    EXPECT_EQ(EncodeTokenString(set, tokens.data(), tokens.size(), false, out, out + 8), 1u);
    EXPECT_EQ(EncodeTokenString(set, tokens.data(), tokens.size(), true, out, out + 8), 3u);
}

// The range decoder walks from a leaf straight into the next context's tree; contexts with one follower
// (no decision) and the end of the string break that walk and must not lose or add a token.
TEST(CodeTablesTest, ContextsWithoutDecisionsInsideAString) {
    std::mt19937 random(3);
    std::vector<uint8_t> tokens;
    for (int i = 0; i < 3000; ++i) {
        const auto token = static_cast<uint8_t>(random() % 6);
        tokens.push_back(token);
        if (token == 4) tokens.push_back(5);  // contexts 4 and 3 have one follower each
        if (token == 3) tokens.insert(tokens.end(), {2, 2});
    }
    tokens.push_back(4);  // the last token opens a context with one follower
    CodeTableSet set;
    BuildCodeTables(set, tokens.data(), tokens.size());
    ASSERT_EQ(set.trees[4].leafCount, 1u);
    for (bool arithmetic : {false, true}) {
        std::vector<uint8_t> string(tokens.size() * 3 + 16);
        string.resize(EncodeTokenString(set, tokens.data(), tokens.size(), arithmetic, string.data(),
                                        string.data() + string.size()));
        std::vector<uint8_t> back(tokens.size() + 1);
        ASSERT_TRUE(
            DecodeTokenString(set, string.data(), string.data() + string.size(), tokens.size(), back.data()));
        back.pop_back();
        EXPECT_EQ(back, tokens) << (arithmetic ? "range" : "prefix");
        // One token more: context 4 gives it without a decision.
        back.resize(tokens.size() + 1);
        ASSERT_TRUE(
            DecodeTokenString(set, string.data(), string.data() + string.size(), back.size(), back.data()));
        EXPECT_EQ(back.back(), 5);
    }
}

TEST(CodeTablesTest, LastTokenGivesItsContextNoCount) {
    const uint8_t tokens[] = {3};
    CodeTableSet set;
    BuildCodeTables(set, tokens, 1);
    EXPECT_EQ(set.histograms[8].total, 1u);
    EXPECT_EQ(set.histograms[3].total, 0u);
    EXPECT_EQ(set.trees[3].leafCount, 0u);
    // A token after it has no tree to come from.
    for (bool arithmetic : {false, true}) {
        uint8_t string[8];
        const size_t size = EncodeTokenString(set, tokens, 1, arithmetic, string, string + 8);
        uint8_t back[2];
        EXPECT_TRUE(DecodeTokenString(set, string, string + size, 1, back));
        EXPECT_FALSE(DecodeTokenString(set, string, string + size, 2, back));
    }
    uint8_t out[16];
    // 5 + 21 single zero bits + 11 + 4 counts of tokens 3..3 (one 2-bit count).
    EXPECT_EQ(WriteCodeTables(set, out, out + 16), (5u + 21 + 11 + 2 + 7) / 8);
}

TEST(CodeTablesTest, CorruptTablesAndStringsAreRefused) {
    uint8_t bytes[8] = {};
    CodeTableSet set;
    bytes[0] = 22 << 3;  // 23 contexts
    EXPECT_FALSE(ReadCodeTables(set, bytes, bytes + 8));
    bytes[0] = 21 << 3;
    EXPECT_FALSE(ReadCodeTables(set, bytes, bytes + 1));  // cut short
    EXPECT_TRUE(ReadCodeTables(set, bytes, bytes + 4));   // 22 empty contexts
    const uint8_t string[] = {0, 0, 0};
    uint8_t token = 0;
    EXPECT_FALSE(DecodeTokenString(set, string, string + 3, 1, &token));  // context 8 has no tree
    EXPECT_TRUE(DecodeTokenString(set, string, string + 3, 0, &token));
    EXPECT_FALSE(DecodeTokenString(set, string, string, 0, &token));

    // 4 contexts: tokens never reach the first context 8.
    bytes[0] = 3 << 3;
    EXPECT_TRUE(ReadCodeTables(set, bytes, bytes + 2));
    EXPECT_FALSE(DecodeTokenString(set, string, string + 3, 1, &token));
}

TEST(CodeTablesTest, DamagedInputNeverEscapesItsBuffers) {
    std::mt19937 random(5);
    std::vector<uint8_t> tokens = RandomTokens(random, 3000);
    CodeTableSet set;
    BuildCodeTables(set, tokens.data(), tokens.size());
    for (bool arithmetic : {false, true}) {
        std::vector<uint8_t> data(12000);
        const size_t tableSize = WriteCodeTables(set, data.data(), data.data() + data.size());
        const size_t stringSize = EncodeTokenString(set, tokens.data(), tokens.size(), arithmetic,
                                                    data.data() + tableSize, data.data() + data.size());
        data.resize(tableSize + stringSize);
        for (int trial = 0; trial < 300; ++trial) {
            // Exact-size copies, so the sanitizer sees any read beyond them.
            std::vector<uint8_t> damaged(data);
            for (int flips = 1 + trial % 4; flips > 0; --flips) {
                damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
            }
            const size_t cut = trial % 3 == 0 ? random() % damaged.size() : damaged.size();
            std::vector<uint8_t> tableBytes(damaged.begin(), damaged.begin() + std::min(cut, tableSize));
            CodeTableSet read;
            if (!ReadCodeTables(read, tableBytes.data(), tableBytes.data() + tableBytes.size())) continue;
            std::vector<uint8_t> stringBytes(
                damaged.begin() + static_cast<ptrdiff_t>(std::min(cut, tableSize)),
                damaged.begin() + static_cast<ptrdiff_t>(cut));
            std::vector<uint8_t> back(tokens.size());
            if (DecodeTokenString(read, stringBytes.data(), stringBytes.data() + stringBytes.size(),
                                  back.size(), back.data())) {
                for (uint8_t t : back) ASSERT_LT(t, read.contextCount);
            }
        }
    }
}

}  // namespace
}  // namespace rq43
