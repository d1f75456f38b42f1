// Whole-frame operations of the live pipeline: byte sums, lookup tables and
// the gamma tables, inversion, flips that keep a mosaic's colour phase, and
// the mean brightness in percent. Buffers are the caller's; nothing here
// allocates or keeps state.
//
// 8-bit routines take a row-byte count, 16-bit ones a width in samples with
// rows packed at 2 x width bytes. Samples are host order.
//
// Gamma tables and threads: the camera controls handler rebuilds the table on
// the main thread while the delivery thread applies it to every frame. The
// record owns three tables of one size, or none: the one published
// (mGammaLUT) and two spares (mGammaLUTSpare). The pipeline takes the table
// once a frame with myGammaTableForFrame, which also records it in
// mGammaLUTTaken, and uses that pointer for the whole frame. A new table is
// built into a spare that the pipeline has not taken and then published, so
// however often the user changes gamma during one frame, that frame's table
// is never written. No table may be freed while the camera streams.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/coreservices/MacTypes.h"

typedef UInt8 LUT8Bit;    // tables of 256 entries
typedef UInt16 LUT16Bit;  // tables of 65536 entries

// Sum of the bytes of floor(rowBytes x height / 4) whole 32-bit words, modulo
// 2^32; the last (rowBytes x height) mod 4 bytes are not counted.
UInt32 myCalculatePixelSum8Bit(const void* buffer, UInt32 rowBytes, UInt32 height);

// Every element of the count replaced by its table entry, in place.
void myApply8BitLUT(UInt8* buffer, const LUT8Bit* lut, UInt32 count);
void myApply16BitLUT(UInt16* buffer, const LUT16Bit* lut, UInt32 sampleCount);

// Test-only pause point, called halfway through every table pass (null in the
// product): a test holds a frame inside its pass there.
extern void (*volatile gMyTestLUTPassPausePoint)();

// Gamma tables: entry i = trunc(F x ((i + 1) / F)^gamma + 0.5), at most F
// (F = 255 or 65535). Gamma 1.0, gamma <= 0 or a record without its three
// tables store the value, turn gamma off and leave the tables alone. Gamma above 5.11 (or
// not a number) returns -50 and changes nothing. Otherwise the new table is
// published and gamma turned on; result 0. Main thread only.
OSStatus myCalculateGamma8Bit(MyCameraWindowDataStruct* record, double gamma);
OSStatus myCalculateGamma16Bit(MyCameraWindowDataStruct* record, double gamma);

// The gamma table to apply to the frame about to be processed, or null when
// gamma is off; the table stays the frame's until the next call. Delivery
// thread only, once a frame.
const void* myGammaTableForFrame(MyCameraWindowDataStruct* record);

// v becomes 255 - v (65535 - v), in place. The plain entry points run the
// vector form when altivecFlag is 1 and the buffer is 16-byte aligned; both
// forms give the same frame. prefetchFlag never changes a result.
void myInvertPixels8Bit(UInt8* buffer, UInt32 count, UInt8 altivecFlag, UInt8 prefetchFlag);
void myAltivecInvertPixels8Bit(UInt8* buffer, UInt32 count, UInt8 prefetchFlag);
void myInvertPixels16Bit(UInt16* buffer, UInt32 sampleCount, UInt8 altivecFlag,
                         UInt8 prefetchFlag);
void myAltivecInvertPixels16Bit(UInt16* buffer, UInt32 sampleCount, UInt8 prefetchFlag);

// Upside down in place through the caller's scratch row. With bayerFlag 1 the
// first height - 1 rows are mirrored among themselves, so every row moves by
// an even number of rows and the mosaic keeps its colour phase, and the last
// row becomes a copy of row height - 3 (frames of at least 3 rows).
void myFlipVerticalImage8Bit(UInt8* buffer, void* scratchRow, UInt32 rowBytes, UInt32 height,
                             UInt8 bayerFlag);
void myFlipVerticalImage16Bit(UInt16* buffer, void* scratchRow, UInt32 width, UInt32 height,
                              UInt8 bayerFlag);

// Every row mirrored in place, whatever its width. With bayerFlag 1 the first
// N - 1 elements are mirrored and the last one becomes a copy of element
// N - 3 (rows of at least 3 elements).
void myFlipHorizontalImage8Bit(UInt8* buffer, UInt32 rowBytes, UInt32 height, UInt8 bayerFlag);
void myFlipHorizontalImage16Bit(UInt16* buffer, UInt32 width, UInt32 height, UInt8 bayerFlag);

// Mean brightness in percent of full scale, over the first W' samples of each
// row, W' = row length rounded down to a multiple of 4. 0 for an empty frame.
void myGet8BitPercentage(const UInt8* buffer, UInt32 rowBytes, UInt32 height, float* out);
void myGet16BitPercentage(const UInt16* buffer, UInt32 width, UInt32 height, float* out);
