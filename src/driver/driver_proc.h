// The driver entry point: every host request arrives here as a driver message.
#pragma once

#include "platform/vfw.h"

namespace rq43 {

LRESULT DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2);

}  // namespace rq43
