// The please-wait modes: set-up, the modal loop on the please-wait window
// and the end of each mode (see PleezWait.h).
#include "app/PleezWait.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

#include "app/ExposureControls.h"
#include "app/FrameGrabs.h"
#include "app/FramePipeline.h"
#include "app/HistogramViews.h"
#include "app/RecordAtomics.h"
#include "camera_driver/ORXDCAM.h"
#include "guiding/AlignedCapture.h"
#include "guiding/TrackingExports.h"
#include "pixel/BayerPlanes.h"
#include "pixel/FlatField.h"
#include "pixel/FrameSums.h"
#include "pixel/live/WhiteBalanceStep.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

void* (*volatile gMyPleezWaitAllocate)(size_t bytes) = nullptr;

namespace {

using record_atomics::ld;
using record_atomics::st;
using record_atomics::lowerIfUp;

ControlRef myGetControlRef(WindowRef w, OSType signature, SInt32 id) {
  const ControlID cid = {signature, id};
  ControlRef c = nullptr;
  return GetControlByID(w, &cid, &c) == noErr ? c : nullptr;
}

void* allocate(size_t bytes) {
  void* (*alloc)(size_t) = gMyPleezWaitAllocate;
  return alloc ? alloc(bytes) : std::malloc(bytes);
}
void* allocateZeroed(size_t bytes) {
  void* p = allocate(bytes);
  if (p) std::memset(p, 0, bytes);
  return p;
}

constexpr const char* kTitleKeys[12] = {
    "",
    "AVGSHRPNKEY",
    "CRTDKFRAMEKEY",
    "CRTFLATFRAMEKEY",
    "WHITEBALANCEKEY",
    "SPOTWHITEBALANCEKEY",
    "TRKINGRADECMOTKEY",
    "AVGFRAMEWAITKEY",
    "SUMFRAMEWAITKEY",
    "CAPALAVWAITGKEY",
    "CAPALSUMWAITKEY",
    "MONITORBRIGHTNESS",
};
#define kGraphClass CFSTR("com.skyloom.brightness.graph")
constexpr UInt32 kBrightnessCapacity = 10000000;
constexpr UInt32 kTrackCapacity = 32768;
constexpr UInt32 kWhiteBalanceFrames = 83;

bool unlimited(UInt32 mode) { return mode == 6 || mode == 9 || mode == 10 || mode == 11; }

// What a run remembers between its set-up and its end.
struct Run {
  UInt32 mode = 0;
  UInt8 savedStretch = 0;
  UInt32 savedRed = 0, savedBlue = 0;  // white balance before the run
  OSType savedSaveKind = 0;
  HIObjectClassRef graphClass = nullptr;
};

// Sum buffer of a dark, flat, average or sum run: n x 4 + 16 bytes, zeroed.
void* newSumBuffer(const MyCameraWindowDataStruct& r) {
  return allocateZeroed(size_t(r.mWidth) * r.mHeight * 4 + 16);
}

// A dark or flat frame in use by the pipeline is taken out of use first,
// then freed once no frame is inside the calibration steps.
bool dropCalibrationFrame(MyCameraWindowDataStruct& r, UInt8* use, void** frame) {
  if (!myDisableFrameWork(use, &r.mCalibrationBusy)) return false;
  void* old = ld(*frame);
  st(*frame, static_cast<void*>(nullptr));
  std::free(old);
  return true;
}

// The white-balance set-up; false when the camera refused a step.
bool setUpWhiteBalance(MyCameraWindowDataStruct& r, Run& run) {
  st(r.mHistogramExpand, UInt8(0));
  UInt32 lo = 0, hi = 0;
  UInt8 onePush = 0, readOut = 0, onOff = 0, autoMode = 0, manual = 0;
  MyDCAMCameraStruct* cam = r.mCameraHandle;
  if (ORXDCAMGetPropertyCapability(cam, kMyWhiteBalanceFeature, &lo, &hi, &onePush, &readOut, &onOff, &autoMode,
                                   &manual) != noErr)
    return false;
  lo += 1;
  hi -= 1;
  if (ORXDCAMGetPropertyValue(cam, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorVR, &run.savedRed) != noErr ||
      ORXDCAMGetPropertyValue(cam, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorUB, &run.savedBlue) != noErr)
    return false;
  const UInt32 middle = lo + (hi - lo) / 2;
  r.mRedBalanceLower = r.mBlueBalanceLower = lo;
  r.mRedBalanceUpper = r.mBlueBalanceUpper = hi;
  r.mRedBalanceValue = r.mBlueBalanceValue = middle;
  if (ORXDCAMSetPropertyValue(cam, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorVR, middle) != noErr ||
      ORXDCAMSetPropertyValue(cam, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorUB, middle) != noErr)
    return false;
  r.mRedBalancePrevious = r.mBlueBalancePrevious = kMyWhiteBalanceNoValue;
  r.mRedBalanceDone = r.mBlueBalanceDone = 0;
  r.mWhiteBalanceRunning = 1;
  return true;
}

bool setUpBrightnessMonitor(MyCameraWindowDataStruct& r, Run& run, WindowRef w) {
  r.mTrackSampleCount = 0;
  r.mTrackSampleCapacity = kBrightnessCapacity;
  r.mBrightnessElapsed = 0.0f;
  void* times = allocate(size_t(kBrightnessCapacity) * sizeof(float) + 4);
  void* values = times ? allocate(size_t(kBrightnessCapacity) * sizeof(float) + 4) : nullptr;
  if (!times || !values) {
    std::free(times);
    std::free(values);
    return false;
  }
  r.mTrackSamples = static_cast<float*>(times);
  r.mPleezWaitSum = values;
  myBrightnessMonitorArea(r.mBrightnessAreaX, r.mBrightnessAreaY, r.mBrightnessAreaWidth, r.mBrightnessAreaHeight,
                          r.mWidth, r.mHeight, r.mTrackingArea);
  if (ControlRef graf = myGetControlRef(w, FOUR_CHAR_CODE("GRAF"), 0)) GetControlBounds(graf, &r.mBrightnessGraphRect);
  r.mBrightnessGraphTimerUPP = NewEventLoopTimerUPP(myUpdateBrighnessGraphBox);
  if (InstallEventLoopTimer(GetMainEventLoop(), 0.0, 1.0, r.mBrightnessGraphTimerUPP, &r,
                            &r.mBrightnessGraphTimer) == noErr)
    SetEventLoopTimerNextFireTime(r.mBrightnessGraphTimer, 0.0);
  myChangeControlTxt(w, FOUR_CHAR_CODE("STTX"), 0, "T: 0.0 B:0");
  st(r.mBrightnessMonitorOn, UInt8(1));
  if (run.graphClass) {
    HIObjectRef view = nullptr;
    HIViewRef graf = nullptr;
    HIRect frame{};
    const HIViewID grafID = {FOUR_CHAR_CODE("GRAF"), 0};
    OSStatus err = HIObjectCreate(kGraphClass, nullptr, &view);
    if (err == noErr) {
      HIViewRef content = nullptr;
      HIViewFindByID(HIViewGetRoot(w), kHIViewWindowContentID, &content);
      if ((err = HIViewAddSubview(content ? content : HIViewGetRoot(w), view)) == noErr &&
          (err = HIViewFindByID(HIViewGetRoot(w), grafID, &graf)) == noErr &&
          (err = HIViewGetFrame(graf, &frame)) == noErr && (err = HIViewSetFrame(view, &frame)) == noErr)
        err = HIViewSetVisible(view, true);
    }
    if (err != noErr) {
      std::fprintf(stderr, "HIObjectCreate(CFSTR (com.skyloom.brightness.graph) err %d\n", int(err));
      return false;
    }
  }
  r.mBrightnessGraphMode = 1;
  mySetControlValue(w, FOUR_CHAR_CODE("DISP"), 0, 1);
  return true;
}

// Step 4: the mode's set-up. false: the run cannot start.
bool setUp(MyCameraWindowDataStruct& r, Run& run, WindowRef w) {
  const size_t n = size_t(r.mWidth) * r.mHeight;
  UInt32 frames = std::numeric_limits<UInt32>::max();
  switch (run.mode) {
    case 1:
      r.mSharpnessAvailable = 0;
      r.mSharpnessReference = 0.0;
      r.mRejectBySharpness = 0;
      frames = r.mSharpFrameCount;
      break;
    case 2:
    case 3: {
      const bool dark = run.mode == 2;
      if (dark) {
        r.mDarkFrameAvailable = 0;
        if (!dropCalibrationFrame(r, &r.mUseDarkFrame, &r.mDarkFrame)) return false;
      } else {
        r.mFlatFrameAvailable = 0;
        if (!dropCalibrationFrame(r, &r.mUseFlatFrame, &r.mFlatFrame)) return false;
      }
      r.mPleezWaitSum = newSumBuffer(r);  // without it the run ends without a new frame
      frames = dark ? r.mDarkFrameCount : r.mFlatFrameCount;
      break;
    }
    case 4:
    case 5:
      if (!setUpWhiteBalance(r, run)) return false;
      frames = kWhiteBalanceFrames;
      break;
    case 6:
      r.mTrackSampleCapacity = kTrackCapacity;
      r.mTrackLostCount = 0;
      r.mTrackingAnalysisOn = 0;
      r.mTrackSampleCount = 0;
      r.mTrackingArea[2] = float(r.mWidth / 2);
      r.mTrackingArea[3] = float(r.mHeight / 2);
      if (r.mBitsPerPixel > 8) {
        r.mPleezWaitSum = allocateZeroed(n + 16);
        if (!r.mPleezWaitSum) return false;
      }
      r.mTrackSlowExposure = r.mExposureMS < 1000.0 ? 1 : 0;
      r.mTrackSamples = static_cast<float*>(allocate(size_t(kTrackCapacity) * 12 + 16));
      if (!r.mTrackSamples) return false;
      myChangeControlTxt(w, FOUR_CHAR_CODE("STTX"), 0, "T: 0.0 X:0.0 Y:0:0");
      break;
    case 7:
    case 8:
      st(r.mGrabCancel, UInt8(0));
      r.mPleezWaitSum = newSumBuffer(r);
      if (!r.mPleezWaitSum) return false;
      frames = run.mode == 7 ? r.mAverageFrameCount : r.mSumFrameCount;
      break;
    case 9:
    case 10:
      if (myStartAlignedFrameCapture(&r, r.mWidth, r.mHeight) != noErr) return false;
      break;
    case 11:
      if (!setUpBrightnessMonitor(r, run, w)) return false;
      break;
    default:
      return false;
  }
  r.mPleezWaitFramesLeft = frames;
  if (unlimited(run.mode)) {
    if (ControlRef bar = myGetControlRef(w, FOUR_CHAR_CODE("BARR"), 0)) {
      Boolean on = true;
      SetControlData(bar, kControlEntireControl, kControlProgressBarIndeterminateTag, sizeof(on), &on);
    }
    mySetControlTitleByKeyString(w, FOUR_CHAR_CODE("clos"), 0, "STOPKEY");
  }
  if (run.mode != 6 && run.mode != 11) myUpdatePleezWaitWindow(w, 0);
  return true;
}

void endDarkOrFlat(MyCameraWindowDataStruct& r, bool dark) {
  const auto* sums = static_cast<const UInt32*>(r.mPleezWaitSum);
  if (!sums) return;
  const UInt32 n = r.mWidth * r.mHeight;
  const bool deep = r.mBitsPerPixel != 8;
  const UInt32 count = dark ? r.mDarkFrameCount : r.mFlatFrameCount;
  void* average = allocate(size_t(n) * (deep ? 2 : 1) + 16);
  if (!average) return;
  if (deep)
    my32to16FrameBuff16Bit(sums, static_cast<UInt16*>(average), n * 2, count, 0);
  else
    my32to8FrameBuff8Bit(sums, static_cast<UInt8*>(average), n, count, 0);
  if (dark) {
    st(r.mDarkFrame, average);
    r.mDarkFrameAvailable = 1;
    return;
  }
  void* factors = allocate(size_t(n) * 4 + 16);
  if (factors) {
    const UInt32 w = r.mWidth, h = r.mHeight;
    if (r.mColourSensor == 1) {
      const MyBayerRoutineChoice c = myBayerRoutineChoiceFromBayerFormat(r.mBayerFormat);
      const bool rggb = c.family == kMyBayerFamilyRGGB;
      if (deep) {
        auto* f = static_cast<FlattenedFrame16Bit*>(factors);
        const auto* a = static_cast<const UInt16*>(average);
        rggb ? myCreateBayerFlattenedFrameRGGB16Bit(a, f, w, h, c.startRowFlag)
             : myCreateBayerFlattenedFrameBGGR16Bit(a, f, w, h, c.startRowFlag);
      } else {
        auto* f = static_cast<FlattenedFrame8Bit*>(factors);
        const auto* a = static_cast<const UInt8*>(average);
        rggb ? myCreateBayerFlattenedFrameRGGB8Bit(a, f, w, h, c.startRowFlag, r.mHasVectorUnit)
             : myCreateBayerFlattenedFrameBGGR8Bit(a, f, w, h, c.startRowFlag, r.mHasVectorUnit);
      }
    } else if (deep) {
      myCreateFlattenedFrameMono16Bit(static_cast<const UInt16*>(average), static_cast<FlattenedFrame16Bit*>(factors),
                                      w, h);
    } else {
      myCreateFlattenedFrameMono8Bit(static_cast<const UInt8*>(average), static_cast<FlattenedFrame8Bit*>(factors), w,
                                     h, r.mHasVectorUnit);
    }
    st(r.mFlatFrame, factors);
    r.mFlatFrameAvailable = 1;
  }
  std::free(average);
}

void endWhiteBalance(MyCameraWindowDataStruct& r, const Run& run) {
  myUpdatePleezWaitWindow(r.mPleezWaitWindow, 100);
  struct Half {
    UInt8 done;
    OSType signature;
    SInt32 selector;
    UInt32 saved;
  };
  const Half halves[2] = {{r.mRedBalanceDone, FOUR_CHAR_CODE("VorR"), kMyWhiteBalanceSelectorVR, run.savedRed},
                          {r.mBlueBalanceDone, FOUR_CHAR_CODE("UorB"), kMyWhiteBalanceSelectorUB, run.savedBlue}};
  for (const Half& h : halves) {
    if (h.done == 1)
      mySetUpDCAMControls(&r, h.signature, kMyWhiteBalanceFeature, h.selector);
    else
      ORXDCAMSetPropertyValue(r.mCameraHandle, kMyWhiteBalanceFeature, h.selector, h.saved);
  }
  r.mWhiteBalanceRunning = 0;
  r.mRedBalanceDone = r.mBlueBalanceDone = 0;
}

void endAligned(MyCameraWindowDataStruct& r, Run& run) {
  const UInt8 sum = run.mode == 10 ? 1 : 0;
  run.savedSaveKind = r.mSaveFileType;
  r.mSaveFileType = FOUR_CHAR_CODE("TIFF");
  const OSStatus named = myFillInFSSpec(&r);
  if (named == noErr || named == fnfErr) {
    if (myFinishAlignedFrameCapture(&r, 1, sum) == noErr) {
      myDoFileFinnishUp(&r, run.mode == 9 ? kMyCaptureAveraged : kMyCaptureSummed, ld(r.mAlignedFrameCount));
    }
  } else {
    myFinishAlignedFrameCapture(&r, 0, 0);
  }
  r.mSaveFileType = run.savedSaveKind;
}

// Step 6 for a run that ended normally.
void finishRun(MyCameraWindowDataStruct& r, Run& run) {
  switch (run.mode) {
    case 1:
      myUpdatePleezWaitWindow(r.mPleezWaitWindow, 100);
      if (r.mSharpFrameCount != 0) r.mSharpnessReference /= double(r.mSharpFrameCount);
      r.mSharpnessTolerance = r.mSharpnessReference * r.mSkipSharpnessPercent * 0.01;
      r.mSharpnessAvailable = 1;
      break;
    case 2:
    case 3:
      myUpdatePleezWaitWindow(r.mPleezWaitWindow, 100);
      endDarkOrFlat(r, run.mode == 2);
      break;
    case 4:
    case 5:
      endWhiteBalance(r, run);
      break;
    case 6:
      st(r.mTrackingAnalysisOn, UInt8(0));
      if (r.mTrackSampleCount != 0) mySaveRA_DEC_TrackingInfo(&r);
      break;
    case 9:
    case 10:
      endAligned(r, run);
      break;
    case 11:
      myRemoveBrighnessGraphBoxTimer(&r);
      myExportOutTimeBrightnessValues(&r);
      break;
    default:  // 7, 8: the display timer saves the grab
      break;
  }
}

// Step 6 for a run stopped by the user or failed.
void abandonRun(MyCameraWindowDataStruct& r, Run& run) {
  switch (run.mode) {
    case 6:
      myPostAlert("", "myDoPleezWait() error 0x003");
      break;
    case 7:
    case 8:
      lowerIfUp(r.mGrabPending);
      lowerIfUp(r.mGrabsInFlight);
      // The pipeline's own counter is left alone; a buffer it still writes
      // is freed by the display timer once it is done.
      // The controls the grab request switched come back here: no grab
      // completes for the display timer to restore them.
      if (myFinishGrab(&r))
        myRestoreGrabControls(&r);
      else
        r.mGrabFinishPending = 1;
      break;
    case 9:
    case 10:
      myFinishAlignedFrameCapture(&r, 0, 0);
      break;
    case 11:
      myRemoveBrighnessGraphBoxTimer(&r);
      break;
    default:  // a stopped white balance keeps its last trial values
      break;
  }
}

// Step 7: the sums and samples freed once no frame is using them.
void freeRunBuffers(MyCameraWindowDataStruct& r, const Run& run) {
  st(r.mPleezWaitActive, UInt8(0));
  if (!myWaitForFrameWork(&r.mPleezWaitBusy, 5000, 1000) || !myWaitForFrameWork(&r.mTrackBusy, 5000, 1000)) {
    std::fprintf(stderr, "myDoPleezWait() buffers still in use, kept\n");
  } else {
    void* sum = ld(r.mPleezWaitSum);
    float* samples = ld(r.mTrackSamples);
    st(r.mPleezWaitSum, static_cast<void*>(nullptr));
    st(r.mTrackSamples, static_cast<float*>(nullptr));
    std::free(sum);
    std::free(samples);
  }
  st(r.mHistogramExpand, run.savedStretch);
  st(r.mStretchRequest, UInt8(run.savedStretch == 2 ? 3 : 0));
}

void registerGraphClass(MyCameraWindowDataStruct& r, Run& run) {
  static const EventTypeSpec events[] = {{kEventClassHIObject, kEventHIObjectConstruct},
                                         {kEventClassHIObject, kEventHIObjectInitialize},
                                         {kEventClassHIObject, kEventHIObjectDestruct},
                                         {kEventClassControl, kEventControlInitialize},
                                         {kEventClassControl, kEventControlDraw}};
  const OSStatus err = HIObjectRegisterSubclass(kGraphClass, kHIViewClassID, 0, myBrighnessGraphCustomControlHandler,
                                                UInt32(std::size(events)), events, &r, &run.graphClass);
  if (err == hiObjectClassExistsErr) {
    std::fprintf(stderr, "com.skyloom.brightness.graph Instal failed %d\n", int(err));
    run.graphClass = nullptr;
  } else if (err != noErr) {
    std::fprintf(stderr, "-------------- HIObjectRegisterSubclass Installed %d err\n", int(err));
    run.graphClass = nullptr;
  }
}

}  // namespace

