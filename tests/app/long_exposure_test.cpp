// The long-exposure timing thread on the simulated cameras: the register
// writes of each scheme's cycle, the STA pins and region pulse, the trigger
// scheme and its shutter, the read-out period, and starting and stopping the
// thread (also while it is held inside a register access).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "app/LongExposure.h"
#include "tests/support/CameraHarness.h"
#include "tests/support/TestClock.h"

namespace {

using Writes = std::vector<std::pair<UInt32, UInt32>>;

template <typename T>
T Load(T& field) {
  return std::atomic_ref<T>(field).load();
}
template <typename T>
void Store(T& field, T value) {
  std::atomic_ref<T>(field).store(value);
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

bool IsWrite(const SimLogEntry& e) {
  if (e.kind == SimLogKind::FWWrite) return true;
  return e.kind == SimLogKind::USBControl && e.setup.bmRequestType == 0x40 && e.setup.bRequest == 0x7F;
}
bool IsRead(const SimLogEntry& e) {
  if (e.kind == SimLogKind::FWRead) return true;
  return e.kind == SimLogKind::USBControl && e.setup.bmRequestType == 0xC0 && e.setup.bRequest == 0x7F;
}

// Frames the driver delivers, kept whole.
struct Frames {
  std::mutex mutex;
  std::vector<std::vector<UInt8>> frames;
  static void Callback(UInt32, UInt32, UInt32 bytes, void* frame, void* refCon, double, double) {
    auto* self = static_cast<Frames*>(refCon);
    std::lock_guard<std::mutex> lock(self->mutex);
    const UInt8* p = static_cast<const UInt8*>(frame);
    self->frames.emplace_back(p, p + bytes);
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return frames.size();
  }
};

double MeanLevel(const std::vector<UInt8>& frame) {
  if (frame.size() <= 8) return 0.0;
  double sum = 0;
  for (size_t i = 4; i + 4 < frame.size(); i++) sum += frame[i];  // past the id stamps
  return sum / double(frame.size() - 8);
}

class LongExposureTest : public CameraHarness {
 protected:
  void TearDown() override {
    if (record_) {
      myRemoveLongExposureTimer(record_);
      EXPECT_FALSE(myLongExposureThreadHoldsRecord(record_));
    }
    mySetLongExposureStopPolls(0);
    CameraHarness::TearDown();
  }

  SimCamera& Sim() { return *cameras_[0]; }

  // Successful register writes logged since `from`.
  Writes WritesSince(size_t from) {
    Writes out;
    const auto log = Sim().Log();
    for (size_t i = from; i < log.size(); i++)
      if (IsWrite(log[i]) && log[i].status == kIOReturnSuccess) out.emplace_back(log[i].offset, log[i].value);
    return out;
  }
  size_t ReadsOf(UInt32 offset, size_t from) {
    size_t n = 0;
    const auto log = Sim().Log();
    for (size_t i = from; i < log.size(); i++) n += IsRead(log[i]) && log[i].offset == offset;
    return n;
  }
  // Waits until the thread has made `count` writes since `from`.
  bool WritesReach(size_t from, size_t count) {
    return Eventually([&] { return WritesSince(from).size() >= count; });
  }

  // The hand-off as an exposure setter leaves it before the thread starts.
  void PrepareCycle(double exposureMs, SInt32 frameDone) {
    MyCameraWindowDataStruct* r = record_;
    Store(r->mExposureMS, exposureMs);
    r->mLongExposure = 1;
    Store(r->mLongExpReadout, SInt32(0));
    Store(r->mLongExpShowPending, SInt32(0));
    Store(r->mLongExpFrameDone, frameDone);
    Store(r->mExposureStartTime, SkyloomMicroseconds());
    Store(r->mCountdownTime, Load(r->mExposureStartTime));
  }
  // Writes (attempts included) to `offset` in the log.
  size_t WriteAttempts(UInt32 offset) {
    size_t n = 0;
    for (const auto& e : Sim().Log()) n += IsWrite(e) && e.offset == offset;
    return n;
  }
};

// ---------------------------------------------------------------- STA pins and the region pulse

TEST_F(LongExposureTest, STAPinWritesCarryOnlyThePinBits) {
  Rig({SimLongExposurePersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  const struct {
    const char* what;
    UInt32 before;  // 0xF1C before the call (STA1 is the sensor's)
    SimSTA1 sta1;
    UInt32 pin, state;
    std::optional<UInt32> written;
  } kCases[] = {
      {"STA0 high beside STA2", 0x04000002, SimSTA1::Low, 0, 1, 0x05010601},
      {"STA1 read high carries over", 0x04000002, SimSTA1::High, 0, 1, 0x07010601},
      {"STA2 high from all low", 0x00000002, SimSTA1::Low, 2, 1, 0x04010601},
      {"STA2 low keeps STA0", 0x05000002, SimSTA1::Low, 2, 0, 0x01010601},
      {"STA0 low, any state but 1", 0x05000002, SimSTA1::High, 0, 7, 0x06010601},
      {"STA0 already high", 0x01000002, SimSTA1::Low, 0, 1, std::nullopt},
      {"STA2 already low", 0x01000002, SimSTA1::High, 2, 0, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Sim().Poke(0xF1C, c.before);
    Sim().SetSTA1(c.sta1);
    const size_t from = Sim().LogSize();
    EXPECT_EQ(mySetTSLV1501STAPins(record_, c.pin, c.state), noErr);
    const Writes w = WritesSince(from);
    if (c.written) {
      EXPECT_EQ(w, (Writes{{0xF1C, *c.written}}));
      EXPECT_EQ(ReadsOf(0xF1C, from), 2u);  // the pins, then the read after the write
    } else {
      EXPECT_TRUE(w.empty());
      EXPECT_EQ(ReadsOf(0xF1C, from), 1u);
    }
  }
  // A pin above 2 touches nothing.
  size_t from = Sim().LogSize();
  EXPECT_EQ(mySetTSLV1501STAPins(record_, 3, 1), -1);
  EXPECT_EQ(Sim().LogSize(), from);
  // A failed read is the answer, with nothing written.
  Sim().SetSTA1(SimSTA1::Pulsing);
  Sim().FailRegister(0xF1C, SimAccessKind::Read, kIOReturnNotResponding, 1);
  from = Sim().LogSize();
  EXPECT_NE(mySetTSLV1501STAPins(record_, 0, 1), noErr);
  EXPECT_TRUE(WritesSince(from).empty());
  // A refused write is not covered by the read after it.
  Sim().Poke(0xF1C, 0x00000002);
  Sim().FailRegister(0xF1C, SimAccessKind::Write, kIOReturnNotResponding, 1);
  EXPECT_NE(mySetTSLV1501STAPins(record_, 0, 1), noErr);
}

TEST_F(LongExposureTest, RegionPulseWaitsForAFallAndARise) {
  Rig({SimLongExposurePersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  size_t from = Sim().LogSize();
  EXPECT_EQ(myWaitForRegionPulseonSTA1(record_, 0), 1);
  // Reads up to the one that sees STA1 low, then one that sees it high.
  EXPECT_LE(ReadsOf(0xF1C, from), size_t(kSimSTA1Period) + 1);
  EXPECT_GE(ReadsOf(0xF1C, from), 2u);

  Sim().SetSTA1(SimSTA1::High);
  from = Sim().LogSize();
  EXPECT_EQ(myWaitForRegionPulseonSTA1(record_, 3000000), 0);  // no fall: no 3 s sleep either
  EXPECT_EQ(ReadsOf(0xF1C, from), 1401u);
  Sim().SetSTA1(SimSTA1::Low);  // no rise
  from = Sim().LogSize();
  EXPECT_EQ(myWaitForRegionPulseonSTA1(record_, 0), 0);
  EXPECT_EQ(ReadsOf(0xF1C, from), 101u);
  Sim().SetSTA1(SimSTA1::Pulsing);

  Sim().FailRegister(0xF1C, SimAccessKind::Read, kIOReturnNotResponding, 1);
  EXPECT_EQ(myWaitForRegionPulseonSTA1(record_, 0), 0);
}

// ---------------------------------------------------------------- read-out period

TEST(LongExposureReadout, FourFramePeriodsOfTheSlowestRate) {
  MyCameraWindowDataStruct r{};
  r.mFormat = 0;
  r.mFirstRateItem = 1;
  EXPECT_NEAR(myLongExposureReadoutPeriodMs(&r), 2133.333333, 1e-5);
  r.mFirstRateItem = 0;  // any other item counts as 30 fps
  EXPECT_NEAR(myLongExposureReadoutPeriodMs(&r), 133.333333, 1e-5);
  // Format 7 from the frame and its packets, in floating point.
  r.mFormat = 7;
  r.mWidth = 1280, r.mHeight = 960, r.mBitsPerPixel = 8;
  r.mF7BytesPerPacket = 4096;
  EXPECT_DOUBLE_EQ(myLongExposureReadoutPeriodMs(&r), 150.0);
  r.mBitsPerPixel = 16;
  EXPECT_DOUBLE_EQ(myLongExposureReadoutPeriodMs(&r), 300.0);
  // No packet size yet: the slowest rate instead of a division by zero.
  r.mF7BytesPerPacket = 0;
  r.mFirstRateItem = 1;
  EXPECT_NEAR(myLongExposureReadoutPeriodMs(&r), 2133.333333, 1e-5);
  r.mIsLongExposureCamera = 1;
  EXPECT_EQ(myLongExposureReadoutPeriodMs(&r), 0.0);
}

// ---------------------------------------------------------------- trigger scheme and shutter

TEST_F(LongExposureTest, TriggerFramesOnAndOffForBothPinSets) {
  Rig({SimPointGreyTriggerPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  MyDCAMCameraStruct* cam = record_->mCameraHandle;
  // Trigger control 0x830: mode in bits 16-19, source in 21-23, on 0x02000000.
  const Writes kIdle = {{0x1110, 0x80000000}, {0x1120, 0x80000000}, {0x1130, 0x80000000}, {0x1140, 0x80000000}};
  // The driver marks every control write present and on (0x82000000).
  Writes on0 = kIdle;
  on0.insert(on0.end(), {{0x830, 0x82010000}, {0x1110, 0x80000001}, {0x1120, 0x80010001}, {0x830, 0x82010000},
                         {0x830, 0x82010000}});
  Writes off0 = kIdle;
  off0.insert(off0.end(), {{0x1120, 0x80010001}, {0x830, 0x82000000}, {0x830, 0x80000000}});
  Writes on1 = kIdle;
  on1.insert(on1.end(), {{0x830, 0x82010000}, {0x1140, 0x80000001}, {0x1130, 0x80010001}, {0x830, 0x82610000},
                         {0x830, 0x82610000}});
  Writes off1 = kIdle;
  off1.insert(off1.end(), {{0x1130, 0x80010001}, {0x830, 0x82600000}, {0x830, 0x80600000}});

  MenuRef menu = GetMenuRef(2);
  size_t from = Sim().LogSize();
  EXPECT_EQ(myPGRStartStopTriggerFrames(cam, 1, 0), noErr);
  EXPECT_EQ(WritesSince(from), on0);
  if (menu) {
    EXPECT_FALSE(IsMenuItemEnabled(menu, 16));
  }
  from = Sim().LogSize();
  EXPECT_EQ(myPGRStartStopTriggerFrames(cam, 0, 0), noErr);
  EXPECT_EQ(WritesSince(from), off0);
  if (menu) {
    EXPECT_TRUE(IsMenuItemEnabled(menu, 16));
  }
  from = Sim().LogSize();
  EXPECT_EQ(myPGRStartStopTriggerFrames(cam, 1, 1), noErr);
  EXPECT_EQ(WritesSince(from), on1);
  from = Sim().LogSize();
  EXPECT_EQ(myPGRStartStopTriggerFrames(cam, 0, 1), noErr);
  EXPECT_EQ(WritesSince(from), off1);

  EXPECT_EQ(myPGRStartStopTriggerFrames(nullptr, 1, 0), -1);
  // The first failure ends the switch-on and is reported.
  Sim().FailRegister(0x1120, SimAccessKind::Write, kIOReturnNotResponding, 2);
  from = Sim().LogSize();
  testing::internal::CaptureStderr();
  const OSStatus err = myPGRStartStopTriggerFrames(cam, 1, 0);
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(err, noErr);
  char expected[96];
  snprintf(expected, sizeof expected, "ORX_TRIGGER_REG Mode_1  err =  %d 0x%X\n", int(err), UInt32(err));
  EXPECT_EQ(printed, expected);
  // The idle write of 0x1120 fails unheeded, the output pin's ends the
  // switch-on: neither the source nor the on/off switch is written (the mode
  // write keeps the source 3 of the last switch-off).
  const Writes failed = {{0x1110, 0x80000000}, {0x1130, 0x80000000}, {0x1140, 0x80000000}, {0x830, 0x82610000},
                         {0x1110, 0x80000001}};
  EXPECT_EQ(WritesSince(from), failed);
}

TEST_F(LongExposureTest, ShutterDrivesTheOutputPinAndRetriesABusyDriver) {
  Rig({SimPointGreyTriggerPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  MyDCAMCameraStruct* cam = record_->mCameraHandle;
  size_t from = Sim().LogSize();
  EXPECT_EQ(myPGROpenCloseShutter(cam, 1, 0), noErr);
  EXPECT_EQ(myPGROpenCloseShutter(cam, 0, 0), noErr);
  EXPECT_EQ(myPGROpenCloseShutter(cam, 1, 1), noErr);
  EXPECT_EQ(myPGROpenCloseShutter(cam, 0, 1), noErr);
  EXPECT_EQ(WritesSince(from),
            (Writes{{0x1120, 0x80010000}, {0x1120, 0x80010001}, {0x1130, 0x80010000}, {0x1130, 0x80010001}}));
  EXPECT_EQ(myPGROpenCloseShutter(nullptr, 1, 0), -1);

  const IOReturn busy = IOReturn(-9074);
  // Busy twice: the third write goes through.
  Sim().ClearLog();
  Sim().FailRegister(0x1120, SimAccessKind::Write, busy, 2);
  EXPECT_EQ(myPGROpenCloseShutter(cam, 0, 0), noErr);
  EXPECT_EQ(WriteAttempts(0x1120), 3u);
  // Busy throughout: three writes, and the busy status.
  Sim().ClearLog();
  Sim().FailRegister(0x1120, SimAccessKind::Write, busy, -1);
  EXPECT_EQ(myPGROpenCloseShutter(cam, 0, 0), -9074);
  EXPECT_EQ(WriteAttempts(0x1120), 3u);
  // Any other failure is not retried.
  Sim().ClearFaults();
  Sim().ClearLog();
  Sim().FailRegister(0x1120, SimAccessKind::Write, kIOReturnNotResponding, -1);
  EXPECT_NE(myPGROpenCloseShutter(cam, 0, 0), noErr);
  EXPECT_EQ(WriteAttempts(0x1120), 1u);
  Sim().ClearFaults();
}

// ---------------------------------------------------------------- one cycle of each scheme

TEST_F(LongExposureTest, STAPinCycle) {
  Rig({SimLongExposurePersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  TestClock clock;
  MyCameraWindowDataStruct* r = record_;
  r->mLongExposureMenu = 1;
  // As the exposure setter leaves it: transmission off, STA0 and STA2 high,
  // the read-out bit clear, the first exposure running.
  Sim().Poke(0x614, 0);
  Sim().Poke(0xF1C, 0x05000002);
  Sim().Poke(0xF20, 0);
  PrepareCycle(500.0, 0);
  size_t from = Sim().LogSize();
  ASSERT_EQ(myInstallLongExposureTimer(r, 500.0 * 0.05), 0);
  EXPECT_EQ(Load(r->mLongExposRun), 1);
  EXPECT_EQ(Load(r->mLongExposAlive), 1);

  // End: once the exposure time has passed. STA1 reads high again right
  // after the region pulse, and the pin write carries it over.
  clock.Advance(0.5);
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpReadout) == 1; }));
  EXPECT_EQ(WritesSince(from), (Writes{{0xF20, 0x00010000}, {0xF1C, 0x06010601}, {0x614, 0x80000000}}));
  EXPECT_EQ(Load(r->mLongExpFrameDone), 0);

  // The callback took the read-out: the next exposure starts.
  from = Sim().LogSize();
  const UInt64 before = SkyloomMicroseconds();
  clock.Advance(0.04);
  Store(r->mLongExpFrameDone, SInt32(1));
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpShowPending) == 1; }));
  EXPECT_EQ(Load(r->mLongExpReadout), 0);
  EXPECT_EQ(Load(r->mLongExpFrameDone), 0);
  EXPECT_EQ(Load(r->mExposureStartTime), before + 40000);
  EXPECT_EQ(Load(r->mCountdownTime), before + 40000);
  ASSERT_TRUE(WritesReach(from, 3));
  EXPECT_EQ(WritesSince(from), (Writes{{0x614, 0}, {0xF1C, 0x07010601}, {0xF20, 0}}));

  // Until the display has taken the cycle the exposure does not end.
  from = Sim().LogSize();
  clock.Advance(0.6);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(WritesSince(from).empty());
  Store(r->mLongExpShowPending, SInt32(0));
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpReadout) == 1; }));
  EXPECT_EQ(WritesSince(from), (Writes{{0xF20, 0x00010000}, {0xF1C, 0x06010601}, {0x614, 0x80000000}}));

  myRemoveLongExposureTimer(r);
  EXPECT_EQ(Load(r->mLongExposAlive), 0);
  EXPECT_EQ(r->mLongExposPthread, pthread_t{});
}

TEST_F(LongExposureTest, CycleWithoutSTAPins) {
  Rig({SimLongExposurePersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  MyCameraWindowDataStruct* r = record_;
  r->mLongExposureMenu = 0;
  // Iris control 0x824: present, on, the rate code as its value.
  PrepareCycle(1029.0, 0);
  Store(r->mLongExpShowPending, SInt32(1));
  size_t from = Sim().LogSize();
  ASSERT_EQ(myInstallLongExposureTimer(r, 133.0), 0);
  // No time test: the display's acknowledgement ends the exposure.
  Store(r->mLongExpShowPending, SInt32(0));
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpReadout) == 1; }));
  EXPECT_EQ(WritesSince(from), (Writes{{0x824, 0x82000004}, {0x614, 0x80000000}}));

  from = Sim().LogSize();
  Store(r->mLongExpFrameDone, SInt32(1));
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpShowPending) == 1; }));
  ASSERT_TRUE(WritesReach(from, 2));
  EXPECT_EQ(WritesSince(from), (Writes{{0x614, 0}, {0x824, 0x82000001}}));
}

