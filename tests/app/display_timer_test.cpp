// The display timer on a test clock: the please-wait texts, the long-exposure
// countdown, grab completion (time-outs, saving, re-arming) and the preview.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/FramePipeline.h"
#include "app/PleezWait.h"
#include "platform/hitoolbox/UIModel.h"
#include "utilities/Controls.h"
#include "tests/app/DisplayTimerHarness.h"

namespace {

namespace ui = skyloom::ui;

struct SaveCall {
  UInt32 width, height, depth;
  OSType kind;
  UInt32 code;
  const void* frame;
};
std::vector<SaveCall> gSaves;
OSStatus gSaveStatus = noErr;
OSStatus RecordSave(MyDCAMCameraStruct*, const void* frame, UInt32 w, UInt32 h, UInt32 depth, FSSpec, OSType kind,
                    UInt32 code) {
  gSaves.push_back({w, h, depth, kind, code, frame});
  return gSaveStatus;
}

class DisplayTimerTest : public DisplayTimerHarness {
 protected:
  void SetUp() override {
    DisplayTimerHarness::SetUp();
    now_ = 1000000;
    SkyloomSetMonotonicTimeSource([this] { return now_.load(); });
    gSaves.clear();
    gSaveStatus = noErr;
    gMySaveGrabbedFrame = RecordSave;
  }
  void TearDown() override {
    DisplayTimerHarness::TearDown();
    gMySaveGrabbedFrame = nullptr;
    SkyloomSetMonotonicTimeSource({});
  }
  // Video on, synchronous delivery, no timer installed: the test ticks.
  MyCameraWindowDataStruct* Running(const SimCameraPersonality& p = SimUSBPersonality(), SInt32 index = -1) {
    MyCameraWindowDataStruct* r = Open(p);
    EXPECT_EQ(StartVideo(index, false), noErr);
    return r;
  }
  void AdvanceMs(double ms) { now_ += UInt64(ms * 1000.0); }
  void Deliver(UInt32 id) {
    std::vector<UInt8> f = Reference(id);
    myDisplayCallback(record_->mWidth, record_->mHeight, UInt32(f.size()), f.data(), record_, 33.3, 66.6);
  }
  size_t AlertCount(const std::string& text) {
    size_t n = 0;
    for (const auto& a : ui::Alerts()) n += (a.message == text || a.title == text);
    return n;
  }
  std::atomic<UInt64> now_{0};
};

TEST_F(DisplayTimerTest, AWaitingGrabTimesOutAfterItsLimitAndNotBefore) {
  struct Case {
    const char* name;
    UInt32 longExposure;
    double exposureMs;
    double notYetMs, completeMs;
  } cases[] = {
      {"long exposure: 1.25 x the exposure", 1, 1000.0, 1250.0, 1251.0},
      {"otherwise 5 s whatever the exposure", 0, 1000.0, 5000.0, 5001.0},
      {"otherwise 5 s, long exposure time set", 0, 20000.0, 5000.0, 5001.0},
  };
  MyCameraWindowDataStruct* r = Running();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::ResetModel();
    r->mLongExposure = c.longExposure;
    r->mExposureMS = c.exposureMs;
    ASSERT_EQ(myArmGrabBuffer(r, 1), noErr);
    const UInt64 asked = now_;
    now_ = asked + UInt64(c.notYetMs * 1000.0);
    Tick();
    EXPECT_EQ(r->mGrabPending, 1);
    EXPECT_EQ(AlertCount("GRABTIMEOUT"), 0u);
    now_ = asked + UInt64(c.completeMs * 1000.0);
    Tick();
    EXPECT_EQ(r->mGrabPending, 0);
    EXPECT_EQ(r->mGrabsInFlight, 0);
    EXPECT_EQ(r->mGrabBuffer, nullptr);
    EXPECT_TRUE(gSaves.empty());
    ASSERT_EQ(ui::Alerts().size(), 1u);
    EXPECT_EQ(ui::Alerts()[0].title, "Camera Error");
    EXPECT_EQ(ui::Alerts()[0].message, "The frame did not arrive in time and was not saved.");
  }
  r->mLongExposure = 0;
}

