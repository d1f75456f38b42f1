#include "utilities/ImageViews.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/coreservices/CoreServices.h"

namespace {

// Room the window leaves on the screen's height: 24 above it, 24 below.
constexpr SInt64 kScreenHeightReserve = 48;
constexpr SInt64 kWindowTopGap = 24;

// trunc() into 64 bits, saturating; NaN gives 0.
SInt64 truncSaturated(float v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18f) return INT64_MAX;
  if (v <= -9.2e18f) return INT64_MIN;
  return SInt64(v);
}

}  // namespace

SInt32 myCalcOptimumWindowSizeforHIView(WindowRef window, OSType signature, SInt32 id, UInt32 imageWidth,
                                        UInt32 imageHeight, UInt32* windowWidth, UInt32* windowHeight,
                                        UInt32* left, UInt32* top) {
  if (!window || !windowWidth || !windowHeight || !left || !top) return 0;
  Rect port{};
  GetWindowPortBounds(window, &port);
  const SInt64 W = SInt64(port.right) - port.left;
  const SInt64 H = SInt64(port.bottom) - port.top;
  Rect screen{};
  if (GetAvailableWindowPositioningBounds(GetMainDevice(), &screen) != noErr) return 0;
  const SInt64 SW = SInt64(screen.right) - screen.left;
  const SInt64 SH = SInt64(screen.bottom) - screen.top;
  HIViewRef view = nullptr;
  HIRect viewBounds{};
  if (HIViewFindByID(HIViewGetRoot(window), HIViewID{signature, id}, &view) != noErr ||
      HIViewGetBounds(view, &viewBounds) != noErr)
    return 0;
  const SInt64 VW = SInt64(viewBounds.size.width);
  const SInt64 VH = SInt64(viewBounds.size.height);
  const SInt64 iw = imageWidth, ih = imageHeight;
  if (VW >= iw && VH >= ih) return 0;
  const SInt64 usableHeight = SH - kScreenHeightReserve;
  SInt64 width, height, x;
  if (SW < iw && SH < ih) {
    width = SW;
    height = usableHeight;
    x = screen.left;
  } else {
    // The view's size if the window filled the screen, in single precision;
    // a window without a content area has no scale.
    if (W <= 0 || H <= 0) return 0;
    const SInt64 a = truncSaturated(float(SH) / float(H) * float(VH));
    const SInt64 b = truncSaturated(float(SW) / float(W) * float(VW));
    if (iw >= b) width = SW;
    else if (VW <= iw) width = std::min(W + (iw - VW), SW);
    else width = W;
    if (a <= ih) height = usableHeight;
    else if (VH <= ih) height = std::min(H + (ih - VH), usableHeight);
    else height = H;
    x = screen.left + (SW - width) / 2;
  }
  *windowWidth = UInt32(width);
  *windowHeight = UInt32(height);
  *left = UInt32(x);
  *top = UInt32(screen.top + kWindowTopGap);
  return 1;
}

namespace {

// The source window along one axis: [first, end) pixels, each with a next
// pixel inside the image. `clamped` when the destination asks for more
// pixels than the image has.
struct Span {
  SInt64 first, end;
  bool clamped;
};
Span sourceSpan(SInt64 centre, SInt64 destination, SInt64 size) {
  SInt64 first = std::max<SInt64>(centre - destination / 6, 0);
  SInt64 end = first + destination / 3;
  bool clamped = false;
  if (end >= size) {
    end = size - 1;
    first = end - destination / 3;
    if (first < 0) {  // the image is narrower than a third of the destination
      first = 0;
      clamped = true;
    }
    end = std::max(end, first);
  }
  return {first, end, clamped};
}

inline UInt32 mix(UInt32 p, UInt32 q, UInt32 wp, UInt32 wq) { return (wp * p + wq * q) >> 3; }

}  // namespace

