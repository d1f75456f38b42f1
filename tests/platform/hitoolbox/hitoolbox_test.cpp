// The headless window model: windows and controls from a nib description,
// control data, menus, event dispatch, timers, modal loops, sheets, alerts
// and the scripted user.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

const char* kPanel = R"(
window "Panel" class=document title="Panel" bounds=40,40,400,600 attributes=close-box,resizable
  control 'EDIT' 1 edit-text bounds=10,10,26,100 text="3.5"
  control 'STAT' 1 static-text bounds=30,10,46,100 text="Label"
  control 'PUSH' 1 push-button bounds=50,10,70,90 title="Go" command='GOGO'
  control 'CHEK' 1 check-box title="On" value=1
  control 'POPU' 0 pop-up value=2 command='POPC'
    item "One"
    item "Two" checked
    item "Three" command='THRE' disabled
  control 'SLID' 1 slider min=0 max=100 value=250
  control 'ARRO' 1 little-arrows min=0 max=3 value=3
  control 'GRUP' 1 group-box hidden
  control 'INNR' 1 edit-text in='GRUP',1
  control 'RGRP' 1 radio-group
    item "A"
    item "B"
  control 'PANE' 1 user-pane
end
window "Sheet" class=sheet
  control 'ok  ' 0 push-button title="OK" command='ok  '
end
menu "Tools" id=20 title="Tools"
  item "Stack" command='STAK' key="K"
  item "-"
  item "More" submenu="MoreTools"
end
menu "MoreTools" id=21 title="More"
  item "Rotate" command='FRMO'
end
menubar "MainMenu"
  menu "File" id=1 title="File"
    item "Quit" command='quit'
  end
end
)";

constexpr OSType kCmds = FOUR_CHAR_CODE("cmds");

struct Recorded {
  std::vector<std::string> calls;
  OSStatus answer = eventNotHandledErr;
  UInt32 lastCommand = 0;
  WindowRef disposeThis = nullptr;
};

OSStatus recordingHandler(EventHandlerCallRef, EventRef e, void* ud) {
  auto* r = static_cast<Recorded*>(ud);
  HICommand cmd{};
  if (GetEventClass(e) == kEventClassCommand &&
      GetEventParameter(e, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr, &cmd) == noErr)
    r->lastCommand = cmd.commandID;
  r->calls.push_back("h");
  if (r->disposeThis) {
    DisposeWindow(r->disposeThis);
    r->disposeThis = nullptr;
  }
  return r->answer;
}

class HIToolboxTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteNib("Test", kPanel);
    panel_ = MakeWindow("Test", "Panel");
    ASSERT_NE(panel_, nullptr);
  }
  ControlRef C(OSType sig, SInt32 id) { return FindControl(panel_, sig, id); }
  WindowRef panel_ = nullptr;
};

TEST_F(HIToolboxTest, WindowFromTheNibHasItsControlsAndStartsHidden) {
  EXPECT_EQ(WindowName(panel_), "Panel");
  EXPECT_EQ(WindowTitle(panel_), "Panel");
  EXPECT_FALSE(IsWindowVisible(panel_));
  WindowAttributes attrs = 0;
  ASSERT_EQ(GetWindowAttributes(panel_, &attrs), noErr);
  EXPECT_EQ(attrs, kWindowCloseBoxAttribute | kWindowResizableAttribute);

  ControlID missing{FOUR_CHAR_CODE("NONE"), 0};
  ControlRef c = reinterpret_cast<ControlRef>(1);
  EXPECT_EQ(GetControlByID(panel_, &missing, &c), errUnknownControl);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(GetControlByID(nullptr, &missing, &c), errInvalidWindowRef);

  EXPECT_EQ(ControlText(C(FOUR_CHAR_CODE("EDIT"), 1)), "3.5");
  EXPECT_EQ(GetControl32BitValue(C(FOUR_CHAR_CODE("CHEK"), 1)), 1);
  EXPECT_EQ(GetControl32BitMaximum(C(FOUR_CHAR_CODE("CHEK"), 1)), 1);
  // The pop-up's range follows its items; the slider's value is clamped.
  EXPECT_EQ(GetControl32BitMinimum(C(FOUR_CHAR_CODE("POPU"), 0)), 1);
  EXPECT_EQ(GetControl32BitMaximum(C(FOUR_CHAR_CODE("POPU"), 0)), 3);
  EXPECT_EQ(GetControl32BitValue(C(FOUR_CHAR_CODE("POPU"), 0)), 2);
  EXPECT_EQ(GetControl32BitValue(C(FOUR_CHAR_CODE("SLID"), 1)), 100);
  EXPECT_EQ(ControlItems(C(FOUR_CHAR_CODE("RGRP"), 1)), (std::vector<std::string>{"A", "B"}));
  // An embedded control is hidden with its embedder.
  EXPECT_TRUE(IsControlVisible(C(FOUR_CHAR_CODE("GRUP"), 1)) == false);
  EXPECT_FALSE(IsControlVisible(C(FOUR_CHAR_CODE("INNR"), 1)));
  ShowControl(C(FOUR_CHAR_CODE("GRUP"), 1));
  EXPECT_TRUE(IsControlVisible(C(FOUR_CHAR_CODE("INNR"), 1)));
}

TEST_F(HIToolboxTest, NibLookupFailures) {
  IBNibRef nib = nullptr;
  EXPECT_EQ(CreateNibReference(CFSTR("Absent"), &nib), kIBCarbonRuntimeCantFindNibFile);
  ASSERT_EQ(CreateNibReference(CFSTR("Test"), &nib), noErr);
  WindowRef w = nullptr;
  EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("Nowhere"), &w), kIBCarbonRuntimeCantFindObject);
  EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("Tools"), &w), kIBCarbonRuntimeObjectNotOfRequestedType);
  InjectFailure("CreateWindowFromNib", -108);
  EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("Panel"), &w), -108);
  EXPECT_EQ(w, nullptr);
  EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("Panel"), &w), noErr);
  DisposeWindow(w);
  // Calls 2 and 3 fail; the first and the fourth are made.
  InjectFailureAt("CreateWindowFromNib", -25, 2, 2);
  const OSStatus kExpected[] = {noErr, -25, -25, noErr};
  for (OSStatus expected : kExpected) {
    w = nullptr;
    EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("Panel"), &w), expected);
    EXPECT_EQ(w != nullptr, expected == noErr);
    if (w) DisposeWindow(w);
  }
  // A failure withdrawn before its call comes leaves every call working.
  InjectFailureAt("CreateWindowFromNib", -25, 2);
  InjectFailureAt("CreateWindowFromNib", -25, 1, 0);
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("Panel"), &w), noErr) << k;
    DisposeWindow(w);
  }
  DisposeNibReference(nib);
}

