// Colour averages of a raw colour mosaic, over the whole frame or a square
// spot, and the white-balance step that moves the camera's red and blue
// white-balance components towards the user's target colour.
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
#include "app/CameraWindowData.h"
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

// The camera's white-balance feature (named by its inquiry offset) and the
// selectors of its two halves.
constexpr UInt32 kMyWhiteBalanceFeature = 0x50C;
constexpr SInt32 kMyWhiteBalanceSelectorUB = 4;  // blue
constexpr SInt32 kMyWhiteBalanceSelectorVR = 5;  // red
// How far (8-bit scale) a measured average may lie from its target.
constexpr SInt32 kMyWhiteBalanceTolerance = 11;

// One step of the white-balance run, after the frame's averages are in
// mBalanceR/G/B: each component not yet done either comes within tolerance
// (its done flag is set, nothing is sent) or is sent a new value halfway
// between its current value and the far end of its search. Each measurement
// narrows the record's lower or upper bound of that component to the value
// it ruled out, and the far end is held inside the bounds, so a run over a
// camera whose colour rises with the value always settles. Returns 1 when
// both components are done, else 0. Values go to the camera through
// ORXDCAMSetPropertyValue (feature 0x50C, selector 5 for red, 4 for blue)
// on the calling thread. The camera's answer is not examined: a
// refused value leaves the colour as it was and the search goes on from the
// recorded values.
UInt32 myBalanceBayer_RB8Bit(MyCameraWindowDataStruct* record);
