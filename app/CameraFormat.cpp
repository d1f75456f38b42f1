// Format, mode and frame rate, the rate and exposure menus, and the feature
// sliders of the control window.
#include <cmath>
#include <cstdio>

#include "app/ExposureControls.h"
#include "app/RegionsOfInterest.h"
#include "camera_driver/ORXDCAM.h"
#include "pixel/BayerPlanes.h"
#include "utilities/Controls.h"

namespace {

constexpr OSType kRate = FOUR_CHAR_CODE("FRAM");
constexpr OSType kDisplay = FOUR_CHAR_CODE("FORT");
constexpr OSType kExposureItems = FOUR_CHAR_CODE("CCDB");
constexpr OSType kExpo = FOUR_CHAR_CODE("EXPO");
constexpr UInt32 kFrameRateFeature = 0x53C;

ControlRef Find(MyCameraWindowDataStruct* r, OSType signature, SInt32 id = 0) {
  if (!r->mControlWindow) return nullptr;
  ControlID cid = {signature, id};
  ControlRef c = nullptr;
  return GetControlByID(r->mControlWindow, &cid, &c) == noErr ? c : nullptr;
}

void Item(MyCameraWindowDataStruct* r, OSType signature, SInt32 item, SInt32 enable, SInt32 check) {
  if (r->mControlWindow) myChangePopMenuControl(r->mControlWindow, signature, item, enable, check);
}

void Enable(MyCameraWindowDataStruct* r, OSType signature, SInt32 id, bool on) {
  if (r->mControlWindow) myEnableDisableControl(r->mControlWindow, signature, id, on ? 1 : 0);
}

// Frame bytes of the Format 7 box for a colour coding.
UInt32 Format7FrameBytes(UInt32 width, UInt32 height, UInt32 coding) {
  const UInt64 pixels = UInt64(width) * height;
  if (coding == 5 || coding == 10) return UInt32(pixels * 2);
  if (coding == 11 || coding == 12) return UInt32(double(pixels) * 1.5);
  return UInt32(pixels);
}

// Raw codings fall back to the grey coding of the same depth when the camera
// offers none of the raw ones.
UInt32 CodingToSend(const MyCameraWindowDataStruct* r) {
  const UInt32 coding = r->mF7ColorCoding;
  if (r->mF7ColorCodingInq & (0x400000u | 0x200000u | 0x80000u)) return coding;
  switch (coding) {
    case 9: return 0;
    case 10: return 5;
    case 12: return 11;
    default: return coding;
  }
}

OSStatus QueryFormat7(MyCameraWindowDataStruct* r) {
  return ORXDCAMGetFMRProperties(r->mCameraHandle, 7, r->mMode, 3.75, &r->mF7MaxWidth, &r->mF7MaxHeight,
                                 &r->mF7UnitWidth, &r->mF7UnitHeight, &r->mF7UnitLeft, &r->mF7UnitTop,
                                 &r->mF7UnitPacket, &r->mF7MaxPacket, &r->mF7ColorCodingInq);
}

const MyVideoSizeStruct& CurrentEntry(const MyCameraWindowDataStruct* r) {
  return r->mVideoSizes[r->mVideoSizeIndex < kMyMaxVideoSizes ? r->mVideoSizeIndex : 0];
}

void ExposureLabelForSlider(MyCameraWindowDataStruct* r) {
  char text[64];
  snprintf(text, sizeof text, "%5.2f ms",
           double(float(myCalcTSLV1501SliderValToExposTimeMS(r->mShutterValue, r->mExposureRateItem))));
  if (r->mControlWindow) myChangeControlTxt(r->mControlWindow, kExpo, 1, text);
}

void AppendTSLLongItems(MenuRef menu) {
  for (double ms : {500.0, 750.0}) myAppendMenuTime(menu, ms, 0);
  for (double s : {1.0, 2.0, 3.0, 4.0, 5.0, 7.5, 10.0, 15.0, 20.0, 25.0, 30.0, 35.0, 40.0, 45.0, 50.0, 55.0, 60.0, 75.0,
                   90.0, 120.0, 150.0, 180.0})
    myAppendMenuTime(menu, s, 1);
  for (double m : {4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0, 12.5, 15.0, 20.0, 25.0, 30.0, 40.0, 50.0, 60.0})
    myAppendMenuTime(menu, m, 2);
  myAppendMenuCString(menu, "Other...");
}

}  // namespace

