// A scope-control run: building the run (mount device, guiding window, view,
// buffers, log, timer) and tearing it down again.
//
// The stop must never free what the delivery thread may be using: it clears
// mScopeControlActive first, then waits for the centroid step's busy counter
// (mGuideBusy) before it cancels a pulse, closes the device and frees the
// centroid step's buffers.
#include "guiding/ScopeControl.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/CameraWindowData.h"
#include "camera_driver/ORXDCAM.h"
#include "guiding/Calibration.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/Controls.h"
#include "utilities/LogFiles.h"

namespace {

constexpr OSType kGuideHistogramSignature = FOUR_CHAR_CODE("TRBX");
constexpr OSType kPreferencesCommand = FOUR_CHAR_CODE("pref");
const CFStringRef kGuideHistogramClass = CFSTR("com.skyloom.guide.histogram");

// GPIO registers of the guide lines, from the command base.
constexpr UInt32 kGPIORegisters[4] = {0x1110, 0x1120, 0x1130, 0x1140};
constexpr UInt32 kGPIOLineOff = 0x80010000;
// Writes timed to find the shortest pulse a GPIO or GPUSB line can make.
constexpr int kPulseTimingWrites = 30;
// Twice the mean time of one write, in ms, from the time of all of them in µs.
constexpr double kPulseTimingDivisor = 15000.0;
constexpr double kLX200ShortestPulseMs = 8.0;
constexpr UInt32 kGuideLogDialogKey = 20;
constexpr UInt32 kHistogramBufferBytes = 1040;
constexpr UInt32 kPlaneSlackBytes = 64;
// The stop's wait for a centroid step still running: polls every 10 ms.
constexpr UInt32 kGuideBusyPollMicros = 10000;

int gFailAllocationAt = 0;
int gAllocationCount = 0;
UInt32 gGuideBusyWaitMs = 10000;

void* allocate(size_t bytes, bool zeroed) {
  if (gFailAllocationAt > 0 && ++gAllocationCount == gFailAllocationAt) {
    gFailAllocationAt = 0;
    return nullptr;
  }
  return zeroed ? calloc(1, bytes) : malloc(bytes);
}

template <typename T>
void storeFlag(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_seq_cst);
}

OSStatus bail(MyCameraWindowDataStruct* record, OSStatus err) {
  fprintf(stderr, "myStartControlLXScope : An Err %d  0x%X occured  - bailing\n", int(err), unsigned(err));
  myStopLXScopeControl(record);
  return err;
}

// 'CAMT' item to the calibration move time; any other item gives 2000 ms.
double calibrationMoveMs(UInt32 item) {
  static const double kMs[14] = {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 10000, 12000, 15000, 20000, 25000,
                                 30000};
  return item >= 1 && item <= 14 ? kMs[item - 1] : 2000.0;
}

// Frames a second for an exposure under a second, else 1; at least 1.
UInt32 framesToAverage(double exposureMs) {
  double frames = 1.0;
  if (exposureMs < 1000.0) frames = std::rint(1000.0 / exposureMs);
  if (!(frames >= 1.0)) return 1;  // also NaN and negative exposures
  if (frames >= 4294967295.0) return 0xFFFFFFFFu;
  return UInt32(frames);
}

// The pop-up's item from the accuracy, in single precision as the window
// keeps it: 0.7 px is item 7 (in double arithmetic 0.7f x 10 truncates to 6).
SInt32 accuracyItem(float accuracy) {
  volatile float item = accuracy < 1.1f ? accuracy * 10.0f : accuracy + 9.0f;
  const float v = item;
  if (!(v >= 0.0f)) return 0;
  if (v >= 2147483647.0f) return 0x7FFFFFFF;
  return SInt32(v);
}

// A pop-up: the mark of item 1 off, then the chosen item checked and made the value.
void choosePopUp(WindowRef window, OSType signature, SInt32 item) {
  myChangePopMenuControl(window, signature, 1, 0, -1);
  myChangePopMenuControl(window, signature, item, 0, 1);
}

