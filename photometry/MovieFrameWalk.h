// Walking a movie frame by frame for the measuring commands: the movie opened
// from a file, an offscreen of its box, and each frame as Mono16 luminance at
// a movie time, with the time the next frame begins.
//
// Movies with a 16-bit video medium (16-bit raw Bayer, 'b16g', 'b32a',
// 'b48r', 'b64a') are read sample by sample at full depth (raw Bayer
// demosaiced at quality 0x400); every other movie is drawn into a 32-bit
// offscreen and widened. Main thread only; one walk per command.
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Movies.h"

struct MyMovieFrameWalk {
  Movie mMovie;
  Handle mDataRef;
  Media mMedia16;                 // the 16-bit video medium, or null: the 32-bit path
  Handle mSampleH;                // 16-bit path: sample data
  ImageDescriptionHandle mDescH;  // 16-bit path: the medium's first description
  GWorldPtr mGWorld;              // 'b48r' (16-bit path) or 32-bit offscreen of the box
  UInt16* mRGB48;                 // width x height x 3 samples plus 64 bytes
  UInt32 mWidth;
  UInt32 mHeight;
  TimeValue mDuration;
  TimeScale mTimeScale;  // the movie's
  double mRatio;         // media time scale / movie time scale (16-bit path)
};

// Opens the movie in `file` for reading frames. 0 with the walk ready; else
// the walk holds nothing and:
//  -1 when the movie can't be opened (nothing reported),
//  -2 for an empty movie box ("Movie does not contian video. Cannot Complete
//     operation." posted),
//  -3 when the 16-bit medium's description can't be read
//     ("GetMediaSampleDescription failed" posted),
//  -108 when the offscreen or a buffer can't be made (nothing reported).
OSErr myOpenMovieFrameWalk(const FSRef* file, MyMovieFrameWalk* walk);
// Shows the movie at `movieTime` in the offscreen and converts that frame to
// Mono16 luminance (width x height samples) in `mono16`. 0 or the status of
// the read (-1 when the offscreen's pixels can't be locked).
OSErr myReadMovieFrameWalk(MyMovieFrameWalk* walk, TimeValue movieTime, UInt16* mono16);
// The movie time at which the next video frame after `movieTime` begins, or
// the duration when none does.
TimeValue myNextMovieFrameWalkTime(MyMovieFrameWalk* walk, TimeValue movieTime);
// Releases everything the walk holds; a closed or failed walk is left empty.
void myCloseMovieFrameWalk(MyMovieFrameWalk* walk);

// Tests: the nth frame read from now on fails with `status` (0 withdraws it).
void SkyloomFailMovieFrameWalkRead(int nth, OSErr status);
