// An open simulated camera whose control and preview windows carry their
// event handlers as the opening installs them, with helpers that send the
// windows' events and commands and watch the please-wait runs they start.
#pragma once
#include <string>
#include <vector>

#include "app/ControlWindowCommands.h"
#include "app/PreviewWindowEvents.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/app/CameraLifecycleStandIns.h"
#include "tests/app/DisplayTimerHarness.h"

class CameraWindowsTest : public DisplayTimerHarness {
 protected:
  void SetUp() override {
    DisplayTimerHarness::SetUp();
    gCameraLifecycleCalls = CameraLifecycleCalls{};
    gMyControlWindowClose = StandInCloseCameraWindows;
  }
  void TearDown() override {
    DisplayTimerHarness::TearDown();
    gMyControlWindowClose = myCloseCameraWindows;
    gCameraLifecycleCalls = CameraLifecycleCalls{};
  }

  // Opens the camera and installs both handlers and the scroll bars' action.
  MyCameraWindowDataStruct* OpenWindows(const SimCameraPersonality& p = SimUSBPersonality()) {
    MyCameraWindowDataStruct* r = Open(p);
    if (!r) return nullptr;
    static const EventTypeSpec control[] = {
        {kEventClassCommand, kEventCommandProcess},      {kEventClassWindow, kEventWindowClose},
        {kEventClassWindow, kEventWindowBoundsChanging}, {kEventClassWindow, kEventWindowGetMinimumSize},
        {kEventClassWindow, kEventWindowGetMaximumSize}, {kEventClassWindow, kEventWindowUpdate},
        {kEventClassWindow, kEventWindowDrawContent}};
    static const EventTypeSpec preview[] = {
        {kEventClassKeyboard, kEventRawKeyDown},         {kEventClassWindow, kEventWindowUpdate},
        {kEventClassWindow, kEventWindowDrawContent},    {kEventClassWindow, kEventWindowBoundsChanging},
        {kEventClassWindow, kEventWindowBoundsChanged},  {kEventClassWindow, kEventWindowClickContentRgn},
        {kEventClassWindow, kEventWindowClose},          {kEventClassWindow, kEventWindowGetMinimumSize},
        {kEventClassWindow, kEventWindowGetMaximumSize}};
    EXPECT_EQ(InstallWindowEventHandler(r->mControlWindow, myControlWindowEventHandler, std::size(control), control,
                                        r, nullptr),
              noErr);
    EXPECT_EQ(InstallWindowEventHandler(r->mVideoWindow, myPreviewWindowEventHandler, std::size(preview), preview, r,
                                        nullptr),
              noErr);
    SetControlAction(r->mHScrollBar, livePreviewWindowScrollImageUPPProc);
    SetControlAction(r->mVScrollBar, livePreviewWindowScrollImageUPPProc);
    return r;
  }

  // The control window's command, as its control sends it; the handlers' status.
  OSStatus Command(UInt32 id, void* userData = nullptr) {
    HICommand cmd{};
    cmd.attributes = kHICommandFromControl;
    cmd.commandID = id;
    EventRef e = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &e), noErr);
    SetEventParameter(e, kEventParamDirectObject, typeHICommand, sizeof cmd, &cmd);
    const OSStatus s = myControlWindowEventHandler(nullptr, e, userData ? userData : record_);
    ReleaseEvent(e);
    return s;
  }
  // A control window command with the control first set to `value`.
  OSStatus Choose(UInt32 id, SInt32 value) {
    SetControl32BitValue(Control(id), value);
    return Command(id);
  }

  // A window event straight to a handler, with the attributes and bounds
  // given; `bounds` is updated with what the handler left there.
  OSStatus WindowEvent(EventHandlerProcPtr handler, EventKind kind, UInt32 attributes = 0, Rect* bounds = nullptr,
                       Point* dimensions = nullptr, void* userData = nullptr) {
    EventRef e = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, kEventClassWindow, kind, 0, 0, &e), noErr);
    SetEventParameter(e, kEventParamAttributes, typeUInt32, sizeof attributes, &attributes);
    if (bounds) SetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, sizeof *bounds, bounds);
    const OSStatus s = handler(nullptr, e, userData ? userData : record_);
    if (bounds) GetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof *bounds, nullptr, bounds);
    if (dimensions)
      GetEventParameter(e, kEventParamDimensions, typeQDPoint, nullptr, sizeof *dimensions, nullptr, dimensions);
    ReleaseEvent(e);
    return s;
  }

  // A scripted user that notes the mode of each please-wait run it meets and
  // stops it; `runs` of them.
  void StopPleezWaitRuns(skyloom::ui::ScriptedUser& user, int runs, const char* window = "PleezWait") {
    for (int i = 0; i < runs; i++)
      user.Do([this] { pleezWaitModes_.push_back(record_->mPleezWaitMode); })
          .Click(FOUR_CHAR_CODE("clos"), 0, window);
  }

  static Rect ContentBounds(WindowRef w) {
    Rect b;
    GetWindowBounds(w, kWindowContentRgn, &b);
    return b;
  }

  std::vector<UInt32> pleezWaitModes_;
};
