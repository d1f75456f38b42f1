#include "platform/quickdraw/QDOffscreen.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

struct OpaqueGWorld {
  PixMap pixMap;
  PixMapPtr master;  // GetGWorldPixMap hands out &master
  void* owned;       // pixels this picture allocated, or null
};

namespace {
std::atomic<long> gLive{0};
std::atomic<int> gFailCountdown{0};

bool injectedFailure() {
  int n = gFailCountdown.load();
  while (n > 0) {
    if (gFailCountdown.compare_exchange_weak(n, n - 1)) return n == 1;
  }
  return false;
}

SInt16 bitsFor(UInt32 format) {
  switch (format) {
    case k1MonochromePixelFormat: return 1;
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat: return 8;
    case k24RGBPixelFormat: return 24;
    case k32ARGBPixelFormat:
    case k32AlphaGrayPixelFormat: return 32;
    case k16GrayPixelFormat: return 16;
    case k48RGBPixelFormat: return 48;
    case k64ARGBPixelFormat: return 64;
    default: return 0;
  }
}

QDErr make(GWorldPtr* out, UInt32 format, const Rect* bounds, Ptr buffer, SInt32 rowBytes) {
  if (!out || !bounds) return paramErr;
  *out = nullptr;
  const SInt16 bits = bitsFor(format);
  const long w = long(bounds->right) - bounds->left, h = long(bounds->bottom) - bounds->top;
  if (bits == 0 || w < 0 || h < 0) return paramErr;
  if (injectedFailure()) return memFullErr;
  auto* g = static_cast<OpaqueGWorld*>(std::calloc(1, sizeof(OpaqueGWorld)));
  if (!g) return memFullErr;
  if (!buffer) {
    // Owned pixels: rows padded to 16 bytes, cleared.
    rowBytes = SInt32(((w * bits / 8) + 15) & ~15L);
    size_t size = size_t(rowBytes) * size_t(h);
    g->owned = std::calloc(size ? size : 1, 1);
    if (!g->owned) {
      std::free(g);
      return memFullErr;
    }
    buffer = static_cast<Ptr>(g->owned);
  }
  g->pixMap.baseAddr = buffer;
  g->pixMap.rowBytes = rowBytes;
  g->pixMap.bounds = *bounds;
  g->pixMap.pixelFormat = format;
  g->pixMap.pixelSize = bits;
  const bool sixteenBitComponents = format == k16GrayPixelFormat || format == k32AlphaGrayPixelFormat ||
                                    format == k48RGBPixelFormat || format == k64ARGBPixelFormat;
  g->pixMap.cmpCount = (format == k16GrayPixelFormat || bits <= 8)  ? 1
                       : format == k32AlphaGrayPixelFormat           ? 2
                       : (bits == 32 || bits == 64)                  ? 4
                                                                     : 3;
  g->pixMap.cmpSize = sixteenBitComponents ? 16 : (bits >= 24 ? 8 : bits);
  g->master = &g->pixMap;
  ++gLive;
  *out = g;
  return noErr;
}
}  // namespace

QDErr NewGWorld(GWorldPtr* out, SInt16 pixelDepth, const Rect* bounds, CTabHandle, GDHandle, UInt32) {
  UInt32 format = pixelDepth == 32 ? k32ARGBPixelFormat
                  : pixelDepth == 24 ? k24RGBPixelFormat
                  : pixelDepth == 8 ? k8IndexedPixelFormat
                  : pixelDepth == 40 ? k8IndexedGrayPixelFormat
                  : pixelDepth == 1 ? k1MonochromePixelFormat
                                    : UInt32(pixelDepth);
  return make(out, format, bounds, nullptr, 0);
}

QDErr QTNewGWorld(GWorldPtr* out, OSType pixelFormat, const Rect* bounds, CTabHandle, GDHandle, UInt32) {
  return make(out, pixelFormat, bounds, nullptr, 0);
}

QDErr NewGWorldFromPtr(GWorldPtr* out, UInt32 pixelFormat, const Rect* bounds, CTabHandle, GDHandle,
                       UInt32, Ptr newBuffer, SInt32 rowBytes) {
  if (!newBuffer || rowBytes <= 0) return paramErr;
  return make(out, pixelFormat, bounds, newBuffer, rowBytes);
}

void DisposeGWorld(GWorldPtr g) {
  if (!g) return;
  std::free(g->owned);
  std::free(g);
  --gLive;
}

PixMapHandle GetGWorldPixMap(GWorldPtr g) { return g ? &g->master : nullptr; }

Boolean LockPixels(PixMapHandle pm) {
  if (!pm || !*pm) return 0;
  (*pm)->locked = 1;
  return 1;
}

void UnlockPixels(PixMapHandle pm) {
  if (pm && *pm) (*pm)->locked = 0;
}

Ptr GetPixBaseAddr(PixMapHandle pm) { return pm && *pm ? (*pm)->baseAddr : nullptr; }
SInt32 GetPixRowBytes(PixMapHandle pm) { return pm && *pm ? (*pm)->rowBytes : 0; }
Rect* GetPixBounds(PixMapHandle pm, Rect* bounds) {
  if (pm && *pm && bounds) *bounds = (*pm)->bounds;
  return bounds;
}
SInt16 GetPixDepth(PixMapHandle pm) { return pm && *pm ? (*pm)->pixelSize : 0; }

long SkyloomLiveGWorldCount() { return gLive.load(); }
void SkyloomFailGWorldCreation(int nth) { gFailCountdown.store(nth); }
