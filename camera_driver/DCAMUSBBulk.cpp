// USB bulk reception: one asynchronous bulk read of a whole frame always
// outstanding on pipe 1, aimed at the filling slot of the ring, completing
// on the USB I/O thread's run loop. A frame is recognised by its length.
#include <unistd.h>

#include <cstdio>

#include "camera_driver/DCAMInternal.h"
#include "platform/coreservices/CoreServices.h"

namespace {

IOReturn QueueRead(MyDCAMCameraStruct* camera, UInt32 slot) {
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  return (*intf)->ReadPipeAsync(intf, camera->mUSBStreamPipe, camera->mSlot[slot % 3], camera->mUSBBulkReadSize,
                                myQueBulKPipeDataCallBackFunction, camera);
}

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
  CFRunLoopSourceRef source = nullptr;
  IOReturn status = (*intf)->CreateInterfaceAsyncEventSource(intf, &source);
  if (status == kIOReturnSuccess) {
    camera->mIORunLoopSource = source;
    camera->mIORunLoop = CFRunLoopGetCurrent();
    CFRunLoopAddSource(camera->mIORunLoop, source, kCFRunLoopDefaultMode);
    myAStore(&camera->mLastFrameStamp, SkyloomMicroseconds());
    status = QueueRead(camera, 0);
  }
  camera->mUSBLastBulkStatus = status;
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

  pthread_mutex_lock(&camera->mIOMutex);
  CFRunLoopRemoveSource(camera->mIORunLoop, source, kCFRunLoopDefaultMode);
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

void myQueBulKPipeDataCallBackFunction(void* refCon, IOReturn result, void* arg0) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(refCon);
  if (!camera || !myAtomicLoad(&camera->mIORun) || result == kIOReturnAborted) return;
  const UInt32 bytes = UInt32(uintptr_t(arg0));
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
    if (err != kIOReturnSuccess) camera->mUSBLastBulkStatus = err;
    return;
  }
  // Not a whole frame: the ring stays, the read goes again into the same slot.
  if (result == kIOUSBPipeStalled) ClearStall(camera);
  err = QueueRead(camera, myALoad(&camera->mFillingSlot));
  if (err != kIOReturnSuccess) {
    mySetRegisterQuadlet(camera, 0x614, 0);
    camera->mUSBLastBulkStatus = err;
    mySetRegisterQuadlet(camera, 0x614, 0x80000000);
  }
}

OSStatus myStartQuedAsynchBulkReadsUSB(MyDCAMCameraStruct* camera, UInt8 pipe) {
  if (!camera) return kIOReturnNoDevice;
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  if (!intf || !camera->mSlot[0]) return paramErr;
  camera->mUSBStreamPipe = pipe;
  myAtomicStore(&camera->mIOAlive, 0);
  myAtomicStore(&camera->mIORun, 0);
  camera->mUSBLastBulkStatus = kIOReturnSuccess;
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
  const IOReturn status = camera->mUSBLastBulkStatus;
  pthread_mutex_unlock(&camera->mIOMutex);
  camera->mChannelAllocated = status == kIOReturnSuccess;
  return status;
}

bool myStopQuedAsynchBulkReadsUSB(MyDCAMCameraStruct* camera) {
  camera->mChannelAllocated = 0;
  if (!camera->mIOThreadObjectsMade) return true;
  mySetRegisterQuadlet(camera, 0x614, 0);
  myAtomicClearFlag(&camera->mIORun);
  IOUSBInterfaceRef intf = camera->mUSBInterface;
  if (intf) (*intf)->AbortPipe(intf, camera->mUSBStreamPipe);
  pthread_mutex_lock(&camera->mIOMutex);
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
