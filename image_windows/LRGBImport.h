// The LRGB import: one to four picture files composed into one colour image
// and opened in a new image window. Mode 0 opens one colour picture as it is;
// modes 1 (luma + RGB), 2 (red, green, blue) and 3 (luma, red, green, blue)
// let the user line the layers up in "LRGBAlign", then turn, scale and shift
// every layer into a common canvas, cut all to the area every layer covers
// and merge them. Main thread only.
#pragma once
#include "platform/coreservices/MacTypes.h"

// 0 when the image window opened; -108 when memory ran out; -128 when the
// user cancelled a file dialog or the alignment window; -50 for a mode above
// 3 or layers that share no area; otherwise the error of the file dialog, the
// picture import or the window creation. Nothing is left open on failure.
OSStatus myImportLRGBLayers(UInt32 mode);

// Places a Mono16 layer (w x h, packed rows) at (xOffset, yOffset) of a zero
// canvas, clipped to the canvas; turns it by rotation degrees about its centre
// after scaling about the canvas's bottom-left corner, when the turn exceeds
// 0.01 degree or a scale differs from 1; then returns the canvas's rectangle
// [cropLeft, cropRight) x [cropTop, cropBottom) as a new plane in packed rows
// (from myAllocateImagePlane, 64 spare bytes), or null when memory or the warp
// fails or the rectangle, held inside the canvas, is empty.
UInt16* myCreateClippedRotatedScaledImageMono16Image(Float32 rotation, Float32 scaleX, Float32 scaleY,
                                                     const UInt16* layer, UInt32 width, UInt32 height,
                                                     SInt32 xOffset, SInt32 yOffset, UInt32 canvasWidth,
                                                     UInt32 canvasHeight, UInt32 cropLeft, UInt32 cropTop,
                                                     UInt32 cropRight, UInt32 cropBottom);
