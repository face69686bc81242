#include "platform/debug_output.h"

#include <atomic>

#include "platform/native.h"

namespace rq43::platform {
namespace {

// A lock from the language's atomics alone (the Windows compilers' thread model has no std::mutex).
// The channel is touched a few times per sequence, so waiting by spinning costs nothing.
class ChannelLock {
public:
    ChannelLock() {
        while (held.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~ChannelLock() { held.clear(std::memory_order_release); }
    ChannelLock(const ChannelLock&) = delete;
    ChannelLock& operator=(const ChannelLock&) = delete;

private:
    static inline std::atomic_flag held = ATOMIC_FLAG_INIT;
};

struct DebugChannel {
    std::vector<std::string> lines;
    std::function<void(const char*)> sink;
};
DebugChannel& Channel() {
    static DebugChannel channel;
    return channel;
}
constexpr size_t kKeptLines = 4096;  // a long-running host must not grow without bound

}  // namespace

void OutputDebugText(const char* text) {
    if (text == nullptr) return;
    native::DebugText(text);
    ChannelLock guard;
    DebugChannel& channel = Channel();
    if (channel.lines.size() >= kKeptLines) channel.lines.erase(channel.lines.begin());
    channel.lines.emplace_back(text);
    if (channel.sink) channel.sink(text);
}

std::vector<std::string> DebugOutputLines() {
    ChannelLock guard;
    return Channel().lines;
}

void ClearDebugOutput() {
    ChannelLock guard;
    Channel().lines.clear();
}

void SetDebugOutputSink(std::function<void(const char*)> sink) {
    ChannelLock guard;
    Channel().sink = std::move(sink);
}

}  // namespace rq43::platform
