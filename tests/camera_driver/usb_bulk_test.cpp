// USB bulk reception and frame delivery on a simulated USB camera.
#include <string>
#include <thread>

#include "platform/coreservices/CoreServices.h"
#include "tests/camera_driver/stream_fixture.h"

namespace {

class USBStreamTest : public DCAMTest {
 protected:
  void SetUp() override {
    DCAMTest::SetUp();
    sim_ = Rig({SimUSBPersonality()})[0];
    sim_->Stream().SetClock(SimClock::Stepped);
    camera_ = ORX_DCAM_OpenACamera(0x1A2B);
    ASSERT_NE(camera_, nullptr);
  }
  void TearDown() override {
    if (camera_) {
      EXPECT_EQ(ORX_DCAM_CloseACamera(camera_), noErr);
    }
    camera_ = nullptr;
    myAStore(&gDCAMCallbackWaitPolls, UInt32(10000));
    ExpectNothingLeft();
    DCAMTest::TearDown();
  }
  // Mode, receive path, callback and video on.
  void Start(const StreamMode& mode, FrameCollector* collector) {
    SetStreamMode(camera_, *sim_, mode);
    ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
    if (collector) {
      ASSERT_EQ(ORX_DCAM_AssignCallback(camera_, FrameCollector::Callback, collector), noErr);
    }
    ASSERT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), noErr);
  }
  void Stop() {
    EXPECT_EQ(ORX_DCAM_AssignCallback(camera_, nullptr, nullptr), noErr);
    EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 0), noErr);
    EXPECT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 0), noErr);
  }
  // Register writes of 0x614, stall clears and bulk reads, in order.
  std::vector<std::string> StreamLog() {
    std::vector<std::string> out;
    for (const SimLogEntry& e : sim_->Log()) {
      if (e.kind == SimLogKind::USBControl && e.offset == 0x614 && e.setup.bmRequestType == 0x40)
        out.push_back(e.value ? "on" : "off");
      else if (e.kind == SimLogKind::USBClearStall)
        out.push_back("clear");
      else if (e.kind == SimLogKind::USBBulkRead)
        out.push_back(e.status == kIOReturnSuccess ? "read" : "read-failed");
      else if (e.kind == SimLogKind::USBAbort)
        out.push_back("abort");
    }
    return out;
  }
  std::shared_ptr<SimCamera> sim_;
  MyDCAMCameraStruct* camera_ = nullptr;
};

TEST(USBBulkSizes, ReadSizeAndGoodFrames) {
  struct Case {
    UInt32 frame, mps, readSize, bytes;
    IOReturn status;
    bool good;
  };
  const Case cases[] = {
      {307200, 512, 307200, 307200, 0, true},  {307200, 512, 307200, 307199, 0, false},
      {100000, 512, 100352, 100000, 0, true},  {100000, 512, 100352, 100352, 0, true},
      {100000, 512, 100352, 99999, 0, false},  {307200, 512, 307200, 307200, kIOUSBPipeStalled, false},
      {100000, 512, 100352, 100352, kIOReturnOverrun, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(myUSBBulkReadSize(c.frame, c.mps), c.readSize) << c.frame;
    EXPECT_EQ(myUSBIsGoodFrame(c.frame, c.readSize, c.status, c.bytes), c.good) << c.frame << " " << c.bytes;
  }
}

TEST_F(USBStreamTest, CallsOutOfOrderAreRefused) {
  EXPECT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), paramErr);  // no format yet
  EXPECT_EQ(ORX_DCAM_ResumePauseVideo(camera_, 0), paramErr);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), paramErr);
  SetStreamMode(camera_, *sim_, kMono8VGA);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), paramErr);  // before the receive path
  EXPECT_EQ(ORX_DCAM_SixteenBitUpShiftAmount(camera_, 8), paramErr);
  EXPECT_EQ(ORX_DCAM_SixteenBitUpShiftAmount(camera_, 7), noErr);
  EXPECT_EQ(ORX_DCAM_AssignCallback(nullptr, FrameCollector::Callback, nullptr), kIOReturnNoDevice);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(nullptr, 1), kIOReturnNoDevice);
  EXPECT_EQ(ORX_DCAM_StartStopISOCHTransfer(nullptr, 1), kIOReturnNoDevice);
  EXPECT_EQ(ORX_DCAM_ResumePauseVideo(nullptr, 1), kIOReturnNoDevice);
  EXPECT_EQ(ORX_DCAM_SixteenBitEndianSwap(nullptr, 1), kIOReturnNoDevice);
}

