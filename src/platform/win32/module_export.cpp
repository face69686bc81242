// The one function the driver exports (see rq43.def), and the module's load notification.
#include "driver/driver_proc.h"
#include "platform/driver_services.h"
#include "platform/win32/win32_api.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) rq43::platform::SetModuleHandle(instance);
    return TRUE;
}

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                                     LPARAM lParam2) {
    return static_cast<LRESULT>(rq43::DriverProc(static_cast<rq43::DWORD_PTR>(driverId), driver, message,
                                                 static_cast<rq43::LPARAM>(lParam1),
                                                 static_cast<rq43::LPARAM>(lParam2)));
}
