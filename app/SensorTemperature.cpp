// The sensor temperature: reading it, holding a set point, the set-point
// dialog and the once-a-second display in the control window's histogram
// slot. Kelvin in single precision throughout; the user sees C or F.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/HistogramViews.h"
#include "camera_driver/ORXDCAM.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/EditText.h"

namespace {

constexpr UInt32 kTargetSelector = 6;
constexpr UInt32 kCurrentSelector = 7;
constexpr UInt32 kAutoSelector = 1;
constexpr OSType kUnitSignature = FOUR_CHAR_CODE("METR");
constexpr OSType kRangeSignature = FOUR_CHAR_CODE("MIMX");
constexpr OSType kValueSignature = FOUR_CHAR_CODE("VALU");

struct TemperatureDialog {
  WindowRef window;
  float value;  // Celsius on entry, kelvin after OK
  float minimum;
  float maximum;  // Celsius
  UInt8 celsius;
  OSStatus result;
};

void checkTemperatureItem(MenuItemIndex item, Boolean on) {
  MenuRef menu = GetMenuRef(kMyTemperatureMenuID);
  if (menu != nullptr) CheckMenuItem(menu, item, on);
}

float toFahrenheit(float c) { return c * 1.8f + 32.0f; }

void writeRange(TemperatureDialog* d) {
  char text[128];
  if (d->celsius)
    std::snprintf(text, sizeof(text), "(Min:%.3f C Max:%.3f C)", double(d->minimum), double(d->maximum));
  else
    std::snprintf(text, sizeof(text), "(Min:%.3f F Max:%.3f F)", double(toFahrenheit(d->minimum)),
                  double(toFahrenheit(d->maximum)));
  myChangeControlTxt(d->window, kRangeSignature, 0, text);
}

OSStatus temperatureRange(MyDCAMCameraStruct* handle, UInt32 mode, float* lowK, float* highK) {
  if (mode == 1) {
    UInt32 lo = 0, hi = 0;
    UInt8 onePush, readOut, onOff, autoMode, manual;
    const OSStatus err = ORXDCAMGetPropertyCapability(handle, SInt32(kMyTemperatureFeature), &lo, &hi, &onePush,
                                                      &readOut, &onOff, &autoMode, &manual);
    if (err != noErr) {
      std::fprintf(stderr, "Skyloom :  myGetMinMaxTemperatures : ORXDCAMGetPropertyCapability failed err 0x%X\n",
                   unsigned(err));
      return err;
    }
    *lowK = float(lo) * 0.1f;
    *highK = float(hi) * 0.1f;
    return noErr;
  }
  if (mode == 2) {
    UInt8 readOut, manual;
    const OSStatus err =
        ORXDCAMGetABSPropertyCapability(handle, kMyTemperatureFeature, lowK, highK, &readOut, &manual);
    if (err != noErr)
      std::fprintf(stderr, "Skyloom :  myGetMinMaxTemperatures : ORXDCAMGetABSPropertyCapability failed err 0x%X\n",
                   unsigned(err));
    return err;
  }
  return -2201;
}

}  // namespace

float myCelsiusToKelvin(float celsius) { return celsius + 273.15f; }
float myFahrenheitToKelvin(float fahrenheit) { return (fahrenheit - 32.0f) * 0.5555556f + 273.15f; }

OSStatus myGetCurrentTemperature(MyDCAMCameraStruct* handle, UInt32 mode, float* kelvin) {
  if (mode == 1) {
    UInt32 v = 0;
    const OSStatus err = ORXDCAMGetPropertyValue(handle, SInt32(kMyTemperatureFeature), kCurrentSelector, &v);
    if (err != noErr) {
      std::fprintf(stderr, "Skyloom :  myGetCurrentTemperature : ORXDCAMGetPropertyValue failed err 0x%X\n",
                   unsigned(err));
      return err;
    }
    *kelvin = float(v) * 0.1f;
    return noErr;
  }
  if (mode == 2) {
    float v = 0;
    const OSStatus err = ORXDCAMGetABSPropertyValue(handle, kMyTemperatureFeature, 0, &v);
    if (err != noErr) {
      std::fprintf(stderr, "Skyloom :  myGetCurrentTemperature : ORXDCAMGetABSPropertyValue failed err 0x%X\n",
                   unsigned(err));
      return err;
    }
    *kelvin = v;
    return noErr;
  }
  return -2201;
}

