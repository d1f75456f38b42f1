// Run loops. One lock (gLock) guards every loop, source, timer and
// file-descriptor object's run-loop state; each loop sleeps in ppoll() on its
// own eventfd plus the descriptors its file-descriptor sources watch.
//
// Rules that keep this deadlock-free: no callout (perform, schedule, cancel,
// timer or descriptor callback, context release) runs with gLock held, and no
// object is released with gLock held, since a last release runs callouts too.
// Under the lock we only retain, and collect work in a Deferred to do after.
#include "platform/corefoundation/CFRunLoop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/corefoundation/CFInternal.h"
#include "platform/coreservices/CoreServices.h"

namespace {

std::mutex gLock;
std::mutex gHookLock;
std::function<void(CFRunLoopRef)> gBeforeWaitingHook;
unsigned long gNextSequence = 0;  // under gLock: creation order breaks ties

const std::u16string kDefaultKey = u"kCFRunLoopDefaultMode";
const std::u16string kCommonKey = u"kCFRunLoopCommonModes";

// Retain an object whose count may already have reached zero (it is being
// freed on another thread, blocked on gLock): false then, and nothing changes.
bool tryRetain(const SkyloomCFObject* obj) {
  auto* o = const_cast<SkyloomCFObject*>(obj);
  if (o->immortal) return true;
  CFIndex n = o->refCount.load(std::memory_order_relaxed);
  while (n > 0) {
    if (o->refCount.compare_exchange_weak(n, n + 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

struct Deferred {
  std::vector<CFTypeRef> releases;
  std::vector<std::function<void()>> callouts;
  Deferred() = default;
  Deferred(const Deferred&) = delete;
  Deferred& operator=(const Deferred&) = delete;
  // Runs the collected work; the caller must not hold gLock.
  void run() {
    for (auto& f : callouts) f();
    callouts.clear();
    for (CFTypeRef cf : releases) CFRelease(cf);
    releases.clear();
  }
  ~Deferred() { run(); }
};

CFStringRef modeString(const std::u16string& key) {
  return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar*>(key.data()), CFIndex(key.size()));
}

}  // namespace

struct SkyloomCFFileDescriptor;

struct SkyloomCFRunLoopSource : SkyloomCFObject {
  SkyloomCFRunLoopSource() : SkyloomCFObject(kSkyloomCFTypeRunLoopSource) {}
  ~SkyloomCFRunLoopSource() override;
  CFIndex order = 0;
  CFRunLoopSourceContext context{};
  unsigned long sequence = 0;
  // Under gLock:
  bool valid = true;
  bool signalled = false;
  SkyloomCFFileDescriptor* descriptor = nullptr;  // retained; set for descriptor sources
};

struct SkyloomCFRunLoopTimer : SkyloomCFObject {
  SkyloomCFRunLoopTimer() : SkyloomCFObject(kSkyloomCFTypeRunLoopTimer) {}
  ~SkyloomCFRunLoopTimer() override {
    if (infoHeld && context.release) context.release(context.info);
  }
  CFTimeInterval interval = 0;
  CFIndex order = 0;
  CFRunLoopTimerCallBack callout = nullptr;
  CFRunLoopTimerContext context{};
  unsigned long sequence = 0;
  // Under gLock:
  bool infoHeld = false;
  bool valid = true;
  bool firing = false;
  CFAbsoluteTime fireDate = 0;  // as given (and advanced by whole intervals), for the caller to read back
  double fireTime = 0;          // when it fires: seconds on the monotonic clock
  unsigned long dateChanges = 0;  // raised by each new fire date
  SkyloomCFRunLoop* loop = nullptr;  // the one loop it is in
};

struct SkyloomCFFileDescriptor : SkyloomCFObject {
  SkyloomCFFileDescriptor() : SkyloomCFObject(kSkyloomCFTypeFileDescriptor) {}
  ~SkyloomCFFileDescriptor() override {
    if (valid && closeOnInvalidate) close(fd);
    if (infoHeld && context.release) context.release(context.info);
  }
  int fd = -1;
  bool closeOnInvalidate = false;
  CFFileDescriptorCallBack callout = nullptr;
  CFFileDescriptorContext context{};
  // Under gLock:
  bool infoHeld = false;
  bool valid = true;
  CFOptionFlags enabled = 0;
  SkyloomCFRunLoopSource* source = nullptr;  // not retained; cleared when the source is freed
};

struct SkyloomCFRunLoop : SkyloomCFObject {
  SkyloomCFRunLoop();
  ~SkyloomCFRunLoop() override;

  struct SourceEntry {
    SkyloomCFRunLoopSource* source;  // retained
    std::u16string mode;
  };
  struct TimerEntry {
    SkyloomCFRunLoopTimer* timer;  // retained
    std::u16string mode;
  };

  bool inMode(const std::u16string& entryMode, const std::u16string& mode) const {
    return entryMode == mode || (entryMode == kCommonKey && commonModes.count(mode));
  }
  bool modeIsEmpty(const std::u16string& mode) const {
    for (const auto& e : sources)
      if (inMode(e.mode, mode)) return false;
    for (const auto& e : timers)
      if (inMode(e.mode, mode)) return false;
    return true;
  }
  void wake() const {
    uint64_t one = 1;
    ssize_t n = write(wakeFd, &one, sizeof one);
    (void)n;  // a full counter already means "awake"
  }

  int wakeFd = -1;
  // Under gLock:
  bool stopPending = false;
  bool waiting = false;
  std::vector<std::u16string> runModes;  // modes of the runs in progress, innermost last
  std::unordered_set<std::u16string> commonModes{kDefaultKey};
  std::vector<SourceEntry> sources;
  std::vector<TimerEntry> timers;
};

namespace {

std::unordered_set<const SkyloomCFRunLoop*>& liveLoops() {
  static auto* loops = new std::unordered_set<const SkyloomCFRunLoop*>;
  return *loops;
}

bool isLive(CFRunLoopRef rl) { return rl && liveLoops().count(rl); }

SkyloomCFRunLoop* gMainLoop = nullptr;

bool isMainThread() { return gettid() == getpid(); }

// Timers run on the monotonic clock; absolute time (the wall clock) is met
// only when a fire date is set or read.
double monotonicNow() { return double(SkyloomMicroseconds()) * 1e-6; }

double monotonicTimeOf(CFAbsoluteTime date) { return monotonicNow() + (date - CFAbsoluteTimeGetCurrent()); }

// Longest sleep while a test drives the monotonic clock: the loop cannot be
// told when test time moves, so it looks again this often.
constexpr double kTestClockNap = 0.002;

struct LoopHolder {
  SkyloomCFRunLoop* loop = nullptr;
  ~LoopHolder() {
    if (loop && loop != gMainLoop) CFRelease(loop);
  }
};
thread_local LoopHolder tLoop;

// Under gLock: drop a timer from its loop; the loop's references and the
// context info are released later.
void invalidateTimerLocked(SkyloomCFRunLoopTimer* t, Deferred& later) {
  if (!t->valid) return;
  t->valid = false;
  if (SkyloomCFRunLoop* rl = t->loop) {
    auto& v = rl->timers;
    for (auto it = v.begin(); it != v.end();) {
      if (it->timer == t) {
        later.releases.push_back(t);
        it = v.erase(it);
      } else {
        ++it;
      }
    }
    rl->wake();
    t->loop = nullptr;
  }
  if (t->infoHeld) {
    t->infoHeld = false;
    if (t->context.release) {
      auto release = t->context.release;
      const void* info = t->context.info;
      later.callouts.push_back([release, info] { release(info); });
    }
  }
}

// Under gLock: the cancel callout for a source leaving rl in mode.
void queueCancel(SkyloomCFRunLoopSource* s, SkyloomCFRunLoop* rl, const std::u16string& mode, Deferred& later) {
  if (!s->context.cancel) return;
  if (!tryRetain(rl)) return;
  auto cancel = s->context.cancel;
  void* info = s->context.info;
  later.callouts.push_back([cancel, info, rl, mode] {
    CFStringRef m = modeString(mode);
    cancel(info, rl, m);
    CFRelease(m);
    CFRelease(rl);
  });
}

}  // namespace

SkyloomCFRunLoopSource::~SkyloomCFRunLoopSource() {
  SkyloomCFFileDescriptor* d = nullptr;
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (descriptor && descriptor->source == this) descriptor->source = nullptr;
    d = descriptor;
  }
  if (context.release) context.release(context.info);
  if (d) CFRelease(d);
}

SkyloomCFRunLoop::SkyloomCFRunLoop() : SkyloomCFObject(kSkyloomCFTypeRunLoop) {
  wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  std::lock_guard<std::mutex> lock(gLock);
  liveLoops().insert(this);
}

SkyloomCFRunLoop::~SkyloomCFRunLoop() {
  Deferred later;
  {
    std::lock_guard<std::mutex> lock(gLock);
    liveLoops().erase(this);
    for (auto& e : sources) {
      if (e.source->context.cancel) {
        auto cancel = e.source->context.cancel;
        void* info = e.source->context.info;
        std::u16string mode = e.mode;
        // The loop is going away: cancel hears of it with a null loop.
        later.callouts.push_back([cancel, info, mode] {
          CFStringRef m = modeString(mode);
          cancel(info, nullptr, m);
          CFRelease(m);
        });
      }
      later.releases.push_back(e.source);
    }
    sources.clear();
    std::vector<SkyloomCFRunLoopTimer*> ts;
    for (auto& e : timers) ts.push_back(e.timer);
    for (auto* t : ts) invalidateTimerLocked(t, later);
  }
  later.run();
  if (wakeFd >= 0) close(wakeFd);
}

// ---- Loops ----
CFTypeID CFRunLoopGetTypeID() { return kSkyloomCFTypeRunLoop; }
CFTypeID CFRunLoopSourceGetTypeID() { return kSkyloomCFTypeRunLoopSource; }
CFTypeID CFRunLoopTimerGetTypeID() { return kSkyloomCFTypeRunLoopTimer; }
CFTypeID CFFileDescriptorGetTypeID() { return kSkyloomCFTypeFileDescriptor; }

CFStringRef SkyloomCFRunLoopDefaultMode() {
  static const CFStringRef s = SkyloomCFSTR("kCFRunLoopDefaultMode");
  return s;
}

CFStringRef SkyloomCFRunLoopCommonModes() {
  static const CFStringRef s = SkyloomCFSTR("kCFRunLoopCommonModes");
  return s;
}

CFRunLoopRef CFRunLoopGetMain() {
  static std::once_flag once;
  std::call_once(once, [] {
    gMainLoop = new SkyloomCFRunLoop;
    gMainLoop->makeImmortal();
  });
  return gMainLoop;
}

CFRunLoopRef CFRunLoopGetCurrent() {
  if (!tLoop.loop) tLoop.loop = isMainThread() ? CFRunLoopGetMain() : new SkyloomCFRunLoop;
  return tLoop.loop;
}

void CFRunLoopStop(CFRunLoopRef rl) {
  std::lock_guard<std::mutex> lock(gLock);
  if (!isLive(rl)) return;
  rl->stopPending = true;
  rl->wake();
}

void CFRunLoopWakeUp(CFRunLoopRef rl) {
  std::lock_guard<std::mutex> lock(gLock);
  if (isLive(rl)) rl->wake();
}

Boolean CFRunLoopIsWaiting(CFRunLoopRef rl) {
  std::lock_guard<std::mutex> lock(gLock);
  return isLive(rl) && rl->waiting;
}

CFStringRef CFRunLoopCopyCurrentMode(CFRunLoopRef rl) {
  std::u16string mode;
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!isLive(rl) || rl->runModes.empty()) return nullptr;
    mode = rl->runModes.back();
  }
  return modeString(mode);
}

