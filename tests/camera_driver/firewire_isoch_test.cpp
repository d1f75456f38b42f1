// FireWire isochronous reception: the segment handler on hand-built
// segments, and whole streams from the simulated camera on a stepped bus.
#include <linux/capability.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/coreservices/CoreServices.h"
#include "platform/iokit/IOFireWireLib.h"
#include "tests/camera_driver/stream_fixture.h"
#include "utilities/CpuPaths.h"

namespace {

// ---- the segment handler on a fake handle ----

struct FakeCamera {
  MyDCAMCameraStruct* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
  std::vector<UInt8> slots[3];
  std::vector<UInt8> segment;
  UInt32 packets = 0;

  FakeCamera(UInt32 frameBytes, UInt32 bits, UInt32 bytesPerPacket) {
    for (auto& s : slots) s.assign(frameBytes, 0xEE);  // exactly one frame: ASan sees any overrun
    for (int i = 0; i < 3; i++) camera->mSlot[i] = slots[i].data();
    camera->mFrameByteCount = frameBytes;
    camera->mBitsPerPixel = bits;
    camera->mPixelFormat = kRawCode;
    camera->mBytesPerPacket = bytesPerPacket;
    camera->mRecvPacketSize = bytesPerPacket + 4;
    camera->mDeliveredSlot = 0xFF;
    camera->mDeliveryEnabled = 1;
    camera->mWaitForFrameStart = 1;
  }
  ~FakeCamera() { std::free(camera); }
  // Appends a packet: header (length, sync) and payload bytes.
  void Packet(UInt32 length, UInt32 sync, const std::vector<UInt8>& payload) {
    segment.resize(size_t(packets + 1) * 16384, 0);
    UInt8* p = &segment[size_t(packets) * 16384];
    const UInt32 h = length << 16 | 1u << 14 | 0xA << 4 | sync;
    p[0] = UInt8(h >> 24), p[1] = UInt8(h >> 16), p[2] = UInt8(h >> 8), p[3] = UInt8(h);
    std::memcpy(p + 4, payload.data(), payload.size());
    packets++;
  }
  void Run(UInt32 seconds = 0, UInt32 cycle = 0) {
    myProcessIsochSegment(camera, segment.data(), seconds << 25 | cycle << 12, packets);
    segment.clear();
    packets = 0;
  }
};

std::vector<UInt8> Bytes(std::initializer_list<int> list) {
  std::vector<UInt8> v;
  for (int b : list) v.push_back(UInt8(b));
  return v;
}

TEST(IsochHandler, AFrameThatOverrunsPutsExactlyTheOverrunIntoTheNextSlot) {
  FakeCamera f(10, 8, 4);
  f.Packet(4, 1, Bytes({1, 2, 3, 4}));
  f.Packet(4, 0, Bytes({5, 6, 7, 8}));
  f.Packet(4, 0, Bytes({9, 10, 11, 12}));
  f.Run();
  EXPECT_EQ(f.slots[0], Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(f.slots[1][0], 11);
  EXPECT_EQ(f.slots[1][1], 12);
  EXPECT_EQ(f.slots[1][2], 0xEE);
  EXPECT_EQ(f.camera->mBytesReceived, 2u);
  EXPECT_EQ(f.camera->mDeliveredSlot, 0u);
  EXPECT_EQ(f.camera->mFillingSlot, 1u);
  EXPECT_EQ(f.camera->mFrameCounter, 1u);
}

TEST(IsochHandler, AFrameSmallerThanOnePacketNeverWritesPastTheSlot) {
  FakeCamera f(6, 8, 16);
  f.Packet(16, 1, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
  f.Run();
  EXPECT_EQ(f.slots[0], Bytes({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(f.slots[1], Bytes({7, 8, 9, 10, 11, 12}));  // at most one frame of padding
  EXPECT_EQ(f.camera->mBytesReceived, 6u);
}

TEST(IsochHandler, AnOversizedPacketDropsTheFrameUntilTheNextStart) {
  FakeCamera f(8, 8, 4);
  f.Packet(4, 1, Bytes({1, 2, 3, 4}));
  f.Packet(12, 0, Bytes({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}));  // longer than 4 + 4
  f.Packet(4, 0, Bytes({5, 6, 7, 8}));                          // dropped
  f.Packet(4, 1, Bytes({21, 22, 23, 24}));
  f.Packet(4, 0, Bytes({25, 26, 27, 28}));
  f.Run();
  EXPECT_EQ(f.camera->mFrameCounter, 1u);
  EXPECT_EQ(f.slots[0], Bytes({21, 22, 23, 24, 25, 26, 27, 28}));
}

TEST(IsochHandler, SwapAndShiftApplyOnlyToSixteenBitRawSamples) {
  struct Case {
    UInt32 bits;
    OSType code;
    UInt8 userSwap;
    UInt32 shift;
    std::vector<UInt8> expected;  // host-order bytes in the slot
  };
  // Wire bytes 01 23 45 67: big-endian samples 0x0123 and 0x4567.
  auto host16 = [](UInt16 a, UInt16 b) {
    std::vector<UInt8> v(4);
    std::memcpy(&v[0], &a, 2);
    std::memcpy(&v[2], &b, 2);
    return v;
  };
  const Case cases[] = {
      {8, kRawCode, 1, 4, Bytes({0x01, 0x23, 0x45, 0x67})},
      {12, kRawCode, 1, 4, Bytes({0x01, 0x23, 0x45, 0x67})},
      {16, FOUR_CHAR_CODE("2vuy"), 1, 4, Bytes({0x01, 0x23, 0x45, 0x67})},
      {16, kRawCode, 0, 0, host16(0x0123, 0x4567)},
      {16, kRawCode, 0, 4, host16(0x1230, 0x5670)},
      // The user's flag swaps against host order.
      {16, kRawCode, 1, 0, kDCAMHostIsLittleEndian ? Bytes({0x01, 0x23, 0x45, 0x67}) : Bytes({0x23, 0x01, 0x67, 0x45})},
  };
  for (const Case& c : cases) {
    FakeCamera f(8, c.bits, 4);
    f.camera->mPixelFormat = c.code;
    f.camera->mSwap16 = c.userSwap;
    f.camera->mUpShift = c.shift;
    f.Packet(4, 1, Bytes({0x01, 0x23, 0x45, 0x67}));
    f.Run();
    EXPECT_EQ(std::vector<UInt8>(f.slots[0].begin(), f.slots[0].begin() + 4), c.expected) << c.bits << " " << c.shift;
  }
}

// The one-pass packet copy against the two passes it replaces (swap the
// packet in place, then shift or copy), on every instruction-set path, for
// lengths 0-67 that leave every tail, odd ones included, and every shift.
TEST(IsochHandler, OnePassSwapAndShiftMatchesSwapThenShiftOnEveryCpuPath) {
  const MyCpuPath paths[] = {kMyCpuPathPlain, kMyCpuPathSSE2, kMyCpuPathAVX2, kMyCpuPathAVX512};
  for (UInt32 length = 0; length <= 67; ++length) {
    std::vector<UInt8> packet(length);
    for (UInt32 i = 0; i < length; ++i) packet[i] = UInt8(i * 37 + 11);
    for (UInt32 swap = 0; swap <= 1; ++swap) {
      for (UInt32 shift : {0u, 1u, 4u, 8u, 15u, 16u, 40u}) {
        if (!swap && !shift) continue;  // a plain copy
        std::vector<UInt8> swapped = packet;
        if (swap) mySwap16InPlace(swapped.data(), length);
        std::vector<UInt8> want(length, 0xEE);
        if (shift)
          myUpshiftPacketData(reinterpret_cast<const UInt16*>(swapped.data()), reinterpret_cast<UInt16*>(want.data()),
                              length, shift);
        else
          std::copy(swapped.begin(), swapped.end(), want.begin());
        for (MyCpuPath path : paths) {
          mySetCpuPathLimit(path);
          std::vector<UInt8> got(length, 0xEE);
          myCopyPacketSamples16(packet.data(), got.data(), length, swap, shift);
          ASSERT_EQ(got, want) << "path " << path << " length " << length << " swap " << swap << " shift " << shift;
        }
        mySetCpuPathLimit(kMyCpuPathAVX512);
      }
    }
  }
}

// Frames that end inside a packet, at even and odd bytes, with swapping and
// shifting: the slots hold what swapping each packet whole and then copying
// its parts gives.
TEST(IsochHandler, FramesEndingInsideAPacketSwapAndShiftAsWholePackets) {
  for (UInt32 frameBytes : {10u, 11u, 13u}) {
    for (UInt32 shift : {0u, 4u}) {
      FakeCamera f(frameBytes, 16, 6);
      f.camera->mSwap16 = kDCAMHostIsLittleEndian ? 0 : 1;  // swapping on
      f.camera->mUpShift = shift;
      std::vector<UInt8> wire;
      for (int p = 0; p < 4; ++p) {
        std::vector<UInt8> payload(6);
        for (int i = 0; i < 6; ++i) payload[size_t(i)] = UInt8(0x10 * p + i + 1);
        wire.insert(wire.end(), payload.begin(), payload.end());
        f.Packet(6, p == 0 ? 1 : 0, payload);
      }
      f.Run();
      // The reference: each packet swapped whole, then its bytes in order,
      // shifted in pairs from where each copy starts.
      std::vector<UInt8> swapped = wire;
      for (size_t p = 0; p < 4; ++p) mySwap16InPlace(&swapped[6 * p], 6);
      std::vector<std::vector<UInt8>> want(3, std::vector<UInt8>(frameBytes, 0xEE));
      UInt32 slot = 0, at = 0;
      for (size_t p = 0; p < 4 && slot < 2; ++p) {
        UInt32 done = 0;
        while (done < 6 && slot < 2) {
          const UInt32 n = std::min(6 - done, frameBytes - at);
          const UInt8* from = &swapped[6 * p + done];
          if (shift)
            myUpshiftPacketData(reinterpret_cast<const UInt16*>(from),
                                reinterpret_cast<UInt16*>(&want[slot][at]), n, shift);
          else
            std::memcpy(&want[slot][at], from, n);
          done += n;
          at += n;
          if (at == frameBytes) {
            ++slot;
            at = 0;
            if (done < 6) {  // the rest of this packet opens the next frame, then stops
              const UInt32 rest = 6 - done;
              const UInt8* r = &swapped[6 * p + done];
              if (shift)
                myUpshiftPacketData(reinterpret_cast<const UInt16*>(r), reinterpret_cast<UInt16*>(&want[slot][0]),
                                    rest, shift);
              else
                std::memcpy(&want[slot][0], r, rest);
              at = rest;
              done = 6;
            }
          }
        }
      }
      EXPECT_EQ(f.slots[0], want[0]) << frameBytes << " " << shift;
      EXPECT_EQ(f.slots[1], want[1]) << frameBytes << " " << shift;
    }
  }
}

TEST(IsochHandler, TimeStampsThatWrapGiveAPositiveInterval) {
  FakeCamera f(1000, 8, 4);
  f.Packet(4, 1, Bytes({1, 2, 3, 4}));
  f.Run(7, 7999);
  EXPECT_EQ(f.camera->mCycleTimeAccumulator, 0.0);  // the frame started in this segment
  f.Packet(4, 0, Bytes({5, 6, 7, 8}));
  f.Run(0, 1);
  EXPECT_DOUBLE_EQ(f.camera->mCycleTimeAccumulator, 0.25);
  // Seven-bit seconds from a careless source count modulo 8 all the same.
  f.Packet(4, 0, Bytes({5, 6, 7, 8}));
  f.Run(0x48, 3);  // 72 s = 0 mod 8
  EXPECT_DOUBLE_EQ(f.camera->mCycleTimeAccumulator, 0.5);
}

TEST(IsochHandler, WhileTheCallbackIsBusyTheSameSlotIsOverwritten) {
  FakeCamera f(4, 8, 4);
  f.camera->mCallbackBusy = 1;
  f.Packet(4, 1, Bytes({1, 2, 3, 4}));
  f.Packet(4, 1, Bytes({5, 6, 7, 8}));
  f.Run();
  EXPECT_EQ(f.camera->mFillingSlot, 0u);
  EXPECT_EQ(f.camera->mDeliveredSlot, 0xFFu);
  EXPECT_EQ(f.slots[0], Bytes({5, 6, 7, 8}));
  EXPECT_EQ(f.camera->mFrameCounter, 2u);
}

TEST(IsochHandler, WithDeliveryDisabledNothingIsTouched) {
  FakeCamera f(4, 8, 4);
  f.camera->mDeliveryEnabled = 0;
  f.Packet(4, 1, Bytes({1, 2, 3, 4}));
  f.Run();
  EXPECT_EQ(f.slots[0], Bytes({0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(f.camera->mFrameCounter, 0u);
}

TEST(IsochRegisters, ChannelRegisterAndSchedulingPolicy) {
  EXPECT_EQ(myIsochChannelRegister(2, 5), 5u << 28 | 2u << 24);
  EXPECT_EQ(myIsochChannelRegister(0, 14), 14u << 28);
  EXPECT_EQ(myIsochChannelRegister(3, 5), 3u | 5u << 8 | 0x8000);
  UInt32 period, computation, constraint;
  ASSERT_TRUE(myIsochTimeConstraint(1, 1, 240, 2000, 100000000, &period, &computation, &constraint));
  EXPECT_EQ(period, 29999625u);  // 1e6 x 240 x 0.124998437519531
  EXPECT_EQ(computation, period);  // the formula always exceeds the period
  EXPECT_EQ(constraint, period);
  EXPECT_FALSE(myIsochTimeConstraint(1, 1, 240, 2000, 0, &period, &computation, &constraint));
}

// ---- streams from the simulated camera ----

class FireWireStreamTest : public DCAMTest {
 protected:
  void SetUp() override {
    DCAMTest::SetUp();
    SkyloomFireWireBusSetStepped(true);
    SkyloomFireWireBusSetStartCycleTime(0, 0);
    sim_ = Rig({SimMonoFireWirePersonality()})[0];
    sim_->Stream().SetClock(SimClock::Stepped);
    camera_ = ORX_DCAM_OpenACamera(0x1001);
    ASSERT_NE(camera_, nullptr);
  }
  void TearDown() override {
    if (camera_) {
      EXPECT_EQ(ORX_DCAM_CloseACamera(camera_), noErr);
    }
    camera_ = nullptr;
    __atomic_store_n(&gDCAMTestIsochHandlerPausePoint, nullptr, __ATOMIC_SEQ_CST);
    SkyloomFireWireBusSetStepped(false);
    SkyloomFireWireBusSetStartCycleTime(0, 0);
    ExpectNothingLeft();
    DCAMTest::TearDown();
  }
  void Start(FrameCollector* collector) {
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
  // Steps one frame period and waits until its callback has returned.
  void StepFrame(FrameCollector& frames, int expected) {
    if (HasFatalFailure()) return;
    ASSERT_TRUE(SkyloomFireWireBusStepCycles(sim_->Stream().CyclesPerFrame()));
    ASSERT_TRUE(frames.WaitFor(expected)) << expected;
    ASSERT_TRUE(WaitCallbackIdle(camera_));
  }
  // Fifty frames that equal the camera's, in host order.
  void ExpectFiftyFrames(bool swap16) {
    FrameCollector frames;
    frames.swapped16 = swap16;
    const UInt32 first = sim_->Stream().NextFrameID();
    Start(&frames);
    // A segment at a time: each completes at most one frame, and its
    // callback returns before the next one.
    for (int guard = 0; frames.count < 50 && guard < 100000; guard++) {
      ASSERT_TRUE(SkyloomFireWireBusStepCycles(camera_->mPacketsPerSegment));
      ASSERT_TRUE(WaitCallbackIdle(camera_));
    }
    Stop();
    ASSERT_EQ(frames.count, 50);
    for (int i = 0; i < 50; i++) {
      EXPECT_EQ(frames.startIDs[size_t(i)], first + UInt32(i));
      ASSERT_EQ(frames.frames[size_t(i)], HostOrderReference(*sim_, first + UInt32(i), swap16)) << i;
    }
  }
  std::shared_ptr<SimCamera> sim_;
  MyDCAMCameraStruct* camera_ = nullptr;
};

TEST_F(FireWireStreamTest, Mono8FramesArriveByteForByte) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  ExpectFiftyFrames(false);
}

TEST_F(FireWireStreamTest, Mono16FramesArriveInHostOrder) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 6, 15), noErr);
  ExpectFiftyFrames(kDCAMHostIsLittleEndian);
}

TEST_F(FireWireStreamTest, AFormat7FrameOfManyPacketsAndSegments) {
  // 307200 bytes in 998 packets of 308 (the last one padded): more packets
  // than the three segments of the ring hold at once.
  ASSERT_EQ(ORX_DCAM_SetModeSeven(camera_, 0, 0, 0, 640, 480, 0, 308), noErr);
  ASSERT_EQ(camera_->mFrameByteCount, 307200u);
  ASSERT_GT((camera_->mFrameByteCount + 307) / 308, 3 * camera_->mPacketsPerSegment);
  ExpectFiftyFrames(false);
}

TEST_F(FireWireStreamTest, TheLargestFormat7PacketAtEachSpeed) {
  // The camera offers its bus's largest packet (1024 << speed code) for a
  // whole 640x480 Mono8 frame; the handle's maximum (0x61A << speed code,
  // at most 16384 - 4 for the header in the receive slot) cuts it to a
  // multiple of the unit, 4.
  struct Case {
    int speed;
    UInt32 packet;
  };
  const Case cases[] = {{2, 4096}, {3, 8192}, {4, 16380}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "speed code " << c.speed);
    ASSERT_EQ(ORX_DCAM_CloseACamera(camera_), noErr);
    sim_->SetSpeedCode(c.speed);
    camera_ = ORX_DCAM_OpenACamera(0x1001);
    ASSERT_NE(camera_, nullptr);
    UInt32 r[9];
    ASSERT_EQ(ORX_DCAM_GetFMRProperties(camera_, 7, 0, 0, &r[0], &r[1], &r[2], &r[3], &r[4], &r[5], &r[6], &r[7],
                                        &r[8]),
              noErr);
    EXPECT_EQ(r[7], c.packet);
    ASSERT_EQ(ORX_DCAM_SetModeSeven(camera_, 0, 0, 0, 640, 480, 0, 0), noErr);
    EXPECT_EQ(camera_->mBytesPerPacket, c.packet);
    EXPECT_EQ(sim_->Peek(0x8044), c.packet << 16);
    EXPECT_EQ(sim_->Peek(0x807C) & 0x00400000u, 0u);  // the camera took the packet size
    ExpectFiftyFrames(false);
  }
}

TEST_F(FireWireStreamTest, TheOlderLibraryGetsItsCallProcsAtTheStart) {
  ASSERT_EQ(ORX_DCAM_CloseACamera(camera_), noErr);
  SkyloomIOFireWireLibSetVersion(0x01600000);
  camera_ = ORX_DCAM_OpenACamera(0x1001);
  ASSERT_NE(camera_, nullptr);
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
  EXPECT_EQ(camera_->mSegmentCallProc[0]->proc, nullptr);
  ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 0), noErr);
  ExpectFiftyFrames(false);
}

TEST_F(FireWireStreamTest, IntervalsStayPositiveAcrossTheSecondsWrap) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  SkyloomFireWireBusSetStartCycleTime(7, 7000);  // the wrap comes after 4 frames
  FrameCollector frames;
  frames.keepFrames = false;
  Start(&frames);
  for (int i = 0; i < 10; i++) StepFrame(frames, i + 1);
  Stop();
  const double period = sim_->Stream().CyclesPerFrame() * 0.125;
  for (int i = 1; i < 10; i++) EXPECT_DOUBLE_EQ(frames.intervals[size_t(i)], period) << i;
  for (int i = 2; i < 10; i++) EXPECT_DOUBLE_EQ(frames.accumulated[size_t(i)], period * (i - 1)) << i;
}

// Whether this thread may give another thread of the process a real-time
// policy: tried on a thread made for the purpose.
bool MayGiveRealTime() {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread probe([&] {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return done; });
  });
  sched_param sp{};
  sp.sched_priority = sched_get_priority_min(SCHED_RR);
  const bool may = pthread_setschedparam(probe.native_handle(), SCHED_RR, &sp) == 0;
  {
    std::lock_guard<std::mutex> lock(m);
    done = true;
  }
  cv.notify_one();
  probe.join();
  return may;
}

