// The Linux side: processor facts from the system; no debugger channel and no driver manager here, so
// debug text reaches only a sink (debug_output.h) and plain driver messages get the neutral answer 0.
#include "platform/native.h"

#include <unistd.h>

#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace rq43::platform::native {

uint32_t ProcessorCount() {
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 0u;
}

uint64_t TimeStampCounter() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

void DebugText(const char*) {}

LRESULT DefDriverProc(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM) {
    return 0;
}

}  // namespace rq43::platform::native