bool cameraHasGPIO(MyCameraWindowDataStruct& r) {
  if (r.mIsPointGrey != 1 || r.mPointGreyBayer != 0 || r.mPGRLongExposure != 0 || r.mTriggerItem != 0) return false;
  for (UInt32 reg : kGPIORegisters) {
    UInt32 value = 0;
    if (ORXDCAMGetQuadlet(r.mCameraHandle, 0, reg, 0, &value) != noErr) return false;
  }
  return true;
}

void setUpControls(MyCameraWindowDataStruct& r, MCBS& b) {
  WindowRef w = b.mWindow;
  myEnableDisableControl(w, FOUR_CHAR_CODE("SPED"), 0, r.mMountCntlDeviceKind == kMountCntlLX200 ? 1 : 0);
  myEnableDisableControl(w, FOUR_CHAR_CODE("TRAK"), 0, r.mGuidingOn == 1 ? 1 : 0);
  choosePopUp(w, FOUR_CHAR_CODE("RAFS"), SInt32(r.mCorrectionOrder) + 1);
  mySetControlValue(w, FOUR_CHAR_CODE("SOLU"), 0, r.mLunarSolarTracking ? 1 : 0);
  mySetControlValue(w, FOUR_CHAR_CODE("SKIP"), 0, r.mSkipLargeChanges ? 1 : 0);
  mySetControlValue(w, FOUR_CHAR_CODE("TURB"), 0, r.mTurbulenceLimit ? 1 : 0);
  if (r.mLunarSolarTracking == 0 && r.mMultipleObjects == 0) {
    myCheckUncheckControl(w, FOUR_CHAR_CODE("TURB"), 0, 1, r.mTurbulenceLimit == 1 ? 1 : 0);
    myCheckUncheckControl(w, FOUR_CHAR_CODE("EEHP"), 0, 1, r.mEliminateHotPixels == 1 ? 1 : 0);
  } else {
    myCheckUncheckControl(w, FOUR_CHAR_CODE("TURB"), 0, 0, 0);
    myCheckUncheckControl(w, FOUR_CHAR_CODE("EEHP"), 0, 0, 0);
    storeFlag(r.mFullFrameSearch, UInt8(1));
    r.mFWHMAveraging = 0;
    r.mEliminateHotPixels = 0;
    r.mTurbulenceLimit = 0;
  }
  mySetControlValue(w, FOUR_CHAR_CODE("MOBJ"), 0, r.mMultipleObjects ? 1 : 0);
  myChangeDecSelectionMenu(w, &r);
  choosePopUp(w, FOUR_CHAR_CODE("CADE"), SInt32(r.mDecCalibrationMode));
  choosePopUp(w, FOUR_CHAR_CODE("RAPX"), SInt32(r.mMinRAMotionPixels / 5));
  choosePopUp(w, FOUR_CHAR_CODE("DEPX"), SInt32(r.mMinDecMotionPixels / 5));
  choosePopUp(w, FOUR_CHAR_CODE("CAMT"), SInt32(r.mCalibrationMoveItem));
  b.mCalibrationMoveMs = calibrationMoveMs(r.mCalibrationMoveItem);
}

// The view over the chart area; a failure leaves the run without it.
void createGuideView(MCBS& b) {
  HIObjectRef view = nullptr;
  OSStatus err = HIObjectCreate(kGuideHistogramClass, nullptr, &view);
  if (err == noErr) {
    b.mGuideHistogramView = view;
    HIViewRef root = HIViewGetRoot(b.mWindow);
    err = HIViewAddSubview(root, view);
    HIViewRef area = nullptr;
    if (err == noErr) err = HIViewFindByID(root, HIViewID{kGuideHistogramSignature, 0}, &area);
    HIRect frame;
    if (err == noErr) err = HIViewGetFrame(area, &frame);
    if (err == noErr) err = HIViewSetFrame(view, &frame);
    if (err == noErr) err = HIViewSetVisible(view, true);
  }
  if (err != noErr) fprintf(stderr, "HIObjectCreate(CFSTR (com.skyloom.guide.histogram) err %d\n", int(err));
}

