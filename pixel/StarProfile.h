// Small measurements on Mono8 data: the 256-bin histogram of a frame, a
// brightness-weighted quantile of it (the median and background levels of
// tracking and stacking), and the full width at half maximum of a star.
// Caller-owned buffers, no state between calls.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Counts the first (width / 4) x 4 pixels of each row into histogram[256].
void myGetFrequencyMono8(const UInt8* buffer, UInt32* histogram, UInt32 width, UInt32 height,
                         UInt32 rowBytes);

// First bin whose running sum of (i + 1) x h[i] reaches trunc(fraction x T),
// T the total of those weights. 0 for a fraction outside 0..1 or a target of 0.
UInt32 myCalcMono8MedianVal(const UInt32* histogram, double fraction);

// FWHM of the star at (x, y) from twelve half-maximum walks around the
// rounded centre. Returns 0, or -1 when there is no star above the background
// or no walk crosses the half level; halfLevel is written in either case once
// the peak is known. Centres whose 3 x 3 neighbourhood leaves the frame are
// refused with -1.
SInt32 myCalcFWHM8BitMono(const UInt8* buffer, UInt32 rowBytes, UInt32 width, UInt32 height,
                          double x, double y, SInt32 background, double* fwhm, UInt32* halfLevel);