TEST_F(LongExposureTest, TriggerSchemeCycle) {
  Rig({SimPointGreyTriggerPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  TestClock clock;
  MyCameraWindowDataStruct* r = record_;
  ASSERT_EQ(r->mIsPointGrey, 1);
  r->mPGRLongExposureOn = 1;
  r->mTrigger4Pin = 0;
  r->mFormat = 0;
  r->mFirstRateItem = 1;  // R = 2133.33 ms
  PrepareCycle(1000.0, 1);  // the first exposure is due at once
  size_t from = Sim().LogSize();
  ASSERT_EQ(myInstallLongExposureTimer(r, 1000.0), 0);
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpShowPending) == 1; }));
  EXPECT_EQ(WritesSince(from), (Writes{{0x1120, 0x80010000}}));
  const UInt64 start = Load(r->mExposureStartTime);
  EXPECT_EQ(start, SkyloomMicroseconds());

  // The display's tick; the shutter stays open until 1000 ms have passed.
  Store(r->mLongExpShowPending, SInt32(0));
  from = Sim().LogSize();
  clock.Advance(0.999);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(WritesSince(from).empty());
  clock.Advance(0.001);
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpReadout) == 1; }));
  EXPECT_EQ(WritesSince(from), (Writes{{0x1120, 0x80010001}}));

  // No frame within R: at E - 1000 >= R the thread makes the next exposure due itself.
  from = Sim().LogSize();
  clock.Advance(2.133);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(WritesSince(from).empty());
  clock.Advance(0.001);
  ASSERT_TRUE(WritesReach(from, 2));
  EXPECT_EQ(WritesSince(from), (Writes{{0x1120, 0x80010001}, {0x1120, 0x80010000}}));
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpShowPending) == 1; }));
  EXPECT_EQ(Load(r->mExposureStartTime), start + 3134000);

  // With the triggered frame taken by the callback the next one starts at once.
  Store(r->mLongExpShowPending, SInt32(0));
  clock.Advance(1.0);
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpReadout) == 1; }));
  from = Sim().LogSize();
  Store(r->mLongExpFrameDone, SInt32(1));
  ASSERT_TRUE(WritesReach(from, 1));
  EXPECT_EQ(WritesSince(from), (Writes{{0x1120, 0x80010000}}));
}

