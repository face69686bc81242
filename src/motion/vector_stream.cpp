#include "motion/vector_stream.h"

#include <algorithm>
#include <array>

#include "bitstream/bit_reader.h"
#include "bitstream/bit_writer.h"
#include "bitstream/huffman_merges.h"
#include "bitstream/prefix_peek.h"
#include "bitstream/word_reader.h"

namespace rq43 {

namespace {

constexpr int32_t kNone = -1;
constexpr uint32_t kMaxSymbols = 256;

struct TreeNode {
    uint32_t weight = 0;
    int32_t child[2] = {kNone, kNone};
    uint8_t symbol = 0;
};

// Leaves first, in increasing symbol order; then one node per merge, the root last.
struct CodeTree {
    std::array<TreeNode, 2 * kMaxSymbols> nodes;
    int32_t size = 0;

    int32_t Root() const { return size - 1; }
};

void BuildTree(CodeTree& tree) {
    const int32_t leaves = tree.size;
    std::array<uint32_t, kMaxSymbols> weights;
    std::array<HuffmanMerge, kMaxSymbols> merges;
    for (int32_t i = 0; i < leaves; ++i)
        weights[static_cast<size_t>(i)] = tree.nodes[static_cast<size_t>(i)].weight;
    BuildHuffmanMerges(std::span(weights.data(), static_cast<size_t>(leaves)), merges);
    for (int32_t merge = 0; merge + 1 < leaves; ++merge) {
        TreeNode& joined = tree.nodes[static_cast<size_t>(tree.size++)];
        joined = TreeNode{};
        joined.child[0] = merges[static_cast<size_t>(merge)].first;
        joined.child[1] = merges[static_cast<size_t>(merge)].second;
        joined.weight = merges[static_cast<size_t>(merge)].weight;
    }
}

void AddLeaf(CodeTree& tree, uint8_t symbol, uint32_t weight) {
    TreeNode& leaf = tree.nodes[static_cast<size_t>(tree.size++)];
    leaf = TreeNode{};
    leaf.symbol = symbol;
    leaf.weight = weight;
}

// Counts above 255 are scaled so the largest becomes 255; single precision, in exactly this order.
uint32_t ScaledWeight(uint32_t count, uint32_t largest) {
    if (largest <= 255) return count;
    float scale = 65280.0f / static_cast<float>(largest);
    float scaled = static_cast<float>(count) * scale * 0.00390625f + 0.4f;
    uint32_t weight = static_cast<uint32_t>(scaled);
    return weight < 1 ? 1 : weight;
}

struct Code {
    uint32_t bits = 0;
    int length = 0;
};

// Weights of at most 255 over at most 256 leaves keep every code far below 32 bits.
void AssignCodes(const CodeTree& tree, int32_t node, Code code, std::array<Code, kMaxSymbols>& codes) {
    const TreeNode& current = tree.nodes[static_cast<size_t>(node)];
    if (current.child[0] == kNone) {
        codes[current.symbol] = code;
        return;
    }
    for (uint32_t side = 0; side < 2; ++side) {
        AssignCodes(tree, current.child[side], Code{(code.bits << 1) | side, code.length + 1}, codes);
    }
}

void WriteCode(BitWriter& writer, const Code& code) {
    int remaining = code.length;
    while (remaining > 16) {
        remaining -= 16;
        WriteBits(writer, (code.bits >> remaining) & 0xFFFF, 16);
    }
    if (remaining > 0) WriteBits(writer, code.bits & ((1u << remaining) - 1u), remaining);
}

}  // namespace

uint32_t EncodeVectorStream(std::span<const uint8_t> symbols, std::vector<uint8_t>& out) {
    std::array<uint32_t, kMaxSymbols> counts{};
    for (uint8_t symbol : symbols) ++counts[symbol];

    uint32_t firstSymbol = 0;
    uint32_t usedSymbols = 0;
    uint32_t largest = 0;
    for (uint32_t s = 0; s < kMaxSymbols; ++s) {
        if (counts[s] == 0) continue;
        if (usedSymbols == 0) firstSymbol = s;
        ++usedSymbols;
        if (counts[s] > largest) largest = counts[s];
    }

    CodeTree tree;
    std::array<uint32_t, kMaxSymbols> weights{};
    for (uint32_t s = 0; s < kMaxSymbols; ++s) {
        if (counts[s] == 0) continue;
        weights[s] = ScaledWeight(counts[s], largest);
        AddLeaf(tree, static_cast<uint8_t>(s), weights[s]);
    }
    BuildTree(tree);
    std::array<Code, kMaxSymbols> codes{};
    if (tree.size > 1) AssignCodes(tree, tree.Root(), Code{}, codes);

    uint64_t codeBits = 0;
    for (uint32_t s = 0; s < kMaxSymbols; ++s) codeBits += uint64_t{counts[s]} * codes[s].length;
    size_t bound = 5 + (size_t{kMaxSymbols} * 9 + static_cast<size_t>(codeBits)) / 8 + 2;

    size_t start = out.size();
    out.resize(start + bound);
    BitWriter writer;
    StartBitWriter(writer, out.data() + start, out.data() + out.size());
    uint32_t count = static_cast<uint32_t>(symbols.size());
    WriteBits(writer, count & 0xFF, 8);
    WriteBits(writer, (count >> 8) & 0xFF, 8);
    WriteBits(writer, (count >> 16) & 0xFF, 8);
    WriteBits(writer, firstSymbol, 8);
    WriteBits(writer, usedSymbols & 0xFF, 8);
    uint32_t written = 0;
    for (uint32_t s = firstSymbol; written < usedSymbols && s < kMaxSymbols; ++s) {
        uint32_t weight = weights[s];
        if (weight > 7) {
            WriteBits(writer, 1, 1);
            WriteBits(writer, weight, 8);
        } else {
            WriteBits(writer, 0, 1);
            WriteBits(writer, weight, 3);
        }
        if (weight != 0) ++written;
    }
    for (uint8_t symbol : symbols) WriteCode(writer, codes[symbol]);
    FlushBitWriter(writer);
    size_t bytes = static_cast<size_t>(writer.out - (out.data() + start));
    out.resize(start + bytes);
    return static_cast<uint32_t>(bytes * 8);
}

bool DecodeVectorStream(const uint8_t* in, size_t length, uint32_t maxCount, std::vector<uint8_t>& symbols) {
    symbols.clear();
    if (in == nullptr || length < 5) return false;
    BitReader reader;
    StartBitReader(reader, in, in + length);
    uint32_t count = ReadBits(reader, 8);
    count |= ReadBits(reader, 8) << 8;
    count |= ReadBits(reader, 8) << 16;
    uint32_t firstSymbol = ReadBits(reader, 8);
    uint32_t usedSymbols = ReadBits(reader, 8);
    if (count == 0 || count > maxCount || usedSymbols == 0) return false;

    CodeTree tree;
    uint64_t weightSum = 0;
    uint32_t heaviest = 0;
    for (uint32_t s = firstSymbol; static_cast<uint32_t>(tree.size) < usedSymbols; ++s) {
        if (s >= kMaxSymbols) return false;
        uint32_t weight = ReadBits(reader, 1) != 0 ? ReadBits(reader, 8) : ReadBits(reader, 3);
        if (reader.overrun) return false;
        if (weight == 0) continue;
        AddLeaf(tree, static_cast<uint8_t>(s), weight);
        weightSum += weight;
        if (weight > heaviest) heaviest = weight;
    }
    // Unscaled weights are the symbol counts themselves; scaling always lifts the heaviest to 255.
    if (heaviest < 255 && weightSum != count) return false;
    BuildTree(tree);

    symbols.resize(count);
    const TreeNode& root = tree.nodes[static_cast<size_t>(tree.Root())];
    if (root.child[0] == kNone) {
        std::fill(symbols.begin(), symbols.end(), root.symbol);
        return true;
    }
    // The symbols, a byte of bits at a time, from a word-at-a-time reader that finds an overrun after the
    // fact.
    std::array<PrefixPeekEntry, 1u << kPrefixPeekBits> peek;
    FillPrefixPeekTable(
        peek.data(), static_cast<int16_t>(tree.Root()),
        [&](int16_t node) { return tree.nodes[static_cast<size_t>(node)].child[0] == kNone; },
        [&](int16_t node, uint32_t side) { return tree.nodes[static_cast<size_t>(node)].child[side]; });
    const uint64_t position = 8 * static_cast<uint64_t>(reader.in - in) - static_cast<uint64_t>(reader.count);
    WordReader words(in + position / 8, in + length);
    words.Refill();
    words.Skip(static_cast<int>(position % 8));
    for (uint32_t i = 0; i < count; ++i) {
        if (words.count < 32) words.Refill();
        const PrefixPeekEntry entry = peek[words.Peek(kPrefixPeekBits)];
        words.Skip(entry.bits);
        int32_t node = entry.node;
        while (tree.nodes[static_cast<size_t>(node)].child[0] != kNone) {
            if (words.count == 0) words.Refill();
            node = tree.nodes[static_cast<size_t>(node)].child[words.Peek(1)];
            words.Skip(1);
        }
        symbols[i] = tree.nodes[static_cast<size_t>(node)].symbol;
    }
    if (words.taken > words.limit) {
        symbols.clear();
        return false;
    }
    return true;
}

}  // namespace rq43
