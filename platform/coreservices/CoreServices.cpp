#include "platform/coreservices/CoreServices.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "platform/coreservices/CivilDates.h"

// ---------------------------------------------------------------- time

namespace {
const std::chrono::steady_clock::time_point gProcessStart = std::chrono::steady_clock::now();
// The flag keeps the lock off the clock's path until a test installs a source.
std::atomic<bool> gMonotonicInjected{false};
std::mutex gMonotonicLock;
std::function<UInt64()> gMonotonicSource;
}

void SkyloomSetMonotonicTimeSource(std::function<UInt64()> microseconds) {
  std::lock_guard<std::mutex> lock(gMonotonicLock);
  gMonotonicSource = std::move(microseconds);
  gMonotonicInjected.store(bool(gMonotonicSource), std::memory_order_release);
}

bool SkyloomMonotonicTimeIsInjected() { return gMonotonicInjected.load(std::memory_order_acquire); }

UInt64 SkyloomMicroseconds() {
  if (gMonotonicInjected.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(gMonotonicLock);
    if (gMonotonicSource) return gMonotonicSource();
  }
  return SkyloomPacedMicroseconds();
}

void Microseconds(UnsignedWide* microTickCount) {
  if (!microTickCount) return;
  UInt64 us = SkyloomMicroseconds();
  microTickCount->hi = UInt32(us >> 32);
  microTickCount->lo = UInt32(us);
}

namespace {

UInt64 steadyMicros() {
  return UInt64(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

double wallSeconds() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The scale and where the clocks stood when it was set; the scaled monotonic
// time is scaledOrigin + (real - realOrigin) x k.
struct ClockScale {
  double k = 1.0;
  UInt64 realOrigin = 0;
  UInt64 scaledOrigin = 0;
  double wallOrigin = 0.0;  // the scaled wall clock at scaledOrigin
};
std::mutex gScaleLock;
ClockScale gScale;
std::atomic<double> gScaleFactor{1.0};
std::atomic<SInt64> gScaleOffset{0};  // at k = 1: the clock's lead on the steady clock

UInt64 scaledMicros(const ClockScale& s, UInt64 real) {
  if (s.realOrigin == 0) return real;  // never scaled
  return s.scaledOrigin + UInt64(std::llround(double(real - s.realOrigin) * s.k));
}

}  // namespace

void SkyloomSetTimeScale(double k) {
  if (!(k > 0.0)) k = 1.0;
  std::unique_lock<std::mutex> lock(gScaleLock);
  const UInt64 real = steadyMicros();
  const bool wasScaled = gScale.k != 1.0;
  // The monotonic clock goes on from where it stood, also back at k = 1
  // (timers already scheduled on it keep their places); the wall clock
  // returns to the real one then.
  const UInt64 scaledNow = scaledMicros(gScale, real);
  double wall = wallSeconds();
  if (wasScaled && k != 1.0) wall = gScale.wallOrigin + double(scaledNow - gScale.scaledOrigin) * 1e-6;
  gScale = ClockScale{k, real, scaledNow, wall};
  gScaleFactor.store(k, std::memory_order_release);
  gScaleOffset.store(SInt64(scaledNow) - SInt64(real), std::memory_order_release);
  lock.unlock();  // the clock's readers take the source's lock, then this one
  if (k == 1.0) {
    SkyloomSetMonotonicTimeSource(nullptr);
  } else {
    // While time runs faster, run loops look at the clock often.
    SkyloomSetMonotonicTimeSource([] { return SkyloomPacedMicroseconds(); });
  }
}

UInt64 SkyloomPacedMicroseconds() {
  const double k = gScaleFactor.load(std::memory_order_acquire);
  if (k == 1.0) return UInt64(SInt64(steadyMicros()) + gScaleOffset.load(std::memory_order_acquire));
  std::lock_guard<std::mutex> lock(gScaleLock);
  return scaledMicros(gScale, steadyMicros());
}

double SkyloomTimeScale() { return gScaleFactor.load(std::memory_order_acquire); }

bool SkyloomScaledWallClock(double* unixSeconds) {
  if (gScaleFactor.load(std::memory_order_acquire) == 1.0) return false;
  std::lock_guard<std::mutex> lock(gScaleLock);
  if (gScale.k == 1.0) return false;
  const UInt64 now = scaledMicros(gScale, steadyMicros());
  if (unixSeconds) *unixSeconds = gScale.wallOrigin + double(now - gScale.scaledOrigin) * 1e-6;
  return true;
}

UInt32 TickCount() {
  static const UInt64 start = UInt64(
      std::chrono::duration_cast<std::chrono::microseconds>(gProcessStart.time_since_epoch()).count());
  const UInt64 now = SkyloomPacedMicroseconds();
  const UInt64 us = now > start ? now - start : 0;
  return UInt32(us * 60u / 1000000u);
}

void SkyloomSleepMicroseconds(UInt64 micros) {
  const double k = SkyloomTimeScale();
  if (k != 1.0) micros = UInt64(double(micros) / k);
  std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

// ---------------------------------------------------------------- atomics

SInt32 IncrementAtomic(SInt32* value) { return std::atomic_ref<SInt32>(*value).fetch_add(1); }
SInt32 DecrementAtomic(SInt32* value) { return std::atomic_ref<SInt32>(*value).fetch_sub(1); }
SInt32 AddAtomic(SInt32 amount, SInt32* value) {
  return std::atomic_ref<SInt32>(*value).fetch_add(amount);
}
Boolean CompareAndSwap(SInt32 oldValue, SInt32 newValue, SInt32* value) {
  return std::atomic_ref<SInt32>(*value).compare_exchange_strong(oldValue, newValue) ? 1 : 0;
}

// ---------------------------------------------------------------- Gestalt

namespace {
std::mutex gGestaltLock;
std::function<OSErr(OSType, SInt32*)> gGestaltResponder;

long cpuCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? n : 1;
}

// Processor clock in MHz from /proc/cpuinfo; a plausible value when absent.
long cpuMHz() {
  static const long mhz = [] {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("cpu MHz", 0) == 0) {
        auto colon = line.find(':');
        if (colon != std::string::npos) {
          double v = std::strtod(line.c_str() + colon + 1, nullptr);
          if (v >= 1.0 && v < 100000.0) return long(v);
        }
      }
    }
    return 2000L;
  }();
  return mhz;
}
}  // namespace