OSStatus mySetMaintainTemperature(MyDCAMCameraStruct* handle, UInt32 mode, double targetKelvin, UInt8 on) {
  checkTemperatureItem(2, on != 0);
  OSStatus err = ORXDCAMSetPropertyValue(handle, kMyTemperatureFeature, kAutoSelector, 0);
  if (err != noErr)
    std::fprintf(stderr, "mySetMaintainTemperature ORXDCAMSetPropertyValue ORX_TEMPERATURE_REG using AUTO_CNTL 0 failed %d 0x%X\n",
                 int(err), unsigned(err));
  if (mode == 1) {
    UInt32 lo = 0, hi = 0;
    UInt8 onePush = 0, readOut = 0, onOff = 0, autoMode = 0, manual = 0;
    err = ORXDCAMGetPropertyCapability(handle, SInt32(kMyTemperatureFeature), &lo, &hi, &onePush, &readOut, &onOff,
                                       &autoMode, &manual);
    if (err != noErr) {
      std::fprintf(stderr, "mySetMaintainTemperature ORXDCAMGetPropertyCapability ORX_TEMPERATURE_REG failed %d 0x%X\n",
                   int(err), unsigned(err));
    } else if (manual) {
      // A negative or huge target is held to the range before the cast.
      const double tenths = targetKelvin * 10.0;
      UInt32 v = tenths <= 0.0 || std::isnan(tenths) ? 0 : tenths >= 4294967295.0 ? 0xFFFFFFFFu : UInt32(tenths);
      if (v < lo) v = lo;
      if (v > hi) v = hi;
      err = ORXDCAMSetPropertyValue(handle, kMyTemperatureFeature, kTargetSelector, v);
      if (err != noErr)
        std::fprintf(stderr,
                     "mySetMaintainTemperature ORXDCAMSetPropertyValue ORX_TEMPERATURE_REG TARGET_TEMP_CNTL failed %d 0x%X\n",
                     int(err), unsigned(err));
    }
  } else if (mode == 2) {
    float lo = 0, hi = 0;
    UInt8 readOut = 0, manual = 0;
    err = ORXDCAMGetABSPropertyCapability(handle, kMyTemperatureFeature, &lo, &hi, &readOut, &manual);
    if (err != noErr) {
      std::fprintf(stderr,
                   "mySetMaintainTemperature ORXDCAMGetABSPropertyCapability ORX_TEMPERATURE_REG failed %d 0x%X\n",
                   int(err), unsigned(err));
    } else if (manual) {
      err = ORXDCAMSetABSPropertyValue(handle, kMyTemperatureFeature, 0, targetKelvin);
    }
  } else {
    err = -2201;
  }
  if (on && err == noErr) {
    err = ORXDCAMSetPropertyValue(handle, kMyTemperatureFeature, kAutoSelector, 1);
    if (err != noErr)
      std::fprintf(stderr,
                   "mySetMaintainTemperature ORXDCAMSetPropertyValue ORX_TEMPERATURE_REG using AUTO_CNTL 1 failed %d 0x%X\n",
                   int(err), unsigned(err));
  }
  return err;
}

OSStatus myInstallTemperatureTimer(MyCameraWindowDataStruct* record) {
  if (record == nullptr) return -1;
  checkTemperatureItem(3, true);
  if (record->mTemperatureTimer != nullptr) {
    // Already shown: a second timer would outlive its record; fire the one there now.
    record->mShowTemperature = 1;
    record->mShownTemperatureK = 0;
    record->mLastTemperatureK = 0;
    return SetEventLoopTimerNextFireTime(record->mTemperatureTimer, 0.0);
  }
  record->mTemperatureTimer = nullptr;
  record->mTemperatureTimerUPP = NewEventLoopTimerUPP(myPostTemperatureTimer);
  if (record->mTemperatureTimerUPP == nullptr) return -108;
  EventLoopTimerRef timer = nullptr;
  const OSStatus err = InstallEventLoopTimer(GetMainEventLoop(), 0.0, 1.0, record->mTemperatureTimerUPP, record, &timer);
  if (err != noErr) {
    DisposeEventLoopTimerUPP(record->mTemperatureTimerUPP);
    record->mTemperatureTimerUPP = nullptr;
  } else {
    record->mTemperatureTimer = timer;
  }
  record->mShowTemperature = 1;
  record->mShownTemperatureK = 0;
  record->mLastTemperatureK = 0;
  return err;
}

