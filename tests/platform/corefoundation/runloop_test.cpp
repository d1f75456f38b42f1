#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/CoreServices.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kHangGuard = 20.0;  // seconds; only catches a loop that never returns

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Each test runs on a thread of its own, so it gets a fresh run loop that is
// freed when the thread ends.
void onFreshThread(const std::function<void()>& body) {
  std::thread t(body);
  t.join();
}

// Clears the before-waiting hook however the test ends.
struct HookGuard {
  explicit HookGuard(std::function<void(CFRunLoopRef)> hook) { SkyloomCFRunLoopSetBeforeWaitingHook(std::move(hook)); }
  ~HookGuard() { SkyloomCFRunLoopSetBeforeWaitingHook(nullptr); }
};

struct Counter {
  std::atomic<int> performs{0};
  std::atomic<int> schedules{0};
  std::atomic<int> cancels{0};
  std::atomic<int> retains{0};
  std::atomic<int> releases{0};
};

CFRunLoopSourceRef makeSource(Counter* c, CFIndex order = 0, void (*perform)(void*) = nullptr) {
  CFRunLoopSourceContext ctx{};
  ctx.info = c;
  ctx.retain = [](const void* info) -> const void* {
    static_cast<Counter*>(const_cast<void*>(info))->retains++;
    return info;
  };
  ctx.release = [](const void* info) { static_cast<Counter*>(const_cast<void*>(info))->releases++; };
  ctx.schedule = [](void* info, CFRunLoopRef, CFStringRef) { static_cast<Counter*>(info)->schedules++; };
  ctx.cancel = [](void* info, CFRunLoopRef, CFStringRef) { static_cast<Counter*>(info)->cancels++; };
  ctx.perform = perform ? perform : [](void* info) { static_cast<Counter*>(info)->performs++; };
  return CFRunLoopSourceCreate(nullptr, order, &ctx);
}

}  // namespace

TEST(CFRunLoop, ModeWithoutSourcesFinishesAtOnce) {
  onFreshThread([] {
    auto t0 = Clock::now();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1000.0, false), kCFRunLoopRunFinished);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1000.0, true), kCFRunLoopRunFinished);
    CFRunLoopRun();  // returns: nothing to run
    EXPECT_LT(secondsSince(t0), kHangGuard);

    // A source in another mode does not count.
    Counter c;
    CFRunLoopSourceRef s = makeSource(&c);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), s, CFSTR("SkyloomModalMode"));
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1000.0, false), kCFRunLoopRunFinished);
    CFRunLoopSourceInvalidate(s);
    CFRelease(s);
  });
}

TEST(CFRunLoop, IdleSourceTimesOutAfterItsInterval) {
  onFreshThread([] {
    Counter c;
    CFRunLoopSourceRef s = makeSource(&c);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), s, kCFRunLoopDefaultMode);
    auto t0 = Clock::now();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, true), kCFRunLoopRunTimedOut);
    double took = secondsSince(t0);
    EXPECT_GE(took, 0.05);
    EXPECT_LT(took, kHangGuard);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false), kCFRunLoopRunTimedOut);
    EXPECT_EQ(c.performs, 0);
    CFRunLoopRemoveSource(CFRunLoopGetCurrent(), s, kCFRunLoopDefaultMode);
    CFRelease(s);
  });
}

TEST(CFRunLoop, SourceSignalledFromAnotherThreadIsHandled) {
  onFreshThread([] {
    Counter c;
    CFRunLoopSourceRef s = makeSource(&c);
    CFRunLoopRef rl = CFRunLoopGetCurrent();
    CFRunLoopAddSource(rl, s, kCFRunLoopDefaultMode);

    std::promise<void> waiting;
    std::once_flag once;
    HookGuard hook([&](CFRunLoopRef loop) {
      if (loop == rl) std::call_once(once, [&] { waiting.set_value(); });
    });
    // The signal alone wakes the sleeping loop.
    std::thread signaller([&] {
      waiting.get_future().wait();
      CFRunLoopSourceSignal(s);
    });
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1000.0, true), kCFRunLoopRunHandledSource);
    signaller.join();
    EXPECT_EQ(c.performs, 1);

    // Signalled with an explicit wake-up while the loop keeps running: the
    // source is performed and the run goes on until its time is up.
    CFRunLoopSourceSignal(s);
    CFRunLoopWakeUp(rl);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false), kCFRunLoopRunTimedOut);
    EXPECT_EQ(c.performs, 2);
    CFRunLoopSourceInvalidate(s);
    CFRelease(s);
  });
}

