// The demosaic engine of the ORX_BAYER component: raw Bayer mosaics to the
// pixels of the destination QuickTime chose.
//
// Source: width x height samples in rows of width samples, one byte each
// (bytesPerSample 1) or two bytes big-endian (any other value). Destination:
// rows rowBytes apart, width pixels written in each. 8-bit input is always
// written as 32-bit ARGB; from 16-bit input the depth (rowBytes / width) x 8
// selects 32-bit ARGB (the high byte of every sample), 'b48r' (R G B) or
// 'b64a' (A = 65535, R G B), 16-bit values big-endian; any other depth draws
// nothing.
//
// Methods: 0 a sliding 2x2 cell (drawn bilinear at depth 64), 1 bilinear,
// 2 the threshold variable number of gradients on a 5x5 window, 255 the raw
// mosaic bytes (width bytes from offset y x width into row y); any other
// method draws nothing. Every method writes exactly width pixels of each of
// height rows and reads and writes nothing outside the buffers, whatever the
// frame size.
//
// Patterns: 'RGGB' and 'GBRG' form one family (red at even columns), 'GRBG',
// 'BGGR' and every other code the other (red at odd columns); 'RGGB' and
// 'GRBG' start with the row that holds the reds.
#pragma once
#include "platform/coreservices/MacTypes.h"

constexpr UInt32 kBayerMethodCells = 0;
constexpr UInt32 kBayerMethodBilinear = 1;
constexpr UInt32 kBayerMethodGradients = 2;
constexpr UInt32 kBayerMethodRawCopy = 255;

extern "C" UInt32 Bayer_DecodetoPixMap(const void* src, void* dst, UInt32 pattern, SInt32 bytesPerSample,
                                       UInt32 method, UInt32 rowBytes, UInt32 width, UInt32 height);

// The 5x5 window centred on (x, y), values numbered 1 to 25 row by row (index
// 0 to 24), positions outside the frame mirrored about the edge sample (then
// clamped for frames under 3 samples across). The 16-bit form reads host-order
// samples. Returns -1 without writing when (x, y) lies outside the frame.
SInt32 myFillBayerWindow8(const void* samples, UInt32 width, UInt32 height, UInt32 x, UInt32 y, UInt16* window);
SInt32 myFillBayerWindow16(const void* samples, UInt32 width, UInt32 height, UInt32 x, UInt32 y, UInt16* window);

// One method-2 pixel from a window: isGreenSite says the centre is green,
// isRedRow that the centre's own colour (at a green centre: its row colour)
// is red; results clamp to 0 .. maxValue.
void myWindowToPixels(const UInt16* window, UInt8 isGreenSite, UInt8 isRedRow, UInt32 maxValue, UInt16* red,
                      UInt16* green, UInt16* blue);
