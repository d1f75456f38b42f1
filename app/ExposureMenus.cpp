// The exposure pop-up's long items, the exposure arrows, the live action of
// the feature sliders and the automatic-exposure measurement.
#include <atomic>
#include <cmath>
#include <cstdio>

#include "app/ExposureControls.h"
#include "camera_driver/ORXDCAM.h"
#include "pixel/PixelOps.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

namespace {

constexpr OSType kExpo = FOUR_CHAR_CODE("EXPO");
constexpr UInt32 kShutter = 0x51C;

MyCameraWindowDataStruct* RecordOf(ControlRef control) {
  auto* r = reinterpret_cast<MyCameraWindowDataStruct*>(GetControlReference(control));
  if (!r || r->mKind != kMyCameraWindowDataKind) return nullptr;
  return r;
}

// Slider value of the absolute shutter -> ms, as the slider writes it.
double AbsoluteSliderMS(const MyCameraWindowDataStruct* r, UInt32 v) {
  return double(float(r->mAbsShutterMin + float(r->mAbsShutterMax - r->mAbsShutterMin) * float(v) * 0.0025f));
}

}  // namespace

// ---------------------------------------------------------------- exposure menu

void myAppendMenuTime(MenuRef menu, double value, UInt32 unit) {
  static const char* const kUnits[] = {"MILLISECOND", "SECOND", "MINUTE", "HOUR"};
  char number[64];
  snprintf(number, sizeof number, "%.2f ", double(float(value)));
  CFStringRef head = CFStringCreateWithCString(kCFAllocatorDefault, number, kCFStringEncodingUTF8);
  if (!head) return;
  CFStringRef tail = unit < 4 ? myGetLocalizedCFString(kUnits[unit]) : CFSTR(" ");
  if (!tail) {
    CFRelease(head);
    return;
  }
  CFMutableStringRef text = myCreatCFstrcat(head, tail);
  CFRelease(head);
  if (unit < 4) CFRelease(tail);
  if (!text) return;
  AppendMenuItemTextWithCFString(menu, text, 0, 0, nullptr);
  CFRelease(text);
}

void mySetUpIIDC_CCDExpTimeMenu(MenuRef menu, double longest) {
  if (!menu) return;
  for (UInt16 n = CountMenuItems(menu); n > 7; n--) DeleteMenuItem(menu, n);
  if (longest >= 266.66) {
    char text[64];
    snprintf(text, sizeof text, "%.2f ", double(266.66f));
    CFStringRef head = CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
    CFStringRef unit = myGetLocalizedCFString("MILLISECOND");
    if (head && unit) {
      CFMutableStringRef item = myCreatCFstrcat(head, unit);
      if (item) {
        SetMenuItemTextWithCFString(menu, 7, item);
        CFRelease(item);
      }
    }
    if (head) CFRelease(head);
    if (unit) CFRelease(unit);
    EnableMenuItem(menu, 7);

    for (double ms : {533.33, 750.0})
      if (longest >= ms) myAppendMenuTime(menu, ms, 0);
    const double seconds = longest * 0.001;
    for (double s : {1.0, 2.0, 3.0, 4.0, 5.0, 7.5, 10.0, 15.0, 20.0, 25.0, 30.0, 35.0, 40.0, 45.0, 50.0, 55.0, 60.0,
                     75.0, 90.0, 105.0, 120.0, 150.0})
      if (seconds >= s) myAppendMenuTime(menu, s, 1);
    for (double m : {3.0,  4.0,  5.0,  6.0,  7.0,  8.0,  9.0,  10.0, 11.0, 12.0, 13.0, 14.0, 15.0, 16.0, 17.0, 18.0,
                     19.0, 20.0, 21.0, 22.0, 23.0, 24.0, 25.0, 30.0, 35.0, 40.0, 45.0, 50.0, 55.0, 60.0})
      if (seconds >= m * 60.0) myAppendMenuTime(menu, m, 2);
  }
  myAppendMenuCString(menu, "Other...");
  const UInt16 last = CountMenuItems(menu);
  for (UInt16 i = 9; i <= last; i++) DisableMenuItem(menu, i);
  DisableMenuItem(menu, last);
}

