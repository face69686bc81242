#include "platform/worker_pair.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <exception>
#include <mutex>

namespace rq43::platform {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kStackBytes = 1 << 20;  // sanitizer frames are much larger
#else
constexpr size_t kStackBytes = 64 * 1024;
#endif

// Threads start held at this gate, so that neither half runs unless both exist.
struct StartGate {
    std::mutex lock;
    std::condition_variable opened;
    enum { Waiting, Go, Cancel } state = Waiting;
};

struct WorkerStart {
    const std::function<void(int)>* task;
    int index;
    StartGate* gate;
    std::exception_ptr failure;  // rethrown on the caller's thread: nothing may unwind out of a thread
};

void* WorkerMain(void* argument) {
    auto* start = static_cast<WorkerStart*>(argument);
    {
        std::unique_lock hold(start->gate->lock);
        start->gate->opened.wait(hold, [&] { return start->gate->state != StartGate::Waiting; });
        if (start->gate->state == StartGate::Cancel) return nullptr;
    }
    try {
        (*start->task)(start->index);
    } catch (...) {
        start->failure = std::current_exception();
    }
    return nullptr;
}

bool CreateWorker(pthread_t* thread, WorkerStart* start, bool bind) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setstacksize(&attributes, std::max<size_t>(kStackBytes, PTHREAD_STACK_MIN));
    if (bind) {
        cpu_set_t processors;
        CPU_ZERO(&processors);
        CPU_SET(start->index, &processors);
        pthread_attr_setaffinity_np(&attributes, sizeof(processors), &processors);
    }
    int result = pthread_create(thread, &attributes, WorkerMain, start);
    pthread_attr_destroy(&attributes);
    return result == 0;
}

// Binding is a preference: a restricted machine may refuse the affinity, the work still runs.
bool StartWorker(pthread_t* thread, WorkerStart* start) {
    return CreateWorker(thread, start, true) || CreateWorker(thread, start, false);
}

}  // namespace

bool RunWorkerPair(const std::function<void(int worker)>& task) {
    StartGate gate;
    WorkerStart starts[2] = {{&task, 0, &gate, nullptr}, {&task, 1, &gate, nullptr}};
    pthread_t threads[2];
    bool started0 = StartWorker(&threads[0], &starts[0]);
    bool started1 = started0 && StartWorker(&threads[1], &starts[1]);
    {
        std::lock_guard guard(gate.lock);
        gate.state = started1 ? StartGate::Go : StartGate::Cancel;
    }
    gate.opened.notify_all();
    if (started0) pthread_join(threads[0], nullptr);
    if (started1) pthread_join(threads[1], nullptr);
    for (const WorkerStart& start : starts)
        if (start.failure) std::rethrow_exception(start.failure);
    return started1;
}

}  // namespace rq43::platform
