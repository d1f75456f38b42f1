// The movie recorder: frames of a live camera stream go straight into a movie
// file of our own layout (MovieLayout.h); one writer thread per recording
// moves them from a ring of page-aligned slots to disk.
//
// Calling order: create once; add frames from one thread (the camera's
// delivery thread); close once, from any thread, after the caller has stopped
// adding frames. Close frees the record, also on error.
//
// Time: every frame carries its time in milliseconds. Without a nominal frame
// duration the first frame passed is only the time origin and is not stored
// (whatever its time, 0 included). Frames still queued when close is called
// are written before the movie is finished.
// Sample durations are the intervals between the stored frames; a frame the
// ring had no room for is dropped without an error, and its time shows in the
// duration of the frame before it.
//
// A full volume (-34, also ENOSPC and EDQUOT from the disk) or a full frame-time
// table ends a recording normally: close finishes the movie with the frames
// counted, cutting off anything written after them. Another write error ends
// the recording with that status, and close deletes the movie.
#pragma once
#include <pthread.h>

#include <functional>

#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/ImageCompression.h"

struct MyDCAMCameraStruct;

// The ring of frame slots: at least kMovieSlotRingBytes (about 20 MB, at most
// 30 slots), grown to hold one second of frames at the nominal rate (or at
// kMovieRingDefaultRate when the caller gives none) so a delivery or writer
// thread kept off the CPU by a loaded machine loses no frames; never more
// than kMovieRingBudgetBytes, never fewer than 2 slots.
constexpr UInt32 kMovieMaxSlots = 1024;
constexpr UInt32 kMovieNoSlot = 0xFFFFFFFF;
constexpr UInt32 kMovieSlotRingBytes = 20971520;  // about 20 MB of frame slots
constexpr UInt32 kMovieSmallRingSlots = 30;
constexpr UInt64 kMovieRingBudgetBytes = UInt64(256) << 20;
constexpr double kMovieRingDefaultRate = 240.0;   // frames a second
constexpr UInt32 kMovieReserveBlockBytes = 32768;
constexpr UInt32 kMovieReserveBlocks = 161;       // 5,275,648 bytes held back for the movie atom

enum : OSStatus {
  kMovieFrameTimeErr = -2015,   // a frame time that does not advance
  kMovieAddFrameBusyErr = -9074,  // another add-frame call is running on this recorder
};

struct MyMovieRecorderStruct {
  MyDCAMCameraStruct* mCamera;
  FSRef mFileRef;
  FSIORefNum mForkRef;            // 0: not open
  UInt32 mTimeCapacity;           // most frames the time table may count
  float* mTimeTable;              // frame times in ms of the frames counted
  void* mSlotBlock;
  UInt8* mSlots[kMovieMaxSlots];
  float mSlotTimes[kMovieMaxSlots];
  SInt32 mTimeScale;
  SInt32 mFrameBytes;
  UInt32 mFramesWritten;
  ImageDescriptionHandle mImageDesc;
  FSSpec mFileSpec;
  Rect mBounds;
  UInt32 mStoredCode;
  double mNominalFrameMs;         // -1.0 when the caller gave none
  double mLastFrameTime;
  UInt32 mBitsPerPixel;           // after normalisation (12-bit Bayer and 'Y411' 16, 'v308' 32)
  UInt32 mSlotCount;
  UInt32 mSrcRowBytes;
  UInt32 mDstRowBytes;
  UInt32 mHeight;
  UInt32 mWidth;
  pthread_t mThread;
  pthread_mutex_t mMutex;
  pthread_cond_t mCond;
  pthread_attr_t mThreadAttr;
  SInt32 mRunning;
  SInt32 mAlive;
  UInt32 mWritingSlot;
  UInt32 mNextToWrite;
  UInt32 mLastFilled;
  UInt32 mFillIndex;
  UInt8 mWaitOnCond;
  SInt32 mStatus;
  FSSpec mReserveSpec;
  UInt8 mHasReserve;
  SInt32 mCallsInProgress;        // add-frame calls running (atomic)

  // Beyond the first fields: bookkeeping of this implementation.
  SInt32 mAddFrameBusy;           // re-entry guard of add-frame (compare-and-swap)
  SInt32 mClosing;                // set by close before it waits for add-frame calls
  UInt32 mInputBits;              // bits per pixel as the caller passed them
  UInt8 mHasTimeOrigin;           // a first frame has been accepted
  UInt8 mHasThread;
  UInt8 mSyncReady;               // mutex, condition variable and attributes exist
  UInt8 mFileCreated;             // this recorder created the movie file
  UInt8 mStartRowFlag;            // 'mm..' codes: row 0 holds the red samples
  UInt32 mTimeAllocated;          // entries allocated in mTimeTable
  UInt8* mScratch;                // 'mm..' codes: packed source and 8-bit grey work area
  UInt64 mFramesQueued;           // counters under mMutex (statistics)
  UInt64 mFramesDropped;
};

// camera: the open camera (only its vector-unit and PowerPC 970 flags are
// read). nominalFrameMs: 0 or less when the caller gives none. srcRowBytes 0
// means width x bits / 8. The file must not exist yet. Returns the recorder,
// or null with the error in *err: -50 for bad arguments or an unsupported code
// and bit count, -108 for memory, else the File Manager or POSIX status.
MyMovieRecorderStruct* ORXDCAMCreateMovie(MyDCAMCameraStruct* camera, double nominalFrameMs,
                                          SInt32 timeScale, UInt32 width, UInt32 height,
                                          UInt32 pixelFormatCode, UInt32 bitsPerPixel,
                                          UInt32 srcRowBytes, FSSpec fileLocation, OSErr* err);
// 0 (queued, or dropped because the ring was full), -50, -2015, -9074, or the
// writer's status once it has ended.
OSErr ORXDCAMAddMovieFrame(MyMovieRecorderStruct* recorder, const void* frame, double frameTimeMs);
// Stops the writer, finishes the movie and frees the recorder. 0, the error of
// writing the movie atom (the file is kept) or of writing the header (the file
// is deleted). A null recorder gives 0.
OSErr ORXDCAMCloseMovie(MyMovieRecorderStruct* recorder);

// The writer thread.
void* mySaveFrameThread(void* recorder);
// Row copy: one block copy when the row byte counts are equal.
void myCopyMovieBuffer(const void* src, void* dst, UInt32 rows, UInt32 srcRowBytes,
                       UInt32 dstRowBytes);

// ---- Tests and benchmarks ----
struct MyMovieRecorderStats {
  UInt64 framesQueued;
  UInt64 framesDropped;   // ring full
  UInt32 framesWritten;   // written and counted
  UInt32 slotCount;
  SInt32 status;
};
void myMovieRecorderGetStats(MyMovieRecorderStruct* recorder, MyMovieRecorderStats* stats);

// Pause points and the close waits. Install before create, remove after close.
struct MyMovieRecorderTestHooks {
  UInt32 pollIntervalUs = 1000;  // close polls every interval ...
  UInt32 pollCount = 10000;      // ... this many times before it says so and waits on
  std::function<void(UInt32 frameIndex)> beforeWrite;  // writer, before each frame write
  std::function<void()> beforeTakingSlot;  // writer, handed a slot, before it takes it (mutex released)
  std::function<void()> insideAddFrame;    // add-frame, holding its re-entry guard
  std::function<void()> closeWaitingForCalls;  // close, add-frame calls still running
  std::function<void()> closeJoiningWriter;    // close, the writer outlived the poll
};
// Null restores the defaults.
void myMovieRecorderSetTestHooks(const MyMovieRecorderTestHooks* hooks);