void SkyloomSetGestaltResponder(std::function<OSErr(OSType, SInt32*)> responder) {
  std::lock_guard<std::mutex> lock(gGestaltLock);
  gGestaltResponder = std::move(responder);
}

OSErr Gestalt(OSType selector, SInt32* response) {
  {
    std::function<OSErr(OSType, SInt32*)> responder;
    {
      std::lock_guard<std::mutex> lock(gGestaltLock);
      responder = gGestaltResponder;
    }
    if (responder) {
      OSErr err = responder(selector, response);
      if (err != kGestaltFallThrough) return err;
    }
  }
  if (!response) return paramErr;
  switch (selector) {
    case FOUR_CHAR_CODE("sysv"):  // 10.4.11 satisfies the start-up check (> 0x103F)
      *response = 0x104B;
      return noErr;
    case FOUR_CHAR_CODE("qtim"):  // 7.6.0 satisfies the start-up check (> 0x06FFFFFF)
      *response = 0x07608000;
      return noErr;
    case FOUR_CHAR_CODE("ppcf"):  // processor features: no vector unit on these hosts
      *response = 0;
      return noErr;
    case FOUR_CHAR_CODE("bclm"):  // bus clock rate in Hz, always answered
      *response = 133333333;
      return noErr;
    case FOUR_CHAR_CODE("pclk"):  // processor clock in Hz
      *response = SInt32(std::min<long>(cpuMHz(), 2147) * 1000000L);
      return noErr;
    case FOUR_CHAR_CODE("cpus"):
      *response = SInt32(cpuCount());
      return noErr;
    default:
      return gestaltUndefSelectorErr;
  }
}

short MaximumProcessorSpeed() { return short(std::min<long>(cpuMHz(), 32767)); }

// ---------------------------------------------------------------- fixed point

namespace {
Fixed saturate(SInt64 v) {
  if (v > SInt64(0x7FFFFFFF)) return Fixed(0x7FFFFFFF);
  if (v < -SInt64(0x80000000LL)) return Fixed(INT32_MIN);
  return Fixed(v);
}
// Rounded quotient of n / d (d != 0), halves away from zero.
SInt64 roundedDiv(SInt64 n, SInt64 d) {
  bool negative = (n < 0) != (d < 0);
  unsigned __int128 un = n < 0 ? (unsigned __int128)(-(__int128)n) : (unsigned __int128)n;
  unsigned __int128 ud = d < 0 ? (unsigned __int128)(-(__int128)d) : (unsigned __int128)d;
  unsigned __int128 q = (un + ud / 2) / ud;
  if (q > (unsigned __int128)0x100000000LL) q = 0x100000000LL;  // beyond any 32-bit result
  SInt64 r = SInt64(q);
  return negative ? -r : r;
}
}  // namespace

