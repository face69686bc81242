#include "config/configure_dialog.h"

#include <cstdio>

namespace rq43 {
namespace {

using platform::DialogControls;
using platform::HighWord;
using platform::LowWord;
using platform::WPARAM;

void ShowStrength(DialogControls& controls, int strength) {
    controls.SetControlText(kStrengthLabel, StrengthLabel(strength).c_str());
    // The radius only matters while the filter is on.
    controls.EnableControl(kIterationsTrackbar, strength != 0);
    controls.EnableControl(kRadiusLabel, strength != 0);
}

// Dragging reports the new position in the message; every other trackbar action is read back.
int ScrolledPosition(DialogControls& controls, int trackbar, WPARAM wParam) {
    WORD code = LowWord(wParam);
    if (code == platform::TB_THUMBPOSITION || code == platform::TB_THUMBTRACK) return HighWord(wParam);
    return controls.TrackbarPosition(trackbar);
}

}  // namespace

std::string StrengthLabel(int strength) {
    if (strength == 0) return "Off";
    const char* weight = strength < 7 ? "Light" : strength < 14 ? "Medium" : "Heavy";
    char text[64];
    std::snprintf(text, sizeof text, "%d - %s", strength, weight);
    return text;
}

std::string RadiusLabel(int iterations) {
    switch (iterations) {
        case 1:
            return "Tight (Radius = 1)";
        case 2:
            return "Narrow (Radius = 2)";
        case 3:
            return "Medium (Radius = 3)";
        default:
            return "Wide (Radius = 4)";
    }
}

void ConfigureDialogProcedure::Initialise(DialogControls& controls) {
    settings = LoadCodecSettings();
    controls.CheckButton(kFastSearchBox, settings.fastSearch != 0);
    controls.CheckButton(kSubBlockMotionBox, settings.subBlockMotion != 0);
    controls.CheckButton(kAutoKeyInsertBox, settings.autoKeyInsert != 0);
    controls.CheckButton(kStrongCompressionBox, settings.strongCompression != 0);
    controls.SetTrackbarRange(kStrengthTrackbar, 0, 20, false);
    controls.SetTrackbarTickFrequency(kStrengthTrackbar, 5);
    // A stored value outside a trackbar's range shows at the range's end; the labels describe what the
    // trackbars show, which is also what OK will store.
    controls.SetTrackbarPosition(kStrengthTrackbar, settings.prefilterStrength);
    ShowStrength(controls, controls.TrackbarPosition(kStrengthTrackbar));
    controls.SetTrackbarRange(kIterationsTrackbar, 1, 4, false);
    controls.SetTrackbarTickFrequency(kIterationsTrackbar, 1);
    controls.SetTrackbarPosition(kIterationsTrackbar, settings.prefilterIterations);
    controls.SetControlText(kRadiusLabel,
                            RadiusLabel(controls.TrackbarPosition(kIterationsTrackbar)).c_str());
}

void ConfigureDialogProcedure::Scrolled(DialogControls& controls, WPARAM wParam, LPARAM lParam) {
    int trackbar = controls.ControlIdOf(lParam);
    if (trackbar == kStrengthTrackbar) {
        ShowStrength(controls, ScrolledPosition(controls, trackbar, wParam));
    } else if (trackbar == kIterationsTrackbar) {
        controls.SetControlText(kRadiusLabel,
                                RadiusLabel(ScrolledPosition(controls, trackbar, wParam)).c_str());
    }
}

void ConfigureDialogProcedure::Accept(DialogControls& controls) {
    settings.fastSearch = controls.IsButtonChecked(kFastSearchBox) ? 1 : 0;
    settings.subBlockMotion = controls.IsButtonChecked(kSubBlockMotionBox) ? 1 : 0;
    settings.autoKeyInsert = controls.IsButtonChecked(kAutoKeyInsertBox) ? 1 : 0;
    settings.strongCompression = controls.IsButtonChecked(kStrongCompressionBox) ? 1 : 0;
    settings.prefilterStrength = static_cast<int8_t>(controls.TrackbarPosition(kStrengthTrackbar));
    settings.prefilterIterations = static_cast<int8_t>(controls.TrackbarPosition(kIterationsTrackbar));
    SaveCodecSettings(settings);
}

bool ConfigureDialogProcedure::HandleMessage(DialogControls& controls, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    switch (message) {
        case platform::WM_INITDIALOG:
            Initialise(controls);
            return true;
        case platform::WM_HSCROLL:
            Scrolled(controls, wParam, lParam);
            return true;
        case platform::WM_COMMAND:
            if (LowWord(wParam) == platform::IDOK) {
                Accept(controls);
                controls.EndDialog(0);
            } else if (LowWord(wParam) == platform::IDCANCEL) {
                controls.EndDialog(0);
            }
            return true;
        default:
            return false;
    }
}

// Escape and the close box send Cancel; without answering it the dialog could only be left by OK.
bool AboutDialogProcedure::HandleMessage(DialogControls& controls, UINT message, WPARAM wParam, LPARAM) {
    if (message != platform::WM_COMMAND) return false;
    if (LowWord(wParam) != platform::IDOK && LowWord(wParam) != platform::IDCANCEL) return false;
    controls.EndDialog(0);
    return true;
}

}  // namespace rq43
