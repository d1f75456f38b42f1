// The guiding window "LXControls": calibration and tracking buttons, manual
// moves, the LX200 rate and the guiding options. Main thread only; the
// options it sets are read by the centroid and correction steps.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/CameraWindowData.h"
#include "guiding/Calibration.h"
#include "guiding/ScopeControl.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/SharedFields.h"

namespace {

using skyloom_shared::storeRelaxed;

constexpr double kDegreesToRadians = 0.01745329252;
// The smallest cosine of a declination that counts, as calibration takes it:
// near the pole the RA pulses would otherwise grow without bound.
constexpr double kSmallestCosine = 0.01;
constexpr UInt32 kRateCommandBase = 254;

constexpr OSType kCalibrate = FOUR_CHAR_CODE("CALI");
constexpr OSType kTrack = FOUR_CHAR_CODE("TRAK");
constexpr OSType kLeft = FOUR_CHAR_CODE("LEFT");
constexpr OSType kRight = FOUR_CHAR_CODE("RIGT");
constexpr OSType kUp = FOUR_CHAR_CODE("UPPP");
constexpr OSType kDown = FOUR_CHAR_CODE("DOWN");
constexpr OSType kStop = FOUR_CHAR_CODE("STOP");
constexpr OSType kSpeed = FOUR_CHAR_CODE("SPED");
constexpr OSType kDecTracking = FOUR_CHAR_CODE("TKDE");
constexpr OSType kDecCalibration = FOUR_CHAR_CODE("CADE");
constexpr OSType kOrder = FOUR_CHAR_CODE("RAFS");
constexpr OSType kAccuracy = FOUR_CHAR_CODE("ACCU");
constexpr OSType kMoveTime = FOUR_CHAR_CODE("CAMT");
constexpr OSType kRAPixels = FOUR_CHAR_CODE("RAPX");
constexpr OSType kDecPixels = FOUR_CHAR_CODE("DEPX");
constexpr OSType kSolar = FOUR_CHAR_CODE("SOLU");
constexpr OSType kMultiple = FOUR_CHAR_CODE("MOBJ");
constexpr OSType kSkip = FOUR_CHAR_CODE("SKIP");
constexpr OSType kTurbulence = FOUR_CHAR_CODE("TURB");
constexpr OSType kHotPixels = FOUR_CHAR_CODE("EEHP");
constexpr OSType kMessage = FOUR_CHAR_CODE("MESG");

template <typename T>
void storeFlag(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_seq_cst);
}
template <typename T>
T loadFlag(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_seq_cst);
}

double calibrationMoveMs(UInt32 item) {
  static const double kMs[14] = {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 10000, 12000, 15000, 20000, 25000,
                                 30000};
  return item >= 1 && item <= 14 ? kMs[item - 1] : 2000.0;
}

void enable(WindowRef w, std::initializer_list<OSType> signatures, bool on) {
  for (OSType s : signatures) myEnableDisableControl(w, s, 0, on ? 1 : 0);
}

void startFWHMAverage(MyCameraWindowDataStruct& r) {
  r.mFWHMSum = 0.0f;
  r.mFWHMCount = 0;
  r.mFWHMFrames = r.mFramesToAverage * 10;
  r.mFWHMAveraging = 1;
}

void resetPositions(MyCameraWindowDataStruct& r) {
  storeRelaxed(r.mStartX, -1.0f);
  storeRelaxed(r.mStartY, -1.0f);
  storeRelaxed(r.mCurrentX, -1.0f);
  storeRelaxed(r.mCurrentY, -1.0f);
}

void clearSums(MyCameraWindowDataStruct& r) {
  r.mGuideSumX = r.mGuideSumY = r.mGuideSumBoxWidth = r.mGuideSumBoxHeight = 0.0f;
  r.mFramesAveraged = 0;
  storeFlag(r.mTrackingPhase, SInt32(0));
}