TEST_F(HIToolboxTest, TextThroughCfstAndOtherControlData) {
  ControlRef edit = C(FOUR_CHAR_CODE("EDIT"), 1);
  long before = SkyloomCFLiveObjectCount();
  CFStringRef s = CFSTR("12.5 µm");
  ASSERT_EQ(SetControlData(edit, 0, kControlEditTextCFStringTag, sizeof s, &s), noErr);
  CFStringRef out = nullptr;
  Size size = 0;
  ASSERT_EQ(GetControlDataSize(edit, 0, kControlEditTextCFStringTag, &size), noErr);
  EXPECT_EQ(size, Size(sizeof(CFStringRef)));
  ASSERT_EQ(GetControlData(edit, 0, kControlEditTextCFStringTag, sizeof out, &out, nullptr), noErr);
  EXPECT_EQ(CFStringCompare(out, s, 0), kCFCompareEqualTo);
  CFRelease(out);
  EXPECT_EQ(SkyloomCFLiveObjectCount(), before);
  EXPECT_EQ(ControlText(edit), "12.5 µm");

  // Wrong sizes and tags the kind lacks are refused and change nothing.
  EXPECT_EQ(SetControlData(edit, 0, kControlEditTextCFStringTag, 1, &s), errDataSizeMismatch);
  EXPECT_EQ(SetControlData(C(FOUR_CHAR_CODE("PUSH"), 1), 0, kControlEditTextCFStringTag, sizeof s, &s), errDataNotSupported);
  ControlKeyFilterUPP f = nullptr;
  EXPECT_EQ(GetControlData(C(FOUR_CHAR_CODE("STAT"), 1), 0, kControlEditTextKeyFilterTag, sizeof f, &f, nullptr), errDataNotSupported);

  // The selection reads back within the text.
  ControlEditTextSelectionRec all{0, 32767}, back{};
  ASSERT_EQ(SetControlData(edit, 0, kControlEditTextSelectionTag, sizeof all, &all), noErr);
  ASSERT_EQ(GetControlData(edit, 0, kControlEditTextSelectionTag, sizeof back, &back, nullptr), noErr);
  EXPECT_EQ(back.selStart, 0);
  EXPECT_EQ(back.selEnd, 7);
}

TEST_F(HIToolboxTest, ValuesFollowTheLimits) {
  ControlRef s = C(FOUR_CHAR_CODE("SLID"), 1);
  SetControl32BitValue(s, -5);
  EXPECT_EQ(GetControl32BitValue(s), 0);
  SetControl32BitValue(s, 60);
  SetControl32BitMaximum(s, 40);
  EXPECT_EQ(GetControl32BitValue(s), 40);
  SetControl32BitMinimum(s, 50);
  EXPECT_EQ(GetControl32BitMaximum(s), 50);
  EXPECT_EQ(GetControl32BitValue(s), 50);
}

TEST_F(HIToolboxTest, FocusOnlyOnVisibleEnabledEditFields) {
  EXPECT_EQ(SetKeyboardFocus(panel_, C(FOUR_CHAR_CODE("PUSH"), 1), kControlFocusNextPart), errControlDoesntSupportFocus);
  EXPECT_EQ(SetKeyboardFocus(panel_, C(FOUR_CHAR_CODE("INNR"), 1), kControlFocusNextPart), errCouldntSetFocus);
  EXPECT_EQ(SetKeyboardFocus(panel_, C(FOUR_CHAR_CODE("EDIT"), 1), kControlFocusNextPart), noErr);
  EXPECT_EQ(FocusedControl(panel_), C(FOUR_CHAR_CODE("EDIT"), 1));
  DisableControl(C(FOUR_CHAR_CODE("EDIT"), 1));
  EXPECT_EQ(SetKeyboardFocus(panel_, C(FOUR_CHAR_CODE("EDIT"), 1), kControlFocusNextPart), errCouldntSetFocus);
  EXPECT_EQ(SetKeyboardFocus(panel_, nullptr, kControlFocusNoPart), noErr);
  EXPECT_EQ(FocusedControl(panel_), nullptr);
}

TEST_F(HIToolboxTest, MenusItemsMarksAndThePopupRange) {
  MenuRef m = GetControlPopupMenuHandle(C(FOUR_CHAR_CODE("POPU"), 0));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(CountMenuItems(m), 3);
  CharParameter mark = 0;
  GetItemMark(m, 2, &mark);
  EXPECT_EQ(mark, checkMark);
  EXPECT_FALSE(IsMenuItemEnabled(m, 3));

  MenuItemIndex added = 0;
  ASSERT_EQ(AppendMenuItemTextWithCFString(m, CFSTR("Four"), 0, FOUR_CHAR_CODE("FOUR"), &added), noErr);
  EXPECT_EQ(added, 4);
  EXPECT_EQ(GetControl32BitMaximum(C(FOUR_CHAR_CODE("POPU"), 0)), 4);
  SetControl32BitValue(C(FOUR_CHAR_CODE("POPU"), 0), 4);
  DeleteMenuItem(m, 4);
  DeleteMenuItem(m, 1);
  EXPECT_EQ(ControlItems(C(FOUR_CHAR_CODE("POPU"), 0)), (std::vector<std::string>{"Two", "Three"}));
  EXPECT_EQ(GetControl32BitValue(C(FOUR_CHAR_CODE("POPU"), 0)), 2);  // held to the shorter menu
  EXPECT_EQ(SetMenuItemTextWithCFString(m, 3, CFSTR("x")), menuItemNotFoundErr);
  EXPECT_EQ(DeleteMenuItems(m, 0, 1), menuItemNotFoundErr);

  MenuCommand cmd = 0;
  ASSERT_EQ(GetMenuItemCommandID(m, 2, &cmd), noErr);
  EXPECT_EQ(cmd, FOUR_CHAR_CODE("THRE"));
}

