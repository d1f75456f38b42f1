// Exposure items applied to each camera kind: the ordered register writes of
// every path against goldens worked out by hand from the camera's registers
// (0x83C frame-rate control, 0x600/0x604/0x608 rate, mode and format,
// 0x2478 the shutter's absolute value in seconds, 0x24F8 the frame rate's).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "app/LongExposure.h"
#include "tests/app/ExposureFixture.h"
#include "tests/support/TestClock.h"

namespace {
using WriteLog = std::vector<std::pair<UInt32, UInt32>>;
constexpr OSType kExpo = FOUR_CHAR_CODE("EXPO");
constexpr OSType kRate = FOUR_CHAR_CODE("FRAM");
template <typename T>
T Load(T& field) {
  return std::atomic_ref<T>(field).load();
}
// Waits (hang guard 10 s) until `done` holds.
bool Eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
}  // namespace

TEST_F(ExposureTest, PointGreyRateLongAndBackToRate) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);  // 640x480 at 30 fps, items 4..8
  ASSERT_EQ(r->mFirstExposureItem, 4u);
  ASSERT_EQ(r->mExposureItemLimit, 8u);

  // C: item 5 is rate item 4, 15 fps.
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 5), noErr);
  const WriteLog kC = {
      {0x83C, 0xC0000000},  // frame-rate control off (absolute stays on)
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x60000000},  // format 0, mode 5, 15 fps
      {0x2478, 0x37A7C5AC},  // the slider's live action: 0.02 ms
      {0x83C, 0xC0000000}, {0x83C, 0xC2000000}, {0x83C, 0xC2000000},  // automatic off, on, absolute
      {0x24F8, 0x41700000},  // 15.0 fps
  };
  EXPECT_EQ(Writes(), kC);
  EXPECT_EQ(r->mExposureRateItem, 4u);
  EXPECT_EQ(r->mFrameRate, 15.0);
  EXPECT_NEAR(r->mExposureMS, 66.667, 0.001);
  EXPECT_FLOAT_EQ(r->mAbsShutterMax, 66.666667f);
  EXPECT_TRUE(Enabled(kRate));
  EXPECT_EQ(r->mLongExposure, 0u);

  // D, extended shutter: item 12 is 3 s at the slowest rate.
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 12), noErr);
  const WriteLog kD = {
      {0x83C, 0xC0000000},
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x00000000},  // 1.875 fps
      {0x2478, 0x40400000},  // 3.0 s
  };
  EXPECT_EQ(Writes(), kD);
  EXPECT_EQ(r->mLongExposure, 1u);
  EXPECT_EQ(r->mExposureMS, 3000.0);
  EXPECT_NE(r->mLongExposureFrame, nullptr);
  EXPECT_FALSE(Enabled(kRate));
  EXPECT_FALSE(Enabled(kExpo));
  EXPECT_FALSE(Enabled(kExpo, 2));
  EXPECT_FALSE(Enabled(FOUR_CHAR_CODE("AUEX")));

  // C again, leaving the long exposure: the shutter comes back first.
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 6), noErr);
  const WriteLog kBack = {
      {0x83C, 0xC0000000},
      {0x2478, 0x37A7C5AC},  // the shutter as it was
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x40000000},  // 7.5 fps
      {0x2478, 0x37A7C5AC},
      {0x83C, 0xC0000000}, {0x83C, 0xC2000000}, {0x83C, 0xC2000000},
      {0x24F8, 0x40F00000},  // 7.5
  };
  EXPECT_EQ(Writes(), kBack);
  EXPECT_EQ(r->mLongExposure, 0u);
  EXPECT_EQ(r->mLongExposureFrame, nullptr);
  EXPECT_TRUE(Enabled(kExpo));
  EXPECT_EQ(GetControl32BitValue(Control(kRate)), 3);
}

TEST_F(ExposureTest, PointGreyLongItemWhenNoRateCanBeSet) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
  Camera().FailRegister(0x600, SimAccessKind::Write, -36);
  testing::internal::CaptureStderr();
  const OSStatus err = mySetBaseCCDExposureTime(r, 12);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(err, noErr);
  EXPECT_NE(out.find("mySetIIDC_ExposureTime mySetIIDCCameraFmtModeFR  failed"), std::string::npos);
  EXPECT_EQ(r->mLongExposure, 0u);
}

