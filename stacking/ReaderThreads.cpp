// The reader record's thread: start and stop, the 16-bit ring reader and the
// 16-bit poster of the align workers.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "media/MovieReading.h"
#include "pixel/FrameNoise.h"
#include "pixel/MonoConversions.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Threads.h"
#include "stacking/ReaderRecord.h"
#include "stacking/SharpnessList.h"
#include "tav/AlignThreadObject.h"

namespace {

using Entry = void* (*)(void*);

std::atomic<MyReaderPauseHook> gPauseHook{nullptr};
std::atomic<int> gCreateFailure{0};
// Kinds 2 and 3 (the 8-bit run installs them).
std::atomic<Entry> gPosixEntries[4] = {nullptr, nullptr, nullptr, nullptr};
std::atomic<Entry> gCooperativeEntries[4] = {nullptr, nullptr, nullptr, nullptr};

constexpr UInt32 kStopPolls = 10000;       // 1 ms apart
constexpr UInt32 kInFlightPolls = 10000;   // 1 ms apart, a worker
constexpr UInt32 kCooperativeStopPolls = 1000;

inline void pausePoint(MAMF* r, MyReaderPausePoint where, UInt32 arg) {
  if (MyReaderPauseHook hook = gPauseHook.load(std::memory_order_acquire)) hook(r, where, arg);
}

inline std::atomic_ref<UInt32> flag(UInt32& field) { return std::atomic_ref<UInt32>(field); }

bool isRawBayer(const MAMF* r) {
  return r->mSampleDesc != nullptr && *r->mSampleDesc != nullptr &&
         (**r->mSampleDesc).cType == FOUR_CHAR_CODE("BGGR");
}

// QuickTime on the thread and the movie attached to it; the poster names
// itself in its failure messages.
OSErr enterThread(MAMF* r, bool poster) {
  OSErr err = EnterMoviesOnThread(0);
  if (err != noErr) {
    if (poster) std::fprintf(stderr, "myMultiThread16BitGetMovieFrameProcessingThread EnterMoviesOnThread failed\n");
    return err;
  }
  err = AttachMovieToCurrentThread(r->mMovie);
  if (err != noErr) {
    if (poster) std::fprintf(stderr, " myMultiThread16BitGetMovieFrameProcessingThread Attach Thread failed\n");
    ExitMoviesOnThread();
  }
  return err;
}

void leaveThread(MAMF* r) {
  DetachMovieFromCurrentThread(r->mMovie);
  ExitMoviesOnThread();
}

// The thread could not start: the starter wakes, takes the error and joins.
void reportStartFailure(MAMF* r, OSErr err) {
  pthread_mutex_lock(&r->mMutex);
  r->mError.store(err != noErr ? err : -1);
  r->mStartFailed = 1;
  pthread_mutex_unlock(&r->mMutex);
  pthread_cond_broadcast(&r->mCond);
}

// Sleeps on mCond unless a stop came first. A wake-up sent just before the
// wait is not lost for long: the timed wait looks again.
void sleepOnCond(MAMF* r) {
  pthread_mutex_lock(&r->mMutex);
  if (r->mRun.load() != 0) {
    r->mSleeping.store(1);
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += 10 * 1000 * 1000;
    if (until.tv_nsec >= 1000000000L) {
      until.tv_nsec -= 1000000000L;
      until.tv_sec += 1;
    }
    pthread_cond_timedwait(&r->mCond, &r->mMutex, &until);
    r->mSleeping.store(0);
  }
  pthread_mutex_unlock(&r->mMutex);
}

TimeValue mediaTimeOf(double ratio, TimeValue movieTime) { return TimeValue(ratio * double(movieTime + 1)); }

bool workerIdle(AlignThreadObject* w) {
  return flag(w->mNeedsFrame).load(std::memory_order_acquire) != 0 &&
         flag(w->mDoneFrame).load(std::memory_order_acquire) == 0;
}

// Decodes the frame at movieTime into the worker: the raw samples into its
// colour frame for a raw Bayer movie (the worker demosaics them), else RGB48
// into its work frame.
OSErr decodeForWorker(MAMF* r, Media media, double ratio, bool raw, AlignThreadObject* w, TimeValue movieTime,
                      bool* locked) {
  PixMapHandle pm = r->mGWorld != nullptr ? GetGWorldPixMap(r->mGWorld) : nullptr;
  *locked = pm == nullptr || LockPixels(pm);
  if (!*locked) return noErr;
  UInt8* target = raw ? w->mColorFrame : w->mWorkFrame;
  OSErr err = myGet16BitMediaSampleInRGB48Buff(media, r->mSampleData, reinterpret_cast<UInt16*>(target), r->mWidth,
                                               r->mHeight, mediaTimeOf(ratio, movieTime), r->mGWorld, r->mSampleDesc,
                                               CodecQ(r->mQuality), raw ? 1 : 0);
  if (pm != nullptr) UnlockPixels(pm);
  return err;
}

// Hands the decoded frame to worker j under its mutex; nothing repeats a
// worker's wake-up, so the signal can't be lost.
void postJob(MAMF* r, AlignThreadObject* w, UInt32 j) {
  pthread_mutex_lock(&w->mMutex);
  if (flag(w->mNeedsFrame).load() != 0) flag(w->mNeedsFrame).fetch_sub(1, std::memory_order_acq_rel);
  pausePoint(r, kMyReaderPausePosted, j);
  if (flag(w->mSFThreadIsSleeping).load() != 0) {
    int err = pthread_cond_signal(&w->mCond);
    if (err != 0) {
      std::fprintf(stderr, "pTAVTSPtr thread : %d -  pthread_cond_signal err %d\n", int(j), err);
      err = pthread_cond_broadcast(&w->mCond);
      if (err != 0) std::fprintf(stderr, "pTAVTSPtr thread : %d - pthread_cond_broadcast err %d\n", int(j), err);
    }
  } else {
    std::fprintf(stderr, "Thread NOT Sleeping  state mSFThreadIsSleeping = %d mNeedsFrame %d mDoneFrame %d \n", 0,
                 int(flag(w->mNeedsFrame).load()), int(flag(w->mDoneFrame).load()));
  }
  pthread_mutex_unlock(&w->mMutex);
}

// Every worker back to its state before a pass, once a job still in flight
// has finished (bounded).
void resetWorkers(MAMF* r) {
  for (UInt32 j = 0; j < r->mWorkerCount && j < kMyMaxAlignWorkers; ++j) {
    AlignThreadObject* w = r->mWorkers[j];
    if (w == nullptr) continue;
    if (flag(w->mSFThreadIsSleeping).load() == 0 && flag(w->mDoneFrame).load() == 0 &&
        flag(w->mNeedsFrame).load() == 0) {
      for (UInt32 i = 0; i < kInFlightPolls && flag(w->mDoneFrame).load(std::memory_order_acquire) == 0; ++i)
        usleep(1000);
      std::fprintf(stderr, "2 myMultiThread16BitGetMovieFrameProcessingThread thread# %d was still processing\n",
                   int(j));
    }
    // Under the worker's mutex, so that the worker's next job sees it all.
    pthread_mutex_lock(&w->mMutex);
    flag(w->mNeedsFrame).store(1);
    flag(w->mDoneFrame).store(0);
    w->mIsReference = 1;
    w->mNoResult = 1;
    w->mManualX = w->mManualY = 0;
    w->mOffsetX = w->mOffsetY = 0.0f;
    w->mRefX = w->mRefY = -2.0f;
    pthread_mutex_unlock(&w->mMutex);
  }
}

void destroySync(MAMF* r) {
  pthread_attr_destroy(&r->mAttr);
  pthread_cond_destroy(&r->mCond);
  pthread_mutex_destroy(&r->mMutex);
}

Entry posixEntry(SInt32 kind) {
  switch (kind) {
    case 0:
      return my16BitGetMovieFrameSharpnessThread;
    case 1:
      return myMultiThread16BitGetMovieFrameProcessingThread;
    case 2:
    case 3:
      return gPosixEntries[kind].load();
    default:
      return nullptr;
  }
}

}  // namespace

