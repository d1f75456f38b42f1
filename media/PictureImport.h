// Picture files into the system's two working forms: ARGB32 for display-side
// work and RGB48 for the 16-bit pipeline. 16-bit pictures keep their depth;
// 8-bit ones are widened by << 8. The caller frees the returned buffers.
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/quickdraw/QDOffscreen.h"

// channelSelector 1, 2, 3 keeps only red, green or blue and sets alpha;
// 0 only sets alpha. Null with *err set on failure.
Ptr myGetAnImageinARGB32Ptr(OSErr* err, FSRef fileRef, UInt32* width, UInt32* height, UInt32* rowBytes,
                            UInt8 alpha, UInt32 channelSelector);
OSErr ImportFileIntoRGB48Ptr(FSRef fileRef, UInt32* width, UInt32* height, UInt32* rowBytes, Ptr* buffer);
// Copies a 32-bit ARGB picture into a dense RGB48 buffer: R << 8, G << 8, B << 8.
void myARGB32GWToRGB48(GWorldPtr gw, UInt16* rgb48);
