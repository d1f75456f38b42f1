// The control window's set-up for a freshly opened camera: the registers the
// application works with, the list of video sizes the camera delivers, the
// camera's preferences, and the trigger and temperature menus.
#include <cstdio>

#include "app/CameraIdentification.h"
#include "app/CameraMenus.h"
#include "app/CameraOpening.h"
#include "app/CameraPrefs.h"
#include "app/ExposureControls.h"
#include "app/HistogramViews.h"
#include "app/TriggerModes.h"
#include "camera_driver/ORXDCAM.h"
#include "utilities/Controls.h"

namespace {

constexpr UInt32 kBrightness = 0x500, kAutoExposure = 0x504, kSharpness = 0x508, kWhiteBalance = 0x50C,
                 kSaturation = 0x514, kGamma = 0x518, kShutter = 0x51C, kGain = 0x520, kIris = 0x524,
                 kTrigger = 0x530;
constexpr SInt32 kSelValue = 0, kSelAuto = 1, kSelOnOff = 2, kSelUB = 4, kSelVR = 5, kSelTriggerMode = 9,
                 kSelAbsolute = 11, kSelTriggerSource = 12;
constexpr OSStatus kFeatureMissing = -2201;
constexpr UInt32 kMaxFixedEntries = 99;   // a fixed mode is added while fewer exist
constexpr UInt32 kMaxFormat7Start = 97;   // a Format 7 mode is tried while at most this many exist

// The fixed modes tried, in the order the pop-up lists them.
struct FixedSize {
  UInt32 format, mode, width, height, bits;
};
constexpr FixedSize kFixedSizes[] = {{0, 5, 640, 480, 8},    {0, 6, 640, 480, 16},   {1, 2, 800, 600, 8},
                                     {1, 6, 800, 600, 16},   {1, 5, 1024, 768, 8},   {1, 7, 1024, 768, 16},
                                     {2, 2, 1280, 960, 8},   {2, 6, 1280, 960, 16},  {2, 5, 1600, 1200, 8},
                                     {2, 7, 1600, 1200, 16}};

// Format 7 depths: the colour-coding id preferred, then the fallback.
struct Format7Depth {
  UInt32 bits, preferred, fallback;
};
constexpr Format7Depth kFormat7Depths[] = {{8, 9, 0}, {12, 11, 12}, {16, 10, 5}};

bool codingOffered(UInt32 inquiry, UInt32 id) { return id < 32 && ((inquiry >> (31 - id)) & 1) != 0; }

ControlRef findControl(WindowRef window, OSType signature, SInt32 id) {
  const ControlID cid = {signature, id};
  ControlRef c = nullptr;
  return window && GetControlByID(window, &cid, &c) == noErr ? c : nullptr;
}

// Step 1 for the long-exposure kind: the iris registers as the camera has
// them, then the EEPROM values the application works with.
void setUpIrisRegisters(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  OSStatus inquiryErr = ORXDCAMGetQuadlet(cam, 0, 0x524, 0, &r->mSavedIrisInquiry);
  if (inquiryErr != noErr) fprintf(stderr, "++++++ IR_INQ Failed 0x%x %d\n", unsigned(inquiryErr), int(inquiryErr));
  OSStatus controlErr = ORXDCAMGetQuadlet(cam, 0, 0x824, 0, &r->mSavedIrisControl);
  if (controlErr != noErr) fprintf(stderr, "++++++ IR Failed 0x%x %d\n", unsigned(controlErr), int(controlErr));
  if (inquiryErr != noErr || controlErr != noErr) {
    r->mSavedIrisInquiry = kMyIrisReadFailed;
  } else {
    r->mIrisValuesRead = 1;
    OSStatus err = ORXDCAMSetQuadlet(cam, 0, 0xF00, 0, kMyEEPROMWriteEnableCode);
    if (err != noErr) {
      fprintf(stderr, "++++++ EEPROM_CNFG Write 0x%x %d\n", unsigned(err), int(err));
    } else {
      err = ORXDCAMSetQuadlet(cam, 0, 0x524, 0, kMyFrostlensIrisInquiry);
      if (err != noErr) {
        fprintf(stderr, "++++++ IRIS_INQ Write 0x%x %d\n", unsigned(err), int(err));
      } else if ((err = ORXDCAMSetQuadlet(cam, 0, 0x824, 0, kMyFrostlensIrisControl)) != noErr) {
        fprintf(stderr, "++++++ IRIS Write 0x%x %d\n", unsigned(err), int(err));
      }
      if ((err = ORXDCAMSetQuadlet(cam, 0, 0xF00, 0, 0)) != noErr)
        fprintf(stderr, "++++++ EEPROM_CNFG Write ZERO 0x%x %d\n", unsigned(err), int(err));
    }
  }
  ORXDCAMSetQuadlet(cam, 0, 0xF1C, 0, 0x10601);
}

void setUpPointGreyShutter(MyCameraWindowDataStruct* r) {
  mySetAbsoluteShutter(r, 1);
  UInt32 value = 0;
  OSStatus err = ORXDCAMGetQuadlet(r->mCameraHandle, 0, 0x81C, 0, &value);
  if (err != noErr) {
    fprintf(stderr, "PointGrey ABS_SHUTTER Read failed 0x%x %d\n", unsigned(err), int(err));
    return;
  }
  value |= r->mPointGreyBayer ? 0x40FFA000u : 0x40000000u;
  err = ORXDCAMSetQuadlet(r->mCameraHandle, 0, 0x81C, 0, value);
  if (err != noErr) fprintf(stderr, "PointGrey ABS_SHUTTER Write  failed 0x%x %d\n", unsigned(err), int(err));
}

void setUpLongExposureFeatures(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  r->mExposureItemLimit = r->mFrostlensModel ? 7 : 6;
  r->mExposureRateItem = 5;
  r->mShutterValue = 0x1FF;
  if (ORXDCAMSetPropertyValue(cam, kBrightness, kSelAuto, 0) == noErr)
    ORXDCAMSetPropertyValue(cam, kBrightness, kSelValue, 0x80);
  ORXDCAMSetPropertyValue(cam, kSharpness, kSelValue, r->mColourSensor ? 30 : 20);
  ORXDCAMSetPropertyValue(cam, kAutoExposure, kSelAuto, 0);
  ORXDCAMSetPropertyValue(cam, kAutoExposure, kSelValue, r->mShutterValue);
  if (ORXDCAMSetPropertyValue(cam, kWhiteBalance, kSelAuto, 0) == noErr &&
      ORXDCAMSetPropertyValue(cam, kWhiteBalance, kSelUB, 0x5A) == noErr)
    ORXDCAMSetPropertyValue(cam, kWhiteBalance, kSelVR, 0x2D);
  ORXDCAMSetPropertyValue(cam, kSaturation, kSelValue, 0x57);
  ORXDCAMSetPropertyValue(cam, kGamma, kSelValue, 0);
  ORXDCAMSetPropertyValue(cam, kShutter, kSelValue, 0);
  ORXDCAMSetPropertyValue(cam, kGain, kSelValue, 0x86);
  ORXDCAMSetPropertyValue(cam, kIris, kSelValue, r->mExposureRateItem);
}

// Gamma at unity through its absolute value, or gamma off.
void setGammaToUnity(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  if (!r->mProperties.mFeaturePresent[kDCAMGamma] || !r->mProperties.mAbsoluteCapable[kDCAMGamma]) return;
  if (ORXDCAMSetPropertyValue(cam, kGamma, kSelOnOff, 1) != noErr) return;
  OSStatus err = ORXDCAMSetABSPropertyValue(cam, kGamma, kSelAbsolute, 1.0);
  if (err != noErr) {
    fprintf(stderr, "mySetGammaToUnity Enabling CSR Absolute Gamma failed Err = 0x%X\n", unsigned(err));
  } else if ((err = ORXDCAMSetABSPropertyValue(cam, kGamma, kSelValue, 1.0)) != noErr) {
    fprintf(stderr, "mySetGammaToUnity Setting Gamma to 1.0 failed Err = 0x%X %d\n", unsigned(err), int(err));
    ORXDCAMSetABSPropertyValue(cam, kGamma, kSelAbsolute, 0.0);
  } else {
    return;
  }
  ORXDCAMSetPropertyValue(cam, kGamma, kSelOnOff, 0);
}

void setUpOtherFeatures(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  setGammaToUnity(r);
  r->mExposureRateItem = 5;
  r->mShutterValue = 400;
  r->mTSLFramePeriodMs = 33.333f;
  ORXDCAMSetPropertyValue(cam, kBrightness, kSelAuto, 0);
  ORXDCAMSetPropertyValue(cam, kAutoExposure, kSelAuto, 0);
  ORXDCAMSetPropertyValue(cam, kAutoExposure, kSelValue, 0);
}

// Which trigger modes the camera takes; the trigger is left off in mode 0.
void setUpTrigger(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  r->mTriggerAvailable = r->mTriggerMode14Available = 0;
  ORXDCAMSetPropertyValue(cam, kTrigger, kSelOnOff, 0);
  if (ORXDCAMSetPropertyValue(cam, kTrigger, kSelTriggerMode, 14) == noErr) r->mTriggerMode14Available = 1;
  if (ORXDCAMSetPropertyValue(cam, kTrigger, kSelTriggerMode, 0) == noErr) r->mTriggerAvailable = 1;
  if (r->mIsPointGrey) {
    for (UInt32 pin : {0x1110u, 0x1120u, 0x1130u, 0x1140u}) ORXDCAMSetQuadlet(cam, 0, pin, 0, 0x80010000u);
  } else {
    OSStatus err = ORXDCAMSetPropertyValue(cam, kTrigger, kSelTriggerSource, 0);
    if (err != noErr && err != kFeatureMissing)
      fprintf(stderr, "ORX_TRIGGER_REG,TRIG_SOURCE_CNTL 0x00 Failed 0x%x %d\n", unsigned(err), int(err));
  }
  ORXDCAMSetPropertyValue(cam, kTrigger, kSelOnOff, 0);
  r->mTriggerMode = 0;
}

// Steps 6 to 9: the 'VISZ' pop-up and the video-size table.
void fillVideoSizes(MyCameraWindowDataStruct* r, ControlRef popup) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  MenuRef menu = GetControlPopupMenuHandle(popup);
  SetControl32BitValue(popup, 1);
  r->mLongestExposureMS = 0;
  r->mVideoSizeCount = 0;
  r->mVideoSizeIndex = 0;
  if (menu && CountMenuItems(menu) > 0) {
    CheckMenuItem(menu, 1, false);
    DeleteMenuItem(menu, 1);
  }
  UInt32 count = 0;
  for (const FixedSize& s : kFixedSizes) {
    const MyDCAMFormatProperties& f = r->mProperties.mFormat[s.format];
    if (!f.mFormatSupported || !f.mModeSupported[s.mode] || count >= kMaxFixedEntries) continue;
    if (ORXDCAMSetFMR(cam, s.format, s.mode, 1.875) != noErr) continue;
    myTestCameraColorMonoForFormatMode(r, count, s.format, s.mode, s.bits, s.width, s.height, menu);
    r->mVideoSizes[count].mRegionAllowed = 0;
    count++;
  }
  if (r->mProperties.mFormat7Supported) {
    for (UInt32 mode = 0; mode < 32 && count <= kMaxFormat7Start; mode++) {
      if (!r->mProperties.mFormat7ModeSupported[mode]) continue;
      UInt32 width = 0, height = 0, unitW = 0, unitH = 0, unitL = 0, unitT = 0, packetUnit = 0, packetMax = 0,
             codings = 0;
      if (ORXDCAMGetFMRProperties(cam, 7, mode, 3.75, &width, &height, &unitW, &unitH, &unitL, &unitT, &packetUnit,
                                  &packetMax, &codings) != noErr)
        continue;
      const UInt8 region = unitW && unitH && unitL && unitT;
      for (const Format7Depth& d : kFormat7Depths) {
        UInt32 id;
        if (codingOffered(codings, d.preferred))
          id = d.preferred;
        else if (codingOffered(codings, d.fallback))
          id = d.fallback;
        else
          continue;
        if (count >= kMyMaxVideoSizes) break;
        if (ORXDCAMSet7MR(cam, mode, 0, 0, width, height, id, 0) != noErr) continue;
        myTestCameraColorMonoForFormatMode(r, count, 7, mode, d.bits, width, height, menu);
        r->mVideoSizes[count].mColorCoding = id;
        r->mVideoSizes[count].mRegionAllowed = region;
        count++;
      }
    }
  }
  r->mVideoSizeCount = count;
  for (UInt32 i = 0; i < count; i++)
    if (r->mVideoSizes[i].mMaxFramePeriodMs > r->mLongestExposureMS)
      r->mLongestExposureMS = r->mVideoSizes[i].mMaxFramePeriodMs;
  if (menu) {
    SetControl32BitMaximum(popup, CountMenuItems(menu));
    CheckMenuItem(menu, 1, true);
  }
}

