#include "config/configure_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "config/dialogs.h"
#include "platform/registry.h"
#include "support/scratch_registry.h"
#include "support/settings_check.h"

namespace rq43 {
namespace {

using platform::WPARAM;

// Controls that remember what the procedure did to them, like the real ones.
struct FakeControl {
    bool checked = false;
    bool enabled = true;
    int minimum = 0, maximum = 100, position = 0, tickFrequency = 0;
    std::string text;
};

class FakeControls final : public platform::DialogControls {
  public:
    void CheckButton(int id, bool checked) override { controls[id].checked = checked; }
    bool IsButtonChecked(int id) override { return controls[id].checked; }
    void SetTrackbarRange(int id, int minimum, int maximum, bool) override {
        controls[id].minimum = minimum;
        controls[id].maximum = maximum;
    }
    void SetTrackbarTickFrequency(int id, int frequency) override { controls[id].tickFrequency = frequency; }
    // A trackbar keeps its position inside its range.
    void SetTrackbarPosition(int id, int position) override {
        FakeControl& c = controls[id];
        c.position = std::clamp(position, c.minimum, c.maximum);
    }
    int TrackbarPosition(int id) override { return controls[id].position; }
    void EnableControl(int id, bool enabled) override { controls[id].enabled = enabled; }
    void SetControlText(int id, const char* text) override { controls[id].text = text; }
    int ControlIdOf(LPARAM window) override { return static_cast<int>(window) - kWindowBase; }
    void EndDialog(intptr_t result) override { ended = result; }

    static LPARAM WindowOf(int id) { return kWindowBase + id; }
    std::map<int, FakeControl> controls;
    std::optional<intptr_t> ended;

  private:
    static constexpr int kWindowBase = 0x10000;
};

class ConfigureDialogTest : public ::testing::Test {
  protected:
    bool Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return procedure.HandleMessage(fake, message, wParam, lParam);
    }
    void Open() { ASSERT_TRUE(Send(platform::WM_INITDIALOG)); }
    // The user drags a trackbar: the control moves, then the dialog hears about it.
    void Drag(int trackbar, int position) {
        fake.SetTrackbarPosition(trackbar, position);
        WPARAM wParam = platform::TB_THUMBTRACK | (static_cast<WPARAM>(position) << 16);
        EXPECT_TRUE(Send(platform::WM_HSCROLL, wParam, FakeControls::WindowOf(trackbar)));
    }
    void Press(int button) { EXPECT_TRUE(Send(platform::WM_COMMAND, static_cast<WPARAM>(button))); }
    const FakeControl& Control(int id) { return fake.controls[id]; }
    static bool Stored(const char* name) {
        uint8_t data[4];
        uint32_t size = sizeof data;
        return platform::RegistryQueryValue(platform::RegistryHive::Machine, kSettingsKey, name, nullptr,
                                            data, &size) == platform::RegistryResult::Ok;
    }

