// The camera control window's events and commands. Runs on the main thread;
// the bytes the toggles flip are read by the frame pipeline on the delivery
// thread and take effect from its next frame, so they are written atomically.
#include "app/ControlWindowCommands.h"

#include <cstdio>
#include <cstring>

#include "app/CameraPrefs.h"
#include "app/ExposureControls.h"
#include "app/FrameGrabs.h"
#include "app/FramePipeline.h"
#include "app/PleezWait.h"
#include "app/RecordAtomics.h"
#include "camera_driver/ORXDCAM.h"
#include "pixel/BayerPlanes.h"
#include "utilities/Controls.h"

using record_atomics::ld;
using record_atomics::st;

// Test pause point: runs while a display-format change has the frame callback
// taken away (null in the product).
void (*volatile gMyDisplayFormatChangePoint)(MyCameraWindowDataStruct* record) = nullptr;

void (*gMyControlWindowClose)(MyCameraWindowDataStruct* record) = myCloseCameraWindows;

namespace {

constexpr UInt32 kShutterFeature = 0x51C;

template <typename T>
void toggle(T& field) {
  st(field, T(ld(field) ? 0 : 1));
}

ControlRef findControl(WindowRef w, OSType signature) {
  const ControlID id = {signature, 0};
  ControlRef c = nullptr;
  return w && GetControlByID(w, &id, &c) == noErr ? c : nullptr;
}

SInt32 controlValue(WindowRef w, OSType signature) { return myGetControlValue(w, signature, 0); }

OSStatus windowEvent(MyCameraWindowDataStruct* r, EventRef event) {
  WindowRef w = r->mControlWindow;
  switch (GetEventKind(event)) {
    case kEventWindowGetMinimumSize:
    case kEventWindowGetMaximumSize: {
      const Point size = {GetEventKind(event) == kEventWindowGetMinimumSize ? kMyControlWindowShortHeight
                                                                            : kMyControlWindowFullHeight,
                          kMyControlWindowWidth};
      SetEventParameter(event, kEventParamDimensions, typeQDPoint, sizeof size, &size);
      return noErr;
    }
    case kEventWindowBoundsChanging: {
      UInt32 attributes = 0;
      GetEventParameter(event, kEventParamAttributes, typeUInt32, nullptr, sizeof attributes, nullptr, &attributes);
      if (!(attributes & kWindowBoundsChangeZoom)) return eventNotHandledErr;
      // The zoom box folds the window to the histogram and opens it again.
      Rect before;
      if (GetEventParameter(event, kEventParamOriginalBounds, typeQDRectangle, nullptr, sizeof before, nullptr,
                            &before) != noErr)
        GetWindowBounds(w, kWindowContentRgn, &before);
      Rect b = before;
      const bool full = before.bottom - before.top == kMyControlWindowFullHeight;
      b.bottom = SInt16(before.top + (full ? kMyControlWindowShortHeight : kMyControlWindowFullHeight));
      SetEventParameter(event, kEventParamCurrentBounds, typeQDRectangle, sizeof b, &b);
      return noErr;
    }
    case kEventWindowUpdate:
      BeginUpdate(w);
      HIViewSetNeedsDisplay(r->mHistogramView, true);
      EndUpdate(w);
      fprintf(stderr, "Control Window kEventWindowUpdate\n");
      return noErr;
    case kEventWindowDrawContent:
      HIViewSetNeedsDisplay(r->mHistogramView, true);
      fprintf(stderr, "Control Window kEventWindowDrawContent\n");
      return noErr;
    case kEventWindowClose:
      // The record and both windows are gone when this returns; the
      // standard handling that follows finds no window left to close.
      gMyControlWindowClose(r);
      return eventNotHandledErr;
  }
  return eventNotHandledErr;
}

// A calibration frame ('GDKF' dark, 'GBRF' flat): the exposure of the
// 'CCDB' choice, the capture, then the frame in use when it was made.
OSStatus captureCalibration(MyCameraWindowDataStruct* r, UInt32 mode, UInt8& available, UInt8& use,
                            OSType useControl) {
  WindowRef w = r->mControlWindow;
  OSStatus err = myToggleExposureTimes(r, UInt32(controlValue(w, FOUR_CHAR_CODE("CCDB"))));
  if (err != noErr) return err;
  myDoPleezWait(r, mode);
  if (ld(available)) st(use, UInt8(1));
  myCheckUncheckControl(w, useControl, 0, ld(available) ? 1 : 0, ld(use) ? 1 : 0);
  return noErr;
}

void leaveSpotMode(MyCameraWindowDataStruct* r) {
  if (ld(r->mSpotWhiteBalance)) {
    st(r->mSpotWhiteBalance, UInt8(0));
    SetThemeCursor(kThemeArrowCursor);
  }
}

OSStatus autoExposure(MyCameraWindowDataStruct* r) {
  WindowRef w = r->mControlWindow;
  // The application's own measurement starts from nothing again.
  st(r->mAutoExposureReady, UInt8(0));
  st(r->mAutoExposurePending, UInt8(0));
  st(r->mAutoExposureFrameCount, UInt32(0));
  st(r->mAutoExposureTarget, 0.0f);
  if (!r->mAbsoluteShutter) {
    const UInt32 on = ld(r->mAutoExposureOn) == 0 ? 1 : 0;
    const OSStatus err = ORXDCAMSetPropertyValue(r->mCameraHandle, kShutterFeature, 1, on);
    if (err != noErr) {
      st(r->mAutoExposureOn, UInt8(1));
      myEnableDisableControl(w, FOUR_CHAR_CODE("AUEX"), 0, 0);
      fprintf(stderr, "----- Skyloom ------ Auto Exposure Integer failed Err# %d 0x%X\r", int(err), unsigned(err));
      return noErr;
    }
    st(r->mAutoExposurePending, UInt8(1));
    fprintf(stderr, "----- Skyloom -----Auto Exposure Integer is %d\r", int(on));
  }
  toggle(r->mAutoExposureOn);
  const bool off = ld(r->mAutoExposureOn) == 0;
  myEnableDisableControl(w, FOUR_CHAR_CODE("EXPO"), 0, off ? 1 : 0);
  myEnableDisableControl(w, FOUR_CHAR_CODE("EXPO"), 2, off ? 1 : 0);
  myEnableDisableControl(w, FOUR_CHAR_CODE("CCDB"), 0, off && ld(r->mRecording) == 0 ? 1 : 0);
  return noErr;
}

OSStatus frameRate(MyCameraWindowDataStruct* r) {
  WindowRef w = r->mControlWindow;
  const double fps = myRateItemFramesPerSecond(UInt32(controlValue(w, FOUR_CHAR_CODE("FRAM"))));
  r->mFrameRate = fps;
  OSStatus err = mySetIIDCCameraFmtModeFR(fps, r);
  if (err != noErr) return err;
  if (r->mIsLongExposureCamera) {
    char text[64];
    snprintf(text, sizeof text, "%5.2f ms",
             double(float(myCalcTSLV1501SliderValToExposTimeMS(r->mShutterValue, r->mExposureRateItem))));
    myChangeControlTxt(w, FOUR_CHAR_CODE("EXPO"), 1, text);
    return noErr;
  }
  myAdjustFor50HzFrameRate(r);
  if (r->mIsPointGrey || r->mShutterByAbsolute) {
    err = myGetIIDCMinMaxExposureTime(r);
    if (err != noErr) {
      SysBeep(1);
      return err;
    }
    if (ControlRef expo = findControl(w, FOUR_CHAR_CODE("EXPO"))) myLiveDCamControlProc(expo, 0);
  }
  return noErr;
}

OSStatus videoSize(MyCameraWindowDataStruct* r) {
  WindowRef w = r->mControlWindow;
  r->mVideoSizeIndex = UInt32(controlValue(w, FOUR_CHAR_CODE("VISZ")) - 1);
  OSStatus err = mySetCameraFMRByIndexItem(r, SInt32(r->mVideoSizeIndex));
  if (err != noErr) return err;
  // Calibration frames of the old size no longer fit.
  st(r->mUseDarkFrame, UInt8(0));
  st(r->mDarkFrameAvailable, UInt8(0));
  st(r->mUseFlatFrame, UInt8(0));
  st(r->mFlatFrameAvailable, UInt8(0));
  myCheckUncheckControl(w, FOUR_CHAR_CODE("UDKF"), 0, 0, 0);
  myCheckUncheckControl(w, FOUR_CHAR_CODE("UBRF"), 0, 0, 0);
  st(r->mStretchRequest, UInt8(3));
  myEnableDisableControl(w, FOUR_CHAR_CODE("EXPD"), 0, 1);
  myUncheckAllPopMenuControl(w, FOUR_CHAR_CODE("EXPD"));
  myChangePopMenuControl(w, FOUR_CHAR_CODE("EXPD"), SInt32(ld(r->mHistogramExpand)) + 1, 1, 1);
  return noErr;
}

void displayFormat(MyCameraWindowDataStruct* r) {
  const UInt32 item = UInt32(controlValue(r->mControlWindow, FOUR_CHAR_CODE("FORT")));
  // The delivery thread never sees the code and the colour byte half changed:
  // the callback is taken away around the change.
  const bool running = ld(r->mRunning) != 0;
  if (running) {
    st(r->mRunning, UInt8(0));
    ORXDCAMAssignCallback(r->mCameraHandle, nullptr, nullptr);
    ORXDCAMResumePauseVideo(r->mCameraHandle, 1);
  }
  if (auto point = gMyDisplayFormatChangePoint) point(r);
  // Items outside the pop-up's 1-8 leave the choice as it was: the item
  // indexes tables elsewhere.
  if (item >= 1 && item <= 8) {
    st(r->mDisplayFormatItem, item);
    if (item == 2 || item == 4) {
      st(r->mDisplayFormat, UInt32(myDisplayFormatFromBayerFormat(1, r->mBayerFormat)));
      st(r->mColourDisplay, UInt8(1));
    } else if (item == 1) {
      st(r->mDisplayFormat, UInt32(r->mColourSensor ? myDisplayFormatFromBayerFormat(0, r->mBayerFormat)
                                                    : FOUR_CHAR_CODE("ARGB")));
      st(r->mColourDisplay, UInt8(0));
    } else {
      st(r->mDisplayFormat, UInt32(FOUR_CHAR_CODE("ARGB")));
      st(r->mColourDisplay, UInt8(0));
    }
  }
  if (running) {
    st(r->mRunning, UInt8(1));
    ORXDCAMAssignCallback(r->mCameraHandle, myDisplayCallback, r);
    ORXDCAMResumePauseVideo(r->mCameraHandle, 1);
  }
  myRefreshControls(r);
  myRefreshControlsForMono_ColorChanges(r);
}

void invert(MyCameraWindowDataStruct* r) {
  WindowRef w = r->mControlWindow;
  toggle(r->mInvert);
  if (ld(r->mLongExposure) != 0 || ld(r->mRunning) == 0) return;
  const OSType awhb = FOUR_CHAR_CODE("AWHB"), swhb = FOUR_CHAR_CODE("SWHB"), pbcr = FOUR_CHAR_CODE("PBCR");
  if (ld(r->mInvert)) {
    // White balance measures the camera's colours, not the inverted ones.
    myEnableDisableControl(w, awhb, 0, 0);
    myCheckUncheckControl(w, swhb, 0, 0, 0);
    myEnableDisableControl(w, pbcr, 0, 0);
    st(r->mSpotWhiteBalance, UInt8(0));
    SetThemeCursor(kThemeArrowCursor);
  } else if (ld(r->mColourDisplay)) {
    myEnableDisableControl(w, awhb, 0, 1);
    myEnableDisableControl(w, swhb, 0, ld(r->mRunning) ? 1 : 0);
    myEnableDisableControl(w, pbcr, 0, ld(r->mRunning) ? 1 : 0);
  }
}

void fwhmChoice(MyCameraWindowDataStruct* r) {
  const SInt32 item = controlValue(r->mControlWindow, FOUR_CHAR_CODE("FHRP"));
  if (item < 1 || item > 3) return;
  const bool on = ld(r->mFWHMOn) != 0;
  if (item == 3) {
    st(r->mShowPeak, UInt8(0));
    if (!on) myStartStopFWHMHFD(r, 1);
    return;
  }
  if (on) myStartStopFWHMHFD(r, 0);
  st(r->mShowPeak, UInt8(item == 2 ? 1 : 0));
}

OSStatus closeFocusWindow() {
  EventRef e = nullptr;
  OSStatus err = CreateEvent(nullptr, kEventClassWindow, kEventWindowClose, GetCurrentEventTime(), 0, &e);
  if (err != noErr) {
    SysBeep(1);
    return err;
  }
  WindowRef focus = GetUserFocusWindow();
  SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof focus, &focus);
  err = SendEventToEventTarget(e, GetWindowEventTarget(focus));
  if (err != noErr) SysBeep(1);
  ReleaseEvent(e);
  return err;
}

