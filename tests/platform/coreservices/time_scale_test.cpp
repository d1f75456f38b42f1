// The test time scale: every clock of the process, and the sleeps, run k
// times faster, and go on from where they stood when the scale changes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/corefoundation/CFDate.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/HIToolbox.h"

namespace {

double realSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

TEST(TimeScale, ClocksAndSleepsRunFaster) {
  SkyloomSetTimeScale(10.0);
  EXPECT_EQ(SkyloomTimeScale(), 10.0);
  EXPECT_TRUE(SkyloomMonotonicTimeIsInjected());  // run loops look at the clock often
  const double r0 = realSeconds();
  const UInt64 m0 = SkyloomMicroseconds();
  const CFAbsoluteTime a0 = CFAbsoluteTimeGetCurrent();
  const UInt32 t0 = TickCount();
  SkyloomSleepMicroseconds(1'000'000);  // a scaled second
  const double real = realSeconds() - r0;
  const double mono = double(SkyloomMicroseconds() - m0) * 1e-6;
  const double absolute = CFAbsoluteTimeGetCurrent() - a0;
  const double ticks = double(TickCount() - t0) / 60.0;
  EXPECT_GE(mono, 1.0);
  EXPECT_NEAR(mono / real, 10.0, 0.5);
  EXPECT_NEAR(absolute / real, 10.0, 0.5);
  EXPECT_NEAR(ticks, mono, 0.1);

  // Back at 1 the monotonic clock goes on from where it stood.
  const UInt64 before = SkyloomMicroseconds();
  SkyloomSetTimeScale(1.0);
  EXPECT_FALSE(SkyloomMonotonicTimeIsInjected());
  const UInt64 after = SkyloomMicroseconds();
  EXPECT_GE(after, before);
  EXPECT_LT(after - before, 1'000'000u);
  const double r1 = realSeconds();
  const UInt64 m1 = SkyloomMicroseconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NEAR(double(SkyloomMicroseconds() - m1) * 1e-6 / (realSeconds() - r1), 1.0, 0.1);
}

void countFire(EventLoopTimerRef, void* data) { ++*static_cast<int*>(data); }

TEST(TimeScale, EventLoopTimersFollow) {
  SkyloomSetTimeScale(20.0);
  int fired = 0;
  EventLoopTimerRef timer = nullptr;
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 1.0, 1.0, countFire, &fired, &timer), noErr);
  const UInt64 start = SkyloomMicroseconds();
  // Five scaled seconds (a quarter of a real second); the guard is generous.
  const auto guard = std::chrono::steady_clock::now();
  while (SkyloomMicroseconds() - start < 5'500'000 &&
         std::chrono::steady_clock::now() - guard < std::chrono::seconds(60))
    RunCurrentEventLoop(0.01);
  RemoveEventLoopTimer(timer);
  SkyloomSetTimeScale(1.0);
  EXPECT_GE(fired, 4);
  EXPECT_LE(fired, 6);
}

}  // namespace