void myBrightnessMonitorArea(float centreX, float centreY, UInt32 areaWidth, UInt32 areaHeight, UInt32 frameWidth,
                             UInt32 frameHeight, float area[4]) {
  auto side = [](float centre, UInt32 size, UInt32 frame, float* start, float* extent) {
    float lo = centre - float(size / 2);
    const float highest = frame >= 2 ? float(frame - 2) : 0.0f;
    lo = std::clamp(lo, 0.0f, highest);
    const float hi = std::min(lo + float(size), float(frame));
    *start = lo;
    *extent = hi - lo;
  };
  side(centreX, areaWidth, frameWidth, &area[0], &area[2]);
  side(centreY, areaHeight, frameHeight, &area[1], &area[3]);
}

void myUpdatePleezWaitWindow(WindowRef window, SInt32 value) {
  if (window == nullptr) return;
  if (ControlRef bar = myGetControlRef(window, FOUR_CHAR_CODE("BARR"), 0)) {
    SetControl32BitValue(bar, value);
    Draw1Control(bar);
  }
}

void myRemoveBrighnessGraphBoxTimer(MyCameraWindowDataStruct* r) {
  if (r == nullptr) return;
  st(r->mBrightnessMonitorOn, UInt8(0));
  if (r->mBrightnessGraphTimer) {
    SetEventLoopTimerNextFireTime(r->mBrightnessGraphTimer, kEventDurationForever);
    RemoveEventLoopTimer(r->mBrightnessGraphTimer);
  }
  if (r->mBrightnessGraphTimerUPP) DisposeEventLoopTimerUPP(r->mBrightnessGraphTimerUPP);
  r->mBrightnessGraphTimer = nullptr;
  r->mBrightnessGraphTimerUPP = nullptr;
}