void CFRunLoopAddCommonMode(CFRunLoopRef rl, CFStringRef mode) {
  if (!mode) return;
  std::lock_guard<std::mutex> lock(gLock);
  if (!isLive(rl)) return;
  rl->commonModes.insert(mode->units);
  rl->wake();
}

void SkyloomCFRunLoopSetBeforeWaitingHook(std::function<void(CFRunLoopRef)> hook) {
  std::lock_guard<std::mutex> lock(gHookLock);
  gBeforeWaitingHook = std::move(hook);
}

namespace {

// Fires every timer of the mode that is due, earliest first.
void fireDueTimers(SkyloomCFRunLoop* rl, const std::u16string& mode) {
  const double now = monotonicNow();
  struct Due {
    SkyloomCFRunLoopTimer* timer;
    double time;
  };
  std::vector<Due> due;
  {
    std::lock_guard<std::mutex> lock(gLock);
    for (auto& e : rl->timers) {
      SkyloomCFRunLoopTimer* t = e.timer;
      if (rl->inMode(e.mode, mode) && t->valid && !t->firing && t->fireTime <= now &&
          std::find_if(due.begin(), due.end(), [t](const Due& d) { return d.timer == t; }) == due.end()) {
        CFRetain(t);
        due.push_back({t, t->fireTime});
      }
    }
  }
  std::sort(due.begin(), due.end(), [](const Due& a, const Due& b) {
    if (a.time != b.time) return a.time < b.time;
    if (a.timer->order != b.timer->order) return a.timer->order < b.timer->order;
    return a.timer->sequence < b.timer->sequence;
  });
  for (const Due& entry : due) {
    SkyloomCFRunLoopTimer* t = entry.timer;
    Deferred later;
    double firedFor;
    unsigned long dateChanges;
    {
      std::lock_guard<std::mutex> lock(gLock);
      if (!t->valid || t->firing || t->fireTime > now || t->loop != rl) continue;
      t->firing = true;
      firedFor = t->fireTime;
      dateChanges = t->dateChanges;
    }
    t->callout(t, t->context.info);
    const double after = monotonicNow();
    std::lock_guard<std::mutex> lock(gLock);
    t->firing = false;
    if (!t->valid || t->dateChanges != dateChanges) continue;  // invalidated, or the callout set a new date
    if (t->interval > 0) {
      // Missed firings are skipped: the next time is the first one after now.
      double steps = std::max(1.0, std::floor((after - firedFor) / t->interval) + 1);
      double next = firedFor + steps * t->interval;
      if (next <= after) {
        next += t->interval;
        steps += 1;
      }
      t->fireTime = next;
      t->fireDate += steps * t->interval;
    } else {
      invalidateTimerLocked(t, later);
    }
  }
  for (const Due& d : due) CFRelease(d.timer);
}

// Performs the signalled version-0 sources of the mode, lowest order first.
bool performSources(SkyloomCFRunLoop* rl, const std::u16string& mode) {
  std::vector<SkyloomCFRunLoopSource*> ready;
  {
    std::lock_guard<std::mutex> lock(gLock);
    for (auto& e : rl->sources) {
      SkyloomCFRunLoopSource* s = e.source;
      if (rl->inMode(e.mode, mode) && s->valid && s->signalled && !s->descriptor &&
          std::find(ready.begin(), ready.end(), s) == ready.end()) {
        CFRetain(s);
        ready.push_back(s);
      }
    }
  }
  std::sort(ready.begin(), ready.end(), [](const SkyloomCFRunLoopSource* a, const SkyloomCFRunLoopSource* b) {
    return a->order != b->order ? a->order < b->order : a->sequence < b->sequence;
  });
  bool handled = false;
  for (SkyloomCFRunLoopSource* s : ready) {
    {
      std::lock_guard<std::mutex> lock(gLock);
      if (!s->valid || !s->signalled) continue;
      s->signalled = false;
    }
    if (s->context.perform) s->context.perform(s->context.info);
    handled = true;
  }
  for (auto* s : ready) CFRelease(s);
  return handled;
}

}  // namespace

