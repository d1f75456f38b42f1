// Start-up in-process with a scripted user: the version gate, each refusal,
// the menus and handlers it leaves, the launch's open-application event, the
// scripting events that start and stop the camera, and quitting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ApplicationStartup.h"
#include "app/CameraAppleEvents.h"
#include "app/CameraMenus.h"
#include "app/FrameGrabs.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/quicktime/Movies.h"
#include "tests/app/PipelineHarness.h"
#include "app/CommandHandler.h"
#include "app/CameraOpening.h"

using namespace skyloom::ui;

namespace {

constexpr IOReturn kNoBandwidth = IOReturn(0xE00002DB);  // no isochronous bandwidth

struct Gate {
  OSErr sysvErr;
  SInt32 sysv;
  SInt32 qtim;
  const char* message;  // null: passes
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(from, end - from));
    from = end + 1;
  }
  return out;
}

}  // namespace

class ApplicationStartupTest : public PipelineHarness {
 protected:
  void SetUp() override {
    PipelineHarness::SetUp();
    SkyloomRemoveAllAEHandlers();
    SkyloomSetGestaltResponder(nullptr);
  }
  void TearDown() override {
    // A camera the start-up opened is closed as the application's quit would.
    for (int i = 0; i < 4; i++) {
      MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
      if (r == nullptr || r == record_) break;
      myCloseCameraWindows(r);
    }
    SkyloomSetGestaltResponder(nullptr);
    PipelineHarness::TearDown();
    SkyloomRemoveAllAEHandlers();
  }

  void Versions(OSErr sysvErr, SInt32 sysv, SInt32 qtim) {
    SkyloomSetGestaltResponder([=](OSType selector, SInt32* response) -> OSErr {
      if (selector == FOUR_CHAR_CODE("sysv")) {
        if (sysvErr != noErr) return sysvErr;
        *response = sysv;
        return noErr;
      }
      if (selector == FOUR_CHAR_CODE("qtim")) {
        *response = qtim;
        return noErr;
      }
      return kGestaltFallThrough;
    });
  }

  // Runs start-up; the user answers alerts and does the steps queued on user_.
  int Start() {
    testing::internal::CaptureStderr();
    const int result = myApplicationMain();
    stderr_ = testing::internal::GetCapturedStderr();
    return result;
  }

  // One refusal: exactly one "OSX Err" alert with the message and one beep,
  // and the application loop never ran.
  void ExpectRefused(const std::string& message) {
    const long beeps = SkyloomBeepCount();
    EXPECT_EQ(Start(), 0);
    ASSERT_EQ(Alerts().size(), 1u) << DescribeModel();
    EXPECT_EQ(Alerts()[0].title, "OSX Err");
    EXPECT_EQ(Alerts()[0].message, message);
    EXPECT_EQ(SkyloomBeepCount() - beeps, 1);
    EXPECT_EQ(ApplicationLoopEntries(), 0);
  }

  // Sends the scripting event in this process: the handler's status, and the
  // Boolean answer (-1 when no answer came back).
  OSErr Send(AEEventID id, int* answer, AESendMode mode = kAEWaitReply) {
    AppleEvent event, reply;
    AEInitializeDesc(&event);
    AEInitializeDesc(&reply);
    EXPECT_EQ(AECreateAppleEvent(kMyCameraEventClass, id, nullptr, 0, 0, &event), noErr);
    const OSErr err = AESend(&event, &reply, mode, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
    *answer = -1;
    Boolean value = 0;
    DescType type = 0;
    Size size = 0;
    if (reply.dataHandle &&
        AEGetParamPtr(&reply, keyDirectObject, typeBoolean, &type, &value, sizeof value, &size) == noErr)
      *answer = value;
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);
    return err;
  }

  MenuRef FileMenu() { return GetMenuRef(2); }

  ScriptedUser user_;
  std::string stderr_;
};

