#include "platform/debug_output.h"

#include <mutex>

#include "platform/native.h"
#include "platform/spin_lock.h"

namespace rq43::platform {
namespace {

// The channel is touched a few times per sequence, so waiting by spinning costs nothing.
SpinLock channelLock;

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
    std::lock_guard guard(channelLock);
    DebugChannel& channel = Channel();
    if (channel.lines.size() >= kKeptLines) channel.lines.erase(channel.lines.begin());
    channel.lines.emplace_back(text);
    if (channel.sink) channel.sink(text);
}

std::vector<std::string> DebugOutputLines() {
    std::lock_guard guard(channelLock);
    return Channel().lines;
}

void ClearDebugOutput() {
    std::lock_guard guard(channelLock);
    Channel().lines.clear();
}

void SetDebugOutputSink(std::function<void(const char*)> sink) {
    std::lock_guard guard(channelLock);
    Channel().sink = std::move(sink);
}

}  // namespace rq43::platform
