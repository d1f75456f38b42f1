// Starting and stopping live video: the order of the driver calls, the
// buffers, the controls, the error report, what a failed start leaves for the
// stop, the long-exposure sensor's registers, the exposure-base pop-up, the
// software region, and stops racing frame delivery.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/FramePipeline.h"
#include "app/VideoStartStop.h"
#include "camera_driver/ORXDCAM.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/iokit/IOFireWireLib.h"
#include "tests/app/ExposureFixture.h"

namespace ui = skyloom::ui;

namespace {

// What the hooks saw, written from the main thread and (for the frame
// count) the delivery thread.
struct Seen {
  std::mutex lock;
  std::vector<std::pair<std::string, UInt32>> calls;
  std::vector<size_t> allocations;
  std::vector<UInt64> sleeps;
  double timerDelay = -2, timerInterval = -2;
  size_t callsBeforeTimer = 0;
  OSStatus failTimer = noErr;
  OSStatus failCallback = noErr;
  int failAllocation = -1;  // the index of the allocation that fails
};
Seen* gSeen = nullptr;
std::atomic<int> gFrames{0};

void LogCall(const char* call, UInt32 argument) {
  std::lock_guard<std::mutex> g(gSeen->lock);
  gSeen->calls.push_back({call, argument});
}
void* Allocate(size_t bytes) {
  gSeen->allocations.push_back(bytes);
  return int(gSeen->allocations.size()) - 1 == gSeen->failAllocation ? nullptr : malloc(bytes);
}
OSStatus InstallTimer(EventLoopRef loop, EventTimerInterval delay, EventTimerInterval interval, EventLoopTimerUPP proc,
                      void* data, EventLoopTimerRef* timer) {
  {
    std::lock_guard<std::mutex> g(gSeen->lock);
    gSeen->timerDelay = delay;
    gSeen->timerInterval = interval;
    gSeen->callsBeforeTimer = gSeen->calls.size();
  }
  if (gSeen->failTimer != noErr) return gSeen->failTimer;
  return InstallEventLoopTimer(loop, delay, interval, proc, data, timer);
}
// The real assignment, then the injected failure: the callback is in place.
OSStatus AssignCallback(MyDCAMCameraStruct* camera, MyDCAMFrameCallback callback, void* refCon) {
  OSStatus err = ORXDCAMAssignCallback(camera, callback, refCon);
  return gSeen->failCallback != noErr ? gSeen->failCallback : err;
}
void CountFrame(MyCameraWindowDataStruct*, void*, UInt32, double, double) { gFrames++; }

class VideoStartStop : public ExposureTest {
 protected:
  void SetUp() override {
    ExposureTest::SetUp();
    gSeen = &seen_;
    gFrames = 0;
    gORXDCAMTestCallLog = LogCall;
    gMyVideoStartAllocate = Allocate;
    gMyVideoStartInstallTimer = InstallTimer;
    gMyVideoStartAssignCallback = AssignCallback;
    gMyCameraSettleSleep = [](UInt64 micros) { gSeen->sleeps.push_back(micros); };
    // In charge throughout, so an alert nobody expected cannot hang a test.
    user_ = std::make_unique<ui::ScriptedUser>();
  }
  void TearDown() override {
    if (record_) myStopCamera(record_);
    EXPECT_TRUE(user_->Errors().empty()) << user_->Errors()[0];
    user_.reset();
    gORXDCAMTestCallLog = nullptr;
    gMyFrameProcessorSpy = nullptr;
    gMyPipelineTestPausePoint = nullptr;
    SkyloomFireWireBusSetStepped(false);
    ExposureTest::TearDown();  // closes the camera, puts the settle sleep back
    gMyVideoStartAllocate = nullptr;
    gMyVideoStartInstallTimer = nullptr;
    gMyVideoStartAssignCallback = nullptr;
    gSeen = nullptr;
  }