// The shortest pulse the line can make, in ms.
double shortestPulseMs(MyCameraWindowDataStruct& r, MountCntlDevice* device) {
  const UInt32 kind = device->mKind;
  if (kind == kMountCntlLX200) return kLX200ShortestPulseMs;
  if (kind != kMountCntlCameraGPIO && kind != kMountCntlGPUSB) return 0.0;
  const UInt64 before = SkyloomMicroseconds();
  for (int i = 0; i < kPulseTimingWrites; i++) {
    OSStatus err = kind == kMountCntlCameraGPIO
                       ? ORXDCAMSetQuadlet(r.mCameraHandle, 0, kGPIORegisters[0], 0, kGPIOLineOff)
                       : mySetGPUSBDeviceValue(static_cast<GPUSBDevice*>(device->mAdapterHandle), 0, 0);
    if (err != noErr) break;
  }
  return double(SkyloomMicroseconds() - before) / kPulseTimingDivisor;
}

// Waits (bounded) until no centroid step runs; false on time-out.
bool waitForCentroidStep(MyCameraWindowDataStruct& r) {
  std::atomic_ref<SInt32> busy(r.mGuideBusy);
  const UInt32 polls = gGuideBusyWaitMs * 1000 / kGuideBusyPollMicros;
  for (UInt32 i = 0; busy.load(std::memory_order_seq_cst) != 0; i++) {
    if (i >= polls) return false;
    if (auto pause = gScopeTestPausePoint) pause(kScopePauseStopWaiting);
    SkyloomSleepMicroseconds(kGuideBusyPollMicros);
  }
  return true;
}

}  // namespace

void (*volatile gScopeTestPausePoint)(int where) = nullptr;

void myFailScopeControlAllocationForTesting(int nth) {
  gFailAllocationAt = nth;
  gAllocationCount = 0;
}

void mySetGuideBusyWaitForTesting(UInt32 milliseconds) { gGuideBusyWaitMs = milliseconds; }

