#include "platform/corefoundation/CFDate.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <mutex>
#include <string>

#include "platform/corefoundation/CFInternal.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/corefoundation/CFString.h"
#include "platform/coreservices/CivilDates.h"

namespace {
std::mutex gClockLock;
std::function<CFAbsoluteTime()> gClockSource;
}  // namespace

void SkyloomSetAbsoluteTimeSource(std::function<CFAbsoluteTime()> source) {
  std::lock_guard<std::mutex> lock(gClockLock);
  gClockSource = std::move(source);
}

CFAbsoluteTime CFAbsoluteTimeGetCurrent() {
  {
    std::lock_guard<std::mutex> lock(gClockLock);
    if (gClockSource) return gClockSource();
  }
  double scaled = 0.0;
  if (SkyloomScaledWallClock(&scaled)) return scaled - kCFAbsoluteTimeIntervalSince1970;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (double(ts.tv_sec) - kCFAbsoluteTimeIntervalSince1970) + double(ts.tv_nsec) * 1e-9;
}

// ---- Dates, time zones and the Gregorian calendar ----

struct SkyloomCFDate : SkyloomCFObject {
  SkyloomCFDate() : SkyloomCFObject(kSkyloomCFTypeDate) {}
  bool equals(const SkyloomCFObject& other) const override { return at == static_cast<const SkyloomCFDate&>(other).at; }
  CFHashCode hash() const override { return CFHashCode(int64_t(std::isfinite(at) ? at : 0)); }
  std::string describe() const override {
    CFGregorianDate g = CFAbsoluteTimeGetGregorianDate(at, nullptr);
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%06.3f +0000", int(g.year), g.month, g.day, g.hour,
             g.minute, g.second);
    return text;
  }
  CFAbsoluteTime at = 0;
};

struct SkyloomCFTimeZone : SkyloomCFObject {
  SkyloomCFTimeZone() : SkyloomCFObject(kSkyloomCFTypeTimeZone) {}
  ~SkyloomCFTimeZone() override { CFRelease(name); }
  bool equals(const SkyloomCFObject& other) const override {
    const auto& o = static_cast<const SkyloomCFTimeZone&>(other);
    return system == o.system && (system || offset == o.offset);
  }
  CFHashCode hash() const override { return system ? 1 : CFHashCode(int64_t(offset)) * 2; }
  std::string describe() const override { return SkyloomCFStringUTF8(name); }
  bool system = false;
  double offset = 0;  // fixed zones
  CFStringRef name = nullptr;
};

namespace {

std::mutex gZoneLock;
CFTimeZoneRef gSystemZone = nullptr;   // retained
CFTimeZoneRef gDefaultZone = nullptr;  // retained; null: the system zone
std::atomic<bool> gSystemZoneMissing{false};

// Seconds since the Unix epoch as time_t, saturated.
time_t unixSeconds(CFAbsoluteTime at) {
  double s = std::floor(at + kCFAbsoluteTimeIntervalSince1970);
  if (!(s == s)) return 0;
  if (s > 6.7e16) return time_t(67000000000000000LL);  // far beyond any calendar that matters
  if (s < -6.7e16) return time_t(-67000000000000000LL);
  return time_t(s);
}

bool localParts(CFAbsoluteTime at, struct tm* out) {
  time_t t = unixSeconds(at);
  return localtime_r(&t, out) != nullptr;
}

std::string systemZoneName() {
  const char* tz = getenv("TZ");
  if (tz && *tz) return tz[0] == ':' ? std::string(tz + 1) : std::string(tz);
  char link[512];
  ssize_t n = readlink("/etc/localtime", link, sizeof link - 1);
  if (n > 0) {
    link[n] = 0;
    const char* z = strstr(link, "zoneinfo/");
    if (z) return z + 9;
  }
  if (FILE* f = fopen("/etc/timezone", "r")) {
    char line[256] = {0};
    bool got = fgets(line, sizeof line, f) != nullptr;
    fclose(f);
    if (got) {
      line[strcspn(line, "\r\n")] = 0;
      if (*line) return line;
    }
  }
  return "UTC";
}

SkyloomCFTimeZone* newFixedZone(double offset, const std::string& name) {
  auto* z = new SkyloomCFTimeZone;
  z->offset = offset;
  z->name = SkyloomCFStringCreateFromUTF8(name);
  return z;
}

std::string gmtName(double offset) {
  if (offset == 0) return "GMT";
  long total = long(std::lround(std::fabs(offset)));
  char text[32];
  snprintf(text, sizeof text, "GMT%c%02ld%02ld", offset < 0 ? '-' : '+', total / 3600, (total / 60) % 60);
  return text;
}

constexpr int64_t kDays1970To2001 = 11323;

// Local seconds since the reference date split into whole days and the rest.
void splitDays(double local, int64_t* days, double* rest) {
  if (!std::isfinite(local)) local = 0;
  local = std::max(-1e15, std::min(1e15, local));
  double dd = std::floor(local / 86400.0);
  double r = local - dd * 86400.0;
  if (r < 0) { r += 86400.0; dd -= 1; }
  if (r >= 86400.0) { r -= 86400.0; dd += 1; }
  *days = int64_t(dd);
  *rest = r;
}

}  // namespace

