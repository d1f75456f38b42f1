// The control window's events and commands on an open simulated camera:
// size limits and zoom, redraws, close, the command table over the camera's
// states, the rate and interval tables, automatic exposure, video size and
// the display format's change around the frame callback.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>
#include <chrono>
#include <string>
#include <thread>

#include "app/FramePipeline.h"
#include "camera_driver/ORXDCAM.h"
#include "pixel/BayerPlanes.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "utilities/Controls.h"
#include "tests/app/CameraWindowsFixture.h"

extern void (*volatile gMyDisplayFormatChangePoint)(MyCameraWindowDataStruct* record);

namespace {

namespace ui = skyloom::ui;

class ControlWindowTest : public CameraWindowsTest {
 protected:
  void TearDown() override {
    gMyDisplayFormatChangePoint = nullptr;
    gMyPipelineTestPausePoint = nullptr;
    CameraWindowsTest::TearDown();
  }
  bool Checked(OSType signature) { return GetControl32BitValue(Control(signature)) == 1; }
};

TEST_F(ControlWindowTest, SizeLimitsAndTheZoomBetweenHistogramAndFullHeight) {
  MyCameraWindowDataStruct* r = OpenWindows();
  WindowRef w = r->mControlWindow;
  Point dims{};
  EXPECT_EQ(WindowEvent(myControlWindowEventHandler, kEventWindowGetMinimumSize, 0, nullptr, &dims), noErr);
  EXPECT_EQ(dims.h, 414);
  EXPECT_EQ(dims.v, 108);
  EXPECT_EQ(WindowEvent(myControlWindowEventHandler, kEventWindowGetMaximumSize, 0, nullptr, &dims), noErr);
  EXPECT_EQ(dims.h, 414);
  EXPECT_EQ(dims.v, 566);

  // The zoom box, as the user clicks it: 566 high folds to 108 and back;
  // any other height opens to 566. The top and width stay.
  SizeWindow(w, 414, 566, false);
  const Rect start = ContentBounds(w);
  ASSERT_EQ(ui::UserZoomWindow(w), noErr);
  Rect b = ContentBounds(w);
  EXPECT_EQ(b.bottom - b.top, 108);
  EXPECT_EQ(b.top, start.top);
  EXPECT_EQ(b.right - b.left, 414);
  ASSERT_EQ(ui::UserZoomWindow(w), noErr);
  EXPECT_EQ(ContentBounds(w).bottom - ContentBounds(w).top, 566);
  SizeWindow(w, 414, 300, false);
  ASSERT_EQ(ui::UserZoomWindow(w), noErr);
  EXPECT_EQ(ContentBounds(w).bottom - ContentBounds(w).top, 566);

  // A resize without the zoom bit is left to the standard handling.
  Rect proposal{100, 10, 400, 424};
  EXPECT_EQ(WindowEvent(myControlWindowEventHandler, kEventWindowBoundsChanging, kWindowBoundsChangeUserResize,
                        &proposal),
            eventNotHandledErr);
  EXPECT_EQ(proposal.bottom, 400);
}

TEST_F(ControlWindowTest, UpdateAndDrawRedrawTheHistogramAndSayWhichEventCame) {
  MyCameraWindowDataStruct* r = OpenWindows();
  ASSERT_NE(r->mHistogramView, nullptr);
  const long draws = ui::ControlDrawCount(r->mHistogramView);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ui::SendWindowUpdate(r->mControlWindow), noErr);
  EXPECT_EQ(ui::WindowUpdateDepth(r->mControlWindow), 0);
  EXPECT_EQ(ui::SendWindowDrawContent(r->mControlWindow), noErr);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "Control Window kEventWindowUpdate\nControl Window kEventWindowDrawContent\n");
  EXPECT_EQ(ui::ControlDrawCount(r->mHistogramView), draws + 2);
}

TEST_F(ControlWindowTest, WhatItDoesNotHandle) {
  MyCameraWindowDataStruct* r = OpenWindows();
  MyCameraWindowDataStruct other = *r;
  other.mKind = 0xAD;
  // No record, another window's record, other events and unknown commands.
  EXPECT_EQ(myControlWindowEventHandler(nullptr, nullptr, nullptr), eventNotHandledErr);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("UDKF"), &other), eventNotHandledErr);
  EXPECT_EQ(WindowEvent(myControlWindowEventHandler, kEventWindowBoundsChanged), eventNotHandledErr);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("ZZZZ")), eventNotHandledErr);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("STAK")), eventNotHandledErr);
  EXPECT_EQ(r->mUseDarkFrame, 0);
}

