// Starting and stopping live video (see VideoStartStop.h).
#include "app/VideoStartStop.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "app/CameraMenus.h"
#include "app/ExposureControls.h"
#include "app/FrameGrabs.h"
#include "app/FramePipeline.h"
#include "app/LongExposure.h"
#include "app/PleezWait.h"
#include "app/PreviewDrawing.h"
#include "app/RecordAtomics.h"
#include "app/RegionsOfInterest.h"
#include "camera_driver/ORXDCAM.h"
#include "pixel/live/HistogramPlot.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

void* (*volatile gMyVideoStartAllocate)(size_t bytes) = nullptr;
OSStatus (*volatile gMyVideoStartInstallTimer)(EventLoopRef, EventTimerInterval, EventTimerInterval,
                                               EventLoopTimerUPP, void*, EventLoopTimerRef*) = nullptr;
OSStatus (*volatile gMyVideoStartAssignCallback)(MyDCAMCameraStruct*, MyDCAMFrameCallback, void*) = nullptr;

namespace {

using record_atomics::ld;
using record_atomics::lowerIfUp;
using record_atomics::st;

constexpr UInt32 kVideoPrepareRegister = 0x610;  // 1 while the long-exposure sensor streams
constexpr UInt32 kCCDPulseRegister = 0xF08;
constexpr UInt32 kCDSPulseRegister = 0xF0C;
constexpr UInt32 kAFESetupRegister = 0xF20;
// Indices of mSavedTSLRegisters.
constexpr int kSavedAFE = 0;
constexpr int kSavedCDS = 1;
constexpr int kSavedCCD = 2;
constexpr UInt32 kUBTCDSPulse = 0x1F001617;
constexpr UInt32 kUBTCCDPulse = 0x1507;
constexpr UInt32 kShutterFeature = 0x51C;
constexpr UInt64 kRegisterSettleMicros = 100000;

// The integer part, saturated to the 16-bit range.
SInt16 toS16(double v) {
  if (!(v > -32768.0)) return v != v ? 0 : -32768;
  if (v > 32767.0) return 32767;
  return SInt16(v);
}

void* allocate(size_t bytes) {
  if (auto a = gMyVideoStartAllocate) return a(bytes);
  return malloc(bytes);
}

// Frees a buffer the record holds and clears its pointer.
void release(void*& buffer) {
  free(buffer);
  buffer = nullptr;
}

// One register of the long-exposure sensor into its saved value, tried a
// second time after 100 ms.
bool readSensorRegister(MyCameraWindowDataStruct& r, UInt32 offset, UInt32* saved, const char* name) {
  OSStatus err = ORXDCAMGetQuadlet(r.mCameraHandle, 0, offset, 0, saved);
  if (err == noErr) return true;
  gMyCameraSettleSleep(kRegisterSettleMicros);
  err = ORXDCAMGetQuadlet(r.mCameraHandle, 0, offset, 0, saved);
  if (err == noErr) return true;
  fprintf(stderr, "Reading %s Failed! Err %d 0x%X\n", name, int(err), unsigned(err));
  return false;
}

// The long-exposure sensor's set-up for video: values saved for the stop,
// then the pulse timing (and the AFE of a colour sensor) written.
void prepareLongExposureSensor(MyCameraWindowDataStruct& r) {
  MyDCAMCameraStruct* cam = r.mCameraHandle;
  ORXDCAMSetQuadlet(cam, 0, kVideoPrepareRegister, 0, 1);
  gMyCameraSettleSleep(kRegisterSettleMicros);
  // Only values read by this start are written back by the stop.
  for (UInt32& saved : r.mSavedTSLRegisters) saved = 0;
  UInt32 ccd = 0, cds = 0, afe = 0;
  if (!readSensorRegister(r, kCCDPulseRegister, &ccd, "CCD_PULSE_CNFG")) return;
  r.mSavedTSLRegisters[kSavedCCD] = ccd;
  if (!readSensorRegister(r, kCDSPulseRegister, &cds, "CDS_PULSE_CNFG")) return;
  r.mSavedTSLRegisters[kSavedCDS] = cds;
  if (!readSensorRegister(r, kAFESetupRegister, &afe, "AFE_SETUP_CNFG")) return;
  r.mSavedTSLRegisters[kSavedAFE] = afe;
  if (r.mColourSensor) ORXDCAMSetQuadlet(cam, 0, kAFESetupRegister, 0, (afe & 0xFF0FFFFDu) | 0x100u);
  const bool ubt = r.mIsUBTModel != 0;
  if (ORXDCAMSetQuadlet(cam, 0, kCDSPulseRegister, 0, ubt ? kUBTCDSPulse : cds) == noErr)
    ORXDCAMSetQuadlet(cam, 0, kCCDPulseRegister, 0, ubt ? kUBTCCDPulse : ccd);
}

// The video window sized for the zoomed frame within the screen's
// positioning bounds, its remembered place pulled onto the screen.
void placeVideoWindow(MyCameraWindowDataStruct& r) {
  const float scale = myZoomMenuToScaleValue(&r, r.mZoomItem);
  r.mZoomScale = scale;
  const SInt16 previewW = toS16(double(scale) * double(r.mWidth));
  const SInt16 previewH = toS16(double(scale) * double(r.mHeight));
  r.mPreviewRect = Rect{0, 0, previewH, previewW};
  if (!r.mVideoWindow) return;
  Rect bounds{};
  if (GetAvailableWindowPositioningBounds(GetMainDevice(), &bounds) != noErr) {
    SizeWindow(r.mVideoWindow, short(r.mWidth), short(r.mHeight), true);
    return;
  }
  const SInt32 boundsW = bounds.right - bounds.left, boundsH = bounds.bottom - bounds.top;
  if (previewW > boundsW || previewH > boundsH - 32)
    SizeWindow(r.mVideoWindow, short(boundsW), short(boundsH - 32), true);
  else
    SizeWindow(r.mVideoWindow, previewW, previewH, true);
  if (r.mVideoWindowPos.h < bounds.left || r.mVideoWindowPos.h > bounds.right) r.mVideoWindowPos.h = bounds.left;
  if (r.mVideoWindowPos.v < bounds.top || r.mVideoWindowPos.v > bounds.bottom) r.mVideoWindowPos.v = bounds.top;
}

void removeDisplayTimer(MyCameraWindowDataStruct& r) {
  if (r.mDisplayTimer) {
    SetEventLoopTimerNextFireTime(r.mDisplayTimer, kEventDurationForever);
    RemoveEventLoopTimer(r.mDisplayTimer);
    r.mDisplayTimer = nullptr;
  }
  if (r.mDisplayTimerUPP) {
    DisposeEventLoopTimerUPP(r.mDisplayTimerUPP);
    r.mDisplayTimerUPP = nullptr;
  }
}

OSStatus installDisplayTimer(MyCameraWindowDataStruct& r) {
  st(r.mDisplayBusy, SInt32(0));
  st(r.mPreviewConverting, SInt32(0));
  st(r.mPreviewReady, SInt32(0));
  removeDisplayTimer(r);  // one a failed start left behind
  OSStatus err = noErr;
  r.mDisplayTimerUPP = NewEventLoopTimerUPP(myDisplayFrameTimer);
  if (!r.mDisplayTimerUPP) {
    err = memFullErr;
  } else {
    auto install = gMyVideoStartInstallTimer ? gMyVideoStartInstallTimer : InstallEventLoopTimer;
    err = install(GetMainEventLoop(), 0.0, 0.02, r.mDisplayTimerUPP, &r, &r.mDisplayTimer);
    if (err != noErr) {
      r.mDisplayTimer = nullptr;
      DisposeEventLoopTimerUPP(r.mDisplayTimerUPP);
      r.mDisplayTimerUPP = nullptr;
    }
  }
  if (err != noErr) {
    fprintf(stderr, "myInstallDisplayFrameTimer Err = %d 0x%X\n", int(err), unsigned(err));
    return err;
  }
  SetEventLoopTimerNextFireTime(r.mDisplayTimer, 0.0);
  return noErr;
}

void setRunningControls(MyCameraWindowDataStruct& r) {
  WindowRef cw = r.mControlWindow;
  myRefreshControls(&r);
  if (!cw) return;
  mySetControlTitleByKeyString(cw, FOUR_CHAR_CODE("STRT"), 0, "STOPVIDEOKEY");
  myCheckUncheckControl(cw, FOUR_CHAR_CODE("AUEX"), 0, r.mAutoShutterAvailable ? 1 : 0, 0);
  for (OSType c : {FOUR_CHAR_CODE("GRFR"), FOUR_CHAR_CODE("GRAV"), FOUR_CHAR_CODE("GRSM"), FOUR_CHAR_CODE("GMOV"),
                   FOUR_CHAR_CODE("FORT"), FOUR_CHAR_CODE("EXPO"), FOUR_CHAR_CODE("GSHR"), FOUR_CHAR_CODE("GDKF"),
                   FOUR_CHAR_CODE("GBRF")})
    myEnableDisableControl(cw, c, 0, 1);
  myEnableDisableControl(cw, FOUR_CHAR_CODE("VISZ"), 0, 0);
  myEnableDisableControl(cw, FOUR_CHAR_CODE("USHR"), 0, r.mSharpnessAvailable ? 1 : 0);
  myEnableDisableControl(cw, FOUR_CHAR_CODE("UDKF"), 0, r.mDarkFrameAvailable ? 1 : 0);
  myEnableDisableControl(cw, FOUR_CHAR_CODE("UBRF"), 0, r.mFlatFrameAvailable ? 1 : 0);
  const SInt32 colour = r.mColourDisplay && !r.mInvert ? 1 : 0;
  for (OSType c : {FOUR_CHAR_CODE("AWHB"), FOUR_CHAR_CODE("SWHB"), FOUR_CHAR_CODE("PBCR")})
    myEnableDisableControl(cw, c, 0, colour);
}

// The exposure-base pop-up for a running camera; -1 when it is missing
// (the start ends there, successfully), else the status of the exposure
// re-applied.
OSStatus setRunningExposureItems(MyCameraWindowDataStruct& r) {
  WindowRef cw = r.mControlWindow;
  ControlID id = {FOUR_CHAR_CODE("CCDB"), 0};
  ControlRef popup = nullptr;
  OSStatus err = cw ? GetControlByID(cw, &id, &popup) : errInvalidWindowRef;
  if (err != noErr) {
    fprintf(stderr, "GetControlByID CC_SET_CCD_BASE_RATE_ Err = %d 0x%X\n", int(err), unsigned(err));
    return -1;
  }
  MenuRef menu = GetControlPopupMenuHandle(popup);
  SInt32 n = menu ? CountMenuItems(menu) : 0;
  const SInt32 limit = SInt32(r.mExposureItemLimit);
  if (r.mFrostlensModel == 1) {
    if (!r.mSoftLongExposure) n = SInt32(myfindLongestIIDCExposuretime(r.mSizeLongestExposureMS + 1.0));
    for (SInt32 i = limit; i <= n - 1; i++) myChangePopMenuControl(cw, FOUR_CHAR_CODE("CCDB"), i, 1, 0);
  } else if (r.mIsLongExposureCamera) {
    myChangePopMenuControl(cw, FOUR_CHAR_CODE("CCDB"), n, 1, 0);
  } else {
    for (SInt32 i = limit; i <= n - 1; i++) myChangePopMenuControl(cw, FOUR_CHAR_CODE("CCDB"), i, 1, 0);
  }
  if (r.mIsPointGrey || r.mShutterByAbsolute) {
    myChangePopMenuControl(cw, FOUR_CHAR_CODE("CCDB"), n, -1, 0);
    ControlID eid = {FOUR_CHAR_CODE("EXPO"), 0};
    ControlRef expo = nullptr;
    if ((err = GetControlByID(cw, &eid, &expo)) != noErr) {
      fprintf(stderr, "GetControlByID CC_EXPO_CNTL_ Err = %d 0x%X\n", int(err), unsigned(err));
      return err;
    }
    myLiveDCamControlProc(expo, 0);
  }
  return noErr;
}

void reportStartError(OSStatus err) {
  if (err == kMyNoBandwidthErr) {
    myPostAlertByKeyString("USRER", "NOBANDWIDTH");
    return;
  }
  char text[96];
  snprintf(text, sizeof text, "myStartCamera Err = %d 0x%X", int(err), unsigned(err));
  myPostAlert("", text);
}

// Steps 2 to 16 of the start; the status of the first that failed.
OSStatus startSteps(MyCameraWindowDataStruct& r, UInt32 format, UInt32 mode, double fps) {
  MyDCAMCameraStruct* cam = r.mCameraHandle;
  OSStatus err = ORXDCAMSixteenBitEndianSwap(cam, r.mPixel16EndianSwap);
  if (err == noErr) err = ORXDCAMSixteenBitUpShiftAmount(cam, r.mPixel16Shift);
  if (err == noErr) err = mySetIIDCCameraFmtModeFR(r.mFrameRate, &r);
  if (err != noErr) {
    fprintf(stderr, "mySetIIDCCameraFmtModeFR Failed %d 0x%d %f Err %d 0x%X\n", int(format), int(mode), fps,
            int(err), unsigned(err));
    return err;
  }
  UInt32 pixelFormat = 0, bits = 0;
  err = ORXDCAMGetFMRLTWHCB(cam, &r.mFormat, &r.mMode, &r.mFrameRate, &r.mLeft, &r.mTop, &r.mWidth, &r.mHeight,
                            &pixelFormat, &bits);
  if (err != noErr) {
    fprintf(stderr, "ORXDCAMGetFMRLTWHCB Err = %d 0x%X\n", int(err), unsigned(err));
    return err;
  }
  st(r.mPixelFormat, pixelFormat);
  st(r.mBitsPerPixel, bits);
  const size_t pixels = size_t(r.mWidth) * r.mHeight;

  // A buffer a failed start left behind is freed before its successor.
  if (r.mIsLongExposureCamera) {
    release(r.mSecondLongFrameBuffer);
    if (!(r.mSecondLongFrameBuffer = allocate(pixels + 16))) {
      fprintf(stderr, "mSecondLongFrameBuffer allocate failed Err = %d 0x%X\n", int(memFullErr), unsigned(memFullErr));
      return memFullErr;
    }
  }
  release(r.mFlipVerticalLinePtr);
  r.mFlipVerticalLinePtr = allocate(r.mBitsPerPixel == 8 ? size_t(r.mWidth) + 16 : size_t(r.mWidth) * 2 + 32);
  if (!r.mFlipVerticalLinePtr) {
    fprintf(stderr, "mFlipVerticalLinePtr allocate failed Err = %d 0x%X\n", int(memFullErr), unsigned(memFullErr));
    return memFullErr;
  }

  err = ORXDCAMAllocateReleaseIsochChannel(cam, 1);
  if (err == noErr) {
    r.mIsochChannelHeld = 1;
    err = ORXDCAMStartStopVideo(cam, 1);
    if (err == noErr) r.mVideoStreaming = 1;
  }
  if (err != noErr) {
    fprintf(stderr, "ORXDCAMAllocateReleaseIsochChannel Err = %d 0x%X\n", int(err), unsigned(err));
    return err;
  }

  if (r.mIsLongExposureCamera || r.mAbsoluteShutter) {
    r.mAutoShutterAvailable = 1;
  } else if (ORXDCAMSetPropertyValue(cam, kShutterFeature, 1, 1) == noErr) {
    r.mAutoShutterAvailable = 1;
    ORXDCAMSetPropertyValue(cam, kShutterFeature, 1, 0);
  } else {
    r.mAutoShutterAvailable = 0;
  }

  r.mTextOrigin = Point{40, 10};
  r.mFrameRect = Rect{0, 0, SInt16(r.mHeight), SInt16(r.mWidth)};

  release(r.mPreviewBuffer);
  release(r.mWorkBuffer);
  r.mWorkBuffer = allocate(pixels * 2 + 64);
  if (r.mWorkBuffer) r.mPreviewBuffer = allocate(pixels * 4 + 16);
  if (!r.mPreviewBuffer) return memFullErr;

  placeVideoWindow(r);
  r.mScrollOffset = Point{0, 0};
  r.mHScrollShown = 0;
  r.mVScrollShown = 0;
  if (r.mVideoWindow) {
    if ((err = myReSizePreviewWindowControls(r.mVideoWindow)) != noErr)
      fprintf(stderr, "myReSizePreviewWindowControls Err = %d 0x%X\n", int(err), unsigned(err));
    MoveWindow(r.mVideoWindow, r.mVideoWindowPos.h, r.mVideoWindowPos.v, true);
    ShowWindow(r.mVideoWindow);
  }

  // The new run's counters and flags, before the callback can see them:
  // the pipeline keeps some of them as its own from then on.
  st(r.mFrameTime, 0.0);
  st(r.mFrameInterval, 0.0);
  st(r.mFrameTimeBase, 0.0);
  // The stored region counts only when it lies inside the new frame.
  myUpdateSoftROIFlags(&r);
  st(r.mAutoExposurePending, UInt8(0));
  st(r.mAutoExposureFrameCount, UInt32(0));
  st(r.mSharpnessSum, 0.0);
  st(r.mSharpnessCount, UInt32(0));
  r.mZoomX = SInt16(r.mWidth / 2);
  r.mZoomY = SInt16(r.mHeight / 2);
  st(r.mSpotWhiteBalance, UInt8(0));

  if ((err = installDisplayTimer(r)) != noErr) return err;
  r.mCallbackAssigned = 1;
  auto assign = gMyVideoStartAssignCallback ? gMyVideoStartAssignCallback : ORXDCAMAssignCallback;
  if ((err = assign(cam, myDisplayCallback, &r)) != noErr) return err;
  st(r.mRunning, UInt8(1));
  return noErr;
}

}  // namespace