void myReaderSetPauseHook(MyReaderPauseHook hook) { gPauseHook.store(hook, std::memory_order_release); }
void myReaderFailNextThreadCreation(int code) { gCreateFailure.store(code); }

void mySetAlignThreadEntries(SInt32 kind, Entry posix, Entry cooperative) {
  if (kind != 2 && kind != 3) return;
  gPosixEntries[kind].store(posix);
  gCooperativeEntries[kind].store(cooperative);
}

OSStatus myAllocateAlignThread(MAMF* r) {
  if (r == nullptr) return paramErr;
  r->mCurrentSlot.store(kMyNoSlot);
  r->mReadSlot.store(kMyNoSlot);
  r->mLastSlot.store(kMyNoSlot);
  r->mWriteSlot.store(0);
  r->mFilled.store(0);
  r->mError.store(0);
  r->mHasThread = 0;
  r->mThreadUPP = nullptr;
  r->mEndOfMovie.store(0);
  r->mSleeping.store(0);
  r->mRun.store(0);
  r->mRunning.store(0);
  r->mStartFailed = 0;
  r->mUsesPthreads = 0;

  SInt32 version = 0;
  if (Gestalt(FOUR_CHAR_CODE("qtim"), &version) == noErr && UInt32(version) > 0x0603FFFFu &&
      DetachMovieFromCurrentThread(r->mMovie) == noErr)
    r->mUsesPthreads = 1;

  if (r->mUsesPthreads == 0) {
    Entry entry = (r->mKind == 2 || r->mKind == 3) ? gCooperativeEntries[r->mKind].load() : nullptr;
    if (entry == nullptr) return memFullErr;
    r->mThreadUPP = entry;
    ThreadID made = 0;
    OSErr err = NewThread(kCooperativeThread, entry, r, 0, kCreateIfNeeded, nullptr, &made);
    r->mError.store(err);
    if (err != noErr) r->mThreadUPP = nullptr;
    return err;
  }

  Entry entry = posixEntry(r->mKind);
  if (entry == nullptr) {
    AttachMovieToCurrentThread(r->mMovie);
    return memFullErr;
  }
  int err = pthread_mutex_init(&r->mMutex, nullptr);
  if (err != 0) {
    AttachMovieToCurrentThread(r->mMovie);
    return err;
  }
  err = pthread_cond_init(&r->mCond, nullptr);
  if (err != 0) {
    pthread_mutex_destroy(&r->mMutex);
    AttachMovieToCurrentThread(r->mMovie);
    return err;
  }
  err = pthread_attr_init(&r->mAttr);
  if (err != 0) {
    pthread_cond_destroy(&r->mCond);
    pthread_mutex_destroy(&r->mMutex);
    AttachMovieToCurrentThread(r->mMovie);
    return err;
  }
  err = gCreateFailure.exchange(0);
  if (err == 0) err = pthread_create(&r->mThread, &r->mAttr, entry, r);
  if (err != 0) {
    AttachMovieToCurrentThread(r->mMovie);
    std::fprintf(stderr, "myAllocateAlignThread pthread_create failed Err = 0x%x %d\n", unsigned(err), err);
    destroySync(r);
    return err;
  }
  r->mHasThread = 1;
  pthread_mutex_lock(&r->mMutex);
  while (r->mRun.load() == 0 && r->mStartFailed == 0) pthread_cond_wait(&r->mCond, &r->mMutex);
  const bool failed = r->mStartFailed != 0;
  pthread_mutex_unlock(&r->mMutex);
  if (!failed) return noErr;
  // The thread ends on its own after a failed start; only then are its
  // synchronisation objects destroyed.
  err = r->mError.load();
  pthread_join(r->mThread, nullptr);
  r->mHasThread = 0;
  AttachMovieToCurrentThread(r->mMovie);
  std::fprintf(stderr, "myAllocateAlignThread pthread_detach failed Err = 0x%x %d\n", unsigned(err), err);
  destroySync(r);
  return err;
}

