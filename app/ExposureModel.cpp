// The exposure time model: exposure items and slider values turned into
// camera settings for each camera kind.
#include <stdlib.h>

#include <atomic>
#include <cmath>
#include <cstdio>

#include "app/ExposureControls.h"
#include "app/ExposureLongPaths.h"
#include "app/LongExposure.h"
#include "camera_driver/ORXDCAM.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

namespace {

void SleepFor(UInt64 micros) { SkyloomSleepMicroseconds(micros); }

constexpr OSType kExpo = FOUR_CHAR_CODE("EXPO");
constexpr OSType kAutoExposure = FOUR_CHAR_CODE("AUEX");
constexpr OSType kRate = FOUR_CHAR_CODE("FRAM");
constexpr UInt32 kShutter = 0x51C;
constexpr UInt32 kAutoExposureFeature = 0x504;
constexpr UInt32 kIris = 0x524;

void Enable(MyCameraWindowDataStruct* r, OSType signature, SInt32 id, bool on) {
  if (r->mControlWindow) myEnableDisableControl(r->mControlWindow, signature, id, on ? 1 : 0);
}

// "AWHB", "SWHB" and "PBCR" make sense only for a colour picture that is not
// inverted, while the camera runs.
void WhiteBalanceCommands(MyCameraWindowDataStruct* r) {
  const bool on = r->mColourDisplay == 1 && r->mInvert == 0 && r->mRunning;
  Enable(r, FOUR_CHAR_CODE("AWHB"), 0, on);
  Enable(r, FOUR_CHAR_CODE("SWHB"), 0, on);
  Enable(r, FOUR_CHAR_CODE("PBCR"), 0, on);
}

void DisableWhiteBalanceCommands(MyCameraWindowDataStruct* r) {
  Enable(r, FOUR_CHAR_CODE("AWHB"), 0, false);
  Enable(r, FOUR_CHAR_CODE("SWHB"), 0, false);
  Enable(r, FOUR_CHAR_CODE("PBCR"), 0, false);
}

void ExposureLabel(MyCameraWindowDataStruct* r, const char* text) {
  if (r->mControlWindow) myChangeControlTxt(r->mControlWindow, kExpo, 1, text);
}

void FreeLongExposureFrame(MyCameraWindowDataStruct* r) {
  free(r->mLongExposureFrame);
  r->mLongExposureFrame = nullptr;
}

// The frame of the last long exposure; false when memory runs out.
bool AllocateLongExposureFrame(MyCameraWindowDataStruct* r) {
  if (r->mLongExposureFrame) return true;
  r->mLongExposureFrame = malloc(size_t(r->mWidth) * r->mHeight * 4 + 16);
  return r->mLongExposureFrame != nullptr;
}

void LowerLongExposure(MyCameraWindowDataStruct* r) { std::atomic_ref<UInt32>(r->mLongExposure).fetch_sub(1); }

UInt32 LongExposure(MyCameraWindowDataStruct* r) { return std::atomic_ref<UInt32>(r->mLongExposure).load(); }

void ClearHandOff(MyCameraWindowDataStruct* r) {
  std::atomic_ref<SInt32>(r->mLongExpReadout).store(0);
  std::atomic_ref<SInt32>(r->mLongExpFrameDone).store(0);
  std::atomic_ref<SInt32>(r->mLongExpShowPending).store(0);
}

void PreviewTitle(MyCameraWindowDataStruct* r) {
  if (r->mVideoWindow) mySetCWindowTitleByKeyString(r->mVideoWindow, "VIDEOPREVIEWKEY");
}

// The exposure slider's live action, run once.
OSStatus RunExposureSlider(MyCameraWindowDataStruct* r) {
  if (!r->mControlWindow) return errInvalidWindowRef;
  ControlID id = {kExpo, 0};
  ControlRef slider = nullptr;
  OSStatus err = GetControlByID(r->mControlWindow, &id, &slider);
  if (err != noErr) return err;
  if (GetControlReference(slider) == 0) SetControlReference(slider, SRefCon(r));
  myLiveDCamControlProc(slider, 0);
  return noErr;
}

// The shutter written back after a long exposure or for an extended one.
OSStatus WriteShutterMS(MyCameraWindowDataStruct* r, double ms) {
  if (r->mAbsoluteShutter) return ORXDCAMSetABSPropertyValue(r->mCameraHandle, kShutter, 0, float(ms * 0.001));
  return ORXDCAMSetPropertyValue(r->mCameraHandle, kShutter, 0, r->mShutterValue);
}

void StartVideoAndDelivery(MyCameraWindowDataStruct* r) {
  ORXDCAMStartStopVideo(r->mCameraHandle, 1);
  ORXDCAMResumePauseVideo(r->mCameraHandle, 1);
}

// Back on a frame-rate item: the rate and exposure controls, the title, the
// item's rate and shutter range, video again, then the slider. A Point
// Grey camera reads the range once more after video restarts.
OSStatus EnterRateItem(MyCameraWindowDataStruct* r, UInt32 item, bool rangeAfterVideo) {
  Enable(r, kRate, 0, true);
  Enable(r, kExpo, 0, true);
  FreeLongExposureFrame(r);
  PreviewTitle(r);
  WhiteBalanceCommands(r);
  r->mExposureRateItem = 9 - item;
  const double rate = myRateItemFramesPerSecond(r->mExposureRateItem);
  if (r->mFrameRate > rate) r->mFrameRate = rate;
  mySetIIDCCameraFmtModeFR(r->mFrameRate, r);
  myGetIIDCMinMaxExposureTime(r);
  if (r->mFrameRate > 0.0) r->mExposureMS = 1000.0 / r->mFrameRate;
  mySetFMRMenus(r);
  if (r->mRunning) StartVideoAndDelivery(r);
  if (rangeAfterVideo) myGetIIDCMinMaxExposureTime(r);
  OSStatus err = RunExposureSlider(r);
  myAdjustFor50HzFrameRate(r);
  return err;
}

// C: a frame-rate item of a Point Grey camera.
OSStatus PointGreyRateItem(MyCameraWindowDataStruct* r, UInt32 item) {
  Enable(r, kAutoExposure, 0, r->mAutoShutterAvailable);
  if (r->mRunning) ORXDCAMStartStopVideo(r->mCameraHandle, 0);
  mySetAbsoluteShutter(r, 1);
  if (LongExposure(r) == 1) {
    LowerLongExposure(r);
    if (r->mPGRLongExposureOn == 1) {
      myRemoveLongExposureTimer(r);
      myPGRStartStopTriggerFrames(r->mCameraHandle, 0, r->mTrigger4Pin);
    }
    WriteShutterMS(r, r->mAbsShutterValue);
  }
  return EnterRateItem(r, item, true);
}

// D: a long item of a Point Grey camera, by the extended shutter.
OSStatus PointGreyLongItem(MyCameraWindowDataStruct* r, UInt32 item) {
  r->mAutoExposureOn = 0;
  ORXDCAMStartStopVideo(r->mCameraHandle, 0);
  mySetAbsoluteShutter(r, 1);
  if (r->mControlWindow) myCheckUncheckControl(r->mControlWindow, kAutoExposure, 0, 0, 0);

  r->mExposureMS = myShutterKindExposureMS(item);
  if (r->mExposureMS < 3000.0) PreviewTitle(r);

  OSStatus err = noErr;
  bool done;
  if (r->mPGRLongExposureOn == 1) {
    if (r->mProperties.mVendor == 0x1E10) {
      mySetIIDCCameraFmtModeFR(1.875, r);
    } else if (mySetCameraOptimizedRate(r, 1) != noErr) {
      mySetCameraOptimizedRate(r, 0);
    }
    done = true;  // the trigger scheme paces the frames whatever the rate
  } else {
    err = mySetCameraOptimizedRate(r, 1);
    if (err != noErr) err = mySetCameraOptimizedRate(r, 0);
    done = err == noErr;
  }

  ClearHandOff(r);
  if (done && !AllocateLongExposureFrame(r)) {
    err = memFullErr;
    SysBeep(1);
    fprintf(stderr, "mLastLongExposARGB32FramePtr Creation failed - Not Enough RAM\n");
  }
  if (!done || err != noErr) {
    fprintf(stderr, "mySetIIDC_ExposureTime mySetIIDCCameraFmtModeFR  failed %d\n", int(err));
    return err;
  }
  r->mPairSum = 0;
  r->mPairCount = 0;

  if (r->mPGRLongExposureOn == 1) {
    err = myPointGreyTriggerLongExposure(r);
    if (err != noErr) return err;
  } else {
    ORXDCAMStartStopVideo(r->mCameraHandle, 0);
    std::atomic_ref<UInt32>(r->mLongExposure).store(1);
    const UInt64 now = SkyloomMicroseconds();
    std::atomic_ref<UInt64>(r->mExposureStartTime).store(now);
    std::atomic_ref<SInt32>(r->mLongExpFrameDone).store(0);
    std::atomic_ref<UInt64>(r->mCountdownTime).store(now);
    gMyCameraSettleSleep(100000);
    err = WriteShutterMS(r, r->mExposureMS);
    gMyCameraSettleSleep(100000);
    ORXDCAMStartStopVideo(r->mCameraHandle, 1);
    if (err != noErr) {
      fprintf(stderr, "mySetIIDC_ExposureTime  failed %d\n", int(err));
      return err;
    }
  }
  DisableWhiteBalanceCommands(r);
  Enable(r, kRate, 0, false);
  Enable(r, kExpo, 0, false);
  return noErr;
}

}  // namespace

