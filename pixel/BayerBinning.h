// Colour-preserving 2x2 binning of a raw colour mosaic, in place. Each sample
// becomes as bright as the sum L of the 2x2 block to its right and below (the
// block's luminance), shared out by its own colour's weight in the block:
//   v = 3 c L / (R + B + Gm),  Gm = (G1 + G2) >> 1,
// with c the block's red, blue or Gm for a red, blue or green position. The
// result is still a mosaic of the same size and pattern; a grey block of
// value v gives 4v, like plain 2x2 binning.
//
// 8-bit: L <= 3 gives 0, L >= 255 gives 255; otherwise v is taken in 16.16
// fixed point, v < 1.0 gives 0, v > 254.0 gives 255, else its integer part.
// 16-bit: L <= 3 gives 0, L >= 65535 gives 65535; otherwise v in double,
// above 65535.0 gives 65535, below 1.0 gives 0, else truncated.
// The last column's block repeats the last column pair; the last row becomes
// a copy of the row two above it (same phase). Frames narrower than 2 samples
// or lower than 3 rows are left as they are. family and startRowFlag as in
// BayerPlanes.h; rows are contiguous.
#pragma once
#include "platform/coreservices/MacTypes.h"

void myBinBufferLRGBtoBayer8FixedRGGB(UInt8* buffer, UInt32 width, UInt32 height,
                                      UInt32 startRowFlag);
void myBinBufferLRGBtoBayer8FixedBGGR(UInt8* buffer, UInt32 width, UInt32 height,
                                      UInt32 startRowFlag);
void myBinBufferLRGBtoBayer16FloatRGGB(UInt16* buffer, UInt32 width, UInt32 height,
                                       UInt32 startRowFlag);
void myBinBufferLRGBtoBayer16FloatBGGR(UInt16* buffer, UInt32 width, UInt32 height,
                                       UInt32 startRowFlag);
