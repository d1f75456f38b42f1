#include "utilities/LogFiles.h"

#include <locale.h>

#include <cmath>
#include <cstdio>

#include "platform/corefoundation/CoreFoundation.h"

namespace {

constexpr size_t kStampBytes = 32;

locale_t CNumericLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

}  // namespace

void myGetDateTimePaddedString(char* out, SInt32 useUTC, SInt32 fractionalSeconds, SInt32 zeroPad) {
  if (out == nullptr) return;
  const CFAbsoluteTime now = CFAbsoluteTimeGetCurrent();
  CFTimeZoneRef zone = useUTC == 0 ? CFTimeZoneCopySystem() : nullptr;
  const CFGregorianDate date = CFAbsoluteTimeGetGregorianDate(now, zone);
  if (zone != nullptr) CFRelease(zone);

  // The seconds' decimal point is a point in every locale.
  const locale_t previous = uselocale(CNumericLocale());
  if (fractionalSeconds != 0) {
    snprintf(out, kStampBytes, "%4d%2d%2d_%2d%2d%5.2f", int(date.year), int(date.month), int(date.day),
             int(date.hour), int(date.minute), double(static_cast<float>(date.second)));
  } else {
    snprintf(out, kStampBytes, "%4d%2d%2d_%2d%2d%2d", int(date.year), int(date.month), int(date.day), int(date.hour),
             int(date.minute), int(std::floor(date.second + 0.5)));
  }
  uselocale(previous);
  if (zeroPad != 0) {
    for (char* p = out; *p != '\0'; ++p)
      if (*p == ' ') *p = '0';
  }
}
