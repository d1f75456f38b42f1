// Raw Bayer frames through the decompression layer and the ORX_BAYER
// component: any image description fields and any sample bytes must decode or
// be refused, never read outside the sample or write outside the picture.
//
// Input: a 16-byte head, then the sample.
//   0  width (SInt16, big-endian; folded into -8 .. 96)
//   2  height (likewise)
//   4  dataSize (SInt32)
//   8  spatialQuality (UInt32)
//   12 depth (SInt16)
//   14 destination: 0 ARGB32, 1 'b48r', 2 'b64a', 3 'b48r' one pixel wider
//   15 destination rectangle offset: x in the low 2 bits, y in bits 4-5
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/ImageCodec.h"
#include "platform/quicktime/ImageCompression.h"

namespace {

constexpr size_t kHead = 16;

SkyloomDecompressSequence sequence() {
  static SkyloomDecompressSequence seq = [] {
    SkyloomDecompressSequence s = nullptr;
    if (SkyloomOpenDecompressSequence(FOUR_CHAR_CODE("BGGR"), &s) != noErr) {
      std::fprintf(stderr, "fuzz_bayer_codec: the ORX_BAYER component is not found\n");
      std::abort();
    }
    return s;
  }();
  return seq;
}

UInt32 be(const uint8_t* p, int bytes) {
  UInt32 v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

SInt16 side(const uint8_t* p) {
  int v = SInt16(be(p, 2));
  if (v < -8 || v > 96) v %= 97;
  return SInt16(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHead) return 0;
  ImageDescription d{};
  ImageDescription* dp = &d;
  d.idSize = sizeof d;
  d.cType = FOUR_CHAR_CODE("BGGR");
  d.vendor = SInt32(FOUR_CHAR_CODE("ORX "));
  d.width = side(data);
  d.height = side(data + 2);
  d.dataSize = SInt32(be(data + 4, 4));
  d.spatialQuality = be(data + 8, 4);
  d.depth = SInt16(be(data + 12, 2));
  const int dest = data[14] & 3;
  const int dx = data[15] & 3, dy = (data[15] >> 4) & 3;

  // The sample in a buffer of exactly its size.
  std::vector<uint8_t> sample(data + kHead, data + size);
  if (sample.empty()) sample.reserve(1);

  const int pixelSize = dest == 0 ? 32 : dest == 2 ? 64 : 48;
  const OSType format = dest == 0 ? OSType(k32ARGBPixelFormat) : dest == 2 ? OSType(k64ARGBPixelFormat)
                                                                            : OSType(k48RGBPixelFormat);
  const int w = (d.width > 0 ? d.width : 1) + dx + (dest == 3 ? 1 : 0);
  const int h = (d.height > 0 ? d.height : 1) + dy;
  std::vector<uint8_t> pixels(size_t(w) * h * (pixelSize / 8));
  PixMap pm{};
  pm.baseAddr = reinterpret_cast<Ptr>(pixels.data());
  pm.rowBytes = SInt32(w * (pixelSize / 8));
  pm.bounds = Rect{0, 0, SInt16(h), SInt16(w)};
  pm.pixelFormat = format;
  pm.pixelSize = SInt16(pixelSize);
  const Rect at{SInt16(dy), SInt16(dx), SInt16(h), SInt16(w)};
  SkyloomDecompressFrame(sequence(), &dp, reinterpret_cast<Ptr>(sample.data()), SInt32(size - kHead), &pm, &at);
  return 0;
}