TEST_F(USBStreamTest, HundredFramesArriveEqualToTheCamerasInHostOrder) {
  for (const StreamMode* mode : {&kMono8VGA, &kMono16VGA}) {
    const bool swap = mode->bits == 16 && kDCAMHostIsLittleEndian;
    FrameCollector frames;
    frames.swapped16 = swap;
    Start(*mode, &frames);
    const UInt32 first = sim_->Stream().NextFrameID();
    for (int i = 0; i < 100; i++) {
      ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
      ASSERT_TRUE(frames.WaitFor(i + 1)) << i;
      ASSERT_TRUE(WaitCallbackIdle(camera_));
    }
    Stop();
    ASSERT_EQ(frames.count, 100);
    for (int i = 0; i < 100; i++) {
      EXPECT_EQ(frames.startIDs[size_t(i)], first + UInt32(i));
      ASSERT_EQ(frames.frames[size_t(i)], HostOrderReference(*sim_, first + UInt32(i), swap)) << i;
    }
  }
}

TEST_F(USBStreamTest, StartPulsesTransmissionBeforeTheFirstRead) {
  SetStreamMode(camera_, *sim_, kMono8VGA);
  sim_->ClearLog();
  ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
  ASSERT_TRUE(sim_->Stream().WaitForBulkRead());
  EXPECT_EQ(StreamLog(), (std::vector<std::string>{"on", "off", "read"}));
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), noErr);
  EXPECT_TRUE(sim_->Stream().IsoEnabled());
}

TEST_F(USBStreamTest, StallsAreClearedWithTransmissionOffAndOn) {
  FrameCollector frames;
  Start(kMono8VGA, &frames);
  // A stalled transfer (a bad frame), then a stall met when queueing again
  // after a good frame.
  for (SimBulkFault fault : {SimBulkFault::Stall, SimBulkFault::StallAfter}) {
    sim_->ClearLog();
    sim_->Stream().InjectBulkFault(fault);
    ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
    const std::vector<std::string> expected =
        fault == SimBulkFault::Stall ? std::vector<std::string>{"off", "clear", "on", "read"}
                                     : std::vector<std::string>{"read-failed", "off", "clear", "on", "read"};
    EXPECT_EQ(StreamLog(), expected);
  }
  EXPECT_EQ(frames.WaitFor(1), true);  // the good frame
  ASSERT_TRUE(WaitCallbackIdle(camera_));
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  EXPECT_TRUE(frames.WaitFor(2));
  Stop();
}

TEST_F(USBStreamTest, ShortAndOverrunTransfersAreDroppedAndTheSlotReused) {
  FrameCollector frames;
  Start(kMono8VGA, &frames);
  const UInt32 first = sim_->Stream().NextFrameID();
  sim_->Stream().InjectBulkFault(SimBulkFault::Short);
  sim_->Stream().InjectBulkFault(SimBulkFault::Overrun);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(3), 3);
  ASSERT_TRUE(frames.WaitFor(1));
  EXPECT_EQ(myALoad(&camera_->mFrameCounter), 1u);
  ASSERT_TRUE(WaitCallbackIdle(camera_));
  sim_->Stream().InjectBulkFault(SimBulkFault::Slow);  // late, but whole
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(frames.WaitFor(2));
  Stop();
  ASSERT_EQ(frames.count, 2);
  EXPECT_EQ(frames.startIDs[0], first + 2);
  EXPECT_EQ(frames.endIDs[0], first + 2);
  EXPECT_EQ(frames.startIDs[1], first + 3);
}