void (*gMyCameraSettleSleep)(UInt64 micros) = SleepFor;

// ---------------------------------------------------------------- tables

double myRateItemFramesPerSecond(UInt32 item) {
  switch (item) {
    case 1: return 1.875;
    case 2: return 3.75;
    case 3: return 7.5;
    case 4: return 15.0;
    case 6: return 60.0;
    case 7: return 120.0;
    case 8: return 240.0;
    default: return 30.0;
  }
}

UInt32 myRateItemForFramesPerSecond(double fps) {
  double rate = 1.875;
  for (UInt32 k = 1; k <= 8; k++, rate *= 2.0)
    if (fps <= rate) return k;
  return 8;
}

double myShutterKindExposureMS(UInt32 item) {
  static const double kMS[61] = {
      0,       4.1675,  8.333,   16.67,   33.33,   66.67,   133.33,  266.67,  533.33,  750,     1000,
      2000,    3000,    4000,    5000,    7500,    10000,   15000,   20000,   25000,   30000,   35000,
      40000,   45000,   50000,   55000,   60000,   75000,   90000,   105000,  120000,  150000,  180000,
      240000,  300000,  360000,  420000,  480000,  540000,  600000,  660000,  720000,  780000,  840000,
      900000,  960000,  1020000, 1080000, 1140000, 1200000, 1260000, 1320000, 1380000, 1440000, 1500000,
      1800000, 2100000, 2400000, 2700000, 3000000, 3300000};
  if (item >= 1 && item <= 60) return kMS[item];
  return 3600000.0;
}

