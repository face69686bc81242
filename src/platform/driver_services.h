// What the installable-driver host provides besides the messages: default handling of plain driver
// messages and the module's instance handle.
#pragma once

#include "platform/vfw.h"

namespace rq43::platform {

// The platform's default driver procedure, for plain driver messages the codec does not answer.
LRESULT DefDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2);

// The module handle recorded at load time; dialogs load their templates from it.
void SetModuleHandle(void* module);
void* ModuleHandle();

}  // namespace rq43::platform