TEST_F(ControlWindowTest, CloseTearsTheCameraDownAndTheStandardHandlingFindsNothingLeft) {
  MyCameraWindowDataStruct* r = OpenWindows();
  WindowRef control = r->mControlWindow;
  // The close disposes of both windows and frees the record, as closing a
  // camera does; the standard handling then runs on a window that is gone.
  gCameraLifecycleCalls.close = [this](MyCameraWindowDataStruct*) { CloseCamera(); };
  EXPECT_EQ(ui::UserCloseWindow(control), noErr);
  EXPECT_EQ(gCameraLifecycleCalls.log, std::vector<std::string>{"close"});
  EXPECT_EQ(record_, nullptr);
  EXPECT_EQ(ui::FindWindow("ControlWindow"), nullptr);
  EXPECT_EQ(ui::FindWindow("VideoWindow"), nullptr);
}

TEST_F(ControlWindowTest, StartStopFollowsTheRunningByteAndReturnsItsStatus) {
  MyCameraWindowDataStruct* r = OpenWindows();
  // A first start and stop pick the video size.
  ASSERT_EQ(StartCamera(-1, false), noErr);
  StopCamera();
  ASSERT_EQ(r->mRunning, 0);
  // A start that fails reports its status (after the alert) and leaves the
  // camera stopped.
  gMyVideoStartInstallTimer = [](EventLoopRef, EventTimerInterval, EventTimerInterval, EventLoopTimerUPP, void*,
                                 EventLoopTimerRef*) -> OSStatus { return -50; };
  skyloom::ui::ScriptedUser user;
  user.AnswerAlert();
  EXPECT_EQ(Command(FOUR_CHAR_CODE("STRT")), -50);
  gMyVideoStartInstallTimer = nullptr;
  EXPECT_EQ(r->mRunning, 0);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("STRT")), noErr);
  EXPECT_EQ(r->mRunning, 1);
  EXPECT_EQ(r->mCallbackAssigned, 1);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("STRT")), noErr);
  EXPECT_EQ(r->mRunning, 0);
  EXPECT_EQ(r->mCallbackAssigned, 0);
}

TEST_F(ControlWindowTest, GrabFrameCancelsABusyGrabOrRequestsOneWithTheTimeOutOnlyWithoutTrigger) {
  MyCameraWindowDataStruct* r = OpenWindows();
  ASSERT_EQ(StartVideo(-1, false), noErr);
  SaveToFolder();
  for (UInt32 trigger : {0u, 1u, 2u}) {
    SCOPED_TRACE(trigger);
    r->mTriggerItem = trigger;
    r->mGrabPending = r->mGrabsInFlight = 0;
    r->mGrabCancel = 0;
    EXPECT_EQ(Command(FOUR_CHAR_CODE("GRFR")), noErr);
    EXPECT_EQ(r->mGrabPending, 1);
    EXPECT_EQ(r->mGrabWanted, 1);
    EXPECT_EQ(r->mGrabTimeoutOn, trigger == 0 ? 1 : 0);
    // Pressed again while the grab is pending: only the cancel is asked for.
    const void* buffer = r->mGrabBuffer;
    EXPECT_EQ(Command(FOUR_CHAR_CODE("GRFR")), noErr);
    EXPECT_EQ(r->mGrabCancel, 1);
    EXPECT_EQ(r->mGrabPending, 1);
    EXPECT_EQ(r->mGrabsInFlight, 1);
    EXPECT_EQ(r->mGrabBuffer, buffer);
  }
}

