// The display timer: five steps a tick on the main thread (see PleezWait.h).
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "app/CameraMenus.h"
#include "app/FrameGrabs.h"
#include "app/FramePipeline.h"
#include "app/PleezWait.h"
#include "app/PreviewDrawing.h"
#include "app/RecordAtomics.h"
#include "media/SingleFrameSave.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

OSStatus (*volatile gMySaveGrabbedFrame)(MyDCAMCameraStruct*, const void*, UInt32, UInt32, UInt32, FSSpec, OSType,
                                         UInt32) = nullptr;

namespace {

using record_atomics::ld;
using record_atomics::st;
using record_atomics::lowerIfUp;

void pleezWaitStep(MyCameraWindowDataStruct& r) {
  WindowRef w = r.mPleezWaitWindow;
  if (ld(r.mPleezWaitActive) != 1 || w == nullptr) return;
  if (ld(r.mPleezWaitError) != 0 || ld(r.mPleezWaitDone) == 1) {
    QuitAppModalLoopForWindow(w);
    return;
  }
  char text[128];
  const UInt32 count = std::atomic_ref<UInt32>(r.mTrackSampleCount).load(std::memory_order_acquire);
  switch (r.mPleezWaitMode) {
    case 6:
      if (ld(r.mTrackingAnalysisOn) == 1 && count != 0) {
        std::snprintf(text, sizeof(text), "T: %.1f  X:%.1f Y:%.1f", double(ld(r.mBrightnessElapsed)),
                      double(ld(r.mTrackingArea[2]) - ld(r.mTrackingArea[0])),
                      double(ld(r.mTrackingArea[1]) - ld(r.mTrackingArea[3])));
        myChangeControlTxt(w, FOUR_CHAR_CODE("STTX"), 0, text);
      }
      break;
    case 9:
    case 10:
      std::snprintf(text, sizeof(text), "# Frames: %d", int(ld(r.mAlignedFrameCount)));
      myChangeControlTxt(w, FOUR_CHAR_CODE("STTX"), 0, text);
      myUpdatePleezWaitWindow(w, ld(r.mPleezWaitProgress));
      break;
    case 11:
      if (ld(r.mBrightnessMonitorOn) == 1 && count != 0) {
        std::snprintf(text, sizeof(text), "T: %.3f  B:%.0f #:%d", double(ld(r.mBrightnessElapsed)),
                      double(ld(r.mLastBrightness)), int(count));
        myChangeControlTxt(w, FOUR_CHAR_CODE("STTX"), 0, text);
      }
      break;
    default:
      myUpdatePleezWaitWindow(w, ld(r.mPleezWaitProgress));
      break;
  }
}

void countdownStep(MyCameraWindowDataStruct& r) {
  if (ld(r.mLongExposure) != 1 || !(r.mExposureMS > 2000.0)) return;
  const UInt64 now = SkyloomMicroseconds();
  const UInt64 last = ld(r.mCountdownTime);
  if (now < last || double(now - last) * 0.001 < 1000.0) return;
  st(r.mCountdownTime, now);
  const UInt64 start = ld(r.mExposureStartTime);
  const double elapsed = (double(now) - double(start)) * 0.001;
  const double remaining = (r.mExposureMS - elapsed) * 0.001 + 0.5;
  if (remaining > 0.0 && r.mVideoWindow) {
    char title[64];
    std::snprintf(title, sizeof(title), "Next Frame in %.0f seconds", remaining);
    mySetCWindowTitle(r.mVideoWindow, title);
  }
}

void recordingEndStep(MyCameraWindowDataStruct& r) {
  if (ld(r.mRecording) != 1) return;
  if (ld(r.mRecordStopRequested) == 1 || ld(r.mRecordStatus) != 0) {
    SysBeep(1);
    myStopRecordMovie(&r);
  } else if (r.mRecordFrameLimit != 0 && ld(r.mRecordFrameCounter) == 0) {
    myStopRecordMovie(&r);
  }
}

}  // namespace

// The grab controls back as they are between grabs.
void myRestoreGrabControls(MyCameraWindowDataStruct* record) {
  MyCameraWindowDataStruct& r = *record;
  if (WindowRef cw = r.mControlWindow) {
    mySetControlTitleByKeyString(cw, FOUR_CHAR_CODE("GRFR"), 0, "GRABFRAMEKEY");
    for (OSType s : {FOUR_CHAR_CODE("GMOV"), FOUR_CHAR_CODE("GRFR"), FOUR_CHAR_CODE("GRAV"), FOUR_CHAR_CODE("GRSM")})
      myEnableDisableControl(cw, s, 0, r.mGrabControlsEnabled);
  }
  if (MenuRef camera = GetMenuRef(kMyCameraMenuID)) {
    EnableMenuItem(camera, 15);
    EnableMenuItem(camera, 17);
    if (r.mPGRLongExposureOn != 0 && ld(r.mLongExposure) != 0)
      DisableMenuItem(camera, 16);
    else
      EnableMenuItem(camera, 16);
  }
}

