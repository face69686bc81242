// Two worker threads for the stages of frame work. A stage is split in two halves; both run to completion
// before the call returns.
#pragma once

#include <functional>
#include <memory>

namespace rq43::platform {

// Runs task(0) and task(1) at the same time on two threads created for this call and returns true. The
// halves may wait on each other's progress. If the two threads cannot both be created, nothing runs and
// the result is false: the caller then does the stage on its own thread. An exception thrown by a half
// (std::bad_alloc) is rethrown to the caller once both halves have ended.
[[nodiscard]] bool RunWorkerPair(const std::function<void(int worker)>& task);

// The two workers of one codec instance. Where the platform layer is ours they are created on first use,
// kept for every later stage and ended with the object, and the scheduler may move them between
// processors; otherwise each stage goes through RunWorkerPair. Run has RunWorkerPair's contract. One
// caller at a time: a codec instance's calls do not overlap.
class WorkerPair {
  public:
    WorkerPair();
    ~WorkerPair();
    WorkerPair(const WorkerPair&) = delete;
    WorkerPair& operator=(const WorkerPair&) = delete;

    [[nodiscard]] bool Run(const std::function<void(int worker)>& task);

  private:
    struct Threads;
    std::unique_ptr<Threads> threads_;
};

}  // namespace rq43::platform