TEST_F(ControlWindowTest, TogglesFlipOneByteEachWay) {
  MyCameraWindowDataStruct* r = OpenWindows();
  const struct {
    UInt32 id;
    UInt8 MyCameraWindowDataStruct::*field;
  } cases[] = {
      {FOUR_CHAR_CODE("UDKF"), &MyCameraWindowDataStruct::mUseDarkFrame},
      {FOUR_CHAR_CODE("UBRF"), &MyCameraWindowDataStruct::mUseFlatFrame},
      {FOUR_CHAR_CODE("USHR"), &MyCameraWindowDataStruct::mRejectBySharpness},
      {FOUR_CHAR_CODE("FLIH"), &MyCameraWindowDataStruct::mFlipHorizontal},
      {FOUR_CHAR_CODE("FLIV"), &MyCameraWindowDataStruct::mFlipVertical},
      {FOUR_CHAR_CODE("SHSA"), &MyCameraWindowDataStruct::mShowSaturated},
      {FOUR_CHAR_CODE("RESH"), &MyCameraWindowDataStruct::mShowReticle},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, char(c.id >> 24)) + char(c.id >> 16) + char(c.id >> 8) + char(c.id));
    std::vector<unsigned char> before(sizeof *r), after(sizeof *r);
    memcpy(before.data(), r, sizeof *r);
    EXPECT_EQ(Command(c.id), noErr);
    EXPECT_EQ(r->*c.field, 1);
    // Nothing else in the record moved.
    r->*c.field = 0;
    memcpy(after.data(), r, sizeof *r);
    r->*c.field = 1;
    EXPECT_TRUE(after == before);
    EXPECT_EQ(Command(c.id), noErr);
    EXPECT_EQ(r->*c.field, 0);
  }
}

TEST_F(ControlWindowTest, SumsAndAveragesRunTheAlignedModesWhenAligning) {
  MyCameraWindowDataStruct* r = OpenWindows();
  ASSERT_EQ(StartCamera(-1, false), noErr);
  SaveToFolder();
  ui::ScriptedUser user;
  StopPleezWaitRuns(user, 4);
  for (UInt32 align : {0u, 1u}) {
    r->mImageAlignMode = align;
    EXPECT_EQ(Command(FOUR_CHAR_CODE("GRSM")), noErr);
    EXPECT_EQ(Command(FOUR_CHAR_CODE("GRAV")), noErr);
  }
  EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
  EXPECT_EQ(pleezWaitModes_, (std::vector<UInt32>{8, 7, 10, 9}));
}

TEST_F(ControlWindowTest, ADarkFrameWhoseExposureCannotBeSetIsNotTaken) {
  // A camera whose rate register refuses every write: the long 'CCDB' item
  // cannot be entered, so no please-wait run starts.
  MyCameraWindowDataStruct* r = OpenWindows(SimDefaultColourPersonality());
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
  while (CountMenuItems(GetControlPopupMenuHandle(Control(FOUR_CHAR_CODE("CCDB")))) < 12)
    myAppendMenuCString(GetControlPopupMenuHandle(Control(FOUR_CHAR_CODE("CCDB"))), "1 s");
  SetControl32BitValue(Control(FOUR_CHAR_CODE("CCDB")), 12);
  Camera().FailRegister(0x600, SimAccessKind::Write, -36);
  ui::ScriptedUser user;  // nothing to do: a run would be an error
  testing::internal::CaptureStderr();
  const OSStatus err = Command(FOUR_CHAR_CODE("GDKF"));
  testing::internal::GetCapturedStderr();
  EXPECT_NE(err, noErr);
  EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
  EXPECT_EQ(r->mUseDarkFrame, 0);
}

TEST_F(ControlWindowTest, SpotBalanceModeSetsTheCrossAndBringsThePreviewForward) {
  MyCameraWindowDataStruct* r = OpenWindows();
  SelectWindow(r->mControlWindow);
  ASSERT_EQ(FrontWindow(), r->mControlWindow);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("SWHB")), noErr);
  EXPECT_EQ(r->mSpotWhiteBalance, 1);
  EXPECT_EQ(ui::CurrentCursor(), kThemeCrossCursor);
  EXPECT_EQ(FrontWindow(), r->mVideoWindow);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("SWHB")), noErr);
  EXPECT_EQ(r->mSpotWhiteBalance, 0);
  EXPECT_EQ(ui::CurrentCursor(), kThemeArrowCursor);
  EXPECT_TRUE(IsControlEnabled(Control(FOUR_CHAR_CODE("SWHB"))));
}

