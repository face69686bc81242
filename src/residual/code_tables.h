// Order-1 context model of a token string: the context of a token is the token before it (8 for the
// first), one Huffman tree per context built from counts that travel in the stream, and the string coded
// either with the trees' prefix codes or with binary decisions on their branches through the range coder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rq43 {

constexpr uint32_t kTokenAlphabetSize = 22;
constexpr uint8_t kFirstTokenContext = 8;

struct ContextHistogram {
    std::vector<uint32_t> counts;  // indexed by the following token
    uint32_t countSize = 0;
    uint32_t total = 0;
    uint32_t firstUsed = 255;  // lowest token with a count (255 when none)
    uint32_t lastUsed = 0;     // highest token with a count
};

struct CodeNode {
    uint8_t token = 0;  // leaves
    uint8_t p = 0;      // probability of child1 in 1/256 units (internal nodes)
    uint32_t weight = 0;
    int16_t child0 = -1;
    int16_t child1 = -1;
    int16_t parent = -1;
};

struct TokenCode {
    uint32_t value = 0;
    uint32_t length = 0;  // 0 for the only token of a single-leaf tree
};

struct CodeTree {
    uint32_t alphabetSize = 0;
    uint32_t leafCount = 0;  // 0: the context has no tree
    int32_t root = -1;
    std::vector<TokenCode> codes;  // per token; entries of tokens without a leaf are unused
    std::vector<CodeNode> nodes;   // the leaves in ascending token order, then the merged nodes
    uint32_t nodeCapacity = 0;
    uint32_t nodeCount = 0;
};

struct CodeTableSet {
    std::vector<ContextHistogram> histograms;
    uint32_t contextCount = 0;
    std::vector<CodeTree> trees;
    // BuildCodeTables: how often each token follows each context, before normalisation.
    uint32_t pairCounts[kTokenAlphabetSize][kTokenAlphabetSize] = {};
};

// Counts tokens (each below kTokenAlphabetSize) by context, normalises and builds every tree.
void BuildCodeTables(CodeTableSet& set, const uint8_t* tokens, size_t tokenCount);

// Scales a context's counts into 1..255 when its largest count exceeds 255.
void NormaliseCounts(ContextHistogram& histogram);

// Builds the tree of a histogram with a non-zero total; ties go to the lowest node index.
void BuildHuffmanTree(CodeTree& tree, const ContextHistogram& histogram);

// Fills the tree's codes and branch probabilities.
void AssignCodes(CodeTree& tree);

// Writers stop at end (dropping what does not fit) but always return the size the data needs, so a
// result above end - out means the buffer was too small.
size_t WriteCodeTables(const CodeTableSet& set, uint8_t* out, uint8_t* end);
size_t EncodeTokenString(const CodeTableSet& set, const uint8_t* tokens, size_t tokenCount, bool arithmetic,
                         uint8_t* out, uint8_t* end);

// A size EncodeTokenString's result never falls below, for the tokens BuildCodeTables made the set of:
// exact for prefix codes, a lower bound for the range coder. Far cheaper than coding.
size_t TokenStringSizeAtLeast(const CodeTableSet& set, bool arithmetic);

// Readers refuse corrupt tables (more than 22 contexts, a used token range outside the alphabet) and token
// strings that use a context without a tree; they never read at or beyond end.
bool ReadCodeTables(CodeTableSet& set, const uint8_t* in, const uint8_t* end);
bool DecodeTokenString(const CodeTableSet& set, const uint8_t* in, const uint8_t* end, size_t tokenCount,
                       uint8_t* tokensOut);

}  // namespace rq43
