// Helpers of the windows that show images: sizing a window so that its image
// view shows as much of the image as the screen allows, and the three-times
// magnifier blit behind every enlarged view. Writing a CoreGraphics image to a
// file is media/CGImageSave.h's.
#pragma once
#include "platform/coregraphics/CGImage.h"
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"

// Finds the view (signature, id) in the window and, when the image does not
// fit it, computes a window size and place on the main screen's available
// bounds: 1 with the outputs set (the caller moves and sizes the window), 0
// with the outputs untouched when the image already fits, the window,
// screen, view or outputs are missing, or the window has no content area to
// scale from.
// The window keeps 48 pixels of the screen's height free and sits 24 below
// its top, centred across.
SInt32 myCalcOptimumWindowSizeforHIView(WindowRef window, OSType signature, SInt32 id, UInt32 imageWidth,
                                        UInt32 imageHeight, UInt32* windowWidth, UInt32* windowHeight,
                                        UInt32* left, UInt32* top);

// Fills the ARGB32 destination (width x height pixels) with the source area
// of width / 3 x height / 3 pixels around (centreX, centreY), kept inside the
// image, each source pixel becoming a 3 x 3 block interpolated towards its
// right, lower and diagonal neighbours; every pixel written is opaque.
// bitsPerPixel: 16 (Mono16, shown as grey), 32 (ARGB32) or 48 (RGB48); 16-bit
// samples show their high byte. Another depth, a null buffer or row bytes
// shorter than a row leave the destination untouched. When the destination
// asks for more than the image holds, the source area starts at the image's
// edge and the part of the destination that no source pixel covers is
// cleared (all bytes 0).
void myExtractARGB32BlockFromImageAndScale3X(const void* source, SInt32 bitsPerPixel, UInt32 sourceWidth,
                                             UInt32 sourceHeight, UInt32 sourceRowBytes, SInt32 centreX,
                                             SInt32 centreY, void* destination, UInt32 destinationWidth,
                                             UInt32 destinationHeight, UInt32 destinationRowBytes);
