// What the Configure and About dialogs do: their templates' ids, the labels the Configure dialog shows,
// and the two dialog procedures. They see the dialog only through platform::DialogControls.
#pragma once

#include <string>

#include "config/settings_store.h"
#include "platform/dialog_box.h"

namespace rq43 {

// Template and control ids; the dialog templates in dialog_templates.rc use the same numbers.
inline constexpr int kConfigureDialogId = 101;
inline constexpr int kAboutDialogId = 102;
inline constexpr int kFastSearchBox = 1009;
inline constexpr int kSubBlockMotionBox = 1010;
inline constexpr int kAutoKeyInsertBox = 1011;
inline constexpr int kStrongCompressionBox = 1012;
inline constexpr int kStrengthTrackbar = 1014;
inline constexpr int kStrengthLabel = 1015;
inline constexpr int kIterationsTrackbar = 1016;
inline constexpr int kRadiusLabel = 1017;

// "Off", or the strength with its weight: "7 - Medium".
std::string StrengthLabel(int strength);
// "Tight (Radius = 1)" .. "Wide (Radius = 4)".
std::string RadiusLabel(int iterations);

// Edits `settings` (the instance's working copy): loads all six when the dialog opens, and on OK reads
// the controls back and stores all six; Cancel keeps what was loaded and stores nothing.
class ConfigureDialogProcedure final : public platform::DialogProcedure {
  public:
    explicit ConfigureDialogProcedure(CodecSettings& settings) : settings(settings) {}
    bool HandleMessage(platform::DialogControls& controls, UINT message, platform::WPARAM wParam,
                       LPARAM lParam) override;

  private:
    void Initialise(platform::DialogControls& controls);
    void Scrolled(platform::DialogControls& controls, platform::WPARAM wParam, LPARAM lParam);
    void Accept(platform::DialogControls& controls);
    CodecSettings& settings;
};

class AboutDialogProcedure final : public platform::DialogProcedure {
  public:
    bool HandleMessage(platform::DialogControls& controls, UINT message, platform::WPARAM wParam,
                       LPARAM lParam) override;
};

}  // namespace rq43
