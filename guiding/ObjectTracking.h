// Object tracking for the RA/Dec motion record: one bright object (a star or
// a planet) is followed through the live frames in a 32 x 32 box, and its
// position is stored over time so that the mount's drift can be written out
// and drawn afterwards.
//
// Threads: myDoImageTracking runs on the driver's delivery thread. It raises
// mTrackBusy for its whole run and reads mTrackSamples and mPleezWaitSum only
// after that, so the main thread, which clears those pointers and waits for
// mTrackBusy to drop before freeing them, never frees a buffer in use. A
// sample is written whole before mTrackSampleCount (release) shows it; the
// main thread reads the count (acquire) and then the samples below it.
//
// Frames are as the pipeline hands them on: 8-bit frames one byte a sample,
// deeper frames (12-bit ones already widened) 16-bit host-order samples.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/coreservices/MacTypes.h"

// Side of the tracking box, pixels.
constexpr UInt32 kMyTrackBoxSize = 32;
// Samples of a tracking run (please-wait mode 6), and the floats of one.
constexpr UInt32 kMyTrackSampleCapacity = 32768;
constexpr UInt32 kMyTrackSampleFloats = 3;  // x, y, elapsed seconds

// One frame of the run. 0 when the frame was used or skipped (a deep frame
// without the Mono8 buffer), -50 for a null record, no sample buffer, no
// frame or a frame under 32 x 32 pixels (or 8-bit rows shorter than the
// width, or deep rows of an odd number of bytes), -128 when the object is
// lost or the first box has no usable contrast. Deep frames given fewer row
// bytes than twice the width (the pipeline passes the width for every
// depth) are read as packed rows of width samples.
OSStatus myDoImageTracking(MyCameraWindowDataStruct* record, const void* frame, UInt32 width, UInt32 height,
                           UInt32 rowBytes);

// Origin of the box around a position along one axis of `size` pixels (at
// least 32): 0 near the low edge, size - 32 near the high edge, else the
// position less 16, truncated.
UInt32 myTrackBoxOrigin(float position, UInt32 size);
