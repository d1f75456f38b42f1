// Seconds since 1904 of a calendar date, for tests that build time stamps.
#pragma once
#include "platform/coreservices/CoreServices.h"

namespace skyloom::test {

inline LongDateTime Secs(short y, short mo, short d, short h, short mi, short s) {
  LongDateRec r{};
  r.year = y;
  r.month = mo;
  r.day = d;
  r.hour = h;
  r.minute = mi;
  r.second = s;
  LongDateTime t = 0;
  LongDateToSeconds(&r, &t);
  return t;
}

}  // namespace skyloom::test
