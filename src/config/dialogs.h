// The Configure and About dialogs. `parent` is the host's window; the value -1 only asks whether the
// dialog exists. Both answer 0 whatever the user does.
#pragma once

#include <cstdint>

#include "config/settings_store.h"
#include "platform/vfw.h"

namespace rq43 {

// Edits `settings` (the instance's working copy) and, on OK, the settings store.
int32_t ConfigureDialog(HWND parent, CodecSettings& settings);
int32_t AboutDialog(HWND parent);

}  // namespace rq43