namespace {

// The buffer of a finished grab freed once the pipeline has left it.
void finishGrab(MyCameraWindowDataStruct& r) {
  if (myFinishGrab(&r)) {
    r.mGrabFinishPending = 0;
    myRestoreGrabControls(&r);
  } else {
    r.mGrabFinishPending = 1;  // still written: freed at a later tick
  }
}

void grabStep(MyCameraWindowDataStruct& r) {
  if (r.mGrabFinishPending == 1 && ld(r.mGrabPending) == 0) finishGrab(r);
  if (ld(r.mGrabPending) != 1) return;
  bool complete = ld(r.mGrabWanted) != 1 || ld(r.mGrabCancel) == 1;
  if (!complete && ld(r.mGrabTimeoutOn) == 1) {
    const UInt64 now = SkyloomMicroseconds();
    const UInt64 asked = ld(r.mGrabRequestTime);
    const double elapsed = now > asked ? double(now - asked) * 0.001 : 0.0;
    const double limit = ld(r.mLongExposure) == 1 ? r.mExposureMS * 1.25 : 5000.0;
    complete = elapsed > limit;
  }
  if (!complete) return;
  // No frame may go into the buffer from here on; one being copied is waited
  // for, and while it is still being written the grab completes at a later tick.
  st(r.mGrabWanted, UInt8(0));
  if (!myWaitForFrameWork(&r.mGrabBufferBusy, 5000, 1000)) return;
  lowerIfUp(r.mGrabPending);
  lowerIfUp(r.mGrabsInFlight);
  const bool cancelled = ld(r.mGrabCancel) == 1;
  if (myGrabShouldSave(&r)) {
    const UInt32 depth = r.mBitsPerPixel == 12 ? 16 : r.mBitsPerPixel;
    auto save = gMySaveGrabbedFrame;
    if (!save) save = ORXDCAMSaveRAWFrametoDisk;
    const OSStatus err = save(r.mCameraHandle, r.mGrabBuffer, r.mWidth, r.mHeight, depth,
                                                   r.mFrameFileSpec, r.mSaveFileType, myGrabSavePixelFormat(&r));
    if (err == noErr) {
      myDoFileFinnishUp(&r, kMyCaptureFrame, 1);
    } else {
      char text[160];
      std::snprintf(text, sizeof(text), "ORXDCAMSaveRAWFrametoDisk Failed with Err = %d 0x%X - Frame not saved",
                    int(err), unsigned(err));
      myPostAlert("", text);
    }
  } else if (!cancelled) {
    myPostAlertByKeyString("HWERR", "GRABTIMEOUT");
  }
  if (r.mTriggerItem == 2) {
    // Re-armed for the next trigger: the same buffer, the next file name.
    myFillInFSSpec(&r);
    st(r.mGrabRequestTime, SkyloomMicroseconds());
    st(r.mGrabFilled, UInt8(0));
    st(r.mGrabCancel, UInt8(0));
    IncrementAtomic(&r.mGrabPending);
    st(r.mGrabWanted, UInt8(1));
    return;
  }
  finishGrab(r);
}

void previewStep(MyCameraWindowDataStruct& r) {
  IncrementAtomic(&r.mDisplayBusy);
  const bool longExposure = ld(r.mLongExposure) == 1;
  if (ld(r.mPreviewReady) != 0 && ld(r.mPreviewConverting) == 0) {
    if (longExposure) lowerIfUp(r.mLongExpShowPending);
    myDrawVideoPreview(&r, r.mPreviewBuffer);
    lowerIfUp(r.mPreviewReady);
  } else if (longExposure) {
    lowerIfUp(r.mLongExpShowPending);
  }
  DecrementAtomic(&r.mDisplayBusy);
}

}  // namespace

UInt32 myGrabSavePixelFormat(const MyCameraWindowDataStruct* r) {
  UInt32 code = r->mDisplayFormat;
  if (code != FOUR_CHAR_CODE("ARGB") && r->mColourDisplay == 1 && r->mHighQualityBayer == 1) {
    switch (r->mBayerFormat) {
      case 1: code = FOUR_CHAR_CODE("bhRG"); break;
      case 2: code = FOUR_CHAR_CODE("bhBG"); break;
      case 3: code = FOUR_CHAR_CODE("bhGR"); break;
      case 4: code = FOUR_CHAR_CODE("bhGB"); break;
      default: break;
    }
  }
  return code;
}

void myDisplayFrameTimer(EventLoopTimerRef, void* inUserData) {
  if (inUserData == nullptr) return;
  auto& r = *static_cast<MyCameraWindowDataStruct*>(inUserData);
  pleezWaitStep(r);
  countdownStep(r);
  recordingEndStep(r);
  grabStep(r);
  previewStep(r);
}
