// The camera commands that scripts send as Apple events of class 'ORFW',
// delivered in-process to the handlers the harness installs, on the
// simulated camera.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/CameraAppleEvents.h"
#include "app/FramePipeline.h"
#include "app/FrameGrabs.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/launchservices/LaunchServices.h"
#include "tests/app/CaptureFolder.h"
#include "tests/app/DisplayTimerHarness.h"
#include "utilities/Controls.h"

namespace {

namespace ui = skyloom::ui;

constexpr AEEventID kStartRecording = FOUR_CHAR_CODE("viSR");
constexpr AEEventID kStopRecording = FOUR_CHAR_CODE("viHR");
constexpr AEEventID kGrabFrame = FOUR_CHAR_CODE("viGF");
constexpr AEEventID kGrabDone = FOUR_CHAR_CODE("viCF");
constexpr AEEventID kAverage = FOUR_CHAR_CODE("viAF");
constexpr AEEventID kFlat = FOUR_CHAR_CODE("viFF");
constexpr AEEventID kDark = FOUR_CHAR_CODE("viDF");
constexpr AEEventID kApplySettings = FOUR_CHAR_CODE("viAS");

// What a script sees of one event.
struct Answer {
  OSErr sent = -1;      // AESend's status: the handler's result
  int value = -1;       // the Boolean of the reply, -1 when none
  std::string stderrText;
};

class CameraAppleEvents : public DisplayTimerHarness {
 protected:
  void SetUp() override {
    DisplayTimerHarness::SetUp();
    SkyloomSetFileOpener([this](const std::string& path) {
      std::lock_guard<std::mutex> lock(openedLock_);
      opened_.push_back(path);
      return OSStatus(noErr);
    });
  }
  void TearDown() override {
    if (record_) myStopRecordMovie(record_);
    DisplayTimerHarness::TearDown();
    SkyloomSetFileOpener(nullptr);
    // The harness removed the handlers with the camera.
    EXPECT_EQ(AEGetEventHandler(kMyCameraEventClass, kGrabDone, nullptr, nullptr, false), errAEHandlerNotFound);
  }

  // An open camera that streams (frames come from the test), with captures
  // going to saveFolder_ and the grab controls on.
  MyCameraWindowDataStruct* Running(const SimCameraPersonality& p = SimUSBPersonality()) {
    MyCameraWindowDataStruct* r = Open(p);
    if (!r) return nullptr;
    EXPECT_EQ(StartCamera(-1, false), noErr);
    SaveCapturesTo(r, saveFolder_);
    r->mGrabControlsEnabled = 1;
    return r;
  }

  // Sends the event (slot: the 'viAS' direct parameter, when given) and
  // reads the answer.
  static Answer Send(AEEventID id, bool wantReply = true, const SInt32* slot = nullptr) {
    Answer a;
    AppleEvent event, reply;
    EXPECT_EQ(AECreateAppleEvent(kMyCameraEventClass, id, nullptr, kAutoGenerateReturnID, kAnyTransactionID, &event),
              noErr);
    if (slot) {
      EXPECT_EQ(AEPutParamPtr(&event, keyDirectObject, typeLongInteger, slot, sizeof *slot), noErr);
    }
    testing::internal::CaptureStderr();
    a.sent = AESend(&event, &reply, wantReply ? kAEWaitReply : kAENoReply, kAENormalPriority, kAEDefaultTimeout,
                    nullptr, nullptr);
    a.stderrText = testing::internal::GetCapturedStderr();
    Boolean b = 2;
    DescType type = 0;
    Size size = 0;
    if (AEGetParamPtr(&reply, keyDirectObject, typeBoolean, &type, &b, sizeof b, &size) == noErr) {
      EXPECT_EQ(size, 1);
      a.value = b;
    }
    AEDisposeDesc(&reply);
    AEDisposeDesc(&event);
    return a;
  }

