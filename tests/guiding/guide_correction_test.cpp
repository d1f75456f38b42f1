// The guide correction step: the first position of a run and the guiding-log
// header, axis errors by orientation, the dead band, the large-change clamp,
// the Dec modes, the correction orders, the drift histories, and the pulses
// that reach the simulated LX200 mount.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/GuideStar.h"
#include "guiding/Guiding.h"
#include "guiding/ScopeControl.h"
#include "tests/guiding/MountFixture.h"
#include "tests/support/TestClock.h"

namespace {

const std::string kStamp = "20260307_040506";  // TestClock's start, UTC

// The settings of the correction examples: orientation 1, accuracy 0.5,
// RA first, Dec both ways, 8 ms shortest pulse, rates 0.01 (RA) and 0.008
// (Dec) px/ms, direction flags 1, start (100, 100).
void ExampleSettings(MyCameraWindowDataStruct& r) {
  r.mKind = kMyCameraWindowDataKind;
  r.mScopeControlActive = 1;
  r.mGuidingOn = 1;
  r.Orientation = 1;
  r.mTrackAccuracy = 0.5f;
  r.mCorrectionOrder = 1;
  r.mDecTrackingMode = 2;
  r.mMinPulseMs = 8.0;
  r.mRADurationFactor = 1.0f;
  r.mPixelPerMillSecXLeft = r.mPixelPerMillSecXRight = 0.01;
  r.mPixelPerMillSecYUp = r.mPixelPerMillSecYDown = 0.008;
  r.mPosAZMIsPositive = 1;
  r.mPosALTIsPositive = 1;
  r.mCorrectRA = 1;
  r.mCorrectDec = 1;
  r.mStartX = r.mCurrentX = 100.0f;
  r.mStartY = r.mCurrentY = 100.0f;
  r.mTrackingPhase = -1;
}

std::string ReadAll(FILE* f) {
  fflush(f);
  std::string out;
  rewind(f);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  fseek(f, 0, SEEK_END);
  return out;
}

// Without a mount: pulse starts fail (-50) after the axis has written its
// text, which is all these cases look at.
class CorrectionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = std::make_unique<MyCameraWindowDataStruct>();
    block_ = std::make_unique<MCBS>();
    block_->mKind = kMCBSKind;
    block_->mHistoryStart = kMCBSHistoryLength;
    ExampleSettings(*record_);
    record_->mpMCBSPtr = block_.get();
    log_ = tmpfile();
    ASSERT_NE(log_, nullptr);
    record_->mGuideLogOpen = 1;
    record_->mpGuideLogFile = log_;
  }
  void TearDown() override { fclose(log_); }
  // The log line of one correction, "\r" included; "" when none was written.
  std::string Correct(double x, double y) {
    const size_t before = ReadAll(log_).size();
    myMountCntlDeviceChangePosition(record_.get(), x, y);
    return ReadAll(log_).substr(before);
  }
  static std::string Line(const std::string& axes, const std::string& pulses) {
    return "Time:\t" + kStamp + "\tCur X Y:\t" + axes + " \t" + pulses + "\r";
  }
  TestClock clock_;
  std::unique_ptr<MyCameraWindowDataStruct> record_;
  std::unique_ptr<MCBS> block_;
  FILE* log_ = nullptr;
};

TEST_F(CorrectionLogTest, ErrorsInsideTheDeadBandSendAndWriteNothing) {
  EXPECT_EQ(Correct(99.7, 100.4), "");  // RA 0.3, Dec -0.4
  EXPECT_EQ(record_->mTrackingPhase, 0);
  EXPECT_FLOAT_EQ(record_->mCurrentX, 99.7f);
  EXPECT_FLOAT_EQ(record_->mCurrentY, 100.4f);
}

