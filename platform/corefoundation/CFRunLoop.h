// Run loops: one per thread, made on first use and freed when the thread ends
// (or later, when the last CFRetain on it is released).
//
// Threading: a run loop runs only on its own thread. Adding and removing
// sources and timers, signalling sources, CFRunLoopStop and CFRunLoopWakeUp
// work from any thread. Callbacks (perform, timer and file-descriptor
// callouts, schedule and cancel) run with no run-loop lock held, so they may
// call any run-loop function, including running the loop again (nested runs).
#pragma once
#include <functional>

#include "platform/corefoundation/CFBase.h"
#include "platform/corefoundation/CFDate.h"
#include "platform/corefoundation/CFString.h"

CFTypeID CFRunLoopGetTypeID();
CFTypeID CFRunLoopSourceGetTypeID();
CFTypeID CFRunLoopTimerGetTypeID();
CFTypeID CFFileDescriptorGetTypeID();

// Mode names (constant strings).
CFStringRef SkyloomCFRunLoopDefaultMode();
CFStringRef SkyloomCFRunLoopCommonModes();
#define kCFRunLoopDefaultMode SkyloomCFRunLoopDefaultMode()
#define kCFRunLoopCommonModes SkyloomCFRunLoopCommonModes()

typedef SInt32 CFRunLoopRunResult;
enum : SInt32 {
  kCFRunLoopRunFinished = 1,       // the mode has no sources or timers
  kCFRunLoopRunStopped = 2,        // CFRunLoopStop
  kCFRunLoopRunTimedOut = 3,       // the seconds elapsed
  kCFRunLoopRunHandledSource = 4,  // a source was handled and the caller asked to return
};

CFRunLoopRef CFRunLoopGetCurrent();
CFRunLoopRef CFRunLoopGetMain();
// Runs the current thread's loop in the default mode until stopped or finished.
void CFRunLoopRun();
// Runs the current thread's loop in mode. seconds <= 0 handles what is ready
// and returns. Timers do not count as handled sources.
CFRunLoopRunResult CFRunLoopRunInMode(CFStringRef mode, CFTimeInterval seconds, Boolean returnAfterSourceHandled);
// Ends the innermost run of rl. A stop made while rl is not running is kept
// and ends its next run at once. A null loop, or one already freed, is ignored.
void CFRunLoopStop(CFRunLoopRef rl);
void CFRunLoopWakeUp(CFRunLoopRef rl);
Boolean CFRunLoopIsWaiting(CFRunLoopRef rl);
// The mode of the innermost run, or null when not running (caller releases).
CFStringRef CFRunLoopCopyCurrentMode(CFRunLoopRef rl);
// Items added in kCFRunLoopCommonModes belong to every common mode; the default
// mode is always common.
void CFRunLoopAddCommonMode(CFRunLoopRef rl, CFStringRef mode);

// ---- Sources (version 0: signalled by hand, then performed on the loop) ----
struct CFRunLoopSourceContext {
  CFIndex version;  // 0
  void* info;
  const void* (*retain)(const void* info);
  void (*release)(const void* info);
  CFStringRef (*copyDescription)(const void* info);
  Boolean (*equal)(const void* info1, const void* info2);
  CFHashCode (*hash)(const void* info);
  void (*schedule)(void* info, CFRunLoopRef rl, CFStringRef mode);
  void (*cancel)(void* info, CFRunLoopRef rl, CFStringRef mode);
  void (*perform)(void* info);
};

// Null unless the context's version is 0. Lower order is performed first.
CFRunLoopSourceRef CFRunLoopSourceCreate(CFAllocatorRef allocator, CFIndex order, CFRunLoopSourceContext* context);
// Marks the source ready and wakes the loops it is in.
void CFRunLoopSourceSignal(CFRunLoopSourceRef source);
// Removes the source from every loop (cancel is called for each mode); it is
// never performed again.
void CFRunLoopSourceInvalidate(CFRunLoopSourceRef source);
Boolean CFRunLoopSourceIsValid(CFRunLoopSourceRef source);
CFIndex CFRunLoopSourceGetOrder(CFRunLoopSourceRef source);
void CFRunLoopSourceGetContext(CFRunLoopSourceRef source, CFRunLoopSourceContext* context);
// The loop retains the source while it is added; schedule is called on add.
void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFStringRef mode);
void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFStringRef mode);
Boolean CFRunLoopContainsSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFStringRef mode);