// Raised by compare-and-swap: the calibration timer and its removal lower it.
void raiseCalibrating(MCBS& b) {
  std::atomic_ref<SInt32> calibrating(b.mCalibrating);
  SInt32 now = calibrating.load();
  while (!calibrating.compare_exchange_weak(now, now + 1)) {
  }
}

OSStatus startCalibration(MyCameraWindowDataStruct& r, MCBS& b) {
  mySetCurrentSpeedLX200(&r);
  if (myGetDecSettings(nullptr, &r.mCalibratedDeclination) != noErr) return noErr;
  resetPositions(r);
  clearSums(r);
  storeFlag(r.mGuidingOn, UInt8(0));
  storeFlag(r.mGuidingActive, UInt8(0));
  b.mCalibrationStage = 0;
  b.mCalibrationTimer = nullptr;
  myEnableDisableControl(b.mWindow, kTrack, 0, 0);
  EventLoopTimerUPP upp = NewEventLoopTimerUPP(myCalibrateCameraTimedProc);
  if (InstallEventLoopTimer(GetMainEventLoop(), 0.0, 1.0, upp, &r, &b.mCalibrationTimer) != noErr) {
    DisposeEventLoopTimerUPP(upp);
    b.mCalibrationTimer = nullptr;
    return noErr;
  }
  b.mCalibrationTimerUPP = upp;
  myEraseTrackingAreaBox(&r);
  storeFlag(r.mGuidingActive, UInt8(1));
  WindowRef w = b.mWindow;
  enable(w, {kSpeed, kUp, kDown, kLeft, kRight, kStop, kAccuracy, kHICommandCancel}, false);
  mySetControlTitleByKeyString(w, kCalibrate, 0, "STOPCALIBRATION");
  enable(w, {kDecTracking, kDecCalibration, kOrder, kMoveTime, kRAPixels, kDecPixels}, false);
  enable(w, {kSolar, kSkip, kTurbulence, kHotPixels, kMultiple}, false);
  raiseCalibrating(b);
  storeFlag(r.mTrackingPhase, SInt32(0));
  SetEventLoopTimerNextFireTime(b.mCalibrationTimer, 0.0);
  return noErr;
}

OSStatus toggleTracking(MyCameraWindowDataStruct& r, MCBS& b) {
  r.mLostFrames = 0;
  resetPositions(r);
  storeRelaxed(r.mTrackBoxWidth, 0.0f);
  storeRelaxed(r.mTrackBoxHeight, 0.0f);
  storeFlag(r.mFullFrameSearch, UInt8(1));
  myEraseTrackingAreaBox(&r);
  std::atomic_ref<UInt32>(b.mHistoryStart).store(kMCBSHistoryLength, std::memory_order_relaxed);
  for (UInt32 i = 0; i < kMCBSHistoryLength; i++) {
    std::atomic_ref<SInt8>(b.mRAHistory[i]).store(0, std::memory_order_relaxed);
    std::atomic_ref<SInt8>(b.mDecHistory[i]).store(0, std::memory_order_relaxed);
  }
  WindowRef w = b.mWindow;
  if (loadFlag(r.mGuidingActive) == 0) {
    if (myGetDecSettings(nullptr, &r.mObjectDeclination) == noErr) {
      const double calibrated = std::cos(std::fabs(double(r.mCalibratedDeclination)) * kDegreesToRadians);
      const double object = std::cos(std::fabs(double(r.mObjectDeclination)) * kDegreesToRadians);
      r.mRADurationFactor = float(calibrated / std::max(object, kSmallestCosine));
      storeFlag(r.mGuidingActive, UInt8(1));
      mySetCurrentSpeedLX200(&r);
      myPostTrackingMessage(w, "Status: Tracking");
      if (r.mTurbulenceLimit == 1)
        startFWHMAverage(r);
      else
        r.mFWHMAveraging = 0;
    } else {
      storeFlag(r.mGuidingActive, UInt8(0));
    }
  } else {
    storeFlag(r.mGuidingActive, UInt8(0));
    myPostTrackingMessage(w, "Status: Idle");
  }
  const OSStatus err = mySendMountCntlDevice(b.mMountDevice, r.mMountCntlDeviceKind, kMountStopAll, 0.0);
  if (err != noErr) fprintf(stderr, "k_TRACK_BTN stop Err %d, 0x%X\n", int(err), unsigned(err));
  const bool off = loadFlag(r.mGuidingActive) == 0;
  myEnableDisableControl(w, kSpeed, 0, r.mMountCntlDeviceKind == kMountCntlLX200 && off ? 1 : 0);
  enable(w, {kUp, kDown, kLeft, kRight, kStop, kCalibrate, kSolar, kMultiple}, off);
  clearSums(r);
  storeRelaxed(r.mStartX, -1.0f);
  mySetControlTitleByKeyString(w, kTrack, 0, off ? "STARTTRACKINGOBJ" : "STOPTRACKINGOBJ");
  return err;
}