// While alive, this thread may not give real-time policies: no real-time
// priority allowed by the limit, and no CAP_SYS_NICE in its effective set
// (capabilities belong to the thread, so the rest of the process keeps it).
class RealTimeRefused {
 public:
  RealTimeRefused() {
    getrlimit(RLIMIT_RTPRIO, &limit_);
    rlimit none = limit_;
    none.rlim_cur = 0;
    setrlimit(RLIMIT_RTPRIO, &none);
    if (syscall(SYS_capget, &header_, caps_) == 0) {
      __user_cap_data_struct lowered[2] = {caps_[0], caps_[1]};
      lowered[CAP_TO_INDEX(CAP_SYS_NICE)].effective &= ~CAP_TO_MASK(CAP_SYS_NICE);
      lowered_ = syscall(SYS_capset, &header_, lowered) == 0;
    }
  }
  ~RealTimeRefused() {
    if (lowered_) syscall(SYS_capset, &header_, caps_);
    setrlimit(RLIMIT_RTPRIO, &limit_);
  }

 private:
  rlimit limit_{};
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps_[2]{};
  bool lowered_ = false;
};

int PolicyOf(pthread_t thread) {
  int policy = -1;
  sched_param sp{};
  return pthread_getschedparam(thread, &policy, &sp) == 0 ? policy : -1;
}

