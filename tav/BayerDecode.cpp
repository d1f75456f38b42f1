#include "tav/BayerDecode.h"

#include <cstring>

#include "media/BayerDemosaic.h"
#include "utilities/BayerPhase.h"

namespace {

struct Code {
  bool otherFamily;  // G R / B G rows
  UInt8 startRow;    // 1 = row 0 holds the reds
};

Code codeOf(UInt32 bayerCode) {
  switch (bayerCode) {
    case FOUR_CHAR_CODE("RGGB"): return {false, 1};
    case FOUR_CHAR_CODE("GBRG"): return {false, 0};
    case FOUR_CHAR_CODE("GRBG"): return {true, 1};
    default: return {true, 0};  // 'BGGR' and every unknown code
  }
}

template <class T>
int sample(const T* s, UInt32 width, UInt32 x, UInt32 y) {
  return s[size_t(y) * width + x];
}

template <class T>
void put(UInt8* row, UInt32 x, int r, int g, int b) {
  if constexpr (sizeof(T) == 1) {
    UInt8* d = row + 4 * size_t(x);
    d[0] = 0xFF;
    d[1] = UInt8(r);
    d[2] = UInt8(g);
    d[3] = UInt8(b);
  } else {
    const UInt16 v[3] = {UInt16(r), UInt16(g), UInt16(b)};
    std::memcpy(row + 6 * size_t(x), v, 6);
  }
}

// The bilinear last row from that row and the one above. The engine's
// bilinear kernel has every other rule of this path; its last row takes the
// mean of both upper diagonals where this one takes the sample above right.
template <class T>
void lastRow(const T* s, UInt8* drow, UInt32 W, UInt32 H, const MyBayerPhase& ph) {
  const UInt32 y = H - 1, up = H - 2;
  const bool red = ph.redRow(y);
  for (UInt32 x = 0; x < W; ++x) {
    const int own = sample(s, W, x, y);
    const UInt32 side = x + 1 < W ? x + 1 : x - 1;  // the neighbour column (W >= 2 here)
    int r, g, b;
    if (ph.green(x, y)) {
      const int along = x == 0 ? sample(s, W, 1, y)
                        : x + 1 == W ? sample(s, W, x - 1, y)
                                     : (sample(s, W, x - 1, y) + sample(s, W, x + 1, y)) >> 1;
      const int across = sample(s, W, x, up);
      g = own;
      r = red ? along : across;
      b = red ? across : along;
    } else {
      g = (sample(s, W, x, up) + sample(s, W, side, y)) >> 1;
      const int opposite = sample(s, W, side, up);
      r = red ? own : opposite;
      b = red ? opposite : own;
    }
    put<T>(drow, x, r, g, b);
  }
}

template <class T>
void bilinear(const T* s, UInt8* d, const Code& code, UInt32 dstRowBytes, UInt32 W, UInt32 H) {
  if constexpr (sizeof(T) == 1) {
    (code.otherFamily ? BayerGRBG8_MQ_ARGB32 : BayerRGGB8_MQ_ARGB32)(s, d, dstRowBytes, W, H,
                                                                     code.startRow);
  } else {
    (code.otherFamily ? BayerGRBG16_MQ_RGB48 : BayerRGGB16_MQ_RGB48)(s, d, dstRowBytes, W, H,
                                                                     code.startRow);
  }
  if (H >= 2 && W >= 2)
    lastRow<T>(s, d + size_t(H - 1) * dstRowBytes, W, H, myBayerPhase(code.otherFamily, code.startRow));
}

// The engine's gradient kernels compute, pixel by pixel, what its
// neighbourhood extraction and gradient demosaic give for each position
// (myEX8PixArrs / myEX16PixArrs, then myGRDPixArrs with the pixel's green-site
// and red-row flags), a whole row at a time.
template <class T>
void gradient(const T* s, UInt8* d, const Code& code, UInt32 dstRowBytes, UInt32 W, UInt32 H) {
  if constexpr (sizeof(T) == 1) {
    (code.otherFamily ? BayerGRBG8_HQ_ARGB32 : BayerRGGB8_HQ_ARGB32)(s, d, dstRowBytes, W, H,
                                                                     code.startRow);
  } else {
    (code.otherFamily ? BayerGRBG16_HQ_RGB48 : BayerRGGB16_HQ_RGB48)(s, d, dstRowBytes, W, H,
                                                                     code.startRow);
  }
}

}  // namespace

void Bayer_DecodetoRGB_8or16Buffer(const void* src, void* dst, UInt32 bayerCode, UInt32 depth,
                                   UInt8 quality, UInt32 dstRowBytes, UInt32 width,
                                   UInt32 height) {
  if (src == nullptr || dst == nullptr || width == 0 || height == 0 || width > 0x7FFFFFFF ||
      height > 0x7FFFFFFF)
    return;
  const Code code = codeOf(bayerCode);
  UInt8* d = static_cast<UInt8*>(dst);
  if (depth == 1) {
    const auto* s = static_cast<const UInt8*>(src);
    if (quality == 0) bilinear(s, d, code, dstRowBytes, width, height);
    else gradient(s, d, code, dstRowBytes, width, height);
  } else {
    const auto* s = static_cast<const UInt16*>(src);
    if (quality == 0) bilinear(s, d, code, dstRowBytes, width, height);
    else gradient(s, d, code, dstRowBytes, width, height);
  }
}
