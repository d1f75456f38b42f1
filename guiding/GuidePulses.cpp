// Guide pulses: both axes start together, a detached thread stops each when
// its time is up and lets the mount settle, and the pulse counters of the
// camera record (read by the delivery thread without a lock) fall back.
#include <atomic>
#include <cstdio>

#include "app/CameraWindowData.h"
#include "guiding/Guiding.h"
#include "platform/coreservices/CoreServices.h"

namespace {

SInt32 load(SInt32& field) { return std::atomic_ref<SInt32>(field).load(std::memory_order_acquire); }
void store(SInt32& field, SInt32 value) { std::atomic_ref<SInt32>(field).store(value, std::memory_order_release); }

void pausePoint(int where) {
  if (auto fn = gMountTestPausePoint) fn(where);
}

UInt64 nowMicros() {
  UnsignedWide now;
  Microseconds(&now);
  return (UInt64(now.hi) << 32) | now.lo;
}

// The stop of a start command; stop-all (calibration's "pulse 8") has none.
void sendStop(MountCntlDevice* device, UInt32 kind, UInt32 command) {
  if (command + 4 < kMountStopAll) mySendMountCntlDevice(device, kind, command + 4, 0.0);
}

void lowerCounters(MyCameraWindowDataStruct* record) {
  myDecrementIfPositive(&record->mPulseInProgress);
  myDecrementIfPositive(&record->mPulsesPending);
  store(record->mTrackingPhase, 0);
}

UInt32 settleMs(MyCameraWindowDataStruct* record, UInt32 kind) {
  if (std::atomic_ref<UInt8>(record->mGuidingOn).load() == 0) return 1000;
  if (kind == kMountCntlCameraGPIO || kind == kMountCntlGPUSB) return 100;
  if (kind >= kMountCntlLX200 && kind <= kMountCntlSilentSerial) return 400;
  return 500;
}

}  // namespace

OSStatus myKickOffSerialTimer(MyCameraWindowDataStruct* record, UInt32 commandA, double msA, UInt32 commandB,
                              double msB) {
  if (!record || std::atomic_ref<UInt8>(record->mScopeControlActive).load() == 0) return paramErr;
  MountCntlDevice* device = record->mpMountCntlDevicePtr;
  if (!device || device->mOpen != 1 || load(device->mPulseThreadRunning) != 0) return paramErr;
  UInt32 kind = record->mMountCntlDeviceKind;
  store(record->mPulseInProgress, 0);

  // The longer pulse runs first; on equal durations B does.
  if (msA > msB) {
    device->mFirstPulseCommand = commandA, device->mFirstPulseDuration = msA;
    device->mSecondPulseCommand = commandB, device->mSecondPulseDuration = msB;
  } else {
    device->mFirstPulseCommand = commandB, device->mFirstPulseDuration = msB;
    device->mSecondPulseCommand = commandA, device->mSecondPulseDuration = msA;
  }
  UInt32 first = device->mFirstPulseCommand, second = device->mSecondPulseCommand;
  bool twoAxes = device->mSecondPulseDuration > 0.0;

  IncrementAtomic(&record->mPulseInProgress);
  IncrementAtomic(&record->mPulsesPending);
  store(record->mTrackingPhase, 0);

  OSStatus err = mySendMountCntlDevice(device, kind, first, 0.0);
  if (err != noErr) {
    fprintf(stderr, "myKickOffSerialTimer mySendMountCntlDevice() for uCommand %d Failed %d 0x%x \n", int(first),
            int(err), unsigned(err));
    lowerCounters(record);
    return err;
  }
  if (twoAxes) {
    err = mySendMountCntlDevice(device, kind, second, 0.0);
    if (err != noErr) {
      fprintf(stderr, "myKickOffSerialTimer mySendMountCntlDevice() for uCommand2 %d Failed %d 0x%x \n",
              int(second), int(err), unsigned(err));
      // The first axis is moving already and no thread will stop it.
      sendStop(device, kind, first);
      lowerCounters(record);
      return err;
    }
  }

  store(device->mPulseThreadStarted, 0);
  err = pthread_attr_init(&device->mPulseThreadAttributes);
  if (err) {
    fprintf(stderr, "myKickOffSerialTimer 2 pthread_attr_init Failed %d 0x%x \n", int(err), unsigned(err));
  } else {
    err = pthread_create(&device->mPulseThread, &device->mPulseThreadAttributes, myDoTimerThread, record);
    pthread_attr_destroy(&device->mPulseThreadAttributes);
  }
  if (err) {
    if (twoAxes) sendStop(device, kind, second);
    sendStop(device, kind, first);
    lowerCounters(record);
    return err;
  }
  err = pthread_detach(device->mPulseThread);
  if (err) {
    fprintf(stderr, "myKickOffSerialTimer 3 pthread_detach Failed %d 0x%x \n", int(err), unsigned(err));
    return err;
  }
  pthread_mutex_lock(&device->mPulseMutex);
  while (load(device->mPulseThreadStarted) == 0) pthread_cond_wait(&device->mPulseCondition, &device->mPulseMutex);
  pthread_mutex_unlock(&device->mPulseMutex);
  return noErr;
}