TEST_F(HIToolboxTest, MenusFromTheNibAndTheMenuBar) {
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReference(CFSTR("Test"), &nib), noErr);
  ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MainMenu")), noErr);
  MenuRef tools = nullptr;
  ASSERT_EQ(CreateMenuFromNib(nib, CFSTR("Tools"), &tools), noErr);
  DisposeNibReference(nib);
  InsertMenu(tools, hierMenu);
  ReleaseMenu(tools);  // the menu bar's list keeps it
  EXPECT_EQ(GetMenuRef(20), tools);
  EXPECT_EQ(MenuTitle(GetMenuRef(21)), "More");  // found through the submenu
  EXPECT_EQ(MenuTitle(GetMenuRef(1)), "File");
  MenuRef found = nullptr;
  MenuItemIndex idx = 0;
  ASSERT_EQ(GetIndMenuItemWithCommandID(tools, FOUR_CHAR_CODE("FRMO"), 1, &found, &idx), noErr);
  EXPECT_EQ(found, GetMenuRef(21));
  EXPECT_EQ(idx, 1);
  DisableMenuCommand(nullptr, kHICommandQuit);
  EXPECT_FALSE(IsMenuItemEnabled(GetMenuRef(1), 1));
}

TEST_F(HIToolboxTest, HandlersRunNewestFirstAndUnhandledEventsClimb) {
  Recorded onControl, onWindowOld, onWindowNew, onApp;
  EventTypeSpec location{kCmds, kEventCommandProcess};
  EventHandlerRef hc, hwo, hwn, ha;
  ASSERT_EQ(InstallControlEventHandler(C(FOUR_CHAR_CODE("PUSH"), 1), recordingHandler, 1, &location, &onControl, &hc), noErr);
  ASSERT_EQ(InstallWindowEventHandler(panel_, recordingHandler, 1, &location, &onWindowOld, &hwo), noErr);
  ASSERT_EQ(InstallWindowEventHandler(panel_, recordingHandler, 1, &location, &onWindowNew, &hwn), noErr);
  ASSERT_EQ(InstallApplicationEventHandler(recordingHandler, 1, &location, &onApp, &ha), noErr);
  ShowWindow(panel_);

  onWindowOld.answer = noErr;
  ASSERT_EQ(UserClick(C(FOUR_CHAR_CODE("PUSH"), 1)), noErr);
  EXPECT_EQ(onControl.calls.size(), 1u);
  EXPECT_EQ(onWindowNew.calls.size(), 1u);
  EXPECT_EQ(onWindowOld.calls.size(), 1u);
  EXPECT_EQ(onApp.calls.size(), 0u);  // taken by the older window handler
  EXPECT_EQ(onWindowOld.lastCommand, FOUR_CHAR_CODE("GOGO"));

  // A removed handler hears nothing; a handler disposing its window ends the
  // window's part of the chain safely, and the application still hears it.
  RemoveEventHandler(hwn);
  onWindowOld.answer = eventNotHandledErr;
  onControl.disposeThis = panel_;
  ASSERT_EQ(UserClick(C(FOUR_CHAR_CODE("PUSH"), 1)), noErr);
  EXPECT_EQ(onWindowNew.calls.size(), 1u);
  EXPECT_EQ(onWindowOld.calls.size(), 1u);
  EXPECT_EQ(onApp.calls.size(), 1u);
  EXPECT_TRUE(Windows().empty());
  RemoveEventHandler(ha);
}

TEST_F(HIToolboxTest, EventParametersAreTyped) {
  EventRef e = nullptr;
  ASSERT_EQ(CreateEvent(nullptr, kCmds, kEventCommandProcess, 0, 0, &e), noErr);
  UInt32 v = 7;
  SetEventParameter(e, kEventParamDirectObject, typeUInt32, sizeof v, &v);
  HICommand cmd;
  EXPECT_EQ(GetEventParameter(e, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr, &cmd),
            eventParameterNotFoundErr);
  EXPECT_EQ(GetEventParameter(e, kEventParamWindowRef, typeWindowRef, nullptr, 0, nullptr, nullptr),
            eventParameterNotFoundErr);
  UInt32 back = 0;
  EventParamType type = 0;
  EXPECT_EQ(GetEventParameter(e, kEventParamDirectObject, typeWildCard, &type, sizeof back, nullptr, &back), noErr);
  EXPECT_EQ(type, typeUInt32);
  EXPECT_EQ(back, 7u);
  ReleaseEvent(e);
}

TEST_F(HIToolboxTest, UserActionsActAsTheirKinds) {
  ShowWindow(panel_);
  // Typing passes each key through the field's filter.
  ControlKeyFilterUPP digitsOnly = [](ControlRef, SInt16*, SInt16* ch, EventModifiers*) -> ControlKeyFilterResult {
    return (*ch >= '0' && *ch <= '9') || *ch == '.' ? kControlKeyFilterPassKey : kControlKeyFilterBlockKey;
  };
  ControlRef edit = C(FOUR_CHAR_CODE("EDIT"), 1);
  SetControlData(edit, 0, kControlEditTextKeyFilterTag, sizeof digitsOnly, &digitsOnly);
  ASSERT_EQ(UserType(edit, "1a2.5x"), noErr);
  EXPECT_EQ(ControlText(edit), "12.5");
  EXPECT_EQ(FocusedControl(panel_), edit);

  ASSERT_EQ(UserClick(C(FOUR_CHAR_CODE("CHEK"), 1)), noErr);
  EXPECT_EQ(GetControl32BitValue(C(FOUR_CHAR_CODE("CHEK"), 1)), 0);
  EXPECT_EQ(UserChooseItem(C(FOUR_CHAR_CODE("POPU"), 0), 3), errControlHiddenOrDisabled);  // item disabled
  EXPECT_EQ(UserChooseItem(C(FOUR_CHAR_CODE("POPU"), 0), 4), menuItemNotFoundErr);
  EXPECT_EQ(UserClick(C(FOUR_CHAR_CODE("INNR"), 1)), errControlHiddenOrDisabled);          // hidden with its group
  DisableControl(C(FOUR_CHAR_CODE("PUSH"), 1));
  EXPECT_EQ(UserClick(C(FOUR_CHAR_CODE("PUSH"), 1)), errControlHiddenOrDisabled);

  // Little arrows without an action procedure step the value themselves;
  // with one, the procedure does.
  ASSERT_EQ(UserClickArrow(C(FOUR_CHAR_CODE("ARRO"), 1), true), noErr);
  EXPECT_EQ(GetControl32BitValue(C(FOUR_CHAR_CODE("ARRO"), 1)), 3);
  ASSERT_EQ(UserClickArrow(C(FOUR_CHAR_CODE("ARRO"), 1), false), noErr);
  EXPECT_EQ(GetControl32BitValue(C(FOUR_CHAR_CODE("ARRO"), 1)), 2);
  static ControlPartCode seenPart;
  SetControlAction(C(FOUR_CHAR_CODE("ARRO"), 1), [](ControlRef, ControlPartCode part) { seenPart = part; });
  ASSERT_EQ(UserClickArrow(C(FOUR_CHAR_CODE("ARRO"), 1), false), noErr);
  EXPECT_EQ(seenPart, kControlDownButtonPart);
  EXPECT_EQ(GetControl32BitValue(C(FOUR_CHAR_CODE("ARRO"), 1)), 2);
}