TEST_F(ControlWindowTest, BalanceColourTakesTheChosenColourAndKeepsItsOwnOnCancel) {
  MyCameraWindowDataStruct* r = OpenWindows();
  r->mBalanceColour = RGBColor{100, 200, 300};
  ui::ScriptedUser user;
  user.Do([] {
        EXPECT_EQ(ui::ColorPicker().prompt, "Select a Balance Color:");
        EXPECT_EQ(ui::ColorPicker().where.h, -1);
        EXPECT_EQ(ui::ColorPicker().where.v, -1);
        EXPECT_EQ(ui::ColorPicker().start.green, 200);
      })
      .ChooseColor(RGBColor{65535, 0, 32768})
      .CancelColor();
  EXPECT_EQ(Command(FOUR_CHAR_CODE("PBCR")), noErr);
  EXPECT_EQ(r->mBalanceColour.red, 65535);
  EXPECT_EQ(r->mBalanceColour.green, 0);
  EXPECT_EQ(r->mBalanceColour.blue, 32768);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("PBCR")), noErr);
  EXPECT_EQ(r->mBalanceColour.red, 65535);
  EXPECT_EQ(r->mBalanceColour.blue, 32768);
  EXPECT_EQ(ui::ColorPicker().runs, 2);
  EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
}

TEST_F(ControlWindowTest, InvertOnlyFlipsWhileIdleAndGuardsTheWhiteBalanceWhileRunning) {
  MyCameraWindowDataStruct* r = OpenWindows();
  const OSType awhb = FOUR_CHAR_CODE("AWHB"), swhb = FOUR_CHAR_CODE("SWHB"), pbcr = FOUR_CHAR_CODE("PBCR");
  // Idle: the flag alone.
  const long cursorChanges = ui::CursorChangeCount();
  EXPECT_EQ(Command(FOUR_CHAR_CODE("IVFR")), noErr);
  EXPECT_EQ(r->mInvert, 1);
  EXPECT_TRUE(IsControlEnabled(Control(awhb)));
  EXPECT_EQ(ui::CursorChangeCount(), cursorChanges);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("IVFR")), noErr);
  EXPECT_EQ(r->mInvert, 0);

  // Running in colour: inverting turns the balance controls and spot mode off.
  r->mRunning = 1;
  r->mColourDisplay = 1;
  EXPECT_EQ(Command(FOUR_CHAR_CODE("SWHB")), noErr);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("IVFR")), noErr);
  EXPECT_EQ(r->mInvert, 1);
  EXPECT_FALSE(IsControlEnabled(Control(awhb)));
  EXPECT_FALSE(IsControlEnabled(Control(swhb)));
  EXPECT_FALSE(Checked(swhb));
  EXPECT_FALSE(IsControlEnabled(Control(pbcr)));
  EXPECT_EQ(r->mSpotWhiteBalance, 0);
  EXPECT_EQ(ui::CurrentCursor(), kThemeArrowCursor);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("IVFR")), noErr);
  EXPECT_TRUE(IsControlEnabled(Control(awhb)));
  EXPECT_TRUE(IsControlEnabled(Control(swhb)));
  EXPECT_TRUE(IsControlEnabled(Control(pbcr)));

  // A long exposure keeps its controls as they are.
  r->mLongExposure = 1;
  EXPECT_EQ(Command(FOUR_CHAR_CODE("IVFR")), noErr);
  EXPECT_EQ(r->mInvert, 1);
  EXPECT_TRUE(IsControlEnabled(Control(awhb)));
  r->mLongExposure = 0;
  r->mRunning = 0;
}

TEST_F(ControlWindowTest, MeasurementChoicesSetTheFWHMStateAndThePeak) {
  MyCameraWindowDataStruct* r = OpenWindows();
  ASSERT_EQ(StartVideo(-1, false), noErr);
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FHRP"), 3), noErr);
  EXPECT_EQ(r->mFWHMOn, 1);
  EXPECT_EQ(r->mShowPeak, 0);
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FHRP"), 2), noErr);
  EXPECT_EQ(r->mFWHMOn, 0);
  EXPECT_EQ(r->mShowPeak, 1);
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FHRP"), 3), noErr);
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FHRP"), 1), noErr);
  EXPECT_EQ(r->mFWHMOn, 0);
  EXPECT_EQ(r->mShowPeak, 0);
}