    testing::ScratchRegistry registry;
    CodecSettings settings{9, 9, 9, 9, 9, 9};
    ConfigureDialogProcedure procedure{settings};
    FakeControls fake;
};

TEST(DialogLabelsTest, StrengthAndRadiusWording) {
    using Wording = std::pair<int, const char*>;
    for (auto [strength, label] : {Wording{0, "Off"},
                                   {1, "1 - Light"},
                                   {6, "6 - Light"},
                                   {7, "7 - Medium"},
                                   {13, "13 - Medium"},
                                   {14, "14 - Heavy"},
                                   {20, "20 - Heavy"}})
        EXPECT_EQ(StrengthLabel(strength), label);
    for (auto [iterations, label] : {Wording{1, "Tight (Radius = 1)"},
                                     {2, "Narrow (Radius = 2)"},
                                     {3, "Medium (Radius = 3)"},
                                     {4, "Wide (Radius = 4)"},
                                     {0, "Wide (Radius = 4)"},
                                     {9, "Wide (Radius = 4)"}})
        EXPECT_EQ(RadiusLabel(iterations), label);
}

TEST_F(ConfigureDialogTest, OpensWithTheDefaultsWhenNothingIsStored) {
    Open();
    EXPECT_FALSE(Control(kFastSearchBox).checked);
    EXPECT_FALSE(Control(kSubBlockMotionBox).checked);
    EXPECT_TRUE(Control(kAutoKeyInsertBox).checked);
    EXPECT_TRUE(Control(kStrongCompressionBox).checked);
    EXPECT_EQ(Control(kStrengthTrackbar).minimum, 0);
    EXPECT_EQ(Control(kStrengthTrackbar).maximum, 20);
    EXPECT_EQ(Control(kStrengthTrackbar).tickFrequency, 5);
    EXPECT_EQ(Control(kStrengthTrackbar).position, 0);
    EXPECT_EQ(Control(kStrengthLabel).text, "Off");
    EXPECT_EQ(Control(kIterationsTrackbar).minimum, 1);
    EXPECT_EQ(Control(kIterationsTrackbar).maximum, 4);
    EXPECT_EQ(Control(kIterationsTrackbar).tickFrequency, 1);
    EXPECT_EQ(Control(kIterationsTrackbar).position, 1);
    EXPECT_FALSE(Control(kIterationsTrackbar).enabled);
    EXPECT_FALSE(Control(kRadiusLabel).enabled);
    EXPECT_EQ(Control(kRadiusLabel).text, "Tight (Radius = 1)");
    // The instance's copy now holds what was loaded.
    EXPECT_EQ(settings.fastSearch, 0);
    EXPECT_EQ(settings.strongCompression, 1);
    EXPECT_EQ(settings.prefilterIterations, 1);
}

TEST_F(ConfigureDialogTest, OpensWithTheStoredSettings) {
    SaveCodecSettings(CodecSettings{1, 1, 0, 0, 9, 3});
    Open();
    EXPECT_TRUE(Control(kFastSearchBox).checked);
    EXPECT_TRUE(Control(kSubBlockMotionBox).checked);
    EXPECT_FALSE(Control(kAutoKeyInsertBox).checked);
    EXPECT_FALSE(Control(kStrongCompressionBox).checked);
    EXPECT_EQ(Control(kStrengthTrackbar).position, 9);
    EXPECT_EQ(Control(kStrengthLabel).text, "9 - Medium");
    EXPECT_TRUE(Control(kIterationsTrackbar).enabled);
    EXPECT_TRUE(Control(kRadiusLabel).enabled);
    EXPECT_EQ(Control(kIterationsTrackbar).position, 3);
    EXPECT_EQ(Control(kRadiusLabel).text, "Medium (Radius = 3)");
}

TEST_F(ConfigureDialogTest, StoredValuesOutsideTheRangesAreShownAsTheTrackbarsShowThem) {
    SaveSetting(kPrefilterStrengthName, 300);  // loads as 44
    SaveSetting(kPrefilterIterationsName, 0);
    Open();
    EXPECT_EQ(settings.prefilterStrength, 44);  // the instance keeps what was loaded until OK
    EXPECT_EQ(Control(kStrengthTrackbar).position, 20);
    EXPECT_EQ(Control(kStrengthLabel).text, "20 - Heavy");
    EXPECT_EQ(Control(kIterationsTrackbar).position, 1);
    EXPECT_EQ(Control(kRadiusLabel).text, "Tight (Radius = 1)");

    SaveSetting(kPrefilterStrengthName, -3);  // a negative strength shows as off
    Open();
    EXPECT_EQ(Control(kStrengthLabel).text, "Off");
    EXPECT_FALSE(Control(kIterationsTrackbar).enabled);
}

TEST_F(ConfigureDialogTest, StrengthTrackbarRelabelsAndGatesTheIterations) {
    Open();
    Drag(kStrengthTrackbar, 7);
    EXPECT_EQ(Control(kStrengthLabel).text, "7 - Medium");
    EXPECT_TRUE(Control(kIterationsTrackbar).enabled);
    EXPECT_TRUE(Control(kRadiusLabel).enabled);
    Drag(kStrengthTrackbar, 6);
    EXPECT_EQ(Control(kStrengthLabel).text, "6 - Light");
    Drag(kStrengthTrackbar, 14);
    EXPECT_EQ(Control(kStrengthLabel).text, "14 - Heavy");
    Drag(kStrengthTrackbar, 0);
    EXPECT_EQ(Control(kStrengthLabel).text, "Off");
    EXPECT_FALSE(Control(kIterationsTrackbar).enabled);
    EXPECT_FALSE(Control(kRadiusLabel).enabled);
}

TEST_F(ConfigureDialogTest, ScrollCodesOtherThanDraggingReadTheTrackbar) {
    Open();
    // A page step: the message's high word is meaningless, the control holds the position.
    fake.SetTrackbarPosition(kStrengthTrackbar, 5);
    constexpr WPARAM kPageUp = 2;
    EXPECT_TRUE(
        Send(platform::WM_HSCROLL, kPageUp | (WPARAM{17} << 16), FakeControls::WindowOf(kStrengthTrackbar)));
    EXPECT_EQ(Control(kStrengthLabel).text, "5 - Light");
    // The end of a drag carries its position in the message.
    EXPECT_TRUE(Send(platform::WM_HSCROLL, platform::TB_THUMBPOSITION | (WPARAM{2} << 16),
                     FakeControls::WindowOf(kIterationsTrackbar)));
    EXPECT_EQ(Control(kRadiusLabel).text, "Narrow (Radius = 2)");
    // Scrolling from some other window changes nothing but is still answered.
    EXPECT_TRUE(Send(platform::WM_HSCROLL, platform::TB_THUMBTRACK | (WPARAM{9} << 16), 0));
    EXPECT_EQ(Control(kStrengthLabel).text, "5 - Light");
}

TEST_F(ConfigureDialogTest, OkStoresAllSixFromTheControls) {
    Open();
    fake.CheckButton(kFastSearchBox, true);
    fake.CheckButton(kStrongCompressionBox, false);
    Drag(kStrengthTrackbar, 12);
    Drag(kIterationsTrackbar, 4);
    Press(platform::IDOK);
    EXPECT_EQ(fake.ended, 0);
    const CodecSettings chosen{1, 0, 1, 0, 12, 4};
    testing::ExpectSettings(LoadCodecSettings(), chosen);
    testing::ExpectSettings(settings, chosen);
}

TEST_F(ConfigureDialogTest, OkWithUnchangedControlsStillWritesEveryValue) {
    Open();
    Press(platform::IDOK);
    for (const char* name : {kFastSearchName, kSubBlockMotionName, kAutoKeyInsertName, kStrongCompressionName,
                             kPrefilterStrengthName, kPrefilterIterationsName})
        EXPECT_TRUE(Stored(name)) << name;
    EXPECT_EQ(LoadSetting(kStrongCompressionName, -7), 1);
    EXPECT_EQ(LoadSetting(kPrefilterIterationsName, -7), 1);
}

TEST_F(ConfigureDialogTest, CancelStoresNothingAndKeepsTheLoadedValues) {
    Open();
    fake.CheckButton(kFastSearchBox, true);
    Drag(kStrengthTrackbar, 3);
    Press(platform::IDCANCEL);
    EXPECT_EQ(fake.ended, 0);
    EXPECT_FALSE(platform::RegistryKeyExists(platform::RegistryHive::Machine, kSettingsKey));
    EXPECT_EQ(settings.fastSearch, 0);
    EXPECT_EQ(settings.prefilterStrength, 0);
}

TEST_F(ConfigureDialogTest, OtherCommandsKeepTheDialogOpenAndOtherMessagesAreNotHandled) {
    Open();
    Press(kFastSearchBox);  // a check box click
    EXPECT_FALSE(fake.ended.has_value());
    EXPECT_FALSE(Send(0x000F));  // a paint request
    EXPECT_FALSE(fake.ended.has_value());
}

TEST(AboutDialogTest, OkAndCancelCloseTheDialog) {
    for (int button : {platform::IDOK, platform::IDCANCEL}) {
        FakeControls fake;
        AboutDialogProcedure about;
        EXPECT_FALSE(about.HandleMessage(fake, platform::WM_INITDIALOG, 0, 0));
        EXPECT_FALSE(about.HandleMessage(fake, platform::WM_COMMAND, 1234, 0));
        EXPECT_FALSE(fake.ended.has_value());
        EXPECT_TRUE(about.HandleMessage(fake, platform::WM_COMMAND, static_cast<WPARAM>(button), 0));
        EXPECT_EQ(fake.ended, 0);
    }
}

TEST(DialogRequestTest, WithoutAWindowSystemTheRequestsStillAnswerZero) {
    testing::ScratchRegistry registry;
    CodecSettings settings;
    EXPECT_EQ(ConfigureDialog(nullptr, settings), 0);
    EXPECT_EQ(AboutDialog(nullptr), 0);
    EXPECT_FALSE(platform::RegistryKeyExists(platform::RegistryHive::Machine, kSettingsKey));
}

}  // namespace
}  // namespace rq43
