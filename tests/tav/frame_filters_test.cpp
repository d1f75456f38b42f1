// The align workers' colour filters on small hand-computed frames. Rows are
// padded beyond the pixels so a filter that ignores the row bytes shows.
#include <gtest/gtest.h>

#include <vector>

#include "tav/FrameFilters.h"

namespace {

struct Frame8 {  // ARGB32
  UInt32 w, h, rb;
  std::vector<UInt8> px;
  Frame8(UInt32 w_, UInt32 h_, UInt8 v, UInt8 alpha = 255)
      : w(w_), h(h_), rb(4 * w_ + 8), px(size_t(rb) * h_, 0xEE) {
    for (UInt32 y = 0; y < h; ++y)
      for (UInt32 x = 0; x < w; ++x) {
        at(x, y, 0) = alpha;
        for (int c = 1; c <= 3; ++c) at(x, y, c) = v;
      }
  }
  UInt8& at(UInt32 x, UInt32 y, int c) { return px[size_t(y) * rb + 4 * x + c]; }
  void setRGB(UInt32 x, UInt32 y, UInt8 v) {
    for (int c = 1; c <= 3; ++c) at(x, y, c) = v;
  }
  UInt8* data() { return px.data(); }
};

struct Frame16 {  // RGB48
  UInt32 w, h, rb;
  std::vector<UInt16> px;
  Frame16(UInt32 w_, UInt32 h_, UInt16 v)
      : w(w_), h(h_), rb(6 * w_ + 4), px(size_t(rb / 2) * h_, 0xEEEE) {
    for (UInt32 y = 0; y < h; ++y)
      for (UInt32 x = 0; x < w; ++x) setRGB(x, y, v);
  }
  UInt16& at(UInt32 x, UInt32 y, int c) { return px[size_t(y) * (rb / 2) + 3 * x + c]; }
  void setRGB(UInt32 x, UInt32 y, UInt16 v) {
    for (int c = 0; c < 3; ++c) at(x, y, c) = v;
  }
  UInt16* data() { return px.data(); }
};

// ---- iterative background cut ----

TEST(BackgroundCut, SmallBlockOnAFlatSky) {
  // 96 pixels of 10 and a 2 x 2 block of 200: mean 5280 / 300 = 17; the 288
  // samples below it average 10, the next pass finds none below 10 (not above
  // the minimum count of 30), so the cut is 10.
  for (UInt32 passes : {20u, 0u}) {
    Frame8 f(10, 10, 10, 7);
    for (UInt32 y = 4; y < 6; ++y)
      for (UInt32 x = 4; x < 6; ++x) f.setRGB(x, y, 200);
    myIterativelyChangeAverageCutPixelARGB32(f.data(), f.w, f.h, f.rb, passes);
    const UInt8 cut = passes == 0 ? 17 : 10;  // no pass: the mean stays the cut
    for (int c = 1; c <= 3; ++c) {
      EXPECT_EQ(f.at(0, 0, c), 0);
      EXPECT_EQ(f.at(4, 5, c), 200 - cut);
    }
    EXPECT_EQ(f.at(4, 5, 0), 7);  // alpha stays
  }
  Frame16 g(10, 10, 1000);  // the same in 16 bits: mean 1760, then 1000
  for (UInt32 y = 4; y < 6; ++y)
    for (UInt32 x = 4; x < 6; ++x) g.setRGB(x, y, 20000);
  myIterativelyChangeAverageCutPixelRGB48(g.data(), g.w, g.h, g.rb, 20);
  EXPECT_EQ(g.at(0, 0, 1), 0);
  EXPECT_EQ(g.at(5, 5, 2), 19000);
}

TEST(BackgroundCut, FlatFrameBecomesZero) {
  Frame8 f(12, 9, 77);
  myIterativelyChangeAverageCutPixelARGB32(f.data(), f.w, f.h, f.rb, 20);
  Frame16 g(12, 9, 30000);
  myIterativelyChangeAverageCutPixelRGB48(g.data(), g.w, g.h, g.rb, 20);
  for (UInt32 y = 0; y < 9; ++y)
    for (UInt32 x = 0; x < 12; ++x)
      for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(f.at(x, y, c + 1), 0);
        ASSERT_EQ(g.at(x, y, c), 0);
      }
  EXPECT_EQ(f.px[4 * 12], 0xEE);  // the row padding is not touched
}

