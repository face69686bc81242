// What each system's side of the platform layer (posix/, win32/) supplies; the shared parts in this
// folder build the published platform services on top of it.
#pragma once

#include <cstdint>

#include "platform/vfw.h"

namespace rq43::platform::native {

// Processors the system reports (0 if it cannot tell).
uint32_t ProcessorCount();
uint64_t TimeStampCounter();
// The system's debugger channel; a system without one drops the text.
void DebugText(const char* text);
// The system's default driver procedure.
LRESULT DefDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2);

}  // namespace rq43::platform::native
