#include "platform/driver_services.h"

#include "platform/native.h"

namespace rq43::platform {
namespace {
void* moduleHandle = nullptr;
}  // namespace

LRESULT DefDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2) {
    return native::DefDriverProc(driverId, driver, message, lParam1, lParam2);
}

void SetModuleHandle(void* module) {
    moduleHandle = module;
}
void* ModuleHandle() {
    return moduleHandle;
}

}  // namespace rq43::platform
