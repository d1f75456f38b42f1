// Calibration on a deterministic rig: the LX200 mount on the simulated serial
// line takes the pulses, and the test hands each averaged position from a
// model of the mount that moves exactly as the pulses asked, as the centroid
// step would. The clocks run fast under the test time scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/Calibration.h"
#include "guiding/Guiding.h"
#include "guiding/ScopeControl.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "utilities/Alerts.h"
#include "tests/guiding/MountFixture.h"

namespace {

constexpr double kScale = 100.0;

struct Pulse {
  UInt32 command;
  double ms;
  bool operator==(const Pulse&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Pulse& p) { return os << "(" << p.command << ", " << p.ms << ")"; }

// The mount as the rig models it: pixels per ms by command (0 east, 1 west,
// 2 south, 3 north) and the RA axis's angle, counter-clockwise with y up.
struct MountModel {
  double west = 0.01, east = 0.01, north = 0.008, south = 0.008;
  double angleDegrees = 0.0;
};

class CalibrationTest : public SerialMountTest {
 protected:
  void SetUp() override {
    SerialMountTest::SetUp();
    if (HasFatalFailure()) return;
    port_->SetProtocol(SimMountProtocol::LX200);
    SkyloomSetTimeScale(kScale);
    record_ = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
    MyCameraWindowDataStruct& r = *record_;
    r.mScopeControlActive = 1;
    r.mMountCntlDeviceKind = kMountCntlLX200;
    r.mpMountCntlDevicePtr = device_;
    r.mpMCBSPtr = &block_;
    r.mWidth = 640;
    r.mHeight = 480;
    r.mMinRAMotionPixels = 30;
    r.mMinDecMotionPixels = 10;
    r.mDecCalibrationMode = 2;
    r.mCalibratedDeclination = 0.0f;
    r.mEliminateHotPixels = 1;
    block_.mKind = kMCBSKind;
    block_.mCameraRecord = record_;
    block_.mMountDevice = device_;
    block_.mCalibrationMoveMs = 2000.0;
    block_.mWindow = MakeWindow("ORX_DCAM", "LXControls");
    logPath_ = dir_ + "/guide log.txt";
    r.mpGuideLogFile = fopen(logPath_.c_str(), "w");
    ASSERT_NE(r.mpGuideLogFile, nullptr);
    r.mGuideLogOpen = 1;
    gRig = this;
    gMountTestPausePoint = &OnPause;
  }
  void TearDown() override {
    if (record_) {
      for (int i = 0; i < 2000 && std::atomic_ref<SInt32>(device_->mPulseThreadRunning).load() != 0; i++)
        SkyloomSleepMicroseconds(5000);
      if (block_.mCalibrationTimer) RemoveEventLoopTimer(block_.mCalibrationTimer);
      gMountTestPausePoint = nullptr;
      if (record_->mpGuideLogFile) fclose(record_->mpGuideLogFile);
      if (block_.mWindow) DisposeWindow(block_.mWindow);
      free(record_);
    }
    gRig = nullptr;
    SkyloomSetTimeScale(1.0);
    SerialMountTest::TearDown();
  }

  static void OnPause(int where) {
    if (where != kMountPausePulseBeforeCounters || !gRig) return;
    gRig->Moved(gRig->device_->mFirstPulseCommand, gRig->device_->mFirstPulseDuration);
  }
  void Moved(UInt32 command, double ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    pulses_.push_back({command, ms});
    double ra = 0.0, dec = 0.0;
    switch (command) {
      case kMountRAEast: ra = -model_.east * ms; break;
      case kMountRAWest: ra = model_.west * ms; break;
      case kMountDecSouth: dec = model_.south * ms; break;
      case kMountDecNorth: dec = -model_.north * ms; break;
      default: break;
    }
    const double a = model_.angleDegrees * 3.14159265358979323846 / 180.0;
    x_ += ra * std::cos(a) + dec * std::sin(a);
    y_ += -ra * std::sin(a) + dec * std::cos(a);
  }

