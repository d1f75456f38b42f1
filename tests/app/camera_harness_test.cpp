// The camera harness that later tests open their camera through, and the
// manual test clock.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include "platform/hitoolbox/ScriptedUser.h"
#include "tests/support/CameraHarness.h"
#include "tests/support/TestClock.h"
#include "tests/support/ThreadCount.h"

class Harness : public CameraHarness {};

TEST_F(Harness, OpeningBuildsTheRecordWindowsAndVideoSizes) {
  Rig({SimDefaultColourPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  MyCameraWindowDataStruct* r = record_;
  EXPECT_EQ(r->mKind, kMyCameraWindowDataKind);
  EXPECT_NE(r->mCameraHandle, nullptr);
  EXPECT_EQ(r->mBitsPerPixel, 8u);
  EXPECT_EQ(r->mFrameRate, 30.0);
  EXPECT_STREQ(r->mProperties.mName, "Sim IIDC Colour 1280");
  EXPECT_EQ(r->mProperties.mVendor >> 8, 0x00B09Du);
  // Point Grey family: the tile register gave RGGB; no vendor rule.
  EXPECT_EQ(r->mIsPointGrey, 1);
  EXPECT_EQ(r->mBayerFormat, 1u);
  EXPECT_EQ(r->mShutterByAbsolute, 0);
  EXPECT_EQ(r->mAbsoluteShutter, 1);
  EXPECT_EQ(r->mAutoShutterAvailable, 1);
  EXPECT_EQ(r->mIsLongExposureCamera, 0);
  // Both windows carry the record.
  ASSERT_NE(r->mControlWindow, nullptr);
  ASSERT_NE(r->mVideoWindow, nullptr);
  EXPECT_EQ(GetWRefCon(r->mControlWindow), SRefCon(r));
  EXPECT_EQ(GetWRefCon(r->mVideoWindow), SRefCon(r));
  EXPECT_EQ(skyloom::ui::WindowTitle(r->mControlWindow), "Sim IIDC Colour 1280 Controls");
  EXPECT_EQ(skyloom::ui::Windows().size(), 2u);
  // Format 0 modes 5 and 6, then every depth of Format 7 modes 0 and 1.
  const std::vector<std::string> items = {"640x480 8bit",       "640x480 16bit",      "1280x960 8bit FMT7",
                                          "1280x960 12bit FMT7", "1280x960 16bit FMT7", "640x480 8bit FMT7",
                                          "640x480 16bit FMT7"};
  EXPECT_EQ(skyloom::ui::ControlItems(Control(FOUR_CHAR_CODE("VISZ"))), items);
  ASSERT_EQ(r->mVideoSizeCount, items.size());
  for (UInt32 i = 0; i < r->mVideoSizeCount; i++) {
    const MyVideoSizeStruct& e = r->mVideoSizes[i];
    EXPECT_EQ(e.mBayerCode, 1u) << i;
    EXPECT_EQ(e.mIsColor, 1) << i;
    EXPECT_EQ(e.mMaxFramePeriodMs, 32000.0) << i;
    EXPECT_EQ(e.mRegionAllowed, e.mFormat == 7) << i;
  }
  EXPECT_EQ(r->mVideoSizes[1].mColorCoding, 10u);
  EXPECT_EQ(r->mVideoSizes[3].mColorCoding, 12u);
  EXPECT_EQ(r->mLongestExposureMS, 32000.0);
  CloseCamera();
  EXPECT_TRUE(skyloom::ui::Windows().empty());
  EXPECT_EQ(cameras_[0]->OpenCount(), 0);
}

TEST_F(Harness, FamilyFlagsByVendor) {
  const struct {
    SimCameraPersonality p;
    UInt8 pointGrey, byAbsolute, selectable, vendor50A6, longExposure;
  } kCases[] = {
      {SimWhiteBalanceColourPersonality(), 0, 1, 1, 0, 0},
      {SimVendorPersonality(0x000748, "DBK 31AF03"), 0, 1, 0, 0, 0},
      {SimVendorPersonality(0x0050A6, "Scout_C"), 0, 1, 0, 1, 0},
      {SimUSBPersonality(), 1, 0, 0, 0, 0},
      {SimLongExposurePersonality(), 0, 0, 0, 0, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.p.label);
    auto rig = Rig({c.p});
    testing::internal::CaptureStderr();
    ASSERT_EQ(OpenCamera(), noErr);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(record_->mIsPointGrey, c.pointGrey);
    EXPECT_EQ(record_->mShutterByAbsolute, c.byAbsolute);
    EXPECT_EQ(record_->mBayerSelectable, c.selectable);
    EXPECT_EQ(record_->mIsVendor50A6, c.vendor50A6);
    EXPECT_EQ(record_->mIsLongExposureCamera, c.longExposure);
    // Every accepted camera carries a family flag.
    EXPECT_TRUE(record_->mIsPointGrey || record_->mShutterByAbsolute || record_->mIsLongExposureCamera);
    if (c.longExposure) {
      EXPECT_EQ(record_->mExposureItemLimit, 7u);
    }
    if (c.vendor50A6) {
      bool wrote = false;
      for (const SimLogEntry& e : rig[0]->Log()) wrote |= e.kind == SimLogKind::FWWrite && e.offset == 0xF08;
      EXPECT_TRUE(wrote);
    }
    CloseCamera();
  }
}

TEST_F(Harness, ACancelledBrowserOpensNothing) {
  Rig({SimMonoPersonality(), SimWhiteBalanceColourPersonality()});
  skyloom::ui::ScriptedUser user;
  user.ClickCancel();
  testing::internal::CaptureStderr();
  EXPECT_EQ(OpenCamera(), -128);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(record_, nullptr);
  EXPECT_TRUE(skyloom::ui::Windows().empty());
  for (auto& c : cameras_) EXPECT_EQ(c->OpenCount(), 0);
}

// Opening and closing again and again leaves nothing behind: no window, no
// open camera, no thread (and, under the sanitizers, no leak). One test per
// personality, so they may run side by side.
SimCameraPersonality PersonalityNumber(int n) {
  switch (n) {
    case 0: return SimDefaultColourPersonality();
    case 1: return SimMonoFireWirePersonality();
    case 2: return SimColourFireWirePersonality();
    case 3: return SimUSBPersonality();
    case 4: return SimMonoPersonality();
    case 5: return SimWhiteBalanceColourPersonality();
    case 6: return SimVendorPersonality(0x000748, "DBK 31AF03");
    case 7: return SimVendorPersonality(0x0050A6, "Scout_C");
    case 8: return SimLongExposurePersonality();
    default: return SimFormat7FilterPersonality(4);
  }
}

class HarnessRepeat : public CameraHarness, public ::testing::WithParamInterface<int> {};

// A hundred rounds find a leak or a thread left behind; under TSan, which
// looks for races and runs each round many times slower, a few rounds do.
#if defined(__SANITIZE_THREAD__)
constexpr int kOpenCloseRounds = 10;
#else
constexpr int kOpenCloseRounds = 100;
#endif

TEST_P(HarnessRepeat, OpensAndClosesAHundredTimes) {
  std::thread([] {}).join();  // the sanitizers' helper threads start first
  const int baseline = ProcessThreadCount();
  const SimCameraPersonality p = PersonalityNumber(GetParam());
  SCOPED_TRACE(p.label);
  Rig({p});
  testing::internal::CaptureStderr();
  for (int i = 0; i < kOpenCloseRounds; i++) {
    ASSERT_EQ(OpenCamera(), noErr) << i;
    ASSERT_GT(record_->mVideoSizeCount, 0u);
    CloseCamera();
    ASSERT_TRUE(skyloom::ui::Windows().empty()) << i;
  }
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(cameras_[0]->OpenCount(), 0);
  EXPECT_EQ(cameras_[0]->ClaimedInterfaceCount(), 0);
  EXPECT_TRUE(WaitForThreadCount(baseline));
}

INSTANTIATE_TEST_SUITE_P(EveryPersonality, HarnessRepeat, ::testing::Range(0, 10));

// ---------------------------------------------------------------- test clock

TEST(TestClockTimers, ATwentyMillisecondEventLoopTimerFiresFiftyTimesInOneManualSecond) {
  TestClock clock;
  int fired = 0;
  EventLoopTimerRef timer = nullptr;
  ASSERT_EQ(InstallEventLoopTimer(
                GetMainEventLoop(), 0.02, 0.02,
                NewEventLoopTimerUPP([](EventLoopTimerRef, void* data) { ++*static_cast<int*>(data); }), &fired,
                &timer),
            noErr);
  clock.Run(1.0);
  EXPECT_EQ(fired, 50);
  // Time stands still between steps: nothing more fires.
  RunCurrentEventLoop(0);
  EXPECT_EQ(fired, 50);
  RemoveEventLoopTimer(timer);
}

TEST(TestClockTimers, EveryClockReadsTheSameManualMoment) {
  // 2026-03-07 04:05:06 UTC in absolute time, under a zone one hour east.
  TestClock clock(794549106.0, "CET-1");
  const UInt64 startMicros = SkyloomMicroseconds();
  clock.Advance(2.5);
  EXPECT_EQ(CFAbsoluteTimeGetCurrent(), 794549108.5);
  UnsignedWide us;
  Microseconds(&us);
  EXPECT_EQ((UInt64(us.hi) << 32 | us.lo) - startMicros, 2'500'000u);
  UTCDateTime utc;
  ASSERT_EQ(GetUTCDateTime(&utc, 0), noErr);
  // 794549108 + 3061152000 seconds since 1904, and half a second.
  // The record is packed: copy its fields out before comparing.
  const UInt32 high = utc.highSeconds, low = utc.lowSeconds, fraction = utc.fraction;
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(low, 3855701108u);
  EXPECT_EQ(fraction, 32768u);
  UInt32 local = 0;
  GetDateTime(&local);
  EXPECT_EQ(local, 3855701108u + 3600u);
  DateTimeRec d;
  SecondsToDate(local, &d);
  EXPECT_EQ(d.hour, 5);
  EXPECT_EQ(d.minute, 5);
  EXPECT_EQ(d.second, 8);
}
