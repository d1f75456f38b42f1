// The high-quality demosaic kernels compiled a second time for AVX2
// (media/BayerDemosaicAVX2.cpp alone is built with -mavx2). The kernels of
// media/BayerDemosaic.h call these only on a processor that has AVX2; the
// bytes are the same as their baseline paths give.
#pragma once
#include "platform/coreservices/MacTypes.h"

namespace skyloom_bayer_avx2 {
// 8-bit samples to ARGB32 and host-order 16-bit samples to RGB48, under the
// rules and arguments of the kernels named in media/BayerDemosaic.h.
void hq8ARGB32(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, bool grbg,
               UInt8 startRowFlag);
void hq16RGB48(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, bool grbg,
               UInt8 startRowFlag);
}  // namespace skyloom_bayer_avx2
