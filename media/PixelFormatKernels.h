// Camera pixel layouts to ARGB32 (bytes A, R, G, B in memory, alpha 0xFF),
// and the small-block copy the frame converters, demosaic kernels, recorder
// and FITS writer share.
//
// Source frames are packed rows with no padding; destination rows are
// dstRowBytes apart. Every kernel converts rows = pixels / width whole rows
// (pixels from the byte count as each layout says) and never touches the
// destination past width pixels of a row, nor past the last row. A width of
// 0 writes nothing.
//
// The plain forms take (source, destination, byte count, width, dstRowBytes,
// altivecFlag, PowerPC 970 flag) and hand a buffer that meets the vector
// conditions to the ALTIVEC_*_ALIGNED form with the prefetch switch set to
// 1 - the 970 flag. On this platform the vector-named forms compute the plain
// rule (the reference); the prefetch switch never changes a result.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Copies count bytes; the areas must not overlap. Counts of 64 or less are
// copied inline.
void myLocalMWMemCpy(void* dst, const void* src, UInt32 count);

// Plain forms. Pixels in the frame: Mono8 n, Mono16 n/2, RGB24 n/3, RGB48
// n/6, YUV 4:4:4 n/3, YUV 4:2:2 n/2, YUV 4:1:1 2n/3. The 4:2:2 and 4:1:1
// forms convert whole groups of 2 and 4 pixels and leave the last width mod
// 2 (mod 4) pixels of a row untouched; the next row still starts where the
// source row ends (2 x width, 3 x width / 2 bytes on).
void Mono8ToARGB32(const void* src, void* dst, UInt32 byteCount, UInt32 width,
                   UInt32 dstRowBytes, UInt8 altivecFlag, UInt8 isG5);
void Mono16ToARGB32(const void* src, void* dst, UInt32 byteCount, UInt32 width,
                    UInt32 dstRowBytes, UInt8 altivecFlag, UInt8 isG5);
void RGB24ToARGB32(const void* src, void* dst, UInt32 byteCount, UInt32 width,
                   UInt32 dstRowBytes, UInt8 altivecFlag, UInt8 isG5);
void RGB48ToARGB32(const void* src, void* dst, UInt32 byteCount, UInt32 width,
                   UInt32 dstRowBytes, UInt8 altivecFlag, UInt8 isG5);
void YUV444ToARGB32(const void* src, void* dst, UInt32 byteCount, UInt32 width,
                    UInt32 dstRowBytes, UInt8 altivecFlag, UInt8 isG5);
void YUV422ToARGB32(const void* src, void* dst, UInt32 byteCount, UInt32 width,
                    UInt32 dstRowBytes, UInt8 altivecFlag, UInt8 isG5);
void YUV411ToARGB32(const void* src, void* dst, UInt32 byteCount, UInt32 width,
                    UInt32 dstRowBytes, UInt8 altivecFlag, UInt8 isG5);

// Vector-named forms: (source, destination, source row bytes, rows,
// dstRowBytes, prefetch switch). The width follows from the source row bytes
// (Mono8 w, Mono16 2w, RGB24 and 4:4:4 3w, RGB48 6w, 4:2:2 2w, 4:1:1 3w/2).
void ALTIVEC_Mono8ToARGB32_ALIGNED(const void* src, void* dst, UInt32 srcRowBytes,
                                   UInt32 rows, UInt32 dstRowBytes, UInt8 prefetch);
void ALTIVEC_Mono16ToARGB32_ALIGNED(const void* src, void* dst, UInt32 srcRowBytes,
                                    UInt32 rows, UInt32 dstRowBytes, UInt8 prefetch);
void ALTIVEC_RGB24ToARGB32_ALIGNED(const void* src, void* dst, UInt32 srcRowBytes,
                                   UInt32 rows, UInt32 dstRowBytes, UInt8 prefetch);
void ALTIVEC_RGB48ToARGB32_ALIGNED(const void* src, void* dst, UInt32 srcRowBytes,
                                   UInt32 rows, UInt32 dstRowBytes, UInt8 prefetch);
void ALTIVEC_YUV444ToARGB32_ALIGNED(const void* src, void* dst, UInt32 srcRowBytes,
                                    UInt32 rows, UInt32 dstRowBytes, UInt8 prefetch);
void ALTIVEC_YUV422ToARGB32_ALIGNED(const void* src, void* dst, UInt32 srcRowBytes,
                                    UInt32 rows, UInt32 dstRowBytes, UInt8 prefetch);
void ALTIVEC_YUV411ToARGB32_ALIGNED(const void* src, void* dst, UInt32 srcRowBytes,
                                    UInt32 rows, UInt32 dstRowBytes, UInt8 prefetch);