OSStatus command(MyCameraWindowDataStruct* r, UInt32 id) {
  WindowRef w = r->mControlWindow;
  switch (id) {
    case FOUR_CHAR_CODE("STRT"):
      if (ld(r->mRunning)) return myStopCamera(r);
      return myStartCamera(r, r->mFormat, r->mMode, r->mFrameRate);
    case FOUR_CHAR_CODE("GRFR"):
      if (ld(r->mGrabPending) != 0) {
        st(r->mGrabCancel, UInt8(1));
        return noErr;
      }
      return mySaveAFrameToDisk(r, r->mTriggerItem == 0 ? 1 : 0);
    case FOUR_CHAR_CODE("GMOV"):
      if (ld(r->mRecording)) {
        myStopRecordMovie(r);
        return noErr;
      }
      return mySetUpRecordMovie(r);
    case FOUR_CHAR_CODE("GRSM"):
      myDoPleezWait(r, r->mImageAlignMode ? 10 : 8);
      return noErr;
    case FOUR_CHAR_CODE("GRAV"):
      myDoPleezWait(r, r->mImageAlignMode ? 9 : 7);
      return noErr;
    case FOUR_CHAR_CODE("GSHR"):
      myDoPleezWait(r, 1);
      if (r->mSharpnessAvailable) st(r->mRejectBySharpness, UInt8(1));
      myCheckUncheckControl(w, FOUR_CHAR_CODE("USHR"), 0, r->mSharpnessAvailable ? 1 : 0,
                            ld(r->mRejectBySharpness) ? 1 : 0);
      st(r->mSharpnessCount, UInt32(0));
      st(r->mSharpnessSum, 0.0);
      st(r->mSharpness, 0.0);
      return noErr;
    case FOUR_CHAR_CODE("GDKF"):
      return captureCalibration(r, 2, r->mDarkFrameAvailable, r->mUseDarkFrame, FOUR_CHAR_CODE("UDKF"));
    case FOUR_CHAR_CODE("GBRF"):
      return captureCalibration(r, 3, r->mFlatFrameAvailable, r->mUseFlatFrame, FOUR_CHAR_CODE("UBRF"));
    case FOUR_CHAR_CODE("UDKF"):
      toggle(r->mUseDarkFrame);
      return noErr;
    case FOUR_CHAR_CODE("UBRF"):
      toggle(r->mUseFlatFrame);
      return noErr;
    case FOUR_CHAR_CODE("USHR"):
      toggle(r->mRejectBySharpness);
      return noErr;
    case FOUR_CHAR_CODE("AWHB"):
      leaveSpotMode(r);
      myDoPleezWait(r, 4);
      return noErr;
    case FOUR_CHAR_CODE("SWHB"):
      toggle(r->mSpotWhiteBalance);
      if (ld(r->mSpotWhiteBalance)) {
        // The next click on the preview picks the balance spot.
        SetThemeCursor(kThemeCrossCursor);
        SelectWindow(r->mVideoWindow);
      } else {
        SetThemeCursor(kThemeArrowCursor);
      }
      myCheckUncheckControl(w, FOUR_CHAR_CODE("SWHB"), 0, 1, ld(r->mSpotWhiteBalance) ? 1 : 0);
      return noErr;
    case FOUR_CHAR_CODE("PBCR"): {
      static const unsigned char prompt[] = "\x17Select a Balance Color:";
      RGBColor chosen = r->mBalanceColour;
      if (GetColor(Point{-1, -1}, prompt, &r->mBalanceColour, &chosen)) r->mBalanceColour = chosen;
      return noErr;
    }
    case FOUR_CHAR_CODE("IVFR"):
      invert(r);
      return noErr;
    case FOUR_CHAR_CODE("FLIH"):
      toggle(r->mFlipHorizontal);
      return noErr;
    case FOUR_CHAR_CODE("FLIV"):
      toggle(r->mFlipVertical);
      return noErr;
    case FOUR_CHAR_CODE("SHSA"):
      toggle(r->mShowSaturated);
      return noErr;
    case FOUR_CHAR_CODE("RESH"):
      toggle(r->mShowReticle);
      return noErr;
    case FOUR_CHAR_CODE("FHRP"):
      fwhmChoice(r);
      return noErr;
    case FOUR_CHAR_CODE("EXPD"):
      if (!findControl(w, FOUR_CHAR_CODE("EXPD"))) {
        SysBeep(1);
        return noErr;
      }
      st(r->mHistogramExpand, UInt8(controlValue(w, FOUR_CHAR_CODE("EXPD")) - 1));
      st(r->mStretchRequest, UInt8(3));
      return noErr;
    case FOUR_CHAR_CODE("HIOF"):
      st(r->mHistogramOption, UInt32(controlValue(w, FOUR_CHAR_CODE("HIOF")) - 1));
      if (ld(r->mHistogramOption) == 0) HIViewSetNeedsDisplay(r->mHistogramView, true);
      return noErr;
    case FOUR_CHAR_CODE("CCDB"):
      return myToggleExposureTimes(r, UInt32(controlValue(w, FOUR_CHAR_CODE("CCDB"))));
    case FOUR_CHAR_CODE("AUEX"):
      return autoExposure(r);
    case FOUR_CHAR_CODE("FRAM"):
      return frameRate(r);
    case FOUR_CHAR_CODE("VISZ"):
      return videoSize(r);
    case FOUR_CHAR_CODE("MOFR"): {
      const UInt32 item = UInt32(controlValue(w, FOUR_CHAR_CODE("MOFR")));
      r->mMovieFrameItem = item;
      st(r->mMovieFrameInterval, myMovieFrameIntervalForItem(item));
      return noErr;
    }
    case FOUR_CHAR_CODE("FORT"):
      displayFormat(r);
      return noErr;
    case FOUR_CHAR_CODE("clos"):
      return closeFocusWindow();
  }
  return eventNotHandledErr;
}

}  // namespace

OSStatus myControlWindowEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* r = static_cast<MyCameraWindowDataStruct*>(userData);
  if (r == nullptr || r->mKind != kMyCameraWindowDataKind) return eventNotHandledErr;
  const EventClass cls = GetEventClass(event);
  if (cls == kEventClassWindow) return windowEvent(r, event);
  if (cls != kEventClassCommand || GetEventKind(event) != kEventCommandProcess) return eventNotHandledErr;
  HICommand cmd;
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr, &cmd) != noErr)
    return eventNotHandledErr;
  return command(r, cmd.commandID);
}