TEST_F(DisplayTimerTest, AGrabWithoutTimeOutWaitsUntilCancelledAndThenEndsSilently) {
  MyCameraWindowDataStruct* r = Running();
  ASSERT_EQ(myArmGrabBuffer(r, 0), noErr);
  AdvanceMs(600000.0);
  Tick();
  EXPECT_EQ(r->mGrabPending, 1);
  std::atomic_ref<UInt8>(r->mGrabCancel).store(1);
  Tick();
  EXPECT_EQ(r->mGrabPending, 0);
  EXPECT_EQ(r->mGrabBuffer, nullptr);
  EXPECT_TRUE(gSaves.empty());
  EXPECT_TRUE(ui::Alerts().empty());
}

TEST_F(DisplayTimerTest, AFilledGrabIsSavedWithItsDepthAndCodeThenTheControlsComeBack) {
  MyCameraWindowDataStruct* r = Running();
  // Bayer codes 1-4 shown in colour with high quality map to the 'bh' codes;
  // otherwise the display format goes as it is.
  struct Case {
    UInt32 bayer;
    UInt8 colour, high;
    UInt32 display, expected;
  } cases[] = {
      {1, 1, 1, FOUR_CHAR_CODE("bmRG"), FOUR_CHAR_CODE("bhRG")},
      {2, 1, 1, FOUR_CHAR_CODE("bmBG"), FOUR_CHAR_CODE("bhBG")},
      {3, 1, 1, FOUR_CHAR_CODE("bmGR"), FOUR_CHAR_CODE("bhGR")},
      {4, 1, 1, FOUR_CHAR_CODE("bmGB"), FOUR_CHAR_CODE("bhGB")},
      {1, 1, 0, FOUR_CHAR_CODE("bmRG"), FOUR_CHAR_CODE("bmRG")},
      {1, 0, 1, FOUR_CHAR_CODE("mmRG"), FOUR_CHAR_CODE("mmRG")},
      {1, 1, 1, FOUR_CHAR_CODE("ARGB"), FOUR_CHAR_CODE("ARGB")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bayer * 100 + c.colour * 10 + c.high);
    gSaves.clear();
    r->mBayerFormat = c.bayer;
    r->mColourDisplay = c.colour;
    r->mHighQualityBayer = c.high;
    r->mDisplayFormat = c.display;
    r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
    ASSERT_EQ(myArmGrabBuffer(r, 1), noErr);
    const void* buffer = r->mGrabBuffer;
    Deliver(5);
    Tick();
    ASSERT_EQ(gSaves.size(), 1u);
    EXPECT_EQ(gSaves[0].code, c.expected);
    EXPECT_EQ(gSaves[0].depth, 8u);
    EXPECT_EQ(gSaves[0].frame, buffer);
    EXPECT_EQ(gSaves[0].kind, FOUR_CHAR_CODE("TIFF"));
    EXPECT_EQ(gSaves[0].width, r->mWidth);
    EXPECT_EQ(r->mGrabPending, 0);
    EXPECT_EQ(r->mGrabBuffer, nullptr);
  }
  EXPECT_TRUE(ui::Alerts().empty());
  EXPECT_EQ(ui::ControlTitle(Control(FOUR_CHAR_CODE("GRFR"))), "Grab Frame");
  EXPECT_TRUE(IsMenuItemEnabled(GetMenuRef(2), 15));
  EXPECT_TRUE(IsMenuItemEnabled(GetMenuRef(2), 16));
  EXPECT_TRUE(IsMenuItemEnabled(GetMenuRef(2), 17));
}