  // Opens the camera and chooses its first video size, as the control
  // window's set-up does.
  MyCameraWindowDataStruct* OpenCamera(const SimCameraPersonality& p) {
    MyCameraWindowDataStruct* r = Open(p);
    if (!r) return r;
    if (r->mIsLongExposureCamera) {
      // Its grey 640 x 480 mode.
      r->mFormat = 0;
      r->mMode = 5;
    } else {
      EXPECT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
    }
    return r;
  }
  // The same with the camera's clock stepped (no frame runs by itself).
  MyCameraWindowDataStruct* OpenStepped(const SimCameraPersonality& p) {
    MyCameraWindowDataStruct* r = OpenCamera(p);
    if (r) Camera().Stream().SetClock(SimClock::Stepped);
    SkyloomFireWireBusSetStepped(true);
    return r;
  }
  OSStatus Start() { return myStartCamera(record_, record_->mFormat, record_->mMode, record_->mFrameRate); }
  // A start that is expected to fail: its alert is answered.
  OSStatus StartAnsweringAlert() {
    user_->AnswerAlert();
    return Start();
  }
  void Forget() {
    std::lock_guard<std::mutex> g(seen_.lock);
    seen_.calls.clear();
    seen_.allocations.clear();
    seen_.sleeps.clear();
    Camera().ClearLog();
  }
  std::vector<std::pair<std::string, UInt32>> Calls() {
    std::lock_guard<std::mutex> g(seen_.lock);
    return seen_.calls;
  }
  // The streaming calls only (format programming left out).
  std::vector<std::pair<std::string, UInt32>> StreamCalls() {
    std::vector<std::pair<std::string, UInt32>> out;
    for (auto& c : Calls())
      if (c.first != "ORXDCAMSetFMR" && c.first != "ORXDCAMSet7MR") out.push_back(c);
    return out;
  }
  std::string Title(OSType signature) { return ui::ControlTitle(Control(signature)); }
  static bool Keep610(UInt32 offset) { return offset == 0x610 || offset == 0xF08 || offset == 0xF0C || offset == 0xF20; }