TEST_F(ControlWindowTest, StretchAndHistogramChoicesAndAMissingStretchControlBeeps) {
  MyCameraWindowDataStruct* r = OpenWindows();
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("EXPD"), 3), noErr);
  EXPECT_EQ(r->mHistogramExpand, 2);
  EXPECT_EQ(r->mStretchRequest, 3);
  const long draws = ui::ControlDrawCount(r->mHistogramView);
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("HIOF"), 1), noErr);
  EXPECT_EQ(r->mHistogramOption, 0u);
  EXPECT_EQ(ui::ControlDrawCount(r->mHistogramView), draws + 1);

  DisposeControl(Control(FOUR_CHAR_CODE("EXPD")));
  const long beeps = SkyloomBeepCount();
  r->mStretchRequest = 0;
  EXPECT_EQ(Command(FOUR_CHAR_CODE("EXPD")), noErr);
  EXPECT_EQ(SkyloomBeepCount(), beeps + 1);
  EXPECT_EQ(r->mHistogramExpand, 2);
  EXPECT_EQ(r->mStretchRequest, 0);
}

TEST_F(ControlWindowTest, RecordingIntervalsAndFrameRatesByItem) {
  const struct {
    UInt32 item;
    double ms;
  } intervals[] = {{1, 60000.0}, {10, 1000.0}, {12, 266.66667}, {17, 8.3333335}, {18, 4.16666675}, {19, 0.0}, {0, 0.0}};
  MyCameraWindowDataStruct* r = OpenWindows();
  for (const auto& c : intervals) {
    SCOPED_TRACE(c.item);
    EXPECT_EQ(myMovieFrameIntervalForItem(c.item), c.ms);
  }
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("MOFR"), 12), noErr);
  EXPECT_EQ(r->mMovieFrameItem, 12u);
  EXPECT_EQ(r->mMovieFrameInterval, 266.66667);

  const struct {
    UInt32 item;
    double fps;
  } rates[] = {{1, 1.875}, {2, 3.75}, {3, 7.5}, {4, 15.0}, {5, 30.0}, {6, 60.0}, {7, 120.0}, {8, 240.0}, {99, 30.0}};
  for (const auto& c : rates) {
    SCOPED_TRACE(c.item);
    EXPECT_EQ(myRateItemFramesPerSecond(c.item), c.fps);
  }
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FRAM"), 4), noErr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(r->mFrameRate, 15.0);
}

TEST_F(ControlWindowTest, FrameRateOnALongExposureCameraShowsTheSliderExposure) {
  MyCameraWindowDataStruct* r = OpenWindows(SimLongExposurePersonality());
  ASSERT_EQ(r->mIsLongExposureCamera, 1);
  r->mFormat = 0;
  r->mMode = 4;  // the mode with rates
  r->mShutterValue = 100;
  r->mExposureRateItem = 3;
  myChangeControlTxt(r->mControlWindow, FOUR_CHAR_CODE("EXPO"), 1, "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FRAM"), 5), noErr);
  testing::internal::GetCapturedStderr();
  char want[64];
  snprintf(want, sizeof want, "%5.2f ms", double(float(myCalcTSLV1501SliderValToExposTimeMS(100, 3))));
  EXPECT_EQ(ui::ControlText(Control(FOUR_CHAR_CODE("EXPO"), 1)), want);
}