TEST_F(DisplayTimerTest, TwelveBitFramesAreSavedAtDepthSixteenAndAFailureIsReported) {
  MyCameraWindowDataStruct* r = Open(SimUSBPersonality());
  SInt32 index = -1;
  for (UInt32 i = 0; i < r->mVideoSizeCount; i++)
    if (r->mVideoSizes[i].mColorCoding == 11) index = SInt32(i);
  ASSERT_GE(index, 0);
  ASSERT_EQ(StartVideo(index, false), noErr);
  ASSERT_EQ(r->mBitsPerPixel, 12u);
  gSaveStatus = -34;
  ASSERT_EQ(myArmGrabBuffer(r, 1), noErr);
  Deliver(2);
  Tick();
  ASSERT_EQ(gSaves.size(), 1u);
  EXPECT_EQ(gSaves[0].depth, 16u);
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].message, "ORXDCAMSaveRAWFrametoDisk Failed with Err = -34 0xFFFFFFDE - Frame not saved");
  EXPECT_EQ(r->mGrabBuffer, nullptr);  // the grab still finishes
}

TEST_F(DisplayTimerTest, TriggerItemTwoReArmsWithTheSameBufferAndKeepsTheInFlightCount) {
  MyCameraWindowDataStruct* r = Running();
  r->mTriggerItem = 2;
  ASSERT_EQ(myArmGrabBuffer(r, 0), noErr);
  const void* buffer = r->mGrabBuffer;
  for (UInt32 i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    Deliver(10 + i);
    Tick();
    EXPECT_EQ(gSaves.size(), i + 1);
    EXPECT_EQ(r->mGrabBuffer, buffer);
    EXPECT_EQ(r->mGrabPending, 1);
    EXPECT_EQ(r->mGrabsInFlight, 0);
    EXPECT_EQ(r->mGrabWanted, 1);
  }
  // Leaving trigger item 2 and cancelling ends the series.
  r->mTriggerItem = 0;
  std::atomic_ref<UInt8>(r->mGrabCancel).store(1);
  Tick();
  EXPECT_EQ(r->mGrabPending, 0);
  EXPECT_EQ(r->mGrabBuffer, nullptr);
  EXPECT_TRUE(ui::Alerts().empty());
}

TEST_F(DisplayTimerTest, AGrabStillBeingCopiedCompletesAtALaterTick) {
  MyCameraWindowDataStruct* r = Running();
  mySetFrameWorkWaitPolls(3);
  ASSERT_EQ(myArmGrabBuffer(r, 1), noErr);
  IncrementAtomic(&r->mGrabBufferBusy);  // the pipeline is inside its copy
  AdvanceMs(5001.0);
  Tick();
  EXPECT_EQ(r->mGrabPending, 1);
  EXPECT_NE(r->mGrabBuffer, nullptr);
  EXPECT_EQ(r->mGrabWanted, 0);  // no new frame goes in
  DecrementAtomic(&r->mGrabBufferBusy);
  Tick();
  EXPECT_EQ(r->mGrabPending, 0);
  EXPECT_EQ(r->mGrabBuffer, nullptr);
  EXPECT_EQ(r->mGrabBufferBusy, 0);
  mySetFrameWorkWaitPolls(0);
}

TEST_F(DisplayTimerTest, TheCountdownShowsWholeSecondsOfLongExposuresAboveTwoSeconds) {
  MyCameraWindowDataStruct* r = Running();
  SetWindowTitleWithCFString(r->mVideoWindow, CFSTR("Video Preview"));
  r->mLongExposure = 1;
  r->mExposureMS = 10000.0;
  r->mExposureStartTime = now_;
  r->mCountdownTime = now_;
  AdvanceMs(999.0);
  Tick();
  EXPECT_EQ(ui::WindowTitle(r->mVideoWindow), "Video Preview");
  AdvanceMs(201.0);  // 1,200 ms: (10000 - 1200) x 0.001 + 0.5 = 9.3
  Tick();
  EXPECT_EQ(ui::WindowTitle(r->mVideoWindow), "Next Frame in 9 seconds");
  AdvanceMs(500.0);  // less than a second since the last update
  SetWindowTitleWithCFString(r->mVideoWindow, CFSTR("x"));
  Tick();
  EXPECT_EQ(ui::WindowTitle(r->mVideoWindow), "x");
  AdvanceMs(500.0);  // 2,200 ms: 8.3
  Tick();
  EXPECT_EQ(ui::WindowTitle(r->mVideoWindow), "Next Frame in 8 seconds");

  r->mExposureMS = 2000.0;
  SetWindowTitleWithCFString(r->mVideoWindow, CFSTR("Video Preview"));
  r->mExposureStartTime = r->mCountdownTime = now_;
  for (int i = 0; i < 3; i++) {
    AdvanceMs(1000.0);
    Tick();
  }
  EXPECT_EQ(ui::WindowTitle(r->mVideoWindow), "Video Preview");
  r->mLongExposure = 0;
}