  Seen seen_;
  std::unique_ptr<ui::ScriptedUser> user_;
};

using CallList = std::vector<std::pair<std::string, UInt32>>;

TEST_F(VideoStartStop, StartRunsItsStepsInOrderAndStopReversesThem) {
  MyCameraWindowDataStruct* r = OpenStepped(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  r->mPixel16EndianSwap = 1;
  r->mPixel16Shift = 3;
  r->mZoomX = r->mZoomY = 0;
  Forget();
  ASSERT_EQ(Start(), noErr);

  const CallList expected = {{"ORXDCAMSixteenBitEndianSwap", 1},
                          {"ORXDCAMSixteenBitUpShiftAmount", 3},
                          {"ORXDCAMGetFMRLTWHCB", 0},
                          {"ORXDCAMAllocateReleaseIsochChannel", 1},
                          {"ORXDCAMStartStopVideo", 1},
                          {"ORXDCAMAssignCallback", 1}};
  EXPECT_EQ(StreamCalls(), expected);
  // The format is programmed between the sample options and the read-back.
  const CallList all = Calls();
  ASSERT_GE(all.size(), 3u);
  EXPECT_TRUE(all[2].first == "ORXDCAMSetFMR" || all[2].first == "ORXDCAMSet7MR") << all[2].first;
  // The display timer goes in after video starts and before the callback.
  EXPECT_EQ(seen_.timerDelay, 0.0);
  EXPECT_EQ(seen_.timerInterval, 0.02);
  EXPECT_EQ(all[seen_.callsBeforeTimer - 1].first, "ORXDCAMStartStopVideo");
  EXPECT_NE(r->mDisplayTimer, nullptr);
  EXPECT_EQ(r->mRunning, 1);

  ASSERT_EQ(r->mWidth, 640u);
  ASSERT_EQ(r->mHeight, 480u);
  // Flip line, work buffer, preview buffer.
  EXPECT_EQ(seen_.allocations, (std::vector<size_t>{656, 614464, 1228816}));
  EXPECT_EQ(r->mZoomX, 320);
  EXPECT_EQ(r->mZoomY, 240);
  EXPECT_EQ(Title(FOUR_CHAR_CODE("STRT")), "Stop Video");
  EXPECT_FALSE(Enabled(FOUR_CHAR_CODE("VISZ")));
  for (OSType c : {FOUR_CHAR_CODE("GRFR"), FOUR_CHAR_CODE("GRAV"), FOUR_CHAR_CODE("GMOV"), FOUR_CHAR_CODE("FORT"), FOUR_CHAR_CODE("EXPO")}) EXPECT_TRUE(Enabled(c)) << c;
  EXPECT_TRUE(IsWindowVisible(r->mVideoWindow));

  Forget();
  SkyloomCGSetRecording(true);
  EXPECT_EQ(myStopCamera(r), noErr);
  // The histogram area is painted white.
  bool white = false, erased = false;
  for (const SkyloomCGCall& c : SkyloomCGRecordedCalls()) {
    if (c.name == "CGContextSetRGBFillColor") white = c.args == std::vector<double>{1, 1, 1, 1};
    if (c.name == "CGContextFillRect" && white) erased = true;
  }
  SkyloomCGSetRecording(false);
  EXPECT_TRUE(erased);
  const CallList stop = {{"ORXDCAMAssignCallback", 0},
                      {"ORXDCAMResumePauseVideo", 1},
                      {"ORXDCAMStartStopVideo", 0},
                      {"ORXDCAMAllocateReleaseIsochChannel", 0}};
  EXPECT_EQ(StreamCalls(), stop);
  EXPECT_EQ(r->mDisplayTimer, nullptr);
  EXPECT_EQ(r->mPreviewBuffer, nullptr);
  EXPECT_EQ(r->mWorkBuffer, nullptr);
  EXPECT_EQ(r->mFlipVerticalLinePtr, nullptr);
  EXPECT_EQ(r->mRunning, 0);
  EXPECT_FALSE(IsWindowVisible(r->mVideoWindow));
  EXPECT_EQ(Title(FOUR_CHAR_CODE("STRT")), "Start Video");
  EXPECT_TRUE(Enabled(FOUR_CHAR_CODE("VISZ")));
  EXPECT_FALSE(Enabled(FOUR_CHAR_CODE("GRFR")));
  // The last write, on every camera: 0x610 := 0, then the settle wait.
  auto writes = Writes();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.back(), std::make_pair(0x610u, 0u));
  EXPECT_EQ(seen_.sleeps, std::vector<UInt64>{100000});
}

TEST_F(VideoStartStop, SixteenBitFramesGetAWiderFlipLine) {
  MyCameraWindowDataStruct* r = OpenStepped(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  SInt32 sixteen = -1;
  for (UInt32 i = 0; i < r->mVideoSizeCount; i++) {
    const MyVideoSizeStruct& v = r->mVideoSizes[i];
    if (v.mWidth == 640 && (v.mColorCoding == 5 || v.mColorCoding == 10)) sixteen = SInt32(i);
  }
  ASSERT_GE(sixteen, 0) << "the camera offers no 16-bit 640 x 480 mode";
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, sixteen), noErr);
  Forget();
  ASSERT_EQ(Start(), noErr);
  ASSERT_EQ(r->mBitsPerPixel, 16u);
  ASSERT_FALSE(seen_.allocations.empty());
  EXPECT_EQ(seen_.allocations[0], 1312u);
}

