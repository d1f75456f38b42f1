// The align workers' raw-frame decoder: flat colours come back exactly for
// every pattern code, quality and depth; unknown codes decode as 'BGGR'; the
// bilinear borders on a hand-computed 4 x 4 mosaic; and the gradient path
// places its colour sites as the demosaic engine does.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "media/BayerDemosaic.h"
#include "tav/BayerDecode.h"

namespace {

const UInt32 kCodes[] = {FOUR_CHAR_CODE("RGGB"), FOUR_CHAR_CODE("GBRG"), FOUR_CHAR_CODE("GRBG"),
                         FOUR_CHAR_CODE("BGGR")};

// Which colour (0 R, 1 G, 2 B) sample (x, y) holds under a code, written out
// from the layouts rather than from the decoder's phase rule.
int siteColour(UInt32 code, UInt32 x, UInt32 y) {
  const char* rows[2];
  switch (code) {
    case FOUR_CHAR_CODE("RGGB"): rows[0] = "RG", rows[1] = "GB"; break;
    case FOUR_CHAR_CODE("GBRG"): rows[0] = "GB", rows[1] = "RG"; break;
    case FOUR_CHAR_CODE("GRBG"): rows[0] = "GR", rows[1] = "BG"; break;
    default: rows[0] = "BG", rows[1] = "GR"; break;
  }
  const char c = rows[y & 1][x & 1];
  return c == 'R' ? 0 : (c == 'G' ? 1 : 2);
}

TEST(BayerDecoder, FlatColourComesBackForEveryCodeQualityAndDepth) {
  const UInt32 W = 13, H = 10;  // odd width: the phase must not drift along rows
  const int colour[3] = {200, 100, 50};
  for (UInt32 code : kCodes)
    for (UInt8 quality : {0, 1})
      for (UInt32 depth : {1u, 2u}) {
        SCOPED_TRACE(testing::Message() << std::hex << code << " q" << int(quality) << " d" << depth);
        const UInt32 scale = depth == 1 ? 1 : 257;
        std::vector<UInt8> src8(W * H);
        std::vector<UInt16> src16(W * H);
        for (UInt32 y = 0; y < H; ++y)
          for (UInt32 x = 0; x < W; ++x) {
            const int v = colour[siteColour(code, x, y)];
            src8[y * W + x] = UInt8(v);
            src16[y * W + x] = UInt16(v * scale);
          }
        const UInt32 bpp = depth == 1 ? 4 : 6, rowBytes = bpp * W + 8;
        std::vector<UInt8> dst(size_t(rowBytes) * H, 0);
        Bayer_DecodetoRGB_8or16Buffer(depth == 1 ? static_cast<const void*>(src8.data()) : src16.data(),
                                      dst.data(), code, depth, quality, rowBytes, W, H);
        for (UInt32 y = 0; y < H; ++y)
          for (UInt32 x = 0; x < W; ++x) {
            const UInt8* px = dst.data() + size_t(y) * rowBytes + size_t(x) * bpp;
            if (depth == 1) {
              ASSERT_EQ(px[0], 255) << x << "," << y;
              ASSERT_EQ(px[1], 200) << x << "," << y;
              ASSERT_EQ(px[2], 100) << x << "," << y;
              ASSERT_EQ(px[3], 50) << x << "," << y;
            } else {
              UInt16 v[3];
              std::memcpy(v, px, 6);
              ASSERT_EQ(v[0], 200 * 257) << x << "," << y;
              ASSERT_EQ(v[1], 100 * 257) << x << "," << y;
              ASSERT_EQ(v[2], 50 * 257) << x << "," << y;
            }
          }
      }
}

TEST(BayerDecoder, UnknownCodesDecodeAsBGGR) {
  const UInt32 W = 17, H = 9;
  std::mt19937 rng(7);
  std::vector<UInt16> src16(W * H);
  std::vector<UInt8> src8(W * H);
  for (UInt32 i = 0; i < W * H; ++i) {
    src16[i] = UInt16(rng());
    src8[i] = UInt8(rng());
  }
  for (UInt32 unknown : {0u, FOUR_CHAR_CODE("XXXX")})
    for (UInt8 quality : {0, 3})
      for (UInt32 depth : {1u, 2u}) {
        const UInt32 rowBytes = (depth == 1 ? 4 : 6) * W;
        std::vector<UInt8> a(size_t(rowBytes) * H), b(a.size());
        const void* src = depth == 1 ? static_cast<const void*>(src8.data()) : src16.data();
        Bayer_DecodetoRGB_8or16Buffer(src, a.data(), unknown, depth, quality, rowBytes, W, H);
        Bayer_DecodetoRGB_8or16Buffer(src, b.data(), FOUR_CHAR_CODE("BGGR"), depth, quality, rowBytes,
                                      W, H);
        EXPECT_EQ(a, b) << unknown << " q" << int(quality) << " d" << depth;
      }
}

TEST(BayerDecoder, BilinearBordersOfA4x4Mosaic) {
  // 'RGGB': rows R G R G / G B G B / R G R G / G B G B.
  const UInt8 src[16] = {12, 40, 7, 90,  //
                         33, 5, 61, 20,  //
                         80, 14, 3, 55,  //
                         9, 70, 26, 44};
  std::vector<UInt8> dst(16 * 4);
  Bayer_DecodetoRGB_8or16Buffer(src, dst.data(), FOUR_CHAR_CODE("RGGB"), 1, 0, 16, 4, 4);
  struct Px {
    UInt32 x, y;
    int r, g, b;
  } want[] = {
      // Row 0 takes row 1 above and below.
      {0, 0, 12, 35, 5},   // G (33 + 40 + 33) / 3, B from the two diagonals that exist
      {1, 0, 9, 40, 5},    // R (12 + 7) / 2, B (5 + 5) / 2
      {2, 0, 7, 63, 12},   // G (40 + 90 + 61 + 61) / 4, B (5 + 20 + 5 + 20) / 4
      {3, 0, 7, 90, 20},   // R from its one neighbour
      // Edge columns.
      {0, 1, 46, 33, 5},   // R (12 + 80) / 2, B the one neighbour
      {0, 2, 80, 18, 37},  // G (33 + 14 + 9) / 3, B (5 + 70) / 2
      {3, 1, 5, 68, 20},   // G (90 + 61 + 55) / 3, R (7 + 3) / 2
      {3, 2, 3, 55, 32},   // B (20 + 44) / 2
      // Inside.
      {1, 1, 25, 37, 5},  // G (33 + 61 + 40 + 14) / 4, R (12 + 7 + 80 + 3) / 4
      // The last row from itself and the row above.
      {0, 3, 80, 9, 70},  // R above, B the one neighbour
      {1, 3, 3, 20, 70},  // G (14 above + 26 right) / 2, R above right
      {2, 3, 3, 26, 57},  // R above, B (70 + 44) / 2
      {3, 3, 3, 40, 44},  // G (55 above + 26 left) / 2, R above left
  };
  for (const Px& w : want) {
    const UInt8* px = &dst[w.y * 16 + w.x * 4];
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[1], w.r) << w.x << "," << w.y;
    EXPECT_EQ(px[2], w.g) << w.x << "," << w.y;
    EXPECT_EQ(px[3], w.b) << w.x << "," << w.y;
  }
}

