// Test-only pause points of the align workers, so that lifecycle tests can
// hold a worker at a chosen step instead of relying on timing. Not part of the
// framework's exports; the product never sets them.
#pragma once
#include <pthread.h>

#include "platform/coreservices/MacTypes.h"

struct AlignThreadObject;

enum MyTAVPausePoint : UInt32 {
  kMyTAVPauseWorkerStart,  // the worker has started, before its first wait
  kMyTAVPauseJob,          // a job runs (the job itself calls it)
  kMyTAVPauseWorkerEnd,    // the worker leaves its loop, before it clears mRunning
};
using MyTAVPauseHook = void (*)(AlignThreadObject*, MyTAVPausePoint);

// null removes the hook.
void myTAVSetPauseHook(MyTAVPauseHook hook);
// The number of 1 ms polls disposal waits for a worker (10,000 normally).
void myTAVSetDisposePollLimit(UInt32 polls);
// Stands in for pthread_detach in set-up; null restores it.
void myTAVSetDetachHook(int (*detach)(pthread_t));