TEST_F(VideoStartStop, WhiteBalanceButtonsNeedAColourDisplayThatIsNotInverted) {
  MyCameraWindowDataStruct* r = OpenStepped(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  const struct {
    UInt8 colour, invert;
    bool enabled;
  } kCases[] = {{1, 0, true}, {1, 1, false}, {0, 0, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "colour " << int(c.colour) << " invert " << int(c.invert));
    r->mColourDisplay = c.colour;
    r->mInvert = c.invert;
    ASSERT_EQ(Start(), noErr);
    for (OSType s : {FOUR_CHAR_CODE("AWHB"), FOUR_CHAR_CODE("SWHB"), FOUR_CHAR_CODE("PBCR")}) EXPECT_EQ(Enabled(s), c.enabled) << s;
    myStopCamera(r);
    for (OSType s : {FOUR_CHAR_CODE("AWHB"), FOUR_CHAR_CODE("SWHB"), FOUR_CHAR_CODE("PBCR")}) EXPECT_FALSE(Enabled(s)) << s;
  }
}

TEST_F(VideoStartStop, AFullBusShowsTheBandwidthAlertAndOtherErrorsTheNumber) {
  MyCameraWindowDataStruct* r = OpenStepped(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  Camera().Stream().FailIsochAllocation(kIOReturnNoBandwidth);
  EXPECT_EQ(StartAnsweringAlert(), kMyNoBandwidthErr);
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].title, "User Error");
  EXPECT_NE(ui::Alerts()[0].message.find("no bandwidth"), std::string::npos) << ui::Alerts()[0].message;
  EXPECT_EQ(r->mRunning, 0);
  myStopCamera(r);
  Camera().Stream().FailIsochAllocation(kIOReturnSuccess);

  seen_.failTimer = paramErr;
  EXPECT_EQ(StartAnsweringAlert(), paramErr);
  ASSERT_EQ(ui::Alerts().size(), 2u);
  EXPECT_EQ(ui::Alerts()[1].title, "OSX Err");
  EXPECT_EQ(ui::Alerts()[1].message, "myStartCamera Err = -50 0xFFFFFFCE");
}

// A start failing after the channel and transmission are on leaves them
// for the stop, which gives back each of them; the next start succeeds.
class FailedStart : public VideoStartStop, public testing::WithParamInterface<int> {};

TEST_P(FailedStart, StopReleasesWhatTheStartAcquired) {
  MyCameraWindowDataStruct* r = OpenCamera(SimUSBPersonality());  // real-time frames
  ASSERT_NE(r, nullptr);
  gMyFrameProcessorSpy = CountFrame;
  switch (GetParam()) {
    case 0: seen_.failAllocation = 2; break;  // flip line, work buffer, then the preview buffer
    case 1: seen_.failTimer = paramErr; break;
    case 2: seen_.failCallback = paramErr; break;
  }
  EXPECT_NE(StartAnsweringAlert(), noErr);
  EXPECT_EQ(r->mRunning, 0);
  EXPECT_EQ(r->mIsochChannelHeld, 1);
  EXPECT_EQ(r->mVideoStreaming, 1);
  EXPECT_EQ(r->mCallbackAssigned, GetParam() == 2 ? 1 : 0);

  myStopCamera(r);
  EXPECT_EQ(r->mIsochChannelHeld, 0);
  EXPECT_EQ(r->mVideoStreaming, 0);
  EXPECT_EQ(r->mCallbackAssigned, 0);
  EXPECT_FALSE(Camera().Stream().IsoEnabled());
  EXPECT_EQ(r->mPreviewBuffer, nullptr);
  EXPECT_EQ(r->mWorkBuffer, nullptr);
  // Nothing reaches the pipeline once the stop has returned.
  const int framesAtStop = gFrames.load();
  RunCurrentEventLoop(0.1);
  EXPECT_EQ(gFrames.load(), framesAtStop);

  seen_.failAllocation = -1;
  seen_.failTimer = seen_.failCallback = noErr;
  ASSERT_EQ(Start(), noErr);
  EXPECT_EQ(r->mRunning, 1);
  EXPECT_TRUE(Camera().Stream().IsoEnabled());
}

