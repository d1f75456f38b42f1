#include "pixel/MonoConversions.h"

#include <cstddef>

namespace {

// The channel is chosen once per call; each code runs its own loop so the
// compiler sees a fixed body it can vectorise.
template <UInt32 Channel, UInt32 Shift, UInt32 Stride, typename S, typename D>
inline void convertRow(const S* in, D* out, UInt32 width) {
  for (UInt32 x = 0; x < width; ++x) {
    const S* p = in + std::size_t(x) * Stride;
    // ARGB32 pixels are A R G B; RGB48 pixels R G B.
    constexpr UInt32 r = Stride == 4 ? 1 : 0;
    const UInt32 R = p[r], G = p[r + 1], B = p[r + 2];
    UInt32 v;
    if constexpr (Channel == kMyChannelLuma) {
      v = (306u * R + 601u * G + 117u * B) >> (10 + Shift);
    } else if constexpr (Channel == kMyChannelRed) {
      v = R >> Shift;
    } else if constexpr (Channel == kMyChannelGreen) {
      v = G >> Shift;
    } else {
      v = B >> Shift;
    }
    out[x] = D(v);
  }
}

template <UInt32 Shift, UInt32 Stride, typename S, typename D>
void convertFrame(const S* src, D* dst, UInt32 width, UInt32 height, std::size_t srcStride,
                  std::size_t dstStride, UInt32 channel) {
  void (*row)(const S*, D*, UInt32);
  switch (channel) {
    case kMyChannelLuma: row = convertRow<kMyChannelLuma, Shift, Stride, S, D>; break;
    case kMyChannelRed: row = convertRow<kMyChannelRed, Shift, Stride, S, D>; break;
    case kMyChannelGreen: row = convertRow<kMyChannelGreen, Shift, Stride, S, D>; break;
    case kMyChannelBlue: row = convertRow<kMyChannelBlue, Shift, Stride, S, D>; break;
    default: return;
  }
  for (UInt32 y = 0; y < height; ++y) row(src + y * srcStride, dst + y * dstStride, width);
}

}  // namespace

void myARGBuffertoMonoRGB8Ptr(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                              UInt32 srcRowBytes, UInt32 dstRowBytes, UInt32 channel) {
  if (src == nullptr || dst == nullptr) return;
  convertFrame<0, 4>(src, dst, width, height, srcRowBytes, dstRowBytes, channel);
}

void myRGB48PtrToMonoRGB16(const UInt16* src, UInt16* dst, UInt32 width, UInt32 height,
                           UInt32 channel) {
  if (src == nullptr || dst == nullptr) return;
  convertFrame<0, 3>(src, dst, width, height, std::size_t(width) * 3, width, channel);
}

void myRGB48PtrToMonoRGB8(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height,
                          UInt32 dstRowBytes, UInt32 channel) {
  if (src == nullptr || dst == nullptr) return;
  convertFrame<8, 3>(src, dst, width, height, std::size_t(width) * 3, dstRowBytes, channel);
}

void myRGB48PtrToARGB32(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height) {
  if (src == nullptr || dst == nullptr) return;
  const std::size_t n = std::size_t(width) * height;
  for (std::size_t i = 0; i < n; ++i) {
    dst[4 * i] = 255;
    dst[4 * i + 1] = UInt8(src[3 * i] >> 8);
    dst[4 * i + 2] = UInt8(src[3 * i + 1] >> 8);
    dst[4 * i + 3] = UInt8(src[3 * i + 2] >> 8);
  }
}