TEST_F(USBStreamTest, StopAbortsTheOutstandingReadAndQueuesNoMore) {
  Start(kMono8VGA, nullptr);
  ASSERT_TRUE(sim_->Stream().WaitForBulkRead());
  sim_->ClearLog();
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 0), noErr);
  EXPECT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 0), noErr);
  EXPECT_FALSE(sim_->Stream().BulkReadOutstanding());
  EXPECT_EQ(StreamLog(), (std::vector<std::string>{"off", "off", "abort"}));
  EXPECT_EQ(myAtomicLoad(&camera_->mIOAlive), 0);
  EXPECT_EQ(camera_->mChannelAllocated, 0);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), paramErr);
}

TEST_F(USBStreamTest, AFailingEventSourceLeavesNoChannelAndAStopIsSafe) {
  SetStreamMode(camera_, *sim_, kMono8VGA);
  sim_->FailStep(IOKitStep::USBAsyncEventSource, kIOReturnNoMemory);
  EXPECT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), kIOReturnNoMemory);
  EXPECT_EQ(camera_->mChannelAllocated, 0);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), paramErr);
  EXPECT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 0), noErr);
  sim_->ClearFaults();
  EXPECT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
}

TEST_F(USBStreamTest, ClosingAStreamingCameraStopsEverything) {
  FrameCollector frames;
  Start(kMono8VGA, &frames);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(2), 2);
  ASSERT_TRUE(frames.WaitFor(1));
  EXPECT_EQ(ORX_DCAM_CloseACamera(camera_), noErr);
  camera_ = nullptr;
  EXPECT_FALSE(sim_->Stream().IsoEnabled());
  EXPECT_FALSE(sim_->Stream().BulkReadOutstanding());
}

// Releasing the receive path while the camera sends, then building it and
// starting video again: the camera must be switched on again and frames
// come, never a 0 answer with the camera left off.
TEST_F(USBStreamTest, ReleasingTheReceivePathWhileSendingThenStartingAgain) {
  FrameCollector frames;
  frames.keepFrames = false;
  Start(kMono8VGA, &frames);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(frames.WaitFor(1));
  ASSERT_TRUE(WaitCallbackIdle(camera_));
  ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 0), noErr);
  EXPECT_FALSE(sim_->Stream().IsoEnabled());
  ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
  ASSERT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), noErr);
  EXPECT_TRUE(sim_->Stream().IsoEnabled());
  const UInt32 next = sim_->Stream().NextFrameID();
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(frames.WaitFor(2));
  Stop();
  EXPECT_EQ(frames.startIDs[1], next);
  EXPECT_EQ(frames.endIDs[1], next);
}

// ---- delivery ----

TEST_F(USBStreamTest, ReassigningTheCallbackWhileStreamingKeepsTheStream) {
  FrameCollector a, b;
  Start(kMono8VGA, &a);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(a.WaitFor(1));
  ASSERT_TRUE(WaitCallbackIdle(camera_));
  ASSERT_EQ(ORX_DCAM_AssignCallback(camera_, FrameCollector::Callback, &b), noErr);
  const UInt32 next = sim_->Stream().NextFrameID();
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(b.WaitFor(1));
  Stop();
  EXPECT_EQ(a.count, 1);
  EXPECT_EQ(b.startIDs[0], next);
}