  // One frame of the current mode, every sample at level.
  void Deliver(UInt8 level) {
    const size_t bytes = size_t(record_->mWidth) * record_->mHeight * (record_->mBitsPerPixel > 8 ? 2 : 1);
    std::vector<UInt8> f(bytes, level);
    myDisplayCallback(record_->mWidth, record_->mHeight, UInt32(f.size()), f.data(), record_, 33.3, 66.6);
  }

  // A please-wait run as the user sees it: count frames arrive while its
  // window is up; the display timer then ends the run.
  Answer SendCollecting(AEEventID id, UInt32 count) {
    ui::ScriptedUser user;
    user.Do([this, count] {
      EXPECT_NE(ui::FindWindow("PleezWait"), nullptr);
      for (UInt32 i = 0; i < count; i++) Deliver(UInt8(100 + i));
    });
    user.Wait(0.5);
    Answer a = Send(id);
    EXPECT_TRUE(user.Errors().empty());
    return a;
  }

  std::vector<std::string> Opened() {
    std::lock_guard<std::mutex> lock(openedLock_);
    return opened_;
  }

  // Stores a slot's key as a save would.
  static void Put(const std::string& domain, const std::string& key, const char* text) {
    CFStringRef d = CFStringCreateWithCString(nullptr, domain.c_str(), kCFStringEncodingUTF8);
    CFStringRef k = CFStringCreateWithCString(nullptr, key.c_str(), kCFStringEncodingUTF8);
    CFStringRef v = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    CFPreferencesSetAppValue(k, v, d);
    EXPECT_TRUE(CFPreferencesAppSynchronize(d));
    CFRelease(v);
    CFRelease(k);
    CFRelease(d);
  }

  std::mutex openedLock_;
  std::vector<std::string> opened_;
};

TEST_F(CameraAppleEvents, EventsAndStatesGiveTheirRepliesAndCalls) {
  MyCameraWindowDataStruct* r = Running();
  ASSERT_NE(r, nullptr);
  using Set = std::function<void(MyCameraWindowDataStruct*)>;
  using Check = std::function<void(MyCameraWindowDataStruct*)>;
  auto nothing = [](MyCameraWindowDataStruct*) {};
  const struct Case {
    const char* label;
    AEEventID event;
    Set set;
    int reply;
    Check check;
  } kCases[] = {
      {"start recording while stopped", kStartRecording, [](auto* x) { x->mRunning = 0; }, 0,
       [](auto* x) { EXPECT_EQ(x->mRecording, 0); }},
      {"start recording with the controls off", kStartRecording, [](auto* x) { x->mGrabControlsEnabled = 0; }, 0,
       [](auto* x) { EXPECT_EQ(x->mRecording, 0); }},
      {"start recording when ready", kStartRecording, nothing, 1,
       [](auto* x) {
         EXPECT_EQ(x->mRecording, 1);
         EXPECT_NE(x->mMovie, nullptr);
       }},
      {"start recording again", kStartRecording, nothing, 0, [](auto* x) { EXPECT_EQ(x->mRecording, 1); }},
      {"stop recording", kStopRecording, nothing, 1, [](auto* x) { EXPECT_EQ(x->mRecording, 0); }},
      {"stop recording while none runs", kStopRecording, nothing, 1, [](auto* x) { EXPECT_EQ(x->mRecording, 0); }},
      {"stop recording while stopped", kStopRecording, [](auto* x) { x->mRunning = 0; }, 0, nothing},
      {"grab with a grab pending", kGrabFrame,
       [](auto* x) {
         x->mGrabPending = 1;
         x->mGrabsInFlight = 1;
         x->mGrabWanted = 1;
         x->mGrabTimeoutOn = 0;
         x->mGrabRequestTime = 1234;
       },
       0,
       [](auto* x) {
         EXPECT_EQ(x->mGrabPending, 1);
         EXPECT_EQ(x->mGrabWanted, 1);
         EXPECT_EQ(x->mGrabTimeoutOn, 0);
         EXPECT_EQ(x->mGrabRequestTime, 1234u);
         EXPECT_EQ(x->mGrabBuffer, nullptr);
         x->mGrabPending = x->mGrabsInFlight = 0;
         x->mGrabWanted = 0;
       }},
      {"grab without trigger", kGrabFrame, [](auto* x) { x->mTriggerItem = 0; }, 1,
       [](auto* x) {
         EXPECT_EQ(x->mGrabPending, 1);
         EXPECT_EQ(x->mGrabWanted, 1);
         EXPECT_EQ(x->mGrabTimeoutOn, 1);
       }},
      {"grab done while in flight", kGrabDone, nothing, 0, nothing},
      {"grab done while not ready", kGrabDone, [](auto* x) { x->mRunning = 0; }, 1, nothing},
      {"grab with the trigger grabbing to disk", kGrabFrame,
       [](auto* x) {
         myStopRecordMovie(x);  // nothing runs: only the controls come back
         std::atomic_ref<UInt8>(x->mGrabCancel).store(1);
         myDisplayFrameTimer(nullptr, x);  // the cancelled grab ends
         EXPECT_EQ(x->mGrabPending, 0);
         x->mTriggerItem = 2;
       },
       1,
       [](auto* x) {
         EXPECT_EQ(x->mGrabPending, 1);
         EXPECT_EQ(x->mGrabTimeoutOn, 0);
       }},
      {"grab done once completed", kGrabDone, [](auto* x) { x->mGrabsInFlight = 0; }, 1, nothing},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.label);
    r->mGrabControlsEnabled = 1;
    r->mRunning = 1;
    c.set(r);
    const Answer a = Send(c.event);
    EXPECT_EQ(a.sent, noErr);
    EXPECT_EQ(a.value, c.reply);
    c.check(r);
  }
  r->mRunning = 1;
  std::atomic_ref<UInt8>(r->mGrabCancel).store(1);
  Tick();
}

