// The colour steps of the image window's render, in place on an RGB48 image
// (rows packed, 6 x width bytes): saturation, colour balance, power-curve
// stretch with a black cut-off, and a linear expand per channel. Results are
// truncated toward zero and clamped to 0 .. 65535. The vector-named routines
// compute in single precision with fused multiply-adds and need no alignment;
// prefetchFlag is accepted for the callers' sake and changes nothing.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Amount s clamped to -2 .. 7 (NaN changes nothing); a = 1 + s, b = -s / 2:
// R' = a R + b (G + B), G' = a G + b (R + B), B' = a B + b (R + G).
// s = 0 leaves the image unchanged; s = -1 gives each channel the mean of the
// other two.
void myAltivecChangeSaturationRGB48(UInt16* rgb48, UInt32 width, UInt32 height, double amount,
                                    UInt8 prefetchFlag);

// R' = min(65535, trunc(R x red)), likewise green and blue, in single precision.
void myAltivecChangeColorBalanceRGB48G(UInt16* rgb48, UInt32 width, UInt32 height, Float32 red,
                                       Float32 green, Float32 blue, UInt8 prefetchFlag);

// Power-curve stretch of samplesPerRow x rows samples (an RGB48 image is 3 x
// width samples a row) with exponent p = curve / 2 and black level black:
// v <= black gives 0, else x = 65535 ((v - black) / (65535 - black))^p, taken as
// 65535 exp(p ln(k (v - black))) with k = 1 / (65535 - black) for a black of 1 ..
// 65534 and 1 / 65535 otherwise; x above 65534.0 gives 65535, else trunc(x).
// A black of 65535 or more turns every sample into 0.
void myNonLinearStretch16BitBuffer(UInt16* samples, UInt32 samplesPerRow, UInt32 rows,
                                   double curve, UInt32 black);
// The same curve, computed by the same exact formula for every sample.
void myAltivecNonLinearStretch16BitBuffer(UInt16* samples, UInt32 samplesPerRow, UInt32 rows,
                                          double curve, UInt32 black, UInt8 prefetchFlag);

// Per channel with limits lo and hi: k = 65535 / (hi - lo) in double, kept as a
// single-precision value (1.0 when hi equals lo); v' = k v - k lo, so lo and
// below give 0, hi and above 65535, and with lo = hi the channel becomes v - lo.
void myAltivecExpandRGB48(UInt16* rgb48, UInt32 width, UInt32 height, UInt32 redMinimum,
                          UInt32 redMaximum, UInt32 greenMinimum, UInt32 greenMaximum,
                          UInt32 blueMinimum, UInt32 blueMaximum, UInt8 prefetchFlag);
