// The high-quality demosaic rules compiled for AVX2: eight 32-bit lanes a
// step for wide samples, sixteen 16-bit lanes for 8-bit ones. Only called
// after a run-time check for AVX2.
#include "media/BayerDemosaicAVX2.h"

#include "media/BayerDemosaicRules.h"

#if defined(__AVX2__)
namespace skyloom_bayer_avx2 {

void hq8ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, bool grbg,
               UInt8 startRowFlag) {
  skyloom_bayer::demosaicHQ<skyloom_bayer::Load8, skyloom_bayer::SinkARGB>(src, dst, dstRowBytes, width, height, grbg,
                                                                           startRowFlag, 255u, true);
}

void hq16RGB48(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, bool grbg,
               UInt8 startRowFlag) {
  skyloom_bayer::demosaicHQ<skyloom_bayer::Load16, skyloom_bayer::SinkRGB48>(src, dst, dstRowBytes, width, height,
                                                                             grbg, startRowFlag, 65535u, true);
}

}  // namespace skyloom_bayer_avx2
#endif
