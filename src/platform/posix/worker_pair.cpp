#include "platform/worker_pair.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>

namespace rq43::platform {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kStackBytes = 1 << 20;  // sanitizer frames are much larger
#else
constexpr size_t kStackBytes = 64 * 1024;
#endif

// Polls (about 20 ns each) before the caller sleeps on the helper's last unit: that wait is usually a few
// microseconds, far shorter than a sleep and a wake-up.
constexpr int kPollsBeforeSleep = 4000;
// Polls before the helper sleeps between stages: a frame's stages mostly follow one another within tens of
// microseconds, and a wake-up, on a virtual machine especially, costs about as much. Kept short, as the
// polls after a frame's last stage are spent for nothing.
constexpr int kHelperPollsBeforeSleep = 2000;

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

// The caller's thread is worker 0 and one helper thread, kept for the pair's life, is worker 1: a stage
// costs one wake-up instead of three, and the caller, already running, starts at once. A helper that has
// not started by the time the caller's half is done is not waited for: the caller runs half 1 too. Not
// bound to processors: on a busy machine a bound thread cannot leave its busy processor.
struct WorkerPair::Threads {
    std::mutex lock;
    std::condition_variable wake;      // a new stage, or the end
    std::condition_variable finished;  // the helper's half has ended
    const std::function<void(int)>* task = nullptr;
    uint64_t stage = 0;
    std::atomic<uint64_t> posted{0};  // `stage`, or more once ending, for the helper to poll without the lock
    bool claimed = false;             // half 1 of the current stage has a thread
    std::atomic<bool> helperDone{true};
    bool ending = false;
    std::exception_ptr helperFailure;  // rethrown on the caller's thread: nothing may unwind out of a thread
    pthread_t helper{};
    bool created = false;

    static void* Main(void* argument) {
        static_cast<Threads*>(argument)->Serve();
        return nullptr;
    }

    void Serve() {
        uint64_t seen = 0;
        std::unique_lock hold(lock);
        for (;;) {
            hold.unlock();
            for (int polls = 0;
                 polls < kHelperPollsBeforeSleep && posted.load(std::memory_order_acquire) == seen; ++polls)
                Pause();
            hold.lock();
            wake.wait(hold, [&] { return ending || stage != seen; });
            if (ending) return;
            seen = stage;
            if (claimed) continue;  // the caller got there first
            claimed = true;
            hold.unlock();
            try {
                (*task)(1);
            } catch (...) {
                helperFailure = std::current_exception();
            }
            hold.lock();
            helperDone.store(true, std::memory_order_release);
            finished.notify_one();
        }
    }

    bool Create() {
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) != 0) return false;
        pthread_attr_setstacksize(&attributes, std::max<size_t>(kStackBytes, PTHREAD_STACK_MIN));
        created = pthread_create(&helper, &attributes, Main, this) == 0;
        pthread_attr_destroy(&attributes);
        return created;
    }

    void End() {
        {
            std::lock_guard guard(lock);
            ending = true;
            posted.fetch_add(1, std::memory_order_release);
        }
        wake.notify_all();
        if (created) pthread_join(helper, nullptr);
        created = false;
    }

    void RunStage(const std::function<void(int)>& work) {
        {
            std::lock_guard guard(lock);
            task = &work;
            claimed = false;
            helperDone.store(false, std::memory_order_relaxed);
            helperFailure = nullptr;
            ++stage;
            posted.store(stage, std::memory_order_release);
        }
        wake.notify_one();
        std::exception_ptr ownFailure;
        try {
            work(0);
        } catch (...) {
            ownFailure = std::current_exception();
        }
        bool runHere = false;
        {
            std::lock_guard guard(lock);
            if (!claimed) claimed = runHere = true;
        }
        if (runHere) {
            // The helper has not started: half 1 may wait on half 0's progress, which is complete.
            try {
                work(1);
            } catch (...) {
                if (!ownFailure) ownFailure = std::current_exception();
            }
        } else {
            for (int polls = 0; polls < kPollsBeforeSleep && !helperDone.load(std::memory_order_acquire);
                 ++polls)
                Pause();
            std::unique_lock hold(lock);
            finished.wait(hold, [&] { return helperDone.load(std::memory_order_relaxed); });
        }
        std::exception_ptr failure = ownFailure ? ownFailure : helperFailure;
        {
            std::lock_guard guard(lock);
            task = nullptr;
            helperFailure = nullptr;
        }
        if (failure) std::rethrow_exception(failure);
    }
};

WorkerPair::WorkerPair() = default;

WorkerPair::~WorkerPair() {
    if (threads_) threads_->End();
}

bool WorkerPair::Run(const std::function<void(int worker)>& task) {
    if (!threads_) {
        auto threads = std::make_unique<Threads>();
        if (!threads->Create()) return false;
        threads_ = std::move(threads);
    }
    threads_->RunStage(task);
    return true;
}

bool RunWorkerPair(const std::function<void(int worker)>& task) {
    WorkerPair pair;
    return pair.Run(task);
}

}  // namespace rq43::platform
