// Raw Bayer frames of the align workers to colour: 8-bit samples (depth 1) to
// ARGB32 with alpha 255, 16-bit host-order samples (any other depth) to RGB48.
// The source holds width x height samples in packed rows; the destination
// rows are dstRowBytes apart.
//
// 'RGGB' and 'GBRG' (R G / G B rows) are one family, every other code (G R /
// B G rows) the other; row 0 holds the reds for 'RGGB' and 'GRBG', the blues
// for 'GBRG', 'BGGR' and any unknown code. Each pixel's colour site comes
// from the code, exactly as the demosaic engine places it.
//
// Quality 0 is bilinear with truncating means: row 0 takes row 1 for both of
// its neighbour rows; the edge columns average the neighbours that exist;
// the last row uses itself and the row above only (at a red or blue sample
// the opposite colour is the sample above right, above left in the last
// column, and green the mean of the samples above and beside). Any other
// quality runs the engine's 5 x 5 gradient demosaic on every pixel.
#pragma once
#include "platform/coreservices/MacTypes.h"

void Bayer_DecodetoRGB_8or16Buffer(const void* src, void* dst, UInt32 bayerCode, UInt32 depth,
                                   UInt8 quality, UInt32 dstRowBytes, UInt32 width,
                                   UInt32 height);