OSStatus myStartControlLXScope(MyCameraWindowDataStruct* record) {
  if (!record) return paramErr;
  MyCameraWindowDataStruct& r = *record;
  if (r.mpMCBSPtr) return noErr;  // one run per camera

  auto* block = static_cast<MCBS*>(allocate(sizeof(MCBS), true));
  if (!block) {
    fprintf(stderr, "myStartControlLXScope malloc() mpMCBSPtr != NULL\n");
    return memFullErr;
  }
  MCBS& b = *block;
  r.mpMCBSPtr = block;
  r.mScopeControlOpen = 1;
  b.mKind = kMCBSKind;

  r.mFramesToAverage = framesToAverage(r.mExposureMS);

  r.mFWHMAveraging = 0;
  storeFlag(r.mScopeControlActive, UInt8(0));
  storeFlag(r.mGuidingActive, UInt8(0));
  storeFlag(r.mFullFrameSearch, UInt8(1));
  r.mMountCntlDeviceKind = kMountCntlLX200;
  r.mFramesAveraged = 0;
  r.mFWHMCount = 0;
  storeFlag(r.mPulsesPending, SInt32(0));
  storeFlag(r.mTrackingPhase, SInt32(0));
  r.mFWHMSum = 0.0f;
  r.mpMountCntlDevicePtr = nullptr;
  r.mSerialHistoGramBuffer = nullptr;
  r.mSerial8BitBuffer = nullptr;
  r.mGuideSumX = r.mGuideSumY = r.mGuideSumBoxWidth = r.mGuideSumBoxHeight = 0.0f;
  storeFlag(r.mTrackBoxWidth, 0.0f);
  storeFlag(r.mTrackBoxHeight, 0.0f);

  // Every reference stays null (calloc) until it is made, so the stop can
  // run on the block at any stage.
  b.mCameraRecord = record;
  b.mHistoryStart = kMCBSHistoryLength;

  const bool hasGPIO = cameraHasGPIO(r);

  MountCntlDevice* device = myOpenMountCntlDevice(r.mMountCntlDeviceKind, hasGPIO ? 1 : 0);
  if (!device) return bail(record, memFullErr);
  b.mMountDevice = device;

  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err != noErr) return bail(record, err);
  storeFlag(r.mGuideWindowShown, UInt8(0));

  static const EventTypeSpec kViewEvents[] = {
      {kEventClassHIObject, kEventHIObjectConstruct},  {kEventClassHIObject, kEventHIObjectInitialize},
      {kEventClassHIObject, kEventHIObjectDestruct},   {kEventClassControl, kEventControlInitialize},
      {kEventClassControl, kEventControlDraw},         {kEventClassControl, kEventControlActivate},
      {kEventClassControl, kEventControlDeactivate},
  };
  b.mGuideHistogramHandlerUPP = NewEventHandlerUPP(myGuideHistogramCustomControlHandler);
  if (b.mGuideHistogramHandlerUPP) {
    err = HIObjectRegisterSubclass(kGuideHistogramClass, kHIViewClassID, 0, b.mGuideHistogramHandlerUPP,
                                   UInt32(sizeof kViewEvents / sizeof kViewEvents[0]), kViewEvents, record,
                                   &b.myGuideHistogramToolboxObjectClassRef);
    if (err == hiObjectClassExistsErr) {
      fprintf(stderr, "myCameraHistogramCustomControlHandler Installed failed %d\n", int(err));
      err = noErr;
    } else if (err != noErr) {
      fprintf(stderr, "-------------- HIObjectRegisterSubclass Installed %d err\n", int(err));
    }
  }

  if (device->mKind == kMountCntlCameraGPIO) device->mAdapterHandle = r.mCameraHandle;
  r.mpMountCntlDevicePtr = device;
  r.mMountCntlDeviceKind = device->mKind;

  if (err == noErr) err = CreateWindowFromNib(nib, CFSTR("LXControls"), &b.mWindow);
  DisposeNibReference(nib);
  if (err != noErr) {
    fprintf(stderr, "myStartControlLXScope : CreateWindowFromNib failed %d\n", int(err));
    return bail(record, err);
  }
  SetWRefCon(b.mWindow, 0);

  r.mSerialHistoGramBuffer = static_cast<UInt32*>(allocate(kHistogramBufferBytes, false));
  if (!r.mSerialHistoGramBuffer) {
    fprintf(stderr, "myStartControlLXScope: malloc() mSerialHistoGramBuffer failed %d\n", int(memFullErr));
    return bail(record, memFullErr);
  }
  size_t planeBytes = size_t(r.mWidth) * r.mHeight;
  if (r.mBitsPerPixel != 8) planeBytes *= 2;
  r.mSerial8BitBuffer = static_cast<UInt8*>(allocate(planeBytes + kPlaneSlackBytes, false));
  if (!r.mSerial8BitBuffer) {
    fprintf(stderr, "myStartControlLXScope: malloc() mSerial8BitBuffer failed %d\n", int(memFullErr));
    return bail(record, memFullErr);
  }

  if (!r.mpGuideLogFile || r.mGuideLogOpen == 0) {
    r.mpGuideLogFile = myCreateLogFileWriteOnly("Save Guiding Data As", "Guiding Log ", kGuideLogDialogKey);
    r.mGuideLogOpen = r.mpGuideLogFile ? 1 : 0;
  }
  if (r.mGuideLogOpen == 1 && r.mpGuideLogFile) {
    fprintf(r.mpGuideLogFile, "Guiding via %s Device \r", device->mDeviceName);
    fflush(r.mpGuideLogFile);
  }

  setUpControls(r, b);

  ControlRef area = nullptr;
  ControlID areaID = {kGuideHistogramSignature, 0};
  if (GetControlByID(b.mWindow, &areaID, &area) == noErr && area) {
    Rect bounds;
    GetControlBounds(area, &bounds);
    b.mTrackBoxBounds[0] = bounds.top;
    b.mTrackBoxBounds[1] = bounds.left;
    b.mTrackBoxBounds[2] = bounds.bottom;
    b.mTrackBoxBounds[3] = bounds.right;
  }
  b.mTrackBoxTimerUPP = NewEventLoopTimerUPP(myUpdateTrackingAreaBox);
  if (InstallEventLoopTimer(GetMainEventLoop(), 0.0, 0.5, b.mTrackBoxTimerUPP, record, &b.mTrackBoxTimer) == noErr) {
    SetEventLoopTimerNextFireTime(b.mTrackBoxTimer, 0.0);
  } else {
    DisposeEventLoopTimerUPP(b.mTrackBoxTimerUPP);
    b.mTrackBoxTimerUPP = nullptr;
    b.mTrackBoxTimer = nullptr;
  }

  choosePopUp(b.mWindow, FOUR_CHAR_CODE("ACCU"), accuracyItem(r.mTrackAccuracy));

  static const EventTypeSpec kWindowEvents[] = {{kEventClassWindow, kEventWindowClose},
                                                {kEventClassCommand, kEventCommandProcess}};
  b.mWindowHandlerUPP = NewEventHandlerUPP(myScopeContolEventHandler);
  err = InstallWindowEventHandler(b.mWindow, b.mWindowHandlerUPP, 2, kWindowEvents, record, &b.mWindowHandlerRef);
  if (err != noErr) {
    fprintf(stderr, "myStartControlLXScope: InstallEventHandler failed %d\n", int(err));
    b.mWindowHandlerRef = nullptr;
    return bail(record, err);
  }

  // A class registered before this run (one whose unregistering failed)
  // would hand its construct event to a record that may be gone: only our
  // own registration makes the view.
  if (b.myGuideHistogramToolboxObjectClassRef) createGuideView(b);

  storeFlag(r.mScopeControlActive, UInt8(1));
  err = mySendMountCntlDevice(device, device->mKind, kMountStopAll, 0.0);
  if (err == noErr && device->mKind == kMountCntlLX200)
    err = mySendMountCntlDevice(device, device->mKind, kMountGuideRate, 0.0);
  myEnableDisableControl(b.mWindow, FOUR_CHAR_CODE("SPED"), 0, device->mKind == kMountCntlLX200 ? 1 : 0);
  if (err != noErr) {
    fprintf(stderr, "myStartControlLXScope: mySendMountCntlDevice() Stop failed %d\n", int(err));
    return bail(record, err);
  }

  r.mMinPulseMs = shortestPulseMs(r, device);

  SetWRefCon(b.mWindow, SRefCon(block));
  myPostTrackingMessage(b.mWindow, "Status: Idle");
  storeFlag(r.mGuideWindowShown, UInt8(1));
  // Without a control window to hang from, the window stands on its own.
  const bool sheet = ShowSheetWindow(b.mWindow, r.mControlWindow) == noErr;
  if (!sheet) ShowWindow(b.mWindow);
  SetThemeCursor(kThemeArrowCursor);
  RunAppModalLoopForWindow(b.mWindow);
  if (sheet)
    HideSheetWindow(b.mWindow);
  else
    HideWindow(b.mWindow);
  SetThemeCursor(kThemeArrowCursor);

  myStopLXScopeControl(record);
  return noErr;
}

