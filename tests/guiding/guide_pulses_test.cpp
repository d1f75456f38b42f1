// Guide pulses on the simulated LX200 mount and the simulated GPUSB: order
// of the starts and stops, refusals, cancel, failed starts, and the counters
// the frame pipeline watches.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/Guiding.h"
#include "tests/guiding/MountFixture.h"

namespace {

using Texts = std::vector<std::string>;

SInt32 Load(SInt32& v) { return std::atomic_ref<SInt32>(v).load(); }

// Waits until the pulse has settled (a generous guard, not a time asserted).
void WaitSettled(MyCameraWindowDataStruct& record) {
  for (int i = 0; i < 2000 && (Load(record.mPulseInProgress) != 0 ||
                               Load(record.mpMountCntlDevicePtr->mPulseThreadRunning) != 0);
       i++)
    SkyloomSleepMicroseconds(5000);
  EXPECT_EQ(Load(record.mpMountCntlDevicePtr->mPulseThreadRunning), 0);
}

class GuidePulsesTest : public SerialMountTest {
 protected:
  void SetUp() override {
    SerialMountTest::SetUp();
    port_->SetProtocol(SimMountProtocol::LX200);
    record_ = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
    record_->mScopeControlActive = 1;
    record_->mGuidingOn = 1;
    record_->mMountCntlDeviceKind = kMountCntlLX200;
    record_->mpMountCntlDevicePtr = device_;
  }
  void TearDown() override {
    gMountTestPausePoint = nullptr;
    WaitSettled(*record_);
    free(record_);
    SerialMountTest::TearDown();
  }
  MyCameraWindowDataStruct* record_ = nullptr;
};

TEST_F(GuidePulsesTest, TwoAxesStartTogetherAndStopShorterFirst) {
  ASSERT_EQ(myKickOffSerialTimer(record_, kMountRAWest, 300.0, kMountDecNorth, 120.0), noErr);
  EXPECT_EQ(Load(record_->mPulseInProgress), 1);
  EXPECT_EQ(Load(record_->mPulsesPending), 1);
  // Refused while the pulse runs (and settles): nothing is sent.
  EXPECT_EQ(myKickOffSerialTimer(record_, kMountRAEast, 50.0, kMountDecSouth, 50.0), -50);
  WaitSettled(*record_);
  EXPECT_EQ(CommandTexts(), (Texts{"#:Mw#", "#:Mn#", "#:Qn#", "#:Qw#"}));
  EXPECT_EQ(Load(record_->mPulseInProgress), 0);

  // The same pulse through a NexStar mount: packets instead of text, the
  // same guide lines as the LX200 commands (and as the adapters' lines).
  std::vector<std::pair<int, bool>> lx200;
  for (auto& l : port_->LineStates()) lx200.push_back({l.line, l.on});
  EXPECT_EQ(lx200, (std::vector<std::pair<int, bool>>{{1, true}, {2, true}, {2, false}, {1, false}}));
  port_->ClearReceived();
  port_->SetProtocol(SimMountProtocol::NexStar);
  record_->mMountCntlDeviceKind = kMountCntlNexStar;
  testing::internal::CaptureStderr();
  ASSERT_EQ(myKickOffSerialTimer(record_, kMountRAWest, 300.0, kMountDecNorth, 120.0), noErr);
  WaitSettled(*record_);
  testing::internal::GetCapturedStderr();
  std::vector<std::pair<int, bool>> nexStar;
  for (auto& l : port_->LineStates()) nexStar.push_back({l.line, l.on});
  EXPECT_EQ(nexStar, lx200);
  EXPECT_EQ(Load(record_->mPulsesPending), 0);
  EXPECT_EQ(device_->mRAAxisState, kMountAxisStopped);
  EXPECT_EQ(device_->mDecAxisState, kMountAxisStopped);
}

TEST_F(GuidePulsesTest, OrderOfThePairAndOneAxisPulses) {
  struct Case {
    UInt32 a;
    double msA;
    UInt32 b;
    double msB;
    Texts sent;
  } cases[] = {
      {kMountRAEast, 40.0, kMountDecSouth, 40.0, {"#:Ms#", "#:Me#", "#:Qe#", "#:Qs#"}},  // equal: B first
      {kMountRAEast, 10.0, kMountDecSouth, 40.0, {"#:Ms#", "#:Me#", "#:Qe#", "#:Qs#"}},
      {kMountRAWest, 30.0, kMountDecNorth, -1.0, {"#:Mw#", "#:Qw#"}},
      {kMountDecNorth, -1.0, kMountRAEast, 20.0, {"#:Me#", "#:Qe#"}},
      {kMountStopAll, 20.0, kMountRAEast, -1.0, {"#:Q#"}},  // the stop of stop-all is nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent[0]);
    port_->ClearReceived();
    record_->mGuidingOn = 0;  // a full second of settle: the pulse thread's other branch
    ASSERT_EQ(myKickOffSerialTimer(record_, c.a, c.msA, c.b, c.msB), noErr);
    WaitSettled(*record_);
    EXPECT_EQ(CommandTexts(), c.sent);
    EXPECT_EQ(Load(record_->mPulsesPending), 0);
  }
}

TEST_F(GuidePulsesTest, RefusedWithoutScopeControlOrDevice) {
  record_->mScopeControlActive = 0;
  EXPECT_EQ(myKickOffSerialTimer(record_, kMountRAWest, 100.0, kMountDecNorth, 50.0), -50);
  record_->mScopeControlActive = 1;
  record_->mpMountCntlDevicePtr = nullptr;
  EXPECT_EQ(myKickOffSerialTimer(record_, kMountRAWest, 100.0, kMountDecNorth, 50.0), -50);
  record_->mpMountCntlDevicePtr = device_;
  EXPECT_EQ(myKickOffSerialTimer(nullptr, kMountRAWest, 100.0, kMountDecNorth, 50.0), -50);
  EXPECT_EQ(Load(record_->mPulsesPending), 0);
  ASSERT_EQ(mySendMountCntlDevice(device_, kMountCntlLX200, kMountGuideRate, 0.0), noErr);
  EXPECT_EQ(WaitBytes(5).size(), 5u);  // only the marker went out
}

TEST_F(GuidePulsesTest, CancelMidPulseStopsAllAndLowersThePending) {
  ASSERT_EQ(myKickOffSerialTimer(record_, kMountRAWest, 5000.0, kMountDecNorth, -1.0), noErr);
  WaitCommands(1);
  myCancelTimerThread(record_);
  WaitCommands(3);
  EXPECT_EQ(CommandTexts(), (Texts{"#:Mw#", "#:Qw#", "#:Q#"}));
  EXPECT_EQ(Load(record_->mPulsesPending), 0);
  EXPECT_EQ(Load(record_->mPulseInProgress), 0);
  // With no pulse, cancel still stops all and never lowers below 0.
  myCancelTimerThread(record_);
  EXPECT_EQ(Load(record_->mPulsesPending), 0);
  EXPECT_EQ(WaitCommands(4).back().Text(), "#:Q#");
}

// The pulse thread is held just before it lowers its counters.
std::atomic<bool> gHeld{false}, gRelease{false};
std::atomic<int> gCancelWaits{0};
MyCameraWindowDataStruct* gRecord = nullptr;
bool gStopLowersToo = false;
void Hold(int where) {
  if (where == kMountPausePulseBeforeCounters) {
    // Scope-control stop lowering the pending count at this moment.
    if (gStopLowersToo) myDecrementIfPositive(&gRecord->mPulsesPending);
    gHeld = true;
    while (!gRelease.load()) std::this_thread::yield();
  } else if (where == kMountPauseCancelWaiting) {
    gCancelWaits++;
    gRelease = true;  // cancel has arrived and waits: let the thread go on
  }
}

TEST_F(GuidePulsesTest, CancelOrStopWhileTheThreadLowersItsCountersNeverGoesBelowZero) {
  for (bool stopLowers : {false, true}) {
    SCOPED_TRACE(stopLowers);
    gHeld = false;
    gRelease = false;
    gCancelWaits = 0;
    gRecord = record_;
    gStopLowersToo = stopLowers;
    gMountTestPausePoint = Hold;
    ASSERT_EQ(myKickOffSerialTimer(record_, kMountRAWest, 10.0, kMountDecNorth, -1.0), noErr);
    while (!gHeld.load()) std::this_thread::yield();
    EXPECT_EQ(Load(record_->mPulsesPending), stopLowers ? 0 : 1);
    std::thread cancel([&] { myCancelTimerThread(record_); });
    cancel.join();
    gMountTestPausePoint = nullptr;
    EXPECT_GE(gCancelWaits.load(), 1);
    EXPECT_EQ(Load(record_->mPulsesPending), 0);
    EXPECT_EQ(Load(record_->mPulseInProgress), 0);
    EXPECT_EQ(Load(device_->mPulseThreadRunning), 0);
  }
}

// The same pulse on the GPUSB: line 1 (RA west) and 3 (Dec north) on, then
// off in order; a second start that fails stops the first axis.
class GPUSBPulsesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adapter_ = std::make_shared<SimGPUSB>(17);
    SimInstallMount({}, {adapter_});
    gpusb_ = myOpenGPUSBDevice();
    ASSERT_NE(gpusb_, nullptr);
    device_.mOpen = 1;
    device_.mKind = kMountCntlGPUSB;
    device_.mAdapterHandle = gpusb_;
    ASSERT_EQ(myInitMountCntlThreadObjects(&device_), noErr);
    record_.mScopeControlActive = 1;
    record_.mGuidingOn = 1;
    record_.mMountCntlDeviceKind = kMountCntlGPUSB;
    record_.mpMountCntlDevicePtr = &device_;
    adapter_->ClearWrites();
  }
  void TearDown() override {
    WaitSettled(record_);
    pthread_mutex_destroy(&device_.mPulseMutex);
    pthread_cond_destroy(&device_.mPulseCondition);
    pthread_mutex_destroy(&device_.mReplyMutex);
    pthread_cond_destroy(&device_.mReplyCondition);
    myCloseGPUSB(gpusb_);
    SimRemoveMount();
  }
  std::vector<std::pair<UInt32, SInt32>> Lines() {
    std::vector<std::pair<UInt32, SInt32>> out;
    for (auto& w : adapter_->Writes()) out.push_back({w.element - 9, w.value});
    return out;
  }
  std::shared_ptr<SimGPUSB> adapter_;
  GPUSBDevice* gpusb_ = nullptr;
  MountCntlDevice device_{};
  MyCameraWindowDataStruct record_{};
};

