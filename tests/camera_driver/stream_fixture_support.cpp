#include "tests/camera_driver/stream_fixture.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

void SetStreamMode(MyDCAMCameraStruct* camera, SimCamera& sim, const StreamMode& mode) {
  camera->mWidth = mode.width;
  camera->mHeight = mode.height;
  camera->mBitsPerPixel = mode.bits;
  camera->mPixelFormat = mode.code;
  camera->mBytesPerPacket = mode.bytesPerPacket;
  camera->mRecvPacketSize = mode.bytesPerPacket + 4;
  camera->mFrameByteCount = mode.width * mode.height * mode.bits / 8;
  const UInt32 packets = (camera->mFrameByteCount + mode.bytesPerPacket - 1) / mode.bytesPerPacket;
  UInt32 perSegment = packets;
  if (perSegment > 270) {
    UInt32 segments = (packets + 269) / 270;
    perSegment = (packets + segments - 1) / segments;
  }
  camera->mPacketsPerSegment = perSegment;
  // Slots hold a whole USB read (frame bytes rounded up to 512).
  const size_t slot = (size_t(camera->mFrameByteCount) + 511) / 512 * 512 + 4096;
  std::free(camera->mRingBlock);
  auto* block = static_cast<UInt8*>(std::calloc(1, 3 * slot + 4096));
  camera->mRingBlock = block;
  for (int s = 0; s < 3; s++) camera->mSlot[s] = block + s * slot;
  camera->mFormat = 0;
  camera->mMode = 5;
  camera->mRate = 4;
  camera->mFormatSet = 1;
  SimStreamGeometry g;
  g.width = mode.width;
  g.height = mode.height;
  g.bits = mode.bits;
  g.code = mode.code;
  g.bytesPerPacket = mode.bytesPerPacket;
  g.fps = mode.fps;
  sim.Stream().SetGeometryOverride(g);
}

namespace {
UInt32 ReadID(const UInt8* p, bool swapped16) {
  if (swapped16) return UInt32(p[1]) << 24 | UInt32(p[0]) << 16 | UInt32(p[3]) << 8 | p[2];
  return UInt32(p[0]) << 24 | UInt32(p[1]) << 16 | UInt32(p[2]) << 8 | p[3];
}
}  // namespace

UInt32 FrameIDAtStart(const UInt8* frame, bool swapped16) { return ReadID(frame, swapped16); }
UInt32 FrameIDAtEnd(const UInt8* frame, UInt32 bytes, bool swapped16) {
  return ReadID(frame + bytes - 4, swapped16);
}

std::vector<UInt8> HostOrderReference(SimCamera& sim, UInt32 id, bool swap16) {
  std::vector<UInt8> f = sim.Stream().ReferenceFrame(id);
  if (swap16)
    for (size_t i = 0; i + 1 < f.size(); i += 2) std::swap(f[i], f[i + 1]);
  return f;
}

void FrameCollector::Callback(UInt32, UInt32, UInt32 bytes, void* frame, void* refCon, double interval,
                              double accumulated) {
  auto* c = static_cast<FrameCollector*>(refCon);
  c->inside = true;
  const auto* f = static_cast<const UInt8*>(frame);
  const UInt32 start = FrameIDAtStart(f, c->swapped16);
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    c->cond.notify_all();
  }
  while (c->block) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (int ms = c->sleepMs) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    if (c->keepFrames) c->frames.emplace_back(f, f + bytes);
    c->startIDs.push_back(start);
    c->endIDs.push_back(FrameIDAtEnd(f, bytes, c->swapped16));
    c->intervals.push_back(interval);
    c->accumulated.push_back(accumulated);
    c->count++;
    c->cond.notify_all();
  }
  c->inside = false;
}

bool FrameCollector::WaitFor(int n) {
  std::unique_lock<std::mutex> lock(mutex);
  return cond.wait_for(lock, std::chrono::seconds(10), [&] { return count >= n; });
}

bool FrameCollector::WaitInside() {
  std::unique_lock<std::mutex> lock(mutex);
  return cond.wait_for(lock, std::chrono::seconds(10), [&] { return inside.load(); });
}

bool WaitCallbackIdle(MyDCAMCameraStruct* camera) {
  for (int i = 0; i < 10000; i++) {
    if (myAtomicLoad(&camera->mCallbackBusy) == 0 && myAtomicLoad(&camera->mFrameReady) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}