CFTypeID CFDateGetTypeID() { return kSkyloomCFTypeDate; }

CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime at) {
  auto* d = new SkyloomCFDate;
  d->at = at;
  return d;
}

CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate) { return theDate ? theDate->at : 0; }

CFTypeID CFTimeZoneGetTypeID() { return kSkyloomCFTypeTimeZone; }

CFTimeZoneRef CFTimeZoneCopySystem() {
  if (gSystemZoneMissing.load()) return nullptr;
  std::lock_guard<std::mutex> lock(gZoneLock);
  if (!gSystemZone) {
    tzset();
    auto* z = new SkyloomCFTimeZone;
    z->system = true;
    z->name = SkyloomCFStringCreateFromUTF8(systemZoneName());
    if (!z->name) z->name = SkyloomCFStringCreateFromUTF8("Local");
    gSystemZone = z;
  }
  return static_cast<CFTimeZoneRef>(CFRetain(gSystemZone));
}

void SkyloomSetSystemTimeZoneMissing(bool missing) { gSystemZoneMissing.store(missing); }

void CFTimeZoneResetSystem() {
  CFTimeZoneRef old;
  {
    std::lock_guard<std::mutex> lock(gZoneLock);
    old = gSystemZone;
    gSystemZone = nullptr;
    tzset();
  }
  CFRelease(old);
}

CFTimeZoneRef CFTimeZoneCopyDefault() {
  {
    std::lock_guard<std::mutex> lock(gZoneLock);
    if (gDefaultZone) return static_cast<CFTimeZoneRef>(CFRetain(gDefaultZone));
  }
  return CFTimeZoneCopySystem();
}

void CFTimeZoneSetDefault(CFTimeZoneRef tz) {
  CFRetain(tz);
  CFTimeZoneRef old;
  {
    std::lock_guard<std::mutex> lock(gZoneLock);
    old = gDefaultZone;
    gDefaultZone = tz;
  }
  CFRelease(old);
}

CFTimeZoneRef CFTimeZoneCreateWithTimeIntervalFromGMT(CFAllocatorRef, CFTimeInterval ti) {
  // Offsets beyond 18 hours are no time zone.
  if (!(std::fabs(ti) <= 18 * 3600.0)) return nullptr;
  return newFixedZone(ti, gmtName(ti));
}

CFTimeZoneRef CFTimeZoneCreateWithName(CFAllocatorRef, CFStringRef name, Boolean) {
  if (!name) return nullptr;
  std::string n = SkyloomCFStringUTF8(name);
  if (n == "UTC" || n == "GMT" || n == "Z") return newFixedZone(0, n == "Z" ? "UTC" : n);
  if ((n.rfind("GMT", 0) == 0 || n.rfind("UTC", 0) == 0) && n.size() > 4 && (n[3] == '+' || n[3] == '-')) {
    int h = 0, m = 0;
    const char* rest = n.c_str() + 4;
    if (sscanf(rest, "%2d:%2d", &h, &m) >= 1 || sscanf(rest, "%2d%2d", &h, &m) >= 1) {
      if (h > 18 || m > 59) return nullptr;
      double off = (n[3] == '-' ? -1 : 1) * (h * 3600.0 + m * 60.0);
      return newFixedZone(off, gmtName(off));
    }
    return nullptr;
  }
  CFTimeZoneRef sys = CFTimeZoneCopySystem();
  if (!sys) return nullptr;
  if (CFStringCompare(sys->name, name, 0) == kCFCompareEqualTo) return sys;
  CFRelease(sys);
  return nullptr;
}

CFStringRef CFTimeZoneGetName(CFTimeZoneRef tz) { return tz ? tz->name : nullptr; }

