// The exposure paths that start or stop the long-exposure thread.
#include <stdlib.h>

#include <atomic>
#include <cstdio>

#include "app/ExposureControls.h"
#include "app/ExposureLongPaths.h"
#include "app/LongExposure.h"
#include "camera_driver/ORXDCAM.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

namespace {

constexpr OSType kExpo = FOUR_CHAR_CODE("EXPO");
constexpr OSType kRate = FOUR_CHAR_CODE("FRAM");
constexpr OSType kAutoExposure = FOUR_CHAR_CODE("AUEX");
constexpr UInt32 kExposureFeature = 0x504;
constexpr UInt32 kIris = 0x524;

void Enable(MyCameraWindowDataStruct* r, OSType signature, SInt32 id, bool on) {
  if (r->mControlWindow) myEnableDisableControl(r->mControlWindow, signature, id, on ? 1 : 0);
}

void WhiteBalanceCommands(MyCameraWindowDataStruct* r, bool allowed) {
  const bool on = allowed && r->mColourDisplay == 1 && r->mInvert == 0 && r->mRunning;
  Enable(r, FOUR_CHAR_CODE("AWHB"), 0, on);
  Enable(r, FOUR_CHAR_CODE("SWHB"), 0, on);
  Enable(r, FOUR_CHAR_CODE("PBCR"), 0, on);
}

void StartTimes(MyCameraWindowDataStruct* r) {
  const UInt64 now = SkyloomMicroseconds();
  std::atomic_ref<UInt64>(r->mExposureStartTime).store(now);
  std::atomic_ref<UInt64>(r->mCountdownTime).store(now);
}

// Bit 0x00010000 of 0xF20: set while frames are read out.
void ReadOutBit(MyCameraWindowDataStruct* r, bool on) {
  UInt32 v = 0;
  if (ORXDCAMGetQuadlet(r->mCameraHandle, 0, 0xF20, 0, &v) != noErr) return;
  v = on ? v | 0x00010000u : v & ~0x00010000u;
  ORXDCAMSetQuadlet(r->mCameraHandle, 0, 0xF20, 0, v);
}

// Leaving a long exposure of the long-exposure kind.
void LeaveLongExposure(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* h = r->mCameraHandle;
  std::atomic_ref<UInt32>(r->mLongExposure).fetch_sub(1);
  myRemoveLongExposureTimer(r);
  if (r->mLongExposureMenu == 1) ORXDCAMSetQuadlet(h, 0, 0x610, 0, 1);
  ORXDCAMSetPropertyValue(h, kExposureFeature, 0, r->mSavedTSLExposure);
  ReadOutBit(r, true);
  ORXDCAMSetQuadlet(h, 0, 0x614, 0, 0x80000000u);
  if (r->mRunning) ORXDCAMStartStopVideo(h, 0);
  Enable(r, kRate, 0, true);
  Enable(r, kExpo, 0, true);
  free(r->mLongExposureFrame);
  r->mLongExposureFrame = nullptr;
  mySetIIDCCameraFmtModeFR(r->mFrameRate, r);
  if (r->mRunning) {
    ORXDCAMStartStopVideo(h, 1);
    ORXDCAMResumePauseVideo(h, 1);
  }
  if (r->mVideoWindow) mySetCWindowTitleByKeyString(r->mVideoWindow, "VIDEOPREVIEWKEY");
  gMyCameraSettleSleep(40000);
  WhiteBalanceCommands(r, true);
}

}  // namespace