double myLongExposureKindExposureMS(const MyCameraWindowDataStruct* record, UInt32 item) {
  static const double kMS[47] = {
      0,       0,       0,       0,       33.33,   66.67,   133.33,  266.67,  500,     750,     1000,
      2000,    3000,    4000,    5000,    7500,    10000,   15000,   20000,   25000,   30000,   35000,
      40000,   45000,   50000,   55000,   60000,   75000,   90000,   120000,  150000,  180000,  240000,
      300000,  360000,  420000,  480000,  540000,  600000,  750000,  900000,  1200000, 1500000, 1800000,
      2400000, 3000000, 3600000};
  if (record->mLongExposureMenu == 0) {
    if (item >= 4 && item <= 6) return kMS[item];
    if (item == 7) return 1029.0;
  } else if (item >= 4 && item <= 46) {
    return kMS[item];
  }
  SysBeep(1);
  return 0.0;
}

double myCalcTSLV1501SliderValToExposTimeMS(UInt32 v, UInt32 c) {
  if (v <= 128) return 0.3 + v * 0.01328125;
  if (v <= 192) return 2.0 + (v - 128) * 0.046875;
  if (v <= 256) return 5.0 + (v - 191) * 0.078125;
  if (v <= 383) return 9.0 + (v - 255) * (c == 4 ? 0.0625 : 0.190078125);
  if (c == 4) return 17.0 + (v - 383) * 0.1276015625;
  if (c == 3) return 33.33 + (v - 383) * 0.260390625;
  if (v <= 447) return 33.33 + (v - 383) * 0.52078125;
  return 66.666 + (v - 447) * 1.04165625;
}

UInt32 myfindLongestIIDCExposuretime(double ms) {
  static const double kThresholds[] = {533,    750,    1000,   2000,   3000,   4000,   5000,   7500,   10000,
                                       15000,  20000,  25000,  30000,  35000,  40000,  45000,  50000,  55000,
                                       60000,  75000,  90000,  105000, 120000, 150000, 180000};
  UInt32 item = 8;
  for (double t : kThresholds) {
    if (ms <= t) return item;
    item++;
  }
  for (double t = 240000; t <= 1500000; t += 60000, item++)
    if (ms <= t) return item;
  for (double t = 1800000; t <= 3600000; t += 300000, item++)
    if (ms <= t) return item;
  return 62;
}

// ---------------------------------------------------------------- slider and range