void* myDoTimerThread(void* argument) {
  auto* record = static_cast<MyCameraWindowDataStruct*>(argument);
  MountCntlDevice* device = record->mpMountCntlDevicePtr;
  UInt32 kind = record->mMountCntlDeviceKind;

  pthread_mutex_lock(&device->mPulseMutex);
  store(device->mPulseThreadRunning, 1);
  store(device->mPulseActive, 1);
  double d1 = device->mFirstPulseDuration;
  double d2 = device->mSecondPulseDuration > 0.0 ? device->mSecondPulseDuration : -1.0;
  UInt32 first = device->mFirstPulseCommand, second = device->mSecondPulseCommand;
  store(device->mPulseThreadStarted, 1);
  pthread_mutex_unlock(&device->mPulseMutex);
  UInt64 start = nowMicros();
  pthread_cond_broadcast(&device->mPulseCondition);

  while (load(device->mPulseActive) != 0) {
    double elapsed = double(nowMicros() - start) * 0.001;
    if (elapsed >= d1) {
      store(device->mPulseActive, 0);
    } else if (d2 > 0.0 && elapsed >= d2) {
      sendStop(device, kind, second);
      d2 = -1.0;
    } else {
      // Short deadlines are watched closely, long pulses in coarser steps;
      // no step sleeps past the next deadline.
      bool fine = d2 > 0.0 ? d2 <= 25.0 : elapsed <= 25.0;
      double next = (d2 > 0.0 ? d2 : d1) - elapsed;
      double step = fine ? 2.0 : 20.0;
      SkyloomSleepMicroseconds(UInt64((next < step ? next : step) * 1000.0) + 1);
    }
  }
  if (d2 > 0.0) sendStop(device, kind, second);
  sendStop(device, kind, first);
  SkyloomSleepMicroseconds(UInt64(settleMs(record, kind)) * 1000);

  pausePoint(kMountPausePulseBeforeCounters);
  lowerCounters(record);
  // Running falls last: cancel, waiting on it, finds the counters settled.
  store(device->mPulseActive, 0);
  store(device->mPulseThreadRunning, 0);
  return nullptr;
}

void myCancelTimerThread(MyCameraWindowDataStruct* record) {
  if (!record) return;
  MountCntlDevice* device = record->mpMountCntlDevicePtr;
  if (device && device->mOpen == 1) {
    if (load(device->mPulseThreadRunning) != 0) {
      myDecrementIfPositive(&device->mPulseActive);
      pthread_mutex_lock(&device->mPulseMutex);
      pthread_cond_signal(&device->mPulseCondition);
      pthread_mutex_unlock(&device->mPulseMutex);
      int waits = 0;
      while (load(device->mPulseThreadRunning) != 0 && waits < 1000) {
        pausePoint(kMountPauseCancelWaiting);
        SkyloomSleepMicroseconds(10000);
        waits++;
      }
      if (load(device->mPulseThreadRunning) != 0) SysBeep(1);
    }
    mySendMountCntlDevice(device, record->mMountCntlDeviceKind, kMountStopAll, 0.0);
  }
  myDecrementIfPositive(&record->mPulsesPending);
  store(record->mTrackingPhase, 0);
}