CFRunLoopRunResult CFRunLoopRunInMode(CFStringRef mode, CFTimeInterval seconds, Boolean returnAfterSourceHandled) {
  using Clock = std::chrono::steady_clock;
  SkyloomCFRunLoop* rl = CFRunLoopGetCurrent();
  if (!mode) return kCFRunLoopRunFinished;
  const std::u16string key = mode->units;
  const Clock::time_point start = Clock::now();
  // Beyond about thirty years a run has no deadline.
  const bool forever = !(seconds < 1e9);
  const Clock::time_point deadline =
      forever ? Clock::time_point::max()
              : start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::max(0.0, seconds)));

  {
    std::lock_guard<std::mutex> lock(gLock);
    if (rl->modeIsEmpty(key)) return kCFRunLoopRunFinished;
    rl->runModes.push_back(key);
  }
  CFRunLoopRunResult result = 0;
  bool waitedOnce = false;
  std::vector<SkyloomCFRunLoopSource*> watched;
  std::vector<pollfd> fds;
  while (!result) {
    {
      std::lock_guard<std::mutex> lock(gLock);
      if (rl->stopPending) {
        rl->stopPending = false;
        result = kCFRunLoopRunStopped;
        break;
      }
    }
    fireDueTimers(rl, key);
    bool handled = performSources(rl, key);
    if (handled && returnAfterSourceHandled) {
      result = kCFRunLoopRunHandledSource;
      break;
    }

    // Decide how long to sleep and what to watch.
    const double nowMonotonic = monotonicNow();
    Clock::time_point now = Clock::now();
    double napFor;
    {
      std::lock_guard<std::mutex> lock(gLock);
      if (rl->stopPending) {
        rl->stopPending = false;
        result = kCFRunLoopRunStopped;
        break;
      }
      if (rl->modeIsEmpty(key)) {
        result = kCFRunLoopRunFinished;
        break;
      }
      if (waitedOnce && now >= deadline) {
        result = kCFRunLoopRunTimedOut;
        break;
      }
      napFor = forever ? 1e9 : std::chrono::duration<double>(deadline - now).count();
      fds.clear();
      fds.push_back(pollfd{rl->wakeFd, POLLIN, 0});
      watched.clear();
      for (auto& e : rl->sources) {
        SkyloomCFRunLoopSource* s = e.source;
        if (!rl->inMode(e.mode, key) || !s->valid) continue;
        if (s->signalled) napFor = 0;
        SkyloomCFFileDescriptor* d = s->descriptor;
        if (d && d->valid && d->enabled && std::find(watched.begin(), watched.end(), s) == watched.end()) {
          short events = 0;
          if (d->enabled & kCFFileDescriptorReadCallBack) events |= POLLIN;
          if (d->enabled & kCFFileDescriptorWriteCallBack) events |= POLLOUT;
          fds.push_back(pollfd{d->fd, events, 0});
          CFRetain(s);
          watched.push_back(s);
        }
      }
      for (auto& e : rl->timers)
        if (rl->inMode(e.mode, key) && e.timer->valid && !e.timer->firing)
          napFor = std::min(napFor, e.timer->fireTime - nowMonotonic);
      if (SkyloomMonotonicTimeIsInjected()) napFor = std::min(napFor, kTestClockNap);
      if (napFor < 0) napFor = 0;
      rl->waiting = napFor > 0;
    }

    if (napFor > 0) {
      std::function<void(CFRunLoopRef)> hook;
      {
        std::lock_guard<std::mutex> lock(gHookLock);
        hook = gBeforeWaitingHook;
      }
      if (hook) hook(rl);
    }
    timespec ts;
    double whole = std::floor(std::min(napFor, 1e9));
    ts.tv_sec = time_t(whole);
    ts.tv_nsec = long(std::min(999999999.0, (napFor - whole) * 1e9));
    int n = ppoll(fds.data(), fds.size(), &ts, nullptr);
    waitedOnce = true;
    uint64_t drained;
    while (read(rl->wakeFd, &drained, sizeof drained) > 0) {
    }

    // Descriptor callbacks: each fired type is disabled until re-enabled.
    struct Fired {
      SkyloomCFFileDescriptor* d;
      CFOptionFlags types;
    };
    std::vector<Fired> fired;
    {
      std::lock_guard<std::mutex> lock(gLock);
      rl->waiting = false;
      for (size_t i = 1; n > 0 && i < fds.size(); ++i) {
        short re = fds[i].revents;
        if (!re) continue;
        SkyloomCFFileDescriptor* d = watched[i - 1]->descriptor;
        if (!d || !d->valid || !watched[i - 1]->valid) continue;
        if (re & POLLNVAL) {
          d->enabled = 0;  // closed under us: stop watching rather than spin
          continue;
        }
        CFOptionFlags types = 0;
        if ((re & (POLLIN | POLLHUP | POLLERR)) && (d->enabled & kCFFileDescriptorReadCallBack))
          types |= kCFFileDescriptorReadCallBack;
        if ((re & (POLLOUT | POLLERR)) && (d->enabled & kCFFileDescriptorWriteCallBack))
          types |= kCFFileDescriptorWriteCallBack;
        if (!types) continue;
        d->enabled &= ~types;
        CFRetain(d);
        fired.push_back({d, types});
      }
    }
    for (auto* s : watched) CFRelease(s);
    watched.clear();
    for (const Fired& f : fired) {
      if (f.d->callout) f.d->callout(f.d, f.types, f.d->context.info);
      CFRelease(f.d);
    }
    if (!fired.empty() && returnAfterSourceHandled) result = kCFRunLoopRunHandledSource;
  }
  for (auto* s : watched) CFRelease(s);
  std::lock_guard<std::mutex> lock(gLock);
  rl->runModes.pop_back();
  return result;
}

