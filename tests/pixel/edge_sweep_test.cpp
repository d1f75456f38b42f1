// Every measuring routine with centres and boxes swept over and past every
// edge of exactly sized buffers: under the address sanitizer any read outside
// the frame fails the run. The results themselves are checked elsewhere; here
// only the refusals that the edges imply are.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "pixel/BlockMatch.h"
#include "pixel/Centroids.h"
#include "pixel/StarProfile.h"

namespace {
std::vector<UInt8> noise8(size_t n, UInt32 seed) {
  std::vector<UInt8> v(n);
  for (auto& p : v) {
    seed = seed * 1103515245u + 12345u;
    p = UInt8(seed >> 23);
  }
  return v;
}
}  // namespace

TEST(EdgeSweep, FwhmCentresOverTheWholeFrame) {
  const UInt32 W = 13, H = 11;
  const std::vector<UInt8> f = noise8(W * H, 1);
  for (double y = -2.0; y <= H + 1.0; y += 0.25)
    for (double x = -2.0; x <= W + 1.0; x += 0.25) {
      double fwhm;
      UInt32 half;
      const SInt32 r = myCalcFWHM8BitMono(f.data(), W, W, H, x, y, 0, &fwhm, &half);
      const long xr = std::lround(x), yr = std::lround(y);
      if (xr < 1 || yr < 1 || xr > long(W) - 2 || yr > long(H) - 2) {
        ASSERT_EQ(r, -1) << x << "," << y;
      }
    }
}

TEST(EdgeSweep, BlockExtractAndCompareAroundTheFrame) {
  const UInt32 W = 131, H = 129;
  const std::vector<UInt8> f = noise8(W * H, 2);
  std::vector<UInt8> block(32 * 32);
  for (float y = -3.0f; y <= H + 3.0f; y += 0.5f)
    for (float x = -3.0f; x <= W + 3.0f; x += 0.5f) {
      const SInt32 e = myExtract32BlockPixels(f.data(), block.data(), W, H, W, 1, 0.0, x, y);
      const bool inside = x >= 16 && x + 16 <= W && y >= 16 && y + 16 <= H;
      ASSERT_EQ(e, inside ? 0 : -1) << x << "," << y;
    }
  for (float y = -1.0f; y <= H + 1.0f; y += 1.0f)
    for (float x = -1.0f; x <= W + 1.0f; x += 1.0f) {
      float bx, by;
      const SInt32 r = myCompare32BlockPixels(block.data(), f.data(), W, H, W, 1, 0, 0, 1000.0f, x, y,
                                              &bx, &by);
      const bool inside = x >= 64 && x + 64 <= W && y >= 64 && y + 64 <= H;
      if (!inside) {
        ASSERT_EQ(r, -1) << x << "," << y;
      } else {
        ASSERT_NE(r, -1) << x << "," << y;
      }
    }
}

TEST(EdgeSweep, GradientSearchFromEveryPoint) {
  for (UInt32 side : {30u, 70u, 101u}) {
    const std::vector<UInt8> f = noise8(size_t(side) * (side + 3), side);
    for (SInt32 mode : {0, 1})
      for (SInt32 d : {1, 3, 8})
        for (float y = -70.0f; y <= side + 70.0f; y += 7.0f)
          for (float x = -70.0f; x <= side + 70.0f; x += 7.0f) {
            SInt32 dx, dy;
            findMaxMono8Gradient(f.data(), side, side + 3, side, d, mode, x, y, &dx, &dy);
            // A step found lies inside the frame.
            if (dx != 0 || dy != 0) {
              const SInt64 px = SInt64(std::floor(x)) + dx, py = SInt64(std::floor(y)) + dy;
              ASSERT_TRUE(px >= 0 && px < SInt64(side) && py >= 0 && py < SInt64(side + 3))
                  << "side " << side << " mode " << mode << " d " << d << " at " << x << "," << y;
            }
          }
  }
}

TEST(EdgeSweep, CentroidRectanglesAtEveryCorner) {
  const UInt32 W = 37, H = 29;
  const std::vector<UInt8> f8 = noise8(W * H, 3);
  for (UInt32 w : {1u, 2u, 3u, 8u})
    for (UInt32 h : {1u, 2u, 8u})
      for (UInt32 y : {0u, H - h})
        for (UInt32 x : {0u, W - w}) {
          float cx, cy;
          UInt32 level;
          myCalcRectCentroid(f8.data(), x, y, w, h, W, 0, &cx, &cy);
          ASSERT_GE(cx, float(x));
          ASSERT_LE(cx, float(x + w - 1));
          myCalculateImageSubCentroidClipped(f8.data(), x, y, w, h, W, 100, &cx, &cy);
          myCalRectImageDeltaCentroid(f8.data(), x, y, w, h, W, 0, 1, &cx, &cy);
          myCalcRectRange(f8.data(), x, y, w, h, W, &level);
          myCalcImageSubCentroid(f8.data() + size_t(y) * W + x, w, h, W, 100, 0, 0, &cx, &cy);
        }
  // 16-bit: bright corners pull the re-centred box out of the image on every
  // side; rows of an odd byte stride are not 2-byte aligned.
  for (UInt32 rowBytes : {2 * W, 2 * W + 1}) {
    std::vector<UInt8> bytes(size_t(rowBytes) * (H - 1) + 2 * W);
    std::vector<UInt8> n = noise8(bytes.size(), 4);
    for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = UInt8(n[k] & 0x07);  // dim sky
    std::vector<UInt16> storage((bytes.size() + 1) / 2);
    for (UInt32 box : {4u, 8u, 16u})
      for (UInt32 y : {0u, H - box})
        for (UInt32 x : {0u, W - box}) {
          std::vector<UInt8> img = bytes;
          // A bright pixel in the rectangle's outer corner.
          const UInt32 sx = x == 0 ? 0 : W - 1, sy = y == 0 ? 0 : H - 1;
          const UInt16 bright = 60000;
          std::memcpy(&img[size_t(sy) * rowBytes + 2 * sx], &bright, 2);
          std::memcpy(storage.data(), img.data(), img.size());
          float cx, cy;
          UInt32 background;
          myCalculateImageSubCentroidClipped16Bit(storage.data(), x, y, box, box, rowBytes, &cx,
                                                  &cy, &background, W, H);
          ASSERT_EQ(cx, float(sx)) << rowBytes << " " << box << " " << x << "," << y;
          ASSERT_EQ(cy, float(sy));
        }
  }
}
