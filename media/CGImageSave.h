// Writing a CoreGraphics image to a file through a QuickTime graphics
// exporter, as the image windows save their marked pictures. It sits with the
// still-image files rather than with the image-view helpers, so that the
// interface utilities link no codec.
#pragma once
#include "platform/coregraphics/CGImage.h"
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"

// Writes the image into the existing file through the graphics exporter of
// that subtype ('TIFF', 'PNGf', 'JPEG', 'BMPf', '8BPS', 'PICT'): 0, or the
// status of the first call that failed.
OSStatus mySaveCGImageRefToFileFSRef(FSRef fileRef, OSType exporterSubtype, CGImageRef image);