TEST_F(ControlWindowTest, AutoExposureSwitchesTheCameraOrKeepsItOnWhenRefused) {
  MyCameraWindowDataStruct* r = OpenWindows(SimMonoPersonality());
  ASSERT_EQ(r->mAbsoluteShutter, 0);
  const OSType expo = FOUR_CHAR_CODE("EXPO"), ccdb = FOUR_CHAR_CODE("CCDB");
  // On: the camera's auto mode, the manual exposure controls off.
  Camera().ClearLog();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Command(FOUR_CHAR_CODE("AUEX")), noErr);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(r->mAutoExposureOn, 1);
  EXPECT_NE(out.find("Auto Exposure Integer is 1\r"), std::string::npos);
  UInt32 auto_ = 0;
  ASSERT_EQ(ORXDCAMGetPropertyValue(r->mCameraHandle, 0x51C, 1, &auto_), noErr);
  EXPECT_EQ(auto_, 1u);
  EXPECT_FALSE(IsControlEnabled(Control(expo, 0)));
  EXPECT_FALSE(IsControlEnabled(Control(expo, 2)));
  EXPECT_FALSE(IsControlEnabled(Control(ccdb)));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Command(FOUR_CHAR_CODE("AUEX")), noErr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(r->mAutoExposureOn, 0);
  EXPECT_TRUE(IsControlEnabled(Control(expo, 0)));
  EXPECT_TRUE(IsControlEnabled(Control(ccdb)));

  // The camera refuses: auto exposure stays as the camera left it, the
  // check box goes grey, and the command still succeeds.
  Camera().FailRegister(0x81C, SimAccessKind::Write, -36);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Command(FOUR_CHAR_CODE("AUEX")), noErr);
  out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(r->mAutoExposureOn, 1);
  EXPECT_FALSE(IsControlEnabled(Control(FOUR_CHAR_CODE("AUEX"))));
  EXPECT_NE(out.find("----- Skyloom ------ Auto Exposure Integer failed Err# "), std::string::npos);
  EXPECT_TRUE(IsControlEnabled(Control(expo, 0)));  // no toggle
}

TEST_F(ControlWindowTest, ANewVideoSizeDropsTheCalibrationFrames) {
  MyCameraWindowDataStruct* r = OpenWindows();
  ASSERT_GE(r->mVideoSizeCount, 1u);
  r->mDarkFrameAvailable = r->mUseDarkFrame = 1;
  r->mFlatFrameAvailable = r->mUseFlatFrame = 1;
  myCheckUncheckControl(r->mControlWindow, FOUR_CHAR_CODE("UDKF"), 0, 1, 1);
  r->mHistogramExpand = 1;
  SetControl32BitValue(Control(FOUR_CHAR_CODE("EXPD")), 3);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("VISZ"), 1), noErr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(r->mVideoSizeIndex, 0u);
  EXPECT_EQ(r->mUseDarkFrame, 0);
  EXPECT_EQ(r->mDarkFrameAvailable, 0);
  EXPECT_EQ(r->mUseFlatFrame, 0);
  EXPECT_EQ(r->mFlatFrameAvailable, 0);
  EXPECT_FALSE(IsControlEnabled(Control(FOUR_CHAR_CODE("UDKF"))));
  EXPECT_FALSE(Checked(FOUR_CHAR_CODE("UDKF")));
  EXPECT_FALSE(IsControlEnabled(Control(FOUR_CHAR_CODE("UBRF"))));
  EXPECT_EQ(r->mStretchRequest, 3);
  MenuRef expd = GetControlPopupMenuHandle(Control(FOUR_CHAR_CODE("EXPD")));
  for (MenuItemIndex i = 1; i <= CountMenuItems(expd); i++) {
    CharParameter mark = 0;
    GetItemMark(expd, i, &mark);
    EXPECT_EQ(mark != noMark, i == 2) << i;
  }
  EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("EXPD"))), 2);
}

TEST_F(ControlWindowTest, DisplayFormatItemsGiveTheirCodes) {
  const OSType colour = myDisplayFormatFromBayerFormat(1, 1), grey = myDisplayFormatFromBayerFormat(0, 1);
  const OSType argb = FOUR_CHAR_CODE("ARGB");
  const struct {
    UInt32 item;
    UInt8 colourSensor;
    OSType code;
    UInt8 colourDisplay;
  } cases[] = {{2, 1, colour, 1}, {4, 1, colour, 1}, {1, 1, grey, 0}, {1, 0, argb, 0}, {3, 1, argb, 0},
               {5, 1, argb, 0},   {6, 1, argb, 0},   {7, 1, argb, 0}, {8, 1, argb, 0}};
  MyCameraWindowDataStruct* r = OpenWindows();
  r->mBayerFormat = 1;
  ASSERT_EQ(colour, FOUR_CHAR_CODE("bmRG"));
  ASSERT_EQ(grey, FOUR_CHAR_CODE("mmRG"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    r->mColourSensor = c.colourSensor;
    r->mDisplayFormat = 0;
    r->mColourDisplay = 9;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Choose(FOUR_CHAR_CODE("FORT"), SInt32(c.item)), noErr);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(r->mDisplayFormatItem, c.item);
    EXPECT_EQ(r->mDisplayFormat, c.code);
    EXPECT_EQ(r->mColourDisplay, c.colourDisplay);
  }
}

