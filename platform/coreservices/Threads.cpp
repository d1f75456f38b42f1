#include "platform/coreservices/Threads.h"

#include <sched.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define SKYLOOM_FIBER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SKYLOOM_FIBER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define SKYLOOM_FIBER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SKYLOOM_FIBER_TSAN 1
#endif
#endif

#ifdef SKYLOOM_FIBER_ASAN
#include <sanitizer/common_interface_defs.h>
#endif
#ifdef SKYLOOM_FIBER_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// Sanitizer frames are several times larger, so their default stacks are too.
#if defined(SKYLOOM_FIBER_ASAN) || defined(SKYLOOM_FIBER_TSAN)
constexpr size_t kDefaultStack = 4u << 20;
#else
constexpr size_t kDefaultStack = 1u << 20;
#endif
constexpr size_t kMinimumStack = 64u << 10;

struct Fiber {
  ThreadID id = kApplicationThreadID;
  ucontext_t context{};
  void* stack = nullptr;  // null for the main thread
  size_t stackSize = 0;
  ThreadEntryUPP entry = nullptr;
  void* param = nullptr;
  void** result = nullptr;
  bool finished = false;
  int modalDepth = 0;  // modal loops open when it was last switched in
  void* asanFakeStack = nullptr;
  const void* asanStackBottom = nullptr;  // the main thread's, learnt on the first switch
  size_t asanStackSize = 0;
  void* tsanFiber = nullptr;
};

struct Scheduler {
  Fiber main;
  std::vector<Fiber*> threads;  // creation order
  Fiber* current = &main;
  Fiber* lastLeft = nullptr;  // the thread the last switch left
  ThreadID nextId = 3;
  int (*modalProbe)() = nullptr;
  OSErr injected = noErr;
  int injectedCount = 0;
};

Scheduler& sched() {
  static Scheduler s;
  return s;
}

bool onMainThread() { return pid_t(syscall(SYS_gettid)) == getpid(); }

int modalDepth() {
  Scheduler& s = sched();
  return s.modalProbe ? s.modalProbe() : 0;
}

void freeFiber(Fiber* f) {
#ifdef SKYLOOM_FIBER_TSAN
  if (f->tsanFiber) __tsan_destroy_fiber(f->tsanFiber);
#endif
  std::free(f->stack);
  delete f;
}

// Frees the threads that have ended; never the one running.
void reapFinished() {
  Scheduler& s = sched();
  for (size_t i = 0; i < s.threads.size();) {
    Fiber* f = s.threads[i];
    if (f->finished && f != s.current) {
      s.threads.erase(s.threads.begin() + long(i));
      freeFiber(f);
    } else {
      ++i;
    }
  }
}

// Called on the stack just switched to, once the switch is complete.
void finishSwitch(Fiber* arrived, Fiber* left) {
#ifdef SKYLOOM_FIBER_ASAN
  const void* bottom = nullptr;
  size_t size = 0;
  __sanitizer_finish_switch_fiber(arrived->asanFakeStack, &bottom, &size);
  if (left == &sched().main && left->asanStackBottom == nullptr) {
    left->asanStackBottom = bottom;
    left->asanStackSize = size;
  }
#else
  (void)arrived;
  (void)left;
#endif
  reapFinished();
}

void switchTo(Fiber* to) {
  Scheduler& s = sched();
  Fiber* from = s.current;
  if (to == from) return;
  to->modalDepth = modalDepth();
#ifdef SKYLOOM_FIBER_ASAN
  const void* bottom = to->stack ? to->stack : to->asanStackBottom;
  size_t size = to->stack ? to->stackSize : to->asanStackSize;
  // A thread leaving for good lets ASan drop its fake stack.
  __sanitizer_start_switch_fiber(from->finished ? nullptr : &from->asanFakeStack, bottom, size);
#endif
#ifdef SKYLOOM_FIBER_TSAN
  __tsan_switch_to_fiber(to->tsanFiber, 0);
#endif
  s.current = to;
  s.lastLeft = from;
  swapcontext(&from->context, &to->context);
  // Back on `from`: whoever switched here recorded itself as left behind.
  finishSwitch(from, s.lastLeft);
}

}  // namespace