std::string FailedStepName(const testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"PreviewBuffer", "DisplayTimer", "Callback"};
  return kNames[info.param];
}
INSTANTIATE_TEST_SUITE_P(AtEachLateStep, FailedStart, testing::Values(0, 1, 2), FailedStepName);

TEST_F(VideoStartStop, RepeatedStartsAndStopsLeaveNothingBehind) {
  MyCameraWindowDataStruct* r = OpenStepped(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  gMyVideoStartAllocate = nullptr;
  gORXDCAMTestCallLog = nullptr;
  // A failed start in between: its buffers are freed before new ones are made.
  seen_.failTimer = paramErr;
  EXPECT_EQ(StartAnsweringAlert(), paramErr);
  seen_.failTimer = noErr;
  for (int i = 0; i < 200; i++) {
    ASSERT_EQ(Start(), noErr) << i;
    ASSERT_EQ(myStopCamera(r), noErr);
  }
  EXPECT_EQ(r->mSecondLongFrameBuffer, nullptr);
  EXPECT_EQ(r->mDisplayTimer, nullptr);
}

// ---- the long-exposure sensor ----

TEST_F(VideoStartStop, LongExposureSensorRegistersAreSetAndWrittenBack) {
  const struct {
    const char* name;
    UInt8 colour;
    std::vector<std::pair<UInt32, UInt32>> start;
  } kCases[] = {
      {"API-201", 0, {{0x610, 1}, {0xF0C, 0x1E001515}, {0xF08, 0x1212}}},
      {"API-201", 1, {{0x610, 1}, {0xF20, 0x00010100}, {0xF0C, 0x1E001515}, {0xF08, 0x1212}}},
      {"Fire-i 1.2", 0, {{0x610, 1}, {0xF0C, 0x1F001617}, {0xF08, 0x1507}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.name << " colour " << int(c.colour));
    SimCameraPersonality p = SimLongExposurePersonality();
    p.modelName = c.name;
    MyCameraWindowDataStruct* r = OpenStepped(p);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->mIsLongExposureCamera, 1);
    r->mColourSensor = c.colour;
    Forget();
    ASSERT_EQ(Start(), noErr);
    EXPECT_EQ(Writes(Keep610), c.start);
    EXPECT_EQ(r->mSavedTSLRegisters[0], 0x00010000u);  // AFE, CDS, CCD as read
    EXPECT_EQ(r->mSavedTSLRegisters[1], 0x1E001515u);
    EXPECT_EQ(r->mSavedTSLRegisters[2], 0x1212u);
    ASSERT_NE(r->mSecondLongFrameBuffer, nullptr);
    Forget();
    myStopCamera(r);
    const std::vector<std::pair<UInt32, UInt32>> stop = {
        {0xF20, 0x00010000}, {0xF0C, 0x1E001515}, {0xF08, 0x1212}, {0x610, 0}};
    EXPECT_EQ(Writes(Keep610), stop);
    EXPECT_EQ(r->mSecondLongFrameBuffer, nullptr);
    CloseCamera();
  }
}

TEST_F(VideoStartStop, AFailingSensorReadIsRetriedOnceThenGivenUp) {
  MyCameraWindowDataStruct* r = OpenStepped(SimLongExposurePersonality());
  ASSERT_NE(r, nullptr);
  // Once: the second try reads it, 100 ms later.
  Forget();
  Camera().FailRegister(0xF0C, SimAccessKind::Read, kIOReturnTimeout, 1);
  ASSERT_EQ(Start(), noErr);
  EXPECT_EQ(seen_.sleeps, (std::vector<UInt64>{100000, 100000}));
  EXPECT_EQ(r->mSavedTSLRegisters[1], 0x1E001515u);
  myStopCamera(r);

  // Twice: the line, no more set-up writes, and video starts all the same;
  // the stop writes back only what was read.
  Forget();
  Camera().FailRegister(0xF0C, SimAccessKind::Read, kIOReturnTimeout, 2);
  testing::internal::CaptureStderr();
  const OSStatus err = Start();
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, noErr);
  EXPECT_EQ(r->mRunning, 1);
  char line[96];
  snprintf(line, sizeof line, "Reading CDS_PULSE_CNFG Failed! Err %d 0x%X\n", int(kIOReturnTimeout),
           unsigned(kIOReturnTimeout));
  EXPECT_NE(errors.find(line), std::string::npos) << errors;
  EXPECT_EQ(Writes(Keep610), (std::vector<std::pair<UInt32, UInt32>>{{0x610, 1}}));
  Forget();
  myStopCamera(r);
  EXPECT_EQ(Writes(Keep610), (std::vector<std::pair<UInt32, UInt32>>{{0xF08, 0x1212}, {0x610, 0}}));
}

