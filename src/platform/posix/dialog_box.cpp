#include "platform/dialog_box.h"

namespace rq43::platform {

// This system has no window system for the driver's dialogs: the request is answered without one.
bool ShowModalDialog(int, HWND, DialogProcedure&) {
    return false;
}

}  // namespace rq43::platform