TEST_F(CameraAppleEvents, AReTriggeredGrabIsDoneOnceItsFirstFrameIsSaved) {
  MyCameraWindowDataStruct* r = Running();
  ASSERT_NE(r, nullptr);
  r->mTriggerItem = 2;
  r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
  ASSERT_EQ(Send(kGrabFrame).value, 1);
  EXPECT_EQ(Send(kGrabDone).value, 0);
  Deliver(90);
  for (int i = 0; i < 5 && r->mGrabsInFlight != 0; i++) Tick();
  // Saved and armed again for the next trigger pulse: done, and a new grab
  // is refused while the re-armed one waits.
  EXPECT_EQ(Send(kGrabDone).value, 1);
  EXPECT_EQ(r->mGrabPending, 1);
  EXPECT_EQ(Send(kGrabFrame).value, 0);
  std::atomic_ref<UInt8>(r->mGrabCancel).store(1);
  Tick();
}

TEST_F(CameraAppleEvents, SettingsSlotsAreAppliedOnlyInRangeWithTheMenuEnabled) {
  const std::string domain = "com.brindlemoor.SKYLOOM.CameraSettings00";
  Put(domain, "MENUNAME", "Moon");
  Put(domain, "GAIN", "30.000000");
  Put(domain, "BRIT", "40.000000");
  Put(domain, "FRAM", "5.000000");
  Put(domain, "CCDB", "4.000000");
  Put(domain, "FORT", "2.000000");
  MyCameraWindowDataStruct* r = Running();
  ASSERT_NE(r, nullptr);
  MenuRef settings = GetMenuRef(kMyCameraSettingsMenuID);
  ASSERT_NE(settings, nullptr);
  SetControl32BitValue(Control(FOUR_CHAR_CODE("GAIN")), 5);

  const SInt32 zero = 0, one = 1, twentyOne = 21;
  const struct {
    const char* label;
    const SInt32* slot;
    bool menuEnabled;
    bool recording;
  } kRefused[] = {
      {"slot 0", &zero, true, false},
      {"slot 21", &twentyOne, true, false},
      {"no slot", nullptr, true, false},
      {"menu disabled", &one, false, false},
      {"recording", &one, true, true},
  };
  for (const auto& c : kRefused) {
    SCOPED_TRACE(c.label);
    if (c.menuEnabled)
      EnableMenuItem(settings, 0);
    else
      DisableMenuItem(settings, 0);
    r->mRecording = c.recording ? 1 : 0;
    Camera().ClearLog();
    const Answer a = Send(kApplySettings, true, c.slot);
    EXPECT_EQ(a.sent, noErr);
    EXPECT_EQ(a.value, 0);
    EXPECT_TRUE(Camera().Log().empty());
    EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("GAIN"))), 5);
  }
  r->mRecording = 0;
  EnableMenuItem(settings, 0);
  const Answer a = Send(kApplySettings, true, &one);
  EXPECT_EQ(a.value, 1) << a.stderrText;
  EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("GAIN"))), 30);
}