TEST_F(CorrectionLogTest, TheAxisTextsOfEachOrderAndMode) {
  MyCameraWindowDataStruct& r = *record_;
  struct Case {
    const char* what;
    UInt32 order, decMode;
    UInt8 correctRA, correctDec, skipLarge;
    float accuracy, factor;
    double minMs;
    double x, y;
    const char* axes;
    const char* pulses;
  } cases[] = {
      {"RA east", 1, 2, 1, 0, 0, 0.5f, 1.0f, 8.0, 102.5, 99.0, " 102.50  \t 99.00 \t Axis X Y:\t -2.50 \t  1.00", "\t RALeft: 250.00 ms "},
      {"RA west", 1, 2, 1, 0, 0, 0.5f, 1.0f, 8.0, 98.0, 100.0, " 98.00  \t 100.00 \t Axis X Y:\t  2.00 \t  0.00", "\t RARight: 200.00 ms "},
      {"RA with the declination factor", 1, 2, 1, 0, 0, 0.5f, 2.0f, 8.0, 102.5, 100.0,
       " 102.50  \t 100.00 \t Axis X Y:\t -2.50 \t  0.00", "\t RALeft: 500.00 ms "},
      {"skip large: -25 px is taken as -10", 1, 2, 1, 0, 1, 1.0f, 1.0f, 8.0, 125.0, 100.0,
       " 125.00  \t 100.00 \t Axis X Y:\t -25.00 \t  0.00", "\t RALeft: 1000.00 ms "},
      {"skip large: +25 px as +10", 1, 2, 1, 0, 1, 1.0f, 1.0f, 8.0, 75.0, 100.0,
       " 75.00  \t 100.00 \t Axis X Y:\t 25.00 \t  0.00", "\t RARight: 1000.00 ms "},
      {"Dec down", 0, 2, 0, 1, 0, 0.5f, 1.0f, 8.0, 100.0, 99.0, " 100.00  \t 99.00 \t Axis X Y:\t  0.00 \t  1.00", "\t DecDown: 125.00 ms "},
      {"Dec up", 0, 2, 0, 1, 0, 0.5f, 1.0f, 8.0, 100.0, 101.0, " 100.00  \t 101.00 \t Axis X Y:\t  0.00 \t -1.00", " \tDecUp:t 125.00 ms "},
      {"Dec up only: down is never corrected", 0, 3, 0, 1, 0, 0.5f, 1.0f, 8.0, 100.0, 98.0,
       " 100.00  \t 98.00 \t Axis X Y:\t  0.00 \t  2.00", ""},
      {"Dec up only, both axes: only RA", 3, 3, 1, 1, 0, 0.5f, 1.0f, 8.0, 102.5, 98.0,
       " 102.50  \t 98.00 \t Axis X Y:\t -2.50 \t  2.00", "\t RALeft: 250.00 ms "},
      {"Dec down only: up is never corrected", 0, 4, 0, 1, 0, 0.5f, 1.0f, 8.0, 100.0, 102.0,
       " 100.00  \t 102.00 \t Axis X Y:\t  0.00 \t -2.00", ""},
      {"Dec off", 0, 1, 0, 1, 0, 0.5f, 1.0f, 8.0, 100.0, 98.0, " 100.00  \t 98.00 \t Axis X Y:\t  0.00 \t  2.00", ""},
      {"RA too short for the mount: Dec is tried", 1, 2, 1, 1, 0, 0.5f, 1.0f, 100.0, 99.4, 99.0,
       " 99.40  \t 99.00 \t Axis X Y:\t  0.60 \t  1.00", "\t DecDown: 125.00 ms "},
      {"both axes", 3, 2, 1, 1, 0, 0.5f, 1.0f, 8.0, 102.5, 99.0, " 102.50  \t 99.00 \t Axis X Y:\t -2.50 \t  1.00",
       "\t RALeft: 250.00 ms \t DecDown: 125.00 ms "},
      {"both axes, Dec up", 3, 2, 1, 1, 0, 0.5f, 1.0f, 8.0, 98.0, 101.0, " 98.00  \t 101.00 \t Axis X Y:\t  2.00 \t -1.00",
       "\t RARight: 200.00 ms \t DecUp: 125.00 ms "},
      // The declination factor lengthens RA after the shortest-pulse test, as
      // for one axis: 250 ms passes a 200 ms minimum and becomes 500 ms ...
      {"both axes with the declination factor", 3, 2, 1, 1, 0, 0.5f, 2.0f, 200.0, 102.5, 98.0,
       " 102.50  \t 98.00 \t Axis X Y:\t -2.50 \t  2.00", "\t RALeft: 500.00 ms \t DecDown: 250.00 ms "},
      // ... while 150 ms stays below it even though 300 ms would not.
      {"both axes, RA below the minimum before the factor", 3, 2, 1, 1, 0, 0.5f, 2.0f, 200.0, 101.5, 98.0,
       " 101.50  \t 98.00 \t Axis X Y:\t -1.50 \t  2.00", "\t DecDown: 250.00 ms "},
      // With no mount every start fails, so the second axis is tried too:
      // the order of the texts is the order of the tries.
      {"largest first: RA", 2, 2, 1, 1, 0, 0.5f, 1.0f, 8.0, 98.0, 101.0, " 98.00  \t 101.00 \t Axis X Y:\t  2.00 \t -1.00",
       "\t RARight: 200.00 ms  \tDecUp:t 125.00 ms "},
      {"largest first: Dec", 2, 2, 1, 1, 0, 0.5f, 1.0f, 8.0, 99.0, 98.0, " 99.00  \t 98.00 \t Axis X Y:\t  1.00 \t  2.00",
       "\t DecDown: 250.00 ms \t RARight: 100.00 ms "},
      {"equal errors: RA first", 2, 2, 1, 1, 0, 0.5f, 1.0f, 8.0, 99.0, 99.0, " 99.00  \t 99.00 \t Axis X Y:\t  1.00 \t  1.00",
       "\t RARight: 100.00 ms \t DecDown: 125.00 ms "},
      {"Dec first", 0, 2, 1, 1, 0, 0.5f, 1.0f, 8.0, 98.0, 101.0, " 98.00  \t 101.00 \t Axis X Y:\t  2.00 \t -1.00",
       " \tDecUp:t 125.00 ms \t RARight: 200.00 ms "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    r.mCorrectionOrder = c.order;
    r.mDecTrackingMode = c.decMode;
    r.mCorrectRA = c.correctRA;
    r.mCorrectDec = c.correctDec;
    r.mSkipLargeChanges = c.skipLarge;
    r.mTrackAccuracy = c.accuracy;
    r.mRADurationFactor = c.factor;
    r.mMinPulseMs = c.minMs;
    EXPECT_EQ(Correct(c.x, c.y), Line(c.axes, c.pulses));
    EXPECT_EQ(r.mTrackingPhase, 0);
  }
}

TEST_F(CorrectionLogTest, OnTheCalibratedLineErrorsAreSignedProjections) {
  // The RA line y' = x + B (M = 1) in a frame with y' = -Y. A drift along
  // the line is all RA, one across it all Dec, with the signs calibration
  // gave them; a mixed drift gets the RA sign of its part along the line.
  MyCameraWindowDataStruct& r = *record_;
  r.Orientation = 0;
  r.MSlopeFloat = 1.0f;
  r.mCorrectDec = 0;
  struct {
    double x, y;
    const char* axes;
    const char* pulses;
  } cases[] = {
      {101.0, 99.0, " 101.00  \t 99.00 \t Axis X Y:\t -1.41 \t  0.00", "\t RALeft: 141.42 ms "},
      {99.0, 101.0, " 99.00  \t 101.00 \t Axis X Y:\t  1.41 \t  0.00", "\t RARight: 141.42 ms "},
      {99.0, 99.0, " 99.00  \t 99.00 \t Axis X Y:\t  0.00 \t  1.41", ""},
      {101.0, 101.0, " 101.00  \t 101.00 \t Axis X Y:\t  0.00 \t -1.41", ""},
      // One pixel right, two down: against the line's direction, so RA
      // west (the x difference alone would say east), and 2.12 px below.
      {101.0, 102.0, " 101.00  \t 102.00 \t Axis X Y:\t  0.71 \t -2.12", "\t RARight: 70.71 ms "},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.axes);
    EXPECT_EQ(Correct(c.x, c.y), Line(c.axes, c.pulses));
  }
}