// Step 14: menu 11 by what the camera takes.
void setUpTriggerMenu(MyCameraWindowDataStruct* r) {
  MenuRef m = GetMenuRef(kMyCameraTriggerMenuID);
  if (m) {
    CheckMenuItem(m, 1, true);
    CheckMenuItem(m, 2, false);
    CheckMenuItem(m, 3, false);
  }
  if (r->mTriggerMode14Available) {
    if (m) {
      EnableMenuItem(m, 4);
      CheckMenuItem(m, 4, r->mTriggerMode == 14);
    }
  } else {
    r->mTriggerMode = 0;
    if (m) {
      CheckMenuItem(m, 4, false);
      DisableMenuItem(m, 4);
    }
  }
  if (r->mTrigger4PinAvailable) {
    if (m) {
      EnableMenuItem(m, 5);
      CheckMenuItem(m, 5, r->mTrigger4Pin != 0);
    }
  } else {
    r->mTrigger4Pin = 0;
    if (m) {
      CheckMenuItem(m, 5, false);
      DisableMenuItem(m, 5);
    }
  }
  r->mTriggerItem = 0;
  const bool triggers = r->mTriggerAvailable && !r->mSoftLongExposure;
  if (!triggers) r->mTriggerAvailable = 0;
  if (m)
    for (MenuItemIndex i : {2, 3}) {
      if (triggers)
        EnableMenuItem(m, i);
      else
        DisableMenuItem(m, i);
    }
}

