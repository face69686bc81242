// Prefix-code decoding a byte of bits at a time, for the code trees of the token tables and of the
// motion vector stream: per value of the next kPrefixPeekBits bits, the node they lead to (a leaf, or the
// inner node reached once all of them are taken) and the bits that takes.
#pragma once

#include <algorithm>
#include <cstdint>

namespace rq43 {

constexpr int kPrefixPeekBits = 8;

struct PrefixPeekEntry {
    int16_t node;
    uint8_t bits;
};

// Fills the 1 << kPrefixPeekBits entries of `table` for the tree below `root`; `isLeaf(node)` tells the
// leaves, `child(node, side)` the inner nodes' children (side 0 for a 0 bit).
template <typename IsLeaf, typename Child>
void FillPrefixPeekTable(PrefixPeekEntry* table, int16_t root, const IsLeaf& isLeaf, const Child& child,
                         uint32_t prefix = 0, int depth = 0) {
    if (isLeaf(root) || depth == kPrefixPeekBits) {
        const uint32_t first = prefix << (kPrefixPeekBits - depth);
        std::fill(table + first, table + first + (1u << (kPrefixPeekBits - depth)),
                  PrefixPeekEntry{root, static_cast<uint8_t>(depth)});
        return;
    }
    for (uint32_t side = 0; side < 2; ++side)
        FillPrefixPeekTable(table, static_cast<int16_t>(child(root, side)), isLeaf, child, 2 * prefix + side,
                            depth + 1);
}

}  // namespace rq43
