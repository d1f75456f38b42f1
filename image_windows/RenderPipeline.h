// The image window's render: the 16-bit image of a record through every
// processing setting into mRenderRGB48, in one fixed order: channel offsets,
// the sharpening sum over the seven detail planes, luminance stretch, noise
// reduction, recombination of the processed luminance with the colour, colour
// stretch, black and white points, colour balance and saturation.
//
// Runs on the thread that owns the record (the main thread for a window, the
// batch worker for its own record); it allocates nothing and reports nothing.
// With mAltivecFlag 1 the steps call their vector-named routines, which differ
// in rounding from the rules written here (recombination ratio (Ln+1)/(Lo+1),
// lo = hi levels giving v - lo, single-precision balance and saturation).
#pragma once
#include "image_windows/ImageWindowRecord.h"

void myRenderSettingsToRGB48(MyImageWindowDataStruct* record);

// The Gaussian cascade from mSourceLuma16: level 1 the 2x2 blur of the
// luminance, each next level the next blur of the level before.
void myBuildBlurCascade(MyImageWindowDataStruct* record);
// All seven detail planes from the luminance, the cascade and the settings.
void myBuildDetailLevels(MyImageWindowDataStruct* record);