TEST(BayerDecoder, GradientPathIsTheEnginesPixelDemosaicAtEveryPosition) {
  // Every output pixel is the engine's neighbourhood extraction and gradient
  // demosaic for that position, with the green-site and red-row flags taken
  // from the code's layout (odd width: the phase must not drift).
  const UInt32 W = 23, H = 14;
  std::mt19937 rng(11);
  std::vector<UInt8> src8(W * H);
  std::vector<UInt16> src16(W * H);
  for (UInt32 i = 0; i < W * H; ++i) {
    src8[i] = UInt8(rng());
    src16[i] = UInt16(rng());
  }
  for (UInt32 code : kCodes)
    for (UInt32 depth : {1u, 2u}) {
      const UInt32 bpp = depth == 1 ? 4 : 6;
      std::vector<UInt8> got(bpp * W * H);
      const void* src = depth == 1 ? static_cast<const void*>(src8.data()) : src16.data();
      Bayer_DecodetoRGB_8or16Buffer(src, got.data(), code, depth, 1, bpp * W, W, H);
      for (UInt32 y = 0; y < H; ++y)
        for (UInt32 x = 0; x < W; ++x) {
          UInt16 window[25], r, g, b;
          ASSERT_EQ(depth == 1 ? myEX8PixArrs(src, W, H, x, y, window)
                               : myEX16PixArrs(src, W, H, x, y, window),
                    0);
          // The red row is the row holding red samples.
          const bool redRow = siteColour(code, 0, y) == 0 || siteColour(code, 1, y) == 0;
          myGRDPixArrs(window, siteColour(code, x, y) == 1, redRow, depth == 1 ? 255 : 65535, &r, &g,
                       &b);
          const UInt8* px = &got[(size_t(y) * W + x) * bpp];
          UInt16 v[3];
          if (depth == 1) {
            EXPECT_EQ(px[0], 255);
            v[0] = px[1], v[1] = px[2], v[2] = px[3];
          } else {
            std::memcpy(v, px, 6);
          }
          ASSERT_EQ(v[0], r) << std::hex << code << std::dec << " d" << depth << " " << x << "," << y;
          ASSERT_EQ(v[1], g) << std::hex << code << std::dec << " d" << depth << " " << x << "," << y;
          ASSERT_EQ(v[2], b) << std::hex << code << std::dec << " d" << depth << " " << x << "," << y;
        }
    }
}

}  // namespace
