#include "platform/debug_output.h"

#include <mutex>

namespace rq43::platform {
namespace {
struct DebugChannel {
    std::mutex lock;
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
    DebugChannel& channel = Channel();
    std::lock_guard guard(channel.lock);
    if (channel.lines.size() >= kKeptLines) channel.lines.erase(channel.lines.begin());
    channel.lines.emplace_back(text);
    if (channel.sink) channel.sink(text);
}

std::vector<std::string> DebugOutputLines() {
    DebugChannel& channel = Channel();
    std::lock_guard guard(channel.lock);
    return channel.lines;
}

void ClearDebugOutput() {
    DebugChannel& channel = Channel();
    std::lock_guard guard(channel.lock);
    channel.lines.clear();
}

void SetDebugOutputSink(std::function<void(const char*)> sink) {
    DebugChannel& channel = Channel();
    std::lock_guard guard(channel.lock);
    channel.sink = std::move(sink);
}

}  // namespace rq43::platform