void CFRunLoopRun() {
  CFRunLoopRunResult r;
  do {
    r = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1e10, false);
  } while (r != kCFRunLoopRunStopped && r != kCFRunLoopRunFinished);
}

// ---- Sources ----
CFRunLoopSourceRef CFRunLoopSourceCreate(CFAllocatorRef, CFIndex order, CFRunLoopSourceContext* context) {
  if (!context || context->version != 0) return nullptr;
  auto* s = new SkyloomCFRunLoopSource;
  s->order = order;
  s->context = *context;
  if (s->context.retain) s->context.info = const_cast<void*>(s->context.retain(s->context.info));
  std::lock_guard<std::mutex> lock(gLock);
  s->sequence = ++gNextSequence;
  return s;
}

void CFRunLoopSourceSignal(CFRunLoopSourceRef source) {
  if (!source) return;
  std::lock_guard<std::mutex> lock(gLock);
  if (!source->valid) return;
  source->signalled = true;
  for (const SkyloomCFRunLoop* rl : liveLoops())
    for (const auto& e : rl->sources)
      if (e.source == source) {
        rl->wake();
        break;
      }
}

void CFRunLoopSourceInvalidate(CFRunLoopSourceRef source) {
  if (!source) return;
  Deferred later;
  std::lock_guard<std::mutex> lock(gLock);
  if (!source->valid) return;
  source->valid = false;
  source->signalled = false;
  for (const SkyloomCFRunLoop* constLoop : liveLoops()) {
    auto* rl = const_cast<SkyloomCFRunLoop*>(constLoop);
    for (auto it = rl->sources.begin(); it != rl->sources.end();) {
      if (it->source == source) {
        queueCancel(source, rl, it->mode, later);
        later.releases.push_back(source);
        it = rl->sources.erase(it);
      } else {
        ++it;
      }
    }
  }
}

