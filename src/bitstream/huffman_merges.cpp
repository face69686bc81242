#include "bitstream/huffman_merges.h"

#include <algorithm>
#include <array>

namespace rq43 {

void BuildHuffmanMerges(std::span<const uint32_t> leafWeights, std::span<HuffmanMerge> merges) {
    const auto leafCount = static_cast<uint32_t>(leafWeights.size());
    if (leafCount < 2) return;
    // Two queues hold the orphans in merge order: the leaves sorted by weight then index, and the merged
    // nodes, whose weights never decrease and whose indices always increase. A leaf's index is below
    // every merged node's, so it wins a tie between the queues.
    std::array<uint64_t, kMaxHuffmanLeaves> leaves;
    for (uint32_t i = 0; i < leafCount; ++i) leaves[i] = uint64_t{leafWeights[i]} << 32 | i;
    std::sort(leaves.begin(), leaves.begin() + leafCount);
    uint32_t nextLeaf = 0;
    uint32_t nextMerged = 0;
    uint32_t mergeCount = 0;
    auto lightestOrphan = [&](uint32_t& weight) -> int32_t {
        if (nextLeaf < leafCount &&
            (nextMerged >= mergeCount || (leaves[nextLeaf] >> 32) <= merges[nextMerged].weight)) {
            weight = static_cast<uint32_t>(leaves[nextLeaf] >> 32);
            return static_cast<int32_t>(leaves[nextLeaf++] & 0xFFFFFFFFu);
        }
        weight = merges[nextMerged].weight;
        return static_cast<int32_t>(leafCount + nextMerged++);
    };
    for (; mergeCount + 1 < leafCount; ++mergeCount) {
        HuffmanMerge merge;
        uint32_t firstWeight = 0;
        uint32_t secondWeight = 0;
        merge.first = lightestOrphan(firstWeight);
        merge.second = lightestOrphan(secondWeight);
        merge.weight = firstWeight + secondWeight;
        merges[mergeCount] = merge;
    }
}

}  // namespace rq43