TEST(CFRunLoop, StopDuringAndBeforeARunBothReturnStopped) {
  onFreshThread([] {
    Counter c;
    CFRunLoopSourceRef s = makeSource(&c);
    CFRunLoopRef rl = CFRunLoopGetCurrent();
    CFRunLoopAddSource(rl, s, kCFRunLoopDefaultMode);

    {
      std::promise<void> waiting;
      std::once_flag once;
      HookGuard hook([&](CFRunLoopRef loop) {
        if (loop == rl) std::call_once(once, [&] { waiting.set_value(); });
      });
      std::thread stopper([&] {
        waiting.get_future().wait();
        CFRunLoopStop(rl);
      });
      auto t0 = Clock::now();
      EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1000.0, false), kCFRunLoopRunStopped);
      EXPECT_LT(secondsSince(t0), kHangGuard);
      stopper.join();
    }

    // A stop that arrives while the loop is not running ends the next run at once...
    std::thread([rl] { CFRunLoopStop(rl); }).join();
    auto t0 = Clock::now();
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1000.0, false), kCFRunLoopRunStopped);
    EXPECT_LT(secondsSince(t0), kHangGuard);
    // ...and only that one.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false), kCFRunLoopRunTimedOut);

    // CFRunLoopRun ends on a stop too.
    CFRunLoopStop(rl);
    CFRunLoopRun();
    CFRunLoopStop(nullptr);  // ignored
    CFRunLoopWakeUp(nullptr);
    CFRunLoopSourceInvalidate(s);
    CFRelease(s);
  });
}

TEST(CFRunLoop, StopOfAFreedLoopIsIgnored) {
  CFRunLoopRef gone = nullptr;
  onFreshThread([&] { gone = CFRunLoopGetCurrent(); });
  CFRunLoopStop(gone);  // the thread has ended and its loop is freed
  CFRunLoopWakeUp(gone);

  // A loop someone retained outlives its thread and still takes a stop.
  CFRunLoopRef kept = nullptr;
  onFreshThread([&] { kept = static_cast<CFRunLoopRef>(const_cast<void*>(CFRetain(CFRunLoopGetCurrent()))); });
  CFRunLoopStop(kept);
  EXPECT_EQ(CFGetRetainCount(kept), 1);
  CFRelease(kept);
}

TEST(CFRunLoop, TimersFireInDateOrderAndOneShotsEnd) {
  onFreshThread([] {
    struct Log {
      std::vector<int> order;
    } log;
    struct Ctx {
      Log* log;
      int id;
    };
    CFAbsoluteTime now = CFAbsoluteTimeGetCurrent();
    Ctx ctx[3] = {{&log, 3}, {&log, 1}, {&log, 2}};
    const double offsets[3] = {0.03, 0.01, 0.02};
    CFRunLoopTimerRef timers[3];
    for (int i = 0; i < 3; ++i) {
      CFRunLoopTimerContext tc{0, &ctx[i], nullptr, nullptr, nullptr};
      timers[i] = CFRunLoopTimerCreate(
          nullptr, now + offsets[i], 0, 0, 0,
          [](CFRunLoopTimerRef, void* info) {
            auto* c = static_cast<Ctx*>(info);
            c->log->order.push_back(c->id);
          },
          &tc);
      CFRunLoopAddTimer(CFRunLoopGetCurrent(), timers[i], kCFRunLoopDefaultMode);
    }
    // One-shot timers leave the mode once fired, so the run finishes.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, false), kCFRunLoopRunFinished);
    EXPECT_EQ(log.order, (std::vector<int>{1, 2, 3}));
    for (auto* t : timers) {
      EXPECT_FALSE(CFRunLoopTimerIsValid(t));
      EXPECT_EQ(CFGetRetainCount(t), 1);  // the loop gave its reference back
      CFRelease(t);
    }
  });
}

