// Frame reception: the isochronous segment handler on a prepared segment
// (the bus needs 8000 packets/s: about 33 MB/s at S400), and USB frames per
// second through the simulated camera.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <memory>
#include <vector>

#include "camera_driver/DCAMInternal.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/simcamera/SimBus.h"
#include "utilities/CpuPaths.h"

namespace {

void HandlerThroughput(benchmark::State& state, UInt32 bits, UInt32 bytesPerPacket, bool swapShift) {
  constexpr UInt32 kPackets = 270;
  const UInt32 frameBytes = 640 * 480 * bits / 8;
  auto* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
  std::vector<UInt8> ring(3 * size_t(frameBytes) + 65536);
  for (int s = 0; s < 3; s++) camera->mSlot[s] = ring.data() + s * size_t(frameBytes);
  camera->mFrameByteCount = frameBytes;
  camera->mBitsPerPixel = bits;
  camera->mPixelFormat = FOUR_CHAR_CODE("raw ");
  camera->mRecvPacketSize = bytesPerPacket + 4;
  camera->mDeliveryEnabled = 1;
  camera->mWaitForFrameStart = 1;
  camera->mUpShift = swapShift ? 4 : 0;
  camera->mSwap16 = kDCAMHostIsLittleEndian ? 0 : 1;  // the effective swap is on either way
  std::vector<UInt8> segment(size_t(kPackets) * 16384);
  for (UInt32 p = 0; p < kPackets; p++) {
    UInt8* slot = &segment[size_t(p) * 16384];
    const UInt32 header = bytesPerPacket << 16 | 1u << 14 | 0xA << 4 | (p == 0 ? 1 : 0);
    slot[0] = UInt8(header >> 24), slot[1] = UInt8(header >> 16), slot[2] = UInt8(header >> 8), slot[3] = UInt8(header);
    for (UInt32 i = 0; i < bytesPerPacket; i++) slot[4 + i] = UInt8(p + i);
  }
  UInt32 cycle = 0;
  for (auto _ : state) {
    myProcessIsochSegment(camera, segment.data(), (cycle / 8000 & 7) << 25 | (cycle % 8000) << 12, kPackets);
    cycle += kPackets;
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kPackets * bytesPerPacket);
  state.counters["packets/s"] = benchmark::Counter(double(state.iterations()) * kPackets, benchmark::Counter::kIsRate);
  std::free(camera);
}

void BM_IsochHandler_Mono16SwapShift(benchmark::State& state) { HandlerThroughput(state, 16, 1280, true); }
void BM_IsochHandler_Mono8(benchmark::State& state) { HandlerThroughput(state, 8, 4096, false); }
BENCHMARK(BM_IsochHandler_Mono16SwapShift);
BENCHMARK(BM_IsochHandler_Mono8);

// The 16-bit path (swap and shift into the slot) on cold segments: each step
// takes the next of a ring of segments far larger than the caches, and the
// 8-bit path (a plain copy of each payload) on another cold segment of the
// same payload bytes runs beside it. "vs_memcpy" is the 8-bit path's median
// time over the 16-bit path's (the floor is 0.5). Arg 0 limits the
// instruction-set path (0 plain, 1 SSE2, 2 AVX2, 3 the host's widest).
void BM_IsochHandler_Mono16SwapShiftCold(benchmark::State& state) {
  constexpr UInt32 kPackets = 270, kPayload = 4096, kSegments = 96;
  const size_t segmentBytes = size_t(kPackets) * 16384;
  // Uninitialised: only the packets' pages are ever touched.
  std::unique_ptr<UInt8[]> ring(new UInt8[segmentBytes * kSegments]);
  for (UInt32 s = 0; s < kSegments; s++) {
    for (UInt32 p = 0; p < kPackets; p++) {
      UInt8* slot = &ring[s * segmentBytes + size_t(p) * 16384];
      const UInt32 header = kPayload << 16 | 1u << 14 | 0xA << 4 | (p == 0 ? 1 : 0);
      slot[0] = UInt8(header >> 24), slot[1] = UInt8(header >> 16), slot[2] = UInt8(header >> 8), slot[3] = UInt8(header);
      for (UInt32 i = 0; i < kPayload; i++) slot[4 + i] = UInt8(p + i);
    }
  }
  const UInt32 frameBytes = kPackets * kPayload;  // one frame a segment
  auto make = [&](UInt32 bits) {
    auto* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
    camera->mFrameByteCount = frameBytes;
    camera->mBitsPerPixel = bits;
    camera->mPixelFormat = FOUR_CHAR_CODE("raw ");
    camera->mRecvPacketSize = kPayload + 4;
    camera->mDeliveryEnabled = 1;
    camera->mWaitForFrameStart = 1;
    camera->mUpShift = bits == 16 ? 4 : 0;
    camera->mSwap16 = kDCAMHostIsLittleEndian ? 0 : 1;
    return camera;
  };
  MyDCAMCameraStruct* wide = make(16);
  MyDCAMCameraStruct* narrow = make(8);
  std::vector<UInt8> slots16(3 * size_t(frameBytes) + 65536, 1), slots8(3 * size_t(frameBytes) + 65536, 1);
  for (int s = 0; s < 3; s++) {
    wide->mSlot[s] = slots16.data() + s * size_t(frameBytes);
    narrow->mSlot[s] = slots8.data() + s * size_t(frameBytes);
  }
  mySetCpuPathLimit(MyCpuPath(state.range(0)));
  std::vector<double> ours, copy;
  UInt32 k = 0;
  for (auto _ : state) {
    const auto a = std::chrono::steady_clock::now();
    myProcessIsochSegment(wide, &ring[(k % kSegments) * segmentBytes], 0, kPackets);
    benchmark::ClobberMemory();
    const auto b = std::chrono::steady_clock::now();
    myProcessIsochSegment(narrow, &ring[((k + kSegments / 2) % kSegments) * segmentBytes], 0, kPackets);
    benchmark::ClobberMemory();
    const auto c = std::chrono::steady_clock::now();
    ours.push_back(std::chrono::duration<double>(b - a).count());
    copy.push_back(std::chrono::duration<double>(c - b).count());
    state.SetIterationTime(ours.back());
    ++k;
  }
  mySetCpuPathLimit(kMyCpuPathAVX512);
  std::sort(ours.begin(), ours.end());
  std::sort(copy.begin(), copy.end());
  const double o = ours[ours.size() / 2], m = copy[copy.size() / 2];
  state.counters["vs_memcpy"] = o > 0 ? m / o : 0;
  state.SetBytesProcessed(int64_t(state.iterations()) * frameBytes);
  std::free(wide);
  std::free(narrow);
}
BENCHMARK(BM_IsochHandler_Mono16SwapShiftCold)->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Whole frames through the simulated USB camera, the bulk reads and the
// delivery thread, one frame at a time.
std::atomic<long> gDelivered{0};
void CountFrame(UInt32, UInt32, UInt32, void*, void*, double, double) { gDelivered++; }

void USBFrames(benchmark::State& state, UInt32 width, UInt32 height, UInt32 bits) {
  auto sim = SimInstallRig({SimUSBPersonality()})[0];
  sim->Stream().SetClock(SimClock::Stepped);
  SimStreamGeometry g;
  g.width = width, g.height = height, g.bits = bits, g.code = FOUR_CHAR_CODE("raw "), g.bytesPerPacket = 4096;
  sim->Stream().SetGeometryOverride(g);
  MyDCAMCameraStruct* camera = ORX_DCAM_OpenACamera(0x1A2B);
  if (!camera) {
    state.SkipWithError("no camera");
    return;
  }
  camera->mWidth = width, camera->mHeight = height, camera->mBitsPerPixel = bits;
  camera->mPixelFormat = FOUR_CHAR_CODE("raw ");
  camera->mFrameByteCount = width * height * bits / 8;
  const size_t slot = (size_t(camera->mFrameByteCount) + 511) / 512 * 512;
  camera->mRingBlock = std::calloc(3, slot);
  for (int s = 0; s < 3; s++) camera->mSlot[s] = static_cast<UInt8*>(camera->mRingBlock) + s * slot;
  camera->mFormatSet = 1;
  ORX_DCAM_StartStopISOCHTransfer(camera, 1);
  ORX_DCAM_AssignCallback(camera, CountFrame, nullptr);
  ORX_DCAM_StartStopVideo(camera, 1);
  for (auto _ : state) sim->Stream().StepBulkFrames(1);
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(int64_t(state.iterations()) * camera->mFrameByteCount);
  ORX_DCAM_AssignCallback(camera, nullptr, nullptr);
  ORX_DCAM_StartStopVideo(camera, 0);
  ORX_DCAM_StartStopISOCHTransfer(camera, 0);
  ORX_DCAM_CloseACamera(camera);
  SimRemoveRig();
}

void BM_USBFrames_640x480_8(benchmark::State& state) { USBFrames(state, 640, 480, 8); }
void BM_USBFrames_1280x960_16(benchmark::State& state) { USBFrames(state, 1280, 960, 16); }
BENCHMARK(BM_USBFrames_640x480_8)->UseRealTime();
BENCHMARK(BM_USBFrames_1280x960_16)->UseRealTime();

// From a frame's completion on the I/O side to the callback's entry on the
// delivery thread: mean, median and 99th percentile in microseconds.
std::atomic<UInt64> gEntered{0};
void StampEntry(UInt32, UInt32, UInt32, void*, void*, double, double) { gEntered = SkyloomMicroseconds(); }

void BM_DeliveryLatency(benchmark::State& state) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
  std::vector<UInt8> ring(3 * 4096);
  for (int s = 0; s < 3; s++) camera->mSlot[s] = ring.data() + 4096 * s;
  camera->mWidth = 64, camera->mHeight = 64, camera->mFrameByteCount = 4096;
  camera->mDeliveredSlot = 0xFF;
  camera->mDeliveryEnabled = 1;
  ORX_DCAM_AssignCallback(camera, StampEntry, nullptr);
  std::vector<double> latencies;
  for (auto _ : state) {
    // The frame before has been taken completely.
    while (myAtomicLoad(&camera->mFrameReady) || myAtomicLoad(&camera->mCallbackBusy)) {
    }
    gEntered = 0;
    const UInt64 completed = SkyloomMicroseconds();
    myAdvanceRingAndSignal(camera, true);
    UInt64 entered;
    while ((entered = gEntered.load()) == 0) {
    }
    latencies.push_back(double(entered - completed));
  }
  ORX_DCAM_AssignCallback(camera, nullptr, nullptr);
  myDestroyWFFSObjects(camera);
  std::free(camera);
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  double sum = 0;
  for (double l : latencies) sum += l;
  state.counters["mean_us"] = sum / double(latencies.size());
  state.counters["median_us"] = latencies[latencies.size() / 2];
  state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
}
BENCHMARK(BM_DeliveryLatency)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
