#include "host_picture_pool.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace rq43::cli {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kBlockBytes = size_t{32} << 20;
constexpr size_t kAlignment = 64;

size_t RoundUp(size_t value, size_t step) {
    return (value + step - 1) / step * step;
}

}  // namespace

void HostPicturePool::Free::operator()(uint8_t* block) const {
    std::free(block);
}

uint8_t* HostPicturePool::Take() {
    std::lock_guard lock(mutex);
    if (!spare.empty()) {
        uint8_t* picture = spare.back();
        spare.pop_back();
        return picture;
    }
    const size_t slot = RoundUp(bytes == 0 ? 1 : bytes, kAlignment);
    if (unusedBytes < slot) {
        const size_t blockBytes = RoundUp(slot > kBlockBytes ? slot : kBlockBytes, kHugePage);
        auto* block = static_cast<uint8_t*>(std::aligned_alloc(kHugePage, blockBytes));
        if (block == nullptr) throw std::bad_alloc();
        blocks.emplace_back(block);
#ifdef MADV_HUGEPAGE
        madvise(block, blockBytes, MADV_HUGEPAGE);  // a hint: without it the pictures are as before
#endif
        unused = block;
        unusedBytes = blockBytes;
    }
    uint8_t* picture = unused;
    unused += slot;
    unusedBytes -= slot;
    return picture;
}

void HostPicturePool::Give(uint8_t* picture) {
    if (picture == nullptr) return;
    std::lock_guard lock(mutex);
    spare.push_back(picture);
}

}  // namespace rq43::cli