namespace {

// The next ready thread after `from` in the ring main, t1, t2, ...
Fiber* nextAfter(Fiber* from) {
  Scheduler& s = sched();
  size_t start = 0;
  if (from != &s.main) {
    for (size_t i = 0; i < s.threads.size(); ++i)
      if (s.threads[i] == from) start = i + 1;
  }
  for (size_t i = start; i < s.threads.size(); ++i)
    if (!s.threads[i]->finished) return s.threads[i];
  return &s.main;
}

void threadStart() {
  Scheduler& s = sched();
  Fiber* self = s.current;
  finishSwitch(self, s.lastLeft);
  void* r = self->entry(self->param);
  if (self->result) *self->result = r;
  self->finished = true;
  switchTo(nextAfter(self));
  // Nothing ever switches back to a finished thread.
  std::abort();
}

}  // namespace

OSErr NewThread(ThreadStyle threadStyle, ThreadEntryUPP threadEntry, void* threadParam, Size stackSize,
                ThreadOptions options, void** threadResult, ThreadID* threadMade) {
  if (threadMade) *threadMade = kNoThreadID;
  // The scheduler belongs to the main thread.
  if (!onMainThread()) return threadProtocolErr;
  Scheduler& s = sched();
  if (s.injectedCount > 0) {
    --s.injectedCount;
    return s.injected;
  }
  if (threadStyle != kCooperativeThread || threadEntry == nullptr || stackSize < 0) return paramErr;
  if (options & kNewSuspend) return threadProtocolErr;
  size_t size = stackSize == 0 ? kDefaultStack : size_t(stackSize);
  if (size < kMinimumStack) size = kMinimumStack;
  size = (size + 4095) & ~size_t(4095);
  auto* f = new (std::nothrow) Fiber;
  if (f == nullptr) return memFullErr;
  if (posix_memalign(&f->stack, 4096, size) != 0) {
    delete f;
    return memFullErr;
  }
  f->stackSize = size;
  f->entry = threadEntry;
  f->param = threadParam;
  f->result = threadResult;
  f->id = s.nextId++;
  if (s.nextId < 3) s.nextId = 3;
  if (getcontext(&f->context) != 0) {
    std::free(f->stack);
    delete f;
    return memFullErr;
  }
  f->context.uc_stack.ss_sp = f->stack;
  f->context.uc_stack.ss_size = size;
  f->context.uc_link = nullptr;
  makecontext(&f->context, threadStart, 0);
#ifdef SKYLOOM_FIBER_TSAN
  if (s.main.tsanFiber == nullptr) s.main.tsanFiber = __tsan_get_current_fiber();
  f->tsanFiber = __tsan_create_fiber(0);
#endif
  s.threads.push_back(f);
  if (threadMade) *threadMade = f->id;
  return noErr;
}

OSErr GetCurrentThread(ThreadID* currentThreadID) {
  if (currentThreadID == nullptr) return paramErr;
  *currentThreadID = onMainThread() ? sched().current->id : ThreadID(kApplicationThreadID);
  return noErr;
}

OSErr YieldToAnyThread() {
  if (!onMainThread()) {
    sched_yield();
    return noErr;
  }
  Scheduler& s = sched();
  Fiber* self = s.current;
  // A modal loop this thread opened already serves the user.
  if (self != &s.main && modalDepth() > self->modalDepth) return noErr;
  Fiber* to = nextAfter(self);
  if (to == self) {
    reapFinished();
    if (self == &s.main && s.threads.empty()) sched_yield();
    return noErr;
  }
  switchTo(to);
  return noErr;
}

UInt32 SkyloomCooperativeThreadCount() { return UInt32(sched().threads.size()); }

void SkyloomSetModalLoopDepthProbe(int (*probe)()) { sched().modalProbe = probe; }

void SkyloomInjectNewThreadFailure(OSErr status, int count) {
  sched().injected = status;
  sched().injectedCount = count;
}
