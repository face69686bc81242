// The debugger-output channel. Lines go to the system's debugger channel; nothing reaches the terminal
// unless a sink is installed.
#pragma once

#include <functional>

namespace rq43::platform {

void OutputDebugText(const char* text);

// Routes every later line to `sink` as well (an empty function removes it); the sink is called for one
// line at a time, in order.
void SetDebugOutputSink(std::function<void(const char*)> sink);

}  // namespace rq43::platform