TEST_F(GPUSBPulsesTest, LinesGoOnThenOffInOrder) {
  ASSERT_EQ(myKickOffSerialTimer(&record_, kMountRAWest, 300.0, kMountDecNorth, 120.0), noErr);
  WaitSettled(record_);
  EXPECT_EQ(Lines(), (std::vector<std::pair<UInt32, SInt32>>{{1, 1}, {3, 1}, {3, 0}, {1, 0}}));
  // As guide lines: west (1) and north (2) on, north off, west off.
  std::vector<std::pair<int, bool>> lines;
  for (auto& l : adapter_->LineStates()) lines.push_back({l.line, l.on});
  EXPECT_EQ(lines, (std::vector<std::pair<int, bool>>{{1, true}, {2, true}, {2, false}, {1, false}}));
  auto w = adapter_->Writes();
  for (size_t i = 1; i < w.size(); i++) EXPECT_GE(w[i].micros, w[i - 1].micros);
  EXPECT_EQ(Load(record_.mPulsesPending), 0);
}

TEST_F(GPUSBPulsesTest, AFailedSecondStartStopsTheFirstAxis) {
  adapter_->FailWritesAfter(1, 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(myKickOffSerialTimer(&record_, kMountRAWest, 300.0, kMountDecNorth, 120.0), kIOReturnNotResponding);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("myKickOffSerialTimer mySendMountCntlDevice() for uCommand2 3 Failed"), std::string::npos) << err;
  EXPECT_EQ(Lines(), (std::vector<std::pair<UInt32, SInt32>>{{1, 1}, {1, 0}}));
  EXPECT_EQ(Load(record_.mPulseInProgress), 0);
  EXPECT_EQ(Load(record_.mPulsesPending), 0);
  EXPECT_EQ(device_.mRAAxisState, kMountAxisStopped);
}

}  // namespace