// Starting video raises the I/O thread (not the thread that starts it) to
// the real-time policy where that is permitted (as root, say)...
TEST_F(FireWireStreamTest, StartingVideoMakesTheIOThreadRealTimeWherePermitted) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  const int before = PolicyOf(camera_->mIOThread);
  ASSERT_NE(before, SCHED_RR);
  const int callerBefore = PolicyOf(pthread_self());
  const bool permitted = MayGiveRealTime();
  Start(nullptr);
  EXPECT_EQ(PolicyOf(camera_->mIOThread), permitted ? SCHED_RR : before) << "permitted: " << permitted;
  EXPECT_EQ(PolicyOf(pthread_self()), callerBefore);
  Stop();
}

// ...and where it is refused, the thread keeps its policy and starting
// succeeds all the same.
TEST_F(FireWireStreamTest, WhereRealTimeIsRefusedTheIOThreadKeepsItsPolicy) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  const int before = PolicyOf(camera_->mIOThread);
  const long asked = SkyloomLastThreadPolicy().calls;
  {
    RealTimeRefused refused;
    ASSERT_FALSE(MayGiveRealTime());
    ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
    ASSERT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), noErr);
  }
  EXPECT_EQ(PolicyOf(camera_->mIOThread), before);
  EXPECT_EQ(SkyloomLastThreadPolicy().calls, asked + 1);
  Stop();
}

