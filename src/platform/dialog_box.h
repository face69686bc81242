// Modal dialogs from the module's dialog templates. A dialog's behaviour is a DialogProcedure that sees
// the window system's messages and works the dialog's controls only through DialogControls, so the same
// procedure runs against real windows or against a test's fake controls.
#pragma once

#include <cstdint>

#include "platform/vfw.h"

namespace rq43::platform {

using WPARAM = uintptr_t;

// The window messages and notification codes a dialog procedure reacts to.
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT TB_THUMBPOSITION = 4;
constexpr UINT TB_THUMBTRACK = 5;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr WORD LowWord(WPARAM value) {
    return static_cast<WORD>(value & 0xFFFF);
}
constexpr WORD HighWord(WPARAM value) {
    return static_cast<WORD>((value >> 16) & 0xFFFF);
}

// The controls of one open dialog, addressed by control id.
class DialogControls {
  public:
    virtual ~DialogControls() = default;
    virtual void CheckButton(int id, bool checked) = 0;
    virtual bool IsButtonChecked(int id) = 0;
    virtual void SetTrackbarRange(int id, int minimum, int maximum, bool redraw) = 0;
    virtual void SetTrackbarTickFrequency(int id, int frequency) = 0;
    virtual void SetTrackbarPosition(int id, int position) = 0;
    virtual int TrackbarPosition(int id) = 0;
    virtual void EnableControl(int id, bool enabled) = 0;
    virtual void SetControlText(int id, const char* text) = 0;
    // The id of the control whose window handle a message carries (WM_HSCROLL's lParam); -1 if none.
    virtual int ControlIdOf(LPARAM window) = 0;
    // Closes the dialog once the current message is handled; the modal call then returns `result`.
    virtual void EndDialog(intptr_t result) = 0;
};

class DialogProcedure {
  public:
    virtual ~DialogProcedure() = default;
    // Answers one message: true when it was handled (WM_INITDIALOG: true lets the system set the focus).
    virtual bool HandleMessage(DialogControls& controls, UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// Shows template `templateId` of the module modally, owned by `parent`, and runs `procedure` until it
// ends the dialog. False when no dialog could be shown (no window system, template missing, no display).
bool ShowModalDialog(int templateId, HWND parent, DialogProcedure& procedure);

}  // namespace rq43::platform