OSStatus mySetCCDExposTime(MyCameraWindowDataStruct* r, UInt32 slider) {
  r->mShutterValue = slider;
  char text[64];
  OSStatus err;
  if (r->mIsLongExposureCamera) {
    err = ORXDCAMSetPropertyValue(r->mCameraHandle, kAutoExposureFeature, 0, slider);
    if (err == noErr)
      snprintf(text, sizeof text, "%5.2f ms",
               double(float(myCalcTSLV1501SliderValToExposTimeMS(slider, r->mExposureRateItem))));
    else
      snprintf(text, sizeof text, "Err = 0x%X %d", unsigned(err), int(err));
  } else if (!r->mAbsoluteShutter) {
    err = ORXDCAMSetPropertyValue(r->mCameraHandle, kShutter, 0, slider);
    if (err == noErr)
      snprintf(text, sizeof text, "%d", int(slider));
    else
      snprintf(text, sizeof text, "Err = %d 0x%X ", int(err), unsigned(err));
  } else {
    double ms = r->mAbsShutterMin;
    if (slider >= 2) {
      ms = double(float(r->mAbsShutterMax - r->mAbsShutterMin)) * slider * 0.0025 + r->mAbsShutterMin;
      if (ms > r->mAbsShutterMax) ms = r->mAbsShutterMax;
    }
    err = ORXDCAMSetABSPropertyValue(r->mCameraHandle, kShutter, 0, float(ms * 0.001));
    if (err == noErr) {
      r->mAbsShutterValue = float(ms);
      snprintf(text, sizeof text, "%5.2f ms", ms);
    } else {
      snprintf(text, sizeof text, "Err = 0x%X %d", unsigned(err), int(err));
    }
  }
  ExposureLabel(r, text);
  return err;
}

OSStatus mySetAbsoluteShutter(MyCameraWindowDataStruct* r, UInt32 free) {
  if (r->m50HzCapable != 1) return noErr;
  UInt32 value = 0;
  OSStatus err;
  if (r->mPointGreyBayer) {
    err = ORXDCAMGetQuadlet(r->mCameraHandle, 0, 0x1028, 0, &value);
    if (err != noErr) {
      fprintf(stderr, "DRFLY mySetAbsoluteShutter ORXDCAMGetQuadlet 0x083C err = 0x%X %d\n", unsigned(err), int(err));
      return err;
    }
    value &= free == 1 ? 0xFFF0FFFFu : 0xFFF2FFFFu;
    err = ORXDCAMSetQuadlet(r->mCameraHandle, 0, 0x1028, 0, value);
    if (err != noErr)
      fprintf(stderr, "DRFLY mySetAbsoluteShutter ORXDCAMSetQuadlet 0x083C err = 0x%X %d\n", unsigned(err), int(err));
    return err;
  }
  err = ORXDCAMGetQuadlet(r->mCameraHandle, 0, 0x83C, 0, &value);
  if (err != noErr) {
    fprintf(stderr, "mySetAbsoluteShutter ORXDCAMGetQuadlet 0x083C err = 0x%X %d\n", unsigned(err), int(err));
    return err;
  }
  if (free == 1)
    value &= ~0x02000000u;
  else
    value |= 0x02000000u;
  err = ORXDCAMSetQuadlet(r->mCameraHandle, 0, 0x83C, 0, value);
  if (err != noErr)
    fprintf(stderr, "mySetAbsoluteShutter ORXDCAMSetQuadlet 0x083C err = 0x%X %d\n", unsigned(err), int(err));
  return err;
}

OSStatus myGetIIDCMinMaxExposureTime(MyCameraWindowDataStruct* r) {
  if (!r->mAbsoluteShutter) {
    r->mAbsShutterMin = 0.001f;
    const UInt32 i = r->mVideoSizeIndex < kMyMaxVideoSizes ? r->mVideoSizeIndex : 0;
    r->mAbsShutterMax = float(r->mVideoSizes[i].mMaxFramePeriodMs);
  } else {
    float minimum = 0, maximum = 0;
    UInt8 readOut = 0, manual = 0;
    OSStatus err = ORXDCAMGetABSPropertyCapability(r->mCameraHandle, kShutter, &minimum, &maximum, &readOut, &manual);
    if (err != noErr) {
      r->mAbsShutterMax = 33.33f;
      r->mAbsShutterMin = 0.001f;
      fprintf(stderr, "ORXDCAMGetABSPropertyCapability ORX_SHUTTER_REG failed  0x%X, %d\n", unsigned(err), int(err));
      return err;
    }
    r->mAbsShutterMin = float(double(minimum) * 1000.0);
    const double rate = LongExposure(r) ? r->mFrameRate : myRateItemFramesPerSecond(r->mExposureRateItem);
    // A rate of 0 (nothing programmed yet) keeps the previous maximum.
    if (rate > 0.0) r->mAbsShutterMax = float(1000.0 / rate);
  }
  if (r->mAbsShutterValue < r->mAbsShutterMin)
    r->mAbsShutterValue = r->mAbsShutterMin;
  else if (r->mAbsShutterValue > r->mAbsShutterMax)
    r->mAbsShutterValue = r->mAbsShutterMax;
  return noErr;
}