TEST_F(ApplicationStartupTest, VersionGateRefusesOldSystemsOrQuickTimeWithOneAlert) {
  const Gate cases[] = {
      {noErr, 0x103F, 0x07000000, "Mac OS X 10.4 (minimum) is required for this application"},
      {noErr, 0x1040, 0x06FFFFFF, "QuickTime 7.0 (minimum) is required for this application"},
      {gestaltUndefSelectorErr, 0x1040, 0x07000000, "Mac OS X 10.4 (minimum) is required for this application"},
      {noErr, 0x1040, 0x07000000, nullptr},
  };
  Rig({});
  for (const Gate& c : cases) {
    SCOPED_TRACE(c.message ? c.message : "passes");
    ResetModel();
    Versions(c.sysvErr, c.sysv, c.qtim);
    if (c.message) {
      ExpectRefused(c.message);
    } else {
      EXPECT_EQ(Start(), 0);
      EXPECT_TRUE(Alerts().empty()) << DescribeModel();
      EXPECT_EQ(ApplicationLoopEntries(), 1);
    }
  }
}

TEST_F(ApplicationStartupTest, EachFailingStepRefusesWithItsMessage) {
  struct Case {
    const char* call;
    int nth;
    const char* message;
  };
  const Case cases[] = {
      {"CreateNibReference", 1, "ORX_DCAM Nib missing"},
      {"SetMenuBarFromNib", 1, "MainMenu missing"},
      {"CreateMenuFromNib:ImageAlignment", 1, "CreateMenuFromNib ImageAlignment missing"},
      {"CreateMenuFromNib:CameraTrigger", 1, "CreateMenuFromNib CameraTrigger missing"},
      {"CreateMenuFromNib:CameraSettings", 1, "CreateMenuFromNib CameraSettings missing"},
      {"CreateMenuFromNib", 4, "CreateMenuFromNib CameraTemperature missing"},
      {"InstallEventHandler", 1, "InstallApplicationEventHandler failed"},
      {"InstallEventHandler", 2, "InstallMenuEventHandler k_File_MenuID failed"},
      {"InstallEventHandler", 3, "InstallMenuEventHandler outMenuRef failed"},
  };
  Rig({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ResetModel();
    SkyloomRemoveAllAEHandlers();
    InjectFailureAt(c.call, -50, c.nth);
    ExpectRefused(c.message);
  }
  // Nothing set up before a refusal is undone: a late one leaves the
  // scripting handlers in place.
  AEEventHandlerUPP handler = nullptr;
  EXPECT_EQ(AEGetEventHandler(kMyCameraEventClass, FOUR_CHAR_CODE("viSC"), &handler, nullptr, false), noErr);
  EXPECT_EQ(handler, myAEStartCamera);
}

TEST_F(ApplicationStartupTest, FailedAppleEventInstallationsAreReportedInOrderAndStartUpGoesOn) {
  Rig({});
  SkyloomFailNextAEInstall(kMyCameraEventClass, FOUR_CHAR_CODE("viGF"), -50);
  EXPECT_EQ(Start(), 0);
  EXPECT_EQ(stderr_, "AEInstallEventHandler failed for myAEGrabFrame -50 0xFFFFFFCE\n");
  EXPECT_EQ(ApplicationLoopEntries(), 1);
  EXPECT_TRUE(Alerts().empty()) << DescribeModel();
  AEEventHandlerUPP handler = nullptr;
  EXPECT_EQ(AEGetEventHandler(kMyCameraEventClass, FOUR_CHAR_CODE("viGF"), &handler, nullptr, false),
            errAEHandlerNotFound);

  // Every installation failing tells the table's order.
  ResetModel();
  SkyloomRemoveAllAEHandlers();
  for (const MyStartupAppleEvent& e : kMyStartupAppleEvents) SkyloomFailNextAEInstall(e.mClass, e.mID, -1712);
  EXPECT_EQ(Start(), 0);
  const std::vector<std::string> expected = {
      "kAEOpenApplication",   "myAEStartCamera",        "myAEStopCamera", "myAEStartRecordMovie",
      "myAEStopRecordMovie",  "myAEGrabFrame",          "myAEApplyCameraSettings",
      "myAEGrabFrameCompleted", "myAEDoDarkFrame",      "myAEDoFlatFrame", "myAEDoGrabAverageFrame"};
  std::vector<std::string> lines = Lines(stderr_);
  ASSERT_EQ(lines.size(), expected.size()) << stderr_;
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(lines[i], "AEInstallEventHandler failed for " + expected[i] + " -1712 0xFFFFF950");
}

TEST_F(ApplicationStartupTest, MenusAndHandlersAfterStartWithoutCamera) {
  Rig({});
  user_.Do([&] {
    MenuRef file = FileMenu();
    ASSERT_NE(file, nullptr);
    const MenuID ids[] = {10, 11, 12, 13};
    const MenuItemIndex items[] = {15, 16, 17, 21};
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(items[i]);
      CharParameter cmd = 0, mark = 0;
      GetItemCmd(file, items[i], &cmd);
      GetItemMark(file, items[i], &mark);
      EXPECT_EQ(cmd, 0x1B);
      EXPECT_EQ(mark, ids[i]);
      MenuRef sub = nullptr;
      EXPECT_EQ(GetMenuItemHierarchicalMenu(file, items[i], &sub), noErr);
      EXPECT_EQ(GetMenuID(sub), ids[i]);
      EXPECT_EQ(GetMenuRef(ids[i]), sub);
    }
    // The menu-enabling handler on menus 2 and 13 only; the command handler
    // on the application.
    for (MenuID id : {1, 2, 3, 4, 10, 11, 12, 13}) {
      SCOPED_TRACE(id);
      std::vector<EventHandlerUPP> installed = InstalledEventHandlers(GetMenuEventTarget(GetMenuRef(id)));
      if (id == 2 || id == 13)
        EXPECT_EQ(installed, std::vector<EventHandlerUPP>{myMenuEventHandler});
      else
        EXPECT_TRUE(installed.empty());
    }
    std::vector<EventHandlerUPP> app = InstalledEventHandlers(GetApplicationEventTarget());
    ASSERT_EQ(app.size(), 1u);
    EXPECT_EQ(app[0], NewEventHandlerUPP(myCommandHandler));
    // No camera: open enabled, the camera's items and preferences disabled.
    EXPECT_TRUE(IsMenuItemEnabled(file, 1));
    for (MenuItemIndex i : {3, 10, 12, 13, 15, 16, 21}) EXPECT_FALSE(IsMenuItemEnabled(file, i)) << i;
    MenuRef prefMenu = nullptr;
    MenuItemIndex prefItem = 0;
    ASSERT_EQ(GetIndMenuItemWithCommandID(nullptr, kHICommandPreferences, 1, &prefMenu, &prefItem), noErr);
    EXPECT_FALSE(IsMenuItemEnabled(prefMenu, prefItem));
    EXPECT_EQ(CurrentCursor(), kThemeArrowCursor);
    EXPECT_STREQ(gNoteString, "");
    EXPECT_TRUE(myFindCameraControlWindowDataPtr() == nullptr);
  });
  strcpy(gNoteString, "left over");
  EXPECT_EQ(Start(), 0);
  EXPECT_TRUE(user_.Errors().empty());
  EXPECT_EQ(user_.Pending(), 0u);
  EXPECT_TRUE(Alerts().empty()) << DescribeModel();
}

