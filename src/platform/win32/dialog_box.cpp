#include "platform/dialog_box.h"

// commctrl.h needs windows.h, which win32_api.h brings.
// clang-format off
#include "platform/driver_services.h"
#include "platform/win32/win32_api.h"
#include <commctrl.h>
// clang-format on

namespace rq43::platform {
namespace {

class WindowControls final : public DialogControls {
  public:
    explicit WindowControls(::HWND dialog) : dialog(dialog) {}

    void CheckButton(int id, bool checked) override {
        CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    bool IsButtonChecked(int id) override { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
    void SetTrackbarRange(int id, int minimum, int maximum, bool redraw) override {
        SendDlgItemMessageA(dialog, id, TBM_SETRANGE, redraw ? TRUE : FALSE, MAKELPARAM(minimum, maximum));
    }
    void SetTrackbarTickFrequency(int id, int frequency) override {
        SendDlgItemMessageA(dialog, id, TBM_SETTICFREQ, static_cast<::WPARAM>(frequency), 0);
    }
    void SetTrackbarPosition(int id, int position) override {
        SendDlgItemMessageA(dialog, id, TBM_SETPOS, TRUE, position);
    }
    int TrackbarPosition(int id) override {
        return static_cast<int>(SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0));
    }
    void EnableControl(int id, bool enabled) override {
        EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE);
    }
    void SetControlText(int id, const char* text) override { SetDlgItemTextA(dialog, id, text); }
    int ControlIdOf(LPARAM window) override {
        if (window == 0) return -1;
        return GetDlgCtrlID(reinterpret_cast<::HWND>(window));
    }
    void EndDialog(intptr_t result) override { ::EndDialog(dialog, static_cast<INT_PTR>(result)); }

  private:
    ::HWND dialog;
};

// The procedure object travels as the dialog's creation parameter and stays with the window.
INT_PTR CALLBACK DialogMain(::HWND dialog, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto* procedure = reinterpret_cast<DialogProcedure*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (procedure == nullptr) return FALSE;
    WindowControls controls(dialog);
    try {
        return procedure->HandleMessage(controls, message, wParam, lParam) ? TRUE : FALSE;
    } catch (...) {
        // Nothing may unwind through the window system; a dialog that cannot go on is closed.
        ::EndDialog(dialog, -1);
        return TRUE;
    }
}

}  // namespace

bool ShowModalDialog(int templateId, HWND parent, DialogProcedure& procedure) {
    // The trackbars' window class lives in the common controls, registered on demand.
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    INT_PTR result =
        DialogBoxParamA(static_cast<HINSTANCE>(ModuleHandle()), MAKEINTRESOURCEA(templateId),
                        static_cast<::HWND>(parent), DialogMain, reinterpret_cast<::LPARAM>(&procedure));
    return result != -1;
}

}  // namespace rq43::platform
