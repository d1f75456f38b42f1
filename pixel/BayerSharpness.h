// Focus figure of a raw colour mosaic, computed on every live colour frame
// while the user focuses: the mean absolute difference between the local
// mean of four greens of one row and the green of the next row that lies
// among them. Fine detail raises the figure; the live pipeline only compares
// it with itself from frame to frame (it multiplies it by 1000.0 and keeps a
// running mean).
//
// Rows are contiguous (stride = width samples). With P = width / 2 - 2 terms
// in each of the rows 0 .. height - 3, the figure is the sum of the terms over
// D = (height - 2) x P; it is 0.0 when D is 0 (height 2, width 4 or 5), and
// for frames narrower than 4 or lower than 2 rows. The 16-bit forms give the
// figure on the 16-bit scale. family and startRowFlag as in BayerPlanes.h.
#pragma once
#include "platform/coreservices/MacTypes.h"

void myBayer8RGGBSharpnessEstimator(const UInt8* buffer, UInt32 width, UInt32 height,
                                    UInt32 startRowFlag, double* out);
void myBayer8BGGRSharpnessEstimator(const UInt8* buffer, UInt32 width, UInt32 height,
                                    UInt32 startRowFlag, double* out);
void myBayer16RGGBSharpnessEstimator(const UInt16* buffer, UInt32 width, UInt32 height,
                                     UInt32 startRowFlag, double* out);
void myBayer16BGGRSharpnessEstimator(const UInt16* buffer, UInt32 width, UInt32 height,
                                     UInt32 startRowFlag, double* out);