void myPostTemperatureTimer(EventLoopTimerRef, void* inUserData) {
  auto* r = static_cast<MyCameraWindowDataStruct*>(inUserData);
  if (r == nullptr) return;
  if (r->mTemperatureMode != 0 && r->mShowTemperature == 1) {
    const OSStatus err = myGetCurrentTemperature(r->mCameraHandle, r->mTemperatureMode, &r->mLastTemperatureK);
    if (err != noErr)
      std::fprintf(stderr, "Skyloom : myPostTemperatureTimer: myGetCurrentTemperature failed %d 0x%X\n", int(err),
                   unsigned(err));
    else if (std::fabs(r->mLastTemperatureK - r->mShownTemperatureK) > 0.1f)
      r->mShownTemperatureK = r->mLastTemperatureK;
  }
  myDrawTemperatureInHistogramSlot(r);
}

void myRemoveTemperatureTimer(MyCameraWindowDataStruct* record) {
  if (record == nullptr) return;
  record->mShowTemperature = 0;
  checkTemperatureItem(3, false);
  if (record->mTemperatureTimer != nullptr) {
    SetEventLoopTimerNextFireTime(record->mTemperatureTimer, kEventDurationForever);
    RemoveEventLoopTimer(record->mTemperatureTimer);
    record->mTemperatureTimer = nullptr;
  }
  if (record->mTemperatureTimerUPP != nullptr) {
    DisposeEventLoopTimerUPP(record->mTemperatureTimerUPP);
    record->mTemperatureTimerUPP = nullptr;
  }
  myDrawTemperatureInHistogramSlot(record);
}

void myDrawTemperatureInHistogramSlot(MyCameraWindowDataStruct* record) {
  if (record == nullptr || record->mControlWindow == nullptr || record->mHistogramShown == 0 ||
      record->mHistogramOption != 0)
    return;
  CGrafPtr port = GetWindowPort(record->mControlWindow);
  CGContextRef ctx = nullptr;
  if (port == nullptr || CreateCGContextForPort(port, &ctx) != noErr || ctx == nullptr) return;
  Rect bounds{};
  GetPortBounds(port, &bounds);
  const Rect& s = record->mHistogramRect;
  const CGFloat hp = bounds.bottom - bounds.top;
  const CGRect inset = CGRectMake(CGFloat(s.left) + 3, hp - CGFloat(s.bottom) + 3, CGFloat(s.right - s.left) - 6,
                                  CGFloat(s.bottom - s.top) - 6);
  CGContextSetRGBFillColor(ctx, 1, 1, 1, 1);
  CGContextFillRect(ctx, inset);
  if (record->mShowTemperature) {
    const double c = double(record->mShownTemperatureK) - 273.15;
    char text[96];
    std::snprintf(text, sizeof(text), "Camera Temp: %.1f C / %.1f F ", c, c * 1.8 + 32.0);
    CGContextSelectFont(ctx, "Lucida Grande", 12, kCGEncodingMacRoman);
    CGContextSetTextDrawingMode(ctx, kCGTextFillStroke);
    CGContextSetRGBFillColor(ctx, 0.8, 0.2, 0.2, 1);
    CGContextSetRGBStrokeColor(ctx, 0.8, 0.2, 0.2, 1);
    CGContextShowTextAtPoint(ctx, inset.origin.x + 20, inset.origin.y + 30, text, std::strlen(text));
  }
  CGContextSynchronize(ctx);
  CGContextRelease(ctx);
}