TEST_F(LongExposureTest, FailedShutterCloseIsPrintedAndTriedAgain) {
  Rig({SimPointGreyTriggerPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  TestClock clock;
  MyCameraWindowDataStruct* r = record_;
  r->mPGRLongExposureOn = 1;
  r->mFirstRateItem = 1;
  PrepareCycle(100.0, 1);
  ASSERT_EQ(myInstallLongExposureTimer(r, 100.0), 0);
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpShowPending) == 1; }));
  Sim().FailRegister(0x1120, SimAccessKind::Write, kIOReturnNotResponding, 1);
  testing::internal::CaptureStderr();
  const size_t from = Sim().LogSize();
  Store(r->mLongExpShowPending, SInt32(0));
  clock.Advance(0.1);
  ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpReadout) == 1; }));
  const std::string printed = testing::internal::GetCapturedStderr();
  char expected[96];
  snprintf(expected, sizeof expected, "---myPGROpenCloseShutter close Err 0x%X %d\n", UInt32(kIOReturnNotResponding),
           int(kIOReturnNotResponding));
  EXPECT_EQ(printed, expected);
  EXPECT_EQ(WritesSince(from), (Writes{{0x1120, 0x80010001}}));
}

// ---------------------------------------------------------------- frames on the simulated camera

TEST_F(LongExposureTest, TriggeredExposuresBringOneFrameEach) {
  Rig({SimPointGreyTriggerPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  MyCameraWindowDataStruct* r = record_;
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  Sim().Stream().SetClock(SimClock::Stepped);
  ASSERT_EQ(ORXDCAMSetFMR(cam, 0, 5, 7.5), noErr);
  Frames frames;
  ASSERT_EQ(ORXDCAMAllocateReleaseIsochChannel(cam, 1), noErr);
  ASSERT_EQ(ORXDCAMAssignCallback(cam, Frames::Callback, &frames), noErr);
  ASSERT_EQ(ORXDCAMStartStopVideo(cam, 1), noErr);
  ASSERT_EQ(myPGRStartStopTriggerFrames(cam, 1, 0), noErr);
  // Triggered: no free-running frames.
  EXPECT_EQ(Sim().Stream().StepBulkFrames(1, 200), 0);

  TestClock clock;
  r->mPGRLongExposureOn = 1;
  r->mFirstRateItem = 1;
  std::vector<double> levels;
  for (double exposureMs : {1000.0, 100.0}) {
    SCOPED_TRACE(exposureMs);
    PrepareCycle(exposureMs, 1);
    ASSERT_EQ(myInstallLongExposureTimer(r, exposureMs), 0);
    ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpShowPending) == 1; }));
    Store(r->mLongExpShowPending, SInt32(0));
    clock.Advance(exposureMs / 1000.0);
    ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpReadout) == 1; }));
    myRemoveLongExposureTimer(r);
    const size_t before = frames.Count();
    EXPECT_EQ(Sim().Stream().StepBulkFrames(1), 1);
    ASSERT_TRUE(Eventually([&] { return frames.Count() == before + 1; }));
    EXPECT_EQ(Sim().Stream().StepBulkFrames(1, 200), 0);  // one frame per exposure
    std::lock_guard<std::mutex> lock(frames.mutex);
    levels.push_back(MeanLevel(frames.frames.back()));
  }
  EXPECT_GT(levels[0], levels[1]);

  ORXDCAMAssignCallback(cam, nullptr, nullptr);
  ORXDCAMStartStopVideo(cam, 0);
  ORXDCAMAllocateReleaseIsochChannel(cam, 0);
}

