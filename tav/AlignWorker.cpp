#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "tav/AlignJob.h"
#include "tav/AlignThreadObject.h"
#include "tav/TAVTestPoints.h"

namespace {

std::atomic<MyTAVPauseHook> gPauseHook{nullptr};
std::atomic<UInt32> gDisposePollLimit{10000};
std::atomic<int (*)(pthread_t)> gDetachHook{nullptr};

inline std::atomic_ref<UInt32> flag(UInt32& field) { return std::atomic_ref<UInt32>(field); }

inline void pausePoint(AlignThreadObject* p, MyTAVPausePoint where) {
  if (MyTAVPauseHook hook = gPauseHook.load(std::memory_order_acquire)) hook(p, where);
}

// A job is pending only while no result waits for collection: a finished job
// whose collector has not yet come by is not run a second time.
inline bool jobPending(AlignThreadObject* p) {
  return flag(p->mNeedsFrame).load(std::memory_order_acquire) == 0 &&
         flag(p->mDoneFrame).load(std::memory_order_acquire) == 0;
}

// The job of one posted frame; it clears mNoResult when it leaves an offset.
void runARGB32Job(AlignThreadObject* p) {
  pausePoint(p, kMyTAVPauseJob);
  myRunARGB32AlignJob(p);
}
void runRGB48Job(AlignThreadObject* p) {
  pausePoint(p, kMyTAVPauseJob);
  myRunRGB48AlignJob(p);
}

void* workerLoop(AlignThreadObject* p, void (*job)(AlignThreadObject*)) {
  pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
  pausePoint(p, kMyTAVPauseWorkerStart);
  // Set-up marked the record running and alive before the thread existed, so
  // a disposal that came first has already lowered mAlive: never raise it here.
  pthread_mutex_lock(&p->mMutex);
  flag(p->mSFThreadIsSleeping).store(0, std::memory_order_relaxed);
  pthread_mutex_unlock(&p->mMutex);
  while (flag(p->mAlive).load(std::memory_order_acquire) != 0) {
    pthread_mutex_lock(&p->mMutex);
    while (!jobPending(p) && flag(p->mAlive).load(std::memory_order_relaxed) != 0) {
      flag(p->mSFThreadIsSleeping).store(1, std::memory_order_relaxed);
      pthread_cond_wait(&p->mCond, &p->mMutex);
      flag(p->mSFThreadIsSleeping).store(0, std::memory_order_relaxed);
    }
    const bool pending = jobPending(p);
    pthread_mutex_unlock(&p->mMutex);
    if (!pending) continue;  // woken for disposal
    p->mNoResult = 1;
    if (p->mErr != 0) {
      std::fprintf(stderr, "pTAVTSPtr->mErr = %d \n", int(p->mErr));
    } else {
      job(p);
    }
    flag(p->mDoneFrame).fetch_add(1, std::memory_order_release);
  }
  pausePoint(p, kMyTAVPauseWorkerEnd);
  // The last touch of the record: disposal may free it the moment it sees 0.
  flag(p->mRunning).store(0, std::memory_order_release);
  return nullptr;
}

void destroySync(AlignThreadObject* p) {
  pthread_attr_destroy(&p->mAttr);
  pthread_cond_destroy(&p->mCond);
  pthread_mutex_destroy(&p->mMutex);
}

// Lowers mAlive (once) and wakes the worker, with mNeedsFrame raised and
// mDoneFrame cleared so that no job looks pending any more.
void stopWorker(AlignThreadObject* p) {
  pthread_mutex_lock(&p->mMutex);
  flag(p->mNeedsFrame).store(1, std::memory_order_relaxed);
  flag(p->mDoneFrame).store(0, std::memory_order_relaxed);
  UInt32 alive = flag(p->mAlive).load(std::memory_order_relaxed);
  while (alive != 0 && !flag(p->mAlive).compare_exchange_weak(alive, alive - 1)) {
  }
  pthread_cond_broadcast(&p->mCond);
  pthread_mutex_unlock(&p->mMutex);
}

}  // namespace

