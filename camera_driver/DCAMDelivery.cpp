// Frame delivery: the detached delivery thread that calls the frame
// callback, and the operations that install the callback, pause and resume
// delivery, allocate the receive path and start and stop transmission.
//
// Hand-off: the I/O side completes a frame in the filling slot and, while
// the callback is not busy, makes it the delivered slot, advances the ring
// and wakes the delivery thread once. The delivery thread raises the busy
// count before it looks at the ring, so a stopper that has cleared
// delivery-enabled and then seen the count at zero knows no callback will
// start on the ring. Every wake and stop is signalled under the mutex and
// the thread waits on a predicate, so none is lost.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "camera_driver/DCAMInternal.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/mach/Mach.h"

UInt32 gDCAMCallbackWaitPolls = 10000;
void (*volatile gDCAMTestWFFSPausePoint)(MyDCAMCameraStruct* camera, int where) = nullptr;

namespace {

void PausePoint(MyDCAMCameraStruct* camera, int where) {
  auto hook = __atomic_load_n(&gDCAMTestWFFSPausePoint, __ATOMIC_SEQ_CST);
  if (hook) hook(camera, where);
}

}  // namespace

void mySwap16InPlace(UInt8* bytes, UInt32 count) {
  for (UInt32 i = 0; i + 1 < count; i += 2) {
    UInt8 t = bytes[i];
    bytes[i] = bytes[i + 1];
    bytes[i + 1] = t;
  }
}

bool myWaitForCallbackIdle(MyDCAMCameraStruct* camera) {
  const UInt32 polls = myALoad(&gDCAMCallbackWaitPolls);
  for (UInt32 i = 0; myAtomicLoad(&camera->mCallbackBusy) > 0 && i < polls; i++) usleep(1000);
  return myAtomicLoad(&camera->mCallbackBusy) <= 0;
}

void myAdvanceRingAndSignal(MyDCAMCameraStruct* camera, bool needEnabled) {
  if (myAtomicLoad(&camera->mCallbackBusy) > 0) return;  // the next frame overwrites the same slot
  if (needEnabled && !myALoad(&camera->mDeliveryEnabled)) return;
  const UInt32 filling = myALoad(&camera->mFillingSlot) % 3;
  myAStore(&camera->mDeliveredSlot, filling);
  myAStore(&camera->mFillingSlot, (filling + 1) % 3);
  if (!myALoad(&camera->mWFFSThreadObjectsMade)) return;
  pthread_mutex_lock(&camera->mWFFSMutex);
  if (myALoad(&camera->mDeliveryEnabled) && myAtomicLoad(&camera->mFrameReady) == 0) {
    IncrementAtomic(&camera->mFrameReady);
    IncrementAtomic(&camera->mPendingSignals);
    pthread_cond_signal(&camera->mWFFSCond);
  } else if (myAtomicLoad(&camera->mPendingSignals) != 0) {
    pthread_cond_signal(&camera->mWFFSCond);
  }
  pthread_mutex_unlock(&camera->mWFFSMutex);
}

// ------------------------------------------------------------ the delivery thread

// The delivery thread asks for the time-constraint policy (a real-time
// priority where the user may have one), so a loaded machine does not keep it
// off the CPU while the frame ring fills; refused, it runs on as it was.
static void myRaiseDeliveryPriority() {
  SkyloomRequestTimeConstraintMs(5.0, 2.0, 5.0);
}

