// The Windows side: the system's processor count, the processor's time-stamp counter, the debugger
// channel and the driver manager's default procedure.
#include "platform/native.h"

#include <intrin.h>

#include "platform/win32/win32_api.h"

namespace rq43::platform::native {

uint32_t ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<uint32_t>(info.dwNumberOfProcessors);
}

uint64_t TimeStampCounter() {
    return __rdtsc();
}

void DebugText(const char* text) {
    OutputDebugStringA(text);
}

LRESULT DefDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2) {
    return static_cast<LRESULT>(
        ::DefDriverProc(static_cast<::DWORD_PTR>(driverId), static_cast<::HDRVR>(driver), message,
                        static_cast<::LPARAM>(lParam1), static_cast<::LPARAM>(lParam2)));
}

}  // namespace rq43::platform::native