Boolean CFRunLoopSourceIsValid(CFRunLoopSourceRef source) {
  if (!source) return false;
  std::lock_guard<std::mutex> lock(gLock);
  return source->valid;
}

CFIndex CFRunLoopSourceGetOrder(CFRunLoopSourceRef source) { return source ? source->order : 0; }

void CFRunLoopSourceGetContext(CFRunLoopSourceRef source, CFRunLoopSourceContext* context) {
  if (source && context) *context = source->context;
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFStringRef mode) {
  if (!source || !mode) return;
  Deferred later;
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!isLive(rl) || !source->valid) return;
    for (const auto& e : rl->sources)
      if (e.source == source && e.mode == mode->units) return;
    CFRetain(source);
    rl->sources.push_back({source, mode->units});
    if (source->context.schedule && tryRetain(rl)) {
      auto schedule = source->context.schedule;
      void* info = source->context.info;
      CFStringRef m = static_cast<CFStringRef>(CFRetain(mode));
      later.callouts.push_back([schedule, info, rl, m] {
        schedule(info, rl, m);
        CFRelease(m);
        CFRelease(rl);
      });
    }
    rl->wake();
  }
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFStringRef mode) {
  if (!source || !mode) return;
  Deferred later;
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!isLive(rl)) return;
    for (auto it = rl->sources.begin(); it != rl->sources.end(); ++it) {
      if (it->source == source && it->mode == mode->units) {
        queueCancel(source, rl, it->mode, later);
        later.releases.push_back(source);
        rl->sources.erase(it);
        rl->wake();
        break;
      }
    }
  }
}