// One manual-move button: its latch flips, the opposite one of its axis goes off.
OSStatus manualMove(MyCameraWindowDataStruct& r, MCBS& b, OSType button) {
  struct Move {
    OSType button, opposite;
    UInt8 MCBS::*latch;
    UInt8 MCBS::*oppositeLatch;
    const char* error;
    const char* status;
  };
  static const Move kMoves[] = {
      {kLeft, kRight, &MCBS::mMoveLeft, &MCBS::mMoveRight, "k_LEFT_BTN Err %d, 0x%X\n", "Status: Left"},
      {kRight, kLeft, &MCBS::mMoveRight, &MCBS::mMoveLeft, "k_RIGHT_BTN Err %d, 0x%X\n", "Status: Right"},
      {kUp, kDown, &MCBS::mMoveUp, &MCBS::mMoveDown, "k_UP_BTN Err %d, 0x%X\n", "Status: Up"},
      {kDown, kUp, &MCBS::mMoveDown, &MCBS::mMoveUp, "k_DOWN_BTN Err %d, 0x%X\n", "Status: Down"},
  };
  const Move* m = kMoves;
  while (m->button != button) m++;
  UInt8& latch = b.*(m->latch);
  UInt8& opposite = b.*(m->oppositeLatch);
  latch = latch ? 0 : 1;
  if (opposite) {
    opposite = 0;
    mySetControlValue(b.mWindow, m->opposite, 0, 0);
  }
  mySetControlValue(b.mWindow, button, 0, latch);
  const OSStatus err = myChangeDirection(b.mMountDevice, r.mMountCntlDeviceKind, 0.0f, b.mMoveLeft, b.mMoveRight,
                                         b.mMoveUp, b.mMoveDown);
  if (err != noErr) {
    fprintf(stderr, m->error, int(err), unsigned(err));
    return err;
  }
  myPostTrackingMessage(b.mWindow, latch ? m->status : "Status: Idle");
  return noErr;
}

// Turbulence limiting and the hot-pixel centroid work only on one star.
void applySingleStarOptions(MyCameraWindowDataStruct& r, MCBS& b) {
  if (r.mLunarSolarTracking == 0 && r.mMultipleObjects == 0) {
    myCheckUncheckControl(b.mWindow, kHotPixels, 0, 1, r.mEliminateHotPixels == 1 ? 1 : 0);
    myCheckUncheckControl(b.mWindow, kTurbulence, 0, 1, r.mTurbulenceLimit == 1 ? 1 : 0);
  } else {
    myCheckUncheckControl(b.mWindow, kHotPixels, 0, 0, 0);
    myCheckUncheckControl(b.mWindow, kTurbulence, 0, 0, 0);
    r.mFWHMAveraging = 0;
    storeFlag(r.mFullFrameSearch, UInt8(1));
    r.mEliminateHotPixels = 0;
    r.mTurbulenceLimit = 0;
  }
}