// ---- hot pixels ----

TEST(HotPixels, IsolatedReplacedNeighbouredKeptEdgesUntouched) {
  Frame8 f(7, 5, 100);
  f.at(2, 2, 1) = 200;  // isolated in red: becomes the neighbours' mean
  f.at(4, 2, 2) = 200;  // green, with one neighbour of 190: kept
  f.at(5, 2, 2) = 190;
  f.at(3, 0, 3) = 200;  // blue on the top row: untouched
  myDoARGB32HotPixel8Bit(f.data(), f.w, f.h, f.rb, 20);
  EXPECT_EQ(f.at(2, 2, 1), 100);
  EXPECT_EQ(f.at(4, 2, 2), 200);
  EXPECT_EQ(f.at(5, 2, 2), 190);
  EXPECT_EQ(f.at(3, 0, 3), 200);
  EXPECT_EQ(f.at(2, 2, 2), 100);  // other channels of the replaced pixel as they were
}

// ---- Gaussian blurs ----

TEST(GaussianBlur, ThreeByThreeImpulseAndEdges) {
  Frame8 src(5, 5, 0, 9);
  src.setRGB(2, 2, 160);
  src.setRGB(0, 4, 50);  // an edge pixel: copied as it is
  Frame8 dst(5, 5, 1, 1);
  my3by3GaussianBlurARGB32(src.data(), dst.data(), 5, 5, src.rb);
  for (int c = 1; c <= 3; ++c) {
    EXPECT_EQ(dst.at(2, 2, c), 40);
    EXPECT_EQ(dst.at(1, 2, c), 20);
    EXPECT_EQ(dst.at(2, 3, c), 20);
    EXPECT_EQ(dst.at(1, 1, c), 10);
    EXPECT_EQ(dst.at(3, 3, c), 10);
    EXPECT_EQ(dst.at(0, 4, c), 50);
  }
  EXPECT_EQ(dst.at(2, 2, 0), 255);  // computed pixels are opaque
  EXPECT_EQ(dst.at(0, 2, 0), 9);    // copied pixels keep theirs
  EXPECT_EQ(dst.at(2, 0, 0), 9);

  Frame16 s16(5, 5, 0), d16(5, 5, 1);
  s16.setRGB(2, 2, 65535);
  s16.setRGB(1, 2, 65535);
  s16.setRGB(3, 2, 65535);
  s16.setRGB(0, 2, 65535);
  my3by3GaussianBlurRGB48(s16.data(), d16.data(), 5, 5, s16.rb);
  EXPECT_EQ(d16.at(2, 2, 0), (65535u * 8) >> 4);
  EXPECT_EQ(d16.at(2, 1, 1), (65535u * 4) >> 4);
  EXPECT_EQ(d16.at(1, 2, 1), (65535u * 8) >> 4);
  EXPECT_EQ(d16.at(0, 2, 2), 65535);  // edge copied
}

TEST(GaussianBlur, FiveByFiveImpulseAndCopiedBorders) {
  // 8 x 8: rows 2 to 4 and columns 2 to 5 are computed, the rest copied.
  Frame8 src(8, 8, 0, 9);
  src.setRGB(3, 3, 64);
  Frame8 dst(8, 8, 1, 1);
  my5by5GaussianBlurARGB32(src.data(), dst.data(), 8, 8, src.rb);
  for (int c = 1; c <= 3; ++c) {
    EXPECT_EQ(dst.at(3, 3, c), 8);
    EXPECT_EQ(dst.at(3, 4, c), 8);
    EXPECT_EQ(dst.at(4, 4, c), 2);
    EXPECT_EQ(dst.at(5, 3, c), 2);
    EXPECT_EQ(dst.at(3, 2, c), 8);
    EXPECT_EQ(dst.at(3, 5, c), 0);  // the third row from the bottom is copied
    EXPECT_EQ(dst.at(3, 1, c), 0);
    EXPECT_EQ(dst.at(1, 3, c), 0);  // the second column is copied
  }
  EXPECT_EQ(dst.at(3, 3, 0), 255);
  EXPECT_EQ(dst.at(1, 3, 0), 9);

  Frame16 s16(8, 8, 65535), d16(8, 8, 1);
  my5by5GaussianBlurRGB48(s16.data(), d16.data(), 8, 8, s16.rb);
  EXPECT_EQ(d16.at(4, 3, 1), 65535);  // a full sum of 64 x 65535 stays in range
}

