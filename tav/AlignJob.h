// One job of an align worker, on its own record: decode a raw frame, clean
// and enlarge the colour frame, make the Mono8 alignment image, find the
// frame against the reference (centroid, then the blocks), leave the offsets
// and finish the colour frame for summing. The reference job measures the
// reference position and cuts the reference blocks instead. A job leaves
// mNoResult as it found it (1) when it ends without an offset.
#pragma once
#include "platform/coreservices/MacTypes.h"

struct AlignThreadObject;

void myRunARGB32AlignJob(AlignThreadObject* p);
void myRunRGB48AlignJob(AlignThreadObject* p);

// Enlargement by `scale` (1 to 4) per channel, truncating: 1 copies the rows;
// 2 gives a pixel, the means with its right neighbour and the pixel below,
// and the mean of the four; 3 and 4 interpolate a, (5a + 3b) >> 3,
// (3a + 5b) >> 3 and a, (3a + b) >> 2, (a + b) >> 1, (a + 3b) >> 2 along
// each axis, down the two neighbouring source columns first, then across.
// The last source column and row stand in for their missing neighbours.
// ARGB32 output gets alpha 255 (scale 1 copies it).
void myEnlargeARGB32(const UInt8* src, UInt32 srcRowBytes, UInt8* dst, UInt32 dstRowBytes,
                     UInt32 width, UInt32 height, UInt32 scale);
void myEnlargeRGB48(const UInt16* src, UInt32 srcRowBytes, UInt16* dst, UInt32 dstRowBytes,
                    UInt32 width, UInt32 height, UInt32 scale);

// Centroid thresholds from levels of the alignment image's histogram:
// T1 = trunc((level(0.8) - level(0.2)) x 0.05) held to 10 .. 200; T2 from
// a = level(0.9999), b = level(0.95), c = level(0.8): (a + c) / 2 when b and
// c differ by at most 29, else (b + c) / 2, at most 200.
UInt32 myAlignThresholdT1(UInt32 level20, UInt32 level80);
UInt32 myAlignThresholdT2(UInt32 level9999, UInt32 level95, UInt32 level80);
