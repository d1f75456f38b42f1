// Mono8 routines of the stacking engine's 8-bit path: the sparse frame-noise
// figure of a rectangle, the linear stretch in place, the 3 x 3 Gaussian blur
// and the thresholded unsharp mask. Caller-owned buffers, no state.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Mean of |(r + b) / 2 - p| over the pixels p > threshold of the area
// [x0, x1) x [y0, y1), r the pixel N to the right and b the one N rows below.
// 0.0 when N is 0, the area less N is 15 pixels or fewer in either direction,
// or nothing counts. Both settings of altivecFlag give this figure; the
// scratch buffer is not needed for it and may be null.
void mySIMDNxNCalculateSparseFrameNoise(const UInt8* frame, UInt8* scratch, UInt32 x0, UInt32 y0,
                                        UInt32 x1, UInt32 y1, UInt32 rowBytes, UInt32 threshold,
                                        UInt32 N, UInt8 prefetchControl, UInt8 altivecFlag,
                                        double* figure);

// One line of the figure: sum and count over byteCount pixels of `line`, with
// `right` and `below` the neighbours of each pixel.
void myAltivecNxNCalculateSparseLineNoise(const UInt8* line, const UInt8* right, const UInt8* below,
                                          UInt32 byteCount, UInt32 threshold, UInt8 prefetchControl,
                                          UInt32* sum, UInt32* count);

// Stretches [low, high] to [0, 255] in 16.16 fixed point; nothing happens
// unless high > low.
void myExpandMono8InPlace(UInt8* buffer, UInt32 width, UInt32 height, UInt32 rowBytes, SInt32 low,
                          SInt32 high);

// (1 2 1) x (1 2 1) / 16 blur; the border rows and columns are copied.
// Source and destination must be different buffers.
void my3by3GaussianBlurMono8(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                             UInt32 rowBytes);

// Unsharp mask of src against its blurred copy. With a threshold, differences
// up to it take the blurred value; with threshold 0 only pixels above their
// blur are sharpened.
void my3x3SharpenFilterThresholdMono8(const UInt8* src, const UInt8* blurred, UInt8* dst,
                                      UInt32 width, UInt32 height, UInt32 rowBytes, double amount,
                                      SInt32 threshold);
