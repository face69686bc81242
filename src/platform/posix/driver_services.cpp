#include "platform/driver_services.h"

#include <atomic>

namespace rq43::platform {
namespace {
std::atomic<uint64_t> defCalls{0};
std::atomic<UINT> defLastMessage{0};
void* moduleHandle = nullptr;
}  // namespace

LRESULT DefDriverProc(DWORD_PTR, HDRVR, UINT message, LPARAM, LPARAM) {
    defCalls.fetch_add(1);
    defLastMessage.store(message);
    return 0;
}

DefDriverProcRecord DefDriverProcCalls() { return {defCalls.load(), defLastMessage.load()}; }

void SetModuleHandle(void* module) { moduleHandle = module; }
void* ModuleHandle() { return moduleHandle; }

}  // namespace rq43::platform