TEST_F(ExposureTest, VendorRuleRateAndLongItems) {
  MyCameraWindowDataStruct* r = Open(SimVendorPersonality(0x000748, "DBK 31AF03"));
  ASSERT_EQ(r->mShutterByAbsolute, 1);
  ASSERT_EQ(r->mAbsoluteShutter, 0);
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);  // 1.875 .. 30 fps: items 4..8
  ASSERT_EQ(r->mFirstRateItem, 1u);
  r->mShutterValue = 0x123;

  // E, long item: the slowest offered rate and the raw shutter.
  Camera().ClearLog();
  EXPECT_EQ(mySet_IIDC_CCDExposureTime(r, 10), noErr);
  const WriteLog kLong = {
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x00000000},  // 1.875 fps
      {0x81C, 0x82000123},
  };
  EXPECT_EQ(Writes(), kLong);
  EXPECT_EQ(r->mLongExposure, 1u);
  EXPECT_EQ(r->mExposureMS, 1000.0);

  // E, rate item: the shutter again, then the rate.
  r->mShutterValue = 0x124;
  Camera().ClearLog();
  EXPECT_EQ(mySet_IIDC_CCDExposureTime(r, 5), noErr);
  const WriteLog kRateItem = {
      {0x81C, 0x82000124},
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x60000000},  // 15 fps
      {0x81C, 0x82000001},  // the slider's live action: its own value, 1
  };
  EXPECT_EQ(Writes(), kRateItem);
  EXPECT_EQ(r->mLongExposure, 0u);
  EXPECT_EQ(r->mShutterValue, 1u);
  EXPECT_EQ(Label(kExpo), "1");
}

TEST_F(ExposureTest, OtherCamerasOnlyRefreshTheArrows) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->mIsPointGrey = 0;
  r->mShutterByAbsolute = 0;
  r->mLongExposure = 1;
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 12), noErr);
  EXPECT_TRUE(Writes().empty());
  EXPECT_FALSE(Enabled(kExpo, 2));
  r->mLongExposure = 0;
}

TEST_F(ExposureTest, LongExposureKindRateItems) {
  MyCameraWindowDataStruct* r = Open(SimLongExposurePersonality());
  ASSERT_EQ(r->mExposureItemLimit, 7u);
  r->mFormat = 0;
  r->mMode = 5;
  r->mShutterValue = 192;
  const struct {
    double before;
    UInt32 item, code;
    double after;
  } kCases[] = {{7.5, 3, 4, 30.0}, {7.5, 5, 3, 7.5}, {30.0, 5, 3, 15.0}, {30.0, 6, 2, 7.5}, {3.75, 7, 2, 3.75}};
  for (const auto& c : kCases) {
    r->mFrameRate = c.before;
    Camera().ClearLog();
    EXPECT_EQ(mySetBaseCCDExposureTime(r, c.item), noErr) << c.item;
    EXPECT_EQ(r->mFrameRate, c.after) << c.item;
    EXPECT_EQ(r->mExposureRateItem, c.code);
    const WriteLog log = Writes([](UInt32 o) { return o == 0x824 || o == 0x600; });
    ASSERT_EQ(log.size(), 2u) << c.item;
    EXPECT_EQ(log[0].second & 0xFFF, c.code);  // iris holds the rate code
    EXPECT_EQ(log[1].second >> 29, myRateItemForFramesPerSecond(c.after) - 1);
    EXPECT_EQ(Label(kExpo), " 5.00 ms");
    EXPECT_NEAR(r->mExposureMS, 1000.0 / c.after, 1e-9);
  }
}


// ---------------------------------------------------------------- with the timing thread

