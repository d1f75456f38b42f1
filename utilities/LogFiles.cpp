#include "utilities/LogFiles.h"

#include <locale.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/CNumericLocale.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "utilities/FileDialogs.h"

namespace {

constexpr size_t kStampBytes = 32;

}  // namespace

void myGetDateTimePaddedString(char* out, SInt32 useUTC, SInt32 fractionalSeconds, SInt32 zeroPad) {
  if (out == nullptr) return;
  const CFAbsoluteTime now = CFAbsoluteTimeGetCurrent();
  CFTimeZoneRef zone = useUTC == 0 ? CFTimeZoneCopySystem() : nullptr;
  const CFGregorianDate date = CFAbsoluteTimeGetGregorianDate(now, zone);
  if (zone != nullptr) CFRelease(zone);

  // The seconds' decimal point is a point in every locale.
  SkyloomCLocaleScope c;
  if (fractionalSeconds != 0) {
    snprintf(out, kStampBytes, "%4d%2d%2d_%2d%2d%5.2f", int(date.year), int(date.month), int(date.day),
             int(date.hour), int(date.minute), double(static_cast<float>(date.second)));
  } else {
    snprintf(out, kStampBytes, "%4d%2d%2d_%2d%2d%2d", int(date.year), int(date.month), int(date.day), int(date.hour),
             int(date.minute), int(std::floor(date.second + 0.5)));
  }
  if (zeroPad != 0) {
    for (char* p = out; *p != '\0'; ++p)
      if (*p == ' ') *p = '0';
  }
}

FILE* myCreateLogFileWriteOnly(const char* message, const char* prefix, UInt32 preferenceKey) {
  char stamp[kStampBytes];
  myGetDateTimePaddedString(stamp, 0, 0, 1);
  const std::string name = std::string(prefix != nullptr ? prefix : "") + stamp + ".txt";
  CFStringRef text = message != nullptr
                         ? CFStringCreateWithCString(kCFAllocatorDefault, message, GetApplicationTextEncoding())
                         : nullptr;
  CFStringRef defaultName = CFStringCreateWithCString(kCFAllocatorDefault, name.c_str(), GetApplicationTextEncoding());
  FILE* file = nullptr;
  if (text != nullptr && defaultName != nullptr && CFStringGetLength(defaultName) > 0) {
    FSRef ref;
    // No type pop-up, no translation items.
    const NavDialogOptionFlags flags = kNavNoTypePopup | kNavDontAddTranslateItems;
    if (myNavServSaveFileFSRef(nullptr, text, defaultName, &ref, FOUR_CHAR_CODE("ttxt"), FOUR_CHAR_CODE("TEXT"), flags,
                               preferenceKey) == noErr)
      file = myFSREF_fopenWriteOnly(&ref);
  }
  if (text) CFRelease(text);
  if (defaultName) CFRelease(defaultName);
  return file;
}
