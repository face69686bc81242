#include "bitstream/huffman_merges.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace rq43 {
namespace {

// Every merge joins the two lightest nodes without a parent, the lowest index winning ties: checked by
// that rule written out, on weights full of ties between leaves and merged nodes, up to the vector
// stream's 256 leaves.
TEST(HuffmanMergesTest, MergeTheLightestOrphansLowestIndexFirst) {
    std::mt19937 random(3);
    for (int trial = 0; trial < 300; ++trial) {
        const size_t leafCount = trial % 3 == 0 ? 2 + random() % (kMaxHuffmanLeaves - 1) : 2 + random() % 21;
        const uint32_t spread = 1 + static_cast<uint32_t>(trial % 6);
        std::vector<uint32_t> weight(leafCount);
        for (uint32_t& w : weight) w = 1 + static_cast<uint32_t>(random()) % spread;
        weight[random() % leafCount] = 1 + static_cast<uint32_t>(random()) % 255;
        std::vector<HuffmanMerge> merges(leafCount - 1);
        BuildHuffmanMerges(weight, merges);
        std::vector<bool> orphan(leafCount, true);
        auto lightest = [&] {
            size_t best = weight.size();
            for (size_t i = 0; i < weight.size(); ++i)
                if (orphan[i] && (best == weight.size() || weight[i] < weight[best])) best = i;
            orphan[best] = false;
            return best;
        };
        for (size_t merge = 0; merge + 1 < leafCount; ++merge) {
            const size_t first = lightest(), second = lightest();
            ASSERT_EQ(merges[merge].first, static_cast<int32_t>(first)) << "trial " << trial;
            ASSERT_EQ(merges[merge].second, static_cast<int32_t>(second)) << "trial " << trial;
            ASSERT_EQ(merges[merge].weight, weight[first] + weight[second]) << "trial " << trial;
            weight.push_back(weight[first] + weight[second]);
            orphan.push_back(true);
        }
    }
}

}  // namespace
}  // namespace rq43
