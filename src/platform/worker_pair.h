// Two processor-bound worker threads for one stage of frame work. The caller's stage is split in two
// halves; both run to completion before RunWorkerPair returns.
#pragma once

#include <functional>

namespace rq43::platform {

// Runs task(0) and task(1) at the same time on two threads bound to processors 0 and 1 (created
// suspended, resumed together once both exist, waited for without time limit) and returns true.
// The halves may wait on each other's progress. If the two threads cannot both be created, nothing
// runs and the result is false: the caller then does the stage on its own thread. An exception thrown
// by a half (std::bad_alloc) is rethrown to the caller once both halves have ended.
[[nodiscard]] bool RunWorkerPair(const std::function<void(int worker)>& task);

}  // namespace rq43::platform
