#include "config/dialogs.h"

namespace rq43 {

// No window system yet: the dialogs are shown by the platform's dialog layer once it exists.
int32_t ConfigureDialog(HWND, CodecSettings&) { return 0; }
int32_t AboutDialog(HWND) { return 0; }

}  // namespace rq43