OSStatus myStartCamera(MyCameraWindowDataStruct* record, UInt32 format, UInt32 mode, double fps) {
  if (!record) return paramErr;
  MyCameraWindowDataStruct& r = *record;
  if (r.mIsLongExposureCamera) prepareLongExposureSensor(r);

  OSStatus err = startSteps(r, format, mode, fps);
  if (err == noErr) {
    setRunningControls(r);
    const OSStatus items = setRunningExposureItems(r);
    if (items == -1) return noErr;  // no exposure-base pop-up: nothing more to set
    err = items;
  }
  if (err != noErr) reportStartError(err);
  myMenuEventHandler(nullptr, nullptr, nullptr);
  return err;
}

OSStatus myStopCamera(MyCameraWindowDataStruct* record) {
  if (!record) return noErr;
  MyCameraWindowDataStruct& r = *record;
  MyDCAMCameraStruct* cam = r.mCameraHandle;

  // Frames still arrive until the callback is taken away: everything the
  // pipeline reads changes atomically up to there.
  st(r.mSpotWhiteBalance, UInt8(0));
  r.mPickBrightnessArea = 0;
  st(r.mGrabCancel, UInt8(0));
  st(r.mGrabWanted, UInt8(0));
  lowerIfUp(r.mGrabPending);
  lowerIfUp(r.mGrabsInFlight);
  if (ld(r.mFWHMOn)) myStartStopFWHMHFD(&r, 0);
  st(r.mGrabPending, SInt32(0));
  st(r.mGrabsInFlight, SInt32(0));

  myStopRecordMovie(&r);
  myRemoveLongExposureTimer(&r);
  removeDisplayTimer(r);

  if (r.mIsLongExposureCamera) {
    const struct {
      UInt32 offset;
      int saved;
    } kWriteBack[] = {{kAFESetupRegister, kSavedAFE}, {kCDSPulseRegister, kSavedCDS}, {kCCDPulseRegister, kSavedCCD}};
    for (const auto& w : kWriteBack)
      if (r.mSavedTSLRegisters[w.saved] != 0) ORXDCAMSetQuadlet(cam, 0, w.offset, 0, r.mSavedTSLRegisters[w.saved]);
  }

  // Whatever the start acquired is given back, whether it reached the
  // running state or not.
  const bool wasRunning = ld(r.mRunning) != 0;
  const bool acquired = wasRunning || r.mIsochChannelHeld || r.mVideoStreaming || r.mCallbackAssigned;
  st(r.mRunning, UInt8(0));
  bool delivering = false;
  if (r.mCallbackAssigned) {
    if (ORXDCAMAssignCallback(cam, nullptr, nullptr) == noErr)
      r.mCallbackAssigned = 0;
    else
      delivering = true;  // the buffers the callback uses stay
  }
  if (r.mVideoStreaming) {
    ORXDCAMResumePauseVideo(cam, 1);
    ORXDCAMStartStopVideo(cam, 0);
    r.mVideoStreaming = 0;
  }
  if (acquired && r.mVideoWindow) {
    Rect content{};
    if (GetWindowBounds(r.mVideoWindow, kWindowContentRgn, &content) == noErr)
      r.mVideoWindowPos = Point{content.top, content.left};
    HideWindow(r.mVideoWindow);
    r.mScrollOffset = Point{0, 0};
    r.mHScrollShown = 0;
    r.mVScrollShown = 0;
  }
  if (r.mIsochChannelHeld) {
    ORXDCAMAllocateReleaseIsochChannel(cam, 0);
    r.mIsochChannelHeld = 0;
  }
  if (!delivering) {
    release(r.mPreviewBuffer);
    release(r.mWorkBuffer);
    release(r.mFlipVerticalLinePtr);
  }

  // The grab buffer, once the pipeline has left it.
  if (myFinishGrab(&r))
    r.mGrabFinishPending = 0;
  else
    r.mGrabFinishPending = 1;

  if (!r.mAbsoluteShutter) ORXDCAMSetPropertyValue(cam, kShutterFeature, 1, 0);

  if (WindowRef cw = r.mControlWindow) {
    mySetControlTitleByKeyString(cw, FOUR_CHAR_CODE("STRT"), 0, "STARTVIDEOKEY");
    mySetControlTitleByKeyString(cw, FOUR_CHAR_CODE("GRFR"), 0, "GRABFRAMEKEY");
    for (OSType c : {FOUR_CHAR_CODE("GRFR"), FOUR_CHAR_CODE("GRAV"), FOUR_CHAR_CODE("GRSM"), FOUR_CHAR_CODE("GMOV"),
                     FOUR_CHAR_CODE("USHR"), FOUR_CHAR_CODE("GSHR"), FOUR_CHAR_CODE("UDKF"), FOUR_CHAR_CODE("GDKF"),
                     FOUR_CHAR_CODE("UBRF"), FOUR_CHAR_CODE("GBRF"), FOUR_CHAR_CODE("AWHB"), FOUR_CHAR_CODE("PBCR")})
      myEnableDisableControl(cw, c, 0, 0);
    myCheckUncheckControl(cw, FOUR_CHAR_CODE("SWHB"), 0, 0, 0);
    myEnableDisableControl(cw, FOUR_CHAR_CODE("FORT"), 0, 1);
    myEnableDisableControl(cw, FOUR_CHAR_CODE("VISZ"), 0, 1);

    ControlID id = {FOUR_CHAR_CODE("CCDB"), 0};
    ControlRef popup = nullptr;
    if (GetControlByID(cw, &id, &popup) == noErr) {
      const SInt32 v = GetControl32BitValue(popup);
      MenuRef menu = GetControlPopupMenuHandle(popup);
      const SInt32 n = menu ? CountMenuItems(menu) : 0;
      const SInt32 limit = SInt32(r.mExposureItemLimit);
      auto resetTo = [&](SInt32 item) {
        mySetBaseCCDExposureTime(&r, UInt32(item));
        myChangePopMenuControl(cw, FOUR_CHAR_CODE("CCDB"), item, 0, 1);
        myChangePopMenuControl(cw, FOUR_CHAR_CODE("CCDB"), v, 0, -1);
        SetControl32BitValue(popup, item);
      };
      if (r.mIsLongExposureCamera) {
        if (limit < v) resetTo(limit - 1);
        for (SInt32 i = limit + 1; i <= n; i++) myChangePopMenuControl(cw, FOUR_CHAR_CODE("CCDB"), i, -1, 0);
      } else if (r.mIsPointGrey || r.mShutterByAbsolute) {
        if (limit <= v) resetTo(limit - 1);
        for (SInt32 i = limit; i <= n; i++) myChangePopMenuControl(cw, FOUR_CHAR_CODE("CCDB"), i, -1, 0);
      }
    }
    myEnableDisableControl(cw, FOUR_CHAR_CODE("EXPO"), 0, ld(r.mLongExposure) == 0 ? 1 : 0);
    myUncheckAllPopMenuControl(cw, FOUR_CHAR_CODE("FHRP"));
    mySetControlValue(cw, FOUR_CHAR_CODE("FHRP"), 0, 1);
  }
  st(r.mHistogramValid, UInt32(0));
  st(r.mShowPeak, UInt8(0));
  myEraseHistoGramArea(&r);

  if (!delivering) release(r.mSecondLongFrameBuffer);
  myMenuEventHandler(nullptr, nullptr, nullptr);

  ORXDCAMSetQuadlet(cam, 0, kVideoPrepareRegister, 0, 0);
  gMyCameraSettleSleep(kRegisterSettleMicros);
  return noErr;
}
