// Per-frame photometry of the stars picked for a movie run: every slot of
// the record is re-centred and measured on the current Mono16 frame, the
// intensities become magnitudes relative to the mean of the comparison stars,
// and one row a frame goes to the simple table and one row a star to the
// detailed table (tab-separated, CR line ends, "±" as the byte 0xB1).
// Main thread only; the record is the run's.
#pragma once
#include "photometry/BatchPhotomData.h"

// Measures frame k (from 0; headers are written on frame 0) stamped with
// time t, real time when dateMode is 1, elapsed seconds otherwise.
// 0; -1 when no variable star was found (the frame is skipped, the run goes
// on); -108 when the record has no frame buffer.
// A slot keeps the FWHM of the first frame it was measured in, so its
// aperture keeps its size for the whole movie. A star whose aperture or sky
// disc gives no usable sum (a failed sum, no sky pixel, no light above the
// sky) is not found in that frame.
SInt32 myGetFWHMMagMultiPositions(MyBatchPhotomDataStruct* data, double t, int dateMode, int k);

// Tests: the nth star aperture sum from now on (the one at r, after the sky)
// gives `result` as a failed sum does (-1.0, -2.0); 0 withdraws it.
void SkyloomFailStarApertureSum(int nth, double result);