TEST_F(USBStreamTest, PauseRestartsTheAccumulatedTime) {
  FrameCollector frames;
  frames.keepFrames = false;
  const UInt64 started = SkyloomMicroseconds();
  Start(kMono8VGA, &frames);
  for (int i = 0; i < 3; i++) {
    ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
    ASSERT_TRUE(frames.WaitFor(i + 1));
    ASSERT_TRUE(WaitCallbackIdle(camera_));
  }
  const UInt64 beforePause = SkyloomMicroseconds();
  EXPECT_EQ(ORX_DCAM_ResumePauseVideo(camera_, 0), noErr);
  EXPECT_EQ(myALoad(&camera_->mAccumulatedTime), 0.0);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(2), 2);  // not delivered while paused
  EXPECT_EQ(ORX_DCAM_ResumePauseVideo(camera_, 1), noErr);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(frames.WaitFor(4));
  const double sincePause = double(SkyloomMicroseconds() - beforePause) * 0.001;
  const double sinceStart = double(SkyloomMicroseconds() - started) * 0.001;
  Stop();
  EXPECT_EQ(frames.count, 4);
  // The time restarts at the pause: the frame after it carries no more than
  // the time since, while before it the time only grew.
  EXPECT_GE(frames.accumulated[2], frames.accumulated[1]);
  EXPECT_LE(frames.accumulated[3], sincePause);
  EXPECT_LE(frames.accumulated[2], sinceStart);
}

TEST_F(USBStreamTest, ASlowCallbackGetsTheNewestWholeFrames) {
  FrameCollector frames;
  frames.keepFrames = false;
  frames.block = true;
  Start(kMono8VGA, &frames);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(frames.WaitInside());
  // While the callback holds the first frame, three more complete; only the
  // last of them is delivered next.
  ASSERT_EQ(sim_->Stream().StepBulkFrames(3), 3);
  const UInt32 newest = sim_->Stream().NextFrameID() - 1;
  frames.block = false;
  ASSERT_TRUE(frames.WaitFor(1));
  ASSERT_TRUE(WaitCallbackIdle(camera_));
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(frames.WaitFor(2));
  Stop();
  for (int i = 0; i < frames.count; i++) EXPECT_EQ(frames.startIDs[size_t(i)], frames.endIDs[size_t(i)]);
  EXPECT_EQ(frames.startIDs[1], newest + 1);
  EXPECT_LT(frames.startIDs[0], frames.startIDs[1]);
}

TEST_F(USBStreamTest, ACallbackThatDoesNotReturnMakesPauseAndStopAnswerBusy) {
  myAStore(&gDCAMCallbackWaitPolls, UInt32(50));
  FrameCollector frames;
  frames.keepFrames = false;
  frames.block = true;
  Start(kMono8VGA, &frames);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(frames.WaitInside());
  EXPECT_EQ(ORX_DCAM_ResumePauseVideo(camera_, 0), kDCAMBusyErr);
  EXPECT_EQ(myALoad(&camera_->mDeliveryEnabled), 0);  // stays paused
  EXPECT_EQ(ORX_DCAM_ResumePauseVideo(camera_, 1), noErr);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 0), kDCAMBusyErr);
  EXPECT_EQ(myALoad(&camera_->mDeliveryEnabled), 1);  // restored
  EXPECT_EQ(ORX_DCAM_AssignCallback(camera_, nullptr, nullptr), kDCAMBusyErr);
  EXPECT_EQ(myALoad(&camera_->mDeliveryEnabled), 0);
  frames.block = false;
  ASSERT_TRUE(frames.WaitFor(1));
  myAStore(&gDCAMCallbackWaitPolls, UInt32(10000));
  Stop();
}

