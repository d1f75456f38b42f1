// The demosaic engine: raw Bayer mosaics (8 or 16 bits a sample, packed rows
// of width samples) to colour ARGB32 / RGB48 or grey ARGB32 / Mono16.
//
// Qualities: LQ (a sliding 2x2 cell), MQ (bilinear), HQ (variable number of
// gradients on a 5x5 neighbourhood) and MONO (the MQ colours reduced to luma
// (306 R + 601 G + 117 B) >> 10). Each kernel comes in two families, RGGB
// (rows R G R G / G B G B) and GRBG (rows G R G R / B G B G); startRowFlag 1
// says row 0 is the family's red row, 0 that it is the blue row, so
//   RGGB = RGGB family, 1    GBRG = RGGB family, 0
//   GRBG = GRBG family, 1    BGGR = GRBG family, 0.
//
// Every kernel takes (source, destination, dstRowBytes, width, height,
// startRowFlag), writes width pixels of each of height rows, and reads and
// writes nothing outside the frame whatever its size: small and odd frames
// (fewer than 4 rows or columns, odd sizes) clamp neighbour indices into the
// frame, and a width or height of 0 writes nothing. 16-bit samples are in
// host order and may sit at any address.
//
// HQ border rule: a neighbour outside the frame is the sample mirrored about
// the border sample (index -1 reads 1, -2 reads 2, n reads n - 2, n + 1 reads
// n - 3), then clamped into the frame for frames too small to mirror. The
// alignment workers and the raw Bayer decompressor follow the same rule.
#pragma once
#include "platform/coreservices/MacTypes.h"

typedef void (*BayerDemosaicKernel)(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width,
                                    UInt32 height, UInt8 startRowFlag);

// Low quality: R and B from the cell of rows y, y + 1 and columns x - 1, x
// (column 0 uses columns 0 and 1), G the mean of the cell's two greens; the
// last row repeats the row above it.
void BayerRGGB8_LQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG8_LQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerRGGB16_LQ_RGB48(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG16_LQ_RGB48(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);

// Medium quality (bilinear) with its own rules for row 0, the edge columns
// and the last row.
void BayerRGGB8_MQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG8_MQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerRGGB16_MQ_RGB48(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG16_MQ_RGB48(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);

// High quality; results clamp to 255 (8-bit) or 65535 (16-bit). The slow path.
void BayerRGGB8_HQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG8_HQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerRGGB16_HQ_RGB48(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG16_HQ_RGB48(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);

// Grey. The 16-bit kernels to ARGB32 work on the high byte of every sample,
// exactly as the 8-bit kernel of their family on a frame of those bytes.
void BayerRGGB8_MONO_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG8_MONO_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerRGGB16_MONO_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG16_MONO_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerRGGB16_MONO16(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG16_MONO16(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);

// 16-bit mosaics shown at 8 bits: the LQ and MQ rules on the high byte of
// every sample, equal to the 8-bit kernels run on a frame of those bytes.
// The live display of 16-bit raw Bayer frames uses these.
void BayerRGGB16_LQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG16_LQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerRGGB16_MQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);
void BayerGRBG16_MQ_ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 startRowFlag);

// The 5x5 neighbourhood of pixel (x, y), values numbered 1 to 25 row by row
// (stored at index 0 to 24; 13 is the pixel itself), 8-bit samples widened
// unchanged, border neighbours mirrored as above. Returns 0, or -1 without
// writing when (x, y) lies outside the frame.
SInt32 myEX8PixArrs(const void* src, UInt32 width, UInt32 height, UInt32 x, UInt32 y, UInt16* pixArr);
SInt32 myEX16PixArrs(const void* src, UInt32 width, UInt32 height, UInt32 x, UInt32 y, UInt16* pixArr);

// One HQ output pixel from a neighbourhood: isGreenSite says the centre is a
// green sample, isRedRow that its row holds the red samples; results clamp to
// 0 .. maxValue. Returns 0.
OSStatus myGRDPixArrs(const UInt16* pixArr, UInt8 isGreenSite, UInt8 isRedRow, UInt32 maxValue,
                      UInt16* red, UInt16* green, UInt16* blue);
