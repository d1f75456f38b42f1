#include "platform/coregraphics/CGImage.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

namespace {
std::atomic<long> gLiveObjects{0};

// Shared by the three kinds: a reference count that starts at one.
struct Counted {
  std::atomic<long> refs{1};
  Counted() { gLiveObjects.fetch_add(1, std::memory_order_relaxed); }
  ~Counted() { gLiveObjects.fetch_sub(1, std::memory_order_relaxed); }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
  void retain() { refs.fetch_add(1, std::memory_order_relaxed); }
  // True when this was the last reference.
  bool release() { return refs.fetch_sub(1, std::memory_order_acq_rel) == 1; }
};
}  // namespace

struct CGDataProvider : Counted {
  void* info = nullptr;
  const void* data = nullptr;
  size_t size = 0;
  CGDataProviderReleaseDataCallback releaseData = nullptr;
};

struct CGColorSpace : Counted {
  size_t components = 3;
};

struct CGImage : Counted {
  size_t width = 0, height = 0, bitsPerComponent = 0, bitsPerPixel = 0, bytesPerRow = 0;
  CGBitmapInfo bitmapInfo = 0;
  CGColorSpaceRef space = nullptr;
  CGDataProviderRef provider = nullptr;
};

CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData) {
  auto* p = new (std::nothrow) CGDataProvider;
  if (!p) return nullptr;
  p->info = info;
  p->data = data;
  p->size = size;
  p->releaseData = releaseData;
  return p;
}

CGDataProviderRef CGDataProviderRetain(CGDataProviderRef p) {
  if (p) p->retain();
  return p;
}

void CGDataProviderRelease(CGDataProviderRef p) {
  if (!p || !p->release()) return;
  if (p->releaseData) p->releaseData(p->info, p->data, p->size);
  delete p;
}

namespace {
CGColorSpaceRef newSpace(size_t components) {
  auto* s = new (std::nothrow) CGColorSpace;
  if (s) s->components = components;
  return s;
}
}  // namespace

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() { return newSpace(3); }
CGColorSpaceRef CGColorSpaceCreateDeviceGray() { return newSpace(1); }

CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef s) {
  if (s) s->retain();
  return s;
}

void CGColorSpaceRelease(CGColorSpaceRef s) {
  if (s && s->release()) delete s;
}

size_t CGColorSpaceGetNumberOfComponents(CGColorSpaceRef s) { return s ? s->components : 0; }

namespace {
CGImageAlphaInfo alphaOf(CGBitmapInfo info) { return CGImageAlphaInfo(info & kCGBitmapAlphaInfoMask); }
bool alphaFirst(CGImageAlphaInfo a) {
  return a == kCGImageAlphaPremultipliedFirst || a == kCGImageAlphaFirst || a == kCGImageAlphaNoneSkipFirst;
}
bool hasAlpha(CGImageAlphaInfo a) {
  return a == kCGImageAlphaPremultipliedFirst || a == kCGImageAlphaPremultipliedLast || a == kCGImageAlphaFirst ||
         a == kCGImageAlphaLast;
}
bool premultiplied(CGImageAlphaInfo a) {
  return a == kCGImageAlphaPremultipliedFirst || a == kCGImageAlphaPremultipliedLast;
}

// Whether the layout is one we read: channels a pixel (colour-space
// components plus an alpha or skipped slot) times the component depth must
// fill the pixel exactly.
bool layoutSupported(size_t bpc, size_t bpp, size_t components, CGBitmapInfo info) {
  if (info & kCGBitmapFloatComponents) return false;
  const CGImageAlphaInfo a = alphaOf(info);
  if (a > kCGImageAlphaNoneSkipFirst) return false;  // alpha-only masks are not images here
  if (bpc != 8 && bpc != 16) return false;
  const size_t slots = components + (a == kCGImageAlphaNone ? 0 : 1);
  if (bpp != slots * bpc) return false;
  const CGBitmapInfo order = info & kCGBitmapByteOrderMask;
  switch (order) {
    case kCGBitmapByteOrderDefault:
      return true;
    case kCGBitmapByteOrder32Little:
    case kCGBitmapByteOrder32Big:
      return bpc == 8 && bpp == 32;
    case kCGBitmapByteOrder16Little:
    case kCGBitmapByteOrder16Big:
      return bpc == 16;
    default:
      return false;
  }
}
}  // namespace

CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat[], bool, CGColorRenderingIntent) {
  if (!space || !provider || !provider->data || width == 0 || height == 0) return nullptr;
  if (!layoutSupported(bitsPerComponent, bitsPerPixel, space->components, bitmapInfo)) return nullptr;
  // Every row the image will read must lie inside the provider's bytes.
  const size_t bytesPerPixel = bitsPerPixel / 8;
  if (width > SIZE_MAX / bytesPerPixel || bytesPerRow < width * bytesPerPixel) return nullptr;
  if (height - 1 > (SIZE_MAX - width * bytesPerPixel) / bytesPerRow) return nullptr;
  if (provider->size < (height - 1) * bytesPerRow + width * bytesPerPixel) return nullptr;
  auto* im = new (std::nothrow) CGImage;
  if (!im) return nullptr;
  im->width = width;
  im->height = height;
  im->bitsPerComponent = bitsPerComponent;
  im->bitsPerPixel = bitsPerPixel;
  im->bytesPerRow = bytesPerRow;
  im->bitmapInfo = bitmapInfo;
  im->space = CGColorSpaceRetain(space);
  im->provider = CGDataProviderRetain(provider);
  return im;
}

CGImageRef CGImageRetain(CGImageRef im) {
  if (im) im->retain();
  return im;
}

void CGImageRelease(CGImageRef im) {
  if (!im || !im->release()) return;
  CGColorSpaceRelease(im->space);
  CGDataProviderRelease(im->provider);
  delete im;
}

size_t CGImageGetWidth(CGImageRef im) { return im ? im->width : 0; }
size_t CGImageGetHeight(CGImageRef im) { return im ? im->height : 0; }
size_t CGImageGetBitsPerComponent(CGImageRef im) { return im ? im->bitsPerComponent : 0; }
size_t CGImageGetBitsPerPixel(CGImageRef im) { return im ? im->bitsPerPixel : 0; }
size_t CGImageGetBytesPerRow(CGImageRef im) { return im ? im->bytesPerRow : 0; }
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef im) { return im ? alphaOf(im->bitmapInfo) : kCGImageAlphaNone; }
CGBitmapInfo CGImageGetBitmapInfo(CGImageRef im) { return im ? im->bitmapInfo : 0; }
CGColorSpaceRef CGImageGetColorSpace(CGImageRef im) { return im ? im->space : nullptr; }
CGDataProviderRef CGImageGetDataProvider(CGImageRef im) { return im ? im->provider : nullptr; }

const UInt8* SkyloomCGImageBytes(CGImageRef im) {
  return im ? static_cast<const UInt8*>(im->provider->data) : nullptr;
}

bool SkyloomCGImagePixel(CGImageRef im, size_t x, size_t y, UInt16 rgba[4]) {
  if (!im || !rgba || x >= im->width || y >= im->height) return false;
  const CGImageAlphaInfo a = alphaOf(im->bitmapInfo);
  const size_t components = im->space->components;
  const size_t slots = components + (a == kCGImageAlphaNone ? 0 : 1);
  const UInt8* p = SkyloomCGImageBytes(im) + y * im->bytesPerRow + x * (im->bitsPerPixel / 8);
  const CGBitmapInfo order = im->bitmapInfo & kCGBitmapByteOrderMask;
  // The pixel's samples in the layout's own order.
  UInt16 s[4] = {0, 0, 0, 0};
  if (im->bitsPerComponent == 8) {
    if (order == kCGBitmapByteOrder32Little) {  // the 32-bit word is stored low byte first
      for (size_t i = 0; i < slots; ++i) s[i] = p[slots - 1 - i];
    } else {
      for (size_t i = 0; i < slots; ++i) s[i] = p[i];
    }
  } else {
    const bool swap = (order == kCGBitmapByteOrder16Big && std::endian::native == std::endian::little) ||
                      (order == kCGBitmapByteOrder16Little && std::endian::native == std::endian::big);
    for (size_t i = 0; i < slots; ++i) {
      UInt16 v;
      std::memcpy(&v, p + 2 * i, 2);
      s[i] = swap ? UInt16((v >> 8) | (v << 8)) : v;
    }
  }
  const UInt32 maximum = im->bitsPerComponent == 8 ? 0xFFu : 0xFFFFu;
  const UInt16* colour = s;
  UInt32 alpha = maximum;
  if (a != kCGImageAlphaNone) {
    if (alphaFirst(a)) {
      if (hasAlpha(a)) alpha = s[0];
      colour = s + 1;
    } else if (hasAlpha(a)) {
      alpha = s[components];
    }
  }
  for (int c = 0; c < 3; ++c) {
    UInt32 v = colour[components == 1 ? 0 : c];
    if (premultiplied(a)) {
      if (alpha == 0) v = 0;
      else v = std::min<UInt32>(maximum, (v * maximum + alpha / 2) / alpha);
    }
    rgba[c] = UInt16(v);
  }
  rgba[3] = UInt16(alpha);
  return true;
}

long SkyloomCGImageLiveObjectCount() { return gLiveObjects.load(std::memory_order_relaxed); }
