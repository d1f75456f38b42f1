// FireWire isochronous reception: a DCL program of three segments runs in a
// ring over the receive memory; after each segment its call-proc runs the
// segment handler on the I/O thread, which finds frame starts, copies the
// payloads into the filling slot of the frame ring (16-bit samples brought
// to host order and optionally shifted up), times the frame, advances the
// ring and wakes the delivery thread. The camera talks through a remote
// port whose handlers program its channel and switch its transmission.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "camera_driver/DCAMInternal.h"
#include "utilities/CpuPaths.h"
#include "platform/coreservices/CoreServices.h"

void (*volatile gDCAMTestIsochHandlerPausePoint)() = nullptr;

namespace {

constexpr UInt32 kPacketSlotBytes = kDCAMPacketSlotBytes;
constexpr UInt64 kChannelsSupported = 0xFFFE000000000000ull;  // channels 0..14

inline UInt32 LoadBE32(const UInt8* p) {
  return UInt32(p[0]) << 24 | UInt32(p[1]) << 16 | UInt32(p[2]) << 8 | p[3];
}

MyDCAMCameraStruct* PortCamera(IOFireWireLibRemoteIsochPortRef port) {
  return static_cast<MyDCAMCameraStruct*>((*port)->GetRefCon(port));
}

// A register write retried while another access of its kind is in progress.
IOReturn WriteRetrying(MyDCAMCameraStruct* camera, UInt32 offset, UInt32 value, useconds_t pause) {
  IOReturn err = noErr;
  for (int tries = 0; tries < 3; tries++) {
    err = mySetRegisterQuadlet(camera, offset, value);
    if (err != kDCAMBusyErr) break;
    if (tries < 2) usleep(pause);
  }
  return err;
}

IOReturn SIsochPortGetSupported(IOFireWireLibRemoteIsochPortRef port, IOFWSpeed* maxSpeed, UInt64* channels) {
  MyDCAMCameraStruct* camera = PortCamera(port);
  if (!camera) return noErr;
  *maxSpeed = camera->mBusSpeed;
  *channels = kChannelsSupported;
  return noErr;
}

IOReturn SInitIsochPort(IOFireWireLibRemoteIsochPortRef port, IOFWSpeed speed, UInt32 channel) {
  MyDCAMCameraStruct* camera = PortCamera(port);
  if (!camera) return noErr;
  return WriteRetrying(camera, 0x60C, myIsochChannelRegister(speed, channel), 2000);
}

IOReturn SStartIsochPort(IOFireWireLibRemoteIsochPortRef port) {
  MyDCAMCameraStruct* camera = PortCamera(port);
  return camera ? WriteRetrying(camera, 0x614, 0x80000000, 1000) : OSStatus(noErr);
}

IOReturn SStopIsochPort(IOFireWireLibRemoteIsochPortRef port) {
  MyDCAMCameraStruct* camera = PortCamera(port);
  return camera ? WriteRetrying(camera, 0x614, 0, 1000) : OSStatus(noErr);
}

IOReturn SReleaseIsochPort(IOFireWireLibRemoteIsochPortRef port) { return SStopIsochPort(port); }

IOReturn SFinalizeIsochPort(void* refCon) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(refCon);
  if (camera) myAtomicStore(&camera->mLocalPortFinalized, 1);
  return noErr;
}

