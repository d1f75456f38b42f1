// Frame sums: frames are stacked by adding them into 32-bit sums and divided
// back by the frame count. Whole-frame sums feed the live averages and the
// master dark and flat; shifted sums add a frame displaced by a whole-pixel
// offset (aligned stacking and aligned capture) and are cut back out as a crop.
//
// Sum32Buff: one u32 sum a sample. RGB96: three u32 sums R, G, B a pixel.
// Sums wrap silently beyond 2^32 - 1.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Shifted adds: sums[y + dy][x + dx] += frame[y][x] wherever the shifted
// position lies inside the buffer (frame and sums share width and height).
// An offset of the frame's size or more adds nothing.
void myAdd8Buffto32BuffMono(const UInt8* frame, UInt32* sums, UInt32 width, UInt32 height,
                            SInt32 dx, SInt32 dy);
void myAdd16Buffto32BuffMono(const UInt16* frame, UInt32* sums, UInt32 width, UInt32 height,
                             SInt32 dx, SInt32 dy);
// ARGB32 frame (bytes A, R, G, B) into RGB96; alpha is dropped.
void myAdd8Buffto32BuffRGB(const UInt8* frame, UInt32* sums, UInt32 width, UInt32 height,
                           SInt32 dx, SInt32 dy);
// RGB48 frame into RGB96.
void myAdd16Buffto32BuffRGB(const UInt16* frame, UInt32* sums, UInt32 width, UInt32 height,
                            SInt32 dx, SInt32 dy);

// Crop the w x h rectangle at (x, y) out of an RGB96 buffer sumWidth pixels
// wide and scale it back to 16 bits: scale = 65535 / (frameCount x maximum),
// a sum at or above frameCount x maximum gives 65535. Rows of the result are
// packed. Nothing is written when frameCount is 0 or the rectangle runs past
// the sum buffer's width.
// RGB48 result, scaled values truncated.
void myDownSizeRGB96BuffertoRGB48Buffer(const UInt32* sums, UInt16* dst, UInt32 x, UInt32 y,
                                        UInt32 w, UInt32 h, UInt32 sumWidth, UInt32 frameCount,
                                        UInt32 maximum);
// Mono16 result from the R sums, scaled values rounded to nearest, ties to even.
void myDownSizeRGB96BuffertoMono16Buffer(const UInt32* sums, UInt16* dst, UInt32 x, UInt32 y,
                                         UInt32 w, UInt32 h, UInt32 sumWidth,
                                         UInt32 frameCount, UInt32 maximum);

// Whole-frame sums: sums[i] += frame[i] for every byte, or for every 16-bit
// sample (byteCount / 2 of them).
void myAdd8to32Buff(const UInt8* frame, UInt32* sums, UInt32 byteCount);
void myAdd16to32Buff(const UInt16* frame, UInt32* sums, UInt32 byteCount);

// Whole-frame division: each sample becomes (1.0 / frameCount) x sum,
// truncated. Mode 1 saturates (a quotient above 254.0 or 65534.0 gives 255 or
// 65535); any other mode keeps the low 8 or 16 bits. Every sample is written,
// including the last ones of a count that is not a multiple of 4. Result -1
// (nothing written) when frameCount is 0, else 0.
SInt32 my32to8FrameBuff8Bit(const UInt32* sums, UInt8* frame, UInt32 byteCount, UInt32 frameCount,
                            UInt32 mode);
SInt32 my32to16FrameBuff16Bit(const UInt32* sums, UInt16* frame, UInt32 byteCount,
                              UInt32 frameCount, UInt32 mode);