TEST_F(CorrectionLogTest, DriftHistoriesAndTheirCountdown) {
  MyCameraWindowDataStruct& r = *record_;
  r.mCorrectRA = r.mCorrectDec = 0;
  block_->mHistoryStart = 2;
  block_->mRAHistory[kMCBSHistoryLength - 1] = 9;
  const struct {
    double x, y;
    SInt8 ra, dec;
  } moves[] = {
      {102.5, 99.0, 12, 5},    // 5 units a pixel, truncated; Dec grows upwards
      {107.0, 93.0, 25, 25},   // 7 px: the clamp
      {99.5, 100.5, -2, -2},   // -0.5 px: -2.5 truncates to -2
      {80.0, 130.0, -25, -25},
  };
  for (auto& m : moves) Correct(m.x, m.y);
  const size_t n = std::size(moves);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_EQ(block_->mRAHistory[kMCBSHistoryLength - n + i], moves[i].ra) << i;
    EXPECT_EQ(block_->mDecHistory[kMCBSHistoryLength - n + i], moves[i].dec) << i;
  }
  EXPECT_EQ(block_->mRAHistory[kMCBSHistoryLength - n - 1], 9);  // shifted towards the oldest
  EXPECT_EQ(block_->mHistoryStart, 0u);                            // lowered to 0, not below
}

