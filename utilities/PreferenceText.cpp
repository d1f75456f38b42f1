#include "utilities/PreferenceText.h"

#include <locale.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/corefoundation/CFPreferences.h"
#include "platform/coreservices/CNumericLocale.h"
#include "platform/hitoolbox/HIToolbox.h"

OSStatus myWriteOutCFStrForDblApplicationID(CFStringRef applicationID, CFStringRef key, double value) {
  // Widest single-precision value: 39 digits, the point and six decimals.
  char text[64];
  const float rounded = static_cast<float>(value);
  {
    SkyloomCLocaleScope c;
    snprintf(text, sizeof text, "%f", double(rounded));
  }
  CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, text, GetApplicationTextEncoding());
  if (s == nullptr) return memFullErr;
  CFPreferencesSetAppValue(key, s, applicationID);
  CFRelease(s);
  return noErr;
}

OSStatus myVerifyCFStrForApplicationID(CFStringRef applicationID, CFStringRef key, SInt32 checkRange, double min,
                                       double max, double* value) {
  if (value != nullptr) *value = 0.0;
  if (applicationID == nullptr) return kPrefTextMissing;
  CFPropertyListRef stored = CFPreferencesCopyAppValue(key, applicationID);
  if (stored == nullptr) return kPrefTextMissing;

  OSStatus result = noErr;
  char text[256];
  double v = 0.0;
  if (CFGetTypeID(stored) != CFStringGetTypeID() ||
      !CFStringGetCString(static_cast<CFStringRef>(stored), text, sizeof text, GetApplicationTextEncoding())) {
    result = memFullErr;
  } else if (text[0] == '\0') {
    result = kPrefTextEmpty;
  } else {
    v = strtod_l(text, nullptr, SkyloomCNumericLocale());
    // A file edited by hand can say "nan": that is no number, like any other word.
    if (std::isnan(v)) v = 0.0;
    if (std::isinf(v)) result = kPrefTextOverflow;
    else if (checkRange == 1 && (v < min || v > max)) result = kPrefTextOutOfRange;
  }
  CFRelease(stored);
  if (result == noErr && value != nullptr) *value = v;
  return result;
}