TEST(CFRunLoop, RepeatingTimerAndNewFireDate) {
  onFreshThread([] {
    struct State {
      int fired = 0;
    } st;
    CFRunLoopTimerContext tc{0, &st, nullptr, nullptr, nullptr};
    CFRunLoopTimerRef t = CFRunLoopTimerCreate(
        nullptr, CFAbsoluteTimeGetCurrent() + 0.001, 0.005, 0, 0,
        [](CFRunLoopTimerRef timer, void* info) {
          auto* s = static_cast<State*>(info);
          if (++s->fired == 3) {
            CFRunLoopTimerInvalidate(timer);
            CFRunLoopStop(CFRunLoopGetCurrent());
          }
        },
        &tc);
    EXPECT_TRUE(CFRunLoopTimerDoesRepeat(t));
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), t, kCFRunLoopCommonModes);
    EXPECT_TRUE(CFRunLoopContainsTimer(CFRunLoopGetCurrent(), t, kCFRunLoopDefaultMode));
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, false), kCFRunLoopRunStopped);
    EXPECT_EQ(st.fired, 3);
    CFRelease(t);

    // A timer set far in the future fires once its date is moved to now,
    // here from another thread while the loop sleeps.
    int fired = 0;
    CFRunLoopTimerContext tc2{0, &fired, nullptr, nullptr, nullptr};
    CFRunLoopTimerRef late = CFRunLoopTimerCreate(
        nullptr, CFAbsoluteTimeGetCurrent() + 1e6, 0, 0, 0,
        [](CFRunLoopTimerRef, void* info) { ++*static_cast<int*>(info); }, &tc2);
    CFRunLoopRef rl = CFRunLoopGetCurrent();
    CFRunLoopAddTimer(rl, late, kCFRunLoopDefaultMode);
    std::promise<void> waiting;
    std::once_flag once;
    HookGuard hook([&](CFRunLoopRef loop) {
      if (loop == rl) std::call_once(once, [&] { waiting.set_value(); });
    });
    std::thread mover([&] {
      waiting.get_future().wait();
      CFRunLoopTimerSetNextFireDate(late, CFAbsoluteTimeGetCurrent());
    });
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, false), kCFRunLoopRunFinished);
    mover.join();
    EXPECT_EQ(fired, 1);
    CFRelease(late);
  });
}

// Puts the system clocks back however the test ends.
struct ClockGuard {
  ~ClockGuard() {
    SkyloomSetMonotonicTimeSource(nullptr);
    SkyloomSetAbsoluteTimeSource(nullptr);
  }
};