// The program: an opening label, then per segment a label, one receive per
// packet slot, a time stamp, an update list, a call-proc and a jump that
// points at its own label until the stream starts.
OSStatus myWriteDCLProgram(MyDCAMCameraStruct* camera, DCLCallCommandProc proc) {
  IOFireWireLibDCLCommandPoolRef pool = camera->mDCLCommandPool;
  const UInt32 packets = camera->mPacketsPerSegment;
  DCLCommandPtr prev = (*pool)->AllocateLabelDCL(pool, nullptr);
  if (!prev) return kIOReturnNoMemory;
  camera->mDCLProgram = prev;
  UInt32 k = 0;
  for (int s = 0; s < 3; s++) {
    prev = (*pool)->AllocateLabelDCL(pool, prev);
    if (!prev) return kIOReturnNoMemory;
    camera->mSegmentLabel[s] = static_cast<DCLLabelPtr>(prev);
    const UInt32 first = k;
    for (UInt32 j = 0; j < packets; j++) {
      prev = (*pool)->AllocateReceivePacketStartDCL(pool, prev, camera->mSegmentBase[s] + kPacketSlotBytes * j,
                                                    camera->mRecvPacketSize);
      if (!prev) return kIOReturnNoMemory;
      if (j == 0) camera->mSegmentFirstRecv[s] = prev;
      camera->mDCLUpdateList[k++] = prev;
    }
    prev = (*pool)->AllocatePtrTimeStampDCL(pool, prev, camera->mSegmentTimeStamp[s]);
    if (!prev) return kIOReturnNoMemory;
    camera->mDCLUpdateList[k++] = prev;
    prev = (*pool)->AllocateUpdateDCLListDCL(pool, prev, camera->mDCLUpdateList + first, k - first);
    if (!prev) return kIOReturnNoMemory;
    prev = (*pool)->AllocateCallProcDCL(pool, prev, proc, DCLCallProcDataType(uintptr_t(camera)));
    if (!prev) return kIOReturnNoMemory;
    camera->mSegmentCallProc[s] = static_cast<DCLCallProcPtr>(prev);
    prev = (*pool)->AllocateJumpDCL(pool, prev, camera->mSegmentLabel[s]);
    if (!prev) return kIOReturnNoMemory;
    camera->mSegmentJump[s] = static_cast<DCLJumpPtr>(prev);
  }
  return noErr;
}

// Copies `bytes` of payload into the slot, swapping and shifting 16-bit
// samples in the same pass.
inline void CopyPayload(UInt8* to, const UInt8* from, UInt32 bytes, UInt32 swap, UInt32 shift) {
  if (swap || shift)
    myCopyPacketSamples16(from, to, bytes, swap, shift);
  else
    std::memcpy(to, from, bytes);
}

// The frame is complete: time it and advance the ring.
void CompleteFrame(MyDCAMCameraStruct* camera) {
  const UInt64 now = SkyloomMicroseconds();
  const double elapsed = double(now - myALoad(&camera->mLastFrameStamp)) * 0.001;
  myAStore(&camera->mAccumulatedTime, myALoad(&camera->mAccumulatedTime) + myALoad(&camera->mLastFrameInterval));
  if (elapsed <= 5000.0)
    myAStore(&camera->mLastFrameInterval, camera->mCycleTimeAccumulator);
  else if (elapsed < 1000000000.0)
    myAStore(&camera->mLastFrameInterval, elapsed);
  camera->mCycleTimeAccumulator = 0;
  myAStore(&camera->mLastFrameStamp, now);
  myAStore(&camera->mFrameCounter, myALoad(&camera->mFrameCounter) + 1);
  myAdvanceRingAndSignal(camera, false);
}

void SPlayThruIsochHandler(DCLCommandPtr dcl) {
  if (auto hook = __atomic_load_n(&gDCAMTestIsochHandlerPausePoint, __ATOMIC_SEQ_CST)) hook();
  auto* camera = reinterpret_cast<MyDCAMCameraStruct*>(uintptr_t(static_cast<DCLCallProc*>(dcl)->procData));
  if (!camera) return;
  // The call-proc says which segment completed. A bus that overran the
  // handler skips segments and their call-procs: the segment is then not the
  // one expected, and the frame in progress has lost packets, so it is
  // dropped until the next frame start.
  UInt32 s = camera->mCurrentSegment % 3;
  for (UInt32 k = 0; k < 3; k++) {
    if (camera->mSegmentCallProc[k] != dcl) continue;
    if (k != s) myAStore(&camera->mWaitForFrameStart, UInt8(1));
    s = k;
    break;
  }
  myProcessIsochSegment(camera, camera->mSegmentBase[s], *camera->mSegmentTimeStamp[s],
                        camera->mPacketsPerSegment);
  camera->mCurrentSegment = (s + 1) % 3;
}