// ---------------------------------------------------------------- starting and stopping

TEST_F(LongExposureTest, StopDuringAnHourLongExposure) {
  const struct {
    const char* what;
    SimCameraPersonality personality;
    UInt32 staPins;
  } kCases[] = {
      {"trigger scheme", SimPointGreyTriggerPersonality(), 0},
      {"STA pins", SimLongExposurePersonality(), 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    Rig({c.personality});
    ASSERT_EQ(OpenCamera(), noErr);
    MyCameraWindowDataStruct* r = record_;
    r->mPGRLongExposureOn = 1;
    r->mLongExposureMenu = c.staPins;
    PrepareCycle(3600000.0, c.staPins ? 0 : 1);
    ASSERT_EQ(myInstallLongExposureTimer(r, c.staPins ? 180000.0 : 3600000.0), 0);
    ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpShowPending) == 1 || c.staPins; }));
    Store(r->mLongExpShowPending, SInt32(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // into the thread's wait
    // The stop wakes the thread: it has left when the stop returns, and
    // everything is taken down.
    myRemoveLongExposureTimer(r);
    EXPECT_EQ(Load(r->mLongExposAlive), 0);
    EXPECT_EQ(Load(r->mLongExposRun), 0);
    EXPECT_EQ(r->mLongExposPthread, pthread_t{});
    EXPECT_EQ(Load(r->mLongExpReadout), 0);  // the hour had not passed
    myRemoveLongExposureTimer(r);  // nothing to do any more
    CloseCamera();
  }
}

