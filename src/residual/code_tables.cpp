#include "residual/code_tables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "bitstream/bit_reader.h"
#include "bitstream/bit_writer.h"
#include "bitstream/huffman_merges.h"
#include "bitstream/prefix_peek.h"
#include "bitstream/range_coder.h"
#include "bitstream/word_reader.h"

namespace rq43 {

namespace {

void ResetHistogram(ContextHistogram& histogram, uint32_t countSize) {
    histogram.counts.assign(countSize, 0);
    histogram.countSize = countSize;
    histogram.total = 0;
    histogram.firstUsed = 255;
    histogram.lastUsed = 0;
}

void SummariseHistogram(ContextHistogram& histogram) {
    histogram.total = 0;
    histogram.firstUsed = 255;
    histogram.lastUsed = 0;
    for (uint32_t t = 0; t < histogram.countSize; ++t) {
        if (histogram.counts[t] == 0) continue;
        histogram.total += histogram.counts[t];
        histogram.firstUsed = std::min(histogram.firstUsed, t);
        histogram.lastUsed = t;
    }
}

// An empty tree that keeps its vectors' storage: the decoder builds up to 44 trees a frame.
void ClearTree(CodeTree& tree) {
    tree.alphabetSize = 0;
    tree.leafCount = 0;
    tree.root = -1;
    tree.codes.clear();
    tree.nodes.clear();
    tree.nodeCapacity = 0;
    tree.nodeCount = 0;
}

void ResetSet(CodeTableSet& set, uint32_t contextCount) {
    std::memset(set.pairCounts, 0, sizeof set.pairCounts);
    set.contextCount = contextCount;
    set.histograms.resize(contextCount);
    set.trees.resize(contextCount);
    for (uint32_t c = 0; c < contextCount; ++c) {
        ResetHistogram(set.histograms[c], contextCount);
        ClearTree(set.trees[c]);
    }
}

void BuildTrees(CodeTableSet& set) {
    for (uint32_t c = 0; c < set.contextCount; ++c) {
        if (set.histograms[c].total == 0) continue;
        BuildHuffmanTree(set.trees[c], set.histograms[c]);
        AssignCodes(set.trees[c]);
    }
}

void AssignFrom(CodeTree& tree, int32_t index, uint32_t code, uint32_t depth) {
    CodeNode& node = tree.nodes[static_cast<size_t>(index)];
    if (node.child0 < 0) {
        tree.codes[node.token] = TokenCode{code, depth};
        return;
    }
    const uint32_t w1 = tree.nodes[static_cast<size_t>(node.child1)].weight;
    uint32_t p = (w1 * 256 + node.weight / 2) / node.weight;
    if (p == 0 && w1 != 0) p = 1;
    node.p = static_cast<uint8_t>(std::min(p, 255u));
    AssignFrom(tree, node.child0, code * 2, depth + 1);
    AssignFrom(tree, node.child1, code * 2 + 1, depth + 1);
}

const CodeTree* TreeOf(const CodeTableSet& set, uint32_t context) {
    if (context >= set.contextCount || context >= set.trees.size()) return nullptr;
    const CodeTree& tree = set.trees[context];
    return tree.leafCount == 0 ? nullptr : &tree;
}

// The trees of a set as the decoder walks them: internal nodes only, a child below 0 being the leaf of
// token ~child.
struct DecodingNode {
    uint8_t p;
    int16_t child[2];
};
constexpr int16_t kNoTree = INT16_MIN;

struct DecodingTrees {
    // A tree of n leaves has n - 1 internal nodes.
    DecodingNode nodes[kTokenAlphabetSize * (kTokenAlphabetSize - 1)];
    int16_t root[kTokenAlphabetSize];  // per context: a node, a leaf (~token), or kNoTree
    int32_t nodeCount;
};

int16_t DecodingIndex(const CodeTree& tree, int32_t index, int32_t base) {
    const CodeNode& node = tree.nodes[static_cast<size_t>(index)];
    if (node.child0 < 0) return static_cast<int16_t>(~int32_t{node.token});
    return static_cast<int16_t>(base + index - static_cast<int32_t>(tree.leafCount));
}

void PrepareDecodingTrees(const CodeTableSet& set, DecodingTrees& out) {
    int32_t base = 0;
    for (uint32_t context = 0; context < kTokenAlphabetSize; ++context) {
        const CodeTree* tree = TreeOf(set, context);
        if (tree == nullptr) {
            out.root[context] = kNoTree;
            continue;
        }
        // Leaves come first in a tree's nodes, then the merged nodes, the root last.
        for (uint32_t i = tree->leafCount; i < tree->nodeCount; ++i) {
            const CodeNode& node = tree->nodes[i];
            DecodingNode& flat = out.nodes[base + static_cast<int32_t>(i - tree->leafCount)];
            flat.p = node.p;
            flat.child[0] = DecodingIndex(*tree, node.child0, base);
            flat.child[1] = DecodingIndex(*tree, node.child1, base);
        }
        out.root[context] = DecodingIndex(*tree, tree->root, base);
        base += static_cast<int32_t>(tree->nodeCount - tree->leafCount);
    }
    out.nodeCount = base;
}

// Per context and token its code and the branch probabilities from the root to its leaf, so the encoder
// walks no tree.
// A decision as the coder applies it, with r = range >> 8 (so range = 256 r + (range & 0xFF)): a 1 keeps
// p r of the range; a 0 keeps the rest, (256 - p) r + (range & 0xFF), and moves low up by p r. Written so,
// the next range waits for one multiply and one add.
struct EncodingStep {
    uint16_t scale;   // p for a 1, 256 - p for a 0
    uint8_t lowStep;  // 0 for a 1, p for a 0
    uint8_t rest;     // 0 for a 1, 0xFF for a 0: the mask of range's low byte that stays
};
struct EncodingPath {
    uint32_t length;
    EncodingStep step[kTokenAlphabetSize - 1];  // a tree of n leaves is at most n - 1 deep
};
using EncodingPaths = EncodingPath[kTokenAlphabetSize][kTokenAlphabetSize];

void PrepareEncodingPaths(const CodeTableSet& set, EncodingPaths& out) {
    for (uint32_t context = 0; context < kTokenAlphabetSize; ++context) {
        const CodeTree* tree = TreeOf(set, context);
        for (EncodingPath& path : out[context]) path.length = 0;  // a token without a leaf codes nothing
        if (tree == nullptr) continue;
        for (uint32_t token = 0; token < tree->codes.size() && token < kTokenAlphabetSize; ++token) {
            const TokenCode& code = tree->codes[token];
            EncodingPath& path = out[context][token];
            path.length = code.length;
            int32_t index = tree->root;
            for (uint32_t bit = code.length, k = 0; bit-- > 0; ++k) {
                const CodeNode& node = tree->nodes[static_cast<size_t>(index)];
                const uint32_t decision = (code.value >> bit) & 1;
                path.step[k] = decision != 0
                                   ? EncodingStep{node.p, 0, 0}
                                   : EncodingStep{static_cast<uint16_t>(256 - node.p), node.p, 0xFF};
                index = decision != 0 ? node.child1 : node.child0;
            }
        }
    }
}

// The decoders below keep their state in locals: a token store may alias anything, so state reached
// through a pointer would be reloaded and stored around every token.

// The range-coded walk as one loop over decisions, not one per token: each way out of a node leads to the
// node decided next (for a leaf, the root of the context its token opens) and carries that node's p and
// the token it ends, so the end of a token is no branch, and the next p needs no load after the decision.
// A way packs the next node (low 16 bits; kWayStops where the next context has no decision: one token or
// no tree), its p (bits 16..23) and, for a leaf, its token | kWayEndsToken (bits 24..31).
constexpr uint32_t kWayStops = 0xFFFF;
constexpr uint32_t kWayEndsToken = 0x80;

struct DecodingWalk {
    uint32_t way[kTokenAlphabetSize * (kTokenAlphabetSize - 1)][2];
};

uint32_t WayTo(const DecodingTrees& trees, int16_t child) {
    if (child >= 0) return static_cast<uint16_t>(child) | uint32_t{trees.nodes[child].p} << 16;
    const auto token = static_cast<uint32_t>(~child);
    const uint32_t ends = (token | kWayEndsToken) << 24;
    const int16_t root = trees.root[token];
    if (root < 0) return kWayStops | ends;
    return static_cast<uint16_t>(root) | uint32_t{trees.nodes[root].p} << 16 | ends;
}

void PrepareDecodingWalk(const DecodingTrees& trees, DecodingWalk& walk) {
    for (int32_t node = 0; node < trees.nodeCount; ++node) {
        for (int way = 0; way < 2; ++way) walk.way[node][way] = WayTo(trees, trees.nodes[node].child[way]);
    }
}

bool DecodeRangeCoded(const DecodingTrees& trees, const uint8_t* in, const uint8_t* end, size_t tokenCount,
                      uint8_t* tokensOut) {
    DecodingWalk walk;
    PrepareDecodingWalk(trees, walk);
    RangeDecoder start;
    StartRangeDecoder(start, in, end);
    RangeDecoder decoder = start;
    uint32_t context = kFirstTokenContext;
    size_t i = 0;
    while (i < tokenCount) {
        // The first token, and tokens after a context without decisions: the tree's root read directly.
        const int16_t root = trees.root[context];
        if (root == kNoTree) return false;
        if (root < 0) {
            context = static_cast<uint32_t>(~root);
            tokensOut[i++] = static_cast<uint8_t>(context);
            continue;
        }
        uint32_t node = static_cast<uint16_t>(root);
        uint32_t p = trees.nodes[root].p;
        while (i < tokenCount) {
            // Both ways are read before the decision, which then only selects one. A token is stored at
            // every decision and kept (i advanced) only at its leaf.
            const uint32_t way0 = walk.way[node][0], way1 = walk.way[node][1];
            const uint32_t taken = DecodeUnpredictableDecision(decoder, p);
            const uint32_t way = way0 ^ ((way0 ^ way1) & taken);
            const uint32_t ends = way >> 24;
            tokensOut[i] = static_cast<uint8_t>(ends & ~kWayEndsToken);
            i += ends >> 7;
            p = (way >> 16) & 0xFF;
            node = way & 0xFFFF;
            if (node == kWayStops) {
                context = ends & ~kWayEndsToken;
                break;
            }
        }
    }
    return true;
}

bool DecodePrefixCoded(const DecodingTrees& trees, const uint8_t* in, const uint8_t* end, size_t tokenCount,
                       uint8_t* tokensOut) {
    // Per context; only the entries of contexts with a tree are filled, and read.
    PrefixPeekEntry tables[kTokenAlphabetSize][1 << kPrefixPeekBits];
    for (uint32_t context = 0; context < kTokenAlphabetSize; ++context) {
        if (trees.root[context] != kNoTree)
            FillPrefixPeekTable(
                tables[context], trees.root[context], [](int16_t node) { return node < 0; },
                [&](int16_t node, uint32_t side) { return trees.nodes[node].child[side]; });
    }
    WordReader reader(in, end);
    uint32_t context = kFirstTokenContext;
    for (size_t i = 0; i < tokenCount; ++i) {
        if (trees.root[context] == kNoTree) return false;
        // A code is at most kTokenAlphabetSize - 1 bits long.
        if (reader.count < static_cast<int32_t>(kTokenAlphabetSize)) reader.Refill();
        const PrefixPeekEntry entry = tables[context][reader.Peek(kPrefixPeekBits)];
        reader.Skip(entry.bits);
        int32_t node = entry.node;
        while (node >= 0) {
            const DecodingNode& step = trees.nodes[node];
            node = step.child[reader.Peek(1)];
            reader.Skip(1);
        }
        const auto token = static_cast<uint8_t>(~node);
        tokensOut[i] = token;
        context = token;
    }
    // A prefix-coded string is padded to its last byte: needing more means it was cut short.
    return reader.taken <= reader.limit;
}

}  // namespace

void BuildCodeTables(CodeTableSet& set, const uint8_t* tokens, size_t tokenCount) {
    ResetSet(set, kTokenAlphabetSize);
    auto& pairs = set.pairCounts;
    uint32_t context = kFirstTokenContext;
    for (size_t i = 0; i < tokenCount; ++i) {
        const uint32_t token = std::min<uint32_t>(tokens[i], kTokenAlphabetSize - 1);
        pairs[context][token] += 1;
        context = token;
    }
    for (uint32_t c = 0; c < kTokenAlphabetSize; ++c)
        std::copy(pairs[c], pairs[c] + kTokenAlphabetSize, set.histograms[c].counts.begin());
    for (ContextHistogram& histogram : set.histograms) {
        SummariseHistogram(histogram);
        NormaliseCounts(histogram);
    }
    BuildTrees(set);
}

void NormaliseCounts(ContextHistogram& histogram) {
    uint32_t largest = 0;
    for (uint32_t c : histogram.counts) largest = std::max(largest, c);
    if (largest <= 255) return;
    const float factor = 65280.0f / static_cast<float>(largest);
    for (uint32_t& c : histogram.counts) {
        if (c == 0) continue;
        const double scaled =
            static_cast<double>(c) * static_cast<double>(factor) * 0.00390625 + static_cast<double>(0.4f);
        c = std::clamp(static_cast<uint32_t>(scaled), 1u, 255u);
    }
}

void BuildHuffmanTree(CodeTree& tree, const ContextHistogram& histogram) {
    ClearTree(tree);
    tree.alphabetSize = histogram.countSize;
    tree.codes.assign(histogram.countSize, TokenCode{});
    for (uint32_t t = 0; t < histogram.countSize; ++t) tree.leafCount += histogram.counts[t] != 0;
    tree.nodeCapacity = 2 * tree.leafCount;
    tree.nodes.assign(tree.nodeCapacity, CodeNode{});
    for (uint32_t t = 0; t < histogram.countSize; ++t) {
        if (histogram.counts[t] == 0) continue;
        CodeNode& leaf = tree.nodes[tree.nodeCount++];
        leaf.token = static_cast<uint8_t>(t);
        leaf.weight = histogram.counts[t];
    }
    if (tree.leafCount == 0) return;
    std::array<uint32_t, kMaxHuffmanLeaves> weights;
    std::array<HuffmanMerge, kMaxHuffmanLeaves> merges;
    const uint32_t leafCount = std::min(tree.leafCount, kMaxHuffmanLeaves);  // tokens are bytes
    for (uint32_t i = 0; i < leafCount; ++i) weights[i] = tree.nodes[i].weight;
    BuildHuffmanMerges(std::span(weights.data(), leafCount), merges);
    for (uint32_t merge = 0; merge + 1 < leafCount; ++merge) {
        const auto created = static_cast<int16_t>(tree.nodeCount);
        CodeNode& node = tree.nodes[tree.nodeCount++];
        node.child0 = static_cast<int16_t>(merges[merge].first);
        node.child1 = static_cast<int16_t>(merges[merge].second);
        node.weight = merges[merge].weight;
        tree.nodes[static_cast<size_t>(node.child0)].parent = created;
        tree.nodes[static_cast<size_t>(node.child1)].parent = created;
    }
    tree.root = static_cast<int32_t>(tree.nodeCount) - 1;
}

void AssignCodes(CodeTree& tree) {
    if (tree.root >= 0) AssignFrom(tree, tree.root, 0, 0);
}

size_t WriteCodeTables(const CodeTableSet& set, uint8_t* out, uint8_t* end) {
    BitWriter writer;
    StartBitWriter(writer, out, end);
    WriteBits(writer, set.contextCount - 1, 5);
    for (uint32_t c = 0; c < set.contextCount; ++c) {
        const ContextHistogram& histogram = set.histograms[c];
        if (histogram.total == 0) {
            WriteBits(writer, 0, 1);
            continue;
        }
        WriteBits(writer, 1, 1);
        WriteBits(writer, histogram.firstUsed, 5);
        WriteBits(writer, histogram.lastUsed, 5);
        for (uint32_t t = histogram.firstUsed; t <= histogram.lastUsed; ++t) {
            const uint32_t count = histogram.counts[t];
            if (count < 2) {
                WriteBits(writer, count, 2);
            } else if (count < 18) {
                WriteBits(writer, (2u << 4) | (count - 2), 6);
            } else {
                WriteBits(writer, (3u << 8) | count, 10);
            }
        }
    }
    FlushBitWriter(writer);
    return static_cast<size_t>(writer.totalBits / 8);
}

bool ReadCodeTables(CodeTableSet& set, const uint8_t* in, const uint8_t* end) {
    BitReader reader;
    StartBitReader(reader, in, end);
    const uint32_t contextCount = ReadBits(reader, 5) + 1;
    if (contextCount > kTokenAlphabetSize) return false;
    ResetSet(set, contextCount);
    for (uint32_t c = 0; c < contextCount; ++c) {
        if (ReadBits(reader, 1) == 0) continue;
        const uint32_t firstUsed = ReadBits(reader, 5);
        const uint32_t lastUsed = ReadBits(reader, 5);
        if (firstUsed > lastUsed || lastUsed >= contextCount) return false;
        ContextHistogram& histogram = set.histograms[c];
        for (uint32_t t = firstUsed; t <= lastUsed; ++t) {
            if (ReadBits(reader, 1) == 0) {
                histogram.counts[t] = ReadBits(reader, 1);
            } else if (ReadBits(reader, 1) == 0) {
                histogram.counts[t] = ReadBits(reader, 4) + 2;
            } else {
                histogram.counts[t] = ReadBits(reader, 8);
            }
        }
    }
    if (reader.overrun) return false;
    for (ContextHistogram& histogram : set.histograms) SummariseHistogram(histogram);
    BuildTrees(set);
    return true;
}

size_t EncodeTokenString(const CodeTableSet& set, const uint8_t* tokens, size_t tokenCount, bool arithmetic,
                         uint8_t* out, uint8_t* end) {
    uint32_t context = kFirstTokenContext;
    if (!arithmetic) {
        BitWriter writer;
        StartBitWriter(writer, out, end);
        WriteBits(writer, 0, 8);
        for (size_t i = 0; i < tokenCount; ++i) {
            const TokenCode& code = set.trees[context].codes[tokens[i]];
            WriteBits(writer, code.value, static_cast<int>(code.length));
            context = tokens[i];
        }
        FlushBitWriter(writer);
        return static_cast<size_t>(writer.totalBits / 8);
    }
    RangeEncoder encoder;
    StartRangeEncoder(encoder, out, end, 1);
    EncodingPaths paths;
    PrepareEncodingPaths(set, paths);
    // The decisions of as many tokens as fit go in one list first: a loop over each token's path would end
    // after a varying count, which the processor mispredicts about once per token.
    constexpr size_t kListSteps = 2048;
    constexpr size_t kCopiedSteps = 8;  // copied whatever the path's length; longer paths are rare
    static_assert(kCopiedSteps <= kTokenAlphabetSize - 1);
    EncodingStep list[kListSteps];
    // EncodeDecision with the interval in locals and without branches on the decisions, which are what a
    // predictor cannot guess. A node's p is at most 255, so a 0 always leaves room and needs no clamp.
    uint32_t low = encoder.low, range = encoder.range;
    for (size_t i = 0; i < tokenCount;) {
        EncodingStep* filled = list;
        for (; i < tokenCount && filled <= list + kListSteps - (kTokenAlphabetSize - 1); ++i) {
            const EncodingPath& path = paths[context][tokens[i]];
            std::memcpy(filled, path.step, kCopiedSteps * sizeof(EncodingStep));
            if (path.length > kCopiedSteps)
                std::memcpy(filled + kCopiedSteps, path.step + kCopiedSteps,
                            (path.length - kCopiedSteps) * sizeof(EncodingStep));
            filled += path.length;
            context = tokens[i];
        }
        for (const EncodingStep* step = list; step != filled; ++step) {
            Renormalise(encoder, low, range);
            const uint32_t r = range >> 8;
            low += uint32_t{step->lowStep} * r;
            range = uint32_t{step->scale} * r + (range & step->rest);
        }
    }
    encoder.low = low;
    encoder.range = range;
    FlushRangeEncoder(encoder);
    return static_cast<size_t>(encoder.byteCount);
}

// The range coder's bytes: a decision of p keeps at most p / 256 of the interval for a 1, and for a 0 at most
// (256 - p) / 256 + p / 65536 (range >> 8 truncates, and the range exceeds 2^16 at every decision). From
// 2^24 down to a final range above 2^8, with a byte shifted out per factor 256 and two more at the flush,
// the bytes are at least the bits -log2 of the kept shares add up to, over 8.
size_t TokenStringSizeAtLeast(const CodeTableSet& set, bool arithmetic) {
    // -log2 of the most a decision of p keeps, by way taken (p is never 0; its zeros would only lower the
    // bound).
    static const auto kDecisionBits = [] {
        std::array<std::array<double, 2>, 256> bits{};
        for (int p = 1; p < 256; ++p) {
            bits[static_cast<size_t>(p)][0] = -std::log2(((256.0 - p) * 256 + p) / 65536);
            bits[static_cast<size_t>(p)][1] = -std::log2(p / 256.0);
        }
        return bits;
    }();
    const auto& pairs = set.pairCounts;
    double bits = arithmetic ? 0 : 8;
    for (uint32_t c = 0; c < kTokenAlphabetSize; ++c) {
        const CodeTree* tree = TreeOf(set, c);
        if (tree == nullptr) continue;
        for (uint32_t token = 0; token < tree->codes.size() && token < kTokenAlphabetSize; ++token) {
            if (pairs[c][token] == 0) continue;
            const TokenCode& code = tree->codes[token];
            double pathBits = code.length;
            if (arithmetic) {
                pathBits = 0;
                int32_t index = tree->root;
                for (uint32_t bit = code.length; bit-- > 0;) {
                    const CodeNode& node = tree->nodes[static_cast<size_t>(index)];
                    const uint32_t way = (code.value >> bit) & 1;
                    pathBits += kDecisionBits[node.p][way];
                    index = way != 0 ? node.child1 : node.child0;
                }
            }
            bits += pathBits * pairs[c][token];
        }
    }
    if (!arithmetic) return static_cast<size_t>(bits + 7) / 8;
    // Rounded down, and a hair below, so the sum's rounding cannot lift it past the true bound.
    return static_cast<size_t>(std::max(0.0, bits / 8 * (1 - 1e-9)));
}

bool DecodeTokenString(const CodeTableSet& set, const uint8_t* in, const uint8_t* end, size_t tokenCount,
                       uint8_t* tokensOut) {
    if (in >= end) return false;
    DecodingTrees trees;
    PrepareDecodingTrees(set, trees);
    if (*in == 0) return DecodePrefixCoded(trees, in + 1, end, tokenCount, tokensOut);
    return DecodeRangeCoded(trees, in, end, tokenCount, tokensOut);
}

}  // namespace rq43