void myStopLXScopeControl(MyCameraWindowDataStruct* record) {
  if (!record) return;
  MyCameraWindowDataStruct& r = *record;
  storeFlag(r.mScopeControlActive, UInt8(0));
  storeFlag(r.mGuideWindowShown, UInt8(0));
  myDecrementIfPositive(&r.mPulsesPending);
  storeFlag(r.mTrackingPhase, SInt32(0));
  storeFlag(r.mGuidingActive, UInt8(0));

  MCBS* block = r.mpMCBSPtr;
  if (!block) return;
  MCBS& b = *block;

  // A centroid step that started before the flags went down still uses the
  // buffers and may start a pulse on the device.
  const bool idle = waitForCentroidStep(r);
  if (!idle)
    fprintf(stderr,
            "myStopLXScopeControl : the centroid step is still running - its buffers, block and device are kept\n");

  if (b.mMountDevice) {
    r.mFWHMAveraging = 0;
    r.mFWHMSum = 0.0f;
    r.mFWHMCount = 0;
    if (idle) myCancelTimerThread(record);
    myRemoveCalibrationTimedProc(record);
  }
  if (b.mTrackBoxTimer) {
    SetEventLoopTimerNextFireTime(b.mTrackBoxTimer, -1.0);
    RemoveEventLoopTimer(b.mTrackBoxTimer);
    b.mTrackBoxTimer = nullptr;
  }
  if (b.mTrackBoxTimerUPP) DisposeEventLoopTimerUPP(b.mTrackBoxTimerUPP);
  b.mTrackBoxTimerUPP = nullptr;
  if (b.mMountDevice && idle) {
    MountCntlDevice* device = b.mMountDevice;
    std::atomic_ref<SInt32>(device->mReaderStarted).store(0);
    std::atomic_ref<SInt32>(device->mReaderRunning).store(0);
    std::atomic_ref<SInt32>(device->mPulseThreadRunning).store(0);
    mySendMountCntlDevice(device, r.mMountCntlDeviceKind, kMountStopAll, 0.0);
    if (r.mMountCntlDeviceKind == kMountCntlLX200)
      mySendMountCntlDevice(device, r.mMountCntlDeviceKind, kMountGuideRate, 0.0);
    myCloseMountCntlDevice(device);
    b.mMountDevice = nullptr;
    r.mpMountCntlDevicePtr = nullptr;
  }

  if (b.mWindowHandlerRef) RemoveEventHandler(b.mWindowHandlerRef);
  b.mWindowHandlerRef = nullptr;
  if (b.mWindowHandlerUPP) DisposeEventHandlerUPP(b.mWindowHandlerUPP);
  b.mWindowHandlerUPP = nullptr;
  if (b.mGuideHistogramView) DisposeControl(b.mGuideHistogramView);
  b.mGuideHistogramView = nullptr;
  b.mGuideHistogramInstance = nullptr;
  if (b.mWindow) DisposeWindow(b.mWindow);
  b.mWindow = nullptr;
  if (b.myGuideHistogramToolboxObjectClassRef) {
    OSStatus err = HIObjectUnregisterClass(b.myGuideHistogramToolboxObjectClassRef);
    if (err != noErr)
      fprintf(stderr, "HIObjectUnregisterClass for myGuideHistogramToolboxObjectClassRef failed %d\n", int(err));
    else
      b.myGuideHistogramToolboxObjectClassRef = nullptr;
  }
  if (b.mGuideHistogramHandlerUPP) DisposeEventHandlerUPP(b.mGuideHistogramHandlerUPP);
  b.mGuideHistogramHandlerUPP = nullptr;

  if (idle) {
    free(r.mSerialHistoGramBuffer);
    r.mSerialHistoGramBuffer = nullptr;
    free(r.mSerial8BitBuffer);
    r.mSerial8BitBuffer = nullptr;
  }

  if (r.mGuidingOn == 0) {
    r.mCorrectRA = 0;
    r.mCorrectDec = 0;
  }

  // The correction step writes the drift histories into the block.
  if (idle) free(block);
  r.mpMCBSPtr = nullptr;
  r.mScopeControlOpen = 0;
  EnableMenuCommand(nullptr, kPreferencesCommand);
}