TEST_F(FireWireStreamTest, TheRegisterProtocolOfTheTalker) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  sim_->ClearLog();
  Start(nullptr);
  std::vector<std::pair<UInt32, UInt32>> writes;
  for (const SimLogEntry& e : sim_->Log())
    if (e.kind == SimLogKind::FWWrite) writes.push_back({e.offset, e.value});
  EXPECT_EQ(writes, (std::vector<std::pair<UInt32, UInt32>>{{0x60C, 0u << 28 | 2u << 24}, {0x614, 0x80000000}}));
  sim_->ClearLog();
  Stop();
  writes.clear();
  for (const SimLogEntry& e : sim_->Log())
    if (e.kind == SimLogKind::FWWrite) writes.push_back({e.offset, e.value});
  EXPECT_EQ(writes, (std::vector<std::pair<UInt32, UInt32>>{{0x614, 0}, {0x614, 0}}));
  // The I/O thread runs under a time-constraint policy of one segment
  // (240 packets; this host's time base is 1/1).
  EXPECT_EQ(SkyloomLastThreadPolicy().policy.period, 29999625u);
  // The I/O thread outlives the channel, and the port was finalized.
  EXPECT_EQ(myAtomicLoad(&camera_->mIOAlive), 1);
  EXPECT_EQ(myAtomicLoad(&camera_->mLocalPortFinalized), 1);
}

