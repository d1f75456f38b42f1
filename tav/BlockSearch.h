// Where the alignment blocks go and the clamped block search the workers fall
// back on. A block is a packed S x S Mono8 square, S = 32 x blockSize; a block
// position is its centre (top-left corner + S/2). Caller-owned buffers.
#pragma once
#include "platform/coreservices/MacTypes.h"

// The strongest horizontal and vertical brightness steps over d pixels. The
// rows (horizontal search) or columns (vertical search) scanned are those of
// a window of +-64 pixels around the rounded centre (local 1) or the frame
// less 32-pixel margins; along a row the pairs (x, x + d) run from x = 32 over
// width - d - 64 pairs whatever the window. The first maximum of a row wins,
// then the first row holding the largest one. Offsets are from the rounded
// centre to the pair's middle (x + d/2); (0, 0) when no pair differs or the
// window is no taller (wider) than d.
void findMaxHorzVertMono8Gradient(const UInt8* image, UInt32 width, UInt32 height,
                                  UInt32 rowBytes, float centreX, float centreY, UInt8 local,
                                  SInt32 d, SInt32* horzDX, SInt32* horzDY, SInt32* vertDX,
                                  SInt32* vertDY);

// Every top-left position of the frame (X at most 0 or at least the width) or
// those within 4 S of (X, Y) clamped into the frame, rows outer; the score is
// the unsigned 32-bit sum of |f - b| (equal means) or |(f - frameMean) - (b -
// refMean)|. An equal score moves the best position and counts a tie when it
// is more than one pixel away. Accepted when the best score is at most
// S x S x tolerance: X, Y := the block centre and the result is the score,
// or -2 when ties were counted. Otherwise -1 and X, Y unchanged; a frame
// narrower or lower than the block has no position and gives -1.
SInt32 myCompare32BlockPixelsALL(const UInt8* block, const UInt8* image, UInt32 width,
                                 UInt32 height, UInt32 rowBytes, UInt32 blockSize, SInt32 refMean,
                                 SInt32 frameMean, double tolerance, float* X, float* Y);
// The vector-named twin: the plain search's results; prefetchFlag is ignored.
SInt32 myAltivecCompare32BlockPixelsALL(const UInt8* block, const UInt8* image, UInt32 width,
                                        UInt32 height, UInt32 rowBytes, UInt32 blockSize,
                                        SInt32 refMean, SInt32 frameMean, double tolerance,
                                        float* X, float* Y, UInt8 prefetchFlag);