  static void Tick(EventLoopTimerRef timer, void* record) {
    myCalibrateCameraTimedProc(timer, record);
    const SInt32 stage = gRig->block_.mCalibrationStage;
    if (gRig->stages_.empty() || gRig->stages_.back() != stage) gRig->stages_.push_back(stage);
  }

  // Starts calibration as the guiding window's button does.
  void Start() {
    MyCameraWindowDataStruct& r = *record_;
    r.mStartX = r.mStartY = r.mCurrentX = r.mCurrentY = -1.0f;
    r.mTrackingPhase = 0;
    r.mGuidingOn = 0;
    block_.mCalibrationStage = 0;
    ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0.0, 1.0, &Tick, record_, &block_.mCalibrationTimer), noErr);
    block_.mCalibrationTimerUPP = &Tick;
    r.mGuidingActive = 1;
    IncrementAtomic(&block_.mCalibrating);
  }

  // Runs the event loop until calibration has removed itself (or `until`
  // says stop), handing over a position whenever one is awaited.
  void Run(bool frames = true, std::function<bool()> until = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    while (std::atomic_ref<SInt32>(block_.mCalibrating).load() != 0) {
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(120)) {
        ADD_FAILURE() << "calibration did not end; stages so far " << testing::PrintToString(stages_);
        myRemoveCalibrationTimedProc(record_);
        return;
      }
      RunCurrentEventLoop(0.001);
      if (until && until()) return;
      if (frames && std::atomic_ref<SInt32>(block_.mCalibrating).load() != 0) Hand();
    }
  }
  void Hand() {
    MyCameraWindowDataStruct& r = *record_;
    std::atomic_ref<SInt32> phase(r.mTrackingPhase);
    if (std::atomic_ref<SInt32>(r.mPulsesPending).load() != 0 || phase.load() == -1) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::atomic_ref<float>(r.mStartX).store(float(x_));
    std::atomic_ref<float>(r.mStartY).store(float(y_));
    phase.store(-1, std::memory_order_release);
  }
  std::vector<Pulse> Pulses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pulses_;
  }
  // The log's lines, each ended by "\r" or "\n" (the ending kept).
  std::vector<std::string> LogLines() {
    fflush(record_->mpGuideLogFile);
    std::ifstream in(logPath_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
      line += c;
      if (c == '\r' || c == '\n') lines.push_back(line), line.clear();
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  }
  // The last command the mount took, once its line has gone quiet (the
  // simulator reads the line on its own thread).
  std::string LastCommand() {
    size_t seen = 0;
    for (int i = 0; i < 400; i++) {
      SkyloomSleepMicroseconds(5000 * UInt64(kScale));  // 5 ms of real time
      auto commands = CommandTexts();
      if (!commands.empty() && commands.size() == seen) return commands.back();
      seen = commands.size();
    }
    return "";
  }
  ControlRef Control(const char* s) {
    const OSType signature = OSType(UInt8(s[0])) << 24 | OSType(UInt8(s[1])) << 16 | OSType(UInt8(s[2])) << 8 | UInt8(s[3]);
    return skyloom::ui::FindControl(block_.mWindow, signature, 0);
  }

  static inline CalibrationTest* gRig = nullptr;
  MyCameraWindowDataStruct* record_ = nullptr;
  MCBS block_{};
  std::string logPath_;
  std::mutex mutex_;
  MountModel model_;
  double x_ = 320.0, y_ = 240.0;
  std::vector<Pulse> pulses_;
  std::vector<SInt32> stages_;
};