OSStatus myLongExposureKindRateItem(MyCameraWindowDataStruct* r, UInt32 item) {
  Enable(r, kAutoExposure, 0, r->mAutoShutterAvailable);
  if (std::atomic_ref<UInt32>(r->mLongExposure).load() == 1) LeaveLongExposure(r);
  if (r->mLongExposureMenu == 1) {
    mySetTSLV1501STAPins(r, 2, 0);
    mySetTSLV1501STAPins(r, 0, 0);
  }
  UInt32 code;
  if (item >= 1 && item <= 4) {
    code = 4;
    r->mFrameRate = 30.0;
  } else if (item == 5) {
    code = 3;
    if (r->mFrameRate > 15.0) r->mFrameRate = 15.0;
  } else {
    code = 2;
    if (r->mFrameRate > 7.5) r->mFrameRate = 7.5;
  }
  r->mExposureRateItem = code;
  if (r->mFrameRate > 0.0) r->mExposureMS = 1000.0 / r->mFrameRate;
  ORXDCAMSetPropertyValue(r->mCameraHandle, kIris, 0, code);
  mySetFMRMenus(r);
  OSStatus err = mySetIIDCCameraFmtModeFR(r->mFrameRate, r);
  char text[64];
  snprintf(text, sizeof text, "%5.2f ms",
           double(float(myCalcTSLV1501SliderValToExposTimeMS(r->mShutterValue, code))));
  if (r->mControlWindow) myChangeControlTxt(r->mControlWindow, kExpo, 1, text);
  return err;
}

OSStatus myLongExposureKindLongItem(MyCameraWindowDataStruct* r, UInt32 item) {
  MyDCAMCameraStruct* h = r->mCameraHandle;
  r->mAutoExposureOn = 0;
  if (r->mControlWindow) myCheckUncheckControl(r->mControlWindow, kAutoExposure, 0, 0, 0);
  // A running cycle reads the time at its next check.
  std::atomic_ref<double>(r->mExposureMS).store(myLongExposureKindExposureMS(r, item));
  if (std::atomic_ref<UInt32>(r->mLongExposure).load() != 0) {
    // The running cycle takes the new time at its next check.
    Enable(r, kRate, 0, false);
    Enable(r, kExpo, 0, false);
    return noErr;
  }

  if (r->mRunning) ORXDCAMStartStopVideo(h, 0);
  UInt32 saved = 0;
  if (ORXDCAMGetPropertyValue(h, kExposureFeature, 0, &saved) == noErr) r->mSavedTSLExposure = saved;
  ORXDCAMSetPropertyValue(h, kExposureFeature, 0, 0);
  std::atomic_ref<SInt32>(r->mLongExpReadout).store(0);
  std::atomic_ref<UInt32>(r->mLongExposure).store(0);
  std::atomic_ref<SInt32>(r->mLongExpFrameDone).store(0);
  std::atomic_ref<SInt32>(r->mLongExpShowPending).store(0);
  if (!r->mLongExposureFrame) {
    r->mLongExposureFrame = malloc(size_t(r->mWidth) * r->mHeight * 4 + 16);
    if (!r->mLongExposureFrame) {
      SysBeep(1);
      fprintf(stderr, "Longish Exposure mLastLongExposARGB32FramePtr Creation failed - Not Enough RAM\n");
    }
  }
  r->mPairSum = 0;
  r->mPairCount = 0;

  OSStatus err;
  if (r->mLongExposureMenu == 1) {
    if (r->mExposureMS <= 267.0) {
      ORXDCAMSetPropertyValue(h, kIris, 0, 1);
      mySetIIDCCameraFmtModeFR(3.75, r);
      ORXDCAMStartStopVideo(h, 1);
      err = mySetTSLV1501STAPins(r, 2, 1);
      if (err != noErr)
        fprintf(stderr, "mySetTSLV1501BaseCCDExposureTime X_SHUTTER_PIN true fail %d, 0x%X\n", int(err), unsigned(err));
      StartTimes(r);
    } else {
      ORXDCAMSetPropertyValue(h, kIris, 0, 4);
      mySetIIDCCameraFmtModeFR(30.0, r);
      ORXDCAMStartStopVideo(h, 1);
      ORXDCAMResumePauseVideo(h, 0);
      ORXDCAMSetQuadlet(h, 0, 0x614, 0, 0);
      myWaitForRegionPulseonSTA1(r, 0);
      OSStatus pin = mySetTSLV1501STAPins(r, 2, 1);
      if (pin != noErr)
        fprintf(stderr, "mySetTSLV1501BaseCCDExposureTime X_SHUTTER_PIN true fail %d, 0x%X\n", int(pin), unsigned(pin));
      err = mySetTSLV1501STAPins(r, 0, 1);
      if (err != noErr) {
        fprintf(stderr, "mySetTSLV1501BaseCCDExposureTime X_SGTRIGGER_PIN true fail %d, 0x%X\n", int(err),
                unsigned(err));
      } else {
        ReadOutBit(r, false);
        WhiteBalanceCommands(r, false);
        StartTimes(r);
        err = myInstallLongExposureTimer(r, r->mExposureMS * 0.05);
      }
    }
  } else {
    OSStatus e = ORXDCAMSetPropertyValue(h, kIris, 0, 4);
    if (e != noErr) fprintf(stderr, "mySetTSLV1501BaseCCDExposureTime ORX_IRI_REG 4 fail %d, 0x%X\n", int(e), unsigned(e));
    mySetIIDCCameraFmtModeFR(30.0, r);
    ORXDCAMStartStopVideo(h, 1);
    ORXDCAMResumePauseVideo(h, 0);
    e = ORXDCAMSetQuadlet(h, 0, 0x614, 0, 0);
    if (e != noErr) fprintf(stderr, "mySetTSLV1501BaseCCDExposureTime ISO_EN Stop fail %d, 0x%X\n", int(e), unsigned(e));
    err = ORXDCAMSetPropertyValue(h, kIris, 0, 1);
    if (err != noErr) {
      fprintf(stderr, "mySetTSLV1501BaseCCDExposureTime ORX_IRI_REG 1 fail %d, 0x%X\n", int(err), unsigned(err));
    } else {
      WhiteBalanceCommands(r, false);
      StartTimes(r);
      err = myInstallLongExposureTimer(r, 133.0);
    }
  }
  Enable(r, kRate, 0, false);
  Enable(r, kExpo, 0, false);
  std::atomic_ref<UInt32>(r->mLongExposure).store(err == noErr ? 1 : 0);
  return err;
}

