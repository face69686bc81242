#include "platform/driver_services.h"

#include <atomic>

#include "platform/native.h"

namespace rq43::platform {
namespace {
std::atomic<uint64_t> defCalls{0};
std::atomic<UINT> defLastMessage{0};
void* moduleHandle = nullptr;
}  // namespace

LRESULT DefDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2) {
    defCalls.fetch_add(1);
    defLastMessage.store(message);
    return native::DefDriverProc(driverId, driver, message, lParam1, lParam2);
}

DefDriverProcRecord DefDriverProcCalls() { return {defCalls.load(), defLastMessage.load()}; }

void SetModuleHandle(void* module) { moduleHandle = module; }
void* ModuleHandle() { return moduleHandle; }

}  // namespace rq43::platform
