// The record of one frame-reader or poster thread of a stacking run, and the
// start and stop of its thread.
//
// Kind 0 reads a 16-bit movie into a ring of three slots that the run drains
// and measures; kind 1 posts the frames of the sharpness list to the align
// workers; kinds 2 and 3 are their 8-bit forms.
//
// Threads: the record's thread is a joinable POSIX thread (a cooperative
// thread for kinds 2 and 3 when POSIX threads can't be had). The ring's
// indices and counters are atomics; mFilled is raised with release order and
// read with acquire order, which publishes the slot. The reader moves the
// slot indices and raises mFilled under mMutex, and the run hands a measured
// slot back through myAlignReaderSlotMeasured, also under mMutex, so that the
// two sides never see each other's index updates half done.
#pragma once
#include <pthread.h>

#include <atomic>

#include "platform/coreservices/MacTypes.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/ImageCompression.h"
#include "platform/quicktime/Movies.h"

struct AlignThreadObject;

constexpr SInt32 kMyNoSlot = 255;
constexpr UInt32 kMyMaxAlignWorkers = 16;

struct MAMF {
  GWorldPtr mGWorld;                  // drawing target of the movie ('b48r' for 16-bit movies)
  Movie mMovie;                       // the movie being read
  ImageDescriptionHandle mSampleDesc; // first sample description; 'BGGR' marks raw Bayer
  UInt32 mScale;                      // SCALE (1-4)
  UInt32 mChannel;                    // colour channel of the Mono8 conversion (3 monochrome)
  UInt8 mGausBlur;
  UInt8 mBcgSubtract;
  UInt16* mRGBSlot[3];                // the ring's colour frames (RGB48), scaled size
  UInt8* mMonoSlot[3];                // the ring's Mono8 images, rows mMonoRowBytes apart
  SInt32 mSlotTime[3];                // movie time of the frame in each slot
  UInt8* mFrameBuffer;                // scratch (a Mono8 image before blurring)
  Handle mSampleData;                 // sample data of decoded frames
  UInt32 mQuality;                    // decompression quality (0x100, 0x300 or 0x400)
  std::atomic<SInt32> mEndOfMovie;    // read to the end (kind 0) / every frame stacked (kind 1)
  UInt32 mWidth, mHeight;
  UInt32 mMonoRowBytes;               // mWidth rounded up to a multiple of 16
  UInt32 mScaledWidth, mScaledHeight;
  UInt32 mScaledMonoRowBytes;
  SInt32 mKind;                       // 0 16-bit reader, 1 16-bit poster, 2 8-bit reader, 3 8-bit poster
  double mCutOff;                     // sharpness cut-off of the stacking pass
  UInt32 mFrameCount;                 // entries in the sharpness list
  Handle mSharpnessList;              // the sorted sharpness list
  std::atomic<SInt32> mCurrentSlot;   // slot being measured by the run (255 none)
  std::atomic<SInt32> mReadSlot;      // next slot for the run to measure (255 none)
  std::atomic<SInt32> mLastSlot;      // slot filled last by the reader (255 none)
  std::atomic<SInt32> mWriteSlot;     // slot the reader fills next
  std::atomic<SInt32> mFilled;        // filled slots not yet measured
  UInt8 mUsesPthreads;                // 1 POSIX thread, 0 cooperative thread
  UInt32 mHotPixel;
  UInt8 mSharpMatch;
  UInt8 mRemoveNoise;
  double mMatchTolerance;             // (PIXELTOLERANCE - 1) x 0.5
  SInt32 mSharpen;
  UInt8 mAutoExpAlign;
  UInt32 mExpandLow;                  // low level of the Mono8 stretch of alignment frames
  UInt32 mExpandHigh;                 // high level
  pthread_t mThread;                  // the POSIX thread, when mHasThread is 1
  UInt8 mHasThread;                   // pthread_t is opaque: this says whether mThread names one
  pthread_mutex_t mMutex;
  pthread_cond_t mCond;
  pthread_attr_t mAttr;
  std::atomic<SInt32> mRun;           // 1 while the thread shall run
  std::atomic<SInt32> mRunning;       // 1 while the thread's body runs
  std::atomic<SInt32> mSleeping;      // 1 while the thread waits on mCond
  UInt32 mGradLevel;
  void* (*mThreadUPP)(void*);         // entry of a cooperative thread (null none)
  std::atomic<SInt32> mError;         // the thread's error; the run writes -128 on cancel
  float mRefPosX, mRefPosY;           // reference position measured by the reference job
  UInt32 mWorkerCount;                // align worker records in use (1-16)
  AlignThreadObject* mWorkers[kMyMaxAlignWorkers];
  // The thread's start: the thread raises it under mMutex (with mError set)
  // when it fails before it could start, and then ends.
  UInt8 mStartFailed;
};

// Starts the record's thread for its mKind and waits until it runs (kind 1:
// after the reference job). 0, or the error of the failed step; after a
// failure no thread is left and the movie is attached to the caller again.
OSStatus myAllocateAlignThread(MAMF* reader);
// Stops the record's thread and waits until it has ended, then re-attaches
// the movie to the calling thread. A record without a thread is left alone.
void myDeallocateAlignThread(MAMF* reader);

// Kind 0: decodes the movie frame after frame into the ring.
void* my16BitGetMovieFrameSharpnessThread(void* arg);
// Kind 1: the reference job, then every frame at or above the cut-off to
// an idle worker.
void* myMultiThread16BitGetMovieFrameProcessingThread(void* arg);

// The run's side of the ring once it has measured slot mCurrentSlot: lowers
// mFilled and moves mReadSlot and mCurrentSlot on (both 255 when the ring is
// empty).
void myAlignReaderSlotMeasured(MAMF* reader);

// Entries of the 8-bit kinds (2 and 3): the POSIX body and the cooperative
// one. The 8-bit run installs them; a kind without an entry fails to start
// with -108.
void mySetAlignThreadEntries(SInt32 kind, void* (*posixEntry)(void*), void* (*cooperativeEntry)(void*));

// ---- Test only ----
enum MyReaderPausePoint : UInt32 {
  kMyReaderPauseSlotDecoded,   // reader: a slot is decoded, before mFilled rises (arg: slot)
  kMyReaderPausePosted,        // poster: a job is posted, before the signal (arg: worker)
  kMyReaderPauseReferenceDone, // poster: the reference job is done, before its copy
  kMyReaderPauseStopping,      // stop: mRun is lowered, before mRunning is tested
};
using MyReaderPauseHook = void (*)(MAMF*, MyReaderPausePoint, UInt32 arg);
void myReaderSetPauseHook(MyReaderPauseHook hook);  // null removes it
// The next thread creation fails with this code (0 withdraws it).
void myReaderFailNextThreadCreation(int code);
