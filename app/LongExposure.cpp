#include "app/LongExposure.h"

#include <errno.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "app/ExposureControls.h"
#include "camera_driver/ORXDCAM.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/HIToolbox.h"

namespace {

// Registers, offsets from the command base.
constexpr UInt32 kTransmissionReg = 0x614;       // ISO_EN
constexpr UInt32 kTransmissionOn = 0x80000000;
constexpr UInt32 kSTAPinReg = 0xF1C;             // STA pins in the top byte
constexpr UInt32 kSTA1 = 0x02000000;             // region pulse input
constexpr UInt32 kSTAPinWordRest = 0x00010601;   // the rest of a pin write
constexpr UInt32 kReadoutReg = 0xF20;
constexpr UInt32 kReadoutBit = 0x00010000;       // set while frames are read out
constexpr UInt32 kIrisFeature = 0x524;           // holds the rate code
constexpr UInt32 kIrisExposing = 1;
constexpr UInt32 kIrisReadout = 4;
constexpr UInt32 kGPIOPinReg[4] = {0x1110, 0x1120, 0x1130, 0x1140};
constexpr UInt32 kGPIOIdle = 0x80000000;
constexpr UInt32 kGPIOOutputLow = 0x80010000;    // trigger active: the camera exposes
constexpr UInt32 kGPIOOutputHigh = 0x80010001;   // trigger inactive
constexpr UInt32 kGPIOTriggerInput = 0x80000001;
constexpr UInt32 kTriggerFeature = 0x530;
constexpr SInt32 kSelOnOff = 2, kSelTriggerMode = 9, kSelTriggerSource = 12;
constexpr OSStatus kDriverBusy = -9074;

// The menu whose item 16 is the trigger submenu.
constexpr MenuID kCameraMenu = 2;
constexpr MenuItemIndex kTriggerMenuItem = 16;

constexpr UInt32 kDefaultStopPolls = 1000;  // of 10 ms: 10 s
std::atomic<UInt32> gStopPolls{kDefaultStopPolls};

template <typename T>
T load(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load();
}
template <typename T>
void store(T& field, T value) {
  std::atomic_ref<T>(field).store(value);
}

bool threadExists(const MyCameraWindowDataStruct* r) { return r->mLongExposPthread != pthread_t{}; }

OSStatus readReg(MyDCAMCameraStruct* handle, UInt32 offset, UInt32* value) {
  return ORXDCAMGetQuadlet(handle, 0, offset, 0, value);
}
OSStatus writeReg(MyDCAMCameraStruct* handle, UInt32 offset, UInt32 value) {
  return ORXDCAMSetQuadlet(handle, 0, offset, 0, value);
}

// Sets or clears the read-out bit of 0xF20 (a failed read writes nothing).
void setReadoutBit(MyDCAMCameraStruct* handle, bool on) {
  UInt32 v = 0;
  if (readReg(handle, kReadoutReg, &v) != noErr) return;
  writeReg(handle, kReadoutReg, on ? v | kReadoutBit : v & ~kReadoutBit);
}

// The output pin of a pin set (0: pin 1, else pin 2) and its trigger input
// (pin 0 or pin 3) and source.
UInt32 outputPinReg(UInt8 pinSet) { return pinSet ? kGPIOPinReg[2] : kGPIOPinReg[1]; }
UInt32 inputPinReg(UInt8 pinSet) { return pinSet ? kGPIOPinReg[3] : kGPIOPinReg[0]; }
UInt32 triggerSource(UInt8 pinSet) { return pinSet ? 3 : 0; }

void sleepMs(UInt32 ms) { usleep(useconds_t(ms) * 1000); }

// How the thread makes exposures, fixed when it starts.
enum class Scheme { STAPins, NoPins, Trigger, None };

Scheme schemeOf(const MyCameraWindowDataStruct* r) {
  if (r->mIsLongExposureCamera) return r->mLongExposureMenu == 1 ? Scheme::STAPins : Scheme::NoPins;
  if (r->mIsPointGrey && r->mPGRLongExposureOn) return Scheme::Trigger;
  return Scheme::None;
}

// Check interval between the thread's looks, ms.
double baseInterval(Scheme scheme, float timerValue) {
  switch (scheme) {
    case Scheme::STAPins:
    case Scheme::Trigger: return 10.0;
    default: return timerValue >= 1.0f ? double(timerValue) : 1.0;
  }
}

// Waits `ms` on the record's condition variable; a stop wakes it at once.
void waitInterval(MyCameraWindowDataStruct* r, double ms) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  const SInt64 ns = SInt64(ms * 1e6);
  deadline.tv_sec += time_t(ns / 1000000000);
  deadline.tv_nsec += long(ns % 1000000000);
  if (deadline.tv_nsec >= 1000000000) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000;
  }
  pthread_mutex_lock(&r->mLongExposMutex);
  while (load(r->mLongExposRun) != 0) {
    if (pthread_cond_timedwait(&r->mLongExposCond, &r->mLongExposMutex, &deadline) == ETIMEDOUT) break;
  }
  pthread_mutex_unlock(&r->mLongExposMutex);
}