Fixed FixMul(Fixed a, Fixed b) {
  SInt64 p = SInt64(a) * SInt64(b);
  // Round to nearest (halves upward) and drop the 16 fraction bits.
  return saturate((p + 0x8000) >> 16);
}

Fixed FixDiv(Fixed a, Fixed b) {
  if (b == 0) return a < 0 ? Fixed(INT32_MIN) : Fixed(0x7FFFFFFF);
  return saturate(roundedDiv(SInt64(a) * 65536, b));
}

Fixed FixRatio(short numer, short denom) {
  if (denom == 0) return numer < 0 ? Fixed(INT32_MIN) : Fixed(0x7FFFFFFF);
  return saturate(roundedDiv(SInt64(numer) * 65536, denom));
}

Fixed Long2Fix(SInt32 x) { return saturate(SInt64(x) * 65536); }

SInt32 Fix2Long(Fixed x) { return SInt32((SInt64(x) + 0x8000) >> 16); }

Fixed X2Fix(double x) {
  if (std::isnan(x)) return 0;
  double v = std::round(x * 65536.0);
  if (v >= 2147483647.0) return Fixed(0x7FFFFFFF);
  if (v <= -2147483648.0) return Fixed(INT32_MIN);
  return Fixed(SInt64(v));
}

double Fix2X(Fixed x) { return double(x) / 65536.0; }

// ---------------------------------------------------------------- handles

namespace {
// A handle points at the master pointer of this block.
struct HandleBlock {
  Ptr master;  // must be first: a Handle is &block->master
  Size size;
  int locks;
};
thread_local OSErr tMemError = noErr;
std::atomic<long> gLiveHandles{0};
std::atomic<long> gBeeps{0};

std::atomic<long> gAllocationsBeforeFailure{-1};
std::atomic<long> gGrowthsBeforeFailure{-1};

HandleBlock* blockOf(Handle h) { return reinterpret_cast<HandleBlock*>(h); }

// True when a test asked for this allocation to fail.
bool allocationFailsNow() {
  long n = gAllocationsBeforeFailure.load();
  while (n >= 0) {
    if (gAllocationsBeforeFailure.compare_exchange_weak(n, n - 1)) return n == 0;
  }
  return false;
}

Handle makeHandle(Size byteCount, bool clear) {
  if (byteCount < 0) {
    tMemError = paramErr;
    return nullptr;
  }
  auto* b = allocationFailsNow() ? nullptr : static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
  if (!b) {
    tMemError = memFullErr;
    return nullptr;
  }
  // Always allocate at least one byte so the master pointer is never null.
  b->master = static_cast<Ptr>(clear ? std::calloc(size_t(byteCount) + 1, 1)
                                     : std::malloc(size_t(byteCount) + 1));
  if (!b->master) {
    std::free(b);
    tMemError = memFullErr;
    return nullptr;
  }
  b->size = byteCount;
  b->locks = 0;
  ++gLiveHandles;
  tMemError = noErr;
  return &b->master;
}
}  // namespace

Handle NewHandle(Size byteCount) { return makeHandle(byteCount, false); }
Handle NewHandleClear(Size byteCount) { return makeHandle(byteCount, true); }

Size GetHandleSize(Handle h) {
  if (!h) {
    tMemError = nilHandleErr;
    return 0;
  }
  tMemError = noErr;
  return blockOf(h)->size;
}

void SetHandleSize(Handle h, Size newSize) {
  if (!h) {
    tMemError = nilHandleErr;
    return;
  }
  if (newSize < 0) {
    tMemError = paramErr;
    return;
  }
  HandleBlock* b = blockOf(h);
  if (b->locks > 0 && newSize > b->size) {
    // A locked block cannot move, and growing it here would move it.
    tMemError = memLockedErr;
    return;
  }
  bool refused = false;
  if (newSize > b->size) {
    long n = gGrowthsBeforeFailure.load();
    while (n >= 0 && !gGrowthsBeforeFailure.compare_exchange_weak(n, n - 1)) {
    }
    refused = n == 0;
  }
  Ptr p = refused ? nullptr : static_cast<Ptr>(std::realloc(b->master, size_t(newSize) + 1));
  if (!p) {
    tMemError = memFullErr;
    return;
  }
  b->master = p;
  b->size = newSize;
  tMemError = noErr;
}