// ---- the exposure-base pop-up ----

TEST_F(VideoStartStop, StopResetsTheExposureBaseByFamily) {
  const struct {
    const char* label;
    SimCameraPersonality personality;
    SInt32 after;
  } kCases[] = {
      {"long-exposure kind", SimLongExposurePersonality(), 7},  // L < v is false: kept
      {"Point Grey", SimPointGreyBoardType3Personality(), 6},   // L <= v: back to L - 1
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    MyCameraWindowDataStruct* r = OpenStepped(c.personality);
    ASSERT_NE(r, nullptr);
    ControlRef popup = Control(FOUR_CHAR_CODE("CCDB"));
    ASSERT_NE(popup, nullptr);
    MenuRef menu = GetControlPopupMenuHandle(popup);
    while (CountMenuItems(menu) < 10) AppendMenuItemTextWithCFString(menu, CFSTR("item"), 0, 0, nullptr);
    SetControl32BitMaximum(popup, CountMenuItems(menu));
    r->mExposureItemLimit = 7;
    SetControl32BitValue(popup, 7);
    myStopCamera(r);  // an idle camera's stop resets the pop-up too
    EXPECT_EQ(GetControl32BitValue(popup), c.after);
    EXPECT_FALSE(IsMenuItemEnabled(menu, 9));
    CloseCamera();
  }
}

TEST_F(VideoStartStop, AMissingExposureBasePopUpStillLeavesVideoRunning) {
  MyCameraWindowDataStruct* r = OpenStepped(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  DisposeControl(Control(FOUR_CHAR_CODE("CCDB")));
  testing::internal::CaptureStderr();
  const OSStatus err = Start();
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, noErr);
  EXPECT_EQ(r->mRunning, 1);
  EXPECT_NE(errors.find("GetControlByID CC_SET_CCD_BASE_RATE_ Err = "), std::string::npos) << errors;
  EXPECT_TRUE(ui::Alerts().empty());
}

// ---- the software region ----

