// The one symbol the driver module exports.
#include "driver/driver_proc.h"

extern "C" __attribute__((visibility("default"))) rq43::LRESULT DriverProc(rq43::DWORD_PTR driverId,
                                                                           rq43::HDRVR driver,
                                                                           rq43::UINT message,
                                                                           rq43::LPARAM lParam1,
                                                                           rq43::LPARAM lParam2) {
    return rq43::DriverProc(driverId, driver, message, lParam1, lParam2);
}