// ---------------------------------------------------------------- arrows

OSStatus mySetExposureArrowControllerMinMaxValue(MyCameraWindowDataStruct* r) {
  if (!r->mAbsoluteShutter || std::atomic_ref<UInt32>(r->mLongExposure).load() != 0) {
    if (r->mControlWindow) myEnableDisableControl(r->mControlWindow, kExpo, 2, 0);
    return noErr;
  }
  ControlID id = {kExpo, 2};
  ControlRef arrows = nullptr;
  OSStatus err = r->mControlWindow ? GetControlByID(r->mControlWindow, &id, &arrows) : errInvalidWindowRef;
  if (err != noErr) {
    fprintf(stderr, "mySetExposureArrowControllerMinMaxValue failed err %d\n", int(err));
    return err;
  }
  SetControl32BitMinimum(arrows, SInt32(r->mAbsShutterMin * 10.0f));
  SetControl32BitMaximum(arrows, SInt32(r->mAbsShutterMax * 10.0f));
  SetControl32BitValue(arrows, SInt32(r->mAbsShutterValue * 10.0f));
  EnableControl(arrows);
  Draw1Control(arrows);
  return noErr;
}

void myDoExposureArrowChangeProc(ControlRef control, ControlPartCode part) {
  SInt32 step;
  if (part == kControlUpButtonPart)
    step = 1;
  else if (part == kControlDownButtonPart)
    step = -1;
  else
    return;
  const SInt32 value = GetControl32BitValue(control) + step;
  if (value < GetControl32BitMinimum(control) || value > GetControl32BitMaximum(control)) return;
  SetControl32BitValue(control, value);
  MyCameraWindowDataStruct* r = RecordOf(control);
  if (!r) return;
  const double ms = value * 0.1;
  if (r->mAbsoluteShutter) ORXDCAMSetABSPropertyValue(r->mCameraHandle, kShutter, 0, float(value * 0.0001));
  r->mAbsShutterValue = float(ms);
  SInt32 position = 1;
  const double span = double(r->mAbsShutterMax) - double(r->mAbsShutterMin);
  if (span > 0.0) {
    const double p = (ms - r->mAbsShutterMin) / span * 399.0;
    position = p < 0.0 ? 1 : p > 399.0 ? 400 : SInt32(p) + 1;
  }
  if (r->mControlWindow) {
    mySetControlValue(r->mControlWindow, kExpo, 0, position);
    char text[64];
    snprintf(text, sizeof text, "%5.2f ms", double(r->mAbsShutterValue));
    myChangeControlTxt(r->mControlWindow, kExpo, 1, text);
  }
}

// ---------------------------------------------------------------- live sliders

