#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <thread>
#include <vector>

#include "platform/coreservices/CoreServices.h"

TEST(FixedPoint, MultiplyDivideTable) {
  struct Case { Fixed a, b, mul, div; };
  const Case cases[] = {
      {fixed1, fixed1, fixed1, fixed1},
      {2 * fixed1, 3 * fixed1, 6 * fixed1, 0xAAAB},          // 2/3 rounds up
      {-2 * fixed1, 3 * fixed1, -6 * fixed1, -0xAAAB},       // symmetric for the quotient
      {fixed1 / 2, fixed1 / 2, fixed1 / 4, fixed1},
      {1, 1, 0, fixed1},                                     // 1/65536^2 rounds to 0
      {0x8000, 1, 1, 0x7FFFFFFF},                          // half rounds up; quotient saturates
      {0x7FFFFFFF, 2 * fixed1, 0x7FFFFFFF, 0x40000000},      // product saturates
      {INT_MIN, 2 * fixed1, INT_MIN, -0x40000000},
      {5 * fixed1, 0, 0, 0x7FFFFFFF},                        // x/0 by the dividend's sign
      {-5 * fixed1, 0, 0, INT_MIN},
      {0, 0, 0, 0x7FFFFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FixMul(c.a, c.b), c.mul) << c.a << "*" << c.b;
    EXPECT_EQ(FixDiv(c.a, c.b), c.div) << c.a << "/" << c.b;
  }
}

TEST(FixedPoint, ConversionsRoundAndSaturate) {
  EXPECT_EQ(Long2Fix(1), fixed1);
  EXPECT_EQ(Long2Fix(-32768), INT_MIN);
  EXPECT_EQ(Long2Fix(32767), 32767 * fixed1);
  EXPECT_EQ(Long2Fix(32768), 0x7FFFFFFF);
  EXPECT_EQ(Long2Fix(-40000), INT_MIN);
  EXPECT_EQ(Fix2Long(fixed1 + 0x7FFF), 1);
  EXPECT_EQ(Fix2Long(fixed1 + 0x8000), 2);
  EXPECT_EQ(Fix2Long(0x7FFFFFFF), 32768);
  EXPECT_EQ(X2Fix(1.5), 0x18000);
  EXPECT_EQ(X2Fix(-1.5), -0x18000);
  EXPECT_EQ(X2Fix(1e12), 0x7FFFFFFF);
  EXPECT_EQ(X2Fix(-1e12), INT_MIN);
  EXPECT_EQ(X2Fix(NAN), 0);
  EXPECT_DOUBLE_EQ(Fix2X(0x18000), 1.5);
  EXPECT_EQ(FixRatio(1, 3), 0x5555);
  EXPECT_EQ(FixRatio(2, 3), 0xAAAB);
  EXPECT_EQ(FixRatio(1, 0), 0x7FFFFFFF);
  EXPECT_EQ(FixRatio(-1, 0), INT_MIN);
}

TEST(Dates, The1904EpochAndLeapYears) {
  struct Case { UInt32 secs; short y, m, d, hh, mm, ss, dow; };
  const Case cases[] = {
      {0, 1904, 1, 1, 0, 0, 0, 6},                  // a Friday
      {59 * 86400, 1904, 2, 29, 0, 0, 0, 2},        // 1904 is a leap year
      {60 * 86400, 1904, 3, 1, 0, 0, 0, 3},
      {2082844800u, 1970, 1, 1, 0, 0, 0, 5},        // the Unix epoch, a Thursday
      {3029529600u, 2000, 1, 1, 0, 0, 0, 7},        // a Saturday
      {3029529600u + 59 * 86400, 2000, 2, 29, 0, 0, 0, 3},  // 2000 is a leap year
      {0xFFFFFFFFu, 2040, 2, 6, 6, 28, 15, 2},
  };
  for (const Case& c : cases) {
    DateTimeRec d{};
    SecondsToDate(c.secs, &d);
    EXPECT_EQ(d.year, c.y) << c.secs;
    EXPECT_EQ(d.month, c.m) << c.secs;
    EXPECT_EQ(d.day, c.d) << c.secs;
    EXPECT_EQ(d.hour, c.hh);
    EXPECT_EQ(d.minute, c.mm);
    EXPECT_EQ(d.second, c.ss);
    EXPECT_EQ(d.dayOfWeek, c.dow) << c.secs;
    UInt32 back = 1;
    DateToSeconds(&d, &back);
    EXPECT_EQ(back, c.secs);
  }
  // Fields out of range roll over: month 13 of 1999 is January 2000.
  DateTimeRec roll{1999, 13, 1, 0, 0, 0, 0};
  UInt32 s = 0;
  DateToSeconds(&roll, &s);
  EXPECT_EQ(s, 3029529600u);
}

TEST(Dates, InjectedClock) {
  SkyloomSetDateTimeSource([] { return UInt32(3029529600u); });
  UInt32 s = 0;
  GetDateTime(&s);
  EXPECT_EQ(s, 3029529600u);
  SkyloomSetDateTimeSource(nullptr);
  GetDateTime(&s);
  EXPECT_GT(s, 3029529600u);  // the real clock is past 2000
}