TEST_F(CameraAppleEvents, CollectionsSetTheExposureRunTheirModeAndShowTheCalibrationBoxes) {
  MyCameraWindowDataStruct* r = Running(SimMonoPersonality());
  ASSERT_NE(r, nullptr);
  r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
  ControlRef exposure = Control(FOUR_CHAR_CODE("CCDB"));
  ControlRef useDark = Control(FOUR_CHAR_CODE("UDKF"));
  ControlRef useFlat = Control(FOUR_CHAR_CODE("UBRF"));
  ASSERT_TRUE(exposure && useDark && useFlat);

  // Busy: nothing runs and the exposure stays.
  r->mExposureRateItem = 0;
  SetControl32BitValue(exposure, 5);
  for (auto busy : {+[](MyCameraWindowDataStruct* x) { x->mRecording = 1; },
                    +[](MyCameraWindowDataStruct* x) { x->mGrabWanted = 1; },
                    +[](MyCameraWindowDataStruct* x) { x->mRunning = 0; },
                    +[](MyCameraWindowDataStruct* x) { x->mGrabControlsEnabled = 0; }}) {
    busy(r);
    for (AEEventID id : {kAverage, kFlat, kDark}) EXPECT_EQ(Send(id).value, 0);
    EXPECT_EQ(r->mExposureRateItem, 0u);
    r->mRecording = 0;
    r->mGrabWanted = 0;
    r->mRunning = 1;
    r->mGrabControlsEnabled = 1;
  }

  r->mAverageFrameCount = 2;
  Answer a = SendCollecting(kAverage, 2);
  EXPECT_EQ(a.sent, noErr);
  EXPECT_EQ(a.value, 1);
  EXPECT_EQ(r->mExposureRateItem, 9u - 5u);  // the exposure item of 'CCDB'
  EXPECT_EQ(r->mPleezWaitActive, 0);  // the run has ended when the reply comes
  EXPECT_EQ(ui::FindWindow("PleezWait"), nullptr);
  EXPECT_EQ(r->mGrabsInFlight, 0);   // the average was saved as a grab

  SetControl32BitValue(exposure, 4);
  r->mDarkFrameCount = 1;
  DisableControl(useDark);
  a = SendCollecting(kDark, 1);
  EXPECT_EQ(a.value, 1);
  EXPECT_EQ(r->mExposureRateItem, 9u - 4u);
  EXPECT_EQ(r->mDarkFrameAvailable, 1);
  EXPECT_EQ(r->mUseDarkFrame, 1);
  EXPECT_TRUE(IsControlEnabled(useDark));
  EXPECT_EQ(GetControl32BitValue(useDark), 1);

  r->mFlatFrameCount = 1;
  DisableControl(useFlat);
  a = SendCollecting(kFlat, 1);
  EXPECT_EQ(a.value, 1);
  EXPECT_EQ(r->mFlatFrameAvailable, 1);
  EXPECT_EQ(r->mUseFlatFrame, 1);
  EXPECT_TRUE(IsControlEnabled(useFlat));
  EXPECT_EQ(GetControl32BitValue(useFlat), 1);

  // The camera's close frees the calibration frames; the harness's does not.
  StopCamera();
  r->mUseDarkFrame = r->mUseFlatFrame = 0;
  r->mDarkFrameAvailable = r->mFlatFrameAvailable = 0;
  free(r->mDarkFrame);
  free(r->mFlatFrame);
  r->mDarkFrame = r->mFlatFrame = nullptr;
}