void myLiveDCamControlProc(ControlRef control, ControlPartCode) {
  MyCameraWindowDataStruct* r = RecordOf(control);
  if (!r) return;
  ControlID id = {0, 0};
  GetControlID(control, &id);
  const SInt32 value = GetControl32BitValue(control);
  char text[64];
  UInt32 feature;
  SInt32 selector = 0;
  switch (id.signature) {
    case FOUR_CHAR_CODE("GAMA"): {
      const double gamma = value * 0.01;
      if (r->mBitsPerPixel == 8)
        myCalculateGamma8Bit(r, gamma);
      else
        myCalculateGamma16Bit(r, gamma);
      snprintf(text, sizeof text, "%.2f", gamma);
      myChangeControlTxt(r->mControlWindow, id.signature, 1, text);
      return;
    }
    case FOUR_CHAR_CODE("EXPO"):
      mySetCCDExposTime(r, UInt32(value));
      if (r->mAbsoluteShutter && std::atomic_ref<UInt32>(r->mLongExposure).load() == 0)
        mySetControlValue(r->mControlWindow, kExpo, 2, SInt32(r->mAbsShutterValue * 10.0f));
      return;
    case FOUR_CHAR_CODE("GAIN"): feature = 0x520; break;
    case FOUR_CHAR_CODE("BRIT"): feature = 0x500; break;
    case FOUR_CHAR_CODE("UorB"): feature = 0x50C; selector = 4; break;
    case FOUR_CHAR_CODE("VorR"): feature = 0x50C; selector = 5; break;
    case FOUR_CHAR_CODE("SAT_"):
      if (!r->mIsLongExposureCamera) return;
      feature = 0x508;
      break;
    default: return;
  }
  const OSStatus err = ORXDCAMSetPropertyValue(r->mCameraHandle, feature, selector, UInt32(value));
  if (err == noErr)
    snprintf(text, sizeof text, "%d", int(value));
  else
    snprintf(text, sizeof text, "Err = 0x%X %d", unsigned(err), int(err));
  myChangeControlTxt(r->mControlWindow, id.signature, 1, text);
}

// ---------------------------------------------------------------- automatic exposure

void myAnalyzeCCDExposure(MyCameraWindowDataStruct* r, const void* frame) {
  std::atomic_ref<UInt8> ready(r->mAutoExposureReady);
  std::atomic_ref<UInt8> pending(r->mAutoExposurePending);
  std::atomic_ref<UInt32> count(r->mAutoExposureFrameCount);
  std::atomic_ref<float> target(r->mAutoExposureTarget);
  std::atomic_ref<float> measured(r->mAutoExposureMeasured);
  auto measure = [&] {
    float p = 0.0f;
    if (r->mBitsPerPixel == 8)
      myGet8BitPercentage(static_cast<const UInt8*>(frame), r->mWidth, r->mHeight, &p);
    else
      myGet16BitPercentage(static_cast<const UInt16*>(frame), r->mWidth, r->mHeight, &p);
    return p;
  };

  if (ready.load() == 0) {
    pending.store(0);
    const float p = measure();
    const UInt32 n = count.load();
    if (n <= 3) {
      target.store(target.load() + p);
      count.store(n + 1);
    } else {
      float t = target.load() * 0.25f;
      if (t < 0.01f) t = 0.01f;
      target.store(t);
      measured.store(0.0f);
      ready.store(1);
    }
    return;
  }

  const UInt32 n = count.load();
  if (n <= 2) {
    count.store(n + 1);
    return;
  }
  const float p = measure();
  if (p <= 0.01f) {
    count.store(0);
    return;
  }
  const float t = target.load();
  if (t > 3.0f && std::fabs(p - t) < 2.0f) return;
  const double ratio = double(t) / double(p);
  const UInt32 s = r->mShutterValue;
  bool due = false;
  if (r->mIsLongExposureCamera) {
    const UInt32 code = r->mExposureRateItem;
    const double wanted = ratio * myCalcTSLV1501SliderValToExposTimeMS(s, code);
    const UInt32 lo = s == 0 ? 0 : s - 1;
    const UInt32 hi = s > 511 ? 512 : s + 1;
    due = (wanted <= myCalcTSLV1501SliderValToExposTimeMS(lo, code) && s != 0) ||
          (wanted >= myCalcTSLV1501SliderValToExposTimeMS(hi, code) && s <= 511);
  } else if (r->mAbsoluteShutter) {
    const double wanted = ratio * r->mAbsShutterValue;
    const UInt32 lo = s <= 1 ? 1 : s - 1;
    const UInt32 hi = s > 399 ? 400 : s + 1;
    due = (wanted <= AbsoluteSliderMS(r, lo) && s > 1) || (wanted >= AbsoluteSliderMS(r, hi) && s <= 399);
  }
  if (due) {
    measured.store(p);
    pending.store(1);
  }
}
