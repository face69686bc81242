#include "interruption.h"

#include <atomic>
#include <csignal>

namespace rq43::cli {
namespace {

std::atomic<bool> requested{false};
struct sigaction previous {};

extern "C" void OnInterrupt(int) {
    requested.store(true);
}

}  // namespace

InterruptionWatch::InterruptionWatch() {
    requested.store(false);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read blocked on a pipe returns, so the request is seen. SA_RESETHAND: a second
    // Ctrl-C is not caught and ends the process as the user expects.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &previous);
    // Started with Ctrl-C ignored (in the background of a script, under nohup): leave it ignored.
    if (previous.sa_handler == SIG_IGN) sigaction(SIGINT, &previous, nullptr);
}

InterruptionWatch::~InterruptionWatch() {
    sigaction(SIGINT, &previous, nullptr);
}

bool InterruptRequested() {
    return requested.load(std::memory_order_relaxed);
}

int InterruptCallback(void*) {
    return InterruptRequested() ? 1 : 0;
}

}  // namespace rq43::cli