void HLock(Handle h) {
  if (!h) {
    tMemError = nilHandleErr;
    return;
  }
  blockOf(h)->locks = 1;
  tMemError = noErr;
}

void HUnlock(Handle h) {
  if (!h) {
    tMemError = nilHandleErr;
    return;
  }
  blockOf(h)->locks = 0;
  tMemError = noErr;
}

void DisposeHandle(Handle h) {
  if (!h) {
    tMemError = nilHandleErr;
    return;
  }
  HandleBlock* b = blockOf(h);
  std::free(b->master);
  std::free(b);
  --gLiveHandles;
  tMemError = noErr;
}

OSErr PtrToHand(const void* srcPtr, Handle* dstHndl, long size) {
  if (!dstHndl || size < 0 || (size > 0 && !srcPtr)) return tMemError = paramErr;
  Handle h = NewHandle(size);
  if (!h) return tMemError;
  if (size) std::memcpy(*h, srcPtr, size_t(size));
  *dstHndl = h;
  return tMemError = noErr;
}

OSErr PtrAndHand(const void* ptr1, Handle hand2, long size) {
  if (!hand2) return tMemError = nilHandleErr;
  if (size < 0 || (size > 0 && !ptr1)) return tMemError = paramErr;
  Size old = GetHandleSize(hand2);
  SetHandleSize(hand2, old + size);
  if (tMemError != noErr) return tMemError;
  if (size) std::memcpy(*hand2 + old, ptr1, size_t(size));
  return tMemError = noErr;
}

OSErr HandToHand(Handle* theHndl) {
  if (!theHndl || !*theHndl) return tMemError = nilHandleErr;
  Handle src = *theHndl;
  return PtrToHand(*src, theHndl, GetHandleSize(src));
}

OSErr MemError() { return tMemError; }

void SkyloomFailAllocationAfter(long successes) { gAllocationsBeforeFailure.store(successes < 0 ? -1 : successes); }

void SkyloomFailHandleGrowthAfter(long successes) { gGrowthsBeforeFailure.store(successes < 0 ? -1 : successes); }

long SkyloomLiveHandleCount() { return gLiveHandles.load(); }

Ptr NewPtr(Size byteCount) {
  if (byteCount < 0) {
    tMemError = paramErr;
    return nullptr;
  }
  Ptr p = allocationFailsNow() ? nullptr : static_cast<Ptr>(std::malloc(size_t(byteCount) ? size_t(byteCount) : 1));
  tMemError = p ? noErr : memFullErr;
  return p;
}

Ptr NewPtrClear(Size byteCount) {
  if (byteCount < 0) {
    tMemError = paramErr;
    return nullptr;
  }
  Ptr p = allocationFailsNow() ? nullptr : static_cast<Ptr>(std::calloc(size_t(byteCount) ? size_t(byteCount) : 1, 1));
  tMemError = p ? noErr : memFullErr;
  return p;
}

void DisposePtr(Ptr p) {
  std::free(p);
  tMemError = noErr;
}

void BlockMove(const void* src, void* dst, Size count) {
  if (count > 0) std::memmove(dst, src, size_t(count));
}
void BlockMoveData(const void* src, void* dst, Size count) { BlockMove(src, dst, count); }

// ---------------------------------------------------------------- beeps

void SysBeep(short) { ++gBeeps; }
long SkyloomBeepCount() { return gBeeps.load(); }

// ---------------------------------------------------------------- dates

namespace {
std::mutex gDateLock;
std::function<UInt32()> gDateSource;
std::function<double()> gUTCSource;

// Days from 1904-01-01 to year-month-day (proleptic Gregorian; month 1..12).
constexpr SInt64 kDays1904 = SkyloomDaysFromCivil(1904, 1, 1);
SInt64 daysFrom1904(SInt64 y, SInt64 m, SInt64 d) { return SkyloomDaysFromCivil(y, m, d) - kDays1904; }
}  // namespace

void SkyloomSetDateTimeSource(std::function<UInt32()> source) {
  std::lock_guard<std::mutex> lock(gDateLock);
  gDateSource = std::move(source);
}

