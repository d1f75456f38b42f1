#include "utilities/EditText.h"

#include <locale.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/coreservices/CNumericLocale.h"
#include "utilities/Controls.h"

namespace {

// Holds v to [lo, hi] (NaN gives 0), then truncates toward zero.
template <typename T>
T saturatingTruncate(double v, double lo, double hi) {
  if (std::isnan(v)) return 0;
  if (v <= lo) return T(lo);
  if (v >= hi) return T(hi);
  return T(std::trunc(v));
}

// The refusal shared by the testers: the replacement is min unless the
// number read is above min. Writes the field with text and beeps.
void refuseWith(WindowRef window, OSType signature, SInt32 id, const char* text) {
  myChangeControlTxt(window, signature, id, text);
  SysBeep(1);
}

// Reads the field as the integer testers do: the number held to the type's
// range [lo, hi] before the range check, so that no conversion runs out of
// range. Returns 1 when accepted; *held is the held number (0 for no number).
SInt32 readHeld(ControlRef control, SInt32 checkRange, double min, double max, double lo, double hi, double* held) {
  double v = 0.0;
  SInt32 ok = myIsStringOkay(control, 0, min, max, &v);
  if (v < lo) v = lo;
  if (v > hi) v = hi;
  *held = v;
  if (!ok) return 0;
  if (checkRange == 1 && (v < min || v > max)) return 0;
  return 1;
}

}  // namespace

void myFormatEditTextValue(double value, UInt32 decimals, char* out, size_t outSize) {
  if (!out || outSize == 0) return;
  SkyloomCLocaleScope c;
  if (decimals == 0)
    snprintf(out, outSize, "%d", saturatingTruncate<int>(value, INT32_MIN, INT32_MAX));
  else if (decimals <= 6)
    snprintf(out, outSize, "%.*f", int(decimals), value);
  else
    snprintf(out, outSize, "%f", value);
}

SInt32 myIsStringOkay(ControlRef control, SInt32 checkRange, double min, double max, double* value) {
  CFStringRef text = nullptr;
  if (GetControlData(control, kControlEntireControl, kControlEditTextCFStringTag, sizeof text, &text, nullptr) != noErr ||
      !text)
    return 0;
  char buffer[255];
  Boolean converted = CFStringGetCString(text, buffer, sizeof buffer, GetApplicationTextEncoding());
  CFRelease(text);
  if (!converted || buffer[0] == '\0') return 0;
  char* end = nullptr;
  double v;
  {
    SkyloomCLocaleScope c;
    v = strtod(buffer, &end);
  }
  // Zero counts only when all the text was read ("0" passes, "abc" and "0x"
  // do not); other numbers may be followed by text ("12abc" is 12). An
  // overflow (an infinity) and NaN are no numbers.
  if (v == 0.0 && *end != '\0') return 0;
  if (std::isinf(v) || std::isnan(v)) return 0;
  if (value) *value = v;
  if (checkRange == 1 && (v < min || v > max)) return 0;
  return 1;
}

OSStatus myTestFloatEditTxt(WindowRef window, OSType signature, SInt32 id, UInt32 decimals, SInt32 checkRange,
                            float min, float max, float* value) {
  ControlID cid = {signature, id};
  ControlRef control = nullptr;
  OSStatus err = GetControlByID(window, &cid, &control);
  if (err != noErr) return err;
  double v = 0.0;
  SInt32 ok = myIsStringOkay(control, checkRange, min, max, &v);
  // A number beyond the float range would be stored as an infinity: it is an
  // overflow like any other.
  if (ok && std::fabs(v) > double(FLT_MAX)) ok = 0;
  if (ok) {
    if (value) *value = float(v);
    return noErr;
  }
  if (checkRange == 0) {
    SysBeep(1);
    return paramErr;
  }
  float replacement = v > double(min) ? max : min;
  if (value) *value = replacement;
  char text[64];
  myFormatEditTextValue(replacement, decimals, text, sizeof text);
  refuseWith(window, signature, id, text);
  return paramErr;
}

OSStatus myTestU32EditTxt(WindowRef window, OSType signature, SInt32 id, SInt32 checkRange, UInt32 min, UInt32 max,
                          UInt32* value) {
  ControlID cid = {signature, id};
  ControlRef control = nullptr;
  OSStatus err = GetControlByID(window, &cid, &control);
  if (err != noErr) return err;
  double held = 0.0;
  if (readHeld(control, checkRange, min, max, 0.0, 4294967295.0, &held)) {
    if (value) *value = saturatingTruncate<UInt32>(held, 0.0, 4294967295.0);
    return noErr;
  }
  if (checkRange == 0) {
    SysBeep(1);
    return paramErr;
  }
  UInt32 replacement = held > double(min) ? max : min;
  if (value) *value = replacement;
  char text[32];
  snprintf(text, sizeof text, "%u", unsigned(replacement));
  refuseWith(window, signature, id, text);
  return paramErr;
}

OSStatus myTestS32EditTxt(WindowRef window, OSType signature, SInt32 id, SInt32 checkRange, SInt32 min, SInt32 max,
                          SInt32* value) {
  ControlID cid = {signature, id};
  ControlRef control = nullptr;
  OSStatus err = GetControlByID(window, &cid, &control);
  if (err != noErr) return err;
  double held = 0.0;
  if (readHeld(control, checkRange, min, max, -2147483648.0, 2147483647.0, &held)) {
    if (value) *value = saturatingTruncate<SInt32>(held, -2147483648.0, 2147483647.0);
    return noErr;
  }
  if (checkRange == 0) {
    SysBeep(1);
    return paramErr;
  }
  SInt32 replacement = held > double(min) ? max : min;
  if (value) *value = replacement;
  char text[32];
  snprintf(text, sizeof text, "%d", int(replacement));
  refuseWith(window, signature, id, text);
  return paramErr;
}
