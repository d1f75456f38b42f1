// Drawing the live preview window.
#pragma once

#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/ImageCompression.h"  // RGBColor

// Fills the 256-entry colourize table: entry i turns grey level i into an
// opaque pixel tinted by the colour, each channel trunc(component / 65535 * i)
// capped at 255. Each entry's four bytes in memory are A, R, G, B, so copying
// an entry writes one ARGB32 pixel.
void myFillInCourizedARGB32Table(UInt32* table, RGBColor colour);