TEST_F(ExposureTest, LongExposureKindWithSTAPinsAndBack) {
  MyCameraWindowDataStruct* r = Open(SimLongExposurePersonality());
  TestClock clock;  // the thread waits for an exposure time that never passes
  r->mFormat = 0;
  r->mMode = 5;
  r->mFrameRate = 30.0;
  r->mLongExposureMenu = 1;

  // B: item 8 is 500 ms, above 267: transmission stops and the thread times it.
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 8), noErr);
  const WriteLog kLong = {
      {0x804, 0x82000000},                                             // exposure 0 (0x100 saved)
      {0x824, 0x82000004},                                             // iris: read-out code 4
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x80000000},  // 30 fps
      {0x614, 0x00000000},                                             // transmission off
      {0xF1C, 0x06010601},  // STA2 high (STA1 reads high after the region pulse)
      {0xF1C, 0x05010601},  // STA0 high (STA1 low again)
      {0xF20, 0x00000000},  // the read-out bit cleared
  };
  EXPECT_EQ(Writes(), kLong);
  EXPECT_EQ(r->mLongExposure, 1u);
  EXPECT_EQ(r->mExposureMS, 500.0);
  EXPECT_EQ(r->mSavedTSLExposure, 0x100u);
  EXPECT_EQ(Load(r->mLongExposAlive), 1);
  EXPECT_FLOAT_EQ(r->mLongExposTimerValue, 25.0f);
  EXPECT_FALSE(Enabled(kRate));
  EXPECT_FALSE(Enabled(kExpo));

  // A new long item while it runs only changes the time.
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 10), noErr);
  EXPECT_EQ(r->mExposureMS, 1000.0);
  EXPECT_TRUE(Writes().empty());

  // A, item 3: the thread stops, the camera reads out again, 30 fps.
  r->mFrameRate = 7.5;
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 3), noErr);
  const WriteLog kBack = {
      {0x610, 0x00000001},
      {0x804, 0x82000100},  // the saved exposure
      {0xF20, 0x00010000},
      {0x614, 0x80000000},                                             // transmission on
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x40000000},  // the rate in force, 7.5
      {0xF1C, 0x03010601},                                             // STA2 low
      {0xF1C, 0x00010601},                                             // STA0 low
      {0x824, 0x82000004},                                             // iris: code 4
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x80000000},  // 30 fps
  };
  EXPECT_EQ(Writes(), kBack);
  EXPECT_EQ(r->mLongExposure, 0u);
  EXPECT_EQ(Load(r->mLongExposAlive), 0);
  EXPECT_EQ(r->mFrameRate, 30.0);
  EXPECT_EQ(r->mLongExposureFrame, nullptr);
  EXPECT_TRUE(Enabled(kExpo));
}

TEST_F(ExposureTest, LongExposureKindFailedTriggerPinLeavesNoExposure) {
  MyCameraWindowDataStruct* r = Open(SimLongExposurePersonality());
  r->mFormat = 0;
  r->mMode = 5;
  r->mFrameRate = 30.0;
  r->mLongExposureMenu = 1;
  Camera().FailRegister(0xF1C, SimAccessKind::Write, -36);
  Camera().ClearLog();
  testing::internal::CaptureStderr();
  const OSStatus err = mySetBaseCCDExposureTime(r, 8);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(err, noErr);
  EXPECT_NE(out.find("X_SHUTTER_PIN true fail"), std::string::npos);
  EXPECT_NE(out.find("X_SGTRIGGER_PIN true fail"), std::string::npos);
  EXPECT_EQ(r->mLongExposure, 0u);
  EXPECT_EQ(Load(r->mLongExposAlive), 0);
  EXPECT_TRUE(Writes([](UInt32 o) { return o == 0xF20; }).empty());
}

TEST_F(ExposureTest, LongExposureKindWithoutPins) {
  MyCameraWindowDataStruct* r = Open(SimLongExposurePersonality());
  r->mFormat = 0;
  r->mMode = 5;
  r->mFrameRate = 30.0;
  r->mExposureItemLimit = 6;  // without pins items 4..6 are frame periods, 7 the long one
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 7), noErr);  // 1029 ms
  EXPECT_EQ(r->mExposureMS, 1029.0);
  EXPECT_EQ(r->mLongExposure, 1u);
  EXPECT_FLOAT_EQ(r->mLongExposTimerValue, 133.0f);
  // The thread goes on by itself; the path's own writes come first.
  const WriteLog log = Writes();
  const WriteLog kStart = {
      {0x804, 0x82000000}, {0x824, 0x82000004},
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x80000000},
      {0x614, 0x00000000}, {0x824, 0x82000001},  // iris 1: the sensor integrates
  };
  ASSERT_GE(log.size(), kStart.size());
  EXPECT_EQ(WriteLog(log.begin(), log.begin() + kStart.size()), kStart);
  myRemoveLongExposureTimer(r);
  EXPECT_EQ(Load(r->mLongExposAlive), 0);
}