void myTAVSetPauseHook(MyTAVPauseHook hook) { gPauseHook.store(hook, std::memory_order_release); }
void myTAVSetDisposePollLimit(UInt32 polls) { gDisposePollLimit.store(polls); }
void myTAVSetDetachHook(int (*detach)(pthread_t)) { gDetachHook.store(detach); }

void* myARGB32AlignFrameThread(void* arg) {
  if (arg == nullptr) return nullptr;
  return workerLoop(static_cast<AlignThreadObject*>(arg), runARGB32Job);
}

void* myRGB48AlignFrameThread(void* arg) {
  if (arg == nullptr) return nullptr;
  return workerLoop(static_cast<AlignThreadObject*>(arg), runRGB48Job);
}

OSStatus mySetUpAlignThreadObject(AlignThreadObject* p, UInt32 argb32Flag) {
  if (p == nullptr) return -108;
  flag(p->mNeedsFrame).store(1);
  flag(p->mDoneFrame).store(0);
  p->mThreadValid = 0;
  flag(p->mSFThreadIsSleeping).store(0);
  flag(p->mAlive).store(0);
  flag(p->mRunning).store(0);
  int err = pthread_mutex_init(&p->mMutex, nullptr);
  int made = 0;  // 1 mutex, 2 + condition, 3 + attributes
  if (err == 0) {
    made = 1;
    err = pthread_cond_init(&p->mCond, nullptr);
  }
  if (err == 0) {
    made = 2;
    err = pthread_attr_init(&p->mAttr);
  }
  if (err == 0) {
    made = 3;
    // Running and alive before the thread exists: a disposal that comes before
    // the worker's first instruction still waits for it.
    flag(p->mRunning).store(1);
    flag(p->mAlive).store(1);
    err = pthread_create(&p->mThread, &p->mAttr,
                         argb32Flag != 0 ? myARGB32AlignFrameThread : myRGB48AlignFrameThread, p);
    if (err != 0) {
      flag(p->mRunning).store(0);
      flag(p->mAlive).store(0);
    }
  }
  if (err == 0) {
    p->mThreadValid = 1;
    int (*detach)(pthread_t) = gDetachHook.load();
    err = detach != nullptr ? detach(p->mThread) : pthread_detach(p->mThread);
    if (err != 0) {
      // The worker already runs on the record: stop it and wait for it (it is
      // still joinable) before its mutex and condition go.
      stopWorker(p);
      pthread_join(p->mThread, nullptr);
      p->mThreadValid = 0;
    }
  }
  if (err != 0) {
    std::fprintf(stderr, "myAllocateAlignThread pthread_detach failed Err = 0x%x %d\n", unsigned(err),
                 err);
    if (made >= 3) pthread_attr_destroy(&p->mAttr);
    if (made >= 2) pthread_cond_destroy(&p->mCond);
    if (made >= 1) pthread_mutex_destroy(&p->mMutex);
    return err;
  }
  return 0;
}

void myDisposeAlignThreadObject(AlignThreadObject* p) {
  if (p == nullptr) return;
  if (p->mThreadValid != 0) {
    stopWorker(p);
    const UInt32 limit = gDisposePollLimit.load();
    for (UInt32 i = 0; i < limit && flag(p->mRunning).load(std::memory_order_acquire) != 0; ++i)
      usleep(1000);
    if (flag(p->mRunning).load(std::memory_order_acquire) != 0) {
      // The worker still uses the record, its mutex and condition: keep them
      // all rather than free them under it.
      std::fprintf(stderr, "myDisposeAlignThreadObject worker still running after %u polls: record kept\n",
                   unsigned(limit));
      return;
    }
    destroySync(p);
    p->mThread = pthread_t{};
    p->mThreadValid = 0;
  }
  UInt8** buffers[] = {&p->temp32x32Ptr, &p->tempTwo32x32Ptr, &p->mColorFrame,
                       &p->mWorkFrame,   &p->mTempFrame,      &p->mMonoFrame};
  for (UInt8** b : buffers) {
    std::free(*b);
    *b = nullptr;
  }
  std::free(p);
}
