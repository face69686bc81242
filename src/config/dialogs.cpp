#include "config/dialogs.h"

#include "config/configure_dialog.h"

namespace rq43 {

// A dialog that cannot be shown (no window system, no display) is not an error for the host.
int32_t ConfigureDialog(HWND parent, CodecSettings& settings) {
    ConfigureDialogProcedure procedure(settings);
    platform::ShowModalDialog(kConfigureDialogId, parent, procedure);
    return 0;
}

int32_t AboutDialog(HWND parent) {
    AboutDialogProcedure procedure;
    platform::ShowModalDialog(kAboutDialogId, parent, procedure);
    return 0;
}

}  // namespace rq43