TEST_F(FireWireStreamTest, AfterAPauseDeliveryResumesAtAFrameStart) {
  // Mono16: a frame is two segments of 240 packets.
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 6, 15), noErr);
  FrameCollector frames;
  frames.swapped16 = kDCAMHostIsLittleEndian;
  Start(&frames);
  StepFrame(frames, 1);
  const UInt32 second = sim_->Stream().NextFrameID();
  ASSERT_EQ(ORX_DCAM_ResumePauseVideo(camera_, 0), noErr);
  EXPECT_EQ(myALoad(&camera_->mAccumulatedTime), 0.0);
  ASSERT_TRUE(SkyloomFireWireBusStepCycles(240));  // the first half goes by unseen
  ASSERT_EQ(ORX_DCAM_ResumePauseVideo(camera_, 1), noErr);
  // The second half must not start a frame, nor may the next frame, whose
  // start packet lost its sync; the one after is the first delivered.
  sim_->Stream().InjectIsochFault(SimIsochFault::MissingSync);
  ASSERT_TRUE(SkyloomFireWireBusStepCycles(sim_->Stream().CyclesPerFrame() - 240));
  ASSERT_TRUE(WaitCallbackIdle(camera_));
  ASSERT_TRUE(SkyloomFireWireBusStepCycles(sim_->Stream().CyclesPerFrame()));
  ASSERT_TRUE(WaitCallbackIdle(camera_));
  StepFrame(frames, 2);
  Stop();
  ASSERT_EQ(frames.count, 2);
  EXPECT_EQ(frames.startIDs[1], second + 2);
  EXPECT_EQ(frames.frames[1], HostOrderReference(*sim_, second + 2, kDCAMHostIsLittleEndian));
}

