// Collects the debug lines the codec writes while it exists, through the channel's sink.
#pragma once

#include <string>
#include <vector>

#include "platform/debug_output.h"

namespace rq43::testing {

class DebugCapture {
  public:
    DebugCapture() {
        platform::SetDebugOutputSink([this](const char* text) { lines.emplace_back(text); });
    }
    ~DebugCapture() { platform::SetDebugOutputSink(nullptr); }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // Read once the writers are done: the sink runs under the channel's lock, this does not.
    const std::vector<std::string>& Lines() const { return lines; }

  private:
    std::vector<std::string> lines;
};

}  // namespace rq43::testing
