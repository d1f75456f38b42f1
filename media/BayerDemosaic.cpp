#include "media/BayerDemosaic.h"

#include "media/BayerDemosaicAVX2.h"
#include "media/BayerDemosaicRules.h"
#include "media/MediaSIMD.h"
#include "utilities/CpuPaths.h"

using namespace skyloom_bayer;

SInt32 myEX8PixArrs(const void* src, UInt32 width, UInt32 height, UInt32 x, UInt32 y, UInt16* pixArr) {
  return extract<Load8>(src, width, height, x, y, pixArr);
}

SInt32 myEX16PixArrs(const void* src, UInt32 width, UInt32 height, UInt32 x, UInt32 y, UInt16* pixArr) {
  return extract<Load16>(src, width, height, x, y, pixArr);
}

OSStatus myGRDPixArrs(const UInt16* pixArr, UInt8 isGreenSite, UInt8 isRedRow, UInt32 maxValue, UInt16* red,
                      UInt16* green, UInt16* blue) {
  windowToPixels<false>(pixArr, isGreenSite, isRedRow, maxValue, red, green, blue);
  return 0;
}

#define SKYLOOM_KERNEL(name, impl, L, S, grbg)                                                      \
  void name(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 flag) { \
    impl<L, S>(src, dst, dstRowBytes, width, height, grbg, flag, myMediaSIMDEnabled());               \
  }
// The high-quality kernels take their AVX2 build where the host has it.
#if SKYLOOM_MEDIA_AVX2
#define SKYLOOM_HQ_AVX2(avx2, grbg)                                               \
  if (myMediaSIMDEnabled() && myCpuPath() >= kMyCpuPathAVX2) {                    \
    skyloom_bayer_avx2::avx2(src, dst, dstRowBytes, width, height, grbg, flag); \
    return;                                                                       \
  }
#else
#define SKYLOOM_HQ_AVX2(avx2, grbg)
#endif
#define SKYLOOM_HQ_KERNEL(name, L, S, grbg, maxValue, avx2)                                           \
  void name(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, UInt8 flag) { \
    SKYLOOM_HQ_AVX2(avx2, grbg)                                                                       \
    demosaicHQ<L, S>(src, dst, dstRowBytes, width, height, grbg, flag, maxValue, myMediaSIMDEnabled());  \
  }

SKYLOOM_KERNEL(BayerRGGB8_LQ_ARGB32, demosaicLQ, Load8, SinkARGB, false)
SKYLOOM_KERNEL(BayerGRBG8_LQ_ARGB32, demosaicLQ, Load8, SinkARGB, true)
SKYLOOM_KERNEL(BayerRGGB16_LQ_RGB48, demosaicLQ, Load16, SinkRGB48, false)
SKYLOOM_KERNEL(BayerGRBG16_LQ_RGB48, demosaicLQ, Load16, SinkRGB48, true)
SKYLOOM_KERNEL(BayerRGGB16_LQ_ARGB32, demosaicLQ, Load16Hi, SinkARGB, false)
SKYLOOM_KERNEL(BayerGRBG16_LQ_ARGB32, demosaicLQ, Load16Hi, SinkARGB, true)

SKYLOOM_KERNEL(BayerRGGB8_MQ_ARGB32, demosaicMQ, Load8, SinkARGB, false)
SKYLOOM_KERNEL(BayerGRBG8_MQ_ARGB32, demosaicMQ, Load8, SinkARGB, true)
SKYLOOM_KERNEL(BayerRGGB16_MQ_RGB48, demosaicMQ, Load16, SinkRGB48, false)
SKYLOOM_KERNEL(BayerGRBG16_MQ_RGB48, demosaicMQ, Load16, SinkRGB48, true)
SKYLOOM_KERNEL(BayerRGGB16_MQ_ARGB32, demosaicMQ, Load16Hi, SinkARGB, false)
SKYLOOM_KERNEL(BayerGRBG16_MQ_ARGB32, demosaicMQ, Load16Hi, SinkARGB, true)

SKYLOOM_HQ_KERNEL(BayerRGGB8_HQ_ARGB32, Load8, SinkARGB, false, 255u, hq8ARGB32)
SKYLOOM_HQ_KERNEL(BayerGRBG8_HQ_ARGB32, Load8, SinkARGB, true, 255u, hq8ARGB32)
SKYLOOM_HQ_KERNEL(BayerRGGB16_HQ_RGB48, Load16, SinkRGB48, false, 65535u, hq16RGB48)
SKYLOOM_HQ_KERNEL(BayerGRBG16_HQ_RGB48, Load16, SinkRGB48, true, 65535u, hq16RGB48)

SKYLOOM_KERNEL(BayerRGGB8_MONO_ARGB32, demosaicMQ, Load8, SinkMonoARGB, false)
SKYLOOM_KERNEL(BayerGRBG8_MONO_ARGB32, demosaicMQ, Load8, SinkMonoARGB, true)
SKYLOOM_KERNEL(BayerRGGB16_MONO_ARGB32, demosaicMQ, Load16Hi, SinkMonoARGB, false)
SKYLOOM_KERNEL(BayerGRBG16_MONO_ARGB32, demosaicMQ, Load16Hi, SinkMonoARGB, true)
SKYLOOM_KERNEL(BayerRGGB16_MONO16, demosaicMQ, Load16, SinkMono16, false)
SKYLOOM_KERNEL(BayerGRBG16_MONO16, demosaicMQ, Load16, SinkMono16, true)
