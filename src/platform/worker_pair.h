// Two worker threads for the stages of frame work. A stage is split in two halves; both run to completion
// before the call returns.
#pragma once

#include <functional>
#include <memory>

namespace rq43::platform {

// Runs task(0) and task(1) at the same time, each on a thread of its own, and returns true. The halves may
// wait on each other's progress. If the threads cannot be created, nothing runs and
// the result is false: the caller then does the stage on its own thread. An exception thrown by a half
// (std::bad_alloc) is rethrown to the caller once both halves have ended.
[[nodiscard]] bool RunWorkerPair(const std::function<void(int worker)>& task);

// The two workers of one codec instance. Where the platform layer is ours, the caller's thread is worker 0
// and a helper thread, created on first use and ended with the object, is worker 1; a half the helper has
// not begun by the time the caller's half ends is run by the caller, so a busy machine never holds a stage
// back, and the scheduler may move the helper between processors. Elsewhere each stage goes through
// RunWorkerPair. Either way both halves run, each exactly once, before Run returns; a half may wait on
// the other's progress; an exception is rethrown as RunWorkerPair's. One caller at a time: a codec
// instance's calls do not overlap.
class WorkerPair {
  public:
    WorkerPair();
    ~WorkerPair();
    WorkerPair(const WorkerPair&) = delete;
    WorkerPair& operator=(const WorkerPair&) = delete;

    [[nodiscard]] bool Run(const std::function<void(int worker)>& task);

    // Work for the next stage to take beside its halves (see BesideNextStage); none when null.
    std::function<void()>* beside = nullptr;

  private:
    struct Threads;
    std::unique_ptr<Threads> threads_;
};

}  // namespace rq43::platform