TEST_F(ApplicationStartupTest, AttachedCameraIsOpenWhenTheLoopStartsAndLaunchEventLeavesIt) {
  Rig({SimDefaultColourPersonality()});
  MyCameraWindowDataStruct* open = nullptr;
  size_t windows = 0;
  user_.Do([&] {
    open = myFindCameraControlWindowDataPtr();
    windows = Windows().size();
  });
  EXPECT_EQ(Start(), 0);
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(Windows().size(), windows);  // the launch's 'oapp' opened nothing more
  EXPECT_EQ(myFindCameraControlWindowDataPtr(), open);
  EXPECT_FALSE(IsMenuItemEnabled(FileMenu(), 1));
  MenuRef prefMenu = nullptr;
  MenuItemIndex prefItem = 0;
  ASSERT_EQ(GetIndMenuItemWithCommandID(nullptr, kHICommandPreferences, 1, &prefMenu, &prefItem), noErr);
  EXPECT_TRUE(IsMenuItemEnabled(prefMenu, prefItem));
}

TEST_F(ApplicationStartupTest, LaunchEventOpensACameraWhenNoneIsOpen) {
  Rig({SimDefaultColourPersonality()});
  EXPECT_EQ(myAEHandleOapp(nullptr, nullptr, 0), noErr);
  MyCameraWindowDataStruct* open = myFindCameraControlWindowDataPtr();
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(myAEHandleOapp(nullptr, nullptr, 0), noErr);
  EXPECT_EQ(myFindCameraControlWindowDataPtr(), open);
}