OSStatus myPleezWaitEventHandlerProc(EventHandlerCallRef, EventRef inEvent, void* inUserData) {
  auto* r = static_cast<MyCameraWindowDataStruct*>(inUserData);
  if (r == nullptr) return eventNotHandledErr;
  UInt32 command = 0;
  if (GetEventClass(inEvent) == kEventClassWindow && GetEventKind(inEvent) == kEventWindowClose) {
    command = FOUR_CHAR_CODE("clos");  // the close box stops the run as the Stop button does
  } else if (GetEventClass(inEvent) == kEventClassCommand && GetEventKind(inEvent) == kEventCommandProcess) {
    HICommand cmd{};
    if (GetEventParameter(inEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof(cmd), nullptr, &cmd) !=
        noErr)
      return eventNotHandledErr;
    command = cmd.commandID;
  }
  if (command == FOUR_CHAR_CODE("DISP")) {
    SetThemeCursor(kThemeArrowCursor);
    r->mBrightnessGraphMode = UInt32(myGetControlValue(r->mPleezWaitWindow, FOUR_CHAR_CODE("DISP"), 0));
  } else if (command == FOUR_CHAR_CODE("clos")) {
    if (unlimited(r->mPleezWaitMode))
      st(r->mPleezWaitDone, UInt8(1));
    else
      st(r->mPleezWaitError, SInt32(userCanceledErr));
    st(r->mPleezWaitActive, UInt8(0));
    if (r->mPleezWaitWindow) QuitAppModalLoopForWindow(r->mPleezWaitWindow);
    if (GetEventClass(inEvent) == kEventClassWindow) return noErr;  // the window stays until the run ends
  }
  return eventNotHandledErr;
}