TEST_F(ExposureTest, PointGreyTriggerSchemeAndBack) {
  MyCameraWindowDataStruct* r = Open(SimPointGreyTriggerPersonality());
  TestClock clock;
  r->mPGRLongExposureOn = 1;
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
  ASSERT_EQ(ORXDCAMAllocateReleaseIsochChannel(r->mCameraHandle, 1), noErr);
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 10), noErr);  // 1000 ms
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpShowPending) == 1; }));  // the first exposure began
  const WriteLog kLong = {
      {0x614, 0x00000000},                                             // video stopped
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x00000000},  // a USB camera: 1.875 fps
      {0x614, 0x80000000}, {0x614, 0x00000000},                        // (the driver's reprogramming)
      {0x1110, 0x80000000}, {0x1120, 0x80000000}, {0x1130, 0x80000000}, {0x1140, 0x80000000},
      {0x830, 0x82010000},                        // trigger mode 1
      {0x1110, 0x80000001}, {0x1120, 0x80010001},  // input pin 0, output pin 1 high
      {0x830, 0x82010000}, {0x830, 0x82010000},    // source 0, on
      {0x614, 0x80000000},                        // video started
      {0x1120, 0x80010000},                       // the thread opens the shutter
  };
  EXPECT_EQ(Writes(), kLong);
  EXPECT_EQ(r->mLongExposure, 1u);
  EXPECT_EQ(Load(r->mLongExposAlive), 1);
  EXPECT_FLOAT_EQ(r->mLongExposTimerValue, 1000.0f);
  EXPECT_NE(r->mLongExposureFrame, nullptr);

  // C: the thread stops, trigger frames off, the shutter back, 15 fps.
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 5), noErr);
  const WriteLog kBack = {
      {0x1110, 0x80000000}, {0x1120, 0x80000000}, {0x1130, 0x80000000}, {0x1140, 0x80000000},
      {0x1120, 0x80010001}, {0x830, 0x82000000}, {0x830, 0x80000000},  // trigger frames off
      {0x2478, 0x38D1B717},                                           // 0.1 ms
      {0x614, 0x00000000}, {0x614, 0x00000000},
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x60000000},  // 15 fps
      {0x614, 0x80000000}, {0x614, 0x00000000}, {0x614, 0x80000000},
      {0x2478, 0x38D1B717},  // the slider's live action
  };
  EXPECT_EQ(Writes(), kBack);
  EXPECT_EQ(r->mLongExposure, 0u);
  EXPECT_EQ(Load(r->mLongExposAlive), 0);
  ORXDCAMStartStopVideo(r->mCameraHandle, 0);
  ORXDCAMAllocateReleaseIsochChannel(r->mCameraHandle, 0);
}

TEST_F(ExposureTest, PointGreyTriggerFailureRollsBack) {
  MyCameraWindowDataStruct* r = Open(SimPointGreyTriggerPersonality());
  r->mPGRLongExposureOn = 1;
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
  ASSERT_EQ(ORXDCAMAllocateReleaseIsochChannel(r->mCameraHandle, 1), noErr);
  // The output pin cannot be set up (its idle write fails unnoticed first).
  Camera().FailRegister(0x1120, SimAccessKind::Write, kIOReturnNotResponding, 2);
  Camera().ClearLog();
  testing::internal::CaptureStderr();
  const OSStatus err = mySetBaseCCDExposureTime(r, 10);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(err, noErr);
  EXPECT_NE(out.find("myPGRStartStopTriggerFrames failed"), std::string::npos);
  EXPECT_NE(out.find("mySetIIDC_ExposureTime  failed"), std::string::npos);
  // Back in a frame-rate state: no exposure, no thread, trigger off, video on.
  EXPECT_EQ(r->mLongExposure, 0u);
  EXPECT_EQ(Load(r->mLongExposAlive), 0);
  EXPECT_EQ(Camera().Peek(0x830) & 0x02000000u, 0u);
  EXPECT_EQ(Camera().Peek(0x614), 0x80000000u);
  ORXDCAMStartStopVideo(r->mCameraHandle, 0);
  ORXDCAMAllocateReleaseIsochChannel(r->mCameraHandle, 0);
}

TEST_F(ExposureTest, ToggleLeavesARunningLongExposureFirst) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
  r->mLongExposureMenu = 1;
  ASSERT_EQ(mySetBaseCCDExposureTime(r, 12), noErr);
  ASSERT_EQ(r->mLongExposure, 1u);
  r->mExposureRateItem = r->mFirstExposureItem;  // the frame-rate item first applied is the next one
  Camera().ClearLog();
  EXPECT_EQ(myToggleExposureTimes(r, 14), noErr);
  EXPECT_EQ(r->mLongExposure, 1u);
  EXPECT_EQ(r->mExposureMS, 5000.0);
  // 9 - 5 = rate item 4 (15 fps) on the way, then the slowest rate again.
  const WriteLog rates = Writes([](UInt32 o) { return o == 0x600; });
  const WriteLog kRates = {{0x600, 0x60000000}, {0x600, 0x00000000}};
  EXPECT_EQ(rates, kRates);
}
