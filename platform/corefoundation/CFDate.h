// Absolute time: seconds since 2001-01-01 00:00:00 UTC, as a double.
#pragma once
#include <functional>

#include "platform/corefoundation/CFBase.h"

constexpr CFTimeInterval kCFAbsoluteTimeIntervalSince1970 = 978307200.0;
constexpr CFTimeInterval kCFAbsoluteTimeIntervalSince1904 = 3061152000.0;

CFAbsoluteTime CFAbsoluteTimeGetCurrent();
// Tests inject the clock; an empty function restores the system clock.
// Run-loop timers do not follow this clock: a fire date given in absolute time
// is turned into a time on the monotonic clock (SkyloomMicroseconds) when it is
// set, so a step of the wall clock neither holds a timer back nor fires it
// early. Test clocks drive both sources together.
void SkyloomSetAbsoluteTimeSource(std::function<CFAbsoluteTime()> source);

// ---- Dates as objects ----
typedef const struct SkyloomCFDate* CFDateRef;
CFTypeID CFDateGetTypeID();
CFDateRef CFDateCreate(CFAllocatorRef allocator, CFAbsoluteTime at);
CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate);

// ---- Time zones ----
// The system zone follows the process's TZ setting (or /etc/localtime),
// daylight saving included. Fixed zones have one offset all year.
CFTypeID CFTimeZoneGetTypeID();
CFTimeZoneRef CFTimeZoneCopySystem();
// Forgets the system zone, so the next copy reads TZ again (after a change of TZ).
void CFTimeZoneResetSystem();
// Tests: while set, the system has no zone to give (CFTimeZoneCopySystem and,
// without a default zone, CFTimeZoneCopyDefault give null).
void SkyloomSetSystemTimeZoneMissing(bool missing);
CFTimeZoneRef CFTimeZoneCopyDefault();
void CFTimeZoneSetDefault(CFTimeZoneRef tz);
CFTimeZoneRef CFTimeZoneCreateWithTimeIntervalFromGMT(CFAllocatorRef allocator, CFTimeInterval ti);
// "UTC", "GMT", "GMT+hh:mm" / "GMT-hhmm", or the name of the system zone;
// other names give null.
CFTimeZoneRef CFTimeZoneCreateWithName(CFAllocatorRef allocator, CFStringRef name, Boolean tryAbbrev);
CFStringRef CFTimeZoneGetName(CFTimeZoneRef tz);
CFTimeInterval CFTimeZoneGetSecondsFromGMT(CFTimeZoneRef tz, CFAbsoluteTime at);
Boolean CFTimeZoneIsDaylightSavingTime(CFTimeZoneRef tz, CFAbsoluteTime at);
CFStringRef CFTimeZoneCopyAbbreviation(CFTimeZoneRef tz, CFAbsoluteTime at);

// ---- Gregorian dates ----
struct CFGregorianDate {
  SInt32 year;
  SInt8 month;   // 1..12
  SInt8 day;     // 1..31
  SInt8 hour;    // 0..23
  SInt8 minute;  // 0..59
  double second; // 0 <= second < 60
};
struct CFGregorianUnits {
  SInt32 years;
  SInt32 months;
  SInt32 days;
  SInt32 hours;
  SInt32 minutes;
  double seconds;
};
typedef CFOptionFlags CFGregorianUnitFlags;
enum : CFOptionFlags {
  kCFGregorianUnitsYears = 1UL << 0,
  kCFGregorianUnitsMonths = 1UL << 1,
  kCFGregorianUnitsDays = 1UL << 2,
  kCFGregorianUnitsHours = 1UL << 3,
  kCFGregorianUnitsMinutes = 1UL << 4,
  kCFGregorianUnitsSeconds = 1UL << 5,
  kCFGregorianAllUnits = 0x00FFFFFF,
};

// In tz (null: UTC). The proleptic Gregorian calendar throughout.
CFGregorianDate CFAbsoluteTimeGetGregorianDate(CFAbsoluteTime at, CFTimeZoneRef tz);
CFAbsoluteTime CFGregorianDateGetAbsoluteTime(CFGregorianDate gdate, CFTimeZoneRef tz);
Boolean CFGregorianDateIsValid(CFGregorianDate gdate, CFOptionFlags unitFlags);
// 1 = Monday ... 7 = Sunday.
SInt32 CFAbsoluteTimeGetDayOfWeek(CFAbsoluteTime at, CFTimeZoneRef tz);
// 1 = the first of January.
SInt32 CFAbsoluteTimeGetDayOfYear(CFAbsoluteTime at, CFTimeZoneRef tz);
