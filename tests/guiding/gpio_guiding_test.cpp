// The camera's GPIO lines as a mount-control device, on the default rig's
// simulated camera: register writes of every command, and guide pulses.
#include <gtest/gtest.h>

#include <atomic>
#include <utility>
#include <vector>

#include "app/CameraWindowData.h"
#include "camera_driver/ORXDCAM.h"
#include "guiding/Guiding.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/simcamera/SimBus.h"

namespace {

using Writes = std::vector<std::pair<UInt32, UInt32>>;  // register, value

class GPIOGuidingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cameras_ = SimInstallRig({SimDefaultColourPersonality()});
    camera_ = ORXDCAMOpenACamera(UInt32(SimDefaultColourPersonality().guid));
    ASSERT_NE(camera_, nullptr);
    device_.mOpen = 1;
    device_.mKind = kMountCntlCameraGPIO;
    device_.mAdapterHandle = camera_;
    ASSERT_EQ(myInitMountCntlThreadObjects(&device_), noErr);
    record_.mScopeControlActive = 1;
    record_.mGuidingOn = 1;
    record_.mMountCntlDeviceKind = kMountCntlCameraGPIO;
    record_.mpMountCntlDevicePtr = &device_;
    cameras_[0]->ClearLog();
  }
  void TearDown() override {
    for (int i = 0; i < 2000 && std::atomic_ref<SInt32>(device_.mPulseThreadRunning).load() != 0; i++)
      SkyloomSleepMicroseconds(5000);
    pthread_mutex_destroy(&device_.mPulseMutex);
    pthread_cond_destroy(&device_.mPulseCondition);
    pthread_mutex_destroy(&device_.mReplyMutex);
    pthread_cond_destroy(&device_.mReplyCondition);
    if (camera_) ORXDCAMCloseACamera(camera_);
    SimRemoveRig();
  }
  Writes GPIOWrites() {
    Writes out;
    for (auto& e : cameras_[0]->Log())
      if (e.kind == SimLogKind::FWWrite && e.offset >= 0x1110 && e.offset <= 0x1140) out.push_back({e.offset, e.value});
    cameras_[0]->ClearLog();
    return out;
  }
  std::vector<std::shared_ptr<SimCamera>> cameras_;
  MyDCAMCameraStruct* camera_ = nullptr;
  MountCntlDevice device_{};
  MyCameraWindowDataStruct record_{};
};

TEST_F(GPIOGuidingTest, EveryCommandWritesItsRegister) {
  const UInt32 on = 0x80010001, off = 0x80010000;
  struct Case {
    UInt32 command;
    Writes writes;
    UInt32 ra, dec;
    UInt32 failing = 0;  // a register whose next write fails
  } cases[] = {
      {0, {{0x1110, on}}, 0, 3},
      {1, {{0x1120, on}}, 1, 3},
      {2, {{0x1140, on}}, 1, 2},
      {3, {{0x1130, on}}, 1, 3},
      {4, {{0x1110, off}}, 8, 3},
      {5, {{0x1120, off}}, 8, 3},
      {6, {{0x1140, off}}, 1, 8},
      {7, {{0x1130, off}}, 1, 8},
      {8, {{0x1110, off}, {0x1120, off}, {0x1130, off}, {0x1140, off}}, 8, 8},
      // Only the last write's result counts; all four are tried.
      {8, {{0x1110, off}, {0x1120, off}, {0x1130, off}, {0x1140, off}}, 8, 8, 0x1120},
      {8, {{0x1110, off}, {0x1120, off}, {0x1130, off}, {0x1140, off}}, 8, 8, 0x1140},
      {0, {{0x1110, on}}, 0, 3, 0x1110},  // the state follows a failed write
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.command << " failing " << std::hex << c.failing);
    if (c.failing) cameras_[0]->FailRegister(c.failing, SimAccessKind::Write, kIOReturnNotResponding, 1);
    device_.mRAAxisState = 1;
    device_.mDecAxisState = 3;
    OSStatus result = mySendMountCntlDevice(&device_, kMountCntlCameraGPIO, c.command, 0.0);
    bool lastFails = c.failing && (c.command != 8 || c.failing == 0x1140);
    if (lastFails)
      EXPECT_NE(result, noErr);
    else
      EXPECT_EQ(result, noErr);
    EXPECT_EQ(GPIOWrites(), c.writes);
    EXPECT_EQ(device_.mRAAxisState, c.ra);
    EXPECT_EQ(device_.mDecAxisState, c.dec);
  }
  EXPECT_EQ(mySendMountCntlDevice(&device_, kMountCntlCameraGPIO, 9, 0.0), -50);
  EXPECT_TRUE(GPIOWrites().empty());
}

