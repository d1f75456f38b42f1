// Hot- and cold-pixel repair and same-size binning, all in place.
//
// A sample a "differs" from the centre c when |a - c| > threshold. Frames are
// scanned row by row from the top, left to right, so the samples above and to
// the left of a centre are already repaired when it is tested. The first and
// last rows and columns are never repaired.
//
// Callers keep one threshold in 8-bit units and pass it x 256 to the 16-bit
// routines. Frames too small for the neighbourhood (under 3 x 3 for the mono
// repair, 5 x 3 for the mosaic repair, 2 x 2 or 5 x 5 for binning) are left
// as they are.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Mono: c becomes the mean m = (sum of its 8 neighbours) >> 3 when m and all
// 8 neighbours differ from it.
void myDoMonoHotPixel8Bit(UInt8* buffer, UInt32 rowBytes, UInt32 height, UInt32 threshold);
void myDoMonoHotPixel16Bit(UInt16* buffer, UInt32 width, UInt32 height, UInt32 threshold);

// Mosaic: c becomes (L2 + R2) >> 1 of the same-colour samples two columns
// left and right when those two and all 8 neighbours differ from it. Columns
// 2 .. width - 3 only.
void myDoBayerHotPixel8Bit(UInt8* buffer, UInt32 rowBytes, UInt32 height, UInt32 threshold);
void myDoBayerHotPixel16Bit(UInt16* buffer, UInt32 width, UInt32 height, UInt32 threshold);

// RGB48: the mono rule on red over the whole image, then green, then blue;
// a sample's neighbours are the same channel of the adjacent pixels. rowBytes
// must be even and hold the width's 6-byte pixels.
void myDoRGB48HotPixel16Bit(UInt16* buffer, UInt32 width, UInt32 height, UInt32 rowBytes,
                            UInt32 threshold);

// 2x2: sample (y, x) becomes min(S, sum of the block (y..y+1, x..x+1)) from
// the values before binning, S = 255 or 65535; the last column takes the
// value at width - 2 and the last row becomes a copy of the row above.
void myBin2x2BufferMono8(UInt8* buffer, UInt32 rowBytes, UInt32 height);
void myBin2x2BufferMono16(UInt16* buffer, UInt32 width, UInt32 height);

// 4x4: (y, x) for y <= height - 5, x <= width - 5 becomes min(S, sum of the
// 4x4 block at (y, x)); the last 4 columns take the value at width - 5, and
// the last 4 rows become copies of row height - 5.
void myBin4x4BufferMono8(UInt8* buffer, UInt32 rowBytes, UInt32 height);
void myBin4x4BufferMono16(UInt16* buffer, UInt32 width, UInt32 height);