// ---------------------------------------------------------------- programming the camera

OSStatus myGetClosestPacketSizeForDesiredFrameRate(UInt32 maxPacket, UInt32 unitPacket, UInt32 frameBytes, double fps,
                                                   UInt32* packet, double* actualFps) {
  if (frameBytes == 0 || unitPacket == 0) return paramErr;
  const double b = double(frameBytes) * fps * 0.000125;
  double n = std::round(b);
  if (n < b) n += 1.0;
  if (n < 0.0) n = 0.0;
  UInt64 bytes = UInt64(n);
  bytes = (bytes + unitPacket - 1) / unitPacket * unitPacket;
  if (bytes > maxPacket) bytes = maxPacket;
  *packet = UInt32(bytes);
  *actualFps = double(bytes) * 8000.0 / frameBytes;
  return noErr;
}

OSStatus mySetIIDCCameraFmtModeFR(double fps, MyCameraWindowDataStruct* r) {
  if (r->mFormat != 7) return ORXDCAMSetFMR(r->mCameraHandle, r->mFormat, r->mMode, fps);
  OSStatus err = QueryFormat7(r);
  if (err != noErr) return err;
  const UInt32 frameBytes = Format7FrameBytes(r->mWidth, r->mHeight, r->mF7ColorCoding);
  double actual = 0.0;
  err = myGetClosestPacketSizeForDesiredFrameRate(r->mF7MaxPacket, r->mF7UnitPacket, frameBytes,
                                                  fps > 199.99 ? 10000.0 : fps, &r->mF7BytesPerPacket, &actual);
  if (err != noErr) return err;
  r->mF7MinRate = r->mF7UnitPacket * 8000.0 / frameBytes;
  r->mF7MaxRate = r->mF7MaxPacket * 8000.0 / frameBytes;
  err = ORXDCAMSet7MR(r->mCameraHandle, r->mMode, r->mLeft, r->mTop, r->mWidth, r->mHeight, CodingToSend(r),
                      r->mF7BytesPerPacket);
  if (err == paramErr && r->mF7ROIOn) {
    // The camera refuses the region: the full frame instead, once.
    r->mF7ROIOn = 0;
    r->mLeft = r->mTop = 0;
    r->mWidth = r->mF7MaxWidth;
    r->mHeight = r->mF7MaxHeight;
    myUpdateSoftROIFlags(r);
    return mySetIIDCCameraFmtModeFR(fps, r);
  }
  return err;
}

OSStatus mySetCameraOptimizedRate(MyCameraWindowDataStruct* r, UInt32 slowest) {
  if (r->mFormat != 7) return ORXDCAMSetFMR(r->mCameraHandle, r->mFormat, r->mMode, slowest ? 0.01 : 240.0);
  OSStatus err = QueryFormat7(r);
  if (err != noErr) return err;
  const float frameBytes = float(Format7FrameBytes(r->mWidth, r->mHeight, r->mF7ColorCoding));
  const UInt32 unit = r->mF7UnitPacket, maximum = r->mF7MaxPacket;
  auto fits = [&](UInt32 p) {
    const float n = std::ceil(frameBytes / float(p));
    const float q = n / float(unit);
    const float rest = q - std::trunc(q);
    const float x = q * (rest > 0.0f ? 1.0f / rest : 1.0f);
    return x - std::trunc(x) < 0.0001f && x < 270.0f;
  };
  // A packet unit of 0 offers no candidates: the previous size stays.
  if (unit != 0 && frameBytes > 0.0f) {
    if (slowest) {
      for (UInt32 p = unit; p <= maximum; p += unit)
        if (fits(p)) {
          r->mF7BytesPerPacket = p;
          break;
        }
    } else {
      for (UInt32 p = maximum; p > unit; p -= unit)
        if (fits(p)) {
          r->mF7BytesPerPacket = p;
          break;
        }
    }
  }
  return ORXDCAMSet7MR(r->mCameraHandle, r->mMode, r->mLeft, r->mTop, r->mWidth, r->mHeight, CodingToSend(r),
                       r->mF7BytesPerPacket);
}

