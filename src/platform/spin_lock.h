// A lock from the language's atomics alone (the Windows compilers' thread model has no std::mutex), for
// state held only for a few instructions at a time. Works with std::lock_guard.
#pragma once

#include <atomic>

namespace rq43::platform {

class SpinLock {
  public:
    void lock() {
        while (held.test_and_set(std::memory_order_acquire)) {
        }
    }
    void unlock() { held.clear(std::memory_order_release); }

  private:
    std::atomic_flag held = ATOMIC_FLAG_INIT;
};

}  // namespace rq43::platform