TEST_F(FireWireStreamTest, ABusyRegisterIsTriedThreeTimes) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
  auto isoEnWrites = [&] {
    std::vector<OSStatus> statuses;
    for (const SimLogEntry& e : sim_->Log())
      if (e.kind == SimLogKind::FWWrite && e.offset == 0x614 && e.value) statuses.push_back(e.status);
    return statuses;
  };
  sim_->ClearLog();
  sim_->FailRegister(0x614, SimAccessKind::Write, kDCAMBusyErr, 2);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), noErr);
  EXPECT_EQ(isoEnWrites(), (std::vector<OSStatus>{kDCAMBusyErr, kDCAMBusyErr, noErr}));
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 0), noErr);
  sim_->ClearLog();
  sim_->FailRegister(0x614, SimAccessKind::Write, kDCAMBusyErr, 3);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), kDCAMBusyErr);
  EXPECT_EQ(isoEnWrites().size(), 3u);
  EXPECT_EQ(camera_->mTransmitting, 0);
}

TEST_F(FireWireStreamTest, NoBandwidthReachesTheCaller) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
  sim_->Stream().FailIsochAllocation(kIOReturnNoBandwidth);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), kIOReturnNoBandwidth);
  EXPECT_EQ(camera_->mTransmitting, 0);
  sim_->Stream().FailIsochAllocation(kIOReturnSuccess);
  EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), noErr);
}

