#include "platform/worker_pair.h"

#include <pthread.h>

#include <algorithm>
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

}  // namespace

// Not bound to processors: on a busy machine a bound thread cannot leave its busy processor.
struct WorkerPair::Threads {
    std::mutex lock;
    std::condition_variable wake;      // a new stage, or the end
    std::condition_variable finished;  // both halves of the stage have ended
    const std::function<void(int)>* task = nullptr;
    uint64_t stage = 0;
    int running = 0;
    bool ending = false;
    std::exception_ptr failure[2];  // rethrown on the caller's thread: nothing may unwind out of a thread
    pthread_t thread[2]{};
    int created = 0;

    struct Start {
        Threads* threads;
        int index;
    } starts[2] = {{this, 0}, {this, 1}};

    static void* Main(void* argument) {
        const auto* start = static_cast<const Start*>(argument);
        start->threads->Serve(start->index);
        return nullptr;
    }

    void Serve(int index) {
        uint64_t seen = 0;
        std::unique_lock hold(lock);
        for (;;) {
            wake.wait(hold, [&] { return ending || stage != seen; });
            if (ending) return;
            seen = stage;
            hold.unlock();
            try {
                (*task)(index);
            } catch (...) {
                failure[index] = std::current_exception();
            }
            hold.lock();
            if (--running == 0) finished.notify_one();
        }
    }

    bool Create() {
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) != 0) return false;
        pthread_attr_setstacksize(&attributes, std::max<size_t>(kStackBytes, PTHREAD_STACK_MIN));
        while (created < 2 && pthread_create(&thread[created], &attributes, Main, &starts[created]) == 0)
            ++created;
        pthread_attr_destroy(&attributes);
        return created == 2;
    }

    void End() {
        {
            std::lock_guard guard(lock);
            ending = true;
        }
        wake.notify_all();
        for (int k = 0; k < created; ++k) pthread_join(thread[k], nullptr);
        created = 0;
    }

    void RunStage(const std::function<void(int)>& work) {
        std::unique_lock hold(lock);
        task = &work;
        running = 2;
        failure[0] = failure[1] = nullptr;
        ++stage;
        wake.notify_all();
        finished.wait(hold, [&] { return running == 0; });
        task = nullptr;
        for (const std::exception_ptr& f : failure)
            if (f) std::rethrow_exception(f);
    }
};

WorkerPair::WorkerPair() = default;

WorkerPair::~WorkerPair() {
    if (threads_) threads_->End();
}

bool WorkerPair::Run(const std::function<void(int worker)>& task) {
    if (!threads_) {
        auto threads = std::make_unique<Threads>();
        // Neither half may run alone: a first thread that exists is ended again.
        if (!threads->Create()) {
            threads->End();
            return false;
        }
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
