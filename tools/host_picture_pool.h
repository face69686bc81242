// The host pictures of one run, shared by its threads. A picture, once coded or written, comes back for a
// later frame; a run's first pictures (a group of them per instance while instances work ahead) are
// carved from large blocks that the kernel may back with huge pages, since first touching a picture in
// small pages costs a fault per page, as much as coding a fast frame's sections. Every picture's memory
// is released with the pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace rq43::cli {

class HostPicturePool {
  public:
    explicit HostPicturePool(size_t bytes) : bytes(bytes) {}
    HostPicturePool(const HostPicturePool&) = delete;
    HostPicturePool& operator=(const HostPicturePool&) = delete;

    size_t Bytes() const { return bytes; }
    // A picture of Bytes() bytes, holding whatever an earlier frame left in it. Throws std::bad_alloc.
    uint8_t* Take();
    // Hands back a picture this pool gave; null is ignored.
    void Give(uint8_t* picture);

  private:
    struct Free {
        void operator()(uint8_t* block) const;
    };

    const size_t bytes;
    std::mutex mutex;
    std::vector<uint8_t*> spare;
    std::vector<std::unique_ptr<uint8_t, Free>> blocks;
    uint8_t* unused = nullptr;  // the rest of the last block
    size_t unusedBytes = 0;
};

}  // namespace rq43::cli