void myDoPleezWait(MyCameraWindowDataStruct* record, UInt32 mode) {
  if (record == nullptr || mode < 1 || mode > 11) return;
  MyCameraWindowDataStruct& r = *record;
  Run run;
  run.mode = mode;

  // 1. the window
  IBNibRef nib = nullptr;
  if (CreateNibReference(CFSTR("ORX_DCAM"), &nib) != noErr) return;
  if (mode == 11) registerGraphClass(r, run);
  WindowRef w = nullptr;
  const OSStatus made = CreateWindowFromNib(nib, mode == 11 ? CFSTR("PleezWaitTwo") : CFSTR("PleezWait"), &w);
  DisposeNibReference(nib);
  if (made != noErr || w == nullptr) {
    if (run.graphClass) HIObjectUnregisterClass(run.graphClass);
    return;
  }
  SetWRefCon(w, 0);
  mySetCWindowTitleByKeyString(w, kTitleKeys[mode]);
  r.mPleezWaitWindow = w;

  // 2. the handler
  const EventTypeSpec events[] = {{kEventClassCommand, kEventCommandProcess}, {kEventClassWindow, kEventWindowClose}};
  EventHandlerUPP upp = NewEventHandlerUPP(myPleezWaitEventHandlerProc);
  EventHandlerRef handler = nullptr;
  if (InstallWindowEventHandler(w, upp, UInt32(std::size(events)), events, &r, &handler) != noErr) {
    myPostAlert("", "myDoPleezWait() error 0x001");
  } else {
    // 3.
    st(r.mPleezWaitProgress, SInt32(0));
    r.mTrackSamples = nullptr;
    r.mPleezWaitSum = nullptr;
    run.savedStretch = ld(r.mHistogramExpand);

    // 4. set-up
    if (!setUp(r, run, w)) {
      myPostAlert("", "myDoPleezWait() error 0x002");
      if (mode == 11) myRemoveBrighnessGraphBoxTimer(&r);
    } else {
      // 5. the run: the mode's fields before the pipeline sees it active
      r.mPleezWaitMode = mode;
      st(r.mPleezWaitDone, UInt8(0));
      st(r.mPleezWaitError, SInt32(0));
      ShowWindow(w);
      st(r.mPleezWaitActive, UInt8(1));
      if (mode == 7 || mode == 8) mySaveAFrameToDisk(&r, 0);
      RunAppModalLoopForWindow(w);
      st(r.mPleezWaitActive, UInt8(0));
      // 6. no frame works on the run from here on
      myWaitForFrameWork(&r.mPleezWaitBusy, 5000, 1000);
      myWaitForFrameWork(&r.mTrackBusy, 5000, 1000);
      if (ld(r.mPleezWaitDone) == 1 && ld(r.mPleezWaitError) == 0)
        finishRun(r, run);
      else
        abandonRun(r, run);
      HideWindow(w);
    }
    // 7.
    freeRunBuffers(r, run);
    RemoveEventHandler(handler);
  }
  // 8.
  DisposeEventHandlerUPP(upp);
  r.mPleezWaitWindow = nullptr;
  DisposeWindow(w);
  if (run.graphClass) {
    const OSStatus err = HIObjectUnregisterClass(run.graphClass);
    if (err != noErr) std::fprintf(stderr, "HIObjectUnregisterClass for brightnessGraphObjectRef failed %d\n", int(err));
  }
}