TEST_F(VideoStartStop, TheSoftRegionCountsOnlyInsideTheNewFrame) {
  MyCameraWindowDataStruct* r = OpenStepped(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  const struct {
    UInt32 left, top, width, height;
    UInt8 active;
  } kCases[] = {{0, 0, 320, 240, 1}, {0, 0, 1000, 400, 0}, {0, 0, 640, 480, 0}, {400, 0, 320, 240, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.left << "," << c.top << " " << c.width << "x" << c.height);
    r->mSoftROIEnabled = 1;
    r->mSoftROIActive = 1 - c.active;
    r->mSoftROILeft = c.left;
    r->mSoftROITop = c.top;
    r->mSoftROIWidth = c.width;
    r->mSoftROIHeight = c.height;
    ASSERT_EQ(Start(), noErr);
    ASSERT_EQ(r->mWidth, 640u);
    EXPECT_EQ(r->mSoftROIActive, c.active);
    myStopCamera(r);
  }
}

// ---- stops racing frame delivery ----

TEST_F(VideoStartStop, StartsAndStopsRaceDeliveryWithoutLeavingWorkBehind) {
  MyCameraWindowDataStruct* r = OpenCamera(SimUSBPersonality());
  ASSERT_NE(r, nullptr);
  Camera().Stream().SetClock(SimClock::Stepped);
  gMyVideoStartAllocate = nullptr;
  gORXDCAMTestCallLog = nullptr;
  r->mShowSharpness = 1;
  std::atomic<bool> done{false};
  std::atomic<int> sent{0};
  std::thread bus([&] {
    while (!done) {
      if (Camera().Stream().StepBulkFrames(1, 2) == 1) sent++;
      SkyloomSleepMicroseconds(1000);  // about 1,000 frames a second
    }
  });
  for (int i = 0; i < 500; i++) {
    ASSERT_EQ(Start(), noErr) << i;
    if (i % 50 == 0) {
      ASSERT_EQ(myStartStopFWHMHFD(r, 1), noErr);
    }
    if (i % 7 == 0) RunCurrentEventLoop(0.0);  // the display timer takes frames
    myStopCamera(r);
  }
  done = true;
  bus.join();
  EXPECT_GT(sent.load(), 0);
  for (SInt32* c : {&r->mDisplayBusy, &r->mPreviewConverting, &r->mGrabBufferBusy, &r->mFWHMBusy,
                    &r->mCalibrationBusy, &r->mPleezWaitBusy, &r->mMovieBusy, &r->mGrabPending, &r->mGrabsInFlight})
    EXPECT_EQ(std::atomic_ref<SInt32>(*c).load(), 0);
  EXPECT_EQ(r->mFWHMPlane, nullptr);
}

// A frame held inside the callback: the stop's AssignCallback(null) returns
// only after the callback has left.
std::mutex gPauseLock;
std::condition_variable gPauseCond;
bool gInCallback = false, gRelease = false, gStopReachedUnassign = false;
std::atomic<int> gSequence{0}, gCallbackLeft{0};

void HoldFrame(MyCameraWindowDataStruct*, void*, UInt32, double, double) {
  std::unique_lock<std::mutex> g(gPauseLock);
  if (gInCallback || gRelease) return;  // only the first frame is held
  gInCallback = true;
  gPauseCond.notify_all();
  gPauseCond.wait(g, [] { return gRelease; });
  gCallbackLeft = ++gSequence;
}
void WatchUnassign(const char* call, UInt32 argument) {
  if (std::string(call) != "ORXDCAMAssignCallback" || argument != 0) return;
  std::lock_guard<std::mutex> g(gPauseLock);
  gStopReachedUnassign = true;
  gPauseCond.notify_all();
}

TEST_F(VideoStartStop, StopReturnsOnlyAfterTheCallbackHasLeft) {
  MyCameraWindowDataStruct* r = OpenCamera(SimUSBPersonality());
  ASSERT_NE(r, nullptr);
  Camera().Stream().SetClock(SimClock::Stepped);
  gInCallback = gRelease = gStopReachedUnassign = false;
  gSequence = 0;
  gCallbackLeft = 0;
  gMyFrameProcessorSpy = HoldFrame;
  gORXDCAMTestCallLog = WatchUnassign;
  ASSERT_EQ(Start(), noErr);
  std::thread bus([&] { Camera().Stream().StepBulkFrames(1, 5000); });
  {
    std::unique_lock<std::mutex> g(gPauseLock);
    ASSERT_TRUE(gPauseCond.wait_for(g, std::chrono::seconds(30), [] { return gInCallback; }));
  }
  // Released once the stop is inside the driver's unassignment.
  std::thread releaser([] {
    std::unique_lock<std::mutex> g(gPauseLock);
    gPauseCond.wait(g, [] { return gStopReachedUnassign; });
    gRelease = true;
    gPauseCond.notify_all();
  });
  myStopCamera(r);
  const int stopReturned = ++gSequence;
  releaser.join();
  bus.join();
  EXPECT_NE(gCallbackLeft.load(), 0);
  EXPECT_LT(gCallbackLeft.load(), stopReturned);
}

}  // namespace
