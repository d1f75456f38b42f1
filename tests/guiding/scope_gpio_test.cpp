// Scope-control runs on the camera's GPIO lines: which cameras are probed for
// them, the shortest pulse timed on them, and a mount that refuses the first
// stop. The default rig's camera has the lines; no serial port or adapter is
// listed, so the lines are the only mount there is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera_driver/ORXDCAM.h"
#include "platform/simcamera/SimBus.h"
#include "tests/guiding/ScopeFixture.h"

namespace {

constexpr UInt32 kEast = 0x1110;

class ScopeGPIOTest : public ScopeTest {
 protected:
  void SetUp() override {
    ScopeTest::SetUp();
    if (HasFatalFailure()) return;
    cameras_ = SimInstallRig({SimDefaultColourPersonality()});
    camera_ = ORXDCAMOpenACamera(UInt32(SimDefaultColourPersonality().guid));
    ASSERT_NE(camera_, nullptr);
    SimInstallMount({}, {});
    record_->mCameraHandle = camera_;
    record_->mIsPointGrey = 1;
    cameras_[0]->ClearLog();
  }
  void TearDown() override {
    if (record_) myStopLXScopeControl(record_);
    if (camera_) ORXDCAMCloseACamera(camera_);
    SimRemoveRig();
    ScopeTest::TearDown();
  }
  // GPIO registers the camera answered reads of, in order.
  std::vector<UInt32> GPIOReads() {
    std::vector<UInt32> out;
    for (const SimLogEntry& e : cameras_[0]->Log())
      if (e.kind == SimLogKind::FWRead && e.status == 0 && e.offset >= 0x1110 && e.offset <= 0x1140)
        out.push_back(e.offset);
    return out;
  }
  int LineOffWrites(UInt32 offset) {
    int n = 0;
    for (const SimLogEntry& e : cameras_[0]->Log())
      if (e.kind == SimLogKind::FWWrite && e.offset == offset && e.value == 0x80010000u && e.status == 0) n++;
    return n;
  }

  std::vector<std::shared_ptr<SimCamera>> cameras_;
  MyDCAMCameraStruct* camera_ = nullptr;
};

TEST_F(ScopeGPIOTest, LinesAreTimedForTheShortestPulse) {
  skyloom::ui::ScriptedUser user;
  int writes = -1;
  user.Do([&] {
    EXPECT_EQ(record_->mMountCntlDeviceKind, UInt32(kMountCntlCameraGPIO));
    EXPECT_EQ(record_->mpMountCntlDevicePtr->mAdapterHandle, camera_);
    // The initial stop-all releases each line once, then 30 timed writes.
    writes = LineOffWrites(kEast);
    EXPECT_GT(record_->mMinPulseMs, 0.0);
    EXPECT_FALSE(IsControlEnabled(Control(FOUR_CHAR_CODE("SPED"))));
  });
  user.ClickCancel();
  EXPECT_EQ(CommandLXCT(record_), noErr);
  EXPECT_EQ(GPIOReads(), (std::vector<UInt32>{0x1110, 0x1120, 0x1130, 0x1140}));
  EXPECT_EQ(writes, 31);
  EXPECT_TRUE(user.Errors().empty());
  ExpectNoRun();
}

struct Probe {
  const char* name;
  UInt8 pointGrey, boardType3, pgrl;
  UInt32 trigger;
  bool failThirdRead;
  std::vector<UInt32> reads;
};

class ScopeProbeTest : public ScopeGPIOTest, public ::testing::WithParamInterface<Probe> {};

// Without the lines there is no mount at all here: the start fails after the
// "no device" alert.
TEST_P(ScopeProbeTest, OnlyAFreePointGreyCameraIsProbed) {
  const Probe& p = GetParam();
  MyCameraWindowDataStruct& r = *record_;
  r.mIsPointGrey = p.pointGrey;
  r.mPointGreyBayer = p.boardType3;
  r.mPGRLongExposure = p.pgrl;
  r.mTriggerItem = p.trigger;
  if (p.failThirdRead) cameras_[0]->FailRegister(0x1130, SimAccessKind::Read, kIOReturnError, 1);
  skyloom::ui::ScriptedUser user;
  user.AnswerAlert();
  EXPECT_EQ(CommandLXCT(record_), memFullErr);
  EXPECT_EQ(GPIOReads(), p.reads);
  EXPECT_EQ(skyloom::ui::Alerts().size(), 1u);
  EXPECT_TRUE(user.Errors().empty());
  ExpectNoRun();
}

INSTANTIATE_TEST_SUITE_P(Cameras, ScopeProbeTest,
                         ::testing::Values(Probe{"NotPointGrey", 0, 0, 0, 0, false, {}},
                                           Probe{"BoardType3", 1, 1, 0, 0, false, {}},
                                           Probe{"PGRLongExposure", 1, 0, 1, 0, false, {}},
                                           Probe{"TriggerOn", 1, 0, 0, 1, false, {}},
                                           Probe{"ThirdReadFails", 1, 0, 0, 0, true, {0x1110, 0x1120}}),
                         [](const ::testing::TestParamInfo<Probe>& info) { return std::string(info.param.name); });

TEST_F(ScopeGPIOTest, ARefusedFirstStopEndsTheStart) {
  // Stop-all releases the four lines and answers the last write's status.
  cameras_[0]->FailRegister(0x1140, SimAccessKind::Write, kIOReturnNotResponding);
  skyloom::ui::ScriptedUser user;
  testing::internal::CaptureStderr();
  const OSStatus err = CommandLXCT(record_);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, OSStatus(kIOReturnNotResponding));
  char line[128];
  snprintf(line, sizeof line, "myStartControlLXScope: mySendMountCntlDevice() Stop failed %d\n", int(err));
  EXPECT_NE(out.find(line), std::string::npos) << out;
  EXPECT_NE(out.find("bailing"), std::string::npos) << out;
  EXPECT_TRUE(user.Errors().empty());
  cameras_[0]->ClearFaults();
  ExpectNoRun();
}

}  // namespace