TEST_F(HIToolboxTest, PopupItemCommandGoesToTheWindow) {
  Recorded onWindow;
  onWindow.answer = noErr;
  EventTypeSpec location{kCmds, kEventCommandProcess};
  ASSERT_EQ(InstallWindowEventHandler(panel_, recordingHandler, 1, &location, &onWindow, nullptr), noErr);
  ShowWindow(panel_);
  ASSERT_EQ(UserChooseItem(C(FOUR_CHAR_CODE("POPU"), 0), 1), noErr);
  EXPECT_EQ(onWindow.lastCommand, FOUR_CHAR_CODE("POPC"));  // the control's command: the item has none
  EnableMenuItem(GetControlPopupMenuHandle(C(FOUR_CHAR_CODE("POPU"), 0)), 3);
  ASSERT_EQ(UserChooseItem(C(FOUR_CHAR_CODE("POPU"), 0), 3), noErr);
  EXPECT_EQ(onWindow.lastCommand, FOUR_CHAR_CODE("THRE"));
  EXPECT_EQ(GetControl32BitValue(C(FOUR_CHAR_CODE("POPU"), 0)), 3);
}

TEST_F(HIToolboxTest, ScriptedUserEndsAnAppModalLoop) {
  Recorded onWindow;
  struct Ctx {
    WindowRef w;
    UInt32 cmd;
  } ctx{panel_, 0};
  EventTypeSpec location{kCmds, kEventCommandProcess};
  ASSERT_EQ(InstallWindowEventHandler(
                panel_,
                [](EventHandlerCallRef, EventRef e, void* ud) -> OSStatus {
                  auto* c = static_cast<Ctx*>(ud);
                  HICommand cmd;
                  GetEventParameter(e, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr, &cmd);
                  c->cmd = cmd.commandID;
                  if (cmd.commandID != FOUR_CHAR_CODE("GOGO")) return eventNotHandledErr;
                  QuitAppModalLoopForWindow(c->w);
                  return noErr;
                },
                1, &location, &ctx, nullptr),
            noErr);
  ShowWindow(panel_);
  ScriptedUser user;
  bool sawModal = false;
  user.Type(FOUR_CHAR_CODE("EDIT"), 1, "42")
      .Do([&] { sawModal = ModalWindow() == panel_; })
      .Click(FOUR_CHAR_CODE("PUSH"), 1);
  ASSERT_EQ(RunAppModalLoopForWindow(panel_), noErr);
  EXPECT_TRUE(sawModal);
  EXPECT_EQ(ctx.cmd, FOUR_CHAR_CODE("GOGO"));
  EXPECT_EQ(ControlText(C(FOUR_CHAR_CODE("EDIT"), 1)), "42");
  EXPECT_EQ(ModalWindow(), nullptr);
  EXPECT_EQ(user.Pending(), 0u);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(HIToolboxTest, AnExhaustedScriptEscapesInsteadOfHanging) {
  ShowWindow(panel_);
  ScriptedUser user;
  user.Click(FOUR_CHAR_CODE("NONE"), 9);  // a mistake in the script
  ASSERT_EQ(RunAppModalLoopForWindow(panel_), noErr);  // nobody quits: the user gives up
  ASSERT_EQ(user.Errors().size(), 2u);
  EXPECT_NE(user.Errors()[0].find("click 'NONE' 9"), std::string::npos);
  EXPECT_NE(user.Errors()[1].find("nothing left"), std::string::npos);
}

TEST_F(HIToolboxTest, AlertsAreRecordedAndAnsweredByTheUser) {
  ScriptedUser user;
  user.AnswerAlert(kAlertStdAlertCancelButton);
  AlertStdCFStringAlertParamRec param;
  ASSERT_EQ(GetStandardAlertDefaultParams(&param, kStdCFStringAlertVersionOne), noErr);
  param.cancelText = kAlertDefaultCancelText;
  DialogRef alert = nullptr;
  ASSERT_EQ(CreateStandardAlert(kAlertCautionAlert, CFSTR("Title"), CFSTR("Body"), &param, &alert), noErr);
  DialogItemIndex hit = 0;
  ASSERT_EQ(RunStandardAlert(alert, nullptr, &hit), noErr);
  EXPECT_EQ(hit, kAlertStdAlertCancelButton);
  ASSERT_EQ(Alerts().size(), 1u);
  EXPECT_EQ(Alerts()[0].title, "Title");
  EXPECT_EQ(Alerts()[0].message, "Body");
  EXPECT_EQ(Alerts()[0].buttons, (std::vector<std::string>{"OK", "Cancel"}));
  EXPECT_EQ(Alerts()[0].answer, kAlertStdAlertCancelButton);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(HIToolboxTest, WhileAnAlertIsUpWindowsCannotBeReached) {
  ShowWindow(panel_);
  ScriptedUser user;
  user.Click(FOUR_CHAR_CODE("PUSH"), 1).AnswerAlert();
  DialogRef alert = nullptr;
  ASSERT_EQ(CreateStandardAlert(kAlertStopAlert, CFSTR("T"), nullptr, nullptr, &alert), noErr);
  ASSERT_EQ(RunStandardAlert(alert, nullptr, nullptr), noErr);
  ASSERT_EQ(user.Errors().size(), 1u);
  EXPECT_NE(user.Errors()[0].find("an alert is up"), std::string::npos);
  EXPECT_EQ(Alerts()[0].answer, kAlertStdAlertOKButton);
}

TEST_F(HIToolboxTest, SheetsNeedTheSheetClassAndOneParent) {
  WindowRef sheet = MakeWindow("Test", "Sheet");
  EXPECT_EQ(ShowSheetWindow(panel_, sheet), paramErr);  // a document window is no sheet
  ASSERT_EQ(ShowSheetWindow(sheet, panel_), noErr);
  EXPECT_EQ(SheetOf(panel_), sheet);
  EXPECT_TRUE(IsWindowVisible(sheet));
  WindowRef other = MakeWindow("Test", "Sheet");
  EXPECT_EQ(ShowSheetWindow(other, panel_), paramErr);  // the parent has one already
  ASSERT_EQ(HideSheetWindow(sheet), noErr);
  EXPECT_EQ(SheetOf(panel_), nullptr);
  EXPECT_EQ(HideSheetWindow(sheet), paramErr);
}

TEST_F(HIToolboxTest, TimersFireOnTheMainRunLoopWhileTheUserWaits) {
  struct Count {
    int fired = 0;
    EventLoopTimerRef self = nullptr;
  } repeating, once;
  EventLoopTimerRef t1 = nullptr, t2 = nullptr;
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 0.001,
                                  [](EventLoopTimerRef, void* d) { static_cast<Count*>(d)->fired++; }, &repeating, &t1),
            noErr);
  // A one-shot timer that arms itself again twice, then removes itself.
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 0,
                                  [](EventLoopTimerRef t, void* d) {
                                    auto* c = static_cast<Count*>(d);
                                    if (++c->fired < 3)
                                      SetEventLoopTimerNextFireTime(t, 0);
                                    else
                                      RemoveEventLoopTimer(t);
                                  },
                                  &once, &t2),
            noErr);
  ShowWindow(panel_);
  ScriptedUser user;
  // The user waits until both timers have done their part (a generous guard
  // against a hang), then the window is done.
  user.Do([&] {
    for (int i = 0; i < 4000 && (repeating.fired < 3 || once.fired < 3); ++i)
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.005, false);
    QuitAppModalLoopForWindow(panel_);
  });
  RunAppModalLoopForWindow(panel_);
  EXPECT_GE(repeating.fired, 3);
  EXPECT_EQ(once.fired, 3);
  RemoveEventLoopTimer(t1);
}