// Timers run on the monotonic clock: a step of the wall clock, back or
// forward, neither holds a timer back nor fires it early, and its fire date
// reads back in absolute time as it was set.
TEST(CFRunLoop, AWallClockStepNeitherDelaysNorHastensATimer) {
  onFreshThread([] {
    for (const double step : {-3600.0, 3600.0}) {
      ClockGuard guard;
      const double start = 794549106.0;
      std::atomic<UInt64> micros{5'000'000'000};
      std::atomic<double> wall{start};
      SkyloomSetMonotonicTimeSource([&] { return micros.load(); });
      SkyloomSetAbsoluteTimeSource([&] { return wall.load(); });
      int fired = 0;
      CFRunLoopTimerContext tc{0, &fired, nullptr, nullptr, nullptr};
      // Every 50 ms, the first time 50 ms from now.
      CFRunLoopTimerRef t = CFRunLoopTimerCreate(
          nullptr, start + 0.05, 0.05, 0, 0, [](CFRunLoopTimerRef, void* info) { ++*static_cast<int*>(info); },
          &tc);
      CFRunLoopAddTimer(CFRunLoopGetCurrent(), t, kCFRunLoopDefaultMode);
      wall = start + step;
      const auto runAfter = [&](UInt64 advance) {
        micros += advance;
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false);
        return fired;
      };
      EXPECT_EQ(runAfter(0), 0) << step;
      EXPECT_EQ(runAfter(49'000), 0) << step;
      EXPECT_EQ(runAfter(2'000), 1) << step;
      EXPECT_EQ(runAfter(48'000), 1) << step;
      EXPECT_EQ(runAfter(2'000), 2) << step;
      EXPECT_NEAR(CFRunLoopTimerGetNextFireDate(t), start + 0.15, 1e-6);
      // A new date is taken against the wall clock of the moment it is set.
      CFRunLoopTimerSetNextFireDate(t, wall + 0.05);
      EXPECT_EQ(runAfter(49'000), 2) << step;
      EXPECT_EQ(runAfter(2'000), 3) << step;
      CFRunLoopTimerInvalidate(t);
      CFRelease(t);
    }
  });
}

// On the system's own monotonic clock too: after the wall clock steps back an
// hour, a 50 ms timer still fires (else only the hang guard ends the run).
TEST(CFRunLoop, ATimerFiresOnTimeAfterTheWallClockStepsBack) {
  onFreshThread([] {
    ClockGuard guard;
    int fired = 0;
    CFRunLoopTimerContext tc{0, &fired, nullptr, nullptr, nullptr};
    CFRunLoopTimerRef t = CFRunLoopTimerCreate(
        nullptr, CFAbsoluteTimeGetCurrent() + 0.05, 0, 0, 0,
        [](CFRunLoopTimerRef, void* info) { ++*static_cast<int*>(info); }, &tc);
    CFRunLoopAddTimer(CFRunLoopGetCurrent(), t, kCFRunLoopDefaultMode);
    const double back = CFAbsoluteTimeGetCurrent() - 3600;
    SkyloomSetAbsoluteTimeSource([back] { return back; });
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, false), kCFRunLoopRunFinished);
    EXPECT_EQ(fired, 1);
    CFRelease(t);
  });
}

TEST(CFRunLoop, FileDescriptorCallbacksAreOneShot) {
  onFreshThread([] {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    struct State {
      int calls = 0;
      CFOptionFlags types = 0;
      int readFd = -1;
    } st;
    st.readFd = p[0];
    CFFileDescriptorContext ctx{0, &st, nullptr, nullptr, nullptr};
    CFFileDescriptorRef f = CFFileDescriptorCreate(
        nullptr, p[0], true,
        [](CFFileDescriptorRef, CFOptionFlags types, void* info) {
          auto* s = static_cast<State*>(info);
          ++s->calls;
          s->types = types;
          char b;
          ssize_t n = read(s->readFd, &b, 1);
          (void)n;
        },
        &ctx);
    ASSERT_NE(f, nullptr);
    CFRunLoopSourceRef src = CFFileDescriptorCreateRunLoopSource(nullptr, f, 0);
    CFRunLoopSourceRef again = CFFileDescriptorCreateRunLoopSource(nullptr, f, 0);
    EXPECT_EQ(src, again);
    CFRelease(again);
    CFRunLoopRef rl = CFRunLoopGetCurrent();
    CFRunLoopAddSource(rl, src, kCFRunLoopDefaultMode);
    CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorReadCallBack);

    std::promise<void> waiting;
    std::once_flag once;
    HookGuard hook([&](CFRunLoopRef loop) {
      if (loop == rl) std::call_once(once, [&] { waiting.set_value(); });
    });
    std::thread writer([&] {
      waiting.get_future().wait();
      ssize_t n = write(p[1], "ab", 2);
      (void)n;
    });
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, true), kCFRunLoopRunHandledSource);
    writer.join();
    EXPECT_EQ(st.calls, 1);
    EXPECT_EQ(st.types, kCFFileDescriptorReadCallBack);

    // One byte is still there, but the callback stays off until enabled again.
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.02, true), kCFRunLoopRunTimedOut);
    EXPECT_EQ(st.calls, 1);
    CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorReadCallBack);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, true), kCFRunLoopRunHandledSource);
    EXPECT_EQ(st.calls, 2);

    // Invalidating the descriptor takes its source off the loop and closes it.
    CFFileDescriptorInvalidate(f);
    EXPECT_FALSE(CFRunLoopSourceIsValid(src));
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, true), kCFRunLoopRunFinished);
    EXPECT_EQ(fcntl(p[0], F_GETFD), -1);
    close(p[1]);
    CFRelease(src);
    CFRelease(f);
  });
}

TEST(CFRunLoop, SourcesKeepOwnershipAndCallbacksStraight) {
  const long live = SkyloomCFLiveObjectCount();
  Counter c;
  onFreshThread([&] {
    CFRunLoopRef rl = CFRunLoopGetCurrent();
    CFRunLoopSourceRef s = makeSource(&c);
    EXPECT_EQ(c.retains, 1);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRunLoopAddSource(rl, s, kCFRunLoopDefaultMode);
    CFRunLoopAddSource(rl, s, kCFRunLoopDefaultMode);  // already there: no change
    EXPECT_EQ(CFGetRetainCount(s), 2);
    EXPECT_EQ(c.schedules, 1);
    EXPECT_TRUE(CFRunLoopContainsSource(rl, s, kCFRunLoopDefaultMode));
    CFRunLoopRemoveSource(rl, s, kCFRunLoopDefaultMode);
    EXPECT_EQ(c.cancels, 1);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    EXPECT_FALSE(CFRunLoopContainsSource(rl, s, kCFRunLoopDefaultMode));

    // Common modes: the default mode always, another once it is made common.
    CFRunLoopAddSource(rl, s, kCFRunLoopCommonModes);
    CFRunLoopSourceSignal(s);
    EXPECT_EQ(CFRunLoopRunInMode(CFSTR("SkyloomModalMode"), 0.01, true), kCFRunLoopRunFinished);
    CFRunLoopAddCommonMode(rl, CFSTR("SkyloomModalMode"));
    EXPECT_EQ(CFRunLoopRunInMode(CFSTR("SkyloomModalMode"), kHangGuard, true), kCFRunLoopRunHandledSource);
    EXPECT_EQ(c.performs, 1);

    // An invalidated source is never performed, even when signalled before.
    CFRunLoopSourceSignal(s);
    CFRunLoopSourceInvalidate(s);
    CFRunLoopSourceSignal(s);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, true), kCFRunLoopRunFinished);
    EXPECT_EQ(c.performs, 1);
    EXPECT_EQ(c.cancels, 2);
    CFRelease(s);
  });
  EXPECT_EQ(c.releases, 1);  // the context's info was released with the source
  EXPECT_EQ(SkyloomCFLiveObjectCount(), live);
}

