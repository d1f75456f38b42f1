// Thread Manager stand-in: cooperative threads and the yield.
//
// Cooperative threads are coroutines of the main thread: each has a stack of
// its own and runs only while every other thread of the set waits in
// YieldToAnyThread. So a cooperative thread's toolbox calls are main-thread
// calls, as they are with the system's cooperative threads, and flags that
// only the main thread and its cooperative threads touch need no lock.
//
// - YieldToAnyThread on the main thread (or on one of its cooperative
//   threads) switches round-robin: main, then each ready cooperative thread
//   in the order they were made, then main again. With no cooperative thread
//   it hands the processor to any other runnable POSIX thread (sched_yield),
//   which is also all it does on any other POSIX thread.
// - A cooperative thread that opened an application-modal loop (a window
//   or alert it runs while the main thread waits in its yield) gets an
//   immediate return from its yields until that loop ends: the loop already
//   serves the user, and the main thread must not run a second loop beside it.
// - A thread whose entry returned is freed (stack and record) at the next
//   switch.
// - NewThread only makes the thread; it first runs at the main thread's next
//   yield.
//
// Main thread only, like the system's cooperative threads.
#pragma once
#include "platform/coreservices/MacTypes.h"

typedef UInt32 ThreadID;
typedef UInt32 ThreadStyle;
typedef UInt32 ThreadOptions;
typedef UInt32 ThreadState;

enum : ThreadStyle { kCooperativeThread = 1u << 0, kPreemptiveThread = 1u << 1 };
enum : ThreadOptions {
  kNewSuspend = 1u << 0,
  kUsePremadeThread = 1u << 1,
  kCreateIfNeeded = 1u << 2,
  kFPUNotNeeded = 1u << 3,
  kExactMatchThread = 1u << 4,
};
enum : ThreadID { kNoThreadID = 0, kCurrentThreadID = 1, kApplicationThreadID = 2 };
enum : OSErr {
  threadTooManyReqsErr = -617,
  threadNotFoundErr = -618,
  threadProtocolErr = -619,
};

typedef void* (*ThreadEntryProcPtr)(void* threadParam);
typedef ThreadEntryProcPtr ThreadEntryUPP;

inline ThreadEntryUPP NewThreadEntryUPP(ThreadEntryProcPtr p) { return p; }
inline void DisposeThreadEntryUPP(ThreadEntryUPP) {}

// Makes a cooperative thread that will call entry(threadParam); its result
// goes to *threadResult (which may be null) when it returns. stackSize 0 is
// the default stack. Only kCooperativeThread is supported (paramErr
// otherwise, and with a null entry); kNewSuspend is refused too
// (threadProtocolErr), as nothing here resumes a thread. memFullErr when the
// stack cannot be had. threadMade may be null.
OSErr NewThread(ThreadStyle threadStyle, ThreadEntryUPP threadEntry, void* threadParam, Size stackSize,
                ThreadOptions options, void** threadResult, ThreadID* threadMade);

// The cooperative thread running now, or kApplicationThreadID on the main
// thread (and on any other POSIX thread).
OSErr GetCurrentThread(ThreadID* currentThreadID);

OSErr YieldToAnyThread();

// ---- Additions of this layer ----
// The cooperative threads still held (made, running or finished but not yet
// freed).
UInt32 SkyloomCooperativeThreadCount();
// Asked before a cooperative thread's yield switches away: how many
// application-modal loops are open now. The window model installs it.
void SkyloomSetModalLoopDepthProbe(int (*probe)());
// Tests: the next `count` calls of NewThread fail with `status`.
void SkyloomInjectNewThreadFailure(OSErr status, int count = 1);
