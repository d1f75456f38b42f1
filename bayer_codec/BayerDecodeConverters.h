// The converters of Bayer_DecodetoPixMap, instantiated in every translation
// unit that includes this: BayerDecode.cpp for the build's baseline and
// BayerDecodeAVX2.cpp for AVX2, chosen at run time for 16-bit samples.
// Internal to the decompressor.
#pragma once
#include "bayer_codec/BayerDecode.h"
#include "media/BayerDemosaicRules.h"

namespace bayer_codec_detail {

struct Frame {
  const void* src;
  void* dst;
  UInt32 rowBytes, width, height;
  bool otherFamily;
  UInt8 rowPhase;
};

// 16-bit samples by method into the depth of rowBytes / width; AVX2 build.
void decodeWideAVX2(const Frame& f, UInt32 method);
// 8-bit samples by method into ARGB32; AVX2 build.
void decodeNarrowAVX2(const Frame& f, UInt32 method);

}  // namespace bayer_codec_detail

namespace {

using namespace skyloom_bayer;
using bayer_codec_detail::Frame;

// 16-bit results shown as ARGB through their high bytes.
struct SinkARGBHi {
  static constexpr size_t kBytes = 4;
  static void put(u8* row, int x, int r, int g, int b) { SinkARGB::put(row, x, r >> 8, g >> 8, b >> 8); }
};

template <class L, class S>
void cells(const Frame& f) {
  demosaicLQ<L, S>(f.src, f.dst, f.rowBytes, f.width, f.height, f.otherFamily, f.rowPhase, true);
}
template <class L, class S>
void bilinear(const Frame& f) {
  demosaicMQ<L, S>(f.src, f.dst, f.rowBytes, f.width, f.height, f.otherFamily, f.rowPhase, true);
}
template <class L, class S>
void gradients(const Frame& f, UInt32 maxValue) {
  demosaicHQ<L, S, true>(f.src, f.dst, f.rowBytes, f.width, f.height, f.otherFamily, f.rowPhase, maxValue, true);
}

// 8-bit samples, always into ARGB32; an unknown method draws nothing.
[[maybe_unused]] void decodeNarrow(const Frame& f, UInt32 method) {
  switch (method) {
    case kBayerMethodCells: cells<Load8, SinkARGB>(f); break;
    case kBayerMethodBilinear: bilinear<Load8, SinkARGB>(f); break;
    case kBayerMethodGradients: gradients<Load8, SinkARGB>(f, 255); break;
    default: break;
  }
}

// 16-bit big-endian samples: the depth (rowBytes / width) x 8 picks the
// converter; any other depth, or an unknown method, draws nothing.
[[maybe_unused]] void decodeWide(const Frame& f, UInt32 method) {
  switch ((f.rowBytes / f.width) * 8) {
    case 32:
      switch (method) {
        case kBayerMethodCells: cells<Load16BEHi, SinkARGB>(f); break;
        case kBayerMethodBilinear: bilinear<Load16BEHi, SinkARGB>(f); break;
        case kBayerMethodGradients: gradients<Load16BE, SinkARGBHi>(f, 65535); break;
        default: break;
      }
      break;
    case 48:
      switch (method) {
        case kBayerMethodCells: cells<Load16BE, SinkB48r>(f); break;
        case kBayerMethodBilinear: bilinear<Load16BE, SinkB48r>(f); break;
        case kBayerMethodGradients: gradients<Load16BE, SinkB48r>(f, 65535); break;
        default: break;
      }
      break;
    case 64:
      // Method 0 has no cell converter at this depth: it is drawn bilinear.
      switch (method) {
        case kBayerMethodCells:
        case kBayerMethodBilinear: bilinear<Load16BE, SinkB64a>(f); break;
        case kBayerMethodGradients: gradients<Load16BE, SinkB64a>(f, 65535); break;
        default: break;
      }
      break;
    default:
      break;
  }
}

}  // namespace