void* myWFFS(void* arg) {
  auto* camera = static_cast<MyDCAMCameraStruct*>(arg);
  myRaiseDeliveryPriority();
  pthread_mutex_lock(&camera->mWFFSMutex);
  myAtomicStore(&camera->mWFFSRun, 1);
  myAtomicStore(&camera->mWFFSAlive, 1);
  pthread_cond_broadcast(&camera->mWFFSCond);
  pthread_mutex_unlock(&camera->mWFFSMutex);

  while (myAtomicLoad(&camera->mWFFSRun)) {
    PausePoint(camera, 0);
    pthread_mutex_lock(&camera->mWFFSMutex);
    while (myAtomicLoad(&camera->mWFFSRun) &&
           (!myALoad(&camera->mFrameCallback) ||
            (myAtomicLoad(&camera->mFrameReady) == 0 && myAtomicLoad(&camera->mPendingSignals) == 0)))
      pthread_cond_wait(&camera->mWFFSCond, &camera->mWFFSMutex);
    if (myAtomicLoad(&camera->mPendingSignals) > 0) DecrementAtomic(&camera->mPendingSignals);
    pthread_mutex_unlock(&camera->mWFFSMutex);
    if (!myAtomicLoad(&camera->mWFFSRun)) break;
    if (myAtomicLoad(&camera->mFrameReady) == 0) continue;

    PausePoint(camera, 1);
    // Busy first, then look again: a stopper clears delivery-enabled before
    // it waits for the busy count.
    IncrementAtomic(&camera->mCallbackBusy);
    const UInt32 slot = myALoad(&camera->mDeliveredSlot);
    MyDCAMFrameCallback callback = myALoad(&camera->mFrameCallback);
    if (myAtomicLoad(&camera->mWFFSRun) && myALoad(&camera->mDeliveryEnabled) &&
        myAtomicLoad(&camera->mFrameReady) && slot < 3 && callback && camera->mSlot[slot]) {
      callback(camera->mWidth, camera->mHeight, camera->mFrameByteCount, camera->mSlot[slot],
               myALoad(&camera->mCallbackRefCon), myALoad(&camera->mLastFrameInterval),
               myALoad(&camera->mAccumulatedTime));
    }
    // Frame-ready goes down while the ring is still held, so a frame that
    // completes right after busy drops is announced again.
    myAtomicClearFlag(&camera->mFrameReady);
    DecrementAtomic(&camera->mCallbackBusy);
  }
  myAtomicStore(&camera->mWFFSAlive, 0);
  return nullptr;
}

bool myDeallocateWFFSThread(MyDCAMCameraStruct* camera) {
  if (!myALoad(&camera->mWFFSThreadObjectsMade)) return true;
  pthread_mutex_lock(&camera->mWFFSMutex);
  myAtomicClearFlag(&camera->mWFFSRun);
  myAtomicClearFlag(&camera->mFrameReady);
  pthread_cond_broadcast(&camera->mWFFSCond);
  pthread_mutex_unlock(&camera->mWFFSMutex);
  const UInt32 polls = myALoad(&gDCAMCallbackWaitPolls);
  for (UInt32 i = 0; myAtomicLoad(&camera->mWFFSAlive) && i < polls; i++) usleep(1000);
  if (myAtomicLoad(&camera->mWFFSAlive)) {
    std::fprintf(stderr, "myDeallocateWFFSThread delivery thread did not leave Err = 0x%x %d\n", kDCAMBusyErr,
                 kDCAMBusyErr);
    return false;
  }
  // The thread unlocks before it clears its alive flag; taking the mutex
  // once more orders its last unlock before anything that follows.
  pthread_mutex_lock(&camera->mWFFSMutex);
  myAStore(&camera->mFrameCallback, MyDCAMFrameCallback(nullptr));
  pthread_mutex_unlock(&camera->mWFFSMutex);
  return true;
}

void myDestroyWFFSObjects(MyDCAMCameraStruct* camera) {
  if (!camera->mWFFSThreadObjectsMade) return;
  pthread_attr_destroy(&camera->mWFFSThreadAttr);
  pthread_cond_destroy(&camera->mWFFSCond);
  pthread_mutex_destroy(&camera->mWFFSMutex);
  camera->mWFFSThreadObjectsMade = 0;
}

// ------------------------------------------------------------ public operations