void destroyObjects(MyCameraWindowDataStruct* r) {
  pthread_attr_destroy(&r->mLongExposAttr);
  pthread_cond_destroy(&r->mLongExposCond);
  pthread_mutex_destroy(&r->mLongExposMutex);
  r->mLongExposPthread = pthread_t{};
}

}  // namespace

void mySetLongExposureStopPolls(UInt32 polls) { gStopPolls.store(polls ? polls : kDefaultStopPolls); }

bool myLongExposureThreadHoldsRecord(const MyCameraWindowDataStruct* record) {
  return record && load(record->mLongExposAlive) != 0;
}

double myLongExposureReadoutPeriodMs(const MyCameraWindowDataStruct* r) {
  if (!r || r->mIsLongExposureCamera) return 0.0;
  if (r->mFormat == 7 && r->mF7BytesPerPacket != 0) {
    const UInt64 frameBytes = UInt64(r->mWidth) * r->mHeight * r->mBitsPerPixel / 8;
    return double(frameBytes) / (double(r->mF7BytesPerPacket) * 8000.0) * 4000.0;
  }
  // Fixed formats, and a Format 7 packet size not known yet: four frame
  // periods of the slowest rate offered.
  return 4000.0 / myRateItemFramesPerSecond(r->mFirstRateItem);
}

// ---------------------------------------------------------------- start and stop

int myInstallLongExposureTimer(MyCameraWindowDataStruct* r, double value) {
  if (!r) return EINVAL;
  if (threadExists(r)) {
    // A thread that outlived an earlier stop: once it has left, its objects
    // can go; while it lives no second thread may share the record.
    if (load(r->mLongExposAlive) != 0 || load(r->mLongExposRun) != 0) return EBUSY;
    destroyObjects(r);
  }
  r->mLongExposTimerValue = float(value);
  store(r->mLongExposRun, SInt32(0));
  store(r->mLongExposAlive, SInt32(0));

  int err = pthread_mutex_init(&r->mLongExposMutex, nullptr);
  if (err) return err;
  pthread_condattr_t condAttr;
  if ((err = pthread_condattr_init(&condAttr)) != 0) {
    pthread_mutex_destroy(&r->mLongExposMutex);
    return err;
  }
  // Timed waits run on the monotonic clock, untouched by steps of the wall clock.
  pthread_condattr_setclock(&condAttr, CLOCK_MONOTONIC);
  err = pthread_cond_init(&r->mLongExposCond, &condAttr);
  pthread_condattr_destroy(&condAttr);
  if (err) {
    pthread_mutex_destroy(&r->mLongExposMutex);
    return err;
  }
  if ((err = pthread_attr_init(&r->mLongExposAttr)) != 0) {
    pthread_cond_destroy(&r->mLongExposCond);
    pthread_mutex_destroy(&r->mLongExposMutex);
    return err;
  }
  pthread_t thread{};
  if ((err = pthread_create(&thread, &r->mLongExposAttr, myDoLongExposureTimer, r)) != 0) {
    pthread_attr_destroy(&r->mLongExposAttr);
    pthread_cond_destroy(&r->mLongExposCond);
    pthread_mutex_destroy(&r->mLongExposMutex);
    return err;
  }
  r->mLongExposPthread = thread;
  const int detachErr = pthread_detach(thread);
  // Handshake: the thread raises mLongExposRun once it has set itself up.
  if (load(r->mLongExposRun) == 0) {
    pthread_mutex_lock(&r->mLongExposMutex);
    while (load(r->mLongExposRun) == 0) pthread_cond_wait(&r->mLongExposCond, &r->mLongExposMutex);
    pthread_mutex_unlock(&r->mLongExposMutex);
  }
  if (detachErr != 0) {
    // The thread runs all the same: stop it before its objects go.
    myRemoveLongExposureTimer(r);
    return detachErr;
  }
  return 0;
}

