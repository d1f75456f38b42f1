// Camera features: capabilities and values in the camera's raw 12-bit units
// and as absolute (floating-point) values.
//
// A feature is named by its inquiry register's offset from the command base
// (0x500 + 4n); its control register lies 0x300 above, and its absolute
// block (minimum, maximum, value as 32-bit floats) where the capability pass
// of the opening found it. Value writes switch the feature on and, unless a
// selector says otherwise, to manual.
#include "camera_driver/DCAMFeatures.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "camera_driver/DCAMInternal.h"

namespace {

constexpr OSStatus kFeatureMissing = -2201;
constexpr OSStatus kBadValue = paramErr;  // -50

inline UInt32 Field(UInt32 word, int high, int low) { return (word >> low) & ((1u << (high - low + 1)) - 1); }
inline bool InFeatureRange(UInt32 feature) { return feature >= kDCAMFirstFeature && feature <= kDCAMLastFeature; }
inline bool InInquiryRange(UInt32 inquiry, UInt32 value) {
  return value >= Field(inquiry, 23, 12) && value <= Field(inquiry, 11, 0);
}

float FloatFromBits(UInt32 bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

UInt32 BitsFromFloat(float f) {
  UInt32 bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

// The capability bit a common selector needs, and the control bit it moves.
bool CommonBits(SInt32 selector, UInt32* capability, UInt32* control) {
  switch (selector) {
    case kDCAMSelAuto: *capability = kDCAMInqAuto; *control = kDCAMCtlAuto; return true;
    case kDCAMSelOnOff: *capability = kDCAMInqOnOff; *control = kDCAMCtlOn; return true;
    case kDCAMSelOnePush: *capability = kDCAMInqOnePush; *control = kDCAMCtlOnePush; return true;
    default: return false;
  }
}

// Reads the inquiry register of a feature operation: the read status
// passes through, an absent feature is -2201 and an offset outside the
// feature registers -50 (in that order: presence is tested first).
OSStatus ReadFeatureInquiry(MyDCAMCameraStruct* camera, UInt32 feature, UInt32* inquiry) {
  OSStatus err = myGetRegisterQuadlet(camera, feature, inquiry);
  if (err != noErr) return err;
  if (!(*inquiry & kDCAMInqPresent)) return kFeatureMissing;
  if (!InFeatureRange(feature)) return kBadValue;
  return noErr;
}

// Reads the control register, changes it and writes it back; a failed read
// writes nothing.
template <typename Change>
OSStatus ReadModifyWrite(MyDCAMCameraStruct* camera, UInt32 offset, Change change) {
  UInt32 control;
  OSStatus err = myGetRegisterQuadlet(camera, offset, &control);
  if (err != noErr) return err;
  return mySetRegisterQuadlet(camera, offset, change(control));
}

// ---- reading ----

OSStatus GetWhiteBalance(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector,
                         UInt32* value) {
  if (selector != kDCAMSelWhiteBalanceUB && selector != kDCAMSelWhiteBalanceVR)
    return myGetCommonProps(camera, inquiry, feature, selector, value);
  if (!(inquiry & kDCAMInqManual)) return kFeatureMissing;
  UInt32 control;
  OSStatus err = myGetRegisterQuadlet(camera, feature + kDCAMControlOffset, &control);
  if (err != noErr) return err;
  // While the camera balances by itself the halves mean nothing to the caller.
  if (control & kDCAMCtlAuto) return kBadValue;
  *value = selector == kDCAMSelWhiteBalanceUB ? Field(control, 23, 12) : Field(control, 11, 0);
  return noErr;
}

OSStatus GetTemperature(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector,
                        UInt32* value) {
  if (selector != kDCAMSelTemperatureTarget && selector != kDCAMSelTemperatureCurrent)
    return myGetCommonProps(camera, inquiry, feature, selector, value);
  UInt32 control = 0;
  OSStatus err = myGetRegisterQuadlet(camera, feature + kDCAMControlOffset, &control);
  if (selector == kDCAMSelTemperatureTarget) {
    if (err == noErr) *value = Field(control, 23, 12);
    return err;
  }
  // The current temperature is handed back whatever the read answered.
  *value = Field(control, 11, 0);
  return err;
}

OSStatus GetTrigger(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector, UInt32* value) {
  int high, low;
  switch (selector) {
    case kDCAMSelOnOff: return myGetCommonProps(camera, inquiry, feature, selector, value);
    case kDCAMSelTriggerPolarity:
      if (!(inquiry & kDCAMInqAuto)) return kFeatureMissing;
      high = low = 24;
      break;
    case kDCAMSelTriggerMode: high = 19, low = 16; break;
    case kDCAMSelTriggerParameter: high = 11, low = 0; break;
    case kDCAMSelTriggerSource: high = 23, low = 21; break;
    default: return kFeatureMissing;
  }
  UInt32 control;
  OSStatus err = myGetRegisterQuadlet(camera, feature + kDCAMControlOffset, &control);
  if (err != noErr) return err;
  *value = Field(control, high, low);
  return noErr;
}

// ---- writing ----

OSStatus SetWhiteBalance(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector,
                         UInt32 value) {
  if (selector != kDCAMSelWhiteBalanceUB && selector != kDCAMSelWhiteBalanceVR)
    return mySetCommonProps(camera, inquiry, feature, selector, value);
  if (!(inquiry & kDCAMInqManual)) return kFeatureMissing;
  if (!InInquiryRange(inquiry, value)) return kBadValue;
  // One half changes; the other stays as the camera reports it.
  return ReadModifyWrite(camera, feature + kDCAMControlOffset, [&](UInt32 control) {
    if (selector == kDCAMSelWhiteBalanceUB)
      control = (control & ~0x00FFF000u) | ((value & 0xFFF) << 12);
    else
      control = (control & ~0x00000FFFu) | (value & 0xFFF);
    return (control & ~kDCAMCtlAuto) | kDCAMCtlWritten;
  });
}

OSStatus SetTemperature(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector,
                        UInt32 value) {
  if (selector != kDCAMSelTemperatureTarget) return mySetCommonProps(camera, inquiry, feature, selector, value);
  // Only a camera whose set point can be chosen by hand takes one.
  if (!(inquiry & kDCAMInqManual)) return kFeatureMissing;
  if (!InInquiryRange(inquiry, value)) return kBadValue;
  // The current-temperature bits are the camera's own: written as 0.
  return mySetRegisterQuadlet(camera, feature + kDCAMControlOffset, ((value << 12) & 0x00FFF000u) | kDCAMCtlWritten);
}

OSStatus SetTrigger(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector, UInt32 value) {
  const UInt32 control = feature + kDCAMControlOffset;
  switch (selector) {
    case kDCAMSelOnOff: return mySetCommonProps(camera, inquiry, feature, selector, value);
    case kDCAMSelTriggerPolarity:
      if (!(inquiry & kDCAMInqAuto)) return kFeatureMissing;
      return ReadModifyWrite(camera, control, [&](UInt32 c) {
        c |= kDCAMCtlWritten;
        return value == 1 ? c | kDCAMCtlAuto : c & ~kDCAMCtlAuto;
      });
    case kDCAMSelTriggerMode:
      if (value > 15) return kBadValue;
      if (!((inquiry >> (15 - value)) & 1)) return kFeatureMissing;
      // The mode write leaves the polarity bit clear.
      return ReadModifyWrite(camera, control,
                             [&](UInt32 c) { return (c & 0x00F0FFFFu) | (value << 16) | kDCAMCtlWritten; });
    case kDCAMSelTriggerParameter:
      return ReadModifyWrite(camera, control,
                             [&](UInt32 c) { return (c & 0x00FFF000u) | (value & 0xFFF) | kDCAMCtlWritten; });
    case kDCAMSelTriggerSource:
      if (value > 3) return kBadValue;
      if (!((inquiry >> (23 - value)) & 1)) return kFeatureMissing;
      return ReadModifyWrite(camera, control,
                             [&](UInt32 c) { return (c & ~0x00E00000u) | (value << 21) | kDCAMCtlWritten; });
    default: return kFeatureMissing;
  }
}

// The absolute block of a feature: -2201 when the offset is none of the
// twenty features or the camera has no block for it.
OSStatus AbsoluteBlock(const MyDCAMCameraStruct* camera, UInt32 feature, UInt32* block) {
  int index = myFeatureIndex(feature);
  if (index < 0 || camera->mAbsOffset[index] == 0) return kFeatureMissing;
  *block = camera->mAbsOffset[index];
  return noErr;
}

OSStatus ReadFloat(MyDCAMCameraStruct* camera, UInt32 offset, float* value) {
  UInt32 bits;
  OSStatus err = myGetRegisterQuadlet(camera, offset, &bits);
  if (err == noErr) *value = FloatFromBits(bits);
  return err;
}

}  // namespace

int myFeatureIndex(UInt32 feature) {
  for (int i = 0; i < int(kDCAMFeatureCount); i++)
    if (kDCAMFeatureInquiry[i] == feature) return i;
  return -1;
}

OSStatus myGetCommonProps(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector,
                          UInt32* value) {
  UInt32 capability, bit;
  if (!CommonBits(selector, &capability, &bit) || !(inquiry & capability)) return kFeatureMissing;
  UInt32 control;
  OSStatus err = myGetRegisterQuadlet(camera, feature + kDCAMControlOffset, &control);
  if (err != noErr) return err;
  *value = (control & bit) ? 1 : 0;
  return noErr;
}

OSStatus mySetCommonProps(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector,
                          UInt32 value) {
  UInt32 capability, bit;
  if (!CommonBits(selector, &capability, &bit) || !(inquiry & capability)) return kFeatureMissing;
  return ReadModifyWrite(camera, feature + kDCAMControlOffset,
                         [&](UInt32 control) { return value ? control | bit : control & ~bit; });
}

OSStatus ORX_DCAM_GetPropertyCapability(MyDCAMCameraStruct* camera, SInt32 feature, UInt32* min, UInt32* max,
                                        UInt8* onePush, UInt8* readOut, UInt8* onOff, UInt8* autoMode,
                                        UInt8* manual) {
  if (!camera) return kIOReturnNoDevice;
  if (!min || !max || !onePush || !readOut || !onOff || !autoMode || !manual) return kBadValue;
  UInt32 inquiry;
  OSStatus err = ReadFeatureInquiry(camera, UInt32(feature), &inquiry);
  if (err != noErr) return err;
  *readOut = UInt8(Field(inquiry, 27, 27));
  *onOff = UInt8(Field(inquiry, 26, 26));
  *autoMode = UInt8(Field(inquiry, 25, 25));
  if (UInt32(feature) == kDCAMTriggerInquiry) {
    // Modes 0..3 are the bits 15..12; a camera with none of them has no
    // mode to choose by hand.
    *onePush = 0;
    *min = 0;
    *max = Field(inquiry, 15, 12);
    *manual = *max != 0 ? 1 : 0;
    return noErr;
  }
  *onePush = UInt8(Field(inquiry, 28, 28));
  *manual = UInt8(Field(inquiry, 24, 24));
  *min = Field(inquiry, 23, 12);
  *max = Field(inquiry, 11, 0);
  return noErr;
}

OSStatus ORX_DCAM_GetPropertyValue(MyDCAMCameraStruct* camera, SInt32 feature, SInt32 selector, UInt32* value) {
  if (!camera) return kIOReturnNoDevice;
  if (!value) return kBadValue;
  UInt32 inquiry;
  const UInt32 f = UInt32(feature);
  OSStatus err = ReadFeatureInquiry(camera, f, &inquiry);
  if (err != noErr) return err;
  switch (f) {
    case kDCAMWhiteBalanceInquiry: return GetWhiteBalance(camera, inquiry, f, selector, value);
    case kDCAMTemperatureInquiry: return GetTemperature(camera, inquiry, f, selector, value);
    case kDCAMTriggerInquiry: return GetTrigger(camera, inquiry, f, selector, value);
    default: break;
  }
  if (selector != kDCAMSelValue) return myGetCommonProps(camera, inquiry, f, selector, value);
  if (!(inquiry & kDCAMInqManual)) return kFeatureMissing;
  UInt32 control;
  err = myGetRegisterQuadlet(camera, f + kDCAMControlOffset, &control);
  if (err != noErr) return err;
  *value = Field(control, 11, 0);
  return noErr;
}

OSStatus ORX_DCAM_SetPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, SInt32 selector, UInt32 value) {
  if (!camera) return kIOReturnNoDevice;
  UInt32 inquiry;
  OSStatus err = ReadFeatureInquiry(camera, feature, &inquiry);
  if (err != noErr) return err;
  switch (feature) {
    case kDCAMWhiteBalanceInquiry: return SetWhiteBalance(camera, inquiry, feature, selector, value);
    case kDCAMTemperatureInquiry: return SetTemperature(camera, inquiry, feature, selector, value);
    case kDCAMTriggerInquiry: return SetTrigger(camera, inquiry, feature, selector, value);
    default: break;
  }
  if (selector != kDCAMSelValue) return mySetCommonProps(camera, inquiry, feature, selector, value);
  if (!(inquiry & kDCAMInqManual)) return kFeatureMissing;
  if (!InInquiryRange(inquiry, value)) return kBadValue;
  return mySetRegisterQuadlet(camera, feature + kDCAMControlOffset, (value & 0xFFF) | kDCAMCtlWritten);
}

OSStatus ORX_DCAM_GetABSPropertyCapability(MyDCAMCameraStruct* camera, UInt32 feature, float* min, float* max,
                                           UInt8* readOut, UInt8* manual) {
  if (!camera) return kIOReturnNoDevice;
  if (!min || !max || !readOut || !manual) return kBadValue;
  *min = *max = 0.0f;
  *readOut = *manual = 0;
  UInt32 block;
  OSStatus err = AbsoluteBlock(camera, feature, &block);
  if (err != noErr) return err;
  UInt32 inquiry;
  err = myGetRegisterQuadlet(camera, feature, &inquiry);
  if (err != noErr) return err;
  *readOut = UInt8(Field(inquiry, 27, 27));
  *manual = UInt8(Field(inquiry, 24, 24));
  err = ReadFloat(camera, block + 0, min);
  if (err != noErr) return err;
  return ReadFloat(camera, block + 4, max);
}

OSStatus ORX_DCAM_GetABSPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, UInt32 selector, float* value) {
  if (!camera) return kIOReturnNoDevice;
  if (!value) return kBadValue;
  *value = 0.0f;
  UInt32 block;
  OSStatus err = AbsoluteBlock(camera, feature, &block);
  if (err != noErr) return err;
  if (selector == UInt32(kDCAMSelValue)) return ReadFloat(camera, block + 8, value);
  if (selector != UInt32(kDCAMSelAbsoluteMode)) return kFeatureMissing;
  // Whether the camera takes the absolute value now: the control register's
  // absolute-on bit.
  UInt32 control;
  err = myGetRegisterQuadlet(camera, feature + kDCAMControlOffset, &control);
  if (err != noErr) return err;
  *value = (control & kDCAMCtlAbsolute) ? 1.0f : 0.0f;
  return noErr;
}

OSStatus ORX_DCAM_SetABSPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, UInt32 selector, double value) {
  if (!camera) return kIOReturnNoDevice;
  UInt32 block;
  OSStatus err = AbsoluteBlock(camera, feature, &block);
  if (err != noErr) return err;
  if (selector == UInt32(kDCAMSelAbsoluteMode)) {
    if (std::isnan(value)) return kBadValue;
    return ReadModifyWrite(camera, feature + kDCAMControlOffset, [&](UInt32 control) {
      return value < 0.5 ? control & ~kDCAMCtlAbsolute : control | kDCAMCtlAbsolute;
    });
  }
  if (selector != UInt32(kDCAMSelValue)) return kFeatureMissing;
  // A value that is no number has no place in the camera's range.
  if (std::isnan(value)) return kBadValue;
  float min, max;
  if ((err = ReadFloat(camera, block + 0, &min)) != noErr) return err;
  if ((err = ReadFloat(camera, block + 4, &max)) != noErr) return err;
  float written = float(std::clamp(value, double(-FLT_MAX), double(FLT_MAX)));
  if (value < double(min)) written = min;
  else if (value > double(max)) written = max;
  return mySetRegisterQuadlet(camera, block + 8, BitsFromFloat(written));
}
