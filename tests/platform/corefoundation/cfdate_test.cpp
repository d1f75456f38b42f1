#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/corefoundation/CoreFoundation.h"

// Golden values: seconds from 2001-01-01 00:00:00 UTC worked out independently
// (Python's datetime), weekdays 1 = Monday.
TEST(CFDate, GregorianDatesInUTCTable) {
  struct Case {
    CFAbsoluteTime at;
    int year, month, day, hour, minute;
    double second;
    int dayOfWeek, dayOfYear;
  };
  const Case cases[] = {
      {0, 2001, 1, 1, 0, 0, 0, 1, 1},                        // the reference date, a Monday
      {-1, 2000, 12, 31, 23, 59, 59, 7, 366},                 // 2000 is a leap year
      {794549106.25, 2026, 3, 7, 4, 5, 6.25, 6, 66},
      {99705600, 2004, 2, 29, 0, 0, 0, 7, 60},                // leap day
      {99792000, 2004, 3, 1, 0, 0, 0, 1, 61},
      {-26524800, 2000, 2, 29, 0, 0, 0, 2, 60},               // divisible by 400: leap
      {3129235200.0, 2100, 3, 1, 0, 0, 0, 1, 60},             // divisible by 100: not leap
      {12596342399.0, 2400, 2, 29, 23, 59, 59, 2, 60},
      {-978307200, 1970, 1, 1, 0, 0, 0, 4, 1},
      {-3061152000.0, 1904, 1, 1, 0, 0, 0, 5, 1},
  };
  for (const Case& c : cases) {
    CFGregorianDate g = CFAbsoluteTimeGetGregorianDate(c.at, nullptr);
    EXPECT_EQ(g.year, c.year) << c.at;
    EXPECT_EQ(g.month, c.month) << c.at;
    EXPECT_EQ(g.day, c.day) << c.at;
    EXPECT_EQ(g.hour, c.hour) << c.at;
    EXPECT_EQ(g.minute, c.minute) << c.at;
    EXPECT_DOUBLE_EQ(g.second, c.second) << c.at;
    EXPECT_EQ(CFAbsoluteTimeGetDayOfWeek(c.at, nullptr), c.dayOfWeek) << c.at;
    EXPECT_EQ(CFAbsoluteTimeGetDayOfYear(c.at, nullptr), c.dayOfYear) << c.at;
    EXPECT_TRUE(CFGregorianDateIsValid(g, kCFGregorianAllUnits));
    EXPECT_DOUBLE_EQ(CFGregorianDateGetAbsoluteTime(g, nullptr), c.at);
  }
  EXPECT_FALSE(CFGregorianDateIsValid(CFGregorianDate{2100, 2, 29, 0, 0, 0}, kCFGregorianAllUnits));
  EXPECT_TRUE(CFGregorianDateIsValid(CFGregorianDate{2000, 2, 29, 0, 0, 0}, kCFGregorianAllUnits));
  EXPECT_FALSE(CFGregorianDateIsValid(CFGregorianDate{2001, 1, 1, 24, 0, 0}, kCFGregorianUnitsHours));
  EXPECT_FALSE(CFGregorianDateIsValid(CFGregorianDate{2001, 1, 1, 0, 0, 60.0}, kCFGregorianUnitsSeconds));
  // Month 13 carries into the next year.
  EXPECT_DOUBLE_EQ(CFGregorianDateGetAbsoluteTime(CFGregorianDate{2000, 13, 1, 0, 0, 0}, nullptr), 0);
}

TEST(CFDate, FixedZoneOffsets) {
  CFTimeZoneRef india = CFTimeZoneCreateWithTimeIntervalFromGMT(nullptr, 5.5 * 3600);
  CFTimeZoneRef pacific = CFTimeZoneCreateWithName(nullptr, CFSTR("GMT-08:00"), false);
  ASSERT_NE(india, nullptr);
  ASSERT_NE(pacific, nullptr);
  EXPECT_EQ(CFTimeZoneGetSecondsFromGMT(india, 0), 19800);
  EXPECT_EQ(CFTimeZoneGetSecondsFromGMT(pacific, 0), -28800);

  CFGregorianDate g = CFAbsoluteTimeGetGregorianDate(0, india);
  EXPECT_EQ(g.year, 2001);
  EXPECT_EQ(g.hour, 5);
  EXPECT_EQ(g.minute, 30);
  g = CFAbsoluteTimeGetGregorianDate(0, pacific);  // still the last day of 2000 there
  EXPECT_EQ(g.year, 2000);
  EXPECT_EQ(g.month, 12);
  EXPECT_EQ(g.day, 31);
  EXPECT_EQ(g.hour, 16);
  EXPECT_EQ(CFAbsoluteTimeGetDayOfWeek(0, pacific), 7);
  EXPECT_DOUBLE_EQ(CFGregorianDateGetAbsoluteTime(g, pacific), 0);

  EXPECT_EQ(CFTimeZoneCreateWithTimeIntervalFromGMT(nullptr, 30 * 3600), nullptr);
  EXPECT_EQ(CFTimeZoneCreateWithName(nullptr, CFSTR("Nowhere/Special"), false), nullptr);
  CFTimeZoneRef utc = CFTimeZoneCreateWithName(nullptr, CFSTR("UTC"), false);
  EXPECT_EQ(CFTimeZoneGetSecondsFromGMT(utc, 1e9), 0);
  EXPECT_EQ(CFGetTypeID(utc), CFTimeZoneGetTypeID());
  for (CFTimeZoneRef z : {india, pacific, utc}) CFRelease(z);
}