// ---------------------------------------------------------------- exposure items

OSStatus mySetBaseCCDExposureTime(MyCameraWindowDataStruct* r, UInt32 item) {
  OSStatus err = noErr;
  if (r->mIsLongExposureCamera) {
    err = item <= r->mExposureItemLimit ? myLongExposureKindRateItem(r, item) : myLongExposureKindLongItem(r, item);
  } else if (r->mIsPointGrey) {
    err = item <= r->mExposureItemLimit ? PointGreyRateItem(r, item) : PointGreyLongItem(r, item);
  } else if (r->mShutterByAbsolute) {
    return mySet_IIDC_CCDExposureTime(r, item);
  }
  mySetExposureArrowControllerMinMaxValue(r);
  return err;
}

OSStatus mySet_IIDC_CCDExposureTime(MyCameraWindowDataStruct* r, UInt32 item) {
  OSStatus err = noErr;
  if (item <= r->mExposureItemLimit) {
    Enable(r, kAutoExposure, 0, r->mAutoShutterAvailable);
    if (r->mRunning) ORXDCAMStartStopVideo(r->mCameraHandle, 0);
    if (LongExposure(r) == 1) {
      LowerLongExposure(r);
      if (r->mAbsoluteShutter) {
        mySetAbsoluteShutter(r, 1);
        ORXDCAMSetABSPropertyValue(r->mCameraHandle, kShutter, 0, float(r->mAbsShutterValue * 0.001));
      } else {
        ORXDCAMSetPropertyValue(r->mCameraHandle, kShutter, 0, r->mShutterValue);
      }
    }
    err = EnterRateItem(r, item, false);
  } else {
    r->mAutoExposureOn = 0;
    Enable(r, kExpo, 2, false);
    if (r->mControlWindow) mySetControlValue(r->mControlWindow, kAutoExposure, 0, 0);
    r->mExposureMS = myShutterKindExposureMS(item);
    if (r->mExposureMS < 3000.0) PreviewTitle(r);
    ClearHandOff(r);
    if (!AllocateLongExposureFrame(r)) {
      SysBeep(1);
      fprintf(stderr, "mLastLongExposARGB32FramePtr Creation failed - Not Enough RAM\n");
      return memFullErr;
    }
    r->mPairSum = 0;
    r->mPairCount = 0;
    ORXDCAMStartStopVideo(r->mCameraHandle, 0);
    gMyCameraSettleSleep(100000);
    mySetIIDCCameraFmtModeFR(r->mFormat == 7 ? 1.875 : myRateItemFramesPerSecond(r->mFirstRateItem), r);
    gMyCameraSettleSleep(100000);
    err = WriteShutterMS(r, r->mExposureMS);
    gMyCameraSettleSleep(100000);
    ORXDCAMStartStopVideo(r->mCameraHandle, 1);
    if (err != noErr) {
      fprintf(stderr, "mySetIIDC_ExposureTime  failed %d\n", int(err));
      return err;
    }
    const UInt64 now = SkyloomMicroseconds();
    std::atomic_ref<UInt64>(r->mExposureStartTime).store(now);
    std::atomic_ref<UInt64>(r->mCountdownTime).store(now);
    std::atomic_ref<UInt32>(r->mLongExposure).store(1);
    DisableWhiteBalanceCommands(r);
    Enable(r, kRate, 0, false);
    Enable(r, kExpo, 0, false);
    return noErr;
  }
  mySetExposureArrowControllerMinMaxValue(r);
  return err;
}

OSStatus myToggleExposureTimes(MyCameraWindowDataStruct* r, UInt32 item) {
  if (r->mLongExposureMenu == 1 && LongExposure(r) == 1 && item >= r->mExposureItemLimit) {
    UInt32 first = r->mFirstExposureItem;
    if (!r->mIsLongExposureCamera && r->mExposureRateItem == r->mFirstExposureItem) first++;
    mySetBaseCCDExposureTime(r, first);
  }
  return mySetBaseCCDExposureTime(r, item);
}