TEST_F(FireWireStreamTest, InjectedFaultsDropOnlyTheirFrames) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  FrameCollector frames;
  frames.keepFrames = false;
  Start(&frames);
  StepFrame(frames, 1);
  const UInt32 next = sim_->Stream().NextFrameID();
  for (SimIsochFault fault : {SimIsochFault::Oversized, SimIsochFault::MissingSync, SimIsochFault::Lost})
    sim_->Stream().InjectIsochFault(fault);
  // The lost packet shifts frames against segments by one packet, so the
  // next whole frame completes with the first packet of the one after.
  ASSERT_TRUE(SkyloomFireWireBusStepCycles(5 * sim_->Stream().CyclesPerFrame()));
  ASSERT_TRUE(frames.WaitFor(2));
  ASSERT_TRUE(WaitCallbackIdle(camera_));
  Stop();
  EXPECT_EQ(frames.count, 2);
  EXPECT_EQ(frames.startIDs[1], next + 3);
  EXPECT_EQ(frames.endIDs[1], next + 3);
}

// A burst that overruns the handler: the handler is held in its first
// call-proc while the bus sends eight frames at its own pace. Mono8 VGA at
// 30 fps is 240 packets of 1280 bytes a frame and a segment, 266 cycles a
// frame. Frame 1
// went into segment 0 before; the burst puts frames 2, 3 and 4 into segments
// 1, 2 and 0, whose call-procs then wait; frames 5 and 6 meet waiting
// segments 1 and 2, which are skipped; the bus skips no third one in a row
// and holds at segment 0, where frames 7 to 9 are lost: 1200 packets in all.
// Frame 10 goes into segment 0 while the handler expects segment 1, so it
// knows segments were skipped; from frame 10 on the frames are the camera's
// again, never a stale segment read a second time.
TEST_F(FireWireStreamTest, ABurstThatOverrunsTheHandler) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  ASSERT_EQ(sim_->Stream().CyclesPerFrame(), 266u);
  FrameCollector frames;
  frames.keepFrames = false;
  Start(&frames);
  const UInt32 first = sim_->Stream().NextFrameID();
  StepFrame(frames, 1);
  static std::atomic<bool> reached, release;
  reached = false;
  release = false;
  void (*hook)() = [] {
    if (reached.exchange(true)) return;  // only the first call-proc is held
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  __atomic_store_n(&gDCAMTestIsochHandlerPausePoint, hook, __ATOMIC_SEQ_CST);
  const UInt64 overrunsBefore = SkyloomFireWireBusOverruns();
  SkyloomFireWireBusBurstCycles(8 * 266);
  EXPECT_EQ(SkyloomFireWireBusOverruns() - overrunsBefore, 1200u);
  for (int i = 0; i < 10000 && !reached; i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(reached);
  release = true;
  ASSERT_TRUE(SkyloomFireWireBusStepCycles(0));  // the three held call-procs run
  ASSERT_TRUE(WaitCallbackIdle(camera_));
  __atomic_store_n(&gDCAMTestIsochHandlerPausePoint, nullptr, __ATOMIC_SEQ_CST);
  const int beforeTen = frames.count;
  StepFrame(frames, beforeTen + 1);
  StepFrame(frames, beforeTen + 2);
  EXPECT_EQ(SkyloomFireWireBusOverruns() - overrunsBefore, 1200u);  // none after the handler caught up
  Stop();
  ASSERT_EQ(frames.count, beforeTen + 2);
  EXPECT_EQ(frames.startIDs[0], first);
  for (int i = 0; i < frames.count; i++) {
    EXPECT_EQ(frames.startIDs[size_t(i)], frames.endIDs[size_t(i)]) << i;
    if (i > 0) {
      EXPECT_GT(frames.startIDs[size_t(i)], frames.startIDs[size_t(i - 1)]) << i;
    }
    if (i < beforeTen) {
      EXPECT_LE(frames.startIDs[size_t(i)], first + 3) << i;  // frames 1 to 4 only
    }
  }
  EXPECT_EQ(frames.startIDs[size_t(beforeTen)], first + 9);
  EXPECT_EQ(frames.startIDs[size_t(beforeTen + 1)], first + 10);
}

TEST_F(FireWireStreamTest, ReprogrammingWhileStreaming) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  FrameCollector frames;
  Start(&frames);
  StepFrame(frames, 1);
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 6, 15), noErr);
  EXPECT_EQ(camera_->mTransmitting, 1);
  const UInt32 next = sim_->Stream().NextFrameID();
  frames.swapped16 = kDCAMHostIsLittleEndian;
  StepFrame(frames, 2);
  Stop();
  ASSERT_EQ(frames.count, 2);
  EXPECT_EQ(frames.frames[1].size(), 640u * 480 * 2);
  EXPECT_EQ(frames.frames[1], HostOrderReference(*sim_, next, kDCAMHostIsLittleEndian));
}

