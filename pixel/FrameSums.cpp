#include "pixel/FrameSums.h"

#include <cmath>

namespace {

// The overlap of a frame and its shifted copy: where to read, where to add,
// and how much. False when the offset leaves nothing to add.
struct Overlap {
  UInt32 srcX, srcY, dstX, dstY, cols, rows;
};

bool overlapOf(UInt32 width, UInt32 height, SInt32 dx, SInt32 dy, Overlap* o) {
  const SInt64 ax = dx < 0 ? -SInt64(dx) : SInt64(dx);
  const SInt64 ay = dy < 0 ? -SInt64(dy) : SInt64(dy);
  if (ax >= SInt64(width) || ay >= SInt64(height)) return false;
  o->srcX = dx < 0 ? UInt32(ax) : 0;
  o->srcY = dy < 0 ? UInt32(ay) : 0;
  o->dstX = dx > 0 ? UInt32(ax) : 0;
  o->dstY = dy > 0 ? UInt32(ay) : 0;
  o->cols = width - UInt32(ax);
  o->rows = height - UInt32(ay);
  return true;
}

// Adds `channels` consecutive samples a pixel, taken at `first` within each
// frame pixel of `stride` samples, into sums of `channels` a pixel.
template <typename T>
void shiftedAdd(const T* frame, UInt32* sums, UInt32 width, UInt32 height, SInt32 dx, SInt32 dy,
                UInt32 stride, UInt32 first, UInt32 channels) {
  Overlap o;
  if (!overlapOf(width, height, dx, dy, &o)) return;
  for (UInt32 r = 0; r < o.rows; ++r) {
    const T* in = frame + (size_t(o.srcY + r) * width + o.srcX) * stride + first;
    UInt32* out = sums + (size_t(o.dstY + r) * width + o.dstX) * channels;
    const size_t n = size_t(o.cols);
    for (size_t i = 0; i < n; ++i)
      for (UInt32 c = 0; c < channels; ++c) out[i * channels + c] += in[i * stride + c];
  }
}

// Fixed-length blocks let the cheap vectoriser handle the body; the rest runs
// one sample at a time.
constexpr UInt32 kBlock = 32;

template <typename T>
void addWhole(const T* __restrict frame, UInt32* __restrict sums, UInt32 count) {
  UInt32 i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    const T* in = frame + i;
    UInt32* out = sums + i;
    for (UInt32 k = 0; k < kBlock; ++k) out[k] += in[k];
  }
  for (; i < count; ++i) sums[i] += frame[i];
}

template <typename T>
SInt32 divideWhole(const UInt32* __restrict sums, T* __restrict frame, UInt32 count,
                   UInt32 frameCount, UInt32 mode) {
  if (frameCount == 0) return -1;
  const double inv = 1.0 / double(frameCount);
  constexpr UInt32 top = sizeof(T) == 1 ? 255u : 65535u;
  const double limit = double(top) - 1.0;
  for (UInt32 i = 0; i < count; ++i) {
    const double q = inv * double(sums[i]);
    if (mode == 1) {
      frame[i] = q > limit ? T(top) : T(UInt32(q));
    } else {
      frame[i] = T(UInt32(q) & top);  // q < 2^32: the conversion is exact
    }
  }
  return 0;
}

template <bool Round>
void downSize(const UInt32* sums, UInt16* dst, UInt32 x, UInt32 y, UInt32 w, UInt32 h,
              UInt32 sumWidth, UInt32 frameCount, UInt32 maximum, UInt32 channelsOut) {
  if (frameCount == 0) return;
  if (UInt64(x) + w > sumWidth) return;
  const UInt32 limit = frameCount * maximum;  // 32-bit, as the sums are
  const double scale = 65535.0 / (double(frameCount) * double(maximum));
  for (UInt32 r = 0; r < h; ++r) {
    const UInt32* in = sums + (size_t(y + r) * sumWidth + x) * 3;
    UInt16* out = dst + size_t(r) * w * channelsOut;
    for (UInt32 i = 0; i < w; ++i) {
      for (UInt32 c = 0; c < channelsOut; ++c) {
        const UInt32 s = in[i * 3 + c];
        UInt16 v;
        if (s >= limit) {
          v = 65535;
        } else {
          const double q = Round ? std::nearbyint(scale * double(s)) : std::trunc(scale * double(s));
          v = q >= 65535.0 ? 65535 : UInt16(q);
        }
        out[i * channelsOut + c] = v;
      }
    }
  }
}

}  // namespace

void myAdd8Buffto32BuffMono(const UInt8* frame, UInt32* sums, UInt32 width, UInt32 height,
                            SInt32 dx, SInt32 dy) {
  shiftedAdd(frame, sums, width, height, dx, dy, 1, 0, 1);
}

void myAdd16Buffto32BuffMono(const UInt16* frame, UInt32* sums, UInt32 width, UInt32 height,
                             SInt32 dx, SInt32 dy) {
  shiftedAdd(frame, sums, width, height, dx, dy, 1, 0, 1);
}

void myAdd8Buffto32BuffRGB(const UInt8* frame, UInt32* sums, UInt32 width, UInt32 height,
                           SInt32 dx, SInt32 dy) {
  // ARGB32 is a byte order: R, G and B are bytes 1 to 3 of each pixel.
  shiftedAdd(frame, sums, width, height, dx, dy, 4, 1, 3);
}

void myAdd16Buffto32BuffRGB(const UInt16* frame, UInt32* sums, UInt32 width, UInt32 height,
                            SInt32 dx, SInt32 dy) {
  shiftedAdd(frame, sums, width, height, dx, dy, 3, 0, 3);
}

void myDownSizeRGB96BuffertoRGB48Buffer(const UInt32* sums, UInt16* dst, UInt32 x, UInt32 y,
                                        UInt32 w, UInt32 h, UInt32 sumWidth, UInt32 frameCount,
                                        UInt32 maximum) {
  downSize<false>(sums, dst, x, y, w, h, sumWidth, frameCount, maximum, 3);
}

void myDownSizeRGB96BuffertoMono16Buffer(const UInt32* sums, UInt16* dst, UInt32 x, UInt32 y,
                                         UInt32 w, UInt32 h, UInt32 sumWidth,
                                         UInt32 frameCount, UInt32 maximum) {
  downSize<true>(sums, dst, x, y, w, h, sumWidth, frameCount, maximum, 1);
}

void myAdd8to32Buff(const UInt8* frame, UInt32* sums, UInt32 byteCount) {
  addWhole(frame, sums, byteCount);
}

void myAdd16to32Buff(const UInt16* frame, UInt32* sums, UInt32 byteCount) {
  addWhole(frame, sums, byteCount / 2);
}

SInt32 my32to8FrameBuff8Bit(const UInt32* sums, UInt8* frame, UInt32 byteCount, UInt32 frameCount,
                            UInt32 mode) {
  return divideWhole(sums, frame, byteCount, frameCount, mode);
}

SInt32 my32to16FrameBuff16Bit(const UInt32* sums, UInt16* frame, UInt32 byteCount,
                              UInt32 frameCount, UInt32 mode) {
  return divideWhole(sums, frame, byteCount / 2, frameCount, mode);
}