OSStatus myAdjustFor50HzFrameRate(MyCameraWindowDataStruct* r) {
  if (r->m50HzCapable != 1) return noErr;
  MyDCAMCameraStruct* h = r->mCameraHandle;
  OSStatus err;
  if (r->mLongExposure == 0) {
    err = ORXDCAMSetPropertyValue(h, kFrameRateFeature, 1, 0);
    if (err == noErr) err = ORXDCAMSetPropertyValue(h, kFrameRateFeature, 2, 1);
    if (err == noErr) err = ORXDCAMSetABSPropertyValue(h, kFrameRateFeature, 11, 1.0);
    if (err != noErr) {
      fprintf(stderr, "myAdjustFor50HzFrameRate ORXDCAMSetABSPropertyValue  ON_OFF_ABS_CNTL failed %d 0x%x\n", int(err),
              unsigned(err));
      return err;
    }
    const float rate = float(r->m50HzScale ? r->mFrameRate * 0.833333 : r->mFrameRate);
    err = ORXDCAMSetABSPropertyValue(h, kFrameRateFeature, 0, rate);
    if (err != noErr)
      fprintf(stderr, "myAdjustFor50HzFrameRate ORXDCAMSetABSPropertyValue  MANUAL_CNTL failed %d 0x%x dur = %f\n",
              int(err), unsigned(err), double(rate));
    return err;
  }
  err = ORXDCAMSetABSPropertyValue(h, kFrameRateFeature, 11, 0.0);
  if (err == noErr) err = ORXDCAMSetPropertyValue(h, kFrameRateFeature, 2, 0);
  if (err == noErr) err = ORXDCAMSetPropertyValue(h, kFrameRateFeature, 1, 1);
  return err;
}

// ---------------------------------------------------------------- menus

void myChangeIIDCFrameRateMenuItems(MyCameraWindowDataStruct* r) {
  static const char* const k60Hz[8] = {"1.875", "3.750", "7.500", "15.00", "30.00", "60.00", "120.0", "240.0"};
  static const char* const k50Hz[8] = {"1.5625", "3.125", "6.250", "12.50", "25.00", "50.00", "100.0", "200.0"};
  if (!r->mControlWindow) return;
  for (SInt32 i = 0; i < 8; i++)
    mySetPopMenuControlString(r->mControlWindow, kRate, i + 1, r->m50HzScale ? k50Hz[i] : k60Hz[i]);
  if (ControlRef c = Find(r, kRate)) Draw1Control(c);
}

OSStatus mySetFMRMenus(MyCameraWindowDataStruct* r) {
  if (!r->mControlWindow) return errInvalidWindowRef;
  for (OSType signature : {kDisplay, kRate}) {
    const ControlID cid = {signature, 0};
    ControlRef c = nullptr;
    if (OSStatus err = GetControlByID(r->mControlWindow, &cid, &c); err != noErr) return err;
  }
  myUncheckAllPopMenuControl(r->mControlWindow, kDisplay);
  Item(r, kDisplay, SInt32(r->mDisplayFormatItem), 0, 1);
  myUncheckAllPopMenuControl(r->mControlWindow, kRate);
  Item(r, kRate, SInt32(myRateItemForFramesPerSecond(r->mFrameRate)), 0, 1);
  const UInt32 e = r->mExposureRateItem;
  if (r->mIsLongExposureCamera) {
    for (SInt32 k : {1, 6, 7, 8}) Item(r, kRate, k, -1, 0);
    Item(r, kRate, 3, e > 1 ? 1 : -1, 0);
    Item(r, kRate, 4, e > 2 ? 1 : -1, 0);
    Item(r, kRate, 5, e > 3 ? 1 : -1, 0);
  } else if (r->mIsPointGrey || r->mShutterByAbsolute) {
    for (UInt32 k = 1; k <= 8; k++)
      Item(r, kRate, SInt32(k), e >= k && r->mFirstRateItem <= k && r->mLastRateItem >= k ? 1 : -1, 0);
  }
  return noErr;
}