void myDeallocateAlignThread(MAMF* r) {
  if (r == nullptr) return;
  if (r->mUsesPthreads != 0 && r->mHasThread != 0) {
    // Lowered under the mutex, so that a thread about to wait sees it.
    pthread_mutex_lock(&r->mMutex);
    if (r->mRun.load() != 0) r->mRun.store(0);
    pthread_mutex_unlock(&r->mMutex);
    pthread_cond_broadcast(&r->mCond);
    pausePoint(r, kMyReaderPauseStopping, 0);
    for (UInt32 i = 0; i < kStopPolls && r->mRunning.load(std::memory_order_acquire) != 0; ++i) usleep(1000);
    // The thread's own waits are bounded, so this ends: the worker records
    // are never disposed of under a poster still waiting for a job.
    pthread_join(r->mThread, nullptr);
    r->mReadSlot.store(kMyNoSlot);
    destroySync(r);
    r->mThreadUPP = nullptr;
    r->mHasThread = 0;
    AttachMovieToCurrentThread(r->mMovie);
  } else if (r->mUsesPthreads == 0 && r->mThreadUPP != nullptr) {
    if (r->mRun.load() != 0) r->mRun.store(0);
    for (UInt32 i = 0; i < kCooperativeStopPolls && r->mRunning.load() != 0; ++i) {
      YieldToAnyThread();
      usleep(10000);
    }
    r->mReadSlot.store(kMyNoSlot);
    r->mHasThread = 0;
    DisposeThreadEntryUPP(r->mThreadUPP);
    r->mThreadUPP = nullptr;
  }
}