// ---- unsharp mask ----

struct SharpenCase {
  double amount;
  UInt32 threshold;
  UInt8 smoothing;
  UInt8 src, blur;
  UInt8 red, green;  // expected ARGB32 results
  UInt16 red16, green16;  // expected RGB48 results for the same samples
};

TEST(Sharpen, ModesAndTheGreenThreshold) {
  const SharpenCase cases[] = {
      // |d| == threshold, smoothing off: ARGB green sharpens, red and RGB48 do not
      {1.0, 20, 0, 120, 100, 120, 140, 120, 120},
      // smoothing on: not above the threshold gives the blurred sample
      {1.0, 20, 1, 120, 100, 100, 100, 100, 100},
      {1.0, 19, 1, 120, 100, 140, 140, 140, 140},
      // a threshold above every difference: identity off, blurred on
      {2.0, 250, 0, 120, 100, 120, 120, 120, 120},
      // threshold 0: ARGB trunc(s + a d), RGB48 s + trunc(a d): 120 - 1.5
      {0.5, 0, 0, 120, 123, 118, 118, 119, 119},
      // clamped at the top and bottom
      {4.0, 0, 0, 200, 100, 255, 255, 600, 600},
      {4.0, 0, 0, 10, 100, 0, 0, 0, 0},
  };
  for (const SharpenCase& k : cases) {
    Frame8 s(3, 2, k.src, 3), b(3, 2, k.blur), d(3, 2, 0, 0);
    mySharpenFilterThresholdARGB32(s.data(), b.data(), d.data(), 3, 2, s.rb, k.amount, k.threshold,
                                   k.smoothing);
    EXPECT_EQ(d.at(1, 1, 1), k.red) << k.amount << " " << k.threshold << " " << int(k.smoothing);
    EXPECT_EQ(d.at(1, 1, 2), k.green) << k.amount << " " << k.threshold;
    EXPECT_EQ(d.at(1, 1, 3), k.red);
    EXPECT_EQ(d.at(2, 0, 0), 255);
    Frame16 s16(3, 2, k.src), b16(3, 2, k.blur), d16(3, 2, 0);
    mySharpenFilterThresholdRGB48(s16.data(), b16.data(), d16.data(), 3, 2, s16.rb, k.amount,
                                  k.threshold, k.smoothing);
    EXPECT_EQ(d16.at(0, 1, 0), k.red16) << k.amount << " " << k.threshold;
    EXPECT_EQ(d16.at(0, 1, 1), k.green16);
  }
  Frame8 inPlace(3, 2, 120, 3), blur(3, 2, 100);  // the destination may be the source
  mySharpenFilterThresholdARGB32(inPlace.data(), blur.data(), inPlace.data(), 3, 2, inPlace.rb, 1.0,
                                 20, 0);
  EXPECT_EQ(inPlace.at(2, 1, 1), 120);
  EXPECT_EQ(inPlace.at(2, 1, 2), 140);
  EXPECT_EQ(inPlace.at(2, 1, 0), 255);
  Frame16 s16(1, 1, 60000), b16(1, 1, 20000), d16(1, 1, 0);
  mySharpenFilterThresholdRGB48(s16.data(), b16.data(), d16.data(), 1, 1, s16.rb, 1.0, 0, 0);
  EXPECT_EQ(d16.at(0, 0, 2), 65535);
}

// ---- 2 x 2 binning ----

