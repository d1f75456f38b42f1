// Frame alignment by block matching on Mono8 frames. On the reference frame
// the caller finds strong local contrast (findMaxMono8Gradient) and copies a
// square block around it (myExtract32BlockPixels); on each later frame the
// block slides over a search square around the expected position
// (myCompare32BlockPixels) to find the best mean-corrected match.
//
// The block side is S = 32 x blockSize, the search radius 64 x blockSize.
// Positions are frame pixels; the position reported is the block's centre.
// Buffers are the caller's; nothing is kept between calls.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Offset (dx, dy) from (x, y) of the strongest horizontal or vertical step
// over distance d: near the point (mode 1, +-64 pixels) or over the whole
// frame less 32-pixel margins (any other mode). 0, 0 when nothing is found.
void findMaxMono8Gradient(const UInt8* frame, UInt32 width, UInt32 height, UInt32 rowBytes,
                          SInt32 d, SInt32 mode, float x, float y, SInt32* dx, SInt32* dy);

// Copies the S x S square centred on (cx, cy) into the packed block (row
// stride S). Returns 0, -1 when the square leaves the frame, or -16 when its
// max - min is below minContrast (the block is written all the same).
SInt32 myExtract32BlockPixels(const UInt8* frame, UInt8* block, UInt32 width, UInt32 height,
                              UInt32 rowBytes, UInt32 blockSize, double minContrast, float cx,
                              float cy);

// Mean-corrected sum of absolute differences over every block origin within
// 64 x blockSize of (cx, cy). Returns the best score, -1 (search square leaves
// the frame, or best > S x S x maxMeanDifference) or -2 (an equally good
// match more than one pixel from the best). bestX/bestY get the matched
// block's centre, or (cx, cy) on -1.
SInt32 myCompare32BlockPixels(const UInt8* block, const UInt8* frame, UInt32 width, UInt32 height,
                              UInt32 rowBytes, UInt32 blockSize, SInt32 refMean, SInt32 frameMean,
                              float maxMeanDifference, float cx, float cy, float* bestX,
                              float* bestY);

// The vector-named twin: identical results (prefetching never changes them).
SInt32 myAltivecCompare32BlockPixels(const UInt8* block, const UInt8* frame, UInt32 width,
                                     UInt32 height, UInt32 rowBytes, UInt32 blockSize,
                                     SInt32 refMean, SInt32 frameMean, float maxMeanDifference,
                                     float cx, float cy, UInt8 prefetchFlag, float* bestX,
                                     float* bestY);

// The best origin of one mean-corrected block search: the lowest score
// sum |(f - frameMean) - (b - refMean)| over the side x side block at every
// origin of [xFirst, xLast) x [yFirst, yLast), the last origin of that score,
// and how many equal scores fell more than one pixel from the one before.
struct BlockScan {
  UInt32 best = 0;
  SInt64 x = 0, y = 0;
  UInt32 ties = 0;
};

// Scans the origins; false when the range is empty. The score wraps as an
// unsigned 32-bit sum. Scratch is kept per thread.
bool myScanBlockOrigins(const UInt8* block, const UInt8* frame, UInt32 rowBytes, UInt32 side,
                        SInt32 refMean, SInt32 frameMean, SInt64 xFirst, SInt64 xLast,
                        SInt64 yFirst, SInt64 yLast, BlockScan* scan);
