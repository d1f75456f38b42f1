#include "photometry/SkyPositionFields.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "utilities/Controls.h"
#include "utilities/EditText.h"

namespace {

// Whole seconds print without decimals; a fraction above 0.01 as "%.2f".
void secondsText(double seconds, char* out, size_t size) {
  if (seconds - std::trunc(seconds) > 0.01)
    snprintf(out, size, "%.2f", seconds);
  else
    snprintf(out, size, "%d", int(seconds));
}

void fillSexagesimal(WindowRef w, OSType units, OSType minutes, OSType seconds, double value,
                     ControlKeyFilterUPP filter, SRefCon refCon) {
  const double whole = std::trunc(value / 3600.0);
  double rest = value - whole * 3600.0;
  const double mins = std::trunc(rest / 60.0);
  rest -= mins * 60.0;
  char text[32];
  snprintf(text, sizeof text, "%d", int(whole));
  mySetUpKeyFilterEditTextField(w, units, 0, text, filter, refCon);
  snprintf(text, sizeof text, "%d", int(mins));
  mySetUpKeyFilterEditTextField(w, minutes, 0, text, filter, refCon);
  secondsText(rest, text, sizeof text);
  mySetUpKeyFilterEditTextField(w, seconds, 0, text, filter, refCon);
}

}  // namespace

void myFillSkyPositionFields(WindowRef w, const MySkyPositionFields& f, float ra, float dec,
                             ControlKeyFilterUPP filter, SRefCon refCon) {
  fillSexagesimal(w, f.hours, f.minutes, f.seconds, double(ra * 0.06666667f), filter, refCon);
  mySetUpKeyFilterEditTextField(w, f.hemisphere, 0, dec < 0.0f ? "S" : "N", filter, refCon);
  fillSexagesimal(w, f.degrees, f.arcMinutes, f.arcSeconds, std::fabs(double(dec)), filter, refCon);
}

bool myTestSkyPositionFieldOnKey(WindowRef w, const MySkyPositionFields& f, OSType signature, SInt32 id) {
  float value = 0.0f;
  SInt32 whole = 0;
  if (signature == f.hours) {
    myTestS32EditTxt(w, signature, id, 1, 0, 23, &whole);
  } else if (signature == f.minutes || signature == f.seconds || signature == f.arcMinutes ||
             signature == f.arcSeconds) {
    myTestFloatEditTxt(w, signature, id, 3, 1, 0.0f, 59.99999f, &value);
  } else if (signature == f.degrees) {
    myTestFloatEditTxt(w, signature, id, 3, 1, 0.0f, 90.0f, &value);
  } else if (signature == f.hemisphere) {
    char letter[255] = "";
    myGetControlTextCString(w, signature, id, letter);
    if (std::strlen(letter) != 1 || std::strchr("NnSs", letter[0]) == nullptr) {
      SysBeep(1);
      myChangeControlTxt(w, signature, id, "N");
    }
  } else {
    return false;
  }
  return true;
}

OSStatus myReadSkyPositionFields(WindowRef w, const MySkyPositionFields& f, float* ra, float* dec) {
  SInt32 hours = 0;
  float minutes = 0.0f, seconds = 0.0f, degrees = 0.0f, arcMinutes = 0.0f, arcSeconds = 0.0f;
  if (myTestS32EditTxt(w, f.hours, 0, 1, 0, 23, &hours) != noErr ||
      myTestFloatEditTxt(w, f.minutes, 0, 3, 1, 0.0f, 59.9999f, &minutes) != noErr ||
      myTestFloatEditTxt(w, f.seconds, 0, 3, 1, 0.0f, 59.9999f, &seconds) != noErr)
    return paramErr;
  const float raValue = (float(hours) * 3600.0f + minutes * 60.0f + seconds) * 15.0f;
  if (std::fabs(raValue) > 1296000.0f) return paramErr;
  if (myTestFloatEditTxt(w, f.degrees, 0, 3, 1, 0.0f, 90.0f, &degrees) != noErr ||
      myTestFloatEditTxt(w, f.arcMinutes, 0, 3, 1, 0.0f, 59.999f, &arcMinutes) != noErr ||
      myTestFloatEditTxt(w, f.arcSeconds, 0, 3, 1, 0.0f, 59.999f, &arcSeconds) != noErr)
    return paramErr;
  float decValue = degrees * 3600.0f + arcMinutes * 60.0f + arcSeconds;
  char letter[255] = "";
  myGetControlTextCString(w, f.hemisphere, 0, letter);
  if (std::strcmp(letter, "S") == 0 || std::strcmp(letter, "s") == 0) decValue = -decValue;
  if (std::fabs(decValue) > 324000.0f) return paramErr;
  if (ra) *ra = raValue;
  if (dec) *dec = decValue;
  return noErr;
}