TEST_F(HIToolboxTest, MenuChoiceAsksForEnablingThenSendsTheCommand) {
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReference(CFSTR("Test"), &nib), noErr);
  ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MainMenu")), noErr);
  DisposeNibReference(nib);
  struct State {
    int enables = 0;
    bool allowQuit = false;
  } st;
  EventTypeSpec location{kEventClassMenu, kEventMenuEnableItems};
  ASSERT_EQ(InstallApplicationEventHandler(
                [](EventHandlerCallRef, EventRef e, void* ud) -> OSStatus {
                  auto* s = static_cast<State*>(ud);
                  s->enables++;
                  MenuRef m = nullptr;
                  GetEventParameter(e, kEventParamDirectObject, typeMenuRef, nullptr, sizeof m, nullptr, &m);
                  if (s->allowQuit)
                    EnableMenuCommand(m, kHICommandQuit);
                  else
                    DisableMenuCommand(m, kHICommandQuit);
                  return noErr;
                },
                1, &location, &st, nullptr),
            noErr);
  ScriptedUser user;
  user.ChooseMenuCommand(kHICommandQuit).Do([&] { st.allowQuit = true; }).ChooseMenuCommand(kHICommandQuit);
  // Nobody handles quit: the standard handler ends the application loop.
  RunApplicationEventLoop();
  EXPECT_EQ(st.enables, 2);
  ASSERT_EQ(user.Errors().size(), 1u);  // the first choice found the item disabled
  EXPECT_EQ(user.Pending(), 0u);
}

TEST_F(HIToolboxTest, CursorAndUrlsAreRecorded) {
  SetThemeCursor(kThemeWatchCursor);
  EXPECT_EQ(CurrentCursor(), kThemeWatchCursor);
  EXPECT_EQ(CursorChangeCount(), 1);
  std::string seen;
  SetURLOpener([&](const std::string& u) {
    seen = u;
    return OSStatus(noErr);
  });
  EXPECT_EQ(SkyloomOpenURL("https://example.org/a"), noErr);
  EXPECT_EQ(seen, "https://example.org/a");
  EXPECT_EQ(SkyloomOpenURL(""), paramErr);
}

}  // namespace

namespace {

// A view subclass that counts what it hears in its own record.
struct Magnifier {
  ControlRef view;
  int initialized = 0;
  int draws = 0;
  int* destructed;
};

Magnifier* lastMagnifier = nullptr;

OSStatus magnifierHandler(EventHandlerCallRef call, EventRef e, void* ud) {
  if (GetEventClass(e) == kEventClassHIObject) {
    switch (GetEventKind(e)) {
      case kEventHIObjectConstruct: {
        auto* m = new Magnifier;
        GetEventParameter(e, kEventParamHIObjectInstance, typeHIObjectRef, nullptr, sizeof m->view, nullptr, &m->view);
        m->destructed = static_cast<int*>(ud);  // the class's construct data
        SetEventParameter(e, kEventParamHIObjectInstance, typeVoidPtr, sizeof m, &m);
        lastMagnifier = m;
        return noErr;
      }
      case kEventHIObjectInitialize: {
        auto* m = static_cast<Magnifier*>(ud);
        OSStatus base = CallNextEventHandler(call, e);
        if (base != noErr && base != eventNotHandledErr) return base;
        m->initialized++;
        return noErr;
      }
      case kEventHIObjectDestruct: {
        auto* m = static_cast<Magnifier*>(ud);
        (*m->destructed)++;
        delete m;
        return noErr;
      }
    }
  }
  if (GetEventClass(e) == kEventClassControl && GetEventKind(e) == kEventControlDraw) {
    static_cast<Magnifier*>(ud)->draws++;
    return noErr;
  }
  return eventNotHandledErr;
}

class ViewTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    const EventTypeSpec events[] = {{kEventClassHIObject, kEventHIObjectConstruct},
                                    {kEventClassHIObject, kEventHIObjectInitialize},
                                    {kEventClassHIObject, kEventHIObjectDestruct},
                                    {kEventClassControl, kEventControlDraw}};
    ASSERT_EQ(HIObjectRegisterSubclass(CFSTR("com.skyloom.test.magnifier"), kHIViewClassID, 0, magnifierHandler, 4,
                                       events, &destructed_, &cls_),
              noErr);
  }
  int destructed_ = 0;
  HIObjectClassRef cls_ = nullptr;
};