void GetDateTime(UInt32* secs) {
  if (!secs) return;
  {
    std::lock_guard<std::mutex> lock(gDateLock);
    if (gDateSource) {
      *secs = gDateSource();
      return;
    }
  }
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  SInt64 s = SInt64(now) + local.tm_gmtoff + SInt64(kMacEpochToUnixSeconds);
  *secs = UInt32(s);
}

void SecondsToDate(UInt32 secs, DateTimeRec* d) {
  if (!d) return;
  SInt64 days = SInt64(secs / 86400u);
  SInt64 rem = SInt64(secs % 86400u);
  d->hour = short(rem / 3600);
  d->minute = short(rem / 60 % 60);
  d->second = short(rem % 60);
  d->dayOfWeek = short((days + 5) % 7 + 1);  // 1904-01-01 was a Friday (6)
  int64_t y;
  int m, day;
  SkyloomCivilFromDays(days + kDays1904, &y, &m, &day);
  d->year = short(y);
  d->month = short(m);
  d->day = short(day);
}

void DateToSeconds(const DateTimeRec* d, UInt32* secs) {
  if (!d || !secs) return;
  // Out-of-range fields roll over, as the Date Manager does.
  SInt64 y = d->year, m = d->month;
  SInt64 m0 = m - 1;
  y += (m0 >= 0 ? m0 / 12 : (m0 - 11) / 12);
  m0 = ((m0 % 12) + 12) % 12;
  SInt64 days = daysFrom1904(y, m0 + 1, 1) + d->day - 1;
  SInt64 s = days * 86400 + SInt64(d->hour) * 3600 + SInt64(d->minute) * 60 + d->second;
  *secs = UInt32(s);
}

void LongSecondsToDate(const LongDateTime* lSecs, LongDateRec* d) {
  if (!lSecs || !d) return;
  const SInt64 secs = *lSecs;
  const SInt64 days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  const SInt64 rem = secs - days * 86400;
  *d = LongDateRec{};
  d->hour = short(rem / 3600);
  d->minute = short(rem / 60 % 60);
  d->second = short(rem % 60);
  d->pm = short(d->hour >= 12);
  d->dayOfWeek = short(((days + 5) % 7 + 7) % 7 + 1);  // 1904-01-01 was a Friday (6)
  int64_t y;
  int m, day;
  SkyloomCivilFromDays(days + kDays1904, &y, &m, &day);
  d->year = short(y);
  d->month = short(m);
  d->day = short(day);
  d->dayOfYear = short(SkyloomDaysFromCivil(y, m, day) - SkyloomDaysFromCivil(y, 1, 1) + 1);
  d->weekOfYear = short((d->dayOfYear - 1) / 7 + 1);
}

void LongDateToSeconds(const LongDateRec* d, LongDateTime* lSecs) {
  if (!d || !lSecs) return;
  // Out-of-range fields roll over, as in DateToSeconds.
  SInt64 y = d->year, m0 = SInt64(d->month) - 1;
  y += (m0 >= 0 ? m0 / 12 : (m0 - 11) / 12);
  m0 = ((m0 % 12) + 12) % 12;
  const SInt64 days = daysFrom1904(y, m0 + 1, 1) + d->day - 1;
  *lSecs = days * 86400 + SInt64(d->hour) * 3600 + SInt64(d->minute) * 60 + d->second;
}

void SkyloomSetUTCTimeSource(std::function<double()> unixSeconds) {
  std::lock_guard<std::mutex> lock(gDateLock);
  gUTCSource = std::move(unixSeconds);
}

OSErr GetUTCDateTime(UTCDateTime* utcDateTime, OptionBits) {
  if (!utcDateTime) return paramErr;
  double unix = 0;
  bool injected = false;
  {
    std::lock_guard<std::mutex> lock(gDateLock);
    if (gUTCSource) unix = gUTCSource(), injected = true;
  }
  if (!injected) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    unix = double(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) / 1e6;
  }
  const double whole = std::floor(unix);
  const UInt64 seconds = UInt64(SInt64(whole) + SInt64(kMacEpochToUnixSeconds));
  utcDateTime->highSeconds = UInt16(seconds >> 32);
  utcDateTime->lowSeconds = UInt32(seconds);
  utcDateTime->fraction = UInt16(std::min(65535.0, std::floor((unix - whole) * 65536.0)));
  return noErr;
}