TEST_F(DisplayTimerTest, ThePleezWaitWindowShowsEachModesTextOrProgress) {
  MyCameraWindowDataStruct* r = Running();
  WindowRef w = MakeWindow("ORX_DCAM", "PleezWait");
  ASSERT_NE(w, nullptr);
  r->mPleezWaitWindow = w;
  r->mPleezWaitActive = 1;
  r->mTrackSampleCount = 7;
  r->mTrackingAnalysisOn = 1;
  r->mBrightnessMonitorOn = 1;
  r->mBrightnessElapsed = 12.3456f;
  r->mTrackingArea[0] = 100.0f;
  r->mTrackingArea[1] = 50.0f;
  r->mTrackingArea[2] = 103.5f;
  r->mTrackingArea[3] = 48.0f;
  r->mLastBrightness = 1234.6f;
  r->mAlignedFrameCount = 42;
  r->mPleezWaitProgress = 37;
  struct Case {
    UInt32 mode;
    const char* text;
    SInt32 bar;
  } cases[] = {
      {6, "T: 12.3  X:3.5 Y:2.0", 0},
      {9, "# Frames: 42", 37},
      {10, "# Frames: 42", 37},
      {11, "T: 12.346  B:1235 #:7", 0},
      {1, "", 37},
      {7, "", 37},
  };
  ControlRef bar = ui::FindControl(w, FOUR_CHAR_CODE("BARR"), 0);
  ControlRef text = ui::FindControl(w, FOUR_CHAR_CODE("STTX"), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    SetControl32BitValue(bar, 0);
    myChangeControlTxt(w, FOUR_CHAR_CODE("STTX"), 0, "");
    r->mPleezWaitMode = c.mode;
    Tick();
    EXPECT_EQ(ui::ControlText(text), c.text);
    EXPECT_EQ(GetControl32BitValue(bar), c.bar);
  }
  // Nothing to show before the first sample.
  r->mTrackSampleCount = 0;
  for (UInt32 mode : {6u, 11u}) {
    r->mPleezWaitMode = mode;
    myChangeControlTxt(w, FOUR_CHAR_CODE("STTX"), 0, "");
    Tick();
    EXPECT_EQ(ui::ControlText(text), "");
  }
  r->mPleezWaitActive = 0;
  r->mPleezWaitWindow = nullptr;
  DisposeWindow(w);
}

TEST_F(DisplayTimerTest, ThePreviewIsDrawnOnlyWhenReadyAndNotBeingConverted) {
  MyCameraWindowDataStruct* r = Running();
  Deliver(1);
  ASSERT_EQ(r->mPreviewReady, 1);
  r->mPreviewConverting = 1;  // the pipeline writes the next one
  const long before = ui::WindowDrawCount(r->mVideoWindow);
  Tick();
  EXPECT_EQ(r->mPreviewReady, 1);
  r->mPreviewConverting = 0;
  Tick();
  EXPECT_EQ(r->mPreviewReady, 0);
  EXPECT_EQ(r->mDisplayBusy, 0);
  (void)before;
  // Long exposures: the show-pending count goes down either way.
  r->mLongExposure = 1;
  r->mLongExpShowPending = 2;
  Tick();
  EXPECT_EQ(r->mLongExpShowPending, 1);
  r->mLongExposure = 0;
}

}  // namespace
