// The merge order of the stream's code trees: the residual token tables and the motion vector stream build
// their trees by the same rule, so they share it here.
#pragma once

#include <cstdint>
#include <span>

namespace rq43 {

constexpr uint32_t kMaxHuffmanLeaves = 256;

// Merge k creates node leafCount + k from the two lightest nodes without a parent (leaves are nodes
// 0..leafCount-1), the lowest index winning a tie; first becomes child 0.
struct HuffmanMerge {
    int32_t first = -1;
    int32_t second = -1;
    uint32_t weight = 0;
};

// Fills merges[0 .. leafWeights.size() - 2]; leafWeights holds 1..kMaxHuffmanLeaves weights.
void BuildHuffmanMerges(std::span<const uint32_t> leafWeights, std::span<HuffmanMerge> merges);

}  // namespace rq43