// Frees what the channel was built from; the DCL pool and the update list
// only once the local port is finalized (its last call-proc has run).
void ReleaseChannelObjects(MyDCAMCameraStruct* camera) {
  if (IOFireWireLibIsochChannelRef ch = camera->mIsochChannel) {
    if (camera->mTransmitting) {
      (*ch)->Stop(ch);
      (*ch)->ReleaseChannel(ch);
      camera->mTransmitting = 0;
    }
    (*ch)->Release(ch);
    camera->mIsochChannel = nullptr;
  }
  if (IOFireWireLibRemoteIsochPortRef remote = camera->mRemoteIsochPort) {
    (*remote)->Release(remote);
    camera->mRemoteIsochPort = nullptr;
  }
  bool finalized = true;
  if (IOFireWireLibLocalIsochPortRef local = camera->mLocalIsochPort) {
    (*local)->Release(local);
    camera->mLocalIsochPort = nullptr;
    // Whatever the run loop answers, wait for the finalize, for at most the
    // 100 x 0.1 s of old; the finalize arrives on the I/O thread, so look at
    // the flag often.
    const UInt64 deadline = SkyloomMicroseconds() + 10000000;
    while (!myAtomicLoad(&camera->mLocalPortFinalized) && SkyloomMicroseconds() < deadline) {
      if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.005, true) != kCFRunLoopRunHandledSource) usleep(500);
    }
    finalized = myAtomicLoad(&camera->mLocalPortFinalized) != 0;
  }
  if (!finalized) {
    // A call-proc may still run over the program: keep it rather than free it.
    std::fprintf(stderr, "myFinalizeISOCHChanel local port not finalized Err = 0x%x %d\n", kDCAMBusyErr,
                 kDCAMBusyErr);
  } else {
    std::free(camera->mDCLUpdateList);
    if (IOFireWireLibDCLCommandPoolRef pool = camera->mDCLCommandPool) (*pool)->Release(pool);
  }
  camera->mDCLUpdateList = nullptr;
  camera->mDCLCommandPool = nullptr;
  camera->mDCLProgram = nullptr;
}

}  // namespace

UInt32 myIsochChannelRegister(UInt32 speed, UInt32 channel) {
  return speed < 3 ? channel << 28 | speed << 24 : speed | channel << 8 | 0x8000;
}

void myUpshiftPacketData(const UInt16* source, UInt16* destination, UInt32 byteCount, UInt32 shift) {
  const auto* from = reinterpret_cast<const UInt8*>(source);
  auto* to = reinterpret_cast<UInt8*>(destination);
  for (UInt32 i = 0; i + 1 < byteCount; i += 2) {
    UInt16 v;
    std::memcpy(&v, from + i, 2);
    v = shift >= 16 ? 0 : UInt16(v << shift);
    std::memcpy(to + i, &v, 2);
  }
}

#if defined(__x86_64__)
namespace {
// AVX2: 32 bytes a step; returns the bytes done.
__attribute__((target("avx2"))) UInt32 copyPacketSamplesAVX2(const UInt8* from, UInt8* to, UInt32 bytes,
                                                              UInt32 swap, UInt32 shift) {
  const __m128i count = _mm_cvtsi32_si128(int(shift));
  UInt32 i = 0;
  for (; i + 32 <= bytes; i += 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
    if (swap) v = _mm256_or_si256(_mm256_slli_epi16(v, 8), _mm256_srli_epi16(v, 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + i), _mm256_sll_epi16(v, count));
  }
  return i;
}
}  // namespace
#endif

