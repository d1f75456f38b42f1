// Measuring one star on a 16-bit monochrome frame: the star test, FWHM,
// half-flux diameter, aperture and sky sums on a 5 x 5 sub-pixel grid,
// signal-to-noise ratio and relative magnitude; and the three-star linear
// plate solution that turns pixel positions into RA or Dec.
//
// The routines keep no state and run on the caller's thread. Frames are
// addressed through a row stride in bytes. Positions are given as the clipped
// centroid reports them, and the background level is the one it writes.
#pragma once
#include "platform/coreservices/MacTypes.h"

// 1 when a star stands at (x, y): outside a 16-pixel margin (exclusive) on
// every side, the 3 x 3 peak's half maximum over the background is above
// 1.05 x background. Else 0.
UInt8 myIsStarAtCentroid(double x, double y, const UInt16* frame, UInt32 width, UInt32 height, UInt32 rowBytes,
                         UInt32 background);

// Twice the mean half-width of twelve profile walks (three rows each way,
// three columns each way) at the half maximum. 0 on success; -1 when there is
// no star or no walk ends. The half maximum is written as soon as it is known.
// A position whose 3 x 3 block is not inside the frame measures nothing.
OSErr myCalcFWHM16BitMono(double x, double y, const UInt16* frame, UInt32 width, UInt32 height, UInt32 rowBytes,
                          UInt32 background, double* fwhm, UInt32* halfMax);

// Half-flux diameter of the light above the background (its low 16 bits)
// inside radius R of the whole-pixel centre, and the brightest sample of that
// disc. 0.0 when nothing stands above the background. The caller keeps the
// disc inside the frame; rows and columns before the frame's first are skipped.
float myCalculateHFD16BitMono(double radius, const UInt16* frame, UInt32 cx, UInt32 cy, UInt32 rowBytes,
                              UInt32 background, UInt32* peak);

// The CCD equation with gain 1 and a digitisation term of 0.0841 a pixel.
// 0.0 when S <= 0 or when there is no sky pixel (nBg 0).
float myCalculateStarSNR(float starIntensity, UInt32 starPixels, float backgroundSum, UInt32 backgroundPixels);

// m0 - 2.512 log10(I / I0); m0 when I0 is 0.01 or less; -999.0 (no magnitude)
// when I is not positive.
float myCalculateMagnitude(double m0, double I0, double I);

// Light above the level inside a circle of radius r centred on pixel (cx, cy),
// each pixel cut into 5 x 5 sub-pixels worth 0.04 of it. Returns the sum and
// writes the pixel count (counted sub-pixels x 0.04, truncated); -1.0 when the
// circle reaches past an edge, -2.0 when no pixel near the star is at or above
// the level. alertFlag 1 posts the matching alert.
double myQUADPIXCaclRadiusIntensity16BitMono(float r, const UInt16* frame, UInt32 cx, UInt32 cy, UInt32 width,
                                             UInt32 height, UInt32 rowBytes, UInt32 level, UInt8 alertFlag,
                                             UInt32* pixelCount);

// The sky inside the same circle: raw samples at or below the threshold, the
// brighter pixels left out, so that sum / count is the mean sky level a pixel.
// -1.0 past an edge, -2.0 when no sky pixel is near.
double myQUADPIXCaclBackgroundRadiusIntensity16BitMono(float r, const UInt16* frame, UInt32 cx, UInt32 cy,
                                                       UInt32 width, UInt32 height, UInt32 rowBytes,
                                                       UInt32 threshold, UInt8 alertFlag, UInt32* pixelCount);

// Solves q = A x + B y + C through three stars (RA or Dec in arc seconds) and
// writes the squared-error sum of regressing q on the prediction. A near-zero
// divisor sets the coefficient that needs it to 0. x[0] must not be 0.
void mySolveLineEquations(const float x[3], const float y[3], const float q[3], float* A, float* B, float* C,
                          float* residual);

// Carries right ascensions across 0h: when they spread over more than half a
// turn, a full turn is added to every value below half a turn.
void myAdjustRAArcSeconds(float* ra, UInt32 count);