void myExtractARGB32BlockFromImageAndScale3X(const void* source, SInt32 bitsPerPixel, UInt32 sourceWidth,
                                             UInt32 sourceHeight, UInt32 sourceRowBytes, SInt32 centreX,
                                             SInt32 centreY, void* destination, UInt32 destinationWidth,
                                             UInt32 destinationHeight, UInt32 destinationRowBytes) {
  if (bitsPerPixel != 16 && bitsPerPixel != 32 && bitsPerPixel != 48) return;
  if (!source || !destination) return;
  const UInt32 bytesPerPixel = UInt32(bitsPerPixel) / 8;
  if (UInt64(sourceRowBytes) < UInt64(sourceWidth) * bytesPerPixel) return;
  if (UInt64(destinationRowBytes) < UInt64(destinationWidth) * 4) return;

  const Span xs = sourceSpan(centreX, destinationWidth, sourceWidth);
  const Span ys = sourceSpan(centreY, destinationHeight, sourceHeight);
  const UInt8* src = static_cast<const UInt8*>(source);
  UInt8* dst = static_cast<UInt8*>(destination);

  if (xs.clamped || ys.clamped) {
    // Clear what no source pixel will cover: rows below the blocks whole, and
    // the rest of each covered row.
    const size_t coveredWidth = size_t(3 * (xs.end - xs.first));
    const size_t coveredHeight = size_t(3 * (ys.end - ys.first));
    for (size_t row = 0; row < destinationHeight; ++row) {
      UInt8* d = dst + row * destinationRowBytes;
      const size_t from = row < coveredHeight ? coveredWidth : 0;
      std::memset(d + 4 * from, 0, 4 * (destinationWidth - from));
    }
  }

  // One source pixel as 8-bit red, green, blue.
  auto pixel = [&](SInt64 x, SInt64 y, UInt32 rgb[3]) {
    const UInt8* p = src + size_t(y) * sourceRowBytes + size_t(x) * bytesPerPixel;
    if (bitsPerPixel == 32) {
      rgb[0] = p[1];
      rgb[1] = p[2];
      rgb[2] = p[3];
    } else if (bitsPerPixel == 48) {
      UInt16 v[3];
      std::memcpy(v, p, sizeof v);
      for (int c = 0; c < 3; ++c) rgb[c] = v[c] >> 8;
    } else {
      UInt16 v;
      std::memcpy(&v, p, sizeof v);
      rgb[0] = rgb[1] = rgb[2] = v >> 8;
    }
  };
  auto put = [&](size_t dx, size_t dy, const UInt32 rgb[3]) {
    UInt8* d = dst + dy * destinationRowBytes + dx * 4;
    d[0] = 0xFF;
    d[1] = UInt8(rgb[0]);
    d[2] = UInt8(rgb[1]);
    d[3] = UInt8(rgb[2]);
  };
  // Weights in eighths for the block's three columns (or rows).
  static constexpr UInt32 kNear[3] = {8, 5, 3};
  static constexpr UInt32 kFar[3] = {0, 3, 5};

  for (SInt64 y = ys.first; y < ys.end; ++y) {
    for (SInt64 x = xs.first; x < xs.end; ++x) {
      UInt32 p[3], right[3], below[3], diagonal[3];
      pixel(x, y, p);
      pixel(x + 1, y, right);
      pixel(x, y + 1, below);
      pixel(x + 1, y + 1, diagonal);
      const size_t dx = size_t(3 * (x - xs.first)), dy = size_t(3 * (y - ys.first));
      for (int j = 0; j < 3; ++j) {
        // Down first: this row's pixel and its right neighbour mixed with the
        // row below; then across the block.
        UInt32 l[3], r[3];
        for (int c = 0; c < 3; ++c) {
          l[c] = mix(p[c], below[c], kNear[j], kFar[j]);
          r[c] = mix(right[c], diagonal[c], kNear[j], kFar[j]);
        }
        for (int i = 0; i < 3; ++i) {
          UInt32 out[3];
          for (int c = 0; c < 3; ++c) out[c] = mix(l[c], r[c], kNear[i], kFar[i]);
          put(dx + size_t(i), dy + size_t(j), out);
        }
      }
    }
  }
}