OSStatus ORX_DCAM_AssignCallback(MyDCAMCameraStruct* camera, MyDCAMFrameCallback callback, void* refCon) {
  if (!camera) return kIOReturnNoDevice;
  const UInt8 wasEnabled = myALoad(&camera->mDeliveryEnabled);
  myAStore(&camera->mDeliveryEnabled, UInt8(0));
  if (!myDeallocateWFFSThread(camera)) return kDCAMBusyErr;  // no new thread; delivery stays disabled

  OSStatus err = noErr;
  if (callback) {
    myAtomicStore(&camera->mWFFSRun, 0);
    myAtomicStore(&camera->mWFFSAlive, 0);
    if (!camera->mWFFSThreadObjectsMade) {
      pthread_mutex_init(&camera->mWFFSMutex, nullptr);
      pthread_cond_init(&camera->mWFFSCond, nullptr);
      pthread_attr_init(&camera->mWFFSThreadAttr);
      myAStore(&camera->mWFFSThreadObjectsMade, UInt8(1));
    }
    pthread_mutex_lock(&camera->mWFFSMutex);
    myAStore(&camera->mFrameCallback, callback);
    myAStore(&camera->mCallbackRefCon, refCon);
    pthread_mutex_unlock(&camera->mWFFSMutex);
    int e = pthread_create(&camera->mWFFSThread, &camera->mWFFSThreadAttr, myWFFS, camera);
    if (e != 0) {
      std::fprintf(stderr, "ORX_DCAM_AssignCallback pthread_create failed Err = 0x%x %d\n", e, e);
      myAStore(&camera->mFrameCallback, MyDCAMFrameCallback(nullptr));
      err = e;
    } else {
      pthread_detach(camera->mWFFSThread);
      pthread_mutex_lock(&camera->mWFFSMutex);
      while (!myAtomicLoad(&camera->mWFFSAlive)) pthread_cond_wait(&camera->mWFFSCond, &camera->mWFFSMutex);
      pthread_mutex_unlock(&camera->mWFFSMutex);
    }
  }
  if (wasEnabled) {
    myAStore(&camera->mWaitForFrameStart, UInt8(1));
    myAStore(&camera->mDeliveryEnabled, UInt8(1));
  }
  return err;
}

OSStatus ORX_DCAM_ResumePauseVideo(MyDCAMCameraStruct* camera, UInt32 run) {
  if (!camera) return kIOReturnNoDevice;
  if (!camera->mFormatSet) return paramErr;
  if (run) {
    myAStore(&camera->mWaitForFrameStart, UInt8(1));
    myAStore(&camera->mDeliveryEnabled, UInt8(1));
    return noErr;
  }
  myAStore(&camera->mDeliveryEnabled, UInt8(0));
  const bool idle = myWaitForCallbackIdle(camera);
  myAStore(&camera->mLastFrameInterval, 0.0);
  myAStore(&camera->mAccumulatedTime, 0.0);
  myAStore(&camera->mLastFrameStamp, SkyloomMicroseconds());
  return idle ? noErr : kDCAMBusyErr;  // after a timed-out pause delivery stays disabled
}

OSStatus ORX_DCAM_StartStopISOCHTransfer(MyDCAMCameraStruct* camera, UInt32 on) {
  if (!camera) return kIOReturnNoDevice;
  if (!camera->mFormatSet) return paramErr;
  if (camera->mVendor == kDCAMUSBVendor) {
    if (!myStopQuedAsynchBulkReadsUSB(camera)) return kDCAMBusyErr;
    return on == 1 ? myStartQuedAsynchBulkReadsUSB(camera, 1) : OSStatus(noErr);
  }
  myFinalizeISOCHChanel(camera);
  return on == 1 ? myInitializeISOCHChanel(camera) : OSStatus(noErr);
}

OSStatus ORX_DCAM_StartStopVideo(MyDCAMCameraStruct* camera, UInt32 on) {
  if (!camera) return kIOReturnNoDevice;
  if (!camera->mFormatSet || !camera->mChannelAllocated) return paramErr;
  return myStartStopChannel(camera, on);
}

