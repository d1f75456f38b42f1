#include <gtest/gtest.h>

#include "platform/coreservices/CivilDates.h"

namespace {

// Day counts from 1970-01-01 worked out by hand: 365 a year plus one for
// each leap day passed (1904-1968 hold 17 leap years, 1972-1996 seven, and
// 2000 is one; 1900 is none).
struct DayCase {
  int64_t year;
  int month, day;
  int64_t days;
};
const DayCase kDays[] = {
    {1970, 1, 1, 0},
    {1970, 3, 1, 59},
    {1972, 3, 1, 2 * 365 + 31 + 29},
    {2000, 1, 1, 30 * 365 + 7},
    {2000, 3, 1, 30 * 365 + 7 + 31 + 29},
    {2001, 1, 1, 11323},
    {1904, 1, 1, -(66 * 365 + 17)},
    {1900, 3, 1, -(70 * 365 + 17) + 31 + 28},
    {1969, 12, 31, -1},
    {0, 3, 1, -719468},
};

TEST(CivilDates, CountsDaysFrom1970BothWays) {
  for (const auto& c : kDays) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day);
    EXPECT_EQ(SkyloomDaysFromCivil(c.year, c.month, c.day), c.days);
    int64_t y = 0;
    int m = 0, d = 0;
    SkyloomCivilFromDays(c.days, &y, &m, &d);
    EXPECT_EQ(y, c.year);
    EXPECT_EQ(m, c.month);
    EXPECT_EQ(d, c.day);
  }
}

TEST(CivilDates, DaysPastTheMonthCountOn) {
  EXPECT_EQ(SkyloomDaysFromCivil(2001, 1, 32), SkyloomDaysFromCivil(2001, 2, 1));
  EXPECT_EQ(SkyloomDaysFromCivil(2024, 2, 30), SkyloomDaysFromCivil(2024, 3, 1));
  EXPECT_EQ(SkyloomDaysFromCivil(2001, 3, 0), SkyloomDaysFromCivil(2001, 2, 28));
}

TEST(CivilDates, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(SkyloomIsLeapYear(2000));
  EXPECT_TRUE(SkyloomIsLeapYear(2024));
  EXPECT_FALSE(SkyloomIsLeapYear(1900));
  EXPECT_FALSE(SkyloomIsLeapYear(2100));
  EXPECT_FALSE(SkyloomIsLeapYear(2023));
  EXPECT_EQ(SkyloomDaysInMonth(2024, 2), 29);
  EXPECT_EQ(SkyloomDaysInMonth(1900, 2), 28);
  EXPECT_EQ(SkyloomDaysInMonth(2023, 1), 31);
  EXPECT_EQ(SkyloomDaysInMonth(2023, 4), 30);
  EXPECT_EQ(SkyloomDaysInMonth(2023, 12), 31);
}

}  // namespace
