// One camera frame saved as a still image (a grab, completed on the main
// thread by the display timer).
//
// Save kinds: 'JPEG', 'PICT', 'BMPf', '8BPS' always go through a 32-bit
// picture filled by ORXDCAMConvertRawFrameToARGB32 and exported at depth 32.
// 'PNGf' and 'TIFF' keep the full depth of wide frames: a 16- or 48-bit
// 'raw ' frame of the camera as a 16-bit grey or 48-bit RGB picture, a raw
// Bayer frame (12-bit frames unpacked to the 16-bit scale first) demosaiced
// by the 16-bit kernels; narrower frames take the 32-bit picture at depth 40
// (8-bit grey) or 24. 'FITS' writes a 'raw ' 8- or 16-bit frame as it is and
// anything else as 8-bit luma (306 R + 601 G + 117 B) >> 10.
// Any other kind returns -50 and creates no file.
//
// Statuses of the File Manager, the exporters and the conversion come back
// unchanged; -108 when a temporary buffer or picture cannot be had (every
// temporary is released on every path). A failing export may leave a partly
// written file, as the exporter leaves it.
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/quickdraw/QDOffscreen.h"

struct MyDCAMCameraStruct;

// pixelFormat 'ARGB': the frame has the camera's current pixel-format code,
// and counts as wide only as a 16- or 48-bit 'raw ' frame. Any other value
// is the frame's code, and the frame is wide above 8 bits a pixel. A null
// camera returns 0xE00002C0, a null frame -50.
OSStatus ORXDCAMSaveRAWFrametoDisk(MyDCAMCameraStruct* camera, const void* frame, UInt32 width, UInt32 height,
                                   UInt32 bitsPerPixel, FSSpec location, OSType saveKind, UInt32 pixelFormat);

// Exports a 32-bit picture through the default exporter of the type at the
// given depth, compression quality 512 for 'JPEG' and 'PNGf', 1024 otherwise.
// The first failing status of opening, input, output or export is returned.
OSStatus myGWTo8bppFile(FSSpec location, OSType exporterType, GWorldPtr picture, SInt32 depth);

// Exports packed 16-bit samples: RGB48 ('b48r', depth 24) when is48Bit, else
// 16-bit grey ('b16g', depth 40); quality 1024. Nothing is copied.
OSStatus myBufferTo16bppFile(FSSpec location, OSType exporterType, const void* samples, UInt32 width, UInt32 height,
                             Boolean is48Bit);

// Demosaics a 16-bit raw Bayer frame of a 'b'/'m' code (RGB48 for colour,
// 16-bit grey for 'm') and exports it with myBufferTo16bppFile. -50 for any
// other code, with nothing written.
OSStatus myBayerBufferTo16bppFile(UInt32 pixelFormat, const UInt16* samples, UInt32 width, UInt32 height,
                                  FSSpec location, OSType exporterType);
