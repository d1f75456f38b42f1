// USB bulk reception: one asynchronous bulk read of a whole frame always
// outstanding on pipe 1, aimed at the filling slot of the ring, completing
// on the USB I/O thread's run loop. A frame is recognised by its length.
#include <unistd.h>

#include <cstdio>

#include "camera_driver/DCAMInternal.h"
#include "platform/coreservices/CoreServices.h"

namespace {

// Completions of reads this thread queued are counted, so that the thread
// leaves only once each has come back: a completion left in the interface's
// event source would otherwise be performed by the next run's thread, as a
// frame of a read that run never queued.
IOReturn QueueRead(MyDCAMCameraStruct* camera, UInt32 slot) {
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  IncrementAtomic(&camera->mUSBReadsOutstanding);
  IOReturn err = (*intf)->ReadPipeAsync(intf, camera->mUSBStreamPipe, camera->mSlot[slot % 3],
                                        camera->mUSBBulkReadSize, myQueBulKPipeDataCallBackFunction, camera);
  if (err != kIOReturnSuccess) DecrementAtomic(&camera->mUSBReadsOutstanding);
  return err;
}

// Bound on waiting for the last completions after a stop: below the
// stopper's 1000 polls of 1 ms, so a stop that finds a read which never
// comes back still ends with the thread gone.
constexpr double kDrainSeconds = 0.8;

// The camera's transmission off, the stall cleared on both ends, back on.
void ClearStall(MyDCAMCameraStruct* camera) {
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  mySetRegisterQuadlet(camera, 0x614, 0);
  (*intf)->ClearPipeStallBothEnds(intf, camera->mUSBStreamPipe);
  mySetRegisterQuadlet(camera, 0x614, 0x80000000);
}

// 16-bit and 48-bit samples travel big-endian; the ring holds host order.
void ToHostOrder(MyDCAMCameraStruct* camera, UInt8* frame) {
  if (!kDCAMHostIsLittleEndian || camera->mPixelFormat != FOUR_CHAR_CODE("raw ")) return;
  if (camera->mBitsPerPixel == 16 || camera->mBitsPerPixel == 48) mySwap16InPlace(frame, camera->mFrameByteCount);
}

void* myUSBBulkThreadLoop(void* arg) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(arg);
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  pthread_mutex_lock(&camera->mIOMutex);
  myAStore(&camera->mFillingSlot, UInt32(0));
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  CFRunLoopSourceRef source = nullptr;
  IOReturn status = (*intf)->CreateInterfaceAsyncEventSource(intf, &source);
  if (status == kIOReturnSuccess) {
    CFRunLoopAddSource(loop, source, kCFRunLoopDefaultMode);
    myAStore(&camera->mLastFrameStamp, SkyloomMicroseconds());
    status = QueueRead(camera, 0);
    if (status == kIOReturnSuccess) {
      camera->mIORunLoopSource = source;
      camera->mIORunLoop = loop;
    } else {
      CFRunLoopRemoveSource(loop, source, kCFRunLoopDefaultMode);
    }
  }
  // The starter reads this run's own start status, which no completion
  // touches: completions may already run once the mutex is released.
  camera->mUSBStartStatus = status;
  myAStore(&camera->mUSBLastBulkStatus, status);
  myAtomicStore(&camera->mIORun, 1);
  if (status == kIOReturnSuccess) myAtomicStore(&camera->mIOAlive, 1);
  // Broadcast under the mutex: on failure the starter may destroy it as
  // soon as it wakes.
  pthread_cond_broadcast(&camera->mIOCond);
  pthread_mutex_unlock(&camera->mIOMutex);
  if (status != kIOReturnSuccess) {
    if (source) CFRelease(source);
    return nullptr;
  }