// Closing while the frame callback is still inside: close waits for the
// callback to return and only then frees the handle and the ring (ASan sees
// any use after the free).
TEST_F(USBStreamTest, ClosingWhileTheCallbackIsBlockedWaitsForIt) {
  FrameCollector frames;
  frames.keepFrames = false;
  frames.block = true;
  Start(kMono8VGA, &frames);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(frames.WaitInside());
  std::atomic<OSStatus> closed{1};
  std::thread closer([&] { closed = ORX_DCAM_CloseACamera(camera_); });
  for (int i = 0; i < 10000 && myAtomicLoad(&camera_->mWFFSRun); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(myAtomicLoad(&camera_->mWFFSRun), 0);
  EXPECT_EQ(closed.load(), 1);
  frames.block = false;
  closer.join();
  camera_ = nullptr;
  EXPECT_EQ(closed.load(), noErr);
  EXPECT_EQ(frames.count, 1);
  EXPECT_FALSE(frames.inside);
}

TEST_F(USBStreamTest, TwoHundredStartStopCycles) {
  sim_->Stream().SetClock(SimClock::RealTime);
  FrameCollector frames;
  frames.keepFrames = false;
  SetStreamMode(camera_, *sim_, {64, 48, 8, kRawCode, 512, 240});
  for (int i = 0; i < 200; i++) {
    ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
    ASSERT_EQ(ORX_DCAM_AssignCallback(camera_, FrameCollector::Callback, &frames), noErr);
    ASSERT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), noErr);
    if (i % 50 == 0) {
      ASSERT_TRUE(frames.WaitFor(frames.count + 1));
    }
    ASSERT_EQ(ORX_DCAM_StartStopVideo(camera_, 0), noErr);
    ASSERT_EQ(ORX_DCAM_AssignCallback(camera_, nullptr, nullptr), noErr);
    ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 0), noErr);
  }
  sim_->Stream().SetClock(SimClock::Stepped);
  for (int i = 0; i < frames.count; i++) EXPECT_EQ(frames.startIDs[size_t(i)], frames.endIDs[size_t(i)]);
}

// ---- races through the delivery thread's pause points ----

struct PauseGate {
  static inline std::atomic<int> where{-1};
  static inline std::atomic<bool> reached{false}, release{false};
  static void Hook(MyDCAMCameraStruct*, int w) {
    if (w != where) return;
    where = -1;  // once
    reached = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  static bool WaitReached() {
    for (int i = 0; i < 10000 && !reached; i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return reached;
  }
  static void Arm(int w) {
    reached = false;
    release = false;
    where = w;
    __atomic_store_n(&gDCAMTestWFFSPausePoint, &Hook, __ATOMIC_SEQ_CST);
  }
  static void Disarm() {
    release = true;
    __atomic_store_n(&gDCAMTestWFFSPausePoint, nullptr, __ATOMIC_SEQ_CST);
  }
};

TEST_F(USBStreamTest, AStopBetweenTheRunTestAndTheWaitIsNotLost) {
  SetStreamMode(camera_, *sim_, kMono8VGA);
  FrameCollector frames;
  PauseGate::Arm(0);
  ASSERT_EQ(ORX_DCAM_AssignCallback(camera_, FrameCollector::Callback, &frames), noErr);
  ASSERT_TRUE(PauseGate::WaitReached());
  // The stop lands while the thread sits between its run test and its wait.
  std::atomic<bool> stopped{false};
  std::thread stopper([&] { stopped = myDeallocateWFFSThread(camera_); });
  while (myAtomicLoad(&camera_->mWFFSRun)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  PauseGate::Disarm();
  stopper.join();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(myAtomicLoad(&camera_->mWFFSAlive), 0);
}

TEST_F(USBStreamTest, AStopBetweenFrameReadyAndTheBusyCountNeverRunsTheCallback) {
  FrameCollector frames;
  frames.keepFrames = false;
  Start(kMono8VGA, &frames);
  PauseGate::Arm(1);
  ASSERT_EQ(sim_->Stream().StepBulkFrames(1), 1);
  ASSERT_TRUE(PauseGate::WaitReached());
  // The thread saw frame-ready and has not yet raised busy: the stop finds
  // busy clear, and the ring is gone before the thread goes on.
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 0), noErr);
  PauseGate::Disarm();
  EXPECT_EQ(ORX_DCAM_AssignCallback(camera_, nullptr, nullptr), noErr);  // waits for the thread
  EXPECT_EQ(frames.count, 0);
  EXPECT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 0), noErr);
}

}  // namespace