TEST_F(ViewTest, NibViewsOfARegisteredClassLiveAndDieWithTheirWindow) {
  WriteNib("Test", "window \"W\"\n control 'MAGN' 1 view class=\"com.skyloom.test.magnifier\"\nend\n"
                   "window \"Bad\"\n control 'MAGN' 1 view class=\"com.skyloom.test.unknown\"\nend\n");
  WindowRef w = MakeWindow("Test", "W");
  ControlRef view = FindControl(w, FOUR_CHAR_CODE("MAGN"), 1);
  ASSERT_NE(view, nullptr);
  Draw1Control(view);
  Draw1Control(view);
  // The class's handler hears the view's events with the view's own record.
  ASSERT_NE(lastMagnifier, nullptr);
  EXPECT_EQ(lastMagnifier->view, view);
  EXPECT_EQ(lastMagnifier->initialized, 1);
  EXPECT_EQ(lastMagnifier->draws, 2);
  EXPECT_EQ(HIObjectUnregisterClass(cls_), hiObjectClassHasInstancesErr);
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReference(CFSTR("Test"), &nib), noErr);
  WindowRef bad = nullptr;
  EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("Bad"), &bad), kIBCarbonRuntimeCantFindObject);
  DisposeNibReference(nib);
  EXPECT_EQ(Windows().size(), 1u);
  DisposeWindow(w);
  EXPECT_EQ(destructed_, 1);
  EXPECT_EQ(HIObjectUnregisterClass(cls_), noErr);
}

TEST_F(ViewTest, ViewsMadeInCodeJoinAWindowThroughItsRoot) {
  WriteNib("Test", "window \"W\"\n control 'GRUP' 1 group-box\nend\n");
  WindowRef w = MakeWindow("Test", "W");
  HIObjectRef view = nullptr;
  ASSERT_EQ(HIObjectCreate(CFSTR("com.skyloom.test.magnifier"), nullptr, &view), noErr);
  EXPECT_EQ(HIObjectCreate(CFSTR("com.skyloom.test.unknown"), nullptr, &view), paramErr);
  ASSERT_EQ(HIObjectCreate(CFSTR("com.skyloom.test.magnifier"), nullptr, &view), noErr);
  ControlID id{FOUR_CHAR_CODE("MAGN"), 2};
  SetControlID(view, &id);
  EXPECT_EQ(GetControlOwner(view), nullptr);
  ControlRef group = FindControl(w, FOUR_CHAR_CODE("GRUP"), 1);
  ASSERT_EQ(HIViewAddSubview(group, view), noErr);
  EXPECT_EQ(GetControlOwner(view), w);
  EXPECT_EQ(HIViewGetSuperview(view), group);
  EXPECT_EQ(HIViewGetSuperview(group), HIViewGetRoot(w));
  HIViewRef found = nullptr;
  ASSERT_EQ(HIViewFindByID(HIViewGetRoot(w), id, &found), noErr);
  EXPECT_EQ(found, view);
  EXPECT_EQ(HIViewAddSubview(view, group), errCantEmbedIntoSelf);
  HideControl(group);
  EXPECT_FALSE(HIViewIsVisible(view));
  ASSERT_EQ(HIViewRemoveFromSuperview(view), noErr);
  EXPECT_EQ(GetControlOwner(view), nullptr);
  DisposeControl(view);
  EXPECT_EQ(destructed_, 1);
  ResetModel();  // the first view, never placed, goes too
  EXPECT_EQ(destructed_, 2);
}

}  // namespace

namespace {

TEST_F(HIToolboxTest, ScreenAndPortBounds) {
  SetScreenBounds(Rect{0, 0, 800, 1000}, Rect{22, 0, 800, 1000});
  Rect r{};
  ASSERT_EQ(GetAvailableWindowPositioningBounds(GetMainDevice(), &r), noErr);
  EXPECT_EQ(r.top, 22);
  EXPECT_EQ(r.right, 1000);
  GetWindowPortBounds(panel_, &r);  // bounds 40,40,400,600
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.bottom, 360);
  EXPECT_EQ(r.right, 560);
  // The desktop region: the screen below the menu bar.
  Rect desk{};
  EXPECT_EQ(GetRegionBounds(GetGrayRgn(), &desk), &desk);
  EXPECT_EQ(desk.top, 22);
  EXPECT_EQ(desk.left, 0);
  EXPECT_EQ(desk.bottom, 800);
  EXPECT_EQ(desk.right, 1000);
  EXPECT_EQ(GetGrayRgn(), GetGrayRgn());
  GetRegionBounds(nullptr, &desk);
  EXPECT_EQ(desk.bottom - desk.top, 0);
  EXPECT_EQ(GetRegionBounds(GetGrayRgn(), nullptr), nullptr);
  SetScreenBounds(Rect{0, 0, 1200, 1920}, Rect{22, 0, 1200, 1920});
}

TEST_F(HIToolboxTest, ALongJobPollingEventsSeesTheUsersClickAndMenuKeys) {
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReference(CFSTR("Test"), &nib), noErr);
  MenuRef tools = nullptr;
  ASSERT_EQ(CreateMenuFromNib(nib, CFSTR("Tools"), &tools), noErr);
  DisposeNibReference(nib);
  InsertMenu(tools, 0);
  ReleaseMenu(tools);
  Recorded onApp, onWindow;
  onApp.answer = noErr;
  onWindow.answer = noErr;
  EventTypeSpec location{kCmds, kEventCommandProcess};
  ASSERT_EQ(InstallApplicationEventHandler(recordingHandler, 1, &location, &onApp, nullptr), noErr);
  ASSERT_EQ(InstallWindowEventHandler(panel_, recordingHandler, 1, &location, &onWindow, nullptr), noErr);
  ScriptedUser user;
  user.PressMenuKey('k').Click(FOUR_CHAR_CODE("PUSH"), 1, "Panel").Click(FOUR_CHAR_CODE("PUSH"), 1);
  // No window is up yet: the poll leaves the window step for later, but the
  // menu key works at once (no window: it goes to the application).
  RunCurrentEventLoop(kEventDurationNoWait);
  EXPECT_EQ(onApp.lastCommand, FOUR_CHAR_CODE("STAK"));
  RunCurrentEventLoop(kEventDurationNoWait);
  EXPECT_EQ(onWindow.calls.size(), 0u);
  EXPECT_EQ(user.Pending(), 2u);
  ShowWindow(panel_);
  RunCurrentEventLoop(kEventDurationNoWait);
  EXPECT_EQ(onWindow.lastCommand, FOUR_CHAR_CODE("GOGO"));
  // A step without a window name is never taken by a poll.
  RunCurrentEventLoop(kEventDurationNoWait);
  EXPECT_EQ(user.Pending(), 1u);
}

}  // namespace