void myCopyPacketSamples16(const UInt8* from, UInt8* to, UInt32 bytes, UInt32 swap, UInt32 shift) {
  UInt32 i = 0;
#if defined(__x86_64__)
  // Shifts of 16 or more give 0 in every form, as in the plain one.
  const MyCpuPath path = myCpuPath();
  if (path >= kMyCpuPathAVX2) i = copyPacketSamplesAVX2(from, to, bytes, swap, shift);
  if (path >= kMyCpuPathSSE2) {
    const __m128i count = _mm_cvtsi32_si128(int(shift));
    for (; i + 16 <= bytes; i += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
      if (swap) v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_sll_epi16(v, count));
    }
  }
#endif
  for (; i + 1 < bytes; i += 2) {
    UInt8 pair[2] = {from[i], from[i + 1]};
    if (swap) std::swap(pair[0], pair[1]);
    UInt16 v;
    std::memcpy(&v, pair, 2);
    v = shift >= 16 ? 0 : UInt16(v << shift);
    std::memcpy(to + i, &v, 2);
  }
  if (i < bytes && shift == 0) to[i] = from[i];  // an odd last byte
}

bool myIsochTimeConstraint(UInt32 numer, UInt32 denom, UInt32 packets, double processorMHz, double busHz,
                           UInt32* period, UInt32* computation, UInt32* constraint) {
  if (!numer || busHz <= 0 || processorMHz <= 0) return false;
  const double t = 1000000.0 * (double(denom) / double(numer));
  const double p = double(packets);
  const double periodD = t * p * 0.124998437519531;
  double comp = t * p * (933333331.001 / processorMHz) * (133333331.001 / busHz) * 0.016666666666666666;
  double cons = comp * 1.5;
  if (comp == 0 || comp >= periodD) comp = cons = periodD;
  auto toU32 = [](double v) { return v <= 0 ? 0u : v >= 4294967295.0 ? 0xFFFFFFFFu : UInt32(v); };
  *period = toU32(periodD);
  *computation = toU32(comp);
  *constraint = toU32(cons);
  return true;
}

void myProcessIsochSegment(MyDCAMCameraStruct* camera, UInt8* segment, UInt32 timeStamp, UInt32 packets) {
  if (!myALoad(&camera->mDeliveryEnabled)) return;
  UInt8* slot = camera->mSlot[myALoad(&camera->mFillingSlot) % 3];
  const UInt32 frameBytes = camera->mFrameByteCount;
  if (!slot || !frameBytes) return;
  const bool raw = camera->mPixelFormat == FOUR_CHAR_CODE("raw ");
  const bool sample16 = raw && camera->mBitsPerPixel == 16;
  // Wire order is big-endian: 16-bit samples reach the ring in host order
  // (the user's flag swaps against that), RGB16 frames too.
  const bool swap = (sample16 && ((myALoad(&camera->mSwap16) != 0) != kDCAMHostIsLittleEndian)) ||
                    (raw && camera->mBitsPerPixel == 48 && kDCAMHostIsLittleEndian);
  const UInt32 shift = sample16 ? myALoad(&camera->mUpShift) : 0;

  // Seconds come modulo 8, so the bus time wraps every 8000 ms.
  const double t = double((timeStamp >> 25) & 7) * 1000.0 + double((timeStamp >> 12) & 0x1FFF) * 0.125;
  if (myALoad(&camera->mWaitForFrameStart))
    camera->mCycleTimeAccumulator = 0;
  else
    camera->mCycleTimeAccumulator += t > camera->mPreviousPacketTime ? t - camera->mPreviousPacketTime
                                                                     : t + (8000.0 - camera->mPreviousPacketTime);
  camera->mPreviousPacketTime = t;

  UInt32 received = myALoad(&camera->mBytesReceived);
  const UInt32 receiveSize = camera->mRecvPacketSize;
  for (UInt32 p = 0; p < packets; p++) {
    UInt8* packet = segment + size_t(kPacketSlotBytes) * p;
    const UInt32 header = LoadBE32(packet);
    const UInt32 length = header >> 16;
    if (length > receiveSize) {
      myAStore(&camera->mWaitForFrameStart, UInt8(1));  // drop until the next frame start
      continue;
    }
    if ((header & 0xF) == 1) {
      myAStore(&camera->mWaitForFrameStart, UInt8(0));
      received = 0;
    }
    if (myALoad(&camera->mWaitForFrameStart)) continue;
    UInt8* payload = packet + 4;
    // Samples are swapped on the way into the slot; only a frame end at an odd
    // byte, which cuts a sample in two, swaps the packet in place first.
    UInt32 swapInCopy = swap ? 1 : 0;
    if (swap && received + length >= frameBytes && ((frameBytes - received) & 1)) {
      mySwap16InPlace(payload, length);
      swapInCopy = 0;
    }
    if (received + length < frameBytes) {
      CopyPayload(slot + received, payload, length, swapInCopy, shift);
      received += length;
      continue;
    }
    const UInt32 first = frameBytes - received;
    CopyPayload(slot + received, payload, first, swapInCopy, shift);
    CompleteFrame(camera);
    slot = camera->mSlot[myALoad(&camera->mFillingSlot) % 3];
    // Padding beyond the frame: never more than one frame into the slot.
    const UInt32 rest = std::min(length - first, frameBytes);
    CopyPayload(slot, payload + first, rest, swapInCopy, shift);
    received = rest;
  }
  myAStore(&camera->mBytesReceived, received);
}

