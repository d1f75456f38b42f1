// The live frame road: the driver's frame callback and the per-frame
// pipeline, and the main-thread side of the hand-off of frames to the
// display timer, grabs, recordings and the please-wait modes.
//
// Threads: myDisplayCallback and the pipeline run on the camera's delivery
// thread, once a frame, and allocate nothing. Everything else here runs on
// the main thread. The two sides meet only in fields of the camera record.
// A buffer the main thread frees while frames flow has a busy counter: the
// pipeline raises it first, then re-reads the enabling flag and the pointer
// (sequentially consistent), uses the buffer and lowers the counter; the
// main thread clears the flag, waits (bounded) for the counter to reach 0
// and never frees a buffer whose counter is up: it keeps the buffer and
// tries again later. The counters:
//   mGrabBufferBusy    the grab buffer (mGrabWanted, mGrabBuffer)
//   mFWHMBusy          the FWHM/HFD plane and histogram (mFWHMOn)
//   mCalibrationBusy   the dark frame and the flat factors (mUseDarkFrame,
//                      mUseFlatFrame)
//   mPleezWaitBusy     the please-wait sums and samples (mPleezWaitActive,
//                      mPleezWaitSum, mTrackSamples)
//   mMovieBusy         the recorder (mRecording, mMovie)
// The preview buffer is guarded by a Dekker pair: the pipeline raises
// mPreviewConverting and only then checks mDisplayBusy (backing off when it
// is up); the display timer raises mDisplayBusy and only then checks
// mPreviewConverting. So the timer never draws a half-converted frame.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/coreservices/MacTypes.h"

// ---- the delivery thread ----

// The frame callback (MyDCAMFrameCallback); refCon is the camera record. The
// geometry comes from the record; a frame shorter than the record's size and
// depth need is dropped.
void myDisplayCallback(UInt32 width, UInt32 height, UInt32 byteCount, void* frame, void* refCon,
                       double interval, double accumulated);

// One frame through every step, in place. Frame time before interval (ms).
void myProcessFrame8Bit(MyCameraWindowDataStruct* record, UInt8* frame, double frameTimeMs,
                        double intervalMs);
void myProcessFrame16Bit(MyCameraWindowDataStruct* record, UInt16* frame, double frameTimeMs,
                         double intervalMs);

// Packed 12-bit pairs (b0 b1 b2 -> p0 = b0 x 16 + (b1 & 15), p1 = b2 x 16 +
// (b1 >> 4)) widened to p << 4, pixelCount / 2 pairs; an odd last sample is
// not written.
void myWiden12BitFrame(const UInt8* packed, UInt16* samples, UInt32 pixelCount);

// The hot-pixel routine a frame gets: whether any, 16-bit or 8-bit, Bayer or
// mono, and the threshold on the routine's scale.
struct MyHotPixelChoice {
  UInt8 apply;
  UInt8 sixteenBit;
  UInt8 bayer;
  UInt32 threshold;
};
MyHotPixelChoice myHotPixelChoice(const MyCameraWindowDataStruct* record, bool longExposure);

// ---- the main thread ----

// Live FWHM/HFD on (start 1) or off. Start stops first, then allocates the
// 1,040-byte histogram and the (w x h + 16)-byte plane: 0, or -108 with both
// freed and the measurement off. Stop clears mFWHMOn and frees the buffers
// once mFWHMBusy is 0; while a measurement holds it past the bounded wait the
// buffers are kept and the next start or stop frees them. 0.
OSStatus myStartStopFWHMHFD(MyCameraWindowDataStruct* record, UInt32 start);

// Waits (bounded) until the counter is 0: true when it is.
bool myWaitForFrameWork(SInt32* busy, UInt32 polls, UInt64 pollMicros);

// The request side of a grab: a buffer for the next eligible frame, the
// counters raised. -108 without memory, -9074 while the old buffer is still
// in use (nothing changed).
OSStatus myArmGrabBuffer(MyCameraWindowDataStruct* record, UInt8 timeoutOn);
// True when the pending grab is to be completed now (filled or cancelled).
bool myGrabReadyToComplete(MyCameraWindowDataStruct* record);
// True when the grab buffer holds a frame the pipeline filled for the
// current request and the grab was not cancelled: the completion saves only
// then.
bool myGrabShouldSave(MyCameraWindowDataStruct* record);
// The completion's finish: no frame wanted any more, then the buffer freed
// once the pipeline has left it. false when it was still in use after the
// bounded wait (the buffer is kept; call again on a later tick).
bool myFinishGrab(MyCameraWindowDataStruct* record);

// A recording's end: no more frames to the recorder; the recorder to close,
// or null while the pipeline is still inside it after the bounded wait (the
// recorder stays in mMovie; call again later).
MyMovieRecorderStruct* myDetachMovieFromFrames(MyCameraWindowDataStruct* record);

// Clears an enabling flag and waits for the matching busy counter: true when
// the buffers it guards may now be freed.
bool myDisableFrameWork(UInt8* flag, SInt32* busy);

// ---- tests ----

// Scales every bounded wait above to `polls` polls (0 restores the defaults:
// 5,000 x 1 ms for grabs and the recorder, 20 x 100 ms for FWHM/HFD).
void mySetFrameWorkWaitPolls(UInt32 polls);

// Test-only pause point (null in the product), called on the delivery thread
// with the place reached.
enum MyPipelinePause : int {
  kPipelinePauseBeforeGrabCopy = 1,  // an eligible frame saw mGrabWanted, nothing raised yet
  kPipelinePauseInGrabCopy = 2,      // mGrabBufferBusy raised, before the copy
  kPipelinePausePreviewCheck = 3,    // mPreviewConverting raised, mDisplayBusy not yet checked
  kPipelinePauseInFWHM = 4,          // mFWHMBusy raised, before the measurement
  kPipelinePauseInRecord = 5,        // mMovieBusy raised, before the recorder call
  kPipelinePauseInCalibration = 6,   // mCalibrationBusy raised, before the dark frame
  kPipelinePauseInPleezWait = 7,     // mPleezWaitBusy raised, before the mode's work
};
extern void (*volatile gMyPipelineTestPausePoint)(MyCameraWindowDataStruct* record, int where);

// Test-only: when set, the callback hands accepted frames here instead of to
// the pipeline (depth 8 or 16).
extern void (*volatile gMyFrameProcessorSpy)(MyCameraWindowDataStruct* record, void* frame, UInt32 depth,
                                             double frameTimeMs, double intervalMs);

// Test-only: the recorder call of a recorded frame (ORXDCAMAddMovieFrame when
// null).
extern OSErr (*volatile gMyAddMovieFrame)(MyMovieRecorderStruct* movie, const void* frame, double frameTimeMs);

// Test-only: the FWHM/HFD buffers' allocator (malloc when null).
extern void* (*volatile gMyFWHMAllocate)(size_t bytes);
// Test-only: the grab buffer's allocator (malloc when null).
extern void* (*volatile gMyGrabAllocate)(size_t bytes);
