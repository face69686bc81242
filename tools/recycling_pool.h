// Pictures passed round between the program's threads. A frame's picture, once used, comes back for a
// later frame instead of being freed: a fresh picture-sized buffer costs its clearing and a page fault
// per page, every frame.
#pragma once

#include <mutex>
#include <vector>

namespace rq43::cli {

template <typename T>
class RecyclingPool {
  public:
    RecyclingPool() = default;
    RecyclingPool(const RecyclingPool&) = delete;
    RecyclingPool& operator=(const RecyclingPool&) = delete;

    // One given back earlier, holding whatever its frame left in it (the taker sizes it and writes all of
    // it), or a new, empty one.
    T Take() {
        std::lock_guard lock(mutex);
        if (spare.empty()) return T{};
        T item = std::move(spare.back());
        spare.pop_back();
        return item;
    }

    void Give(T&& item) {
        std::lock_guard lock(mutex);
        spare.push_back(std::move(item));
    }

  private:
    std::mutex mutex;
    std::vector<T> spare;
};

}  // namespace rq43::cli
