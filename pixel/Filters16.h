// 16-bit neighbourhood filters on Luma16 planes: the three 3x3 noise filters
// and the seven-level Gaussian cascade that the sharpening subtracts from.
//
// Every filter reads source and writes a separate destination of the same
// geometry (rowBytes shared by both; the planes must not overlap). With border
// B (1 for the 3x3 filters and levels 1-2, 2 for levels 3-4, 3 for levels 5-6,
// 4 for level 7) the first and last B rows, and the first and last B samples of
// every other row, are copied unchanged; only the interior is filtered. A plane
// narrower or lower than 2B + 1 is copied unchanged: image windows open
// pictures of any size. Nothing is allocated or reported.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Noise filters. The 3x3 average compares with all 32 bits of threshold, the
// min-max average and the median with its low 16 bits.
// my3by3AverageLuma16: m = (sum of the 8 neighbours) >> 3, the centre left out;
// the destination is m when |centre - m| < threshold, else the centre.
void my3by3AverageLuma16(const UInt16* source, UInt16* destination, UInt32 width, UInt32 height,
                         UInt32 rowBytes, UInt32 threshold);
// Mean of the 9 samples (truncated) where max - min of the 3x3 block is below
// the threshold, else the centre: only flat areas are smoothed.
void my3by3MinMaxAverageLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                               UInt32 height, UInt32 rowBytes, UInt32 threshold);
// Median of the 9 samples where max - min of the block is below the threshold,
// else the centre.
void my3by3MedianLuma16(const UInt16* source, UInt16* destination, UInt32 width, UInt32 height,
                        UInt32 rowBytes, UInt32 threshold);

// Gaussian cascade, level 1 to 7; each level is made from the one before
// (level 1 from the luma plane). Weighted sum / sum of weights, truncated.
//   level 1  (0 1 0)(1 2 1)(0 1 0)                               / 6
//   level 2  (1 2 1) x (1 2 1)                                   / 16
//   level 3  5x5, weight 2^(3 - |dx| - |dy|), 0 where negative  / 48
//   level 4  (1 2 4 2 1) x (1 2 4 2 1)                           / 100
//   level 5  7x7, weight 2^(5 - |dx| - |dy|), 0 where negative  / 240
//   level 6  (1 2 4 8 4 2 1) x (1 2 4 8 4 2 1)                   / 484
//   level 7  (1 2 4 8 16 8 4 2 1) x (1 2 4 8 16 8 4 2 1)         / 2116
void myLocal2by2GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes);
void myLocal3by3GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes);
void myLocal4by4GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes);
void myLocal5by5GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes);
void myLocal6by6GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes);
void myLocal7by7GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes);
void myLocal9by9GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes);