OSStatus myInitializeISOCHChanel(MyDCAMCameraStruct* camera) {
  IOFireWireLibDeviceRef dev = camera->mFWDevice;
  if (!dev || !camera->mRecvRegion) return kIOReturnNoDevice;
  const UInt32 packets = camera->mPacketsPerSegment;
  if (!packets || packets > 270 || !camera->mRecvPacketSize || camera->mRecvPacketSize > kPacketSlotBytes)
    return paramErr;
  const bool newLib = camera->mFWLibVersion >= 0x01700000;
  OSStatus err = noErr;

  const size_t listBytes = std::max<size_t>(60 * packets + 280, sizeof(DCLCommandPtr) * 3 * (packets + 1));
  camera->mDCLUpdateList = static_cast<DCLCommandPtr*>(std::malloc(listBytes));
  if (!camera->mDCLUpdateList) return memFullErr;
  std::memset(camera->mDCLUpdateList, 0xFF, listBytes);

  IOFireWireLibRemoteIsochPortRef remote =
      (*dev)->CreateRemoteIsochPort(dev, true, kIOFireWireRemoteIsochPortInterfaceID);
  camera->mRemoteIsochPort = remote;
  if (!remote) err = memFullErr;
  if (err == noErr) {
    (*remote)->SetRefCon(remote, camera);
    (*remote)->SetGetSupportedHandler(remote, SIsochPortGetSupported);
    (*remote)->SetAllocatePortHandler(remote, SInitIsochPort);
    (*remote)->SetReleasePortHandler(remote, SReleaseIsochPort);
    (*remote)->SetStartHandler(remote, SStartIsochPort);
    (*remote)->SetStopHandler(remote, SStopIsochPort);
    camera->mDCLCommandPool =
        (*dev)->CreateDCLCommandPool(dev, 60 * packets + 264, kIOFireWireDCLCommandPoolInterfaceID);
    if (!camera->mDCLCommandPool) err = kIOReturnNoMemory;
  }
  if (err == noErr) err = myWriteDCLProgram(camera, newLib ? SPlayThruIsochHandler : nullptr);
  if (err == noErr) {
    IOVirtualRange programRange = {0, 0};
    IOVirtualRange bufferRange = {UInt64(uintptr_t(camera->mRecvRegion)), camera->mRecvRegionSize};
    IOFireWireLibLocalIsochPortRef local =
        (*dev)->CreateLocalIsochPort(dev, false, camera->mDCLProgram, 0, 0, 0, &programRange, 1, &bufferRange, 1,
                                     kIOFireWireLocalIsochPortInterfaceID);
    camera->mLocalIsochPort = local;
    if (!local) err = memFullErr;
  }
  if (err == noErr) {
    // The finalize callback is asked for on every library version: the pool
    // must outlive the last call-proc whatever the version.
    IOFireWireLibLocalIsochPortRef local = camera->mLocalIsochPort;
    (*local)->SetRefCon(local, camera);
    myAtomicStore(&camera->mLocalPortFinalized, 0);
    (*local)->SetFinalizeCallback(local, SFinalizeIsochPort);
    IOFireWireLibIsochChannelRef ch = (*dev)->CreateIsochChannel(dev, true, camera->mRecvPacketSize,
                                                                 camera->mBusSpeed, kIOFireWireIsochChannelInterfaceID);
    camera->mIsochChannel = ch;
    if (!ch) err = memFullErr;
  }
  if (err == noErr) {
    IOFireWireLibIsochChannelRef ch = camera->mIsochChannel;
    err = (*ch)->SetTalker(ch, camera->mRemoteIsochPort);
    if (err == noErr) err = (*ch)->AddListener(ch, camera->mLocalIsochPort);
  }
  if (err != noErr) {
    if (!camera->mLocalIsochPort) myAtomicStore(&camera->mLocalPortFinalized, 1);
    ReleaseChannelObjects(camera);
    return err;
  }
  camera->mChannelAllocated = 1;
  return noErr;
}

