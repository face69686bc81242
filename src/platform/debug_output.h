// The debugger-output channel. Lines are kept in order so a host or test can read or route them;
// nothing reaches the terminal unless a sink is installed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rq43::platform {

void OutputDebugText(const char* text);

// Everything written since the last clear, one entry per OutputDebugText call.
std::vector<std::string> DebugOutputLines();
void ClearDebugOutput();

// Routes every later line to `sink` as well (an empty function removes it).
void SetDebugOutputSink(std::function<void(const char*)> sink);

}  // namespace rq43::platform