TEST(CFDate, SystemZoneFollowsTZWithDaylightSaving) {
  const char* saved = getenv("TZ");
  std::string old = saved ? saved : "";
  // A POSIX rule needs no zone files: US Eastern, daylight saving from the
  // second Sunday of March to the first Sunday of November.
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  CFTimeZoneResetSystem();
  CFTimeZoneRef tz = CFTimeZoneCopySystem();
  EXPECT_EQ(CFTimeZoneGetSecondsFromGMT(tz, 790171200), -5 * 3600);  // 2026-01-15 12:00 UTC
  EXPECT_EQ(CFTimeZoneGetSecondsFromGMT(tz, 804600000), -4 * 3600);  // 2026-07-01 12:00 UTC
  EXPECT_FALSE(CFTimeZoneIsDaylightSavingTime(tz, 790171200));
  EXPECT_TRUE(CFTimeZoneIsDaylightSavingTime(tz, 804600000));
  // The change on 2026-03-08 at 07:00 UTC: 01:59:59 EST, then 03:00:00 EDT.
  CFGregorianDate before = CFAbsoluteTimeGetGregorianDate(794645999, tz);
  CFGregorianDate after = CFAbsoluteTimeGetGregorianDate(794646000, tz);
  EXPECT_EQ(before.hour, 1);
  EXPECT_EQ(before.minute, 59);
  EXPECT_EQ(after.hour, 3);
  EXPECT_EQ(after.minute, 0);
  EXPECT_DOUBLE_EQ(CFGregorianDateGetAbsoluteTime(after, tz), 794646000);
  CFStringRef abbreviation = CFTimeZoneCopyAbbreviation(tz, 804600000);
  EXPECT_EQ(CFStringCompare(abbreviation, CFSTR("EDT"), 0), kCFCompareEqualTo);
  CFRelease(abbreviation);
  EXPECT_EQ(CFStringCompare(CFTimeZoneGetName(tz), CFSTR("EST5EDT,M3.2.0,M11.1.0"), 0), kCFCompareEqualTo);
  CFRelease(tz);

  if (saved) setenv("TZ", old.c_str(), 1);
  else unsetenv("TZ");
  CFTimeZoneResetSystem();
}

TEST(CFDate, InjectedClockAndDateObjects) {
  SkyloomSetAbsoluteTimeSource([] { return 794549106.25; });
  EXPECT_EQ(CFAbsoluteTimeGetCurrent(), 794549106.25);
  SkyloomSetAbsoluteTimeSource(nullptr);
  // The real clock: some time after this code was written (2026) and before 2101.
  CFAbsoluteTime now = CFAbsoluteTimeGetCurrent();
  EXPECT_GT(now, 757382400.0);
  EXPECT_LT(now, 3155760000.0);

  CFDateRef a = CFDateCreate(nullptr, 12.5);
  CFDateRef b = CFDateCreate(nullptr, 12.5);
  EXPECT_TRUE(CFEqual(a, b));
  EXPECT_EQ(CFDateGetAbsoluteTime(a), 12.5);
  CFRelease(a);
  CFRelease(b);
}

TEST(CFDate, SystemZoneCanBeMadeMissing) {
  SkyloomSetSystemTimeZoneMissing(true);
  EXPECT_EQ(CFTimeZoneCopySystem(), nullptr);
  EXPECT_EQ(CFTimeZoneCopyDefault(), nullptr);
  // A name lookup that falls back on the system zone finds nothing either.
  EXPECT_EQ(CFTimeZoneCreateWithName(nullptr, CFSTR("Europe/Nowhere"), false), nullptr);
  SkyloomSetSystemTimeZoneMissing(false);
  CFTimeZoneRef tz = CFTimeZoneCopySystem();
  EXPECT_NE(tz, nullptr);
  CFRelease(tz);
}