void myFinalizeISOCHChanel(MyDCAMCameraStruct* camera) {
  if (!camera->mChannelAllocated) return;
  ReleaseChannelObjects(camera);
  camera->mChannelAllocated = 0;
}

OSStatus myStartFWStream(MyDCAMCameraStruct* camera) {
  IOFireWireLibLocalIsochPortRef local = camera->mLocalIsochPort;
  IOFireWireLibIsochChannelRef ch = camera->mIsochChannel;
  if (!local || !ch) return paramErr;
  IOReturn err = noErr;
  for (int s = 0; s < 3; s++) {
    camera->mSegmentCallProc[s]->proc = SPlayThruIsochHandler;
    err = (*local)->ModifyJumpDCL(local, camera->mSegmentJump[s], camera->mSegmentLabel[(s + 1) % 3]);
  }
  if (err != noErr) return err;
  camera->mCurrentSegment = 0;
  camera->mCycleTimeAccumulator = 0;
  camera->mPreviousPacketTime = 0;
  myAStore(&camera->mBytesReceived, UInt32(0));
  if ((err = (*ch)->AllocateChannel(ch)) != noErr) return err;
  if ((err = (*ch)->Start(ch)) != noErr) {
    (*ch)->ReleaseChannel(ch);
    return err;
  }
  // The I/O thread gets a time-constraint policy sized to one segment.
  mach_timebase_info_data_t timebase = {0, 0};
  SInt32 busHz = 0;
  UInt32 period, computation, constraint;
  if (mach_timebase_info(&timebase) == KERN_SUCCESS && Gestalt(FOUR_CHAR_CODE("bclm"), &busHz) == noErr &&
      myIsochTimeConstraint(timebase.numer, timebase.denom, camera->mPacketsPerSegment, MaximumProcessorSpeed(),
                            busHz, &period, &computation, &constraint)) {
    thread_time_constraint_policy_data_t policy = {period, computation, constraint, false};
    thread_policy_set(pthread_mach_thread_np(camera->mIOThread), THREAD_TIME_CONSTRAINT_POLICY,
                      reinterpret_cast<thread_policy_t>(&policy), THREAD_TIME_CONSTRAINT_POLICY_COUNT);
  }
  return noErr;
}

void myStopFWStream(MyDCAMCameraStruct* camera) {
  if (IOFireWireLibIsochChannelRef ch = camera->mIsochChannel) {
    (*ch)->Stop(ch);
    (*ch)->ReleaseChannel(ch);
  }
}