TEST_F(CalibrationTest, DefaultRigStagesRatesAndLog) {
  Start();
  Run();
  const MyCameraWindowDataStruct& r = *record_;
  EXPECT_EQ(stages_, (std::vector<SInt32>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 21, 22, 23, 24, 25, 50}));
  // Stage 2 grows both RA moves once; two slack moves of half the Dec move;
  // the Dec move grows once in stage 23; the down move first takes up the
  // slack with 1.5 times the move.
  EXPECT_EQ(Pulses(), (std::vector<Pulse>{{8, 900},  {1, 2000}, {1, 3000}, {0, 3000}, {1, 3000}, {0, 3000},
                                           {1, 3000}, {0, 3000}, {1, 3000}, {0, 3000}, {1, 3000}, {8, 900},
                                           {3, 500},  {3, 500},  {3, 1000}, {3, 1500}, {2, 2250}, {2, 1500}}));
  EXPECT_DOUBLE_EQ(block_.mCalibrationMoveMsB, 3000.0);
  EXPECT_NEAR(r.mPixelPerMillSecXRight, 0.01, 1e-9);
  EXPECT_NEAR(r.mPixelPerMillSecXLeft, 0.01, 1e-9);
  EXPECT_EQ(r.Orientation, 1u);
  EXPECT_EQ(r.MSlopeFloat, 0.0f);
  EXPECT_EQ(r.B_YinterceptFloat, 0.0f);
  EXPECT_EQ(r.mPosAZMIsPositive, 1);
  EXPECT_DOUBLE_EQ(block_.mCalibrationMoveMsA, 1500.0);
  EXPECT_NEAR(r.mPixelPerMillSecYUp, 0.008, 1e-9);
  EXPECT_NEAR(r.mPixelPerMillSecYDown, 0.008, 1e-9);
  EXPECT_EQ(r.mPosALTIsPositive, 1);
  EXPECT_EQ(r.mCorrectRA, 1);
  EXPECT_EQ(r.mCorrectDec, 1);
  EXPECT_EQ(r.mGuidingOn, 1);
  EXPECT_EQ(r.mGuidingActive, 0);
  EXPECT_EQ(r.mStartX, -1.0f);
  EXPECT_EQ(block_.mCalibrationTimer, nullptr);
  EXPECT_EQ(block_.mCalibrating, 0);

  const std::vector<std::string> golden = {
      "CalibX0: Starting RA Calibration..\r",
      "---------------- Starting Calibration----------\r",
      "Starting Move Duration: 2.0 \r",
      "Minimum RA Pixel Motion: 30.0\r",
      "Minimum Dec Pixel Motion: 10.0\r",
      "Declination  of Objec: 0.00\r",
      "CalibX1: X 320.00, Y 240.00\r",
      "CalibX2: X 340.00, Y 240.00\r",
      "Not enough horz motion - increasing time to 3.000\r",
      "CalibX2: X 370.00, Y 240.00\r",
      "CalibX3: X 340.00, Y 240.00\r",
      "CalibX4: R Dist 30.00 X1: 370.00 Y1: 240.00\r",
      "CalibX5: L Dist 30.00 X2: 340.00 Y2: 240.00\r",
      "CalibX6: R Dist 30.00 X1: 370.00 Y1: 240.00\r",
      "CalibX7: L Dist 30.00 X2: 340.00 Y2: 240.00\r",
      "CalibX8: R Dist 30.00 X1: 370.00 Y1 240.00\r",
      "CalibX9: L Dist 30.00 X2: 340.00 Y2: 240.00\r",
      "mPixelPerMillSecXRight = 0.01000\r",
      "mPixelPerMillSecXLeft = 0.01000\r",
      "mPosAZMIsPositive =  1\r",
      "Left Move Time Duration: 3.000\r",
      "Right Move Time Duration: 3.000\r",
      "Starting Dec Move Time Duration: 1.000\r",
      "CalibY0: Removing Dec Up Slack X0: 370.00 Y0: 240.00\r",
      "CalibY0: Removing Dec Up Slack Again X1: 370.00 Y1: 236.00\r",
      "CalibY1: Starting Dec Up Calibration X0: 370.00 Y0: 232.00\r",
      "No Motion detected for Dec Motor increasing Up time 1.500\r",
      "CalibY2: Up Distance 12.00 X1: 370.00 Y1: 212.00\r",
      "CalibY3: Removing Dec Down Slack X0: 370.00 Y0: 230.00\r",
      "CalibY4: Down Distance 12.00 X1: 370.00 Y1: 242.00\r",
      "mPixelPerMillSecYUp 0.008000\r",
      "mPixelPerMillSecYDown 0.008000\r",
      "Final Move Time Duration: 1.500\r",
      "mPosALTIsPositive 1\r",
      "---------------- Calibration Completed----------\r",
  };
  EXPECT_EQ(LogLines(), golden);
  // The last thing the mount heard is the stop of everything.
  EXPECT_EQ(LastCommand(), "#:Q#");
}