  while (myAtomicLoad(&camera->mIORun)) CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.5, false);

  // Told to stop: the stopper's abort, made under the I/O mutex together
  // with lowering the run flag, ends every read queued (completions queue
  // under that mutex too, and only while the flag is up). Wait for their
  // completions before the source leaves the run loop.
  const UInt64 deadline = SkyloomMicroseconds() + UInt64(kDrainSeconds * 1e6);
  while (myAtomicLoad(&camera->mUSBReadsOutstanding) > 0 && SkyloomMicroseconds() < deadline)
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.005, true);

  pthread_mutex_lock(&camera->mIOMutex);
  CFRunLoopRemoveSource(loop, source, kCFRunLoopDefaultMode);
  CFRelease(source);
  camera->mIORunLoopSource = nullptr;
  camera->mIORunLoop = nullptr;
  myAtomicStore(&camera->mIOAlive, 0);
  pthread_cond_broadcast(&camera->mIOCond);
  pthread_mutex_unlock(&camera->mIOMutex);
  return nullptr;
}

}  // namespace

UInt32 myUSBBulkReadSize(UInt32 frameBytes, UInt32 maxPacketSize) {
  if (maxPacketSize == 0) return frameBytes;
  return UInt32((UInt64(frameBytes) + maxPacketSize - 1) / maxPacketSize * maxPacketSize);
}

bool myUSBIsGoodFrame(UInt32 frameBytes, UInt32 readSize, IOReturn status, UInt32 bytes) {
  if (status != kIOReturnSuccess) return false;
  return frameBytes == readSize ? bytes == readSize : bytes >= frameBytes;
}

namespace {

void CompleteRead(MyDCAMCameraStruct* camera, IOReturn result, UInt32 bytes) {
  IOReturn err;
  if (myUSBIsGoodFrame(camera->mFrameByteCount, camera->mUSBBulkReadSize, result, bytes)) {
    const UInt64 now = SkyloomMicroseconds();
    const double interval = double(now - myALoad(&camera->mLastFrameStamp)) * 0.001;
    myAStore(&camera->mLastFrameInterval, interval);
    myAStore(&camera->mAccumulatedTime, myALoad(&camera->mAccumulatedTime) + interval);
    myAStore(&camera->mLastFrameStamp, now);
    myAStore(&camera->mFrameCounter, myALoad(&camera->mFrameCounter) + 1);
    if (myAtomicLoad(&camera->mCallbackBusy) <= 0 && myALoad(&camera->mDeliveryEnabled)) {
      ToHostOrder(camera, camera->mSlot[myALoad(&camera->mFillingSlot) % 3]);
      myAdvanceRingAndSignal(camera, true);
    }
    err = QueueRead(camera, myALoad(&camera->mFillingSlot));
    if (err == kIOUSBPipeStalled) {
      ClearStall(camera);
      err = QueueRead(camera, myALoad(&camera->mFillingSlot));
    }
    if (err != kIOReturnSuccess) myAStore(&camera->mUSBLastBulkStatus, err);
    return;
  }
  // Not a whole frame: the ring stays, the read goes again into the same slot.
  if (result == kIOUSBPipeStalled) ClearStall(camera);
  err = QueueRead(camera, myALoad(&camera->mFillingSlot));
  if (err != kIOReturnSuccess) {
    mySetRegisterQuadlet(camera, 0x614, 0);
    myAStore(&camera->mUSBLastBulkStatus, err);
    mySetRegisterQuadlet(camera, 0x614, 0x80000000);
  }
}

}  // namespace

void myQueBulKPipeDataCallBackFunction(void* refCon, IOReturn result, void* arg0) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(refCon);
  if (!camera) return;
  DecrementAtomic(&camera->mUSBReadsOutstanding);
  if (result == kIOReturnAborted) return;
  // The stopper lowers the run flag and aborts under this mutex, so a read
  // queued here is either ended by that abort or never queued.
  pthread_mutex_lock(&camera->mIOMutex);
  if (myAtomicLoad(&camera->mIORun)) CompleteRead(camera, result, UInt32(uintptr_t(arg0)));
  pthread_mutex_unlock(&camera->mIOMutex);
}