void myAlignReaderSlotMeasured(MAMF* r) {
  pthread_mutex_lock(&r->mMutex);
  const SInt32 filled = r->mFilled.fetch_sub(1, std::memory_order_acq_rel) - 1;
  const SInt32 current = r->mCurrentSlot.load();
  if (filled == 0 || current == r->mLastSlot.load()) {
    r->mReadSlot.store(kMyNoSlot);
    r->mCurrentSlot.store(kMyNoSlot);
  } else {
    r->mReadSlot.store((current + 1) % 3);
  }
  pthread_mutex_unlock(&r->mMutex);
}

void* my16BitGetMovieFrameSharpnessThread(void* arg) {
  MAMF* r = static_cast<MAMF*>(arg);
  OSErr err = enterThread(r, false);
  if (err != noErr) {
    reportStartFailure(r, err);
    return nullptr;
  }
  Media media = myGetMovie16BitVideoMedia(r->mMovie, 0);
  const TimeValue duration = GetMovieDuration(r->mMovie);
  const TimeScale movieScale = GetMovieTimeScale(r->mMovie);
  const double ratio = movieScale != 0 ? double(GetMediaTimeScale(media)) / double(movieScale) : 1.0;
  PixMapHandle pm = r->mGWorld != nullptr ? GetGWorldPixMap(r->mGWorld) : nullptr;

  pthread_mutex_lock(&r->mMutex);
  r->mRunning.store(1);
  r->mRun.store(1);
  pthread_mutex_unlock(&r->mMutex);
  pthread_cond_broadcast(&r->mCond);

  TimeValue t = 0;
  const OSType eyes = VisualMediaCharacteristic;
  while (r->mRun.load() != 0) {
    const SInt32 write = r->mWriteSlot.load();
    const SInt32 next = (write + 1) % 3;
    if (next == r->mCurrentSlot.load() || r->mEndOfMovie.load() != 0 ||
        r->mFilled.load(std::memory_order_acquire) > 2) {
      sleepOnCond(r);
      continue;
    }
    if (pm != nullptr && !LockPixels(pm)) {
      std::fprintf(stderr, "Thread LockPixels failed\n");
    } else {
      err = myGet16BitMediaSampleInRGB48Buff(media, r->mSampleData, r->mRGBSlot[write], r->mWidth, r->mHeight,
                                             mediaTimeOf(ratio, t), r->mGWorld, r->mSampleDesc, CodecQ(r->mQuality),
                                             0);
      if (pm != nullptr) UnlockPixels(pm);
      // A nonzero result only: a cancel the run wrote stays.
      if (err != noErr) r->mError.store(err);
      if (r->mGausBlur != 0) {
        myRGB48PtrToMonoRGB8(r->mRGBSlot[write], r->mFrameBuffer, r->mWidth, r->mHeight, r->mMonoRowBytes,
                             r->mChannel);
        my3by3GaussianBlurMono8(r->mFrameBuffer, r->mMonoSlot[write], r->mWidth, r->mHeight, r->mMonoRowBytes);
      } else {
        myRGB48PtrToMonoRGB8(r->mRGBSlot[write], r->mMonoSlot[write], r->mWidth, r->mHeight, r->mMonoRowBytes,
                             r->mChannel);
      }
    }
    TimeValue nextTime = 0;
    GetMovieNextInterestingTime(r->mMovie, nextTimeStep, 1, &eyes, t + 1, fixed1, &nextTime, nullptr);
    r->mSlotTime[write] = SInt32(t);
    t = nextTime > 0 ? nextTime : duration;
    const bool atEnd = r->mError.load() != 0 || t >= duration;
    pausePoint(r, kMyReaderPauseSlotDecoded, UInt32(write));
    pthread_mutex_lock(&r->mMutex);
    r->mLastSlot.store(write);
    r->mWriteSlot.store(next);
    if (r->mReadSlot.load() == kMyNoSlot) {
      r->mCurrentSlot.store(write);
      r->mReadSlot.store(write);
    }
    r->mFilled.fetch_add(1, std::memory_order_release);
    // Only after the slot is published: a run that sees the end with an
    // empty ring would otherwise finish without the last frame.
    if (atEnd) r->mEndOfMovie.store(1);
    pthread_mutex_unlock(&r->mMutex);
    // A run waiting for a frame takes it at once.
    pthread_cond_broadcast(&r->mCond);
  }
  leaveThread(r);
  r->mRunning.store(0, std::memory_order_release);
  return nullptr;
}

