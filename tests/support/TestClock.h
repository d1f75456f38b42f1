// One manual time for a test. While a TestClock lives, the absolute time
// (CFAbsoluteTimeGetCurrent), the monotonic clock that run-loop and so
// event-loop timers are scheduled on (and Microseconds), the 1904 local date
// (GetDateTime) and the UTC date (GetUTCDateTime) all read the same moment,
// and move only when the test moves them. TZ is fixed for its lifetime, so
// local dates do not depend on the machine; the old TZ and the system
// clocks come back when it ends.
#pragma once
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <cmath>
#include <string>

#include "platform/corefoundation/CFDate.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/HIToolbox.h"

class TestClock {
 public:
  // Starts at `start` (absolute time; the default is 2026-03-07 04:05:06 UTC)
  // under the zone `tz` (a POSIX TZ value with a fixed offset, e.g. "UTC0" or
  // "CET-1").
  explicit TestClock(CFAbsoluteTime start = 794549106.0, const char* tz = "UTC0") : start_(start) {
    const char* old = getenv("TZ");
    hadTZ_ = old != nullptr;
    if (old) oldTZ_ = old;
    setenv("TZ", tz, 1);
    tzset();
    CFTimeZoneResetSystem();
    SkyloomSetMonotonicTimeSource([this] { return kMonotonicStart + micros_.load(); });
    SkyloomSetAbsoluteTimeSource([this] { return Now(); });
    SkyloomSetUTCTimeSource([this] { return Now() + kCFAbsoluteTimeIntervalSince1970; });
    SkyloomSetDateTimeSource([this] {
      const double unix = Now() + kCFAbsoluteTimeIntervalSince1970;
      time_t t = time_t(std::floor(unix));
      struct tm local;
      localtime_r(&t, &local);
      return UInt32(SInt64(t) + local.tm_gmtoff + SInt64(kMacEpochToUnixSeconds));
    });
  }
  ~TestClock() {
    SkyloomSetMonotonicTimeSource(nullptr);
    SkyloomSetAbsoluteTimeSource(nullptr);
    SkyloomSetUTCTimeSource(nullptr);
    SkyloomSetDateTimeSource(nullptr);
    if (hadTZ_)
      setenv("TZ", oldTZ_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    CFTimeZoneResetSystem();
  }
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;

  // The manual time, in absolute time and in microseconds since the start.
  CFAbsoluteTime Now() const { return start_ + double(micros_.load()) / 1e6; }
  UInt64 ElapsedMicroseconds() const { return micros_.load(); }

  // Moves every clock on at once (timers are not run).
  void Advance(double seconds) { micros_ += UInt64(std::llround(seconds * 1e6)); }

  // Lets `seconds` of manual time pass in steps of `step`, running the
  // current event loop after each step, so run-loop and event-loop timers
  // fire as they would have in that time.
  void Run(double seconds, double step = 0.001) {
    const long steps = std::lround(seconds / step);
    for (long i = 0; i < steps; i++) {
      Advance(step);
      RunCurrentEventLoop(0);
    }
  }

 private:
  static constexpr UInt64 kMonotonicStart = 1'000'000'000'000ull;  // an arbitrary boot-relative origin
  const CFAbsoluteTime start_;
  std::atomic<UInt64> micros_{0};
  bool hadTZ_ = false;
  std::string oldTZ_;
};