TEST(Bin2x2, SumsLevelsSaturationAndTheLastRowAndColumn) {
  Frame8 f(2, 2, 100, 5);
  myBin2x2ARGB32(f.data(), 2, 2, f.rb, 0);
  EXPECT_EQ(f.at(0, 0, 1), 255);
  EXPECT_EQ(f.at(0, 0, 0), 5);  // alpha as it was
  Frame8 g(2, 2, 60);
  myBin2x2ARGB32(g.data(), 2, 2, g.rb, 30);
  for (UInt32 y = 0; y < 2; ++y)
    for (UInt32 x = 0; x < 2; ++x) EXPECT_EQ(g.at(x, y, 2), 120);

  // 3 x 3 of 1..9: each block read before the pixel is written.
  Frame16 h(3, 3, 0);
  for (UInt32 y = 0; y < 3; ++y)
    for (UInt32 x = 0; x < 3; ++x) h.at(x, y, 1) = UInt16(3 * y + x + 1);
  myBin2x2RGB48(h.data(), 3, 3, h.rb, 0);
  const UInt16 want[3][3] = {{12, 16, 16}, {24, 28, 28}, {24, 28, 28}};
  for (UInt32 y = 0; y < 3; ++y)
    for (UInt32 x = 0; x < 3; ++x) EXPECT_EQ(h.at(x, y, 1), want[y][x]) << x << "," << y;
  Frame16 s(2, 2, 20000);
  myBin2x2RGB48(s.data(), 2, 2, s.rb, 0);
  EXPECT_EQ(s.at(0, 0, 0), 65535);
  Frame16 n(2, 2, 10);
  myBin2x2RGB48(n.data(), 2, 2, n.rb, 100);
  EXPECT_EQ(n.at(1, 1, 2), 0);
}

// ---- background floor ----

TEST(BackgroundFloor, SmallFrameUnchanged) {
  Frame8 f(16, 16, 0);
  for (UInt32 y = 0; y < 16; ++y)
    for (UInt32 x = 0; x < 16; ++x) f.setRGB(x, y, UInt8(x * 13 + y * 7));
  const std::vector<UInt8> before = f.px;
  myLevelARGB32(f.data(), f.data(), 16, 16, f.rb, 0.5f);
  EXPECT_EQ(f.px, before);
}

TEST(BackgroundFloor, DarkSkyWithABrightBlockLiftsOnlyFloorSamples) {
  // 64 x 64: windows start at 0, 0, 16, 32 each way. Sky: a checkerboard of
  // 10 and 12 (window mean 11, counted); block of 200 at 40..47: the four
  // windows holding it have mean 23 < 10 + 19 and are not counted. Floor =
  // 10 + 0.5 x (12 - 10) = 11: the 10s become 11, nothing else changes.
  // 72 wide has the same windows (the last moved back to 32), off the
  // 16-pixel grid; its last 8 columns are lifted by the same floor.
  for (UInt32 w : {64u, 72u}) {
    Frame8 f(w, 64, 0, 4);
    Frame16 g(w, 64, 0);
    for (UInt32 y = 0; y < 64; ++y)
      for (UInt32 x = 0; x < w; ++x) {
        const bool block = x >= 40 && x < 48 && y >= 40 && y < 48;
        const bool low = (x + y) % 2 == 0;
        f.setRGB(x, y, block ? 200 : low ? 10 : 12);
        g.setRGB(x, y, block ? 20000 : low ? 1000 : 1200);
      }
    myLevelARGB32(f.data(), f.data(), w, 64, f.rb, 0.5f);
    // Into a separate destination: only the lifted samples are written.
    Frame16 out(w, 64, 7);
    myLevelRGB48(g.data(), out.data(), w, 64, g.rb, 0.5f);
    for (UInt32 y = 0; y < 64; ++y)
      for (UInt32 x = 0; x < w; ++x) {
        const bool block = x >= 40 && x < 48 && y >= 40 && y < 48;
        const bool low = (x + y) % 2 == 0;
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ(f.at(x, y, c + 1), block ? 200 : low ? 11 : 12) << x << "," << y;
          ASSERT_EQ(out.at(x, y, c), low && !block ? 1100 : 7) << x << "," << y;
        }
        ASSERT_EQ(f.at(x, y, 0), 4);
      }
  }
}

}  // namespace