void* myMultiThread16BitGetMovieFrameProcessingThread(void* arg) {
  MAMF* r = static_cast<MAMF*>(arg);
  r->mEndOfMovie.store(0);
  const bool raw = isRawBayer(r);
  OSErr err = enterThread(r, true);
  if (err != noErr) {
    resetWorkers(r);
    reportStartFailure(r, err);
    return nullptr;
  }
  Media media = myGetMovie16BitVideoMedia(r->mMovie, 0);
  const TimeScale movieScale = GetMovieTimeScale(r->mMovie);
  const double ratio = movieScale != 0 ? double(GetMediaTimeScale(media)) / double(movieScale) : 1.0;
  const UInt32 workerCount = r->mWorkerCount < kMyMaxAlignWorkers ? r->mWorkerCount : kMyMaxAlignWorkers;
  AlignThreadObject* w0 = workerCount != 0 ? r->mWorkers[0] : nullptr;

  pthread_mutex_lock(&r->mMutex);
  r->mRunning.store(1);
  r->mSleeping.store(0);
  if (w0 == nullptr || r->mFrameCount == 0) {
    err = paramErr;
  } else {
    pthread_mutex_lock(&w0->mMutex);
    w0->mRefX = -2.0f;
    w0->mIsReference = 1;
    w0->mNoResult = 1;
    const UInt32 align = w0->mPixelAlign;
    w0->mHorzBlockValid =
        (align == 1 || align == 3 || align == 4 || align == 5) && w0->temp32x32Ptr != nullptr ? 1 : 0;
    w0->mVertBlockValid = (align == 2 || align == 3 || align == 4) && w0->tempTwo32x32Ptr != nullptr ? 1 : 0;
    pthread_mutex_unlock(&w0->mMutex);

    NoiseStruct entry;
    myGetNoiseStruct(r->mSharpnessList, 0, &entry);
    bool locked = false;
    err = decodeForWorker(r, media, ratio, raw, w0, TimeValue(entry.mFrameTime), &locked);
    if (!locked) err = -1;
    // Only a decoded frame is posted: the worker never runs on a stale one.
    if (err == noErr) postJob(r, w0, 0);
  }
  if (err == noErr) {
    while (flag(w0->mDoneFrame).load(std::memory_order_acquire) == 0) usleep(5000);
    pausePoint(r, kMyReaderPauseReferenceDone, 0);
    r->mRefPosX = w0->mOffsetX;
    r->mRefPosY = w0->mOffsetY;
    w0->mOffsetX = w0->mOffsetY = 0.0f;
    const size_t blockBytes = size_t(w0->mBlockSize) * w0->mBlockSize * 1024;
    for (UInt32 j = 1; j < workerCount; ++j) {
      AlignThreadObject* w = r->mWorkers[j];
      if (w == nullptr) continue;
      pthread_mutex_lock(&w->mMutex);
      w->mRefX = w0->mRefX;
      w->mRefY = w0->mRefY;
      w->mManualX = w0->mManualX;
      w->mManualY = w0->mManualY;
      w->mHorzBlockDX = w0->mHorzBlockDX;
      w->mHorzBlockDY = w0->mHorzBlockDY;
      w->mVertBlockDX = w0->mVertBlockDX;
      w->mVertBlockDY = w0->mVertBlockDY;
      w->mHorzBlockValid = w0->mHorzBlockValid;
      w->mVertBlockValid = w0->mVertBlockValid;
      w->mIsReference = 0;
      w->mNoResult = 0;
      if (w0->mHorzBlockValid != 0 && w->temp32x32Ptr != nullptr && w0->temp32x32Ptr != nullptr)
        std::memcpy(w->temp32x32Ptr, w0->temp32x32Ptr, blockBytes);
      if (w0->mVertBlockValid != 0 && w->tempTwo32x32Ptr != nullptr && w0->tempTwo32x32Ptr != nullptr)
        std::memcpy(w->tempTwo32x32Ptr, w0->tempTwo32x32Ptr, blockBytes);
      pthread_mutex_unlock(&w->mMutex);
    }
    // The collector takes the reference frame itself, at (0, 0).
    w0->mIsReference = 0;
    r->mRun.store(1);
  } else {
    r->mError.store(err);
    r->mStartFailed = 1;
  }
  pthread_mutex_unlock(&r->mMutex);
  pthread_cond_broadcast(&r->mCond);

  UInt32 k = 1;
  while (r->mRun.load() != 0) {
    if (k < r->mFrameCount && r->mError.load() == 0) {
      bool found = false;
      for (UInt32 j = 0; j < workerCount && k < r->mFrameCount; ++j) {
        AlignThreadObject* w = r->mWorkers[j];
        if (w == nullptr || !workerIdle(w)) continue;
        found = true;
        NoiseStruct entry;
        myGetNoiseStruct(r->mSharpnessList, k, &entry);
        if (!(double(entry.mValue) >= r->mCutOff)) {
          k = r->mFrameCount;  // the list is sorted: nothing further passes
          break;
        }
        bool locked = false;
        err = decodeForWorker(r, media, ratio, raw, w, TimeValue(entry.mFrameTime), &locked);
        if (!locked) {
          ++k;  // the frame is skipped
          continue;
        }
        if (err != noErr) {
          r->mError.store(err);
          break;
        }
        postJob(r, w, j);
        ++k;
      }
      if (!found && r->mEndOfMovie.load() == 0) sleepOnCond(r);
    } else {
      bool allWaiting = true;
      for (UInt32 j = 0; j < workerCount && allWaiting; ++j) {
        AlignThreadObject* w = r->mWorkers[j];
        if (w == nullptr) continue;
        allWaiting = workerIdle(w) && flag(w->mSFThreadIsSleeping).load() != 0;
      }
      if (allWaiting) r->mEndOfMovie.store(1);
      usleep(1000);
    }
  }
  leaveThread(r);
  resetWorkers(r);
  r->mRunning.store(0, std::memory_order_release);
  return nullptr;
}