void myRemoveLongExposureTimer(MyCameraWindowDataStruct* r) {
  if (!r || !threadExists(r)) return;
  std::atomic_ref<SInt32> run(r->mLongExposRun);
  SInt32 was = run.load();
  while (was != 0 && !run.compare_exchange_weak(was, 0)) {
  }
  pthread_mutex_lock(&r->mLongExposMutex);
  pthread_cond_broadcast(&r->mLongExposCond);
  pthread_mutex_unlock(&r->mLongExposMutex);
  const UInt32 polls = gStopPolls.load();
  for (UInt32 i = 0; i < polls && load(r->mLongExposAlive) != 0; i++) sleepMs(10);
  if (load(r->mLongExposAlive) != 0) {
    // The thread still uses the record and its objects: leave both alone.
    fprintf(stderr, "myRemoveLongExposureTimer timing thread still running Err = 0x%x %d\n", EBUSY, EBUSY);
    return;
  }
  destroyObjects(r);
}

// ---------------------------------------------------------------- the thread

void* myDoLongExposureTimer(void* refCon) {
  auto* r = static_cast<MyCameraWindowDataStruct*>(refCon);
  pthread_mutex_lock(&r->mLongExposMutex);
  store(r->mLongExposAlive, SInt32(1));
  store(r->mLongExposRun, SInt32(1));
  MyDCAMCameraStruct* const handle = r->mCameraHandle;
  const Scheme scheme = schemeOf(r);
  const UInt8 pinSet = r->mTrigger4Pin;
  const double readoutMs = myLongExposureReadoutPeriodMs(r);
  const double baseMs = baseInterval(scheme, r->mLongExposTimerValue);
  double interval = baseMs;
  pthread_mutex_unlock(&r->mLongExposMutex);
  pthread_cond_broadcast(&r->mLongExposCond);

  std::atomic_ref<SInt32> frameDone(r->mLongExpFrameDone);
  std::atomic_ref<SInt32> showPending(r->mLongExpShowPending);
  std::atomic_ref<SInt32> readout(r->mLongExpReadout);

  while (load(r->mLongExposRun) != 0) {
    if (frameDone.load() != 0) {
      // The callback has taken the last exposure: start the next one. The
      // read-out mark goes first, so a frame still arriving before delivery
      // pauses is dropped instead of opening the next pair.
      readout.store(0);
      frameDone.fetch_sub(1);
      switch (scheme) {
        case Scheme::STAPins:
          ORXDCAMResumePauseVideo(handle, 0);
          writeReg(handle, kTransmissionReg, 0);
          myWaitForRegionPulseonSTA1(r, 0);
          mySetTSLV1501STAPins(r, 0, 1);
          setReadoutBit(handle, false);
          break;
        case Scheme::NoPins:
          ORXDCAMResumePauseVideo(handle, 0);
          writeReg(handle, kTransmissionReg, 0);
          myWaitForRegionPulseonSTA1(r, 0);
          ORXDCAMSetPropertyValue(handle, kIrisFeature, 0, kIrisExposing);
          break;
        case Scheme::Trigger: myPGROpenCloseShutter(handle, 1, pinSet); break;
        case Scheme::None: break;
      }
      const UInt64 now = SkyloomMicroseconds();
      store(r->mExposureStartTime, now);
      store(r->mCountdownTime, now);
      if (showPending.load() == 0) showPending.fetch_add(1);
      readout.store(0);
      interval = baseMs;
      continue;
    }
    const double elapsedMs =
        double(SInt64(SkyloomMicroseconds() - load(r->mExposureStartTime))) * 0.001;
    const double exposureMs = load(r->mExposureMS);
    if (scheme == Scheme::STAPins) interval = (elapsedMs > 200.0 && elapsedMs < 1000.0) ? 100.0 : 10.0;
    if (showPending.load() == 0) {
      // The display has taken the last cycle: end the exposure when due.
      switch (scheme) {
        case Scheme::STAPins:
          if (elapsedMs >= exposureMs && readout.load() == 0) {
            setReadoutBit(handle, true);
            myWaitForRegionPulseonSTA1(r, 1000);
            mySetTSLV1501STAPins(r, 0, 0);
            ORXDCAMResumePauseVideo(handle, 1);
            writeReg(handle, kTransmissionReg, kTransmissionOn);
            readout.fetch_add(1);
          }
          break;
        case Scheme::NoPins:
          // No time test: the check interval is the exposure.
          if (readout.load() == 0) {
            ORXDCAMSetPropertyValue(handle, kIrisFeature, 0, kIrisReadout);
            writeReg(handle, kTransmissionReg, kTransmissionOn);
            readout.fetch_add(1);
            ORXDCAMResumePauseVideo(handle, 1);
          }
          break;
        case Scheme::Trigger:
          if (elapsedMs >= exposureMs) {
            if (readout.load() == 0) {
              const OSStatus err = myPGROpenCloseShutter(handle, 0, pinSet);
              if (err == noErr)
                readout.fetch_add(1);
              else
                fprintf(stderr, "---myPGROpenCloseShutter close Err 0x%X %d\n", UInt32(err), int(err));
            }
            if (readout.load() != 0 && elapsedMs - exposureMs >= readoutMs) {
              // No frame came within the read-out period: the next exposure is due.
              myPGROpenCloseShutter(handle, 0, pinSet);
              frameDone.fetch_add(1);
              showPending.store(0);
              readout.store(0);
            }
          }
          break;
        case Scheme::None: break;
      }
    }
    waitInterval(r, interval);
  }
  // Last touch of the record: after this a stop may destroy the objects
  // and the record may go.
  store(r->mLongExposAlive, SInt32(0));
  return nullptr;
}