TEST_F(CalibrationTest, Variants) {
  // Each case runs on a fresh mount position.
  struct Case {
    const char* name;
    double angle;
    UInt32 decMode;
    UInt32 orientation;
    float slope;
    UInt8 correctDec;
    bool decStages;
  } cases[] = {
      {"RA axis turned 30 degrees", 30.0, 2, 0, 0.5774f, 1, true},
      {"RA axis turned 30 degrees, Dec off", 30.0, 1, 0, 0.5774f, 0, false},
      {"RA along Y", 90.0, 2, 2, 0.0f, 1, true},
      {"Dec mode 1", 0.0, 1, 1, 0.0f, 0, false},
      {"Dec mode 3, up only", 0.0, 3, 1, 0.0f, 1, true},
      {"Dec mode 4, down only", 0.0, 4, 1, 0.0f, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model_.angleDegrees = c.angle;
    x_ = 320.0, y_ = 240.0;
    pulses_.clear();
    stages_.clear();
    record_->mDecCalibrationMode = c.decMode;
    record_->mCorrectDec = 0;
    record_->mPixelPerMillSecYUp = record_->mPixelPerMillSecYDown = 0.0;
    Start();
    Run();
    EXPECT_EQ(record_->Orientation, c.orientation);
    EXPECT_NEAR(record_->MSlopeFloat, c.slope, 1e-4);
    EXPECT_NEAR(record_->mPixelPerMillSecXRight, 0.01, 1e-6);
    EXPECT_NEAR(record_->mPixelPerMillSecXLeft, 0.01, 1e-6);
    EXPECT_EQ(record_->mPosAZMIsPositive, c.angle == 90.0 ? 0 : 1);  // west is -y along Y
    EXPECT_EQ(record_->mCorrectDec, c.correctDec);
    EXPECT_EQ(record_->mGuidingOn, 1);
    const bool sawDec = std::find(stages_.begin(), stages_.end(), 20) != stages_.end();
    EXPECT_EQ(sawDec, c.decStages);
    if (c.decMode == 3) {
      EXPECT_NEAR(record_->mPixelPerMillSecYUp, 0.008, 1e-6);
      EXPECT_EQ(record_->mPixelPerMillSecYDown, 0.0);
      EXPECT_EQ(record_->mPosALTIsPositive, 1);
    }
    if (c.decMode == 4) {
      EXPECT_EQ(record_->mPixelPerMillSecYUp, 0.0);
      EXPECT_NEAR(record_->mPixelPerMillSecYDown, 0.008, 1e-6);
      EXPECT_EQ(record_->mPosALTIsPositive, 1);
    }
    if (c.orientation == 0 && !c.decStages) {
      // The line passes through the position after the last west move.
      const float* p0 = block_.mCalibrationPositions[0];
      EXPECT_NEAR(record_->B_YinterceptFloat, -(p0[0] * record_->MSlopeFloat + p0[1]), 1e-3);
    }
  }
}

TEST_F(CalibrationTest, ShortMovesGrowUntilEnough) {
  // 3 px for a 2000 ms move, 5 px needed: one growth to 3000 ms (4.5 px more).
  model_.west = model_.east = 0.0015;
  record_->mMinRAMotionPixels = 5;
  record_->mDecCalibrationMode = 1;
  Start();
  Run();
  auto pulses = Pulses();
  ASSERT_GE(pulses.size(), 4u);
  EXPECT_EQ(std::vector<Pulse>(pulses.begin(), pulses.begin() + 4),
            (std::vector<Pulse>{{8, 900}, {1, 2000}, {1, 3000}, {0, 3000}}));
  EXPECT_NEAR(record_->mPixelPerMillSecXRight, 0.0015, 1e-9);
}

TEST_F(CalibrationTest, DecMoveIsCappedWithTheCosineAtLeastOneHundredth) {
  // A Dec move of 2000 x 300 / 20 ms would cross a frame 8 pixels high; at
  // declination 90 the cap is (2 / 0.01) x 0.01 = 2 ms, so the first slack
  // move is 1 ms.
  record_->mHeight = 8;
  record_->mMinRAMotionPixels = 20;
  record_->mMinDecMotionPixels = 300;
  record_->mCalibratedDeclination = 90.0f;
  Start();
  Run(true, [&] { return std::atomic_ref<SInt32>(block_.mCalibrationStage).load() == 22; });
  myRemoveCalibrationTimedProc(record_);
  auto pulses = Pulses();
  auto pause = std::find(pulses.rbegin(), pulses.rend(), Pulse{8, 900});
  ASSERT_NE(pause, pulses.rend());
  ASSERT_NE(pause, pulses.rbegin());
  const Pulse slack = *(pause - 1);
  EXPECT_EQ(slack.command, 3u);
  EXPECT_NEAR(slack.ms, 1.0, 1e-9);
}

TEST_F(CalibrationTest, RemovalWhileAPulseRunsEndsItThenStopsTheMount) {
  Start();
  Run(true, [&] { return std::atomic_ref<SInt32>(device_->mPulseThreadRunning).load() != 0; });
  myRemoveCalibrationTimedProc(record_);
  EXPECT_EQ(std::atomic_ref<SInt32>(device_->mPulseThreadRunning).load(), 0);
  EXPECT_EQ(std::atomic_ref<SInt32>(record_->mPulsesPending).load(), 0);
  EXPECT_EQ(block_.mCalibrationTimer, nullptr);
  EXPECT_EQ(block_.mCalibrating, 0);
  EXPECT_EQ(record_->mGuidingActive, 0);
  EXPECT_EQ(LastCommand(), "#:Q#");
}

TEST_F(CalibrationTest, NoFramesFailsAfterSixtyFourTicks) {
  skyloom::ui::ScriptedUser user;
  user.AnswerAlert();
  const long beeps = SkyloomBeepCount();
  Start();
  Run(false);
  EXPECT_GE(SkyloomBeepCount(), beeps + 1);
  EXPECT_EQ(block_.mCalibrationError, kCalibrationNoMotion);
  const char* message =
      "No motion detected. Serial Port or GPUSB is disconected from scope or motors may not be operational.\n";
  const auto& alerts = skyloom::ui::Alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "OSX Err");
  EXPECT_EQ(alerts[0].message, message);
  auto lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], message);
  EXPECT_EQ(lines.back(), "\r");
  EXPECT_EQ(block_.mCalibrationTimer, nullptr);
  EXPECT_EQ(block_.mCalibrating, 0);
  EXPECT_EQ(record_->mGuidingOn, 0);
  EXPECT_EQ(stages_.back(), -1);  // waited in stage 1
  EXPECT_EQ(LastCommand(), "#:Q#");
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(CalibrationTest, APulseThatCannotStartFailsInItsStage) {
  // A pulse still running: the next one cannot start (-50).
  std::atomic_ref<SInt32>(device_->mPulseThreadRunning).store(1);
  skyloom::ui::ScriptedUser user;
  user.Do([&] { std::atomic_ref<SInt32>(device_->mPulseThreadRunning).store(0); }).AnswerAlert();
  Start();
  Run();
  EXPECT_EQ(block_.mCalibrationError, -50);
  EXPECT_EQ(stages_, (std::vector<SInt32>{-1}));
  const char* message = "myCalibrateCameraTimedProc Failed in Stage 1 err = 0xFFFFFFCE -50\n";
  const auto& alerts = skyloom::ui::Alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "OSX Err");
  EXPECT_EQ(alerts[0].message, message);
  auto lines = LogLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], message);
  EXPECT_EQ(block_.mCalibrationTimer, nullptr);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(CalibrationTest, RemovalRestoresTheWindow) {
  WindowRef w = block_.mWindow;
  const char* controls[] = {"TRAK", "RAFS", "SOLU", "SKIP", "TURB", "EEHP", "MOBJ", "SPED", "UPPP", "DOWN",
                            "LEFT", "RIGT", "STOP", "CALI", "ACCU", "CADE", "CAMT", "RAPX", "DEPX", "not!", "TKDE"};
  struct Case {
    const char* name;
    UInt8 lunar, multiple, turbulence, hot;
    UInt8 guidingOn;
  } cases[] = {
      {"plain options, calibrated", 0, 0, 1, 0, 1},
      {"lunar tracking, not calibrated", 1, 0, 1, 1, 0},
      {"several objects", 0, 1, 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MyCameraWindowDataStruct& r = *record_;
    for (const char* s : controls) DisableControl(Control(s));
    mySetControlTitleByKeyString(w, FOUR_CHAR_CODE("CALI"), 0, "STOPCALIBRATION");
    r.mLunarSolarTracking = c.lunar;
    r.mMultipleObjects = c.multiple;
    r.mTurbulenceLimit = c.turbulence;
    r.mEliminateHotPixels = c.hot;
    r.mSkipLargeChanges = 1;
    r.mFullFrameSearch = 0;
    r.mGuidingOn = c.guidingOn;
    r.mCorrectDec = 1;
    r.mDecCalibrationMode = 3;
    r.mGuidingActive = 1;
    block_.mCalibrating = 1;
    myRemoveCalibrationTimedProc(record_);
    EXPECT_EQ(block_.mCalibrating, 0);
    EXPECT_EQ(r.mGuidingActive, 0);
    // Lowered never below 0.
    myRemoveCalibrationTimedProc(record_);
    EXPECT_EQ(block_.mCalibrating, 0);
    EXPECT_EQ(skyloom::ui::ControlTitle(Control("CALI")), "STARTCALIBRATION");  // no strings table here
    EXPECT_EQ(bool(IsControlEnabled(Control("TRAK"))), c.guidingOn == 1);
    for (const char* s : {"RAFS", "SOLU", "SKIP", "MOBJ", "SPED", "UPPP", "DOWN", "LEFT", "RIGT", "STOP", "CALI",
                          "ACCU", "CADE", "CAMT", "RAPX", "DEPX", "not!", "TKDE"})
      EXPECT_TRUE(IsControlEnabled(Control(s))) << s;
    EXPECT_EQ(GetControl32BitValue(Control("SOLU")), c.lunar);
    EXPECT_EQ(GetControl32BitValue(Control("SKIP")), 1);
    EXPECT_EQ(GetControl32BitValue(Control("MOBJ")), c.multiple);
    const bool options = c.lunar == 0 && c.multiple == 0;
    EXPECT_EQ(bool(IsControlEnabled(Control("TURB"))), options);
    EXPECT_EQ(bool(IsControlEnabled(Control("EEHP"))), options);
    EXPECT_EQ(GetControl32BitValue(Control("TURB")), options ? c.turbulence : 0);
    EXPECT_EQ(GetControl32BitValue(Control("EEHP")), options ? c.hot : 0);
    EXPECT_EQ(r.mFullFrameSearch, options ? 0 : 1);
    EXPECT_EQ(r.mTurbulenceLimit, options ? c.turbulence : 0);
    EXPECT_EQ(r.mEliminateHotPixels, options ? c.hot : 0);
    // The Dec pop-up follows the calibration: up only when calibrated.
    EXPECT_EQ(GetControl32BitValue(Control("TKDE")), c.guidingOn ? 3 : 1);
  }
  // The rate pop-up is for the LX200 kind only.
  record_->mMountCntlDeviceKind = kMountCntlNexStar;
  myRemoveCalibrationTimedProc(record_);
  EXPECT_FALSE(IsControlEnabled(Control("SPED")));
  record_->mMountCntlDeviceKind = kMountCntlLX200;
}

}  // namespace
