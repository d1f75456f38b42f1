// Flat fielding: a master flat (an evenly lit frame) becomes one gain factor a
// pixel, factor = mean / pixel, and every later frame is multiplied by its
// factors in place. A mosaic takes the mean per colour, so the correction
// keeps the colour balance. Where the mean or the flat sample is 0 the factor
// is the neutral 1.0, so dead or unlit flat pixels leave the image alone.
//
// Factor buffers are the caller's, one 32-bit factor a pixel in frame order
// (the camera record allocates width x height x 4 + 16 bytes). A buffer is
// valid only for frames of the size and depth it was built for.
#pragma once
#include "platform/coreservices/MacTypes.h"

// 8-bit factors: signed 16.16 fixed point (65536 = 1.0). There is one format
// only; the builders' vectorFlag no longer chooses floats, so a factor buffer
// fits whichever application form runs, whatever the buffers' alignment.
typedef Fixed FlattenedFrame8Bit;
// 16-bit factors: floats.
typedef float FlattenedFrame16Bit;

// Builders. Mosaic builders take the routine family's startRowFlag (see
// BayerPlanes.h): 1 makes row 0 the row with the red samples.
void myCreateFlattenedFrameMono8Bit(const UInt8* flat, FlattenedFrame8Bit* factors, UInt32 width,
                                    UInt32 height, UInt8 vectorFlag);
void myCreateBayerFlattenedFrameRGGB8Bit(const UInt8* flat, FlattenedFrame8Bit* factors,
                                         UInt32 width, UInt32 height, UInt32 startRowFlag,
                                         UInt8 vectorFlag);
void myCreateBayerFlattenedFrameBGGR8Bit(const UInt8* flat, FlattenedFrame8Bit* factors,
                                         UInt32 width, UInt32 height, UInt32 startRowFlag,
                                         UInt8 vectorFlag);
// The movie flat calibration passes an RGB48 flat as a mono frame of
// 3 x width samples a row.
void myCreateFlattenedFrameMono16Bit(const UInt16* flat, FlattenedFrame16Bit* factors,
                                     UInt32 width, UInt32 height);
void myCreateBayerFlattenedFrameRGGB16Bit(const UInt16* flat, FlattenedFrame16Bit* factors,
                                          UInt32 width, UInt32 height, UInt32 startRowFlag);
void myCreateBayerFlattenedFrameBGGR16Bit(const UInt16* flat, FlattenedFrame16Bit* factors,
                                          UInt32 width, UInt32 height, UInt32 startRowFlag);

// Application, in place over count samples. 8-bit: r = p x f in 16.16; 255
// when r exceeds 254.0 by any fraction, else its integer part. 16-bit:
// v = f x p in single precision; 65535 when v > 65534.0, else trunc(v).
// With altivecFlag 1 and both buffers 16-byte aligned the vector form runs;
// both forms give the same result and process every sample.
void myFlattenFrame8Bit(UInt8* image, const FlattenedFrame8Bit* factors, UInt32 count,
                        UInt8 altivecFlag, UInt8 prefetchFlag);
void myAltivecFlattenFrame8Bit(UInt8* image, const FlattenedFrame8Bit* factors, UInt32 count,
                               UInt8 prefetchFlag);
void myFlattenFrame16Bit(UInt16* image, const FlattenedFrame16Bit* factors, UInt32 count,
                         UInt8 altivecFlag, UInt8 prefetchFlag);
void myAltivecFlattenFrame16Bit(UInt16* image, const FlattenedFrame16Bit* factors, UInt32 count,
                                UInt8 prefetchFlag);
