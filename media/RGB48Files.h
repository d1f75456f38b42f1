// 16-bit images in memory (RGB48, or one 16-bit grey sample a pixel) written
// to still-image files through a graphics exporter of the caller's choice
// (usually 'TIFF', which gets PackBits compression).
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"

// is48Bit 1: RGB48 ('b48r', exported at depth 24); 0: 16-bit grey ('b16g', depth 40).
OSErr myRGB48ToFileFSSpec(FSSpec location, OSType exporterType, const void* buffer, UInt32 width, UInt32 height,
                          Boolean is48Bit);
OSErr myRGB48ToFileFSRef(FSRef ref, OSType exporterType, const void* buffer, UInt32 width, UInt32 height,
                         Boolean is48Bit);
// Buffers wider or taller than 32767 pixels are refused with paramErr (-50).
// Only the rectangle (right and bottom exclusive) of a buffer bufferWidth x
// bufferHeight; a rectangle not inside the buffer is refused with paramErr.
OSErr myRGB48CroppedToFileFSRef(FSRef ref, OSType exporterType, const void* buffer, UInt32 bufferWidth,
                                UInt32 bufferHeight, UInt32 left, UInt32 top, UInt32 right, UInt32 bottom,
                                Boolean is48Bit);