namespace {

TEST_F(HIToolboxTest, MouseGesturesGoToTheWindowThenBecomeControlClicks) {
  struct Seen {
    std::vector<std::pair<EventKind, Point>> events;  // window-local points
    Point global{0, 0};
    ControlRef control = nullptr;
    UInt32 modifiers = 0;
    OSStatus answerDown = noErr;
    std::vector<Point> clicks;  // control-local points
  } seen;
  const EventTypeSpec mouse[] = {
      {kEventClassMouse, kEventMouseDown}, {kEventClassMouse, kEventMouseDragged}, {kEventClassMouse, kEventMouseUp}};
  ASSERT_EQ(InstallWindowEventHandler(
                panel_,
                [](EventHandlerCallRef, EventRef e, void* ud) -> OSStatus {
                  auto* s = static_cast<Seen*>(ud);
                  Point p{};
                  GetEventParameter(e, kEventParamWindowMouseLocation, typeQDPoint, nullptr, sizeof p, nullptr, &p);
                  GetEventParameter(e, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof s->global, nullptr,
                                    &s->global);
                  GetEventParameter(e, kEventParamControlRef, typeControlRef, nullptr, sizeof s->control, nullptr,
                                    &s->control);
                  GetEventParameter(e, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof s->modifiers, nullptr,
                                    &s->modifiers);
                  s->events.push_back({GetEventKind(e), p});
                  return GetEventKind(e) == kEventMouseDown ? s->answerDown : noErr;
                },
                3, mouse, &seen, nullptr),
            noErr);
  const EventTypeSpec click{kEventClassControl, kEventControlClick};
  ControlRef pane = FindControl(panel_, FOUR_CHAR_CODE("PANE"), 1);
  Rect paneBounds{100, 200, 150, 300};
  SetControlBounds(pane, &paneBounds);
  ASSERT_EQ(InstallControlEventHandler(
                pane,
                [](EventHandlerCallRef, EventRef e, void* ud) -> OSStatus {
                  Point p{};
                  GetEventParameter(e, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof p, nullptr, &p);
                  static_cast<Seen*>(ud)->clicks.push_back(p);
                  return noErr;
                },
                1, &click, &seen, nullptr),
            noErr);
  ShowWindow(panel_);
  ScriptedUser user;
  user.ClickAt(FOUR_CHAR_CODE("PANE"), 1, Point{5, 7}, shiftKey)
      .Do([&] { seen.answerDown = eventNotHandledErr; })
      .Drag(FOUR_CHAR_CODE("PANE"), 1, Point{1, 2}, Point{30, 40})
      .Do([&] { QuitAppModalLoopForWindow(panel_); });
  RunAppModalLoopForWindow(panel_);
  ASSERT_EQ(seen.events.size(), 5u);
  EXPECT_EQ(seen.events[0].first, kEventMouseDown);
  EXPECT_EQ(seen.events[0].second.v, 105);  // the pane's top plus 5
  EXPECT_EQ(seen.events[0].second.h, 207);
  EXPECT_EQ(seen.events[3].first, kEventMouseDragged);
  EXPECT_EQ(seen.events[4].first, kEventMouseUp);
  EXPECT_EQ(seen.events[4].second.h, 240);
  EXPECT_EQ(seen.global.v, 40 + 130);  // the window's place on the screen, plus the point
  EXPECT_EQ(seen.global.h, 40 + 240);
  EXPECT_EQ(seen.control, pane);
  EXPECT_EQ(seen.modifiers, 0u);  // the drag had none
  // Only the press the window let pass became a click of the pane.
  ASSERT_EQ(seen.clicks.size(), 1u);
  EXPECT_EQ(seen.clicks[0].v, 1);
  EXPECT_EQ(seen.clicks[0].h, 2);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(HIToolboxTest, ValueChangesAndKeysAreAnnounced) {
  struct Seen {
    int valueChanges = 0;
    std::string keys;
  } seen;
  const EventTypeSpec events[] = {{kEventClassControl, kEventControlValueFieldChanged},
                                  {kEventClassKeyboard, kEventRawKeyDown}};
  ASSERT_EQ(InstallWindowEventHandler(
                panel_,
                [](EventHandlerCallRef, EventRef e, void* ud) -> OSStatus {
                  auto* s = static_cast<Seen*>(ud);
                  if (GetEventClass(e) == kEventClassKeyboard) {
                    char ch = 0;
                    GetEventParameter(e, kEventParamKeyMacCharCodes, typeChar, nullptr, 1, nullptr, &ch);
                    s->keys += ch;
                  } else {
                    s->valueChanges++;
                  }
                  return noErr;
                },
                2, events, &seen, nullptr),
            noErr);
  ControlRef slider = FindControl(panel_, FOUR_CHAR_CODE("SLID"), 1);
  SetControl32BitValue(slider, 10);
  SetControl32BitValue(slider, 10);   // no change, no event
  SetControl32BitMaximum(slider, 5);  // the value follows the limit
  EXPECT_EQ(seen.valueChanges, 2);
  ShowWindow(panel_);
  EXPECT_EQ(UserKey(panel_, 'q', 12), noErr);
  EXPECT_EQ(seen.keys, "q");
}

}  // namespace

namespace {

TEST_F(HIToolboxTest, StaleHandlerReferencesAreRefused) {
  Recorded r;
  EventTypeSpec location{kCmds, kEventCommandProcess};
  EventHandlerRef onWindow = nullptr, onRoot = nullptr;
  ASSERT_EQ(InstallWindowEventHandler(panel_, recordingHandler, 1, &location, &r, &onWindow), noErr);
  ASSERT_EQ(InstallControlEventHandler(HIViewGetRoot(panel_), recordingHandler, 1, &location, &r, &onRoot), noErr);
  EXPECT_EQ(RemoveEventHandler(onRoot), noErr);
  EXPECT_EQ(RemoveEventHandler(onRoot), paramErr);
  DisposeWindow(panel_);
  EXPECT_EQ(RemoveEventHandler(onWindow), paramErr);  // went with its window
}

TEST_F(HIToolboxTest, DescriptionsShowWhatTheUserSees) {
  ShowWindow(panel_);
  SetKeyboardFocus(panel_, FindControl(panel_, FOUR_CHAR_CODE("EDIT"), 1), kControlFocusNextPart);
  std::string d = DescribeWindow(panel_);
  EXPECT_NE(d.find("window \"Panel\" title=\"Panel\" shown"), std::string::npos) << d;
  EXPECT_NE(d.find("'EDIT' 1 'eutx' value=0 [0,0] text=\"3.5\" focus"), std::string::npos) << d;
  EXPECT_NE(d.find("items=One|Two*|Three"), std::string::npos) << d;
  EXPECT_NE(d.find("'INNR' 1 'eutx' value=0 [0,0] text=\"\" hidden"), std::string::npos) << d;
  EXPECT_EQ(DescribeModel(), d);
}

}  // namespace

namespace {

TEST_F(HIToolboxTest, ChoosingFromASubmenuOpensEachMenuOnTheWay) {
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReference(CFSTR("Test"), &nib), noErr);
  MenuRef tools = nullptr;
  ASSERT_EQ(CreateMenuFromNib(nib, CFSTR("Tools"), &tools), noErr);
  DisposeNibReference(nib);
  InsertMenu(tools, 0);
  ReleaseMenu(tools);
  struct Opened {
    std::vector<MenuID> order;
    bool blockMore = false;
  } opened;
  EventTypeSpec location{kEventClassMenu, kEventMenuEnableItems};
  auto handler = [](EventHandlerCallRef, EventRef e, void* ud) -> OSStatus {
    auto* o = static_cast<Opened*>(ud);
    MenuRef m = nullptr;
    GetEventParameter(e, kEventParamDirectObject, typeMenuRef, nullptr, sizeof m, nullptr, &m);
    o->order.push_back(GetMenuID(m));
    if (GetMenuID(m) == 20) {
      if (o->blockMore)
        DisableMenuItem(m, 3);
      else
        EnableMenuItem(m, 3);
    }
    return noErr;
  };
  ASSERT_EQ(InstallMenuEventHandler(tools, handler, 1, &location, &opened, nullptr), noErr);
  ASSERT_EQ(InstallMenuEventHandler(GetMenuRef(21), handler, 1, &location, &opened, nullptr), noErr);
  Recorded onApp;
  onApp.answer = noErr;
  EventTypeSpec cmd{kCmds, kEventCommandProcess};
  ASSERT_EQ(InstallApplicationEventHandler(recordingHandler, 1, &cmd, &onApp, nullptr), noErr);
  MenuRef more = GetMenuRef(21);
  EXPECT_EQ(UserChooseMenuItem(more, 1), noErr);
  EXPECT_EQ(opened.order, (std::vector<MenuID>{20, 21}));
  EXPECT_EQ(onApp.lastCommand, FOUR_CHAR_CODE("FRMO"));
  opened.blockMore = true;
  opened.order.clear();
  onApp.lastCommand = 0;
  EXPECT_EQ(UserChooseMenuItem(more, 1), errControlHiddenOrDisabled);
  EXPECT_EQ(opened.order, (std::vector<MenuID>{20}));  // the way stopped at the disabled item
  EXPECT_EQ(onApp.lastCommand, 0u);
}

}  // namespace