// Steps 13 and 15: the temperature display and menu 13.
void setUpTemperature(MyCameraWindowDataStruct* r) {
  if (r->mTemperatureMode == 0)
    r->mShowTemperature = 0;
  else if (r->mShowTemperature)
    myInstallTemperatureTimer(r);
  if (!r->mTemperatureSettable) r->mMaintainTemperature = 0;
  MenuRef m = GetMenuRef(kMyTemperatureMenuID);
  if (m == nullptr) return;
  if (r->mTemperatureMode == 0) {
    for (MenuItemIndex i : {1, 2, 3}) DisableMenuItem(m, i);
  } else if (r->mTemperatureSettable) {
    CheckMenuItem(m, 2, r->mMaintainTemperature != 0);
  } else {
    DisableMenuItem(m, 1);
    DisableMenuItem(m, 2);
  }
}

}  // namespace

OSStatus myInitControlWindow(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  // 1. Registers by family.
  if (r->mIsLongExposureCamera) {
    setUpIrisRegisters(r);
  } else if (r->mIsPointGrey) {
    setUpPointGreyShutter(r);
  } else if (r->mShutterByAbsolute && r->mAbsoluteShutter) {
    mySetAbsoluteShutter(r, 1);
    OSStatus err = ORXDCAMSetABSPropertyValue(cam, kShutter, kSelAbsolute, 1.0);
    if (err != noErr)
      fprintf(stderr, "ORXDCAMSetABSPropertyValue ORX_SHUTTER_REG,ON_OFF_ABS_CNTL failed 0x%x %d\n", unsigned(err),
              int(err));
  }
  // 2. Those writes change what the long-exposure kind reports.
  if (r->mIsLongExposureCamera) ORXDCAMGetCameraProperties3(cam, reinterpret_cast<UInt8*>(&r->mProperties));
  // 3. The live actions of the sliders and the exposure arrows.
  r->mLiveControlActionUPP = NewControlActionUPP(myLiveDCamControlProc);
  r->mExposureArrowActionUPP = NewControlActionUPP(myDoExposureArrowChangeProc);
  // 4. Feature defaults and the trigger.
  if (r->mIsLongExposureCamera) {
    setUpLongExposureFeatures(r);
  } else {
    setUpOtherFeatures(r);
    if (r->mProperties.mFeaturePresent[kDCAMTrigger]) setUpTrigger(r);
  }
  // 5. Exposure arrows.
  OSStatus err = mySetUpLiveArrowControl(r->mControlWindow, FOUR_CHAR_CODE("EXPO"), 2, 0, r->mExposureArrowActionUPP,
                                         SRefCon(r));
  if (err != noErr) fprintf(stderr, "mySetUpLiveArrowControl CC_EXPO_CNTL_ err %d\n", int(err));
  // 6 to 9. Video sizes.
  ControlRef popup = findControl(r->mControlWindow, FOUR_CHAR_CODE("VISZ"), 0);
  if (popup == nullptr) {
    err = errUnknownControl;
    fprintf(stderr, "myInitControlWindow failed %d 0x%X\n", int(err), unsigned(err));
    return err;
  }
  fillVideoSizes(r, popup);
  // 10. The current size.
  if ((err = mySetCameraFMRByIndexItem(r, -1)) != noErr) {
    fprintf(stderr, "myInitControlWindow failed %d 0x%X\n", int(err), unsigned(err));
    return err;
  }
  // 11. Preferences, rates and exposures.
  myReadWriteCameraPrefs(r, 1);
  r->mPreferencesRead = 1;
  mySetUpFrameRate_ExposMenu(r, 0);
  // 12. Menu marks.
  if (r->mZoomItem > 0) CheckMenuItem(GetMenuRef(kMyCameraMenuID), MenuItemIndex(r->mZoomItem), true);
  CheckMenuItem(GetMenuRef(kMyImageAlignMenuID), MenuItemIndex(r->mImageAlignMode + 1), true);
  myChangeImageAlignMenuItem(r->mControlWindow, 0);
  // 13 to 15.
  setUpTemperature(r);
  setUpTriggerMenu(r);
  // 16.
  myRefreshControls(r);
  myRefreshControlsForMono_ColorChanges(r);
  mySetExposureArrowControllerMinMaxValue(r);
  return noErr;
}