TEST_F(FireWireStreamTest, ASlowLastCallProcKeepsTheProgramAlive) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  Start(nullptr);
  static std::atomic<bool> reached, release;
  reached = false;
  release = false;
  void (*hook)() = [] {
    reached = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  __atomic_store_n(&gDCAMTestIsochHandlerPausePoint, hook, __ATOMIC_SEQ_CST);
  std::thread bus([&] { SkyloomFireWireBusStepCycles(sim_->Stream().CyclesPerFrame()); });
  for (int i = 0; i < 10000 && !reached; i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(reached);
  std::thread stopper([&] {
    EXPECT_EQ(ORX_DCAM_StartStopVideo(camera_, 0), noErr);
    EXPECT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 0), noErr);
  });
  // The release waits for the port's finalize, which comes after the
  // handler still blocked in its call-proc; let the handler go once the
  // camera was told to stop.
  for (int i = 0; i < 10000; i++) {
    int offs = 0;
    for (const SimLogEntry& e : sim_->Log())
      if (e.kind == SimLogKind::FWWrite && e.offset == 0x614 && e.value == 0) offs++;
    if (offs >= 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  release = true;
  stopper.join();
  bus.join();
  __atomic_store_n(&gDCAMTestIsochHandlerPausePoint, nullptr, __ATOMIC_SEQ_CST);
  EXPECT_EQ(myAtomicLoad(&camera_->mLocalPortFinalized), 1);
  EXPECT_EQ(camera_->mDCLCommandPool, nullptr);
}

// The same sequence as on USB: the receive path released while the camera
// sends, built again, and video started again delivers frames.
TEST_F(FireWireStreamTest, ReleasingTheReceivePathWhileSendingThenStartingAgain) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  FrameCollector frames;
  frames.keepFrames = false;
  Start(&frames);
  StepFrame(frames, 1);
  ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 0), noErr);
  EXPECT_FALSE(sim_->Stream().IsoEnabled());
  ASSERT_EQ(ORX_DCAM_StartStopISOCHTransfer(camera_, 1), noErr);
  ASSERT_EQ(ORX_DCAM_StartStopVideo(camera_, 1), noErr);
  EXPECT_TRUE(sim_->Stream().IsoEnabled());
  const UInt32 next = sim_->Stream().NextFrameID();
  StepFrame(frames, 2);
  Stop();
  EXPECT_EQ(frames.startIDs[1], next);
  EXPECT_EQ(frames.endIDs[1], next);
}

TEST_F(FireWireStreamTest, ClosingAStreamingCamera) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  FrameCollector frames;
  frames.keepFrames = false;
  Start(&frames);
  StepFrame(frames, 1);
  EXPECT_EQ(ORX_DCAM_CloseACamera(camera_), noErr);
  camera_ = nullptr;
  EXPECT_FALSE(sim_->Stream().IsoEnabled());
}

// Closing while the frame callback is still inside: close waits for the
// callback to return and only then frees the handle and the ring (ASan sees
// any use after the free).
TEST_F(FireWireStreamTest, ClosingWhileTheCallbackIsBlockedWaitsForIt) {
  ASSERT_EQ(ORX_DCAM_SetFMR(camera_, 0, 5, 30), noErr);
  FrameCollector frames;
  frames.block = true;
  Start(&frames);
  ASSERT_TRUE(SkyloomFireWireBusStepCycles(sim_->Stream().CyclesPerFrame()));
  ASSERT_TRUE(frames.WaitInside());
  std::atomic<OSStatus> closed{1};
  std::thread closer([&] { closed = ORX_DCAM_CloseACamera(camera_); });
  // The delivery thread was told to leave: close now waits for the callback.
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

TEST_F(FireWireStreamTest, TwoHundredStartStopCyclesInRealTime) {
  SkyloomFireWireBusSetStepped(false);
  ASSERT_EQ(ORX_DCAM_SetModeSeven(camera_, 0, 0, 0, 64, 48, 0, 512), noErr);
  FrameCollector frames;
  frames.keepFrames = false;
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
  for (int i = 0; i < frames.count; i++) EXPECT_EQ(frames.startIDs[size_t(i)], frames.endIDs[size_t(i)]);
}

}  // namespace
