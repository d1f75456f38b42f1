// One channel of a colour frame for the measuring and aligning code, and
// RGB48 to ARGB32 for display.
//
// Channel codes (the stacking preference "COLORCHANNEL"): 1 luma, 2 red,
// 3 green, 4 blue; any other code writes nothing. Luma is the integer
// (306 R + 601 G + 117 B) >> 10 with a truncating shift; the 16-to-8 forms
// keep the high byte (luma >> 18, a channel >> 8). ARGB32 is the byte order
// A, R, G, B; RGB48 rows hold three host-order samples a pixel.
#pragma once
#include "platform/coreservices/MacTypes.h"

enum : UInt32 {
  kMyChannelLuma = 1,
  kMyChannelRed = 2,
  kMyChannelGreen = 3,
  kMyChannelBlue = 4,
};

// ARGB32 (srcRowBytes apart) to Mono8 (dstRowBytes apart).
void myARGBuffertoMonoRGB8Ptr(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                              UInt32 srcRowBytes, UInt32 dstRowBytes, UInt32 channel);
// RGB48 to Mono16, both with packed rows (6 x width and 2 x width bytes).
void myRGB48PtrToMonoRGB16(const UInt16* src, UInt16* dst, UInt32 width, UInt32 height,
                           UInt32 channel);
// RGB48 with packed rows to Mono8 (dstRowBytes apart).
void myRGB48PtrToMonoRGB8(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height,
                          UInt32 dstRowBytes, UInt32 channel);
// RGB48 to ARGB32, both packed: A = 255, each channel's high byte.
void myRGB48PtrToARGB32(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height);
