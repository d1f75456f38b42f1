// Colour averages of a raw colour mosaic, over the whole frame or a square
// spot. The white-balance step that sends values to the camera from these
// averages is in pixel/live/WhiteBalanceStep.h.
//
// The averages are bytes on the 8-bit scale, also for 16-bit frames (the
// 16-bit mean divided by 257): red = round(sum of reds x 4 / N), green =
// round(sum of greens x 2 / N), blue = round(sum of blues x 4 / N), in single
// precision, ties to even, a result above 255 kept at 255. N is the number of
// samples measured (width x height, or the spot's samples inside the frame).
// The colour of each sample follows its absolute row and column (family and
// startRowFlag as in BayerPlanes.h), so a spot at an odd x sees the same
// colours as one at an even x. Rows are contiguous.
//
// They run on the delivery thread on every frame while white balance is on.
#pragma once
#include "platform/coreservices/MacTypes.h"

void myGetBayerRGGBAverages8Bit(const UInt8* buffer, UInt32 width, UInt32 height,
                                UInt32 startRowFlag, UInt8* outRed, UInt8* outGreen,
                                UInt8* outBlue);
void myGetBayerBGGRBAverages8Bit(const UInt8* buffer, UInt32 width, UInt32 height,
                                 UInt32 startRowFlag, UInt8* outRed, UInt8* outGreen,
                                 UInt8* outBlue);
void myGetBayerRGGBAverages16Bit(const UInt16* buffer, UInt32 width, UInt32 height,
                                 UInt32 startRowFlag, UInt8* outRed, UInt8* outGreen,
                                 UInt8* outBlue);
void myGetBayerBGGRBAverages16Bit(const UInt16* buffer, UInt32 width, UInt32 height,
                                  UInt32 startRowFlag, UInt8* outRed, UInt8* outGreen,
                                  UInt8* outBlue);

// The size x size square whose top-left sample is (x, y), clipped to the
// frame. A square wholly outside the frame (or of size 0) leaves the outputs
// as they are.
void myGetBayerRGGBSpotAverages8Bit(const UInt8* buffer, UInt32 width, UInt32 height, UInt32 x,
                                    UInt32 y, UInt32 size, UInt32 startRowFlag, UInt8* outRed,
                                    UInt8* outGreen, UInt8* outBlue);
void myGetBayerBGGRSpotAverages8Bit(const UInt8* buffer, UInt32 width, UInt32 height, UInt32 x,
                                    UInt32 y, UInt32 size, UInt32 startRowFlag, UInt8* outRed,
                                    UInt8* outGreen, UInt8* outBlue);
void myGetBayerRGGBSpotAverages16Bit(const UInt16* buffer, UInt32 width, UInt32 height,
                                     UInt32 x, UInt32 y, UInt32 size, UInt32 startRowFlag,
                                     UInt8* outRed, UInt8* outGreen, UInt8* outBlue);
void myGetBayerBGGRSpotAverages16Bit(const UInt16* buffer, UInt32 width, UInt32 height,
                                     UInt32 x, UInt32 y, UInt32 size, UInt32 startRowFlag,
                                     UInt8* outRed, UInt8* outGreen, UInt8* outBlue);