TEST_F(ApplicationStartupTest, QuitEndsTheLoopAndLeavesQuickTimeOnce) {
  Rig({});
  user_.PressMenuKey('Q');
  const long exits = SkyloomExitMoviesCount();
  EXPECT_EQ(Start(), 0);
  EXPECT_TRUE(user_.Errors().empty());
  EXPECT_EQ(user_.Pending(), 0u);
  EXPECT_EQ(SkyloomExitMoviesCount() - exits, 1);
  std::vector<EventHandlerUPP> disposed = DisposedEventHandlerUPPs();
  EXPECT_EQ(disposed, (std::vector<EventHandlerUPP>{NewEventHandlerUPP(myCommandHandler), myMenuEventHandler}));
  for (const MyStartupAppleEvent& e : kMyStartupAppleEvents) {
    AEEventHandlerUPP handler = nullptr;
    EXPECT_EQ(AEGetEventHandler(e.mClass, e.mID, &handler, nullptr, false), noErr) << e.mName;
    EXPECT_EQ(handler, e.mHandler) << e.mName;
  }
}

TEST_F(ApplicationStartupTest, StartAndStopEventsByCameraState) {
  Rig({SimDefaultColourPersonality()});
  for (const MyStartupAppleEvent& e : kMyStartupAppleEvents)
    ASSERT_EQ(AEInstallEventHandler(e.mClass, e.mID, e.mHandler, 0, false), noErr);
  int answer = -1;

  // No camera window: nothing to stop; a start opens the camera and starts it.
  EXPECT_EQ(Send(FOUR_CHAR_CODE("viHC"), &answer), noErr);
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(Send(FOUR_CHAR_CODE("viSC"), &answer), noErr);
  EXPECT_EQ(answer, 1);
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mRunning, 1);

  // Running: a start touches nothing.
  size_t log = Camera().LogSize();
  EXPECT_EQ(Send(FOUR_CHAR_CODE("viSC"), &answer), noErr);
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(Camera().LogSize(), log);

  // Scope control open: the camera keeps running.
  int scope = 0;
  r->mpMCBSPtr = reinterpret_cast<MCBS*>(&scope);
  EXPECT_EQ(Send(FOUR_CHAR_CODE("viHC"), &answer), noErr);
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(r->mRunning, 1);
  r->mpMCBSPtr = nullptr;

  EXPECT_EQ(Send(FOUR_CHAR_CODE("viHC"), &answer), noErr);
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(r->mRunning, 0);
  log = Camera().LogSize();
  EXPECT_EQ(Send(FOUR_CHAR_CODE("viHC"), &answer), noErr);
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(Camera().LogSize(), log);
}

TEST_F(ApplicationStartupTest, FailedStartAnswersFalseOrReportsWhenNobodyWaits) {
  Rig({SimDefaultColourPersonality()});
  ASSERT_EQ(AEInstallEventHandler(kMyCameraEventClass, FOUR_CHAR_CODE("viSC"), myAEStartCamera, 0, false), noErr);
  int answer = -1;

  Camera().Stream().FailIsochAllocation(kNoBandwidth);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Send(FOUR_CHAR_CODE("viSC"), &answer), noErr);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(err.find("ERR myAEStartCamera"), std::string::npos) << err;
  ASSERT_NE(myFindCameraControlWindowDataPtr(), nullptr);
  EXPECT_EQ(myFindCameraControlWindowDataPtr()->mRunning, 0);

  Camera().Stream().FailIsochAllocation(kNoBandwidth);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Send(FOUR_CHAR_CODE("viSC"), &answer, kAENoReply), noErr);
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, -1);
  EXPECT_NE(err.find("ERR myAEStartCamera -536870181 0xE00002DB\n"), std::string::npos) << err;
}
