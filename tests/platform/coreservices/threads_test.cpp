#include "platform/coreservices/Threads.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// One cooperative thread's work: it appends its tag to the shared trace at
// every turn and checks that its locals survived the switches.
struct Worker {
  std::vector<std::string>* trace;
  char tag;
  int turns;
  bool localsIntact = false;
  pid_t ranOn = 0;
};

void* work(void* p) {
  auto* w = static_cast<Worker*>(p);
  w->ranOn = pid_t(syscall(SYS_gettid));
  // Locals with a pattern of their own, big enough to span stack pages.
  char block[8192];
  memset(block, w->tag, sizeof block);
  double sum = 0;
  for (int i = 0; i < w->turns; ++i) {
    w->trace->push_back(std::string(1, w->tag) + std::to_string(i));
    sum += i;
    YieldToAnyThread();
  }
  bool intact = sum == w->turns * (w->turns - 1) / 2.0;
  for (char c : block) intact = intact && c == w->tag;
  w->localsIntact = intact;
  return reinterpret_cast<void*>(static_cast<intptr_t>(w->tag));
}

TEST(CooperativeThreads, MainAndTwoThreadsTakeTurnsAndFinishedThreadsAreFreed) {
  std::vector<std::string> trace;
  Worker a{&trace, 'a', 3};
  Worker b{&trace, 'b', 2};
  void* resultA = nullptr;
  ThreadID idA = kNoThreadID, idB = kNoThreadID;
  ASSERT_EQ(NewThread(kCooperativeThread, NewThreadEntryUPP(work), &a, 0, kCreateIfNeeded, &resultA, &idA), noErr);
  ASSERT_EQ(NewThread(kCooperativeThread, NewThreadEntryUPP(work), &b, 0, kCreateIfNeeded, nullptr, &idB), noErr);
  EXPECT_NE(idA, idB);
  EXPECT_EQ(SkyloomCooperativeThreadCount(), 2u);
  EXPECT_TRUE(trace.empty());  // nothing runs before the main thread yields

  for (int round = 0; round < 5; ++round) {
    trace.push_back("m" + std::to_string(round));
    YieldToAnyThread();
  }
  // Round-robin: main, a, b, main, a, b, ... ; b ends in its third turn and
  // a in its fourth, and each is gone at the following switch.
  const std::vector<std::string> expected = {"m0", "a0", "b0", "m1", "a1", "b1", "m2", "a2", "m3", "m4"};
  EXPECT_EQ(trace, expected);
  EXPECT_TRUE(a.localsIntact);
  EXPECT_TRUE(b.localsIntact);
  EXPECT_EQ(resultA, reinterpret_cast<void*>(static_cast<intptr_t>('a')));
  EXPECT_EQ(SkyloomCooperativeThreadCount(), 0u);
  // They ran on the main thread itself.
  EXPECT_EQ(a.ranOn, getpid());
  EXPECT_EQ(b.ranOn, getpid());
}

void* noteId(void* p) {
  GetCurrentThread(static_cast<ThreadID*>(p));
  return nullptr;
}

TEST(CooperativeThreads, CurrentThreadAndRefusals) {
  ThreadID seen = kNoThreadID, made = kNoThreadID, main = kNoThreadID;
  ASSERT_EQ(GetCurrentThread(&main), noErr);
  EXPECT_EQ(main, ThreadID(kApplicationThreadID));
  ASSERT_EQ(NewThread(kCooperativeThread, noteId, &seen, 0, 0, nullptr, &made), noErr);
  YieldToAnyThread();
  EXPECT_EQ(seen, made);
  YieldToAnyThread();
  EXPECT_EQ(SkyloomCooperativeThreadCount(), 0u);

  struct Case {
    ThreadStyle style;
    ThreadEntryUPP entry;
    ThreadOptions options;
    OSErr expected;
  } cases[] = {
      {kPreemptiveThread, noteId, 0, paramErr},
      {kCooperativeThread, nullptr, 0, paramErr},
      {kCooperativeThread, noteId, kNewSuspend, threadProtocolErr},
  };
  for (const Case& c : cases) {
    made = 77;
    EXPECT_EQ(NewThread(c.style, c.entry, &seen, 0, c.options, nullptr, &made), c.expected);
    EXPECT_EQ(made, ThreadID(kNoThreadID));
  }
  SkyloomInjectNewThreadFailure(memFullErr);
  EXPECT_EQ(NewThread(kCooperativeThread, noteId, &seen, 0, 0, nullptr, nullptr), memFullErr);
  EXPECT_EQ(SkyloomCooperativeThreadCount(), 0u);
}

TEST(CooperativeThreads, OtherPosixThreadsNeitherSwitchNorMakeThem) {
  std::atomic<int> ran{0};
  Worker w{nullptr, 'x', 0};
  OSErr made = noErr;
  std::thread other([&] {
    EXPECT_EQ(YieldToAnyThread(), noErr);
    made = NewThread(kCooperativeThread, work, &w, 0, 0, nullptr, nullptr);
    ran = 1;
  });
  other.join();
  EXPECT_EQ(ran.load(), 1);
  EXPECT_EQ(made, threadProtocolErr);
  EXPECT_EQ(SkyloomCooperativeThreadCount(), 0u);
}

}  // namespace
