#include "tools/host_picture_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rq43::cli {
namespace {

// Pictures carved from shared blocks must each own their bytes: none overlaps another, across the end
// of a block too, and a picture larger than a block still gets all of its bytes.
TEST(HostPicturePool, PicturesNeverOverlapAndComeBackForReuse) {
    // Six pictures of just over 5 MiB fit in a 32 MiB block; the seventh starts the next.
    const struct {
        size_t bytes;
        int count;
    } cases[] = {{(size_t{5} << 20) + 3, 8}, {size_t{33} << 20, 3}};
    for (const auto& [bytes, count] : cases) {
        HostPicturePool pool(bytes);
        std::vector<uintptr_t> starts;
        for (int i = 0; i < count; ++i) {
            uint8_t* p = pool.Take();
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
            p[0] = 1;
            p[bytes - 1] = 2;  // the sanitizer build reports a picture running past its block
            starts.push_back(reinterpret_cast<uintptr_t>(p));
        }
        std::sort(starts.begin(), starts.end());
        for (size_t i = 1; i < starts.size(); ++i) EXPECT_GE(starts[i] - starts[i - 1], bytes);
        auto* returned = reinterpret_cast<uint8_t*>(starts[3]);
        pool.Give(returned);
        EXPECT_EQ(pool.Take(), returned);
    }
}

}  // namespace
}  // namespace rq43::cli
