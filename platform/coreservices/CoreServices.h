// CoreServices stand-in: time, atomics, Gestalt, processor speed, 16.16 fixed
// point, Memory Manager handles, beeps and dates in the 1904 epoch.
// The File Manager is in Files.h.
#pragma once
#include <functional>

#include "platform/coreservices/MacTypes.h"

// ---- Time ----
// Microseconds since an arbitrary start, monotonic, 64 bits. This is the
// system's monotonic clock: run-loop timers (and so event-loop timers) are
// scheduled on it, untouched by steps of the wall clock.
void Microseconds(UnsignedWide* microTickCount);
UInt64 SkyloomMicroseconds();  // the same, as one integer
// Tests drive the monotonic clock (microseconds) with a source of their own,
// beside the absolute-time source of CFDate.h; an empty function restores the
// system clock. While a source is installed, run loops look at the clock at
// least every few milliseconds, so timers fire as test time moves on.
void SkyloomSetMonotonicTimeSource(std::function<UInt64()> microseconds);
bool SkyloomMonotonicTimeIsInjected();
// A test time scale: with k > 1 the monotonic clock (so Microseconds,
// TickCount and the run-loop and event-loop timers), the absolute time of
// CFAbsoluteTimeGetCurrent and SkyloomSleepMicroseconds all run k times
// faster than real time, from where they stood; 1 (the application's) puts
// the real clocks back. The scale drives the monotonic time source above, so
// it cannot be used together with a test's own source.
void SkyloomSetTimeScale(double k);
double SkyloomTimeScale();
// The monotonic clock under the scale, whatever test source is installed:
// the pace of the simulated devices.
UInt64 SkyloomPacedMicroseconds();
// The wall clock under the scale, in seconds since 1970-01-01 UTC; false
// while time runs at its real pace.
bool SkyloomScaledWallClock(double* unixSeconds);
// Ticks (1/60 s) since the process started.
UInt32 TickCount();
// Sleeps the calling thread for about that many microseconds of the same
// clock; timed loops wait through it rather than the system's own sleeps.
void SkyloomSleepMicroseconds(UInt64 micros);

// ---- Atomics (return the value before the change) ----
SInt32 IncrementAtomic(SInt32* value);
SInt32 DecrementAtomic(SInt32* value);
SInt32 AddAtomic(SInt32 amount, SInt32* value);
Boolean CompareAndSwap(SInt32 oldValue, SInt32 newValue, SInt32* value);

// ---- Gestalt ----
OSErr Gestalt(OSType selector, SInt32* response);
// Tests script Gestalt: the responder answers first; returning
// gestaltUndefSelectorErr + 1 (kGestaltFallThrough) lets the built-in answer stand.
constexpr OSErr kGestaltFallThrough = gestaltUndefSelectorErr + 1;
void SkyloomSetGestaltResponder(std::function<OSErr(OSType, SInt32*)> responder);
// Processor speed in MHz.
short MaximumProcessorSpeed();

// ---- 16.16 fixed point ----
// 64-bit intermediates, rounded to nearest, saturated to 0x7FFFFFFF / 0x80000000.
constexpr Fixed fixed1 = 0x00010000;
Fixed FixMul(Fixed a, Fixed b);
Fixed FixDiv(Fixed a, Fixed b);
Fixed FixRatio(short numer, short denom);
Fixed Long2Fix(SInt32 x);
SInt32 Fix2Long(Fixed x);
Fixed X2Fix(double x);
double Fix2X(Fixed x);
inline Fixed IntToFixed(SInt32 a) { return Long2Fix(a); }
inline SInt32 FixedToInt(Fixed a) { return Fix2Long(a); }
inline Fixed FloatToFixed(double a) { return X2Fix(a); }
inline double FixedToFloat(Fixed a) { return Fix2X(a); }

// ---- Memory Manager handles ----
Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
Size GetHandleSize(Handle h);
void SetHandleSize(Handle h, Size newSize);
void HLock(Handle h);
void HUnlock(Handle h);
void DisposeHandle(Handle h);
OSErr PtrToHand(const void* srcPtr, Handle* dstHndl, long size);
OSErr PtrAndHand(const void* ptr1, Handle hand2, long size);
OSErr HandToHand(Handle* theHndl);
OSErr MemError();
// Plain blocks (NewPtr and friends) for code that asks the Memory Manager.
Ptr NewPtr(Size byteCount);
Ptr NewPtrClear(Size byteCount);
void DisposePtr(Ptr p);
void BlockMove(const void* src, void* dst, Size count);
void BlockMoveData(const void* src, void* dst, Size count);
// Live handle count, so tests can see leaks of handles.
long SkyloomLiveHandleCount();
// Tests make memory run out: after `successes` more allocations by NewHandle,
// NewHandleClear, NewPtr or NewPtrClear the next one fails with memFullErr,
// once; a negative count turns the failure off.
void SkyloomFailAllocationAfter(long successes);
// Tests make a handle's growth fail: after `successes` more calls of
// SetHandleSize that grow a handle, the next one fails with memFullErr and
// leaves the handle as it was, once; a negative count turns it off.
void SkyloomFailHandleGrowthAfter(long successes);

// ---- Sound ----
void SysBeep(short duration);
long SkyloomBeepCount();  // beeps since start (tests compare before and after)

// ---- Dates: seconds since 1904-01-01 00:00:00 local time ----
struct DateTimeRec {
  short year;
  short month;
  short day;
  short hour;
  short minute;
  short second;
  short dayOfWeek;  // 1 = Sunday
};
void GetDateTime(UInt32* secs);
void SecondsToDate(UInt32 secs, DateTimeRec* d);
void DateToSeconds(const DateTimeRec* d, UInt32* secs);
// Tests inject the clock: the function returns local seconds since 1904.
// An empty function restores the system clock.
void SkyloomSetDateTimeSource(std::function<UInt32()> source);
// 64-bit date counts: seconds since 1904-01-01 00:00:00 as a signed 64-bit
// number, on the same day count as DateToSeconds, so dates from 2040-02-06
// 06:28:16 on (where the 32-bit count wraps) and before 1904 convert too.
typedef SInt64 LongDateTime;
struct LongDateRec {
  short era;  // 0: AD
  short year;
  short month;
  short day;
  short hour;
  short minute;
  short second;
  short dayOfWeek;  // 1 = Sunday
  short dayOfYear;  // 1 = 1 January
  short weekOfYear;
  short pm;  // 1 from noon on
  short res1, res2, res3;
};
void LongSecondsToDate(const LongDateTime* lSecs, LongDateRec* lDate);
void LongDateToSeconds(const LongDateRec* lDate, LongDateTime* lSecs);
// A UTC date-time: seconds since 1904-01-01 00:00:00 UTC (48 bits) and a
// fraction of a second in 1/65536.
#pragma pack(push, 2)
struct UTCDateTime {
  UInt16 highSeconds;
  UInt32 lowSeconds;
  UInt16 fraction;
};
#pragma pack(pop)
static_assert(sizeof(UTCDateTime) == 8, "a UTC date-time is 8 bytes");

// Seconds between 1904-01-01 and 1970-01-01.
constexpr UInt32 kMacEpochToUnixSeconds = 2082844800u;
// Now, in UTC; the options are not used. 0, or paramErr for a null pointer.
OSErr GetUTCDateTime(UTCDateTime* utcDateTime, OptionBits options);
// Tests inject the UTC clock: the function returns seconds since 1970-01-01
// 00:00:00 UTC. An empty function restores the system clock.
void SkyloomSetUTCTimeSource(std::function<double()> unixSeconds);
