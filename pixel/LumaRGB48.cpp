#include "pixel/LumaRGB48.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "pixel/RowBands.h"

namespace {

// Adding and removing 1.5 x 2^52 rounds a value below 2^51 to the nearest
// integer with ties to even, as the default rounding mode does, in a form the
// vectoriser takes.
constexpr double kRoundingBias = 6755399441055744.0;

inline UInt16 lumaOf(SInt32 r, SInt32 g, SInt32 b) {
  const double y = 0.299 * double(r) + 0.587 * double(g) + 0.114 * double(b);
  const double rounded = (y + kRoundingBias) - kRoundingBias;
  return UInt16(rounded > 65535.0 ? 65535 : SInt32(rounded));
}

inline UInt16 mergedSample(double x) {
  if (x > 65534.0) return 65535;
  return x < 1.0 ? UInt16(0) : UInt16(SInt32(x));
}

// A colour sample times a non-negative ratio: truncated, at most 65535.
inline UInt16 ratioSample(float v) { return v >= 65535.0f ? UInt16(65535) : UInt16(SInt32(v)); }

void* defaultPlaneAllocator(size_t bytes) {
  long page = sysconf(_SC_PAGESIZE);
  if (page <= 0) page = 4096;
  void* p = nullptr;
  if (posix_memalign(&p, size_t(page), bytes == 0 ? 1 : bytes) != 0) return nullptr;
  return p;
}

std::atomic<MyPlaneAllocator> gPlaneAllocator{defaultPlaneAllocator};

constexpr UInt64 kRowWork = 12;  // rough operations a pixel, for the bands

}  // namespace

void myRGB48PtrtoLumaPtr(const UInt16* rgb48, UInt16* luma16, UInt32 width, UInt32 height) {
  myRunRowBands(height, UInt64(width) * kRowWork, [&](UInt32 begin, UInt32 end) {
    const size_t first = size_t(begin) * width;
    const size_t count = size_t(end - begin) * width;
    const UInt16* __restrict in = rgb48 + first * 3;
    UInt16* __restrict out = luma16 + first;
    for (size_t i = 0; i < count; ++i) out[i] = lumaOf(in[3 * i], in[3 * i + 1], in[3 * i + 2]);
  });
}

void myRGB48ToLRGB64AndLuma16(const UInt16* rgb48, UInt16* lrgb64, UInt16* luma16, UInt32 width,
                              UInt32 height) {
  myRunRowBands(height, UInt64(width) * kRowWork, [&](UInt32 begin, UInt32 end) {
    const size_t first = size_t(begin) * width;
    const size_t count = size_t(end - begin) * width;
    const UInt16* __restrict in = rgb48 + first * 3;
    UInt16* __restrict lrgb = lrgb64 + first * 4;
    UInt16* __restrict luma = luma16 + first;
    for (size_t i = 0; i < count; ++i) {
      const UInt16 r = in[3 * i], g = in[3 * i + 1], b = in[3 * i + 2];
      const UInt16 l = lumaOf(r, g, b);
      luma[i] = l;
      lrgb[4 * i] = l;
      lrgb[4 * i + 1] = r;
      lrgb[4 * i + 2] = g;
      lrgb[4 * i + 3] = b;
    }
  });
}

void myLuma16AndRGB48ToMergedLRGB64(const UInt16* luma16, const UInt16* rgb48, UInt16* lrgb64,
                                    UInt32 width, UInt32 height) {
  myRunRowBands(height, UInt64(width) * kRowWork * 2, [&](UInt32 begin, UInt32 end) {
    const size_t first = size_t(begin) * width;
    const size_t count = size_t(end - begin) * width;
    const UInt16* __restrict luma = luma16 + first;
    const UInt16* __restrict in = rgb48 + first * 3;
    UInt16* __restrict out = lrgb64 + first * 4;
    for (size_t i = 0; i < count; ++i) {
      const SInt32 r = in[3 * i], g = in[3 * i + 1], b = in[3 * i + 2];
      // R - Y and B - Y formed from whole numbers (1000 Y = 299 R + 587 G + 114 B)
      // and divided once: the differences of a grey pixel are exactly 0, so a grey
      // pixel re-merged with its own luma keeps its value in every channel.
      const double dR = double(701 * r - 587 * g - 114 * b) / 1000.0;
      const double dB = double(886 * b - 299 * r - 587 * g) / 1000.0;
      const double l = SInt32(luma[i]);
      out[4 * i] = luma[i];
      out[4 * i + 1] = mergedSample(l + 1.000339 * dR);
      out[4 * i + 2] = mergedSample(l - 0.509082 * dR - 0.19436 * dB);
      out[4 * i + 3] = mergedSample(l + 1.00005 * dB);
    }
  });
}

void myAltivecLRGB64ToRGB48Adjusted(const UInt16* luma16, const UInt16* lrgb64, UInt16* rgb48,
                                    UInt32 width, UInt32 height) {
  myRunRowBands(height, UInt64(width) * kRowWork, [&](UInt32 begin, UInt32 end) {
    const size_t first = size_t(begin) * width;
    const size_t count = size_t(end - begin) * width;
    const UInt16* __restrict luma = luma16 + first;
    const UInt16* __restrict in = lrgb64 + first * 4;
    UInt16* __restrict out = rgb48 + first * 3;
    for (size_t i = 0; i < count; ++i) {
      const float ratio = float(SInt32(luma[i]) + 1) / float(SInt32(in[4 * i]) + 1);
      out[3 * i] = ratioSample(float(SInt32(in[4 * i + 1])) * ratio);
      out[3 * i + 1] = ratioSample(float(SInt32(in[4 * i + 2])) * ratio);
      out[3 * i + 2] = ratioSample(float(SInt32(in[4 * i + 3])) * ratio);
    }
  });
}

MyPlaneAllocator mySetFloatPlaneAllocator(MyPlaneAllocator allocator) {
  return gPlaneAllocator.exchange(allocator != nullptr ? allocator : defaultPlaneAllocator);
}

SInt32 myFillInVImageFloatFromMono16Src(vImage_Buffer* out, UInt32 width, UInt32 height,
                                        const UInt16* mono16) {
  if (out == nullptr) return paramErr;
  size_t rowBytes = (size_t(width) * 4 + 15) & ~size_t(15);
  while (rowBytes != 0 && (rowBytes & (rowBytes - 1)) == 0) rowBytes += 16;
  out->height = height;
  out->width = width;
  out->rowBytes = rowBytes;
  out->data = gPlaneAllocator.load()(size_t(height) * rowBytes);
  if (out->data == nullptr) return memFullErr;
  if (mono16 == nullptr) return noErr;
  unsigned char* plane = static_cast<unsigned char*>(out->data);
  myRunRowBands(height, UInt64(width) * 2, [&](UInt32 begin, UInt32 end) {
    for (UInt32 y = begin; y < end; ++y) {
      const UInt16* __restrict in = mono16 + size_t(y) * width;
      float* __restrict row = reinterpret_cast<float*>(plane + size_t(y) * rowBytes);
      for (UInt32 x = 0; x < width; ++x) row[x] = float(SInt32(in[x]));
    }
  });
  return noErr;
}