OSStatus popUp(MyCameraWindowDataStruct& r, MCBS& b, OSType signature) {
  ControlID id = {signature, 0};
  ControlRef control = nullptr;
  const OSStatus err = GetControlByID(b.mWindow, &id, &control);
  if (err != noErr) return err;
  const SInt32 item = GetControl32BitValue(control);
  switch (signature) {
    case kDecTracking: r.mDecTrackingMode = UInt32(item); break;
    case kDecCalibration: r.mDecCalibrationMode = UInt32(item); break;
    case kOrder: r.mCorrectionOrder = UInt32(item - 1); break;
    case kAccuracy: r.mTrackAccuracy = item <= 10 ? float(item * 0.1) : float(item - 9); break;
    case kMoveTime:
      r.mCalibrationMoveItem = UInt32(item);
      b.mCalibrationMoveMs = calibrationMoveMs(r.mCalibrationMoveItem);
      break;
    case kRAPixels: r.mMinRAMotionPixels = UInt32(item * 5); break;
    case kDecPixels: r.mMinDecMotionPixels = UInt32(item * 5); break;
    default: break;
  }
  return noErr;
}

OSStatus closeWindow(WindowRef window) {
  EventRef event = nullptr;
  OSStatus err = CreateEvent(nullptr, kEventClassWindow, kEventWindowClose, GetCurrentEventTime(),
                             kEventAttributeUserEvent, &event);
  if (err != noErr) {
    SysBeep(1);
    return err;
  }
  err = SetEventParameter(event, kEventParamDirectObject, typeWindowRef, sizeof window, &window);
  if (err != noErr) {
    SysBeep(1);
  } else {
    err = SendEventToEventTarget(event, GetUserFocusEventTarget());
  }
  ReleaseEvent(event);
  return err;
}

OSStatus command(MyCameraWindowDataStruct& r, MCBS& b, UInt32 commandID) {
  const bool calibrating = std::atomic_ref<SInt32>(b.mCalibrating).load() != 0;
  switch (commandID) {
    case kCalibrate:
    case kHICommandCancel:
      if (calibrating) {
        myRemoveCalibrationTimedProc(&r);
        myPostTrackingMessage(b.mWindow, "Status: Idle");
        return noErr;
      }
      if (commandID == kCalibrate) return startCalibration(r, b);
      QuitAppModalLoopForWindow(b.mWindow);
      return eventNotHandledErr;
    case kTrack:
      return toggleTracking(r, b);
    case kLeft:
    case kRight:
    case kUp:
    case kDown:
      return manualMove(r, b, commandID);
    case kStop: {
      b.mMoveLeft = b.mMoveRight = b.mMoveUp = b.mMoveDown = 0;
      for (OSType s : {kLeft, kRight, kUp, kDown}) mySetControlValue(b.mWindow, s, 0, 0);
      const OSStatus err = mySendMountCntlDevice(b.mMountDevice, r.mMountCntlDeviceKind, kMountStopAll, 0.0);
      if (err != noErr) {
        fprintf(stderr, "k_STOP_BTN Err %d, 0x%X\n", int(err), unsigned(err));
        return err;
      }
      myPostTrackingMessage(b.mWindow, "Status: Idle");
      return noErr;
    }
    case kSpeed:
      mySetCurrentSpeedLX200(&r);
      return noErr;
    case kDecTracking:
    case kDecCalibration:
    case kOrder:
    case kAccuracy:
    case kMoveTime:
    case kRAPixels:
    case kDecPixels:
      return popUp(r, b, commandID);
    case kSolar:
    case kMultiple: {
      UInt8& option = commandID == kSolar ? r.mLunarSolarTracking : r.mMultipleObjects;
      option = option ? 0 : 1;
      applySingleStarOptions(r, b);
      return noErr;
    }
    case kSkip:
      r.mSkipLargeChanges = r.mSkipLargeChanges ? 0 : 1;
      return noErr;
    case kTurbulence:
      r.mTurbulenceLimit = r.mTurbulenceLimit ? 0 : 1;
      if (r.mTurbulenceLimit == 1) startFWHMAverage(r);
      return noErr;
    case kHotPixels:
      storeFlag(r.mFullFrameSearch, UInt8(1));
      r.mEliminateHotPixels = r.mEliminateHotPixels ? 0 : 1;
      return noErr;
    case kHICommandClose:
      return closeWindow(b.mWindow);
    default:
      return eventNotHandledErr;
  }
}

}  // namespace