TEST_F(CorrectionLogTest, TheFirstPositionOfARunWritesTheHeader) {
  MyCameraWindowDataStruct& r = *record_;
  r.mStartX = r.mStartY = -1.0f;
  r.mCurrentX = r.mCurrentY = -1.0f;
  // The camera: mono, Format 0 mode 5, 640 x 480 at 8 bits, no controls.
  std::strcpy(r.mProperties.mName, "Grasshopper Test");
  r.mProperties.mCameraID = 0x00C0FFEE;
  r.mFormat = 0;
  r.mMode = 5;
  r.mFrameRate = 30.0;
  r.mWidth = 640;
  r.mHeight = 480;
  r.mBitsPerPixel = 8;
  r.mShutterValue = 123;
  r.mUseDarkFrame = 1;
  r.mDisplayFormatItem = 1;
  // Guiding options and calibration.
  r.mDecTrackingMode = 4;
  r.mTrackAccuracy = 0.5f;
  r.mTurbulenceLimit = 1;
  r.mMultipleObjects = 0;
  r.mObjectDeclination = 30.0f;
  r.mCalibratedDeclination = 12.5f;
  r.Orientation = 0;
  r.MSlopeFloat = 0.5f;
  r.mPixelPerMillSecXLeft = 0.01;
  r.mPixelPerMillSecXRight = 0.0125;
  r.mPixelPerMillSecYUp = 0.008;
  r.mPixelPerMillSecYDown = 0.009;

  EXPECT_EQ(myMountCntlDeviceChangePosition(&r, 100.0, 100.0), noErr);
  EXPECT_EQ(r.mTrackingPhase, 0);
  EXPECT_EQ(r.mStartX, 100.0f);
  EXPECT_EQ(r.mCurrentY, 100.0f);
  EXPECT_EQ(r.B_YinterceptFloat, -150.0f);  // -(x M + y): the line through the start
  EXPECT_EQ(block_->mHistoryStart, kMCBSHistoryLength);

  // Straight RA drift along y' = 0.5 x - 150 (Y down): 2 px right, 1 px up.
  myMountCntlDeviceChangePosition(&r, 102.0, 99.0);

  const std::string expected =
      "----------------------------------------- Camera Settings: 20260307_040506\r"
      "Monochrome Camera = Model:'Grasshopper Test' SerialNumber: 0xC0FFEE\r"
      "IIDC Format: 0 Mode: 5 FrameRate: 30.00\r"
      "Camera Display Format: 640 x 480 8 bit\r"
      "CCD Image Left: 0\r"
      "CCD Image Top: 0\r"
      "CCD Image Width: 640\r"
      "CCD Image: Height 480\r"
      "Exposure : 123 \r"
      "Sharpness Limiting On: 0\r"
      "Dark Frame Subtraction On: 1\r"
      "Flat Frame Correction On: 0\r"
      "Invert Image On: 0\r"
      "Flip Horizontal On: 0\r"
      "Flip Vertical On: 0\r"
      "Histogram Expand On: 0\r"
      "Binning Off Monochrome\r"
      "Hot / Cold Pixel Replace: Off\r"
      "----------------------------------------- Guide Settings : 20260307_040506\r"
      "Correct RA Changes First.\r"
      "Dec Tracking Down Only.\r"
      "Tracking Accuracy: 0.5 pixels\r"
      "Turbulence Limiting On: 1\r"
      "Skip Large 10x Changes On: 0\r"
      "Using Solar Lunar Edge Tracking On: 0\r"
      "Multiple Object Tracking On: 0\r"
      "Tracking Object Declination: 30.000 degrees\r"
      "Calibrated Line Coordinates : MSlopeFloat = 0.50000 B_YinterceptFloat = -150.00000 Orientation = 0\r"
      "Calibrated Left Move Rate:  0.01000 pixels per millisecond\r"
      "Calibrated Right Move Rate:  0.01250 pixels per millisecond\r"
      "Calibrated Up Move Rate:  0.00800 pixels per millisecond\r"
      "Calibrated Down Move Rate:  0.00900 pixels per millisecond\r"
      "Calibrated  Declination:  12.500 degrees\r"
      "----------------------------------------- Tracking Start : 20260307_040506\r"
      "Starting Position X Y: \t 100.00  \t 100.00\r"
      // sqrt(5) = 2.236 px along the line, towards +x: RA -2.24, sent east
      // for 2.236 / 0.01 ms.
      "Time:\t20260307_040506\tCur X Y:\t 102.00  \t 99.00 \t Axis X Y:\t -2.24 \t  0.00 \t\t RALeft: 223.61 ms \r";
  EXPECT_EQ(ReadAll(log_), expected);
}