OSStatus mySetUpFrameRate_ExposMenu(MyCameraWindowDataStruct* r, UInt32 initial) {
  // 1. The rate items the mode offers.
  r->mFirstRateItem = r->mLastRateItem = 0;
  if (r->mFormat <= 2) {
    const UInt8* rates = r->mProperties.mFormat[r->mFormat].mRateSupported[r->mMode & 7];
    for (UInt32 k = 1; k <= 8; k++)
      if (rates[k - 1]) {
        if (!r->mFirstRateItem) r->mFirstRateItem = k;
        r->mLastRateItem = k;
      }
  } else if (r->mFormat == 7) {
    OSStatus err = QueryFormat7(r);
    if (err != noErr) {
      fprintf(stderr, "mySetUpFrameRate_ExposMenu err %d 0x%X\n", int(err), unsigned(err));
      return err;
    }
    const UInt64 w = r->mF7ROIOn ? r->mWidth : r->mF7MaxWidth;
    const UInt64 h = r->mF7ROIOn ? r->mHeight : r->mF7MaxHeight;
    UInt64 frameBytes = w * h;
    if (r->mF7ColorCoding != 0 && r->mF7ColorCoding != 9) frameBytes *= 2;
    if (frameBytes == 0) {
      fprintf(stderr, "mySetUpFrameRate_ExposMenu err %d 0x%X\n", int(paramErr), unsigned(paramErr));
      return paramErr;
    }
    r->mF7MinRate = r->mF7UnitPacket * 8000.0 / double(frameBytes);
    r->mF7MaxRate = r->mF7MaxPacket * 8000.0 / double(frameBytes);
    UInt32 item = 1;
    double rate = 1.875;
    while (rate < r->mF7MinRate && item < 9) {
      item++;
      rate *= 2.0;
    }
    r->mFirstRateItem = item;
    if (r->mF7MaxRate >= 240.0) {
      r->mLastRateItem = 8;
    } else {
      item = 8;
      rate = 240.0;
      do {
        item--;
        rate *= 0.5;
      } while (rate > r->mF7MaxRate && item > 0);
      if (r->mF7MaxRate > rate * 1.01) item++;
      r->mLastRateItem = item;
    }
  } else {
    fprintf(stderr, "mySetUpFrameRate_ExposMenu err %d 0x%X\n", int(paramErr), unsigned(paramErr));
    return paramErr;
  }

  // 2. The rate pop-up.
  if (r->mControlWindow) myUncheckAllPopMenuControl(r->mControlWindow, kRate);
  for (UInt32 k = 1; k <= 8; k++)
    Item(r, kRate, SInt32(k), k >= r->mFirstRateItem && k <= r->mLastRateItem ? 1 : -1, 0);
  UInt32 k = myRateItemForFramesPerSecond(r->mFrameRate);
  UInt32 moved = k;
  if (moved < r->mFirstRateItem) moved = r->mFirstRateItem;
  if (moved > r->mLastRateItem) moved = r->mLastRateItem;
  if (moved != k) {
    k = moved;
    r->mFrameRate = myRateItemFramesPerSecond(k);
  }
  Item(r, kRate, SInt32(k), 0, 1);

  // 3. The frame-rate exposure items.
  r->mFirstExposureItem = 9 - r->mLastRateItem;
  if (!r->mIsLongExposureCamera) r->mExposureItemLimit = 9 - r->mFirstRateItem;
  ControlRef popup = Find(r, kExposureItems);
  MenuRef menu = popup ? GetControlPopupMenuHandle(popup) : nullptr;

  if (r->mIsLongExposureCamera) {
    // 4. The long-exposure kind builds its own long items once.
    if (initial) {
      Item(r, kExposureItems, 4, 0, -1);
      if (r->mLongExposureMenu && menu) {
        for (UInt16 n = CountMenuItems(menu); n > 7; n--) DeleteMenuItem(menu, n);
        char text[64];
        snprintf(text, sizeof text, "%.2f ms", 266.66);
        mySetMenuItemCString(menu, 7, text);
        EnableMenuItem(menu, 7);
        AppendTSLLongItems(menu);
        const UInt16 last = CountMenuItems(menu);
        for (UInt16 i = 7; i <= last; i++) DisableMenuItem(menu, i);
        SetControl32BitMaximum(popup, last);
      }
      Item(r, kExposureItems, SInt32(r->mFirstExposureItem), 0, 1);
      mySetBaseCCDExposureTime(r, r->mFirstExposureItem);
    }
  } else if (!initial) {
    // 5. A later call keeps the selected item when it is still a frame-rate item.
    r->mLongExposureMenu = CurrentEntry(r).mMaxFramePeriodMs > 533.0;
    const UInt32 current = popup ? UInt32(GetControl32BitValue(popup)) : 0;
    if (current < r->mFirstExposureItem || current + 1 > r->mExposureItemLimit) {
      const UInt32 item = current < r->mFirstExposureItem ? r->mFirstExposureItem : r->mExposureItemLimit - 1;
      if (r->mControlWindow) myUncheckAllPopMenuControl(r->mControlWindow, kExposureItems);
      Item(r, kExposureItems, SInt32(item), 0, 1);
      mySetBaseCCDExposureTime(r, item);
    }
  } else {
    // 6. The first call builds the long items for the longest exposure.
    Item(r, kExposureItems, 4, 0, -1);
    const double longest = r->mIsPointGrey && r->mPGRLongExposureOn && r->mAbsoluteShutter ? 3600000.0
                                                                                          : r->mLongestExposureMS;
    if (menu) {
      mySetUpIIDC_CCDExpTimeMenu(menu, longest);
      SetControl32BitMaximum(popup, CountMenuItems(menu));
    }
    Item(r, kExposureItems, SInt32(r->mFirstExposureItem), 0, 1);
    r->mLongExposureMenu = CurrentEntry(r).mMaxFramePeriodMs > 533.0;
    mySetBaseCCDExposureTime(r, r->mFirstExposureItem);
  }

  // 7. Only the frame-rate exposure items are offered here.
  if (menu) {
    const UInt16 count = CountMenuItems(menu);
    for (UInt16 i = 1; i <= count; i++) {
      if (i >= r->mFirstExposureItem && i <= r->mExposureItemLimit)
        EnableMenuItem(menu, i);
      else
        DisableMenuItem(menu, i);
    }
    if (popup) Draw1Control(popup);
  }

  if (r->mIsLongExposureCamera) {
    // 8.
    if (!r->mLongExposureMenu && menu) DisableMenuItem(menu, MenuItemIndex(r->mExposureItemLimit));
    ExposureLabelForSlider(r);
    return noErr;
  }
  // 9.
  myAdjustFor50HzFrameRate(r);
  if ((r->mIsPointGrey || r->mShutterByAbsolute) && myGetIIDCMinMaxExposureTime(r) == noErr)
    if (ControlRef slider = Find(r, kExpo)) myLiveDCamControlProc(slider, 0);
  return noErr;
}

