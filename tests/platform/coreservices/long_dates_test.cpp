// 64-bit date counts: the same day count as the 32-bit one where both reach,
// and right on both sides of where the 32-bit count wraps and before 1904.
#include <gtest/gtest.h>

#include "platform/coreservices/CoreServices.h"

TEST(LongDates, AgreeWithTheShortCountAndReachPastItsWrap) {
  struct Case {
    LongDateTime secs;
    short y, mo, d, h, mi, s, dow, doy;
  } cases[] = {
      {0, 1904, 1, 1, 0, 0, 0, 6, 1},
      {3029529600LL, 2000, 1, 1, 0, 0, 0, 7, 1},
      {4294967295LL, 2040, 2, 6, 6, 28, 15, 2, 37},
      {4294967296LL, 2040, 2, 6, 6, 28, 16, 2, 37},  // one past the 32-bit count
      {4449600000LL, 2044, 12, 31, 0, 0, 0, 7, 366},
      {-1, 1903, 12, 31, 23, 59, 59, 5, 365},
      {-86400LL * 365, 1903, 1, 1, 0, 0, 0, 5, 1},
  };
  for (const Case& c : cases) {
    LongDateRec d{};
    LongSecondsToDate(&c.secs, &d);
    EXPECT_EQ(d.year, c.y) << c.secs;
    EXPECT_EQ(d.month, c.mo) << c.secs;
    EXPECT_EQ(d.day, c.d) << c.secs;
    EXPECT_EQ(d.hour, c.h) << c.secs;
    EXPECT_EQ(d.minute, c.mi) << c.secs;
    EXPECT_EQ(d.second, c.s) << c.secs;
    EXPECT_EQ(d.dayOfWeek, c.dow) << c.secs;
    EXPECT_EQ(d.dayOfYear, c.doy) << c.secs;
    LongDateTime back = 12345;
    LongDateToSeconds(&d, &back);
    EXPECT_EQ(back, c.secs);
    if (c.secs >= 0 && c.secs <= 0xFFFFFFFFLL) {
      DateTimeRec shortRec{};
      SecondsToDate(UInt32(c.secs), &shortRec);
      EXPECT_EQ(shortRec.year, d.year);
      EXPECT_EQ(shortRec.day, d.day);
      EXPECT_EQ(shortRec.dayOfWeek, d.dayOfWeek);
    }
  }
  // Month 13 of 1999 rolls into January 2000, as in DateToSeconds.
  LongDateRec roll{};
  roll.year = 1999;
  roll.month = 13;
  roll.day = 1;
  LongDateTime s = 0;
  LongDateToSeconds(&roll, &s);
  EXPECT_EQ(s, 3029529600LL);
}
