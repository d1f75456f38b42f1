// Camera frames, exactly as the driver delivers them, to display and working
// pixels.
//
// ORXDCAMConvertRawFrameToARGB32 accepts these camera pixel-format codes
// (anything else, or a depth a code does not take, returns -50 and writes
// nothing):
//   'raw '  8, 12 (grey), 16 (Mono16), 24 (RGB24), 32 (four-byte pixels,
//           copied as they are), 48 (RGB48)
//   '2vuy' 16, 'v308' 24, 'Y411' 12
//   'bl..', 'bm..', 'bh..'  raw Bayer in colour: 16 or 12 bits, any other
//           depth is read as 8 bits
//   'ml..', 'mm..', 'mH..'  raw Bayer as grey: 8 or 12 bits, any other depth
//           is read as 16 bits
// where '..' is 'RG', 'GR', 'GB' or 'BG'. In a grey code the pair is the
// first two colours of row 0; in a colour code 'BG' decodes as GBRG and 'GB'
// as BGGR (the codes the application builds from a BayerFormat follow this).
//
// ORXDCAMConvertRaw16FrameToRGB48 takes only the twelve colour codes at 12 or
// 16 bits and demosaics them at full precision.
//
// 12-bit packed frames: every 3 bytes b0 b1 b2 carry p0 = b0 x 16 + (b1 & 15)
// and p1 = b2 x 16 + (b1 >> 4), rows unpadded. Display keeps the top 8 bits,
// RGB48 widens to p << 4 (full scale 65520). With an odd pixel count the
// frame's last byte is the top 8 bits of the last sample, and that is all the
// last pixel gets (its low bits read as 0).
//
// Frames are unpacked into a scratch buffer of the calling thread, so the
// delivery thread and a grab on the main thread may convert 12-bit frames of
// one camera at the same time. The buffer grows to the largest frame a thread
// has converted and is released when the thread ends. -108 when it cannot be
// had (nothing written; the next call tries again).
//
// Both return 0, -50 (null handle, source or destination; unknown code or
// depth; a frame of more than 4 GB) or -108.
#pragma once
#include "platform/coreservices/MacTypes.h"

struct MyDCAMCameraStruct;

OSStatus ORXDCAMConvertRawFrameToARGB32(MyDCAMCameraStruct* camera, const void* src, UInt32 width,
                                        UInt32 height, UInt32 pixelFormat, UInt32 bitsPerPixel,
                                        void* dst, UInt32 dstRowBytes);
OSStatus ORXDCAMConvertRaw16FrameToRGB48(MyDCAMCameraStruct* camera, const void* src, UInt32 width,
                                         UInt32 height, UInt32 pixelFormat, UInt32 bitsPerPixel,
                                         void* dst, UInt32 dstRowBytes);

// 12-bit packed pairs to 16-bit samples p << 4, for (width x height) samples;
// with an odd count the last sample is its top 8 bits << 8. The buffer must
// hold width x height samples. Single-frame saving shares it.
void myUnpack12BitTo16(const void* src, UInt16* dst, UInt32 width, UInt32 height);
