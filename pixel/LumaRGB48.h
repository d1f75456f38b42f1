// Conversions around the luma-only processing of the image windows: an RGB48
// image is split into a Luma16 plane (for the noise filters, the cascade and
// the sharpening) and an LRGB64 copy that remembers each pixel's luma; the new
// luma goes back into the colour by a luma-chrominance re-merge or by scaling
// each pixel with the ratio of new to old luma. Rows are packed: RGB48 rows of
// 6 x width bytes, LRGB64 of 8 x width (L, R, G, B a pixel), Luma16 of 2 x width.
#pragma once
#include <cstddef>

#include "platform/coreservices/MacTypes.h"
#include "platform/vimage/vImage.h"

// L = 0.299 R + 0.587 G + 0.114 B in double precision, rounded to the nearest
// integer, ties to even.
void myRGB48PtrtoLumaPtr(const UInt16* rgb48, UInt16* luma16, UInt32 width, UInt32 height);
// The same luma into luma16, and (L, R, G, B) into lrgb64.
void myRGB48ToLRGB64AndLuma16(const UInt16* rgb48, UInt16* lrgb64, UInt16* luma16, UInt32 width,
                              UInt32 height);

// Luma-chrominance re-merge of a new luma L into the colour R, G, B:
//   Y = 0.299 R + 0.587 G + 0.114 B, dR = R - Y, dB = B - Y (exact, not rounded)
//   R' = L + 1.000339 dR, B' = L + 1.00005 dB, G' = L - 0.509082 dR - 0.19436 dB
// each above 65534.0 gives 65535, below 1.0 gives 0, else truncated; the LRGB64
// pixel is (L, R', G', B'). A grey pixel re-merged with its own luma is unchanged.
void myLuma16AndRGB48ToMergedLRGB64(const UInt16* luma16, const UInt16* rgb48, UInt16* lrgb64,
                                    UInt32 width, UInt32 height);

// Ratio re-merge: with the new luma Ln and the LRGB64 pixel (Lo, R, G, B),
// ratio = (Ln + 1) / (Lo + 1) in single precision and each of R, G, B becomes
// trunc(C x ratio) clamped to 0 .. 65535, written as RGB48. Needs no alignment.
void myAltivecLRGB64ToRGB48Adjusted(const UInt16* luma16, const UInt16* lrgb64, UInt16* rgb48,
                                    UInt32 width, UInt32 height);

// Fills out with a PlanarF plane of width x height floats made from a Mono16
// source (rows packed at 2 x width bytes), for the affine warp of layer
// alignment. Row bytes are 4 x width rounded up to a multiple of 16, plus 16 as
// long as that is a power of two (power-of-two strides are avoided). The plane
// is page aligned and belongs to the caller (free() releases it); the padding
// at each row's end is left as allocated. A null source leaves the plane
// unfilled. Returns 0, or -108 (memFullErr) with out->data null when the plane
// cannot be allocated.
SInt32 myFillInVImageFloatFromMono16Src(vImage_Buffer* out, UInt32 width, UInt32 height,
                                        const UInt16* mono16);

// Test hook: the allocator of the float planes (bytes -> page-aligned block that
// free() releases, or null). Null restores the default; returns the previous one.
typedef void* (*MyPlaneAllocator)(size_t bytes);
MyPlaneAllocator mySetFloatPlaneAllocator(MyPlaneAllocator allocator);
