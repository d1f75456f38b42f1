// Where the light is in a monochrome frame: intensity centroids of a
// rectangle or a sub-image, the horizontal-contrast (delta) centroid, the two
// coarse-to-fine box searches, the contrast threshold of a rectangle and the
// self-thresholding centroid of a 16-bit rectangle.
//
// Result convention: centroids are written as two floats, both -1.0 when no
// pixel qualifies. Rectangle routines give column and row indices of the
// buffer passed in; sub-image routines give coordinates relative to the
// sub-image's first pixel. The searches also give the half size of the last
// accepted box (0 x 0 when nothing was found).
//
// All routines work on caller-owned buffers and keep no state; rowBytes is the
// distance between rows in bytes. Rectangles must lie inside the buffer.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Weight = pixel, for pixels >= threshold. A threshold of 0xFFFFFFFF (the
// "no contrast" level of myCalcRectRange) accepts nothing.
void myCalcRectCentroid(const UInt8* buffer, UInt32 x, UInt32 y, UInt32 width, UInt32 height,
                        UInt32 rowBytes, UInt32 threshold, float* cx, float* cy);

// Weight = pixel - clip, for pixels > clip.
void myCalculateImageSubCentroidClipped(const UInt8* buffer, UInt32 x, UInt32 y, UInt32 width,
                                        UInt32 height, UInt32 rowBytes, UInt8 clip, float* cx,
                                        float* cy);

// Sub-image centroid, weight = pixel - threshold for pixels > threshold. Runs
// the vector form when altivecFlag is 1 and the buffer and rowBytes are
// 16-byte aligned; both forms give the same result here.
void myCalcImageSubCentroid(const UInt8* image, UInt32 width, UInt32 height, UInt32 rowBytes,
                            UInt8 threshold, UInt8 altivecFlag, UInt8 prefetchFlag, float* cx,
                            float* cy);
void myAltivecCalculateImageSubCentroid(const UInt8* image, UInt32 width, UInt32 height,
                                        UInt32 rowBytes, UInt8 threshold, UInt8 prefetchFlag,
                                        float* cx, float* cy);

// Weight = |p(c) - p(c + 2d)| when above threshold, counted at column c + d,
// for c from x to x + width - 2d - 1.
void myCalRectImageDeltaCentroid(const UInt8* buffer, UInt32 x, UInt32 y, UInt32 width,
                                 UInt32 height, UInt32 rowBytes, UInt32 threshold, UInt32 d,
                                 float* cx, float* cy);

// Coarse-to-fine searches over a whole frame: the box halves while each
// smaller box pulls the centroid by more than 4 pixels.
void myCalcDeltaMultipleCentroids(const UInt8* frame, UInt32 width, UInt32 height,
                                  UInt32 rowBytes, UInt32 threshold, UInt32 d, float* cx,
                                  float* cy, UInt32* boxWidth, UInt32* boxHeight);
void myCalcMultipleImageSubCentroids(const UInt8* frame, UInt32 width, UInt32 height,
                                     UInt32 rowBytes, UInt8 threshold, UInt8 altivecFlag,
                                     UInt8 prefetchFlag, float* cx, float* cy, UInt32* boxWidth,
                                     UInt32* boxHeight);

// Tracking threshold of a rectangle: mean + (max - mean) / 2 when
// max - min > 31, else 0xFFFFFFFF (no usable contrast).
void myCalcRectRange(const UInt8* buffer, UInt32 x, UInt32 y, UInt32 width, UInt32 height,
                     UInt32 rowBytes, UInt32* level);

// Self-thresholded centroid of a 16-bit rectangle and the background level of
// a box of the same size re-centred on it. The re-centred box reaches outside
// the rectangle whenever the star is off its centre, so the routine needs the
// image's size to keep that box inside the image; a rectangle that does not
// fit in the image is refused (results -1.0, -1.0, background 0).
void myCalculateImageSubCentroidClipped16Bit(const UInt16* buffer, UInt32 x, UInt32 y,
                                             UInt32 width, UInt32 height, UInt32 rowBytes,
                                             float* cx, float* cy, UInt32* background,
                                             UInt32 imageWidth, UInt32 imageHeight);
