// Alerts by localized key and the okay/cancel and value questions, run by a
// scripted user on the application's own dialog windows.
#include "utilities/Alerts.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

constexpr OSType kValue = FOUR_CHAR_CODE("VALU");
constexpr OSType kName = FOUR_CHAR_CODE("NAME");
constexpr OSType kUnit = FOUR_CHAR_CODE("UNIT");

class AlertsTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    // The table lacks OUTOFRANGEERR on purpose: a missing key shows as itself.
    WriteStrings("/* test table */\n\"USRER\" = \"User Error\";\n\"NOTENOUGHRAM\" = \"Not enough memory.\";\n");
  }
  std::string Text(OSType sig) { return ControlText(FindControl(ModalWindow(), sig, 0)); }
};

TEST_F(AlertsTest, PostAlertTitlesBeepsAndKeys) {
  ScriptedUser user;
  user.AnswerAlert().AnswerAlert().AnswerAlert().AnswerAlert();
  long beeps = SkyloomBeepCount();
  myPostAlert("", "Disk full");
  EXPECT_EQ(SkyloomBeepCount() - beeps, 1);
  myPostAlert("USRER", "NOTENOUGHRAM");
  EXPECT_EQ(SkyloomBeepCount() - beeps, 2);
  myPostAlert("USRER", "NOSUCHKEY");
  myPostAlertByKeyString("USRER", "NOTENOUGHRAM");
  EXPECT_EQ(SkyloomBeepCount() - beeps, 3);  // by key string: no beep
  ASSERT_EQ(Alerts().size(), 4u);
  EXPECT_EQ(Alerts()[0].title, "OSX Err");
  EXPECT_EQ(Alerts()[0].message, "Disk full");
  EXPECT_EQ(Alerts()[1].title, "User Error");
  EXPECT_EQ(Alerts()[1].message, "Not enough memory.");
  EXPECT_EQ(Alerts()[2].message, "NOSUCHKEY");
  for (const AlertRecord& a : Alerts()) {
    EXPECT_EQ(a.type, kAlertStopAlert);
    EXPECT_EQ(a.answer, kAlertStdAlertOKButton);
  }
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(AlertsTest, TitlesAndTextsByKey) {
  WindowRef w = MakeWindow("ORX_DCAM", "Warning");
  ASSERT_NE(w, nullptr);
  mySetCWindowTitleByKeyString(w, "USRER");
  EXPECT_EQ(WindowTitle(w), "User Error");
  mySetCWindowTitleByKeyString(nullptr, "USRER");
  EXPECT_EQ(mySetControlTitleByKeyString(w, FOUR_CHAR_CODE("ok  "), 0, "OKAY"), noErr);
  EXPECT_EQ(ControlTitle(FindControl(w, FOUR_CHAR_CODE("ok  "), 0)), "OKAY");
  EXPECT_EQ(myChangeControlTxtKeyString(w, kName, 0, "NOTENOUGHRAM"), noErr);
  EXPECT_EQ(ControlText(FindControl(w, kName, 0)), "Not enough memory.");
  EXPECT_EQ(myChangeControlTxtKeyString(w, kValue, 0, "X"), errUnknownControl);
  EXPECT_EQ(myGetLocalizedCFString("\xff"), nullptr);
  EXPECT_EQ(myGetLocalizedCFString(nullptr), nullptr);
}

TEST_F(AlertsTest, ValueDialogRefusesCorrectsAndStaysOpen) {
  ScriptedUser user;
  long beeps = SkyloomBeepCount();
  user.Do([&] {
        EXPECT_EQ(WindowName(ModalWindow()), "GetAUserValue");
        EXPECT_EQ(WindowTitle(ModalWindow()), "Exposure");
        EXPECT_EQ(Text(kValue), "3.0");
        EXPECT_EQ(Text(kName), "Exposure time:");
        EXPECT_EQ(Text(kUnit), "ms");
        EXPECT_EQ(FocusedControl(ModalWindow()), FindControl(ModalWindow(), kValue, 0));
        EXPECT_EQ(CurrentCursor(), kThemeArrowCursor);
      })
      .Type(kValue, 0, "12")
      .ClickOK()
      .Do([&] {
        // The alert is up now, over the dialog; the field is corrected already.
        ASSERT_EQ(Alerts().size(), 1u);
        EXPECT_EQ(Alerts()[0].title, "User Error");
        EXPECT_EQ(Alerts()[0].message, "OUTOFRANGEERR");
        EXPECT_EQ(Alerts()[0].type, kAlertStopAlert);
        EXPECT_NE(CurrentAlert(), nullptr);
      })
      .AnswerAlert()
      .Do([&] {
        EXPECT_EQ(WindowName(ModalWindow()), "GetAUserValue");
        EXPECT_EQ(Text(kValue), "10.0");
        EXPECT_EQ(SkyloomBeepCount() - beeps, 1);  // the tester's refusal only
      })
      .ClickOK();
  float value = 3.0f;
  EXPECT_EQ(myGetAUserValue(nullptr, "Exposure", "Exposure time:", "ms", &value, 1, 10, 1, 1), noErr);
  EXPECT_EQ(value, 10.0f);
  EXPECT_EQ(Alerts().size(), 1u);
  EXPECT_EQ(SkyloomBeepCount() - beeps, 1);
  EXPECT_TRUE(Windows().empty());
  EXPECT_EQ(user.Pending(), 0u);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(AlertsTest, ValueSheetCancelLeavesTheValueAndHasNoTitle) {
  WindowRef parent = MakeWindow("ORX_DCAM", "Warning");  // any window will do as the parent
  ShowWindow(parent);
  ScriptedUser user;
  user.Do([&] {
        WindowRef sheet = SheetOf(parent);
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(WindowName(sheet), "GetAUserValueSheet");
        EXPECT_EQ(WindowTitle(sheet), "");
        EXPECT_EQ(ControlText(FindControl(sheet, kValue, 0)), "2.500");
      })
      .Type(kValue, 0, "4")
      .ClickCancel();
  float value = 2.5f;
  EXPECT_EQ(myGetAUserValue(parent, "Ignored", "Gain", "dB", &value, 0, 10, 3, 1), userCanceledErr);
  EXPECT_EQ(value, 2.5f);
  EXPECT_EQ(SheetOf(parent), nullptr);
  EXPECT_EQ(Windows().size(), 1u);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(AlertsTest, OkayCancelBeepsOnceAndAnswers) {
  struct Case {
    bool sheet;
    UInt32 command;
    OSStatus result;
  };
  for (Case c : {Case{false, kHICommandOK, noErr}, Case{false, kHICommandCancel, userCanceledErr},
                 Case{true, kHICommandOK, noErr}, Case{true, kHICommandCancel, userCanceledErr}}) {
    SCOPED_TRACE(std::to_string(c.sheet) + " " + std::to_string(c.command));
    WindowRef parent = nullptr;
    if (c.sheet) {
      parent = MakeWindow("ORX_DCAM", "GetAUserValue");
      ShowWindow(parent);
    }
    ScriptedUser user;
    long beeps = SkyloomBeepCount();
    long cursors = CursorChangeCount();
    user.Do([&] {
          WindowRef q = c.sheet ? SheetOf(parent) : ModalWindow();
          ASSERT_NE(q, nullptr);
          EXPECT_EQ(WindowName(q), c.sheet ? "WarningSheet" : "Warning");
          EXPECT_EQ(WindowTitle(q), "Delete");
          EXPECT_EQ(ControlText(FindControl(q, kName, 0)), "Delete the dark frame?");
          EXPECT_EQ(SkyloomBeepCount() - beeps, 1);
        })
        .Command(c.command);
    EXPECT_EQ(myGetUserOkayCancel(parent, "Delete", "Delete the dark frame?"), c.result);
    EXPECT_EQ(SkyloomBeepCount() - beeps, 1);
    EXPECT_EQ(CursorChangeCount() - cursors, 2);  // the arrow before and after
    EXPECT_EQ(CurrentCursor(), kThemeArrowCursor);
    EXPECT_TRUE(user.Errors().empty());
    if (parent) DisposeWindow(parent);
    EXPECT_TRUE(Windows().empty());
  }
}

TEST_F(AlertsTest, FailuresReturnTheirStatusFreeTheRecordAndResetTheCursor) {
  struct Case {
    const char* call;
    OSStatus status;
  };
  for (Case c : {Case{"CreateNibReference", kIBCarbonRuntimeCantFindNibFile},
                 Case{"CreateWindowFromNib", kIBCarbonRuntimeCantFindObject},
                 Case{"InstallEventHandler", memFullErr}}) {
    SCOPED_TRACE(c.call);
    for (int which = 0; which < 2; ++which) {
      ScriptedUser user;  // nothing scripted: no dialog may come up
      SetThemeCursor(kThemeWatchCursor);
      InjectFailure(c.call, c.status);
      float value = 1.0f;
      OSStatus r = which == 0 ? myGetUserOkayCancel(nullptr, "t", "m")
                              : myGetAUserValue(nullptr, "t", "p", "u", &value, 0, 2, 1, 1);
      EXPECT_EQ(r, c.status);
      EXPECT_EQ(value, 1.0f);
      EXPECT_EQ(CurrentCursor(), kThemeArrowCursor);
      EXPECT_TRUE(Windows().empty());
      EXPECT_TRUE(user.Errors().empty());
    }
  }
  EXPECT_EQ(myGetAUserValue(nullptr, "t", "p", "u", nullptr, 0, 1, 1, 1), paramErr);
}

TEST_F(AlertsTest, BrowserGetsTheAddress) {
  std::string opened;
  SetURLOpener([&](const std::string& url) {
    opened = url;
    return OSStatus(noErr);
  });
  long handles = SkyloomLiveHandleCount();
  EXPECT_EQ(mySendBrowserToURL(""), -1);
  EXPECT_EQ(mySendBrowserToURL(nullptr), -1);
  EXPECT_EQ(opened, "");
  EXPECT_EQ(mySendBrowserToURL("https://example.org/skyloom"), noErr);
  EXPECT_EQ(opened, "https://example.org/skyloom");
  EXPECT_EQ(SkyloomLiveHandleCount(), handles);
  SetURLOpener([](const std::string&) { return OSStatus(fnfErr); });
  EXPECT_EQ(mySendBrowserToURL("https://example.org"), fnfErr);
}

}  // namespace
