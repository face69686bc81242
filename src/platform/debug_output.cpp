#include "platform/debug_output.h"

#include <mutex>

#include "platform/native.h"
#include "platform/spin_lock.h"

namespace rq43::platform {
namespace {

// The channel is touched a few times per sequence, so waiting by spinning costs nothing.
SpinLock channelLock;

std::function<void(const char*)>& Sink() {
    static std::function<void(const char*)> sink;
    return sink;
}

}  // namespace

void OutputDebugText(const char* text) {
    if (text == nullptr) return;
    native::DebugText(text);
    std::lock_guard guard(channelLock);
    if (Sink()) Sink()(text);
}

void SetDebugOutputSink(std::function<void(const char*)> sink) {
    std::lock_guard guard(channelLock);
    Sink() = std::move(sink);
}

}  // namespace rq43::platform