// ---------------------------------------------------------------- choosing a size

OSStatus mySetCameraFMRByIndexItem(MyCameraWindowDataStruct* r, SInt32 index) {
  if (index > 99 || index < -1) return paramErr;
  const UInt32 initial = index == -1;
  const UInt32 i = index < 0 ? 0 : UInt32(index);
  const MyVideoSizeStruct& e = r->mVideoSizes[i];
  r->mVideoSizeIndex = i;
  r->mFormat = e.mFormat;
  r->mMode = e.mMode;
  r->mSizeLongestExposureMS = e.mMaxFramePeriodMs;

  const bool keep = e.mRegionAllowed && r->mF7ROIOn && r->mLeft + r->mWidth <= e.mWidth &&
                    r->mTop + r->mHeight <= e.mHeight;
  if (!keep) {
    r->mF7ROIOn = 0;
    r->mLeft = r->mTop = 0;
    r->mWidth = e.mWidth;
    r->mHeight = e.mHeight;
  }
  // A soft region stored for another size counts only while it fits this one.
  myUpdateSoftROIFlags(r);
  if (e.mFormat == 7) r->mF7ColorCoding = e.mColorCoding;
  r->mColourSensor = e.mIsColor;
  r->mBayerFormat = e.mIsColor && r->mBayerSelectable && r->mUserBayerCode && e.mBayerCode == 0 ? r->mUserBayerCode
                                                                                                 : e.mBayerCode;

  OSStatus err = mySetIIDCCameraFmtModeFR(r->mFrameRate, r);
  if (err != noErr) return err;
  err = mySetUpFrameRate_ExposMenu(r, initial);
  if (err != noErr) return err;

  // The display formats that need colour data.
  const bool colour = r->mColourSensor != 0;
  for (SInt32 k : {2, 4, 5, 6, 7}) Item(r, kDisplay, k, colour ? 1 : -1, 0);
  if (!colour) {
    switch (r->mDisplayFormatItem) {
      case 2: case 5: case 6: case 7: r->mDisplayFormatItem = 1; break;
      case 4: r->mDisplayFormatItem = 3; break;
      default: break;
    }
  }
  if (r->mControlWindow) myUncheckAllPopMenuControl(r->mControlWindow, kDisplay);
  Item(r, kDisplay, SInt32(r->mDisplayFormatItem), 0, 1);
  switch (r->mDisplayFormatItem) {
    case 1:
      r->mDisplayFormat = colour ? myDisplayFormatFromBayerFormat(0, r->mBayerFormat) : FOUR_CHAR_CODE("ARGB");
      r->mColourDisplay = 0;
      break;
    case 2:
    case 4:
      r->mDisplayFormat = myDisplayFormatFromBayerFormat(1, r->mBayerFormat);
      r->mColourDisplay = 1;
      break;
    default:
      r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
      r->mColourDisplay = 0;
      break;
  }

  Enable(r, FOUR_CHAR_CODE("AWHB"), 0, false);
  Enable(r, FOUR_CHAR_CODE("SWHB"), 0, false);
  Enable(r, FOUR_CHAR_CODE("PBCR"), 0, false);
  err = myRefreshControls(r);
  if (err == noErr) {
    myRefreshControlsForMono_ColorChanges(r);
    UInt32 pixelFormat = 0, bits = 0;
    ORXDCAMGetFMRLTWHCB(r->mCameraHandle, &r->mFormat, &r->mMode, &r->mFrameRate, &r->mLeft, &r->mTop, &r->mWidth,
                        &r->mHeight, &pixelFormat, &bits);
    myUpdateSoftROIFlags(r);
  }
  return err;
}

