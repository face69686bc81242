// Pictures of one size passed round between the program's threads. A frame's buffer, once coded or
// written, comes back for a later frame instead of being freed: a fresh picture-sized buffer costs its
// clearing and a page fault per page, every frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace rq43::cli {

class BufferPool {
  public:
    explicit BufferPool(size_t bytes) : bytes(bytes) {}
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;

    // A buffer of exactly the pool's size, holding whatever an earlier frame left in it.
    std::vector<uint8_t> Take() {
        std::vector<uint8_t> buffer;
        {
            std::lock_guard lock(mutex);
            if (!spare.empty()) {
                buffer = std::move(spare.back());
                spare.pop_back();
            }
        }
        buffer.resize(bytes);
        return buffer;
    }

    // Keeps `buffer` for a later Take; one too small to hold a picture (emptied, moved from) is dropped.
    void Give(std::vector<uint8_t>&& buffer) {
        if (buffer.capacity() < bytes) return;
        std::lock_guard lock(mutex);
        spare.push_back(std::move(buffer));
    }

  private:
    const size_t bytes;
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> spare;
};

}  // namespace rq43::cli