TEST(CFRunLoop, OrderAndNestedRuns) {
  onFreshThread([] {
    static std::vector<int> seen;
    seen.clear();
    CFRunLoopRef rl = CFRunLoopGetCurrent();
    Counter c1, c2;
    CFRunLoopSourceRef late = makeSource(&c1, 10, [](void*) { seen.push_back(10); });
    CFRunLoopSourceRef early = makeSource(&c2, -1, [](void*) {
      seen.push_back(-1);
      // A nested run in another mode; its stop ends only the inner run.
      CFRunLoopStop(CFRunLoopGetCurrent());
      seen.push_back(CFRunLoopRunInMode(CFSTR("Inner"), kHangGuard, false));
    });
    Counter c3;
    CFRunLoopSourceRef inner = makeSource(&c3);
    CFRunLoopAddSource(rl, inner, CFSTR("Inner"));
    CFRunLoopAddSource(rl, late, kCFRunLoopDefaultMode);
    CFRunLoopAddSource(rl, early, kCFRunLoopDefaultMode);
    CFRunLoopSourceSignal(late);
    CFRunLoopSourceSignal(early);
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, true), kCFRunLoopRunHandledSource);
    EXPECT_EQ(seen, (std::vector<int>{-1, kCFRunLoopRunStopped, 10}));
    for (auto* s : {late, early, inner}) {
      CFRunLoopSourceInvalidate(s);
      CFRelease(s);
    }
  });
}

TEST(CFRunLoop, MainLoopIsSharedAndCurrentIsPerThread) {
  CFRunLoopRef main = CFRunLoopGetMain();
  EXPECT_EQ(CFRunLoopGetCurrent(), main);  // the test runs on the main thread
  CFRunLoopRef other = nullptr;
  onFreshThread([&] {
    other = CFRunLoopGetCurrent();
    EXPECT_EQ(CFRunLoopGetMain(), main);
    EXPECT_EQ(CFRunLoopGetCurrent(), other);
    EXPECT_EQ(CFGetTypeID(other), CFRunLoopGetTypeID());
  });
  EXPECT_NE(other, main);
  EXPECT_EQ(CFRunLoopCopyCurrentMode(main), nullptr);
}

// Many threads at once: signals, wake-ups, timers added and invalidated, and
// finally a stop, all aimed at one running loop. Under TSan this shows the
// loop's shared state is guarded; in every flavour the run must end stopped.
TEST(CFRunLoop, ManyThreadsSignalAndStopOneLoop) {
  onFreshThread([] {
    Counter c;
    CFRunLoopSourceRef s = makeSource(&c);
    CFRunLoopRef rl = CFRunLoopGetCurrent();
    CFRunLoopAddSource(rl, s, kCFRunLoopDefaultMode);
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
      workers.emplace_back([&, w] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 200; ++i) {
          CFRunLoopSourceSignal(s);
          if (i % 7 == w) CFRunLoopWakeUp(rl);
          if (i % 50 == w) {
            CFRunLoopTimerRef t = CFRunLoopTimerCreate(
                nullptr, CFAbsoluteTimeGetCurrent(), 0.001, 0, 0, [](CFRunLoopTimerRef, void*) {}, nullptr);
            CFRunLoopAddTimer(rl, t, kCFRunLoopDefaultMode);
            std::this_thread::yield();
            CFRunLoopTimerInvalidate(t);
            CFRelease(t);
          }
        }
      });
    }
    std::thread stopper([&] {
      for (auto& t : workers) t.join();
      while (c.performs == 0) std::this_thread::yield();
      CFRunLoopStop(rl);
    });
    go = true;
    EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, kHangGuard, false), kCFRunLoopRunStopped);
    stopper.join();
    EXPECT_GE(c.performs, 1);
    CFRunLoopSourceInvalidate(s);
    CFRelease(s);
  });
}