TEST_F(ControlWindowTest, ADisplayFormatOutsideThePopUpChangesNothing) {
  MyCameraWindowDataStruct* r = OpenWindows();
  r->mDisplayFormatItem = 2;
  r->mDisplayFormat = FOUR_CHAR_CODE("bmRG");
  r->mColourDisplay = 1;
  // The pop-up keeps its values within its items; a command can still carry
  // another through a control whose range is wider.
  SetControl32BitMaximum(Control(FOUR_CHAR_CODE("FORT")), 20);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FORT"), 9), noErr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(r->mDisplayFormatItem, 2u);
  EXPECT_EQ(r->mDisplayFormat, FOUR_CHAR_CODE("bmRG"));
  EXPECT_EQ(r->mColourDisplay, 1);
}

std::atomic<int> gFramesProcessed{0};

TEST_F(ControlWindowTest, NoFrameIsProcessedWhileTheDisplayFormatChanges) {
  MyCameraWindowDataStruct* r = OpenWindows();
  gMyPipelineTestPausePoint = [](MyCameraWindowDataStruct*, int where) {
    if (where == kPipelinePauseInCalibration) ++gFramesProcessed;
  };
  ASSERT_EQ(StartVideo(-1, true), noErr);
  auto waitForFrames = [](int above) {
    for (int i = 0; i < 3000 && gFramesProcessed.load() <= above; i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return gFramesProcessed.load() > above;
  };
  ASSERT_TRUE(waitForFrames(0));
  static int seenDuringChange;
  seenDuringChange = -1;
  gMyDisplayFormatChangePoint = [](MyCameraWindowDataStruct* rec) {
    EXPECT_EQ(rec->mRunning, 0);
    const int before = gFramesProcessed.load();
    // Several frame periods with the callback away: none may arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    seenDuringChange = gFramesProcessed.load() - before;
  };
  testing::internal::CaptureStderr();
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FORT"), 3), noErr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(seenDuringChange, 0);
  EXPECT_EQ(r->mRunning, 1);
  EXPECT_EQ(r->mDisplayFormat, FOUR_CHAR_CODE("ARGB"));
  // The callback is back: frames flow again.
  EXPECT_TRUE(waitForFrames(gFramesProcessed.load()));
  StopVideo();
  gMyPipelineTestPausePoint = nullptr;
}

TEST_F(ControlWindowTest, DisplayFormatWhileIdleLeavesTheDriverAlone) {
  MyCameraWindowDataStruct* r = OpenWindows();
  ASSERT_EQ(r->mRunning, 0);
  Camera().ClearLog();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FORT"), 1), noErr);
  testing::internal::GetCapturedStderr();
  // The controls are refreshed from the camera; transmission is not touched.
  for (const SimLogEntry& e : Camera().Log()) EXPECT_NE(e.offset, 0x614u);
  EXPECT_FALSE(Camera().Stream().IsoEnabled());
  static bool called;
  called = false;
  gMyDisplayFormatChangePoint = [](MyCameraWindowDataStruct*) { called = true; };
  EXPECT_EQ(Choose(FOUR_CHAR_CODE("FORT"), 2), noErr);
  EXPECT_TRUE(called);
}

TEST_F(ControlWindowTest, CloseCommandClosesTheWindowTheUserWorksIn) {
  MyCameraWindowDataStruct* r = OpenWindows();
  static WindowRef closed;
  closed = nullptr;
  const EventTypeSpec close = {kEventClassWindow, kEventWindowClose};
  auto note = [](EventHandlerCallRef, EventRef e, void*) -> OSStatus {
    GetEventParameter(e, kEventParamDirectObject, typeWindowRef, nullptr, sizeof closed, nullptr, &closed);
    return noErr;
  };
  ASSERT_EQ(InstallWindowEventHandler(r->mVideoWindow, note, 1, &close, nullptr, nullptr), noErr);
  SelectWindow(r->mVideoWindow);
  ASSERT_EQ(GetUserFocusWindow(), r->mVideoWindow);
  EXPECT_EQ(Command(FOUR_CHAR_CODE("clos")), noErr);
  EXPECT_EQ(closed, r->mVideoWindow);
}

}  // namespace