// ---------------------------------------------------------------- STA pins

OSStatus mySetTSLV1501STAPins(MyCameraWindowDataStruct* r, UInt32 pin, UInt32 state) {
  const UInt32 code = pin * 2 + (state == 1 ? 1 : 0);
  if (pin > 2 || code > 5) return -1;
  if (!r) return paramErr;
  UInt32 v = 0;
  OSStatus err = readReg(r->mCameraHandle, kSTAPinReg, &v);
  if (err != noErr) return err;
  const UInt32 pins = (v >> 24) & 7, bit = 1u << pin;
  const UInt32 wanted = state == 1 ? pins | bit : pins & ~bit;
  if (wanted == pins) return err;
  err = writeReg(r->mCameraHandle, kSTAPinReg, wanted << 24 | kSTAPinWordRest);
  // A write the camera refused is not reported as success by the read after it.
  if (err != noErr) return err;
  return readReg(r->mCameraHandle, kSTAPinReg, &v);
}

SInt32 myWaitForRegionPulseonSTA1(MyCameraWindowDataStruct* r, UInt32 microseconds) {
  if (!r) return 0;
  UInt32 v = 0;
  bool low = false;
  for (int i = 0; i < 1401 && !low; i++) {
    if (readReg(r->mCameraHandle, kSTAPinReg, &v) != noErr) return 0;
    low = (v & kSTA1) == 0;
  }
  if (!low) return 0;
  bool high = false;
  for (int i = 0; i < 100 && !high; i++) {
    if (readReg(r->mCameraHandle, kSTAPinReg, &v) != noErr) return 0;
    high = (v & kSTA1) != 0;
  }
  if (!high) return 0;
  if (microseconds) usleep(useconds_t(microseconds));
  return 1;
}

// ---------------------------------------------------------------- trigger scheme

OSStatus myPGRStartStopTriggerFrames(MyDCAMCameraStruct* handle, UInt32 on, UInt8 pinSet) {
  if (!handle) return -1;
  for (UInt32 reg : kGPIOPinReg) writeReg(handle, reg, kGPIOIdle);
  MenuRef menu = GetMenuRef(kCameraMenu);
  if (on == 1) {
    OSStatus err = ORXDCAMSetPropertyValue(handle, kTriggerFeature, kSelTriggerMode, 1);
    sleepMs(50);
    if (err == noErr) {
      sleepMs(50);
      err = writeReg(handle, inputPinReg(pinSet), kGPIOTriggerInput);
      if (err == noErr) err = writeReg(handle, outputPinReg(pinSet), kGPIOOutputHigh);
      if (err == noErr) err = ORXDCAMSetPropertyValue(handle, kTriggerFeature, kSelTriggerSource, triggerSource(pinSet));
      if (err == noErr) err = ORXDCAMSetPropertyValue(handle, kTriggerFeature, kSelOnOff, 1);
    }
    if (err != noErr) {
      fprintf(stderr, "ORX_TRIGGER_REG Mode_1  err =  %d 0x%X\n", int(err), UInt32(err));
      return err;
    }
    sleepMs(200);
    if (menu) DisableMenuItem(menu, kTriggerMenuItem);
    return noErr;
  }
  writeReg(handle, outputPinReg(pinSet), kGPIOOutputHigh);
  ORXDCAMSetPropertyValue(handle, kTriggerFeature, kSelTriggerMode, 0);
  const OSStatus err = ORXDCAMSetPropertyValue(handle, kTriggerFeature, kSelOnOff, 0);
  if (menu) EnableMenuItem(menu, kTriggerMenuItem);
  return err;
}

OSStatus myPGROpenCloseShutter(MyDCAMCameraStruct* handle, UInt32 open, UInt8 pinSet) {
  if (!handle) return -1;
  const UInt32 value = open == 1 ? kGPIOOutputLow : kGPIOOutputHigh;
  OSStatus err = writeReg(handle, outputPinReg(pinSet), value);
  for (int writes = 1; err == kDriverBusy && writes < 3; writes++) {
    sleepMs(10);
    err = writeReg(handle, outputPinReg(pinSet), value);
  }
  return err;
}