OSStatus myStartStopChannel(MyDCAMCameraStruct* camera, UInt32 on) {
  const bool usb = camera->mVendor == kDCAMUSBVendor;
  if (on == 1) {
    myAStore(&camera->mLastFrameInterval, 0.0);
    myAStore(&camera->mAccumulatedTime, 0.0);
    myAStore(&camera->mLastFrameStamp, SkyloomMicroseconds());
    myAStore(&camera->mFrameCounter, UInt32(0));
    myAStore(&camera->mDeliveredSlot, UInt32(0xFF));
    myAStore(&camera->mFillingSlot, UInt32(0));
    myAtomicClearFlag(&camera->mFrameReady);
    myAtomicStore(&camera->mPendingSignals, 0);
    myAStore(&camera->mWaitForFrameStart, UInt8(1));
    myAStore(&camera->mDeliveryEnabled, UInt8(1));
    if (camera->mTransmitting) return noErr;
    OSStatus err = usb ? mySetRegisterQuadlet(camera, 0x614, 0x80000000) : myStartFWStream(camera);
    camera->mTransmitting = err == noErr;
    return err;
  }
  const UInt8 wasEnabled = myALoad(&camera->mDeliveryEnabled);
  myAStore(&camera->mDeliveryEnabled, UInt8(0));
  if (!myWaitForCallbackIdle(camera)) {
    myAStore(&camera->mDeliveryEnabled, wasEnabled);
    return kDCAMBusyErr;
  }
  myAtomicClearFlag(&camera->mFrameReady);
  if (camera->mTransmitting) {
    if (usb)
      mySetRegisterQuadlet(camera, 0x614, 0);
    else
      myStopFWStream(camera);
  }
  myAStore(&camera->mDeliveredSlot, UInt32(0xFF));
  myAStore(&camera->mWaitForFrameStart, UInt8(1));
  myAStore(&camera->mFillingSlot, UInt32(0));
  camera->mTransmitting = 0;
  myAStore(&camera->mBytesReceived, UInt32(0));
  return noErr;
}

OSStatus ORX_DCAM_SixteenBitUpShiftAmount(MyDCAMCameraStruct* camera, UInt32 shift) {
  if (!camera) return kIOReturnNoDevice;
  if (shift > 7) return paramErr;
  myAStore(&camera->mUpShift, shift);
  return noErr;
}

OSStatus ORX_DCAM_SixteenBitEndianSwap(MyDCAMCameraStruct* camera, UInt32 swap) {
  if (!camera) return kIOReturnNoDevice;
  myAStore(&camera->mSwap16, UInt8(swap ? 1 : 0));
  return noErr;
}

// Reprogramming the format while streaming: transmission stops (waiting for
// the callback), the receive path goes, and both come back afterwards.
OSStatus myStopForReprogramming(MyDCAMCameraStruct* camera, bool* wasTransmitting, bool* hadChannel) {
  *wasTransmitting = camera->mTransmitting != 0;
  *hadChannel = camera->mChannelAllocated != 0;
  if (*wasTransmitting) {
    OSStatus err = myStartStopChannel(camera, 0);
    if (err != noErr) return err;  // the callback still runs on the ring
  }
  if (camera->mVendor == kDCAMUSBVendor) {
    if (!myStopQuedAsynchBulkReadsUSB(camera)) return kDCAMBusyErr;
  } else {
    myFinalizeISOCHChanel(camera);
  }
  return noErr;
}

OSStatus myRestartAfterReprogramming(MyDCAMCameraStruct* camera, bool wasTransmitting, bool hadChannel) {
  OSStatus err = noErr;
  if (hadChannel)
    err = camera->mVendor == kDCAMUSBVendor ? myStartQuedAsynchBulkReadsUSB(camera, 1) : myInitializeISOCHChanel(camera);
  if (err == noErr && hadChannel && wasTransmitting) err = myStartStopChannel(camera, 1);
  return err;
}