namespace {

TEST_F(HIToolboxTest, TheDrawingLayerLendsAContextForEachDraw) {
  static int fakeContext;
  std::vector<std::string> log;
  SetDrawContextProvider(DrawContextProvider{
      [&](ControlRef c) -> void* {
        log.push_back("begin " + std::to_string(ControlKindOf(c) == kControlKindUserPane));
        return &fakeContext;
      },
      [&](ControlRef, void* ctx) { log.push_back(ctx == &fakeContext ? "end" : "end?"); }});
  struct Got {
    void* context = nullptr;
    std::vector<std::string>* log;
  } got{nullptr, &log};
  EventTypeSpec draw{kEventClassControl, kEventControlDraw};
  ControlRef pane = FindControl(panel_, FOUR_CHAR_CODE("PANE"), 1);
  Draw1Control(pane);  // no draw handler: nobody to lend a context to
  EXPECT_TRUE(log.empty());
  ASSERT_EQ(InstallControlEventHandler(
                pane,
                [](EventHandlerCallRef, EventRef e, void* ud) -> OSStatus {
                  auto* g = static_cast<Got*>(ud);
                  g->log->push_back("draw");
                  return GetEventParameter(e, kEventParamCGContextRef, typeCGContextRef, nullptr, sizeof g->context,
                                           nullptr, &g->context);
                },
                1, &draw, &got, nullptr),
            noErr);
  Draw1Control(pane);
  EXPECT_EQ(got.context, &fakeContext);
  EXPECT_EQ(log, (std::vector<std::string>{"begin 1", "draw", "end"}));
  SetDrawContextProvider(DrawContextProvider{});
}

}  // namespace

namespace {

// What an on-screen backend would hear.
struct Watcher : Observer {
  std::vector<Change> changes;
  void Changed(const ChangeNote& n) override { changes.push_back(n.change); }
  int Count(Change c) const { return int(std::count(changes.begin(), changes.end(), c)); }
};

TEST_F(HIToolboxTest, ObserversHearEveryVisibleChange) {
  Watcher w;
  AddObserver(&w);
  ShowWindow(panel_);
  SetControl32BitValue(FindControl(panel_, FOUR_CHAR_CODE("SLID"), 1), 3);
  Draw1Control(FindControl(panel_, FOUR_CHAR_CODE("SLID"), 1));
  SetWindowTitleWithCFString(panel_, CFSTR("New"));
  CheckMenuItem(GetControlPopupMenuHandle(FindControl(panel_, FOUR_CHAR_CODE("POPU"), 0)), 1, true);
  {
    ScriptedUser user;
    user.AnswerAlert();
    DialogRef a = nullptr;
    ASSERT_EQ(CreateStandardAlert(kAlertNoteAlert, CFSTR("T"), nullptr, nullptr, &a), noErr);
    RunStandardAlert(a, nullptr, nullptr);
  }
  HideWindow(panel_);
  DisposeWindow(panel_);
  RemoveObserver(&w);
  EXPECT_EQ(w.Count(Change::WindowShown), 1);
  EXPECT_GE(w.Count(Change::ControlChanged), 1);
  EXPECT_EQ(w.Count(Change::ControlDrawn), 1);
  EXPECT_EQ(w.Count(Change::WindowTitle), 1);
  EXPECT_EQ(w.Count(Change::MenuChanged), 1);
  EXPECT_EQ(w.Count(Change::AlertShown), 1);
  EXPECT_EQ(w.Count(Change::AlertClosed), 1);
  EXPECT_EQ(w.Count(Change::WindowHidden), 1);
  EXPECT_EQ(w.Count(Change::WindowDisposed), 1);
}

}  // namespace