// ---------------------------------------------------------------- feature sliders

OSStatus mySetUpDCAMControls(MyCameraWindowDataStruct* r, OSType signature, UInt32 feature, SInt32 selector) {
  if (!r->mControlWindow) return errInvalidWindowRef;
  ControlID cid = {signature, 0};
  ControlRef slider = nullptr;
  OSStatus err = GetControlByID(r->mControlWindow, &cid, &slider);
  if (err != noErr) return err;

  UInt32 minimum = 0, maximum = 0;
  UInt8 onePush = 0, readOut = 0, onOff = 0, autoMode = 0, manual = 0;
  err = ORXDCAMGetPropertyCapability(r->mCameraHandle, SInt32(feature), &minimum, &maximum, &onePush, &readOut, &onOff,
                                     &autoMode, &manual);
  if (err != noErr) {
    DisableControl(slider);
    myChangeControlTxt(r->mControlWindow, signature, 1, "");
    return err;
  }
  const bool shutter = feature == 0x51C && !r->mIsLongExposureCamera;
  if (shutter && !manual) {
    DisableControl(slider);
    return noErr;
  }
  if (!manual || minimum >= maximum || !readOut) {
    DisableControl(slider);
    return noErr;
  }
  if (autoMode) ORXDCAMSetPropertyValue(r->mCameraHandle, feature, 1, 0);
  UInt32 value = 0;
  err = ORXDCAMGetPropertyValue(r->mCameraHandle, SInt32(feature), selector, &value);
  if (err != noErr) {
    DisableControl(slider);
    return noErr;
  }
  if (shutter) {
    value = r->mShutterValue;
    if (r->mAbsoluteShutter) {
      OSStatus rangeErr = myGetIIDCMinMaxExposureTime(r);
      if (rangeErr != noErr) fprintf(stderr, "ORX_ABS_SHUTTER_REG failed  0x%X, %d\n", unsigned(rangeErr), int(rangeErr));
      minimum = 1;
      maximum = 400;
    }
  }
  if (r->mIsLongExposureCamera && feature == 0x508) {
    minimum = 15;
    maximum = 85;
  }
  if (value > maximum) value = maximum;
  if (value < minimum) value = minimum;
  EnableControl(slider);
  mySetUpControlSlider(slider, SInt32(minimum), SInt32(maximum), SInt32(value), SRefCon(r),
                       NewControlActionUPP(myLiveDCamControlProc));
  myLiveDCamControlProc(slider, 0);
  return noErr;
}