TEST_F(CameraAppleEvents, RepliesAreWrittenOnlyWhenWantedAndFailuresGoToStandardError) {
  MyCameraWindowDataStruct* r = Running();
  ASSERT_NE(r, nullptr);
  // Without a reply every handler still answers the Apple Event Manager 0.
  for (const MyCameraAppleEventEntry& e : kMyCameraAppleEvents) {
    SCOPED_TRACE(e.mEventID);
    r->mRunning = 0;  // nothing starts
    const Answer a = Send(e.mEventID, false);
    EXPECT_EQ(a.sent, noErr);
    EXPECT_EQ(a.value, -1);
  }
  r->mRunning = 1;
  // A missing slot with nobody waiting: the parameter's status is reported.
  Answer a = Send(kApplySettings, false);
  EXPECT_EQ(a.sent, noErr);
  EXPECT_EQ(a.stderrText, "ERR myAEApplyCameraSettings -1701 0xFFFFF95B\n");
  // With a reply the answer is written and nothing is reported.
  a = Send(kApplySettings, true);
  EXPECT_EQ(a.value, 0);
  EXPECT_EQ(a.stderrText, "");
  // A grab whose file cannot be named: the naming status.
  r->mSaveFileType = FOUR_CHAR_CODE("????");
  {
    ui::ScriptedUser user;
    user.AnswerAlert();  // the naming failure's alert
    a = Send(kGrabFrame, false);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(a.sent, noErr);
  EXPECT_EQ(a.stderrText, "ERR myAEGrabFrame -50 0xFFFFFFCE\n");
  EXPECT_EQ(r->mGrabPending, 0);
}

TEST_F(CameraAppleEvents, WithoutACameraWindowEveryEventRepliesFalse) {
  Rig({SimUSBPersonality()});
  EXPECT_EQ(myFindCameraControlWindowDataPtr(), nullptr);
  ASSERT_EQ(myInstallCameraAppleEventHandlers(), noErr);
  const SInt32 one = 1;
  for (const MyCameraAppleEventEntry& e : kMyCameraAppleEvents) {
    SCOPED_TRACE(e.mEventID);
    const Answer a = Send(e.mEventID, true, &one);
    EXPECT_EQ(a.sent, noErr);
    EXPECT_EQ(a.value, 0);
  }
  EXPECT_EQ(myRemoveCameraAppleEventHandlers(), noErr);
  EXPECT_EQ(myRemoveCameraAppleEventHandlers(), errAEHandlerNotFound);
}

TEST_F(CameraAppleEvents, TheRecordIsFoundBehindWindowsOfOtherKinds) {
  MyCameraWindowDataStruct* r = Open(SimUSBPersonality());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(myFindCameraControlWindowDataPtr(), r);
  // An image window's record (kind 0xAD) and a window without one, in front.
  UInt32 imageRecord[4] = {0xAD, 1, 1, 1};
  WindowRef image = MakeWindow("ORX_DCAM", "AboutBox");
  WindowRef plain = MakeWindow("ORX_DCAM", "AboutBox");
  ASSERT_TRUE(image && plain);
  SetWRefCon(image, SRefCon(imageRecord));
  ShowWindow(image);
  ShowWindow(plain);
  SelectWindow(image);
  SelectWindow(plain);
  ASSERT_EQ(FrontWindow(), plain);
  ASSERT_EQ(GetNextWindow(plain), image);
  EXPECT_EQ(myFindCameraControlWindowDataPtr(), r);
  // Hidden camera windows are still found behind them.
  HideWindow(r->mControlWindow);
  EXPECT_EQ(myFindCameraControlWindowDataPtr(), r);
  DisposeWindow(image);
  DisposeWindow(plain);
}

}  // namespace
