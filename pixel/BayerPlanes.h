// Bayer mosaics: what a camera's BayerFormat code means, the display code the
// frame converter shows it with, full-size colour planes made in place, and
// grey images of the greens.
//
// Mosaic buffers hold one sample a pixel with rows directly after each other
// (row stride = width samples). The pixel routines come in two families, RGGB
// and BGGR, and take a startRowFlag that fixes the phase of row 0:
//   BayerFormat 1  RGGB, flag 1   row 0: R G   row 1: G B
//               2  RGGB, flag 0   row 0: G B   row 1: R G
//               3  BGGR, flag 1   row 0: G R   row 1: B G
//               4  BGGR, flag 0   row 0: B G   row 1: G R   (also any other code)
// All means are integer sums shifted right (two samples >> 1, four >> 2).
// Frames narrower than 4 samples or lower than 2 rows are left as they are.
#pragma once
#include "platform/coreservices/MacTypes.h"

enum MyBayerFamily : UInt8 { kMyBayerFamilyRGGB = 0, kMyBayerFamilyBGGR = 1 };

struct MyBayerRoutineChoice {
  MyBayerFamily family;
  UInt32 startRowFlag;
};

// The family and row flag the pixel routines take for a camera's BayerFormat.
MyBayerRoutineChoice myBayerRoutineChoiceFromBayerFormat(UInt32 bayerFormat);

// The camera pixel-format code that shows a raw Bayer frame at medium quality:
// 'bm..' in colour (colourFlag != 0), 'mm..' in grey, 'ARGB' for unknown codes.
// The letter pairs are the converter's own: keep them exactly as they are.
OSType myDisplayFormatFromBayerFormat(UInt8 colourFlag, UInt32 bayerFormat);

// One full-size colour plane, in place. Red and blue planes spread the own
// rows horizontally, fill the rows between them with vertical means and copy
// the one row the walk cannot reach from its neighbour.
void myRedBayer8ChannelRGGB(UInt8* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myRedBayer8ChannelBGGR(UInt8* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myGreenBayer8ChannelRGGB(UInt8* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myGreenBayer8ChannelBGGR(UInt8* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myBlueBayer8ChannelRGGB(UInt8* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myBlueBayer8ChannelBGGR(UInt8* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myRedBayer16ChannelRGGB(UInt16* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myRedBayer16ChannelBGGR(UInt16* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myGreenBayer16ChannelRGGB(UInt16* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myGreenBayer16ChannelBGGR(UInt16* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myBlueBayer16ChannelRGGB(UInt16* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);
void myBlueBayer16ChannelBGGR(UInt16* buffer, UInt32 width, UInt32 height, UInt32 startRowFlag);

// The greens of a mosaic as a grey image in a separate destination (row
// stride dstRowBytes); the source is left alone. The 16-to-8 forms keep each
// green's high byte and write a mean of two as (a + b) >> 9.
void myBayerRGGB8_Mono8(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                        UInt32 dstRowBytes, UInt32 startRowFlag);
void myBayerBGGR8_Mono8(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                        UInt32 dstRowBytes, UInt32 startRowFlag);
void myBayerRGGB16_Mono8(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height,
                         UInt32 dstRowBytes, UInt32 startRowFlag);
void myBayerBGGR16_Mono8(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height,
                         UInt32 dstRowBytes, UInt32 startRowFlag);
// Note the argument order: destination row bytes third.
void myBayerRGGB16_MONO16(const UInt16* src, UInt16* dst, UInt32 dstRowBytes, UInt32 width,
                          UInt32 height, UInt32 startRowFlag);
void myBayerBGGR16_MONO16(const UInt16* src, UInt16* dst, UInt32 dstRowBytes, UInt32 width,
                          UInt32 height, UInt32 startRowFlag);

// Mono16 to Mono8 by each sample's high byte.
void myMono16_Mono8(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height,
                    UInt32 dstRowBytes);