OSStatus myRefreshControls(MyCameraWindowDataStruct* r) {
  OSStatus err = noErr;
  const OSType kUorB = FOUR_CHAR_CODE("UorB"), kVorR = FOUR_CHAR_CODE("VorR");
  if (!r->mIsLongExposureCamera) {
    ORXDCAMSetPropertyValue(r->mCameraHandle, 0x504, 0, 0);
    mySetUpDCAMControls(r, kExpo, 0x51C, 0);
    mySetUpDCAMControls(r, FOUR_CHAR_CODE("GAIN"), 0x520, 0);
    mySetUpDCAMControls(r, FOUR_CHAR_CODE("BRIT"), 0x500, 0);
    if (r->mColourDisplay && mySetUpDCAMControls(r, kUorB, 0x50C, 4) == noErr) mySetUpDCAMControls(r, kVorR, 0x50C, 5);
  } else {
    if (!(r->mLongExposureMenu && r->mLongExposure)) err = mySetUpDCAMControls(r, kExpo, 0x504, 0);
    if (err == noErr) err = mySetUpDCAMControls(r, FOUR_CHAR_CODE("GAIN"), 0x520, 0);
    if (err == noErr) err = mySetUpDCAMControls(r, FOUR_CHAR_CODE("BRIT"), 0x500, 0);
    if (err == noErr && r->mColourDisplay) {
      err = mySetUpDCAMControls(r, FOUR_CHAR_CODE("SAT_"), 0x508, 0);
      if (err == noErr) err = mySetUpDCAMControls(r, kUorB, 0x50C, 4);
      if (err == noErr) err = mySetUpDCAMControls(r, kVorR, 0x50C, 5);
    }
    if (err != noErr) return err;
  }
  if (ControlRef gamma = Find(r, FOUR_CHAR_CODE("GAMA"))) {
    mySetUpControlSlider(gamma, 1, 256, SInt32(r->mGamma * 100.0), SRefCon(r),
                         NewControlActionUPP(myLiveDCamControlProc));
    myLiveDCamControlProc(gamma, 0);
    EnableControl(gamma);
  }
  return err;
}

void myRefreshControlsForMono_ColorChanges(MyCameraWindowDataStruct* r) {
  const bool colour = r->mColourDisplay != 0;
  const bool commands = colour && r->mInvert == 0 && r->mRunning;
  Enable(r, FOUR_CHAR_CODE("AWHB"), 0, commands);
  Enable(r, FOUR_CHAR_CODE("SWHB"), 0, commands);
  Enable(r, FOUR_CHAR_CODE("PBCR"), 0, commands);
  Enable(r, FOUR_CHAR_CODE("UorB"), 0, colour);
  Enable(r, FOUR_CHAR_CODE("VorR"), 0, colour);
  Enable(r, FOUR_CHAR_CODE("SAT_"), 0, colour && r->mIsLongExposureCamera);
}
