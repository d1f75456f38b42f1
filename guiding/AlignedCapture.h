// Aligned capture: a run of live frames added into one sum while the object
// is followed from frame to frame, written at the end as a 16-bit TIFF.
//
// Threads: start and finish run on the main thread, myDoFrameAlign on the
// driver's delivery thread. They meet in the record's aligned-capture fields:
// start sets mAlignCaptureOpen last; every frame raises mAlignBusy and then
// re-reads mAlignCaptureOpen, leaving at once when it is clear; finish clears
// mAlignCaptureOpen first, then waits (bounded) for mAlignBusy to drop before
// it frees anything. A frame still running when that wait runs out keeps its
// buffers: they are left allocated rather than freed under it.
//
// Frames are as the pipeline hands them on: 8-bit frames one byte a sample,
// deeper frames (12-bit ones already widened) 16-bit host-order samples.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/coreservices/MacTypes.h"

// Sets up a run of width x height frames. 0, or -108 when a buffer can't be
// had (everything taken so far is given back).
OSStatus myStartAlignedFrameCapture(MyCameraWindowDataStruct* record, UInt32 width, UInt32 height);

// Ends the run: waits for a frame in progress, frees the working buffers and,
// with save 1, writes the average (sum 0) or the sum (sum 1) to
// mFrameFileSpec. Returns the file write's status, 0 when nothing was written,
// -108 when the output image can't be had.
OSStatus myFinishAlignedFrameCapture(MyCameraWindowDataStruct* record, UInt8 save, UInt8 sum);

// One frame of the run (delivery thread). Always 0.
OSStatus myDoFrameAlign(MyCameraWindowDataStruct* record, const void* frame);

// The object threshold of a working image from its histogram: method 1 is the
// edge (delta) centroid's, the others the intensity centroid's; deep frames
// (bitsPerPixel above 8) fall back to 200 instead of 10 when the level is out
// of range.
UInt32 myAlignThreshold(const UInt32* histogram, UInt32 method, UInt32 bitsPerPixel);

// ---- test hooks (null / 0 in the product)

// The nth allocation of myStartAlignedFrameCapture from now (1 = the next)
// fails; 0 cancels.
void SkyloomFailAlignAllocation(UInt32 nth);

enum MyAlignTestPause : int {
  kMyAlignPauseInFrame = 1,     // a frame, after busy is raised and the run found open
  kMyAlignPauseFinishWait = 2,  // finish, before each 5 ms wait for busy
};
extern void (*volatile gMyTestAlignPausePoint)(int where);