OSStatus myScopeContolEventHandler(EventHandlerCallRef, EventRef event, void* data) {
  auto* record = static_cast<MyCameraWindowDataStruct*>(data);
  if (!record || !record->mpMCBSPtr) return eventNotHandledErr;
  MyCameraWindowDataStruct& r = *record;
  MCBS& b = *r.mpMCBSPtr;
  switch (GetEventClass(event)) {
    case kEventClassWindow: {
      WindowRef window = nullptr;
      const OSStatus err =
          GetEventParameter(event, kEventParamDirectObject, typeWindowRef, nullptr, sizeof window, nullptr, &window);
      if (err != noErr) return err;
      if (GetEventKind(event) == kEventWindowClose) QuitAppModalLoopForWindow(b.mWindow);
      return eventNotHandledErr;
    }
    case kEventClassCommand: {
      if (GetEventKind(event) != kEventCommandProcess) return eventNotHandledErr;
      HICommand cmd;
      const OSStatus err =
          GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr, &cmd);
      if (err != noErr) return err;
      return command(r, b, cmd.commandID);
    }
    default:
      fprintf(stderr, "Tracking Unknonw event\n");
      return eventNotHandledErr;
  }
}

void myPostTrackingMessage(WindowRef window, const char* text) {
  if (!window || !text) return;
  myChangeControlTxt(window, kMessage, 0, text);
  CGrafPtr port = GetWindowPort(window);
  if (port && QDIsPortBuffered(port)) QDFlushPortBuffer(port, nullptr);
}

void mySetCurrentSpeedLX200(MyCameraWindowDataStruct* record) {
  if (!record || !record->mpMCBSPtr || record->mMountCntlDeviceKind != kMountCntlLX200) return;
  MCBS& b = *record->mpMCBSPtr;
  ControlID id = {kSpeed, 0};
  ControlRef control = nullptr;
  if (GetControlByID(b.mWindow, &id, &control) != noErr || !control) return;
  const SInt32 value = GetControl32BitValue(control);
  const OSStatus err =
      mySendMountCntlDevice(b.mMountDevice, record->mMountCntlDeviceKind, kRateCommandBase + UInt32(value), 0.0);
  if (err != noErr) fprintf(stderr, "k_SPEED_POP_MENU Err %d, 0x%X\n", int(err), unsigned(err));
}

OSStatus myChangeDirection(MountCntlDevice* device, UInt32 kind, float rate, UInt8 left, UInt8 right, UInt8 up,
                           UInt8 down) {
  if (!device) return noErr;
  OSStatus err = noErr;
  const UInt32 ra = device->mRAAxisState;
  if (ra != kMountAxisStopped &&
      ((left && ra != kMountRAEast) || (right && ra != kMountRAWest) || (!left && !right))) {
    err = mySendMountCntlDevice(device, kind, ra + 4, rate);
    if (err != noErr) return err;
  }
  const UInt32 dec = device->mDecAxisState;
  if (dec != kMountAxisStopped &&
      ((up && dec != kMountDecNorth) || (down && dec != kMountDecSouth) || (!up && !down))) {
    err = mySendMountCntlDevice(device, kind, dec + 4, rate);
    if (err != noErr) return err;
  }
  const bool raStopped = device->mRAAxisState == kMountAxisStopped;
  if (left && raStopped)
    err = mySendMountCntlDevice(device, kind, kMountRAEast, rate);
  else if (right && raStopped)
    err = mySendMountCntlDevice(device, kind, kMountRAWest, rate);
  if (err != noErr) return err;
  const bool decStopped = device->mDecAxisState == kMountAxisStopped;
  if (up && decStopped)
    err = mySendMountCntlDevice(device, kind, kMountDecNorth, rate);
  else if (down && decStopped)
    err = mySendMountCntlDevice(device, kind, kMountDecSouth, rate);
  return err;
}
