// Dark-frame subtraction: the master dark is taken off every light frame in
// place, differences below zero clipped to zero. The live pipeline runs it as
// the first correction of each frame; the movie calibration runs it on RGB48
// frames taken as runs of 16-bit samples (count = 3 x width x height).
#pragma once
#include "platform/coreservices/MacTypes.h"

// image = image - dark where image > dark, else 0, for count samples. With
// altivecFlag 1 and both buffers 16-byte aligned the vector form runs; both
// forms give the same result.
void mySubtractDarkFrame8Bit(UInt8* image, const UInt8* dark, UInt32 count, UInt8 altivecFlag,
                             UInt8 prefetchFlag);
void mySubtractDarkFrame16Bit(UInt16* image, const UInt16* dark, UInt32 count, UInt8 altivecFlag,
                              UInt8 prefetchFlag);

// The vector forms, callable directly (no alignment needed here).
void myAltivecSubtractDarkFrame8Bit(UInt8* image, const UInt8* dark, UInt32 count,
                                    UInt8 prefetchFlag);
void myAltivecSubtractDarkFrame16Bit(UInt16* image, const UInt16* dark, UInt32 count,
                                     UInt8 prefetchFlag);