// UTC seconds since 1904 and a 1/65536 fraction: 1999-12-31 23:59:59.75 UTC
// is 946684799.75 s after 1970, so 946684799 + 2082844800 = 3029529599.
TEST(Dates, UTCDateTime) {
  EXPECT_EQ(GetUTCDateTime(nullptr, 0), paramErr);
  SkyloomSetUTCTimeSource([] { return 946684799.75; });
  UTCDateTime t{};
  ASSERT_EQ(GetUTCDateTime(&t, 0), noErr);
  const UInt32 high = t.highSeconds, low = t.lowSeconds, fraction = t.fraction;
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(low, 3029529599u);
  EXPECT_EQ(fraction, 49152u);
  // After 2040-02-06 06:28:16 UTC the seconds need the high word.
  SkyloomSetUTCTimeSource([] { return 4294967296.0 - 2082844800.0 + 1.0; });
  ASSERT_EQ(GetUTCDateTime(&t, 0), noErr);
  const UInt32 high2 = t.highSeconds, low2 = t.lowSeconds;
  EXPECT_EQ(high2, 1u);
  EXPECT_EQ(low2, 1u);
  SkyloomSetUTCTimeSource(nullptr);
  ASSERT_EQ(GetUTCDateTime(&t, 0), noErr);
  const UInt32 now = t.lowSeconds;
  EXPECT_GT(now, 3029529599u);  // the real clock is past 2000
}

TEST(Handles, GrowShrinkAppendDispose) {
  long live = SkyloomLiveHandleCount();
  Handle h = NewHandleClear(4);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHandleSize(h), 4);
  EXPECT_EQ((*h)[3], 0);
  const char more[] = "abcdef";
  EXPECT_EQ(PtrAndHand(more, h, 6), noErr);
  EXPECT_EQ(GetHandleSize(h), 10);
  EXPECT_EQ(std::string(*h + 4, 6), "abcdef");
  SetHandleSize(h, 2);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 2);
  Handle copy = nullptr;
  EXPECT_EQ(PtrToHand("xyz", &copy, 3), noErr);
  EXPECT_EQ(GetHandleSize(copy), 3);
  EXPECT_EQ(SkyloomLiveHandleCount(), live + 2);
  DisposeHandle(h);
  DisposeHandle(copy);
  EXPECT_EQ(SkyloomLiveHandleCount(), live);
  EXPECT_EQ(GetHandleSize(nullptr), 0);
  EXPECT_EQ(MemError(), nilHandleErr);
  EXPECT_EQ(NewHandle(-1), nullptr);
  EXPECT_EQ(MemError(), paramErr);
}

TEST(Atomics, ReturnOldValueAndAreAtomic) {
  SInt32 v = 5;
  EXPECT_EQ(IncrementAtomic(&v), 5);
  EXPECT_EQ(v, 6);
  EXPECT_EQ(DecrementAtomic(&v), 6);
  EXPECT_EQ(v, 5);
  SInt32 counter = 0;
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; ++t)
    ts.emplace_back([&] { for (int i = 0; i < 10000; ++i) { IncrementAtomic(&counter); DecrementAtomic(&counter); IncrementAtomic(&counter); } });
  for (auto& t : ts) t.join();
  EXPECT_EQ(counter, 40000);
  SInt32 flag = 0;
  EXPECT_TRUE(CompareAndSwap(0, 1, &flag));
  EXPECT_FALSE(CompareAndSwap(0, 1, &flag));
}

TEST(Gestalt, StartUpAnswers) {
  SInt32 r = 0;
  ASSERT_EQ(Gestalt(FOUR_CHAR_CODE("sysv"), &r), noErr);
  EXPECT_GT(r, 0x103F);
  ASSERT_EQ(Gestalt(FOUR_CHAR_CODE("qtim"), &r), noErr);
  EXPECT_GT(UInt32(r), 0x06FFFFFFu);
  ASSERT_EQ(Gestalt(FOUR_CHAR_CODE("ppcf"), &r), noErr);
  EXPECT_EQ(r & 0x10, 0);
  ASSERT_EQ(Gestalt(FOUR_CHAR_CODE("bclm"), &r), noErr);
  EXPECT_GT(r, 0);
  EXPECT_EQ(Gestalt(FOUR_CHAR_CODE("zzzz"), &r), gestaltUndefSelectorErr);
  EXPECT_GT(MaximumProcessorSpeed(), 0);
}

TEST(Time, MicrosecondsAndTicksAreMonotonic) {
  UnsignedWide a, b;
  Microseconds(&a);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Microseconds(&b);
  UInt64 ua = (UInt64(a.hi) << 32) | a.lo, ub = (UInt64(b.hi) << 32) | b.lo;
  EXPECT_GE(ub - ua, 19000u);
  UInt32 t0 = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_GE(TickCount(), t0 + 1);
}

TEST(Beep, IsCounted) {
  long n = SkyloomBeepCount();
  SysBeep(30);
  EXPECT_EQ(SkyloomBeepCount(), n + 1);
}