CFTimeInterval CFTimeZoneGetSecondsFromGMT(CFTimeZoneRef tz, CFAbsoluteTime at) {
  if (!tz) return 0;
  if (!tz->system) return tz->offset;
  struct tm parts;
  return localParts(at, &parts) ? CFTimeInterval(parts.tm_gmtoff) : 0;
}

Boolean CFTimeZoneIsDaylightSavingTime(CFTimeZoneRef tz, CFAbsoluteTime at) {
  if (!tz || !tz->system) return false;
  struct tm parts;
  return localParts(at, &parts) && parts.tm_isdst > 0;
}

CFStringRef CFTimeZoneCopyAbbreviation(CFTimeZoneRef tz, CFAbsoluteTime at) {
  if (!tz) return nullptr;
  if (!tz->system) return static_cast<CFStringRef>(CFRetain(tz->name));
  struct tm parts;
  if (!localParts(at, &parts) || !parts.tm_zone) return nullptr;
  return SkyloomCFStringCreateFromUTF8(parts.tm_zone);
}

CFGregorianDate CFAbsoluteTimeGetGregorianDate(CFAbsoluteTime at, CFTimeZoneRef tz) {
  int64_t days;
  double rest;
  splitDays(at + CFTimeZoneGetSecondsFromGMT(tz, at), &days, &rest);
  int64_t y;
  int m, d;
  SkyloomCivilFromDays(days + kDays1970To2001, &y, &m, &d);
  CFGregorianDate g;
  g.year = SInt32(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, y)));
  g.month = SInt8(m);
  g.day = SInt8(d);
  int hour = int(rest / 3600.0);
  int minute = int((rest - hour * 3600.0) / 60.0);
  g.hour = SInt8(hour);
  g.minute = SInt8(minute);
  g.second = rest - hour * 3600.0 - minute * 60.0;
  return g;
}

CFAbsoluteTime CFGregorianDateGetAbsoluteTime(CFGregorianDate g, CFTimeZoneRef tz) {
  // Months outside 1..12 carry into the year; days, hours and minutes carry
  // through the count of days.
  int64_t y = g.year;
  int64_t m = int64_t(g.month) - 1;
  y += m >= 0 ? m / 12 : -((11 - m) / 12);
  m = ((m % 12) + 12) % 12 + 1;
  int64_t days = SkyloomDaysFromCivil(y, m, 1) + (int64_t(g.day) - 1) - kDays1970To2001;
  double local = double(days) * 86400.0 + double(g.hour) * 3600.0 + double(g.minute) * 60.0 + g.second;
  if (!tz) return local;
  // The offset depends on the instant, which depends on the offset: two rounds
  // settle it except inside a daylight-saving change.
  double at = local - CFTimeZoneGetSecondsFromGMT(tz, local);
  return local - CFTimeZoneGetSecondsFromGMT(tz, at);
}

Boolean CFGregorianDateIsValid(CFGregorianDate g, CFOptionFlags unitFlags) {
  if ((unitFlags & kCFGregorianUnitsMonths) && (g.month < 1 || g.month > 12)) return false;
  if (unitFlags & kCFGregorianUnitsDays) {
    if (g.month < 1 || g.month > 12 || g.day < 1) return false;
    if (g.day > SkyloomDaysInMonth(g.year, g.month)) return false;
  }
  if ((unitFlags & kCFGregorianUnitsHours) && (g.hour < 0 || g.hour > 23)) return false;
  if ((unitFlags & kCFGregorianUnitsMinutes) && (g.minute < 0 || g.minute > 59)) return false;
  if ((unitFlags & kCFGregorianUnitsSeconds) && !(g.second >= 0 && g.second < 60)) return false;
  return true;
}

SInt32 CFAbsoluteTimeGetDayOfWeek(CFAbsoluteTime at, CFTimeZoneRef tz) {
  int64_t days;
  double rest;
  splitDays(at + CFTimeZoneGetSecondsFromGMT(tz, at), &days, &rest);
  return SInt32(((days % 7) + 7) % 7 + 1);  // the reference date was a Monday
}

SInt32 CFAbsoluteTimeGetDayOfYear(CFAbsoluteTime at, CFTimeZoneRef tz) {
  int64_t days;
  double rest;
  splitDays(at + CFTimeZoneGetSecondsFromGMT(tz, at), &days, &rest);
  int64_t y;
  int m, d;
  SkyloomCivilFromDays(days + kDays1970To2001, &y, &m, &d);
  return SInt32(days + kDays1970To2001 - SkyloomDaysFromCivil(y, 1, 1) + 1);
}
