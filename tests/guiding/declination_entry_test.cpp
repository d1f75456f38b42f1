// The declination entry ("EnterDeclination") and the Dec tracking pop-up of
// the guiding window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/Calibration.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

namespace {

constexpr OSType kDECV = FOUR_CHAR_CODE("DECV");
constexpr OSType kTKDE = FOUR_CHAR_CODE("TKDE");

class DeclinationEntryTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
  }
  std::string Field() {
    WindowRef w = skyloom::ui::FindWindow("EnterDeclination");
    if (!w) w = skyloom::ui::FindWindow("EnterDeclinationSheet");
    return w ? skyloom::ui::ControlText(skyloom::ui::FindControl(w, kDECV, 0)) : "<no window>";
  }
};

TEST_F(DeclinationEntryTest, BoundsAreRefusedUntilAValidValue) {
  for (const char* typed : {"90", "-90"}) {
    SCOPED_TRACE(typed);
    skyloom::ui::ResetModel();
    const std::string bound = typed[0] == '-' ? "-90.00" : "90.00";
    float value = 12.345f;
    const long beeps = SkyloomBeepCount();
    skyloom::ui::ScriptedUser user;
    user.Do([&] { EXPECT_EQ(Field(), "12.3"); })
        .Type(kDECV, 0, typed)
        .ClickOK()
        .Do([&] {
          // The field shows the bound in two decimals and the window stays.
          EXPECT_EQ(Field(), bound);
          EXPECT_EQ(skyloom::ui::WindowName(skyloom::ui::ModalWindow()), "EnterDeclination");
          EXPECT_GE(SkyloomBeepCount(), beeps + 1);
        })
        .AnswerAlert()
        // The bound as rewritten is refused again; the user types a value.
        .ClickOK()
        .AnswerAlert()
        .Type(kDECV, 0, "89.9")
        .ClickOK();
    EXPECT_EQ(myGetDecSettings(nullptr, &value), noErr);
    EXPECT_FLOAT_EQ(value, 89.9f);
    EXPECT_TRUE(user.Errors().empty());
    const auto& alerts = skyloom::ui::Alerts();
    ASSERT_EQ(alerts.size(), 2u);
    for (const auto& a : alerts) {
      EXPECT_EQ(a.title, "USRER");  // keys: this test has no strings table
      EXPECT_EQ(a.message, "DECRNGERR");
    }
    EXPECT_EQ(skyloom::ui::FindWindow("EnterDeclination"), nullptr);
    EXPECT_EQ(skyloom::ui::CurrentCursor(), kThemeArrowCursor);
  }
}

TEST_F(DeclinationEntryTest, AValueWithinTheBoundsIsTakenAtOnce) {
  for (const char* typed : {"89.9", "-89.99", "0"}) {
    SCOPED_TRACE(typed);
    skyloom::ui::ResetModel();
    float value = 45.0f;
    skyloom::ui::ScriptedUser user;
    user.Type(kDECV, 0, typed).ClickOK();
    EXPECT_EQ(myGetDecSettings(nullptr, &value), noErr);
    EXPECT_FLOAT_EQ(value, strtof(typed, nullptr));
    EXPECT_TRUE(skyloom::ui::Alerts().empty());
    EXPECT_TRUE(user.Errors().empty());
  }
}

TEST_F(DeclinationEntryTest, OnAParentItIsASheet) {
  WindowRef parent = MakeWindow("ORX_DCAM", "LXControls");
  ASSERT_NE(parent, nullptr);
  ShowWindow(parent);
  float value = 10.0f;
  skyloom::ui::ScriptedUser user;
  user.Do([&] { EXPECT_NE(skyloom::ui::SheetOf(parent), nullptr); }).Type(kDECV, 0, "-20.5").ClickOK();
  EXPECT_EQ(myGetDecSettings(parent, &value), noErr);
  EXPECT_FLOAT_EQ(value, -20.5f);
  EXPECT_EQ(skyloom::ui::SheetOf(parent), nullptr);
  EXPECT_TRUE(user.Errors().empty());
  DisposeWindow(parent);
}

TEST_F(DeclinationEntryTest, ToolboxFailuresLeaveTheValue) {
  for (const char* call : {"CreateNibReference", "CreateWindowFromNib", "InstallEventHandler"}) {
    SCOPED_TRACE(call);
    skyloom::ui::ResetModel();
    skyloom::ui::InjectFailure(call, -1234);
    float value = 33.0f;
    EXPECT_EQ(myGetDecSettings(nullptr, &value), -1234);
    EXPECT_EQ(value, 33.0f);
    EXPECT_TRUE(skyloom::ui::Windows().empty());
  }
}

TEST_F(DeclinationEntryTest, DecTrackingPopUpFollowsTheCalibration) {
  WindowRef w = MakeWindow("ORX_DCAM", "LXControls");
  ASSERT_NE(w, nullptr);
  ControlRef popUp = skyloom::ui::FindControl(w, kTKDE, 0);
  MenuRef menu = GetControlPopupMenuHandle(popUp);
  ASSERT_NE(menu, nullptr);
  auto* record = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
  struct Case {
    const char* name;
    UInt8 guidingOn, correctDec;
    UInt32 calibrationMode;
    std::vector<bool> enabled;  // items 1-4
    UInt32 mode;
  } cases[] = {
      {"both directions", 1, 1, 2, {true, true, true, true}, 2},
      {"up only", 1, 1, 3, {true, false, true, false}, 3},
      {"down only", 1, 1, 4, {true, false, false, true}, 4},
      {"Dec off", 1, 1, 1, {true, false, false, false}, 1},
      {"not calibrated", 0, 1, 2, {true, false, false, false}, 1},
      {"Dec not covered", 1, 0, 2, {true, false, false, false}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DisableControl(popUp);
    record->mGuidingOn = c.guidingOn;
    record->mCorrectDec = c.correctDec;
    record->mDecCalibrationMode = c.calibrationMode;
    record->mDecTrackingMode = 9;
    myChangeDecSelectionMenu(w, record);
    EXPECT_EQ(record->mDecTrackingMode, c.mode);
    EXPECT_TRUE(IsControlEnabled(popUp));
    EXPECT_EQ(GetControl32BitValue(popUp), SInt32(c.mode));
    for (MenuItemIndex item = 1; item <= 4; item++) {
      EXPECT_EQ(bool(IsMenuItemEnabled(menu, item)), c.enabled[item - 1]) << "item " << item;
      CharParameter mark = 0;
      GetItemMark(menu, item, &mark);
      EXPECT_EQ(mark != 0, item == c.mode) << "item " << item;
    }
  }
  // A window without the pop-up is left alone.
  WindowRef other = MakeWindow("ORX_DCAM", "EnterDeclination");
  myChangeDecSelectionMenu(other, record);
  free(record);
  DisposeWindow(other);
  DisposeWindow(w);
}

}  // namespace
