// A stage split in two halves that write disjoint data: on the worker pair when asked for and available,
// otherwise both halves in order on the caller's thread. The results are the same either way.
#pragma once

#include <functional>

#include "platform/worker_pair.h"

namespace rq43::platform {

inline void RunHalves(bool twoThreads, const std::function<void(int half)>& half) {
    if (twoThreads && RunWorkerPair(half)) return;
    half(0);
    half(1);
}

}  // namespace rq43::platform