OSStatus myPointGreyTriggerLongExposure(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* h = r->mCameraHandle;
  // A failure goes back to frame-rate exposures: trigger frames off, no long
  // exposure, video running; the camera is never left waiting for a
  // trigger that nothing will end.
  auto rollBack = [&](OSStatus err) {
    myPGRStartStopTriggerFrames(h, 0, r->mTrigger4Pin);
    std::atomic_ref<UInt32>(r->mLongExposure).store(0);
    ORXDCAMStartStopVideo(h, 1);
    fprintf(stderr, "mySetIIDC_ExposureTime  failed %d\n", int(err));
    return err;
  };
  gMyCameraSettleSleep(100000);
  OSStatus err = myPGRStartStopTriggerFrames(h, 1, r->mTrigger4Pin);
  gMyCameraSettleSleep(100000);
  if (err == noErr) err = ORXDCAMStartStopVideo(h, 1);
  gMyCameraSettleSleep(100000);
  if (err != noErr) {
    fprintf(stderr, "myPGRStartStopTriggerFrames failed %d\n", int(err));
    return rollBack(err);
  }
  std::atomic_ref<UInt32>(r->mLongExposure).store(1);
  std::atomic_ref<SInt32>(r->mLongExpFrameDone).store(1);  // the first exposure is due at once
  StartTimes(r);
  err = myInstallLongExposureTimer(r, r->mExposureMS);
  if (err != noErr) {
    fprintf(stderr, "myInstallLongExposureTimer failed %d\n", int(err));
    return rollBack(err);
  }
  return noErr;
}