OSStatus myStartQuedAsynchBulkReadsUSB(MyDCAMCameraStruct* camera, UInt8 pipe) {
  if (!camera) return kIOReturnNoDevice;
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  if (!intf || !camera->mSlot[0]) return paramErr;
  camera->mUSBStreamPipe = pipe;
  myAtomicStore(&camera->mIOAlive, 0);
  myAtomicStore(&camera->mIORun, 0);
  myAStore(&camera->mUSBLastBulkStatus, IOReturn(kIOReturnSuccess));
  myAtomicStore(&camera->mUSBReadsOutstanding, 0);
  camera->mUSBBulkReadSize = myUSBBulkReadSize(camera->mFrameByteCount, camera->mUSBPipeMaxPacketSize);

  mySetRegisterQuadlet(camera, 0x614, 0x80000000);
  mySetRegisterQuadlet(camera, 0x614, 0);
  if ((*intf)->GetPipeStatus(intf, pipe) != kIOReturnSuccess) {
    IOReturn err = (*intf)->ClearPipeStallBothEnds(intf, pipe);
    if (err != kIOReturnSuccess) return err;
  }

  pthread_mutex_init(&camera->mIOMutex, nullptr);
  pthread_cond_init(&camera->mIOCond, nullptr);
  pthread_attr_init(&camera->mIOThreadAttr);
  int e = pthread_create(&camera->mIOThread, &camera->mIOThreadAttr, myUSBBulkThreadLoop, camera);
  if (e != 0) {
    std::fprintf(stderr, "myStartQuedAsynchBulkReadsUSB pthread_create failed Err = 0x%x %d\n", e, e);
    pthread_attr_destroy(&camera->mIOThreadAttr);
    pthread_cond_destroy(&camera->mIOCond);
    pthread_mutex_destroy(&camera->mIOMutex);
    return e;
  }
  pthread_detach(camera->mIOThread);
  camera->mIOThreadObjectsMade = 1;
  pthread_mutex_lock(&camera->mIOMutex);
  while (!myAtomicLoad(&camera->mIORun)) pthread_cond_wait(&camera->mIOCond, &camera->mIOMutex);
  const IOReturn status = camera->mUSBStartStatus;
  pthread_mutex_unlock(&camera->mIOMutex);
  camera->mChannelAllocated = status == kIOReturnSuccess;
  return status;
}

bool myStopQuedAsynchBulkReadsUSB(MyDCAMCameraStruct* camera) {
  camera->mChannelAllocated = 0;
  if (!camera->mIOThreadObjectsMade) return true;
  mySetRegisterQuadlet(camera, 0x614, 0);
  // The camera is off now, as after the FireWire release: a later start of
  // video must switch it on again rather than take it as still sending.
  camera->mTransmitting = 0;
  myAStore(&camera->mWaitForFrameStart, UInt8(1));
  pthread_mutex_lock(&camera->mIOMutex);
  myAtomicClearFlag(&camera->mIORun);
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  if (intf) (*intf)->AbortPipe(intf, camera->mUSBStreamPipe);
  CFRunLoopRef loop = camera->mIORunLoop;
  if (loop) CFRunLoopStop(loop);  // none when the event source failed
  pthread_mutex_unlock(&camera->mIOMutex);
  for (int polls = 0; myAtomicLoad(&camera->mIOAlive) && polls < 1000; polls++) usleep(1000);
  if (myAtomicLoad(&camera->mIOAlive)) {
    std::fprintf(stderr, "myStopQuedAsynchBulkReadsUSB I/O thread did not leave Err = 0x%x %d\n", kDCAMBusyErr,
                 kDCAMBusyErr);
    return false;
  }
  // The thread broadcasts and unlocks after clearing its alive flag.
  pthread_mutex_lock(&camera->mIOMutex);
  pthread_mutex_unlock(&camera->mIOMutex);
  pthread_attr_destroy(&camera->mIOThreadAttr);
  pthread_cond_destroy(&camera->mIOCond);
  pthread_mutex_destroy(&camera->mIOMutex);
  camera->mIOThreadObjectsMade = 0;
  return true;
}
