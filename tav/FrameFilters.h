// The colour-frame filters of the align workers, for ARGB32 (bytes A, R, G, B)
// and RGB48 (16-bit R, G, B in host order) frames with the caller's row bytes.
// They touch R, G and B only; the ARGB32 filters that write whole pixels set
// alpha to 255 (binning leaves it). myLevelARGB32 and myDoARGB32HotPixel8Bit
// are also exports of the framework.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Background floor: 32 x 32 windows on a 16-pixel grid give per channel the
// minima and maxima of the windows whose mean is at least min + 10 % of the
// range; floor = (sum of minima + strength x (sum of maxima - sum of minima)) /
// count, and every sample at or below it is lifted to it (only those are
// written). A frame narrower or lower than 32 pixels is left alone: its
// window would start before the frame.
void myLevelARGB32(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height, UInt32 rowBytes,
                   float strength);
void myLevelRGB48(const UInt16* src, UInt16* dst, UInt32 width, UInt32 height, UInt32 rowBytes,
                  float strength);

// Iterative background cut: starting at the mean, the cut moves to the mean of
// the samples below it until no more than a tenth of the samples lie below,
// the cut moves by 2 or less (16-bit: 100), or passLimit passes ran; then the
// cut is subtracted from every sample (0 below it).
void myIterativelyChangeAverageCutPixelARGB32(UInt8* frame, UInt32 width, UInt32 height,
                                              UInt32 rowBytes, UInt32 passLimit);
void myIterativelyChangeAverageCutPixelRGB48(UInt16* frame, UInt32 width, UInt32 height,
                                             UInt32 rowBytes, UInt32 passLimit);

// Hot pixels, in place and in row order, per channel: a sample becomes the
// mean of its 8 neighbours (sum >> 3) when that mean and every neighbour
// differ from it by more than threshold. Outer rows and columns untouched.
// The RGB48 form is the pixel library's myDoRGB48HotPixel16Bit.
void myDoARGB32HotPixel8Bit(UInt8* frame, UInt32 width, UInt32 height, UInt32 rowBytes,
                            UInt32 threshold);

// 3 x 3 Gaussian (1 2 1 / 2 4 2 / 1 2 1, >> 4); the first and last rows and
// the first and last pixel of the other rows are copied.
void my3by3GaussianBlurARGB32(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                              UInt32 rowBytes);
void my3by3GaussianBlurRGB48(const UInt16* src, UInt16* dst, UInt32 width, UInt32 height,
                             UInt32 rowBytes);
// 5 x 5 Gaussian (sum 64, >> 6); the first two rows, the last three rows and
// the two outermost pixels of each row are copied.
void my5by5GaussianBlurARGB32(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                              UInt32 rowBytes);
void my5by5GaussianBlurRGB48(const UInt16* src, UInt16* dst, UInt32 width, UInt32 height,
                             UInt32 rowBytes);

// Thresholded unsharp mask with d = source - blurred, clamped to the sample
// range. Smoothing on: |d| > threshold gives s + trunc(amount x d), else the
// blurred sample. Smoothing off, threshold not 0: the same or else s (ARGB32
// green already at |d| == threshold). Threshold 0: ARGB32 trunc(s + amount x
// d), RGB48 s + trunc(amount x d).
void mySharpenFilterThresholdARGB32(const UInt8* src, const UInt8* blurred, UInt8* dst,
                                    UInt32 width, UInt32 height, UInt32 rowBytes, double amount,
                                    UInt32 threshold, UInt8 smoothing);
void mySharpenFilterThresholdRGB48(const UInt16* src, const UInt16* blurred, UInt16* dst,
                                   UInt32 width, UInt32 height, UInt32 rowBytes, double amount,
                                   UInt32 threshold, UInt8 smoothing);

// Same-size 2 x 2 binning in place: each sample := the sum of its 2 x 2 block
// (right and below) - 4 x level, clamped to the sample range; the last column
// repeats its left neighbour, the last row the row above.
void myBin2x2ARGB32(UInt8* frame, UInt32 width, UInt32 height, UInt32 rowBytes, UInt32 level);
void myBin2x2RGB48(UInt16* frame, UInt32 width, UInt32 height, UInt32 rowBytes, UInt32 level);