TEST_F(GPIOGuidingTest, PulseTurnsTheLinesOnThenOff) {
  ASSERT_EQ(myKickOffSerialTimer(&record_, kMountRAWest, 300.0, kMountDecNorth, 120.0), noErr);
  for (int i = 0; i < 2000 && std::atomic_ref<SInt32>(record_.mPulsesPending).load() != 0; i++)
    SkyloomSleepMicroseconds(5000);
  auto lines = cameras_[0]->GPIOLineStates();
  std::vector<std::pair<int, bool>> got;
  for (auto& l : lines) got.push_back({l.line, l.on});
  // west (1) and north (2) on, north off, west off
  EXPECT_EQ(got, (std::vector<std::pair<int, bool>>{{1, true}, {2, true}, {2, false}, {1, false}}));
  for (size_t i = 1; i < lines.size(); i++) EXPECT_GE(lines[i].micros, lines[i - 1].micros);
}

TEST_F(GPIOGuidingTest, AFailedSecondStartStopsTheFirstAxis) {
  cameras_[0]->FailRegister(0x1130, SimAccessKind::Write, kIOReturnNotResponding, 1);
  testing::internal::CaptureStderr();
  EXPECT_NE(myKickOffSerialTimer(&record_, kMountRAWest, 300.0, kMountDecNorth, 120.0), noErr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(GPIOWrites(), (Writes{{0x1120, 0x80010001}, {0x1130, 0x80010001}, {0x1120, 0x80010000}}));
  EXPECT_EQ(std::atomic_ref<SInt32>(record_.mPulsesPending).load(), 0);
  EXPECT_EQ(std::atomic_ref<SInt32>(record_.mPulseInProgress).load(), 0);
}

TEST(SimCameraGPIO, WithoutTheOptionTheRegistersFail) {
  SimCameraPersonality p = SimDefaultColourPersonality();
  p.gpioLines = false;
  auto cameras = SimInstallRig({p});
  MyDCAMCameraStruct* camera = ORXDCAMOpenACamera(UInt32(p.guid));
  ASSERT_NE(camera, nullptr);
  UInt32 v = 0;
  for (UInt32 reg : {0x1110u, 0x1120u, 0x1130u, 0x1140u}) {
    EXPECT_NE(ORXDCAMGetQuadlet(camera, 0, reg, 0, &v), noErr);
    EXPECT_NE(ORXDCAMSetQuadlet(camera, 0, reg, 0, 0x80010001), noErr);
  }
  ORXDCAMCloseACamera(camera);
  SimRemoveRig();
  // With them (the default rig's camera) the lines read released.
  cameras = SimInstallRig({SimDefaultColourPersonality()});
  camera = ORXDCAMOpenACamera(UInt32(p.guid));
  ASSERT_NE(camera, nullptr);
  for (UInt32 reg : {0x1110u, 0x1120u, 0x1130u, 0x1140u}) {
    EXPECT_EQ(ORXDCAMGetQuadlet(camera, 0, reg, 0, &v), noErr);
    EXPECT_EQ(v, 0x80010000u);
  }
  ORXDCAMCloseACamera(camera);
  SimRemoveRig();
}

}  // namespace