OSStatus myGetMaintainTemperatureProcHandler(EventHandlerCallRef, EventRef inEvent, void* inUserData) {
  auto* d = static_cast<TemperatureDialog*>(inUserData);
  if (d == nullptr || GetEventClass(inEvent) != kEventClassCommand) return eventNotHandledErr;
  HICommand command{};
  if (GetEventParameter(inEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof(command), nullptr,
                        &command) != noErr)
    return eventNotHandledErr;
  switch (command.commandID) {
    case kHICommandCancel:
      d->result = userCanceledErr;
      QuitAppModalLoopForWindow(d->window);
      return noErr;
    case kUnitSignature:
      d->celsius = d->celsius ? 0 : 1;
      writeRange(d);
      return noErr;
    case kHICommandOK: {
      const float lo = d->celsius ? d->minimum : toFahrenheit(d->minimum);
      const float hi = d->celsius ? d->maximum : toFahrenheit(d->maximum);
      float value = 0;
      const OSStatus err = myTestFloatEditTxt(d->window, kValueSignature, 0, 3, 1, lo, hi, &value);
      if (err != noErr) {
        d->result = err;
        myPostAlertByKeyString("USRER", "BADTEMP");
        return noErr;
      }
      d->value = d->celsius ? myCelsiusToKelvin(value) : myFahrenheitToKelvin(value);
      d->result = noErr;
      QuitAppModalLoopForWindow(d->window);
      return noErr;
    }
    default:
      return eventNotHandledErr;
  }
}

OSStatus myGetMaintainTemperatureGUI(MyCameraWindowDataStruct* record) {
  if (record == nullptr) return paramErr;
  auto* d = static_cast<TemperatureDialog*>(std::calloc(1, sizeof(TemperatureDialog)));
  if (d == nullptr) return memFullErr;
  OSStatus err = myGetCurrentTemperature(record->mCameraHandle, record->mTemperatureMode, &d->value);
  float lowK = 0, highK = 0;
  if (err == noErr) err = temperatureRange(record->mCameraHandle, record->mTemperatureMode, &lowK, &highK);
  if (err != noErr) {
    std::free(d);
    return err;
  }
  d->value -= 273.15f;
  d->minimum = lowK - 273.15f;
  d->maximum = highK - 273.15f;
  d->celsius = 1;
  d->result = userCanceledErr;
  SetThemeCursor(kThemeArrowCursor);

  IBNibRef nib = nullptr;
  err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err == noErr) {
    err = CreateWindowFromNib(nib, CFSTR("EnterTemperature"), &d->window);
    DisposeNibReference(nib);
  }
  if (err == noErr) {
    EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
    EventHandlerUPP upp = NewEventHandlerUPP(myGetMaintainTemperatureProcHandler);
    EventHandlerRef handler = nullptr;
    err = InstallWindowEventHandler(d->window, upp, 1, &commandEvent, d, &handler);
    if (err == noErr) {
      mySetControlValue(d->window, kUnitSignature, 0, d->celsius);
      writeRange(d);
      char text[64];
      std::snprintf(text, sizeof(text), "%.3f", double(d->value));
      myChangeControlTxt(d->window, kValueSignature, 0, text);
      mySetEditTextSelectionAndFocus(d->window, kValueSignature, 0);
      ShowWindow(d->window);
      RunAppModalLoopForWindow(d->window);
      if (d->result == noErr) {
        record->mMaintainTemperature = 1;
        record->mTargetTemperature = d->value;
        const OSStatus setErr =
            mySetMaintainTemperature(record->mCameraHandle, record->mTemperatureMode, d->value, 1);
        if (setErr != noErr) {
          SysBeep(1);
          std::fprintf(stderr, "mySetMaintainTemperature failed err: 0x%X %d\n", unsigned(setErr), int(setErr));
        }
      }
      err = d->result;
      HideWindow(d->window);
      RemoveEventHandler(handler);
    }
    DisposeEventHandlerUPP(upp);
    DisposeWindow(d->window);
  }
  std::free(d);
  SetThemeCursor(kThemeArrowCursor);
  return err;
}