TEST_F(LongExposureTest, StopKeepsEverythingWhileTheThreadIsHeldInARegisterAccess) {
  Rig({SimPointGreyTriggerPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  MyCameraWindowDataStruct* r = record_;
  r->mPGRLongExposureOn = 1;
  r->mFirstRateItem = 1;
  mySetLongExposureStopPolls(5);
  PrepareCycle(3600000.0, 1);
  Sim().HoldNextAccess(SimAccessKind::Write);  // the shutter's opening
  ASSERT_EQ(myInstallLongExposureTimer(r, 3600000.0), 0);
  ASSERT_TRUE(Sim().WaitUntilHeld());

  testing::internal::CaptureStderr();
  myRemoveLongExposureTimer(r);
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("myRemoveLongExposureTimer"), std::string::npos);
  // Nothing was destroyed: the thread and its objects are still the record's.
  EXPECT_NE(r->mLongExposPthread, pthread_t{});
  EXPECT_TRUE(myLongExposureThreadHoldsRecord(r));
  EXPECT_EQ(myInstallLongExposureTimer(r, 100.0), EBUSY);

  // Released, the thread finishes its write and leaves.
  Sim().ReleaseHeldAccess();
  ASSERT_TRUE(Eventually([&] { return !myLongExposureThreadHoldsRecord(r); }));
  EXPECT_EQ(Sim().Peek(0x1120), 0x80010000u);
  // A new thread starts where the old one was.
  PrepareCycle(100.0, 0);
  ASSERT_EQ(myInstallLongExposureTimer(r, 100.0), 0);
  myRemoveLongExposureTimer(r);
  EXPECT_EQ(r->mLongExposPthread, pthread_t{});
  // And a stop after the late leaving takes the leftovers down.
  Sim().HoldNextAccess(SimAccessKind::Write);
  PrepareCycle(3600000.0, 1);
  ASSERT_EQ(myInstallLongExposureTimer(r, 3600000.0), 0);
  ASSERT_TRUE(Sim().WaitUntilHeld());
  testing::internal::CaptureStderr();
  myRemoveLongExposureTimer(r);
  testing::internal::GetCapturedStderr();
  Sim().ReleaseHeldAccess();
  ASSERT_TRUE(Eventually([&] { return !myLongExposureThreadHoldsRecord(r); }));
  myRemoveLongExposureTimer(r);
  EXPECT_EQ(r->mLongExposPthread, pthread_t{});
}

TEST_F(LongExposureTest, StopsRaceRunningCycles) {
  Rig({SimPointGreyTriggerPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  MyCameraWindowDataStruct* r = record_;
  r->mPGRLongExposureOn = 1;
  r->mFormat = 7;  // short read-out period: 1280 x 960 x 8 bits in 4096-byte packets
  r->mWidth = 1280, r->mHeight = 960, r->mBitsPerPixel = 8;
  r->mF7BytesPerPacket = 40960;  // 15 ms
  std::atomic<bool> quit{false};
  // The callback and the display timer play their parts beside the thread.
  std::thread callback([&] {
    while (!quit) {
      if (Load(r->mLongExpReadout) != 0 && Load(r->mLongExpFrameDone) == 0) IncrementAtomic(&r->mLongExpFrameDone);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  std::thread display([&] {
    while (!quit) {
      if (Load(r->mLongExpShowPending) != 0) DecrementAtomic(&r->mLongExpShowPending);
      Load(r->mExposureStartTime);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  for (int i = 0; i < 12; i++) {
    PrepareCycle(2.0, 1);
    ASSERT_EQ(myInstallLongExposureTimer(r, 2.0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(i * 3));
    myRemoveLongExposureTimer(r);
    ASSERT_EQ(r->mLongExposPthread, pthread_t{});
    ASSERT_EQ(Load(r->mLongExposAlive), 0);
  }
  quit = true;
  callback.join();
  display.join();
}

}  // namespace
