// Converters of Bayer_DecodetoPixMap, one per method, sample width, pattern
// family and depth, all instantiated from the rule code the frame-conversion
// kernels share, with the codec's own big-endian loaders and sinks.
#include "bayer_codec/BayerDecode.h"

#include "bayer_codec/BayerDecodeConverters.h"

namespace {

void rawCopy(const Frame& f) {
  const u8* s = static_cast<const u8*>(f.src);
  u8* d = static_cast<u8*>(f.dst);
  for (UInt32 y = 0; y < f.height; ++y) myMemCpy(d + size_t(y) * f.rowBytes, s + size_t(y) * f.width, f.width);
}

}  // namespace

extern "C" UInt32 Bayer_DecodetoPixMap(const void* src, void* dst, UInt32 pattern, SInt32 bytesPerSample,
                                       UInt32 method, UInt32 rowBytes, UInt32 width, UInt32 height) {
  if (src == nullptr || dst == nullptr || width == 0 || height == 0) return 0;
  Frame f{src, dst, rowBytes, width, height, false, 0};
  if (pattern == FOUR_CHAR_CODE("RGGB") || pattern == FOUR_CHAR_CODE("GBRG")) {
    f.rowPhase = pattern == FOUR_CHAR_CODE("RGGB") ? 1 : 0;
  } else {
    f.otherFamily = true;
    f.rowPhase = pattern == FOUR_CHAR_CODE("GRBG") ? 1 : 0;
  }
  if (method == kBayerMethodRawCopy) {
    rawCopy(f);
    return 0;
  }
#if SKYLOOM_BAYER_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    if (bytesPerSample == 1) bayer_codec_detail::decodeNarrowAVX2(f, method);
    else bayer_codec_detail::decodeWideAVX2(f, method);
    return 0;
  }
#endif
  if (bytesPerSample == 1) {
    decodeNarrow(f, method);
    return 0;
  }
  decodeWide(f, method);
  return 0;
}

SInt32 myFillBayerWindow8(const void* samples, UInt32 width, UInt32 height, UInt32 x, UInt32 y, UInt16* window) {
  return extract<Load8>(samples, width, height, x, y, window);
}

SInt32 myFillBayerWindow16(const void* samples, UInt32 width, UInt32 height, UInt32 x, UInt32 y, UInt16* window) {
  return extract<Load16>(samples, width, height, x, y, window);
}

void myWindowToPixels(const UInt16* window, UInt8 isGreenSite, UInt8 isRedRow, UInt32 maxValue, UInt16* red,
                      UInt16* green, UInt16* blue) {
  windowToPixels<true>(window, isGreenSite, isRedRow, maxValue, red, green, blue);
}
