// Calendar arithmetic on the proleptic Gregorian calendar, shared by the Date
// Manager (1904 epoch), CFDate (2001 epoch) and the property-list dates.
// Days are counted from 1970-01-01; each epoch is an offset from there.
// Both directions count in 400-year eras of 146097 days with the year
// starting on 1 March, so that the leap day falls at the end of a year.
#pragma once
#include <cstdint>

// Days since 1970-01-01 of year-month-day (month 1..12; the day may run past
// the month's end or below 1 and counts on from the month's first day).
constexpr int64_t SkyloomDaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The date of a day count since 1970-01-01.
constexpr void SkyloomCivilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = int(doy - (153 * mp + 2) / 5 + 1);
  *m = int(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

constexpr bool SkyloomIsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days in month 1..12 of the year.
constexpr int SkyloomDaysInMonth(int64_t y, int m) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && SkyloomIsLeapYear(y) ? 29 : kDays[m - 1];
}
