// Multi-level sharpening of an image window's Luma16 plane: an unsharp mask
// taken at the seven scales of the Gaussian cascade, each level with its own
// strength (SHARP1 .. SHARP7) and a fixed share of the result, optionally
// limited to a band of differences and optionally smoothed outside the band.
//
// Per level k and sample i, with s = luma, b = blur level k, d = s - b:
//   lo = -1 when the minimum threshold is 0, else the minimum;
//   hi = 65535 when the maximum threshold is 0 or 65535, else the maximum;
//   no bound (lo <= 0 and hi > 65534): v = wk (s + SHARPk d), always;
//   otherwise inside the band (lo < |d| < hi): the same; outside it wk s, or
//   wk b when the smoothing switch is 1;
//   contribution = v truncated toward zero, clamped to 0 .. 65535.
// The shares wk are 5/17, 4/17, 3/17, 2/17, 1/17, 1/17, 1/17 and add up to 1,
// so with all strengths 0 the sum of the contributions is the luma less at
// most one unit a level.
#pragma once
#include "image_windows/ImageWindowRecord.h"
#include "platform/coreservices/MacTypes.h"

// The share of level 1 .. 7 in double precision (index 0 is level 1).
extern const double kSharpenLevelShare[kImageWindowLevelCount];

// Recomputes mDetailLevel[level - 1] from mSourceLuma16 and mBlurLevel[level - 1]
// in double precision (from the single-precision strength), or through the
// vector-named forms below when mAltivecFlag is 1. A level of 0 or above 7, or a
// missing plane, changes nothing.
void mySharpenFilterThresholdSingle16Bit(MyImageWindowDataStruct* record, UInt32 level);

// The rules one at a time over count samples, in single precision with a fused
// multiply-add (t = fma(strength, d, s), v = t x share): results may differ by
// one unit from the double-precision form where the exact value lies within
// single-precision rounding of an integer. They need no particular alignment.
void myAltivecSharpen16Bit(const UInt16* luma, const UInt16* blurred, UInt16* contribution,
                           UInt32 count, Float32 strength, Float32 share, UInt8 prefetchFlag);
// minimum and maximum as in the record (0 = no minimum; 0 or 65535 = no maximum).
void myAltivecSharpenThreshold16Bit(const UInt16* luma, const UInt16* blurred,
                                    UInt16* contribution, UInt32 count, SInt32 minimum,
                                    SInt32 maximum, Float32 strength, Float32 share,
                                    UInt8 prefetchFlag);
void myAltivecSharpenThresholdSmoothed16Bit(const UInt16* luma, const UInt16* blurred,
                                            UInt16* contribution, UInt32 count, SInt32 minimum,
                                            SInt32 maximum, Float32 strength, Float32 share,
                                            UInt8 prefetchFlag);

// Output luma (written into the mWorkRGB48 block as a Luma16 plane):
// min(65535, mDetailLevel[0][i] + ... + mDetailLevel[6][i]) for every sample.
void myAltivecSharpenFilterThresholdMulti16Bit(MyImageWindowDataStruct* record);