TEST_F(CorrectionLogTest, WithTheLogClosedNothingIsWritten) {
  record_->mGuideLogOpen = 0;
  myMountCntlDeviceChangePosition(record_.get(), 102.5, 99.0);
  EXPECT_EQ(ReadAll(log_), "");
  EXPECT_EQ(record_->mTrackingPhase, 0);
}

// ------------------------------------------------------------ on the mount

class CorrectionMountTest : public SerialMountTest {
 protected:
  void SetUp() override {
    SerialMountTest::SetUp();
    port_->SetProtocol(SimMountProtocol::LX200);
    record_ = std::make_unique<MyCameraWindowDataStruct>();
    block_ = std::make_unique<MCBS>();
    block_->mHistoryStart = kMCBSHistoryLength;
    ExampleSettings(*record_);
    record_->mpMCBSPtr = block_.get();
    record_->mMountCntlDeviceKind = kMountCntlLX200;
    record_->mpMountCntlDevicePtr = device_;
    log_ = tmpfile();
    record_->mGuideLogOpen = 1;
    record_->mpGuideLogFile = log_;
  }
  void TearDown() override {
    WaitSettled();
    fclose(log_);
    SerialMountTest::TearDown();
  }
  // Waits for the pulse and its settle (a generous guard, no time asserted).
  void WaitSettled() {
    auto busy = [&] {
      return std::atomic_ref<SInt32>(record_->mPulsesPending).load() != 0 ||
             std::atomic_ref<SInt32>(device_->mPulseThreadRunning).load() != 0;
    };
    for (int i = 0; i < 2000 && busy(); i++) SkyloomSleepMicroseconds(5000);
    EXPECT_FALSE(busy());
  }
  // The log with its stamps (the real time: pulses are timed by the
  // monotonic clock) replaced by "<stamp>".
  std::string LogText() {
    std::string s = ReadAll(log_);
    for (size_t at = s.find("Time:\t"); at != std::string::npos; at = s.find("Time:\t", at + 1))
      s.replace(at + 6, kStamp.size(), "<stamp>");
    return s;
  }
  std::unique_ptr<MyCameraWindowDataStruct> record_;
  std::unique_ptr<MCBS> block_;
  FILE* log_ = nullptr;
};

TEST_F(CorrectionMountTest, AnRAErrorBecomesOnePulseEast) {
  EXPECT_EQ(myMountCntlDeviceChangePosition(record_.get(), 102.5, 99.0), noErr);
  WaitSettled();
  EXPECT_EQ(CommandTexts(), (std::vector<std::string>{"#:Me#", "#:Qe#"}));
  EXPECT_EQ(LogText(), "Time:\t<stamp>\tCur X Y:\t 102.50  \t 99.00 \t Axis X Y:\t -2.50 \t  1.00 \t\t RALeft: 250.00 ms \r");
  EXPECT_EQ(block_->mRAHistory[kMCBSHistoryLength - 1], 12);
  EXPECT_EQ(block_->mDecHistory[kMCBSHistoryLength - 1], 5);
  EXPECT_EQ(block_->mHistoryStart, kMCBSHistoryLength - 1);
}

TEST_F(CorrectionMountTest, BothAxesGoOutAsOnePulse) {
  record_->mCorrectionOrder = 3;
  EXPECT_EQ(myMountCntlDeviceChangePosition(record_.get(), 102.5, 99.0), noErr);
  WaitSettled();
  // RA east 250 ms and Dec south 125 ms start together; the shorter stops first.
  EXPECT_EQ(CommandTexts(), (std::vector<std::string>{"#:Me#", "#:Ms#", "#:Qs#", "#:Qe#"}));
  EXPECT_EQ(LogText(),
            "Time:\t<stamp>\tCur X Y:\t 102.50  \t 99.00 \t Axis X Y:\t -2.50 \t  1.00 \t\t RALeft: 250.00 ms "
            "\t DecDown: 125.00 ms \r");
}

TEST_F(CorrectionMountTest, ATooShortPulseIsNotSent) {
  record_->mMinPulseMs = 300.0;
  record_->mCorrectionOrder = 1;
  EXPECT_EQ(myMountCntlDeviceChangePosition(record_.get(), 102.5, 99.0), noErr);  // 250 and 125 ms
  WaitSettled();
  EXPECT_TRUE(CommandTexts().empty());
}

}  // namespace