Boolean CFRunLoopContainsSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFStringRef mode) {
  if (!source || !mode) return false;
  std::lock_guard<std::mutex> lock(gLock);
  if (!isLive(rl)) return false;
  for (const auto& e : rl->sources)
    if (e.source == source && (e.mode == mode->units || rl->inMode(e.mode, mode->units))) return true;
  return false;
}

// ---- Timers ----
CFRunLoopTimerRef CFRunLoopTimerCreate(CFAllocatorRef, CFAbsoluteTime fireDate, CFTimeInterval interval, CFOptionFlags,
                                       CFIndex order, CFRunLoopTimerCallBack callout, CFRunLoopTimerContext* context) {
  if (!callout) return nullptr;
  auto* t = new SkyloomCFRunLoopTimer;
  t->fireDate = fireDate;
  t->fireTime = monotonicTimeOf(fireDate);
  t->interval = (interval > 0 && std::isfinite(interval)) ? interval : 0;
  t->order = order;
  t->callout = callout;
  if (context) {
    t->context = *context;
    if (t->context.retain) t->context.info = const_cast<void*>(t->context.retain(t->context.info));
    t->infoHeld = true;
  }
  std::lock_guard<std::mutex> lock(gLock);
  t->sequence = ++gNextSequence;
  return t;
}

void CFRunLoopAddTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFStringRef mode) {
  if (!timer || !mode) return;
  std::lock_guard<std::mutex> lock(gLock);
  if (!isLive(rl) || !timer->valid) return;
  if (timer->loop && timer->loop != rl) return;  // a timer belongs to one loop
  for (const auto& e : rl->timers)
    if (e.timer == timer && e.mode == mode->units) return;
  CFRetain(timer);
  rl->timers.push_back({timer, mode->units});
  timer->loop = rl;
  rl->wake();
}

void CFRunLoopRemoveTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFStringRef mode) {
  if (!timer || !mode) return;
  Deferred later;
  std::lock_guard<std::mutex> lock(gLock);
  if (!isLive(rl)) return;
  bool stillIn = false;
  for (auto it = rl->timers.begin(); it != rl->timers.end();) {
    if (it->timer == timer && it->mode == mode->units) {
      later.releases.push_back(timer);
      it = rl->timers.erase(it);
    } else {
      stillIn |= it->timer == timer;
      ++it;
    }
  }
  if (!stillIn && timer->loop == rl) timer->loop = nullptr;
  rl->wake();
}

Boolean CFRunLoopContainsTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFStringRef mode) {
  if (!timer || !mode) return false;
  std::lock_guard<std::mutex> lock(gLock);
  if (!isLive(rl)) return false;
  for (const auto& e : rl->timers)
    if (e.timer == timer && (e.mode == mode->units || rl->inMode(e.mode, mode->units))) return true;
  return false;
}

void CFRunLoopTimerInvalidate(CFRunLoopTimerRef timer) {
  if (!timer) return;
  Deferred later;
  std::lock_guard<std::mutex> lock(gLock);
  invalidateTimerLocked(timer, later);
}

Boolean CFRunLoopTimerIsValid(CFRunLoopTimerRef timer) {
  if (!timer) return false;
  std::lock_guard<std::mutex> lock(gLock);
  return timer->valid;
}

CFAbsoluteTime CFRunLoopTimerGetNextFireDate(CFRunLoopTimerRef timer) {
  if (!timer) return 0;
  std::lock_guard<std::mutex> lock(gLock);
  return timer->fireDate;
}

void CFRunLoopTimerSetNextFireDate(CFRunLoopTimerRef timer, CFAbsoluteTime fireDate) {
  if (!timer) return;
  const double fireTime = monotonicTimeOf(fireDate);  // clock sources are called with no run-loop lock held
  std::lock_guard<std::mutex> lock(gLock);
  if (!timer->valid) return;
  timer->fireDate = fireDate;
  timer->fireTime = fireTime;
  timer->dateChanges++;
  if (timer->loop) timer->loop->wake();
}

