// CoreGraphics images: a bitmap of width x height pixels laid over the bytes
// of a data provider, with its component depth, pixel size, row bytes, colour
// space and alpha layout. The image keeps its provider (and so the caller's
// bytes) until it is released; nothing is copied. Drawing them into contexts
// belongs to the drawing layer; here they are made, inspected and read.
//
// Layouts understood: 8 bits a component at 8 (grey), 24 (RGB) or 32 bits a
// pixel (RGB with alpha or a skipped byte, first or last, in memory order, or
// reversed with kCGBitmapByteOrder32Little); 16 bits a component at 16, 48 or
// 64 bits a pixel, samples in host order unless the byte-order flag says
// otherwise. Anything else, or a provider too short for the rows, makes no
// image (null).
//
// Retain and release are thread-safe; an image itself is immutable.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/coreservices/MacTypes.h"

typedef double CGFloat;

typedef struct CGDataProvider* CGDataProviderRef;
typedef struct CGColorSpace* CGColorSpaceRef;
typedef struct CGImage* CGImageRef;

// Called once, when the last reference to the provider goes.
typedef void (*CGDataProviderReleaseDataCallback)(void* info, const void* data, size_t size);

CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData);
CGDataProviderRef CGDataProviderRetain(CGDataProviderRef provider);
void CGDataProviderRelease(CGDataProviderRef provider);

CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
CGColorSpaceRef CGColorSpaceCreateDeviceGray();
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space);
void CGColorSpaceRelease(CGColorSpaceRef space);
size_t CGColorSpaceGetNumberOfComponents(CGColorSpaceRef space);

enum CGImageAlphaInfo : uint32_t {
  kCGImageAlphaNone = 0,
  kCGImageAlphaPremultipliedLast = 1,
  kCGImageAlphaPremultipliedFirst = 2,
  kCGImageAlphaLast = 3,
  kCGImageAlphaFirst = 4,
  kCGImageAlphaNoneSkipLast = 5,
  kCGImageAlphaNoneSkipFirst = 6,
  kCGImageAlphaOnly = 7,
};
// Alpha information ORed with the flags below (plain constants, so that the
// two combine without mixing enumerations).
typedef uint32_t CGBitmapInfo;
constexpr CGBitmapInfo kCGBitmapAlphaInfoMask = 0x1F;
constexpr CGBitmapInfo kCGBitmapFloatComponents = 1u << 8;
constexpr CGBitmapInfo kCGBitmapByteOrderMask = 0x7000;
constexpr CGBitmapInfo kCGBitmapByteOrderDefault = 0u << 12;
constexpr CGBitmapInfo kCGBitmapByteOrder16Little = 1u << 12;
constexpr CGBitmapInfo kCGBitmapByteOrder32Little = 2u << 12;
constexpr CGBitmapInfo kCGBitmapByteOrder16Big = 3u << 12;
constexpr CGBitmapInfo kCGBitmapByteOrder32Big = 4u << 12;
enum CGColorRenderingIntent : int32_t {
  kCGRenderingIntentDefault = 0,
  kCGRenderingIntentAbsoluteColorimetric = 1,
  kCGRenderingIntentRelativeColorimetric = 2,
  kCGRenderingIntentPerceptual = 3,
  kCGRenderingIntentSaturation = 4,
};

// The decode array is accepted and not applied (our callers pass none).
CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat decode[], bool shouldInterpolate,
                         CGColorRenderingIntent intent);
CGImageRef CGImageRetain(CGImageRef image);
void CGImageRelease(CGImageRef image);
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
size_t CGImageGetBitsPerComponent(CGImageRef image);
size_t CGImageGetBitsPerPixel(CGImageRef image);
size_t CGImageGetBytesPerRow(CGImageRef image);
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef image);
CGBitmapInfo CGImageGetBitmapInfo(CGImageRef image);
CGColorSpaceRef CGImageGetColorSpace(CGImageRef image);  // not retained
CGDataProviderRef CGImageGetDataProvider(CGImageRef image);  // not retained

// ---- For the exporters and tests ----
// The image's first byte (rows follow at CGImageGetBytesPerRow); null for a
// null image.
const UInt8* SkyloomCGImageBytes(CGImageRef image);
// Pixel (x, y) as straight samples at the image's own component depth (0..255
// or 0..65535): red, green, blue and alpha. Grey gives red = green = blue; an
// image without alpha gives the maximum; premultiplied samples are divided
// back by alpha (rounded, 0 where alpha is 0). False outside the image.
bool SkyloomCGImagePixel(CGImageRef image, size_t x, size_t y, UInt16 rgba[4]);
// Images, providers and colour spaces alive now (every path must release
// what it creates).
long SkyloomCGImageLiveObjectCount();