// ---- Timers ----
struct CFRunLoopTimerContext {
  CFIndex version;  // 0
  void* info;
  const void* (*retain)(const void* info);
  void (*release)(const void* info);
  CFStringRef (*copyDescription)(const void* info);
};
typedef void (*CFRunLoopTimerCallBack)(CFRunLoopTimerRef timer, void* info);

// interval > 0 repeats (missed firings are skipped, not queued); otherwise the
// timer fires once and is then invalidated. A timer is in at most one loop.
CFRunLoopTimerRef CFRunLoopTimerCreate(CFAllocatorRef allocator, CFAbsoluteTime fireDate, CFTimeInterval interval,
                                       CFOptionFlags flags, CFIndex order, CFRunLoopTimerCallBack callout,
                                       CFRunLoopTimerContext* context);
void CFRunLoopAddTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFStringRef mode);
void CFRunLoopRemoveTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFStringRef mode);
Boolean CFRunLoopContainsTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFStringRef mode);
void CFRunLoopTimerInvalidate(CFRunLoopTimerRef timer);
Boolean CFRunLoopTimerIsValid(CFRunLoopTimerRef timer);
CFAbsoluteTime CFRunLoopTimerGetNextFireDate(CFRunLoopTimerRef timer);
void CFRunLoopTimerSetNextFireDate(CFRunLoopTimerRef timer, CFAbsoluteTime fireDate);
CFTimeInterval CFRunLoopTimerGetInterval(CFRunLoopTimerRef timer);
Boolean CFRunLoopTimerDoesRepeat(CFRunLoopTimerRef timer);
CFIndex CFRunLoopTimerGetOrder(CFRunLoopTimerRef timer);
void CFRunLoopTimerGetContext(CFRunLoopTimerRef timer, CFRunLoopTimerContext* context);

// ---- File descriptors ----
typedef int CFFileDescriptorNativeDescriptor;
enum : CFOptionFlags {
  kCFFileDescriptorReadCallBack = 1UL << 0,
  kCFFileDescriptorWriteCallBack = 1UL << 1,
};
typedef void (*CFFileDescriptorCallBack)(CFFileDescriptorRef f, CFOptionFlags callBackTypes, void* info);
struct CFFileDescriptorContext {
  CFIndex version;  // 0
  void* info;
  void* (*retain)(void* info);
  void (*release)(void* info);
  CFStringRef (*copyDescription)(void* info);
};

// Null for a negative descriptor. With closeOnInvalidate the descriptor is
// closed when the object is invalidated or freed.
CFFileDescriptorRef CFFileDescriptorCreate(CFAllocatorRef allocator, CFFileDescriptorNativeDescriptor fd,
                                           Boolean closeOnInvalidate, CFFileDescriptorCallBack callout,
                                           const CFFileDescriptorContext* context);
CFFileDescriptorNativeDescriptor CFFileDescriptorGetNativeDescriptor(CFFileDescriptorRef f);
void CFFileDescriptorGetContext(CFFileDescriptorRef f, CFFileDescriptorContext* context);
// Callbacks are one-shot: a callback type is disabled when it fires and the
// callout enables it again to hear more.
void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes);
void CFFileDescriptorDisableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes);
void CFFileDescriptorInvalidate(CFFileDescriptorRef f);
Boolean CFFileDescriptorIsValid(CFFileDescriptorRef f);
// The source a loop watches the descriptor through (one per descriptor; the
// same source is returned again, retained).
CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef allocator, CFFileDescriptorRef f, CFIndex order);

// ---- Test support ----
// Called on a loop's own thread each time it is about to wait (with no lock
// held); tests use it to act while a run is surely in progress. Empty: none.
void SkyloomCFRunLoopSetBeforeWaitingHook(std::function<void(CFRunLoopRef)> hook);