CFTimeInterval CFRunLoopTimerGetInterval(CFRunLoopTimerRef timer) { return timer ? timer->interval : 0; }
Boolean CFRunLoopTimerDoesRepeat(CFRunLoopTimerRef timer) { return timer && timer->interval > 0; }
CFIndex CFRunLoopTimerGetOrder(CFRunLoopTimerRef timer) { return timer ? timer->order : 0; }

void CFRunLoopTimerGetContext(CFRunLoopTimerRef timer, CFRunLoopTimerContext* context) {
  if (timer && context) *context = timer->context;
}

// ---- File descriptors ----
CFFileDescriptorRef CFFileDescriptorCreate(CFAllocatorRef, CFFileDescriptorNativeDescriptor fd,
                                           Boolean closeOnInvalidate, CFFileDescriptorCallBack callout,
                                           const CFFileDescriptorContext* context) {
  if (fd < 0) return nullptr;
  auto* d = new SkyloomCFFileDescriptor;
  d->fd = fd;
  d->closeOnInvalidate = closeOnInvalidate;
  d->callout = callout;
  if (context) {
    d->context = *context;
    if (d->context.retain) d->context.info = d->context.retain(d->context.info);
    d->infoHeld = true;
  }
  return d;
}

CFFileDescriptorNativeDescriptor CFFileDescriptorGetNativeDescriptor(CFFileDescriptorRef f) { return f ? f->fd : -1; }

void CFFileDescriptorGetContext(CFFileDescriptorRef f, CFFileDescriptorContext* context) {
  if (f && context) *context = f->context;
}

namespace {
void wakeLoopsWatching(SkyloomCFFileDescriptor* d) {
  for (const SkyloomCFRunLoop* rl : liveLoops())
    for (const auto& e : rl->sources)
      if (e.source->descriptor == d) {
        rl->wake();
        break;
      }
}
}  // namespace

void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
  if (!f) return;
  std::lock_guard<std::mutex> lock(gLock);
  if (!f->valid) return;
  f->enabled |= callBackTypes & (kCFFileDescriptorReadCallBack | kCFFileDescriptorWriteCallBack);
  wakeLoopsWatching(f);
}

void CFFileDescriptorDisableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
  if (!f) return;
  std::lock_guard<std::mutex> lock(gLock);
  f->enabled &= ~callBackTypes;
  wakeLoopsWatching(f);
}

void CFFileDescriptorInvalidate(CFFileDescriptorRef f) {
  if (!f) return;
  SkyloomCFRunLoopSource* source = nullptr;
  bool closeIt = false;
  void (*release)(void*) = nullptr;
  void* info = nullptr;
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!f->valid) return;
    f->valid = false;
    f->enabled = 0;
    closeIt = f->closeOnInvalidate;
    if (f->source && tryRetain(f->source)) source = f->source;
    if (f->infoHeld) {
      f->infoHeld = false;
      release = f->context.release;
      info = f->context.info;
    }
  }
  if (source) {
    CFRunLoopSourceInvalidate(source);
    CFRelease(source);
  }
  if (closeIt) close(f->fd);
  if (release) release(info);
}

Boolean CFFileDescriptorIsValid(CFFileDescriptorRef f) {
  if (!f) return false;
  std::lock_guard<std::mutex> lock(gLock);
  return f->valid;
}

CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef, CFFileDescriptorRef f, CFIndex order) {
  if (!f) return nullptr;
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!f->valid) return nullptr;
    if (f->source && tryRetain(f->source)) return f->source;
  }
  auto* s = new SkyloomCFRunLoopSource;
  s->order = order;
  CFRetain(f);
  Deferred later;
  std::lock_guard<std::mutex> lock(gLock);
  s->sequence = ++gNextSequence;
  s->descriptor = f;
  if (f->source && tryRetain(f->source)) {
    // Another thread made one meanwhile: use it, and drop ours outside the lock.
    later.releases.push_back(s);
    return f->source;
  }
  f->source = s;
  return s;
}
