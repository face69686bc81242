#include "platform/worker_pair.h"

#include <exception>

#include "platform/win32/win32_api.h"

namespace rq43::platform {
namespace {

constexpr SIZE_T kStackBytes = 64 * 1024;

struct WorkerStart {
    const std::function<void(int)>* task;
    int index;
    bool cancelled;
    std::exception_ptr failure;  // rethrown on the caller's thread: nothing may unwind out of a thread
};

DWORD WINAPI WorkerMain(LPVOID argument) {
    auto* start = static_cast<WorkerStart*>(argument);
    if (start->cancelled) return 0;
    try {
        (*start->task)(start->index);
    } catch (...) {
        start->failure = std::current_exception();
    }
    return 0;
}

}  // namespace

bool RunWorkerPair(const std::function<void(int worker)>& task) {
    WorkerStart starts[2] = {{&task, 0, false, nullptr}, {&task, 1, false, nullptr}};
    HANDLE threads[2] = {nullptr, nullptr};
    for (int k = 0; k < 2; ++k) {
        threads[k] = CreateThread(nullptr, kStackBytes, WorkerMain, &starts[k], CREATE_SUSPENDED, nullptr);
        if (threads[k] == nullptr) break;
        // Binding is a preference: a machine with one processor refuses the second mask, the work still runs.
        SetThreadAffinityMask(threads[k], DWORD_PTR{1} << k);
    }
    if (threads[1] == nullptr) {
        // Neither half may run alone; a first thread that exists is let go without its task.
        if (threads[0] != nullptr) {
            starts[0].cancelled = true;
            ResumeThread(threads[0]);
            WaitForSingleObject(threads[0], INFINITE);
            CloseHandle(threads[0]);
        }
        return false;
    }
    ResumeThread(threads[0]);
    ResumeThread(threads[1]);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    CloseHandle(threads[0]);
    CloseHandle(threads[1]);
    for (const WorkerStart& start : starts)
        if (start.failure) std::rethrow_exception(start.failure);
    return true;
}

}  // namespace rq43::platform

namespace rq43::platform {

// Windows keeps the documented per-stage threads, bound to processors 0 and 1.
struct WorkerPair::Threads {};

WorkerPair::WorkerPair() = default;
WorkerPair::~WorkerPair() = default;

bool WorkerPair::Run(const std::function<void(int worker)>& task) {
    return RunWorkerPair(task);
}

}  // namespace rq43::platform
