// QuickDraw offscreen pictures (GWorlds): a pixel map with a format, bounds,
// row bytes and base address, either owned or laid over caller memory.
// Samples are host order whatever the format code says.
#pragma once
#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/ImageCompression.h"

typedef SInt16 QDErr;

enum : OSType {
  k1MonochromePixelFormat = 0x00000001,
  k8IndexedPixelFormat = 0x00000008,
  k24RGBPixelFormat = 0x00000018,
  k32ARGBPixelFormat = 0x00000020,
  k8IndexedGrayPixelFormat = 0x00000028,
  k16GrayPixelFormat = FOUR_CHAR_CODE("b16g"),
  k32AlphaGrayPixelFormat = FOUR_CHAR_CODE("b32a"),  // 16-bit alpha, then 16-bit grey
  k48RGBPixelFormat = FOUR_CHAR_CODE("b48r"),
  k64ARGBPixelFormat = FOUR_CHAR_CODE("b64a"),
};

enum : UInt32 { pixPurge = 1u << 0, noNewDevice = 1u << 1, useTempMem = 1u << 2, keepLocal = 1u << 3 };

struct PixMap {
  Ptr baseAddr;
  SInt32 rowBytes;
  Rect bounds;
  OSType pixelFormat;
  SInt16 pixelSize;  // bits a pixel
  SInt16 cmpCount;
  SInt16 cmpSize;
  Boolean locked;
};
typedef PixMap* PixMapPtr;
typedef PixMapPtr* PixMapHandle;

struct OpaqueGWorld;
typedef OpaqueGWorld* GWorldPtr;
typedef void* GDHandle;

// A new picture that owns its pixels (32 bits a pixel for depth 32, cleared).
QDErr NewGWorld(GWorldPtr* offscreenGWorld, SInt16 pixelDepth, const Rect* boundsRect,
                CTabHandle cTable, GDHandle aGDevice, UInt32 flags);
// A new owned picture of any pixel format ('b48r', 'b16g', 'b32a', 'b64a', ...).
QDErr QTNewGWorld(GWorldPtr* offscreenGWorld, OSType pixelFormat, const Rect* boundsRect, CTabHandle cTable,
                  GDHandle aGDevice, UInt32 flags);
// A picture laid over the caller's memory; nothing is copied.
QDErr NewGWorldFromPtr(GWorldPtr* offscreenGWorld, UInt32 pixelFormat, const Rect* boundsRect,
                       CTabHandle cTable, GDHandle aGDevice, UInt32 flags, Ptr newBuffer,
                       SInt32 rowBytes);
void DisposeGWorld(GWorldPtr offscreenGWorld);
PixMapHandle GetGWorldPixMap(GWorldPtr offscreenGWorld);
Boolean LockPixels(PixMapHandle pm);
void UnlockPixels(PixMapHandle pm);
Ptr GetPixBaseAddr(PixMapHandle pm);
SInt32 GetPixRowBytes(PixMapHandle pm);
Rect* GetPixBounds(PixMapHandle pm, Rect* bounds);
SInt16 GetPixDepth(PixMapHandle pm);
// Pictures alive now (tests check that every path disposes its picture).
long SkyloomLiveGWorldCount();
// Tests make the next n-th picture creation fail with memFullErr (0 = never).
void SkyloomFailGWorldCreation(int nth);
